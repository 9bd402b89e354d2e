#include "runfiles.h"

#include <dirent.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>

#include "support/PrintableText.h"
#include "tilegrid.h"
#include "tilenames.h"
#include "trn_levels.h"

namespace {

// The files of one tile, in the order a tile's files are listed.
struct TileFileKind {
  unsigned kind;  // its TileFileKinds bit
  int level;      // a level file's level
  const char* role;
  uint64_t bytes;
};

constexpr TileFileKind kTileFileKinds[] = {
    {kElevationTiles, 0, "elevation tile", kElevationTileBytes},
    {kColorTiles, 0, "colour tile", kColorTileBytes},
    {kScratchTiles, 0, "scratch tile", kElevationTileBytes},
    {kLevelFiles, 0, "level file", LevelFileBytes(0)},
    {kLevelFiles, 1, "level file", LevelFileBytes(1)},
    {kLevelFiles, 2, "level file", LevelFileBytes(2)},
    {kLevelFiles, 3, "level file", LevelFileBytes(3)},
    {kLevelFiles, 4, "level file", LevelFileBytes(4)},
    {kLevelFiles, 5, "level file", LevelFileBytes(5)},
};
static_assert(std::size(kTileFileKinds) == 3 + kLevelCount);

std::string TileFileName(const TileFileKind& kind, int tx, int ty) {
  switch (kind.kind) {
    case kColorTiles:
      return ColorTileName(tx, ty);
    case kScratchTiles:
      return ScratchTileName(tx, ty);
    case kLevelFiles:
      return LevelFileName(ElevationTileName(tx, ty), kind.level);
    default:
      return ElevationTileName(tx, ty);
  }
}

// The tile and kind (an index into kTileFileKinds) of a directory entry that is a tile file.
struct TileFileOf {
  int tx = 0, ty = 0;
  size_t kind = 0;
};

// The tile of a name that starts as a tile file's: tiles on the globe have numbers of three
// digits, "%03d_%03d", followed by the kind's suffix. The kind is not yet known.
std::optional<TileFileOf> TileOfName(const std::string& name) {
  if (name.size() < 7 || name[3] != '_') return std::nullopt;
  int numbers[2] = {};
  for (int n = 0; n < 2; ++n) {
    for (int d = 0; d < 3; ++d) {
      const char c = name[static_cast<size_t>(4 * n + d)];
      if (c < '0' || c > '9') return std::nullopt;
      numbers[n] = numbers[n] * 10 + (c - '0');
    }
  }
  return TileFileOf{numbers[0], numbers[1]};
}

// Whether `name` is one of the files of tile `of`, and which: its kind set in `of`.
bool FindKind(const std::string& name, TileFileOf& of) {
  for (size_t k = 0; k < std::size(kTileFileKinds); ++k) {
    if (TileFileName(kTileFileKinds[k], of.tx, of.ty) == name) {
      of.kind = k;
      return true;
    }
  }
  return false;
}

void LookUpFile(RunFile& file) {
  const int result =
      file.own_name ? ::lstat(file.name.c_str(), &file.st) : ::stat(file.name.c_str(), &file.st);
  file.found = result == 0;
  file.missing = result != 0 && errno == ENOENT;
}

uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }
uint64_t SaturatingSub(uint64_t a, uint64_t b) { return a > b ? a - b : 0; }
uint64_t SaturatingMul(uint64_t a, uint64_t b) {
  return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}
// What a file of `bytes` takes on a file system of blocks of `block` bytes.
uint64_t InBlocks(uint64_t bytes, uint64_t block) {
  const uint64_t blocks = bytes / block + (bytes % block != 0 ? 1 : 0);
  return SaturatingMul(blocks, block);
}

// What a run adds to one file system, and what that has free.
struct Account {
  dev_t device;
  std::string where;  // the directory (or the file) that names it in a message
  uint64_t block;
  uint64_t free;
  uint64_t needed = 0;

  // Adds a file of `bytes` that the run creates.
  void AddNew(uint64_t bytes) { needed = SaturatingAdd(needed, InBlocks(bytes, block)); }
  // Adds what a plain file `st` grows by when the run writes it with `bytes`: a file rewritten
  // in place takes no more than it has, a shorter one (or one with holes) takes the rest.
  void AddGrowth(uint64_t bytes, const struct stat& st) {
    const uint64_t held = SaturatingMul(static_cast<uint64_t>(st.st_blocks), 512);
    needed = SaturatingAdd(needed, SaturatingSub(InBlocks(bytes, block), held));
  }
};

class Accounts {
 public:
  // The account of the file system of `device`, which `where` lies on; null when the system
  // does not tell its free space.
  Account* Of(dev_t device, const std::string& where) {
    for (Account& a : accounts_)
      if (a.device == device) return &a;
    struct statvfs fs {};
    if (::statvfs(where.c_str(), &fs) != 0) return nullptr;
    const uint64_t block = fs.f_frsize != 0 ? fs.f_frsize : (fs.f_bsize != 0 ? fs.f_bsize : 1);
    accounts_.push_back({device, where, block, SaturatingMul(fs.f_bavail, block)});
    return &accounts_.back();
  }
  // The account of the directory `dir`; null when it cannot be looked up.
  Account* OfDirectory(const std::string& dir) {
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 ? Of(st.st_dev, dir) : nullptr;
  }
  const std::deque<Account>& all() const { return accounts_; }

 private:
  std::deque<Account> accounts_;  // an account stays where it is when another is added
};

std::string DirectoryOf(const std::string& name) {
  const std::string dir = std::filesystem::path(name).parent_path().string();
  return dir.empty() ? "." : dir;
}

}  // namespace

