#include "trn_levels.h"

#include <xmmintrin.h>

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

const LevelStrides LevelTable[kLevelCount] = {
    {128, 4096}, {64, 2048}, {32, 1024}, {16, 512}, {8, 256}, {4, 128},
};

namespace {

constexpr const char* kModule = "trn_levels";
// The system's words before the system's message for a failed open, reading included, and for
// a failed header write.
constexpr const char* kWriteFailed = "Write failed";

// kFailed: reported failures other than an open (a read, a write, a close, a buffer that cannot
// be had).
enum class Outcome { kDone, kOpenFailed, kFailed };

// One call of the level pass: the tile being written, the level file open for it and the
// buffer that gathers a level's kept posts.
class LevelPass {
 public:
  LevelPass();
  ~LevelPass();
  LevelPass(const LevelPass&) = delete;
  LevelPass& operator=(const LevelPass&) = delete;

  // The call in progress, for trn_levels_write, whose interface names no pass; null outside a
  // call.
  static LevelPass* Current() { return current_; }

  Outcome Run(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
              double lon4, double lat4);

  // Whether a level file of the current tile is open for writing.
  bool Writing() const { return tile_ != nullptr && kept_ != nullptr && level_.is_open(); }

  // The posts kept at level k, written after the header, and their line; false after a
  // reported failure.
  bool WriteKeptPosts(int k);

 private:
  Outcome ReadTile(const std::string& name);
  Outcome WriteLevel(const std::string& tile_name, int k);
  bool WriteLevelBytes(const uint8_t* data, uint32_t size, uint32_t offset,
                       const char* system_line);

  static LevelPass* current_;

