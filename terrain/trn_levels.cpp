#include "trn_levels.h"

#include <fcntl.h>
#include <unistd.h>
#include <xmmintrin.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "passbuffer.h"
#include "regionwalk.h"
#include "tilefile.h"
#include "tilegrid.h"
#include "tilenames.h"
#include "trn_error.h"
#include "trn_post_walk.h"

const LevelStrides LevelTable[kLevelCount] = {
    {128, 4096}, {64, 2048}, {32, 1024}, {16, 512}, {8, 256}, {4, 128},
};

namespace {

constexpr const char* kModule = "trn_levels";

// Working state shared with trn_levels_write: the tile being written, the open level file
// and its name, and the buffer that gathers a level's kept posts.
uint8_t* CurrentTile = nullptr;
uint8_t* KeptPosts = nullptr;
int LevelFd = -1;
std::string LevelName;

// kFailed: reported failures other than an open (a read, a write, a close, a buffer that cannot
// be had).
enum class Outcome { kDone, kOpenFailed, kFailed };

// The tile's header, posts and trailer into `tile`, one after another; a part that the file
// does not fill is zero, as in a fresh zero-filled buffer. A tile that cannot be opened is reported
// with "Write failed" (kOpenFailed); one that cannot be read (a directory, a failing disk) by the
// failure convention, code 6, rather than taken for a tile of zeroes (kFailed).
Outcome ReadTile(const std::string& name, uint8_t* tile) {
  const int fd = open(name.c_str(), O_RDONLY);
  if (fd < 0) {
    std::perror("Write failed");  // the system's words for this open, reading included
    return Outcome::kOpenFailed;
  }
  const bool read = ReadAt(fd, tile, kHeaderBytes, 0) &&
                    ReadAt(fd, tile + kHeaderBytes, kPostBytes, kHeaderBytes) &&
                    ReadAt(fd, tile + kTrailerOffset, kTrailerBytes, kTrailerOffset);
  const int error = errno;
  close(fd);
  if (!read) {
    errno = error;
    trn_fail(kModule, kErrorRead, name.c_str());
    return Outcome::kFailed;
  }
  return Outcome::kDone;
}

// Writes `size` bytes of the current tile at `offset` of the level file. A write that fails or
// stops short (a full disk) is reported with the level file's name, by `system_line` (the
// system's message after that prefix) and code 5.
bool WriteLevelBytes(const uint8_t* data, uint32_t size, uint32_t offset, const char* system_line) {
  if (WriteAt(LevelFd, data, size, offset)) return true;
  std::perror(system_line);
  trn_error(kErrorWrite, kModule, LevelName.c_str(), "");
  return false;
}

// The posts kept at level k, written after the header, and their line; false after a reported
// failure.
bool WriteKeptPosts(int k) {
  const LevelStrides s = LevelTable[k];
  const uint8_t* posts = CurrentTile + kHeaderBytes;
  // Every post kept (level 5): the posts area as it stands.
  const uint8_t* out = posts;
  uint32_t size = kPostBytes;
  if (s.post != kPostSize) {
    // The kept posts are gathered into one buffer and written together, not one write per
    // post. The posts at c = g S2 + j S1 with j S1 < 128 are those with c mod S1 = 0 and
    // c mod S2 < 128, in the order of c.
    uint8_t* end = KeptPosts;
    if (s.post == 2 * kPostSize) {
      // Every second post of a row, the most posts to gather: posts 0 and 2 of each four taken
      // in pairs of fours, the bytes moved as they are.
      for (uint32_t group = 0; group < kPostBytes; group += s.row_group) {
        for (uint32_t c = group; c < group + kBlockRowBytes; c += 8 * kPostSize, end += 16) {
          const __m128 a = _mm_loadu_ps(reinterpret_cast<const float*>(posts + c));
          const __m128 b = _mm_loadu_ps(reinterpret_cast<const float*>(posts + c + 16));
          _mm_storeu_ps(reinterpret_cast<float*>(end),
                        _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        }
      }
    } else {
      for (uint32_t group = 0; group < kPostBytes; group += s.row_group) {
        for (uint32_t c = group; c < group + kBlockRowBytes; c += s.post, end += kPostSize) {
          std::memcpy(end, posts + c, kPostSize);
        }
      }
    }
    out = KeptPosts;
    size = static_cast<uint32_t>(end - KeptPosts);
  }
  if (!WriteLevelBytes(out, size, kHeaderBytes, kModule)) return false;
  std::printf("Wrote %u bytes to %s \n", size, LevelName.c_str());
  return true;
}

Outcome WriteLevel(const std::string& tile_name, int k) {
  LevelName = LevelFileName(tile_name, k);
  LevelFd = open(LevelName.c_str(), O_RDWR | O_CREAT, 0644);
  if (LevelFd < 0) {
    std::perror("Write failed");
    return Outcome::kOpenFailed;
  }
  // A level file cut short would be taken for the tile's level: every write that fails or
  // stops short fails the pass, which then stops.
  const uint32_t trailer_at = LevelFileBytes(k) - kTrailerBytes;
  bool written = WriteLevelBytes(CurrentTile, kHeaderBytes, 0, "Write failed");
  if (written) {
    std::printf("Wrote %u bytes to file\n", kHeaderBytes);
    written = WriteKeptPosts(k);
  }
  if (written) {
    written = WriteLevelBytes(CurrentTile + kTrailerOffset, kTrailerBytes, trailer_at, kModule);
  }
  if (written) {
    if (k < kLevelCount - 1) {
      std::printf("Wrote %u bytes to file\n", kTrailerBytes);
    } else {
      std::printf("Wrote %u bytes to %s \n", kTrailerBytes, LevelName.c_str());
    }
  }
  const int closed = close(LevelFd);
  LevelFd = -1;
  if (!written) return Outcome::kFailed;  // already reported, with the file's name
  if (closed != 0) {
    trn_fail(kModule, kErrorClose, LevelName.c_str());
    return Outcome::kFailed;
  }
  return Outcome::kDone;
}

Outcome WriteLevels(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                    double lon4, double lat4) {
  const std::optional<Region> region =
      PassRegion(kModule, lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  if (!region) return Outcome::kFailed;
  Outcome outcome = Outcome::kDone;
  PassBuffer buffer(0, kElevationTileBytes);
  PassBuffer kept_posts(1, kPostBytes);
  WalkRegion(*region, [&](const TileSpan& t) {
    const std::string name = ElevationTileName(t.tx, t.ty);
    uint8_t* tile = buffer.Get(kModule);
    uint8_t* kept = tile != nullptr ? kept_posts.Get(kModule) : nullptr;
    if (kept == nullptr) {
      outcome = Outcome::kFailed;
      return -1;
    }
    outcome = ReadTile(name, tile);
    if (outcome != Outcome::kDone) return -1;
    CurrentTile = tile;
    KeptPosts = kept;
    for (int k = 0; k < kLevelCount && outcome == Outcome::kDone; ++k) {
      outcome = WriteLevel(name, k);
    }
    CurrentTile = nullptr;
    KeptPosts = nullptr;
    return outcome == Outcome::kDone ? 0 : -1;
  });
  return outcome;
}

}  // namespace

void trn_levels_write(int k) {
  if (k < 0 || k >= kLevelCount || CurrentTile == nullptr || KeptPosts == nullptr || LevelFd < 0) {
    return;
  }
  WriteKeptPosts(k);
}

int trn_levels(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
               double lon4, double lat4) {
  return WriteLevels(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4) == Outcome::kDone ? 0 : -1;
}

int trn_levels_exiting(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                       double lon4, double lat4) {
  switch (WriteLevels(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4)) {
    case Outcome::kDone:
      std::exit(0);
    case Outcome::kOpenFailed:
      std::exit(1);
    case Outcome::kFailed:
      break;
  }
  return -1;
}