void RunFiles::Reads(const char* role, const std::string& name) {
  RunFile file;
  file.role = role;
  file.name = name;
  file.reads = true;
  named_.push_back(std::move(file));
}

void RunFiles::Writes(const char* role, const std::string& name, uint64_t bytes, bool own_name) {
  RunFile file;
  file.role = role;
  file.name = name;
  file.writes = true;
  file.bytes = bytes;
  file.own_name = own_name;
  named_.push_back(std::move(file));
}

void RunFiles::Tiles(unsigned read, unsigned written) {
  tiles_read_ |= read;
  tiles_written_ |= written;
}

std::vector<RunFile> RunFiles::LookUp() const {
  std::vector<RunFile> files = named_;
  for (RunFile& file : files) LookUpFile(file);
  if (region_.TileCount() == 0 || (tiles_read_ | tiles_written_) == 0) return files;

  // The tile files that exist are the entries of the current directory: as many as it holds,
  // where the names of a region on the whole globe are 89,042 tiles of nine files each.
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir("."), ::closedir);
  if (!dir) return files;
  std::vector<std::pair<TileFileOf, RunFile>> tiles;
  while (const dirent* entry = ::readdir(dir.get())) {
    std::optional<TileFileOf> of = TileOfName(entry->d_name);
    if (!of || of->ty < region_.ty0 || of->ty > region_.ty1) continue;
    const bool in_region = of->tx >= region_.tx0 && of->tx <= region_.tx1;
    const bool east = east_tiles_ && int64_t{of->tx} == int64_t{region_.tx1} + 1;
    if ((!in_region && !east) || !FindKind(entry->d_name, *of)) continue;
    const TileFileKind& kind = kTileFileKinds[of->kind];
    RunFile file;
    if (in_region) {
      file.reads = (kind.kind & tiles_read_) != 0;
      file.writes = (kind.kind & tiles_written_) != 0;
    } else {
      file.reads = kind.kind == kElevationTiles;
    }
    if (!file.reads && !file.writes) continue;
    file.role = kind.role;
    file.name = entry->d_name;
    file.bytes = kind.bytes;
    file.tile = true;
    LookUpFile(file);
    tiles.emplace_back(*of, std::move(file));
  }
  // In walk order, each tile's files in the order of their kinds: the same report every time.
  std::sort(tiles.begin(), tiles.end(), [](const auto& a, const auto& b) {
    return std::tie(a.first.ty, a.first.tx, a.first.kind) <
           std::tie(b.first.ty, b.first.tx, b.first.kind);
  });
  for (auto& [of, file] : tiles) files.push_back(std::move(file));
  return files;
}

bool RunFiles::KeepsInputs(const std::vector<RunFile>& files) const {
  // Only a plain file loses what it holds: a device (/dev/full, /dev/null) or a directory under
  // two names is no loss.
  std::map<std::pair<dev_t, ino_t>, std::vector<size_t>> seen;
  for (size_t i = 0; i < files.size(); ++i) {
    const RunFile& file = files[i];
    if (!file.found || !S_ISREG(file.st.st_mode)) continue;
    std::vector<size_t>& same = seen[{file.st.st_dev, file.st.st_ino}];
    for (const size_t j : same) {
      const RunFile& earlier = files[j];
      if ((earlier.reads && file.writes) || (earlier.writes && file.reads)) {
        std::fprintf(stderr, "%s%s: %s '%s' is the %s '%s'\n", line_start_, program_, earlier.role,
                     PrintableText(earlier.name).c_str(), file.role,
                     PrintableText(file.name).c_str());
        return false;
      }
    }
    same.push_back(i);
  }
  return true;
}

bool RunFiles::Fits(const std::vector<RunFile>& files) const {
  Accounts accounts;
  // Every tile file is counted as new in the current directory, then each that exists is taken
  // back out and counted by what it grows.
  Account* here = tiles_written_ != 0 ? accounts.OfDirectory(".") : nullptr;
  if (here != nullptr) {
    uint64_t tile_bytes = 0;
    for (const TileFileKind& kind : kTileFileKinds)
      if ((kind.kind & tiles_written_) != 0)
        tile_bytes = SaturatingAdd(tile_bytes, InBlocks(kind.bytes, here->block));
    here->needed = SaturatingMul(static_cast<uint64_t>(region_.TileCount()), tile_bytes);
  }
  for (const RunFile& file : files) {
    if (!file.writes) continue;
    if (file.found) {
      if (file.tile && here != nullptr)
        here->needed = SaturatingSub(here->needed, InBlocks(file.bytes, here->block));
      // Through a link the file may lie on another file system, which it grows.
      if (!S_ISREG(file.st.st_mode)) continue;
      if (Account* account = accounts.Of(file.st.st_dev, file.name))
        account->AddGrowth(file.bytes, file.st);
    } else if (file.missing && !file.tile) {
      if (Account* account = accounts.OfDirectory(DirectoryOf(file.name)))
        account->AddNew(file.bytes);
    }
  }
  for (const Account& account : accounts.all()) {
    if (account.needed <= account.free) continue;
    std::fprintf(stderr,
                 "%s%s: region of %lld tiles needs %llu bytes in '%s', more than the %llu bytes "
                 "free\n",
                 line_start_, program_, static_cast<long long>(region_.TileCount()),
                 static_cast<unsigned long long>(account.needed),
                 PrintableText(account.where).c_str(),
                 static_cast<unsigned long long>(account.free));
    return false;
  }
  return true;
}

bool RunFiles::Check() const {
  const std::vector<RunFile> files = LookUp();
  return KeepsInputs(files) && Fits(files);
}