  PassBuffer tile_buffer_{0, kElevationTileBytes};
  PassBuffer kept_buffer_{1, kPostBytes};
  uint8_t* tile_ = nullptr;  // the tile being written
  uint8_t* kept_ = nullptr;  // where a level's kept posts are gathered
  TileFile level_;           // the level file being written
};

LevelPass* LevelPass::current_ = nullptr;

LevelPass::LevelPass() { current_ = this; }
LevelPass::~LevelPass() { current_ = nullptr; }

// The tile's header, posts and trailer into the tile buffer, one after another; a part that
// the file does not fill is zero, as in a fresh zero-filled buffer. A tile that cannot be
// opened is reported with "Write failed" and its name (kOpenFailed); one that cannot be read (a
// directory, a failing disk) by the failure convention, rather than taken for a tile of zeroes
// (kFailed).
// The result of the tile's close is not looked at: its posts are in the buffer by then.
Outcome LevelPass::ReadTile(const std::string& name) {
  TileFile file = TileFile::Open(name, TileFile::Access::kRead);
  if (!file.is_open()) {
    trn_fail(kWriteFailed, kModule, kErrorOpen, name.c_str());
    return Outcome::kOpenFailed;
  }
  const bool read = file.ReadAt(kModule, tile_, kHeaderBytes, 0) &&
                    file.ReadAt(kModule, tile_ + kHeaderBytes, kPostBytes, kHeaderBytes) &&
                    file.ReadAt(kModule, tile_ + kTrailerOffset, kTrailerBytes, kTrailerOffset);
  if (!read) return Outcome::kFailed;
  file.TryClose();
  return Outcome::kDone;
}

// Writes `size` bytes of the current tile at `offset` of the level file. A write that fails or
// stops short (a full disk) is reported with the level file's name, by `system_line` (the
// system's message after that prefix) and code 5.
bool LevelPass::WriteLevelBytes(const uint8_t* data, uint32_t size, uint32_t offset,
                                const char* system_line) {
  if (level_.TryWriteAt(data, size, offset)) return true;
  trn_fail(system_line, kModule, kErrorWrite, level_.name().c_str());
  return false;
}

bool LevelPass::WriteKeptPosts(int k) {
  const LevelStrides s = LevelTable[k];
  const uint8_t* posts = tile_ + kHeaderBytes;
  // Every post kept (level 5): the posts area as it stands.
  const uint8_t* out = posts;
  uint32_t size = kPostBytes;
  if (s.post != kPostSize) {
    // The kept posts are gathered into one buffer and written together, not one write per
    // post. The posts at c = g S2 + j S1 with j S1 < 128 are those with c mod S1 = 0 and
    // c mod S2 < 128, in the order of c.
    uint8_t* end = kept_;
    if (s.post == 2 * kPostSize) {
      // Every second post of a row, the most posts to gather: posts 0 and 2 of each four taken
      // in pairs of fours, the bytes moved as they are.
      constexpr uint32_t kPostsPerStep = 8;  // two loads of four posts, one store of four
      for (uint32_t group = 0; group < kPostBytes; group += s.row_group) {
        for (uint32_t c = group; c < group + kBlockRowBytes;
             c += kPostsPerStep * kPostSize, end += kPostsPerStep / 2 * kPostSize) {
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
    out = kept_;
    size = static_cast<uint32_t>(end - kept_);
  }
  if (!WriteLevelBytes(out, size, kHeaderBytes, kModule)) return false;
  std::printf("Wrote %u bytes to %s \n", size, level_.name().c_str());
  return true;
}

Outcome LevelPass::WriteLevel(const std::string& tile_name, int k) {
  level_ = TileFile::Open(LevelFileName(tile_name, k), TileFile::Access::kCreate);
  if (!level_.is_open()) {
    trn_fail(kWriteFailed, kModule, kErrorOpen, level_.name().c_str());
    return Outcome::kOpenFailed;
  }
  // A level file cut short would be taken for the tile's level: every write that fails or
  // stops short fails the pass, which then stops.
  const uint32_t trailer_at = LevelFileBytes(k) - kTrailerBytes;
  bool written = WriteLevelBytes(tile_, kHeaderBytes, 0, kWriteFailed);
  if (written) {
    std::printf("Wrote %u bytes to file\n", kHeaderBytes);
    written = WriteKeptPosts(k);
  }
  if (written) {
    written = WriteLevelBytes(tile_ + kTrailerOffset, kTrailerBytes, trailer_at, kModule);
  }
  if (!written) {
    level_.TryClose();  // the write's failure is the one reported, with the file's name
    return Outcome::kFailed;
  }
  if (k < kLevelCount - 1) {
    std::printf("Wrote %u bytes to file\n", kTrailerBytes);
  } else {
    std::printf("Wrote %u bytes to %s \n", kTrailerBytes, level_.name().c_str());
  }
  return level_.Close(kModule) == 0 ? Outcome::kDone : Outcome::kFailed;
}

Outcome LevelPass::Run(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                       double lon4, double lat4) {
  const std::optional<Region> region =
      PassRegion(kModule, lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  if (!region) return Outcome::kFailed;
  Outcome outcome = Outcome::kDone;
  WalkRegion(*region, [&](const TileSpan& t) {
    const std::string name = ElevationTileName(t.tx, t.ty);
    uint8_t* tile = tile_buffer_.Get(kModule);
    uint8_t* kept = tile != nullptr ? kept_buffer_.Get(kModule) : nullptr;
    if (kept == nullptr) {
      outcome = Outcome::kFailed;
      return -1;
    }
    tile_ = tile;
    outcome = ReadTile(name);
    if (outcome == Outcome::kDone) {
      kept_ = kept;
      for (int k = 0; k < kLevelCount && outcome == Outcome::kDone; ++k) {
        outcome = WriteLevel(name, k);
      }
    }
    tile_ = nullptr;
    kept_ = nullptr;
    return outcome == Outcome::kDone ? 0 : -1;
  });
  return outcome;
}

Outcome WriteLevels(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                    double lon4, double lat4) {
  LevelPass pass;
  return pass.Run(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
}

}  // namespace

void trn_levels_write(int k) {
  LevelPass* pass = LevelPass::Current();
  if (k < 0 || k >= kLevelCount || pass == nullptr || !pass->Writing()) return;
  pass->WriteKeptPosts(k);
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
