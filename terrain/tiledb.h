// Tile database of the terrain passes: the global grid of posts, tiles and blocks, the file
// names, the tile header, post and block-record layouts, the region walk, opening and reading
// and writing tiles whole, the tile buffers, the progress lines and the failure reporting.
//
// How a pass uses it, for each tile of its region:
//
//   const std::optional<Region> region = PassRegion(kModule, lon1, lat1, ..., lon4, lat4);
//   if (!region) return -1;                             // off the globe, already reported
//   PassBuffer buffer(0, kElevationTileBytes);
//   return WalkRegion(*region, [&](const TileSpan& t) {
//     TileUpdate update;                                // "opened  RW" / "created RW"
//     if (!update.Open(kModule, ElevationTileName(t.tx, t.ty), buffer, kKindElevation))
//       return -1;                                      // already reported
//     ... change own posts/fields in update.data, PrintRowLine(y, t.ye) on the pass's rows ...
//     return update.Finish(kModule);                    // tile line, write, close: 0 or -1
//   });
//
// The same steps by hand: TileFile::OpenOutput, PassBuffer::Read, SetIdentification, ...,
// PrintTileLine, WriteWhole, Close. A missing or short file reads as zeroes.
//
// Failure convention: every failing open, temporary file, read, write or close is reported here
// (the system error prefixed with the module name, then `trn_error`), and the caller only
// returns -1. A non-zero result of the per-tile function stops the walk and is returned by
// WalkRegion.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "support/Truncate.h"

// ---------------------------------------------------------------------------------------------
// Grid, tiles and blocks

inline constexpr int kPostsPerDegree = 1200;
// The double nearest 1/1200: post positions are multiplied by it, never divided by 1200.
inline constexpr double kPostSpacing = 0.0008333333333333334;

inline constexpr int kTileShift = 10;
inline constexpr int kTilePosts = 1 << kTileShift;  // posts along each side of a tile
inline constexpr int kTileMask = kTilePosts - 1;
inline constexpr int kBlockShift = 5;
inline constexpr int kBlockPosts = 1 << kBlockShift;  // posts along each side of a block
inline constexpr int kBlockMask = kBlockPosts - 1;
inline constexpr int kBlocksPerSide = kTilePosts / kBlockPosts;
inline constexpr int kBlockCount = kBlocksPerSide * kBlocksPerSide;

inline constexpr uint32_t kPostSize = 4;
inline constexpr uint32_t kBlockBytes = kBlockPosts * kBlockPosts * kPostSize;  // 4096
inline constexpr uint32_t kHeaderBytes = 8192;
inline constexpr uint32_t kPostBytes = kBlockCount * kBlockBytes;  // 4,194,304
inline constexpr uint32_t kBlockRecordSize = 8;
inline constexpr uint32_t kTrailerBytes = kBlockCount * kBlockRecordSize;        // 8192
inline constexpr uint32_t kTrailerOffset = kHeaderBytes + kPostBytes;            // 4,202,496
inline constexpr uint32_t kElevationTileBytes = kTrailerOffset + kTrailerBytes;  // 4,210,688
inline constexpr uint32_t kColorTileBytes = kHeaderBytes + kPostBytes;           // 4,202,496

// Block index of in-tile post (x, y): southern block row first, each row west to east.
inline constexpr int BlockIndex(int x, int y) {
  return (y >> kBlockShift) * kBlocksPerSide + (x >> kBlockShift);
}

// Byte offset of in-tile post (x, y) in a tile file.
inline constexpr uint32_t PostOffset(int x, int y) {
  return kHeaderBytes + static_cast<uint32_t>(BlockIndex(x, y)) * kBlockBytes +
         static_cast<uint32_t>(y & kBlockMask) * (kBlockPosts * kPostSize) +
         static_cast<uint32_t>(x & kBlockMask) * kPostSize;
}

// Byte offset of the BlockRecord of block b in an elevation tile.
inline constexpr uint32_t BlockRecordOffset(int b) {
  return kTrailerOffset + static_cast<uint32_t>(b) * kBlockRecordSize;
}

// ---------------------------------------------------------------------------------------------
// Little-endian fields

inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline int32_t GetS32(const uint8_t* p) { return static_cast<int32_t>(GetU32(p)); }
inline void PutS32(uint8_t* p, int32_t v) { PutU32(p, static_cast<uint32_t>(v)); }
inline int16_t GetS16(const uint8_t* p) {
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8));
}
inline void PutS16(uint8_t* p, int16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
}

// ---------------------------------------------------------------------------------------------
// TileHeader: the first 8192 bytes of every elevation, colour, scratch and level file.

struct TileHeader {
  static constexpr uint32_t kMagicOffset = 0;
  static constexpr uint32_t kKindOffset = 4;
  static constexpr uint32_t kVersionOffset = 8;
  static constexpr uint32_t kBannerOffset = 12;
  static constexpr uint32_t kBannerLength = 938;  // followed by one NUL byte
  // The identification fields: magic, kind, version and the banner with its NUL.
  static constexpr uint32_t kIdentificationBytes = kBannerOffset + kBannerLength + 1;
  static constexpr uint32_t kPaletteAFlagOffset = 1024;
  static constexpr uint32_t kPaletteBFlagOffset = 1028;
  static constexpr uint32_t kAmbientColorOffset = 1032;  // colour tiles: 255, blue, green, red
  static constexpr uint32_t kPaletteAOffset = 1536;
  static constexpr uint32_t kPaletteBOffset = 2560;
  static constexpr uint32_t kPaletteEntries = 256;
  static constexpr uint32_t kPaletteEntrySize = 4;  // 255 (or 0 when empty), blue, green, red

  static constexpr uint32_t kMagic = 0x1989E676;
  static constexpr uint32_t kVersion = 0x10501;
};

inline constexpr uint32_t kKindElevation = 1;  // elevation tiles, scratch tiles, level files
inline constexpr uint32_t kKindColor = 2;

// The banner text written into every tile: exactly TileHeader::kBannerLength characters.
extern const std::array<char, TileHeader::kBannerLength + 1> kTileBanner;

// Writes magic, kind, version and the banner with its NUL into a header; other bytes are kept.
void SetIdentification(uint8_t* header, uint32_t kind);

// ---------------------------------------------------------------------------------------------
// Posts. Elevation tile: bytes 0-1 elevation (signed 16-bit), 2 palette B index, 3 palette A
// index byte. Colour tile: red, green, blue, alpha.

inline uint8_t* PostAt(uint8_t* tile, int x, int y) { return tile + PostOffset(x, y); }
inline const uint8_t* PostAt(const uint8_t* tile, int x, int y) { return tile + PostOffset(x, y); }
inline int16_t GetElevation(const uint8_t* tile, int x, int y) {
  return GetS16(PostAt(tile, x, y));
}
inline void SetElevation(uint8_t* tile, int x, int y, int16_t e) { PutS16(PostAt(tile, x, y), e); }

// ---------------------------------------------------------------------------------------------
// BlockRecord: one of the 1024 records of an elevation tile's trailer, in block order.

struct BlockRecord {
  int16_t first_elevation = 0;  // elevation of the block's first (south-west) post
  uint8_t palette_b_index = 0;  // byte 2 of the block's first post
  uint8_t palette_a_index = 0;  // byte 3 of the block's first post
  int16_t min_elevation = 0;    // smallest elevation of the block's posts
  int16_t max_elevation = 0;    // largest elevation of the block's posts
};

BlockRecord GetBlockRecord(const uint8_t* tile, int b);
void PutBlockRecord(uint8_t* tile, int b, const BlockRecord& record);

// ---------------------------------------------------------------------------------------------
// File names: formed into a buffer of 256 bytes; a longer name is cut, never written past.

inline constexpr size_t kFileNameSize = 256;

std::string ElevationTileName(int tx, int ty);                       // "%03d_%03d"
std::string ColorTileName(int tx, int ty);                           // "%03d_%03d.c32"
std::string ScratchTileName(int tx, int ty);                         // "%03d_%03d.tmp"
std::string LevelFileName(const std::string& tile_name, int level);  // "%s_%d"
// A grid file "%s.%04dx%04d" from a base name and the grid's two dimensions.
std::string GridFileName(const std::string& base, int ncols, int nrows);

// ---------------------------------------------------------------------------------------------
// Region walk

// Inclusive range of in-tile post columns or rows; empty when first > last.
struct PostRange {
  int first = 0;
  int last = -1;
};

struct Region {
  double lon_min = 0, lon_max = 0, lat_min = 0, lat_max = 0;
  int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;      // first and last global post columns and rows
  int32_t tx0 = 0, tx1 = 0, ty0 = 0, ty1 = 0;  // first and last tile columns and rows

  PostRange Columns(int32_t tx) const;  // region post columns inside tile column tx
  PostRange Rows(int32_t ty) const;     // region post rows inside tile row ty
};

// The region of four corner points (longitude, latitude each), from their bounding box.
Region MakeRegion(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                  double lon4, double lat4);

// Whether four corner points lie on the globe: every longitude within -180..180 and every
// latitude within -90..90, up to the walk's own tolerance of 0.01 post past either end. Off the
// globe the walk would visit tiles that do not exist, up to millions of them. The first value
// off the globe, infinite or not a number is reported on standard error as
// "<who>: region longitude <value> is off the globe (-180..180)" (or latitude, -90..90): false.
bool CheckRegion(const char* who, double lon1, double lat1, double lon2, double lat2, double lon3,
                 double lat3, double lon4, double lat4);

// The region that a pass walks: CheckRegion under the pass's module name, then MakeRegion.
// Empty after the report, before the pass has opened or created anything.
std::optional<Region> PassRegion(const char* module, double lon1, double lat1, double lon2,
                                 double lat2, double lon3, double lat3, double lon4, double lat4);

// One tile of a region walk with its post ranges (xs..xe columns, ys..ye rows).
struct TileSpan {
  int32_t tx = 0, ty = 0;
  int xs = 0, xe = -1, ys = 0, ye = -1;
};

// Visits the region's tiles south to north, each tile row west to east. Stops at the first
// non-zero result of `visit` and returns it; returns 0 after the last tile.
template <class Visit>
int WalkRegion(const Region& region, Visit&& visit) {
  for (int64_t ty = region.ty0; ty <= region.ty1; ++ty) {
    const PostRange rows = region.Rows(static_cast<int32_t>(ty));
    for (int64_t tx = region.tx0; tx <= region.tx1; ++tx) {
      const PostRange cols = region.Columns(static_cast<int32_t>(tx));
      TileSpan span;
      span.tx = static_cast<int32_t>(tx);
      span.ty = static_cast<int32_t>(ty);
      span.xs = cols.first;
      span.xe = cols.last;
      span.ys = rows.first;
      span.ye = rows.last;
      if (const int result = visit(span); result != 0) return result;
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Heap buffers

// Allocates `count` bytes from the heap, all zero, starting on a multiple of kHeapAlignment;
// null when the heap cannot supply them. Release with std::free.
inline constexpr size_t kHeapAlignment = 64;
void* trn_zero_alloc(uint32_t count);

// A zero-filled buffer from trn_zero_alloc, released on destruction.
class TileBuffer {
 public:
  TileBuffer() = default;
  // Allocates `size` zero bytes. A size that does not fit the allocator's 32-bit count, or a
  // heap that cannot supply it, is reported as "<module>: Cannot allocate memory" on standard
  // error and gives an empty buffer (false).
  static TileBuffer Allocate(const char* module, uint64_t size);

  explicit operator bool() const { return data_ != nullptr; }
  uint8_t* data() { return data_.get(); }
  const uint8_t* data() const { return data_.get(); }
  uint32_t size() const { return size_; }

 private:
  struct Free {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t, Free> data_;
  uint32_t size_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Tile and grid files

// Reads `size` bytes at `offset` of descriptor `fd` into `data`, going on where the system caps
// one read (2 GB); what the file does not hold (a short or empty file) is zero, as in a fresh
// zero-filled buffer. False, with errno telling why, when a read fails.
bool ReadAt(int fd, uint8_t* data, uint64_t size, uint64_t offset);
// Writes `size` bytes from `data` at `offset` of descriptor `fd`, going on after a partial
// write: false, with errno telling why, when a write fails or the file takes no more.
bool WriteAt(int fd, const uint8_t* data, uint64_t size, uint64_t offset);
inline bool WriteFromStart(int fd, const uint8_t* data, uint64_t size) {
  return WriteAt(fd, data, size, 0);
}

class TileFile {
 public:
  TileFile() = default;
  TileFile(TileFile&& other) noexcept;
  TileFile& operator=(TileFile&& other) noexcept;
  TileFile(const TileFile&) = delete;
  TileFile& operator=(const TileFile&) = delete;
  ~TileFile();  // closes a file still open, without a report

  // Output tile: opened read-write ("%-11s opened  RW"), else created with mode 0644 and no
  // truncation ("%-11s created RW"); else the failure convention with code 4 and the name.
  static TileFile OpenOutput(const char* module, const std::string& name);

  // Input tile: opened read-only ("%-11s opened  RO"); a missing one is replaced by an empty
  // temporary file that reads as zeroes ("%-11s opened  RO  (as zeroes)", or no line when
  // `announce_zeroes` is false); no temporary file: failure convention, code 4, "tmpfile()".
  static TileFile OpenInput(const char* module, const std::string& name,
                            bool announce_zeroes = true);

  // Grid file: opened read-only ("%-11s opened  RO"); else failure convention, code 4, name.
  static TileFile OpenGrid(const char* module, const std::string& name);

  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& name() const { return name_; }

  // Reads `size` bytes from offset 0 into `data`, as one read would if the system let one read
  // take any size; what it does not bring (a short or empty file) is zero, as in a fresh
  // zero-filled buffer. A read that fails is reported (code 6 and the name): false.
  bool ReadWhole(const char* module, uint8_t* data, uint64_t size) {
    return ReadAt(module, data, size, 0);
  }
  // The same for the `size` bytes from `offset` of the file.
  bool ReadAt(const char* module, uint8_t* data, uint64_t size, uint64_t offset);
  bool ReadWhole(const char* module, TileBuffer& buffer) {
    return ReadWhole(module, buffer.data(), buffer.size());
  }
  // Writes the `size` bytes at offset 0; a write that fails or stops short (a full disk) is
  // reported (code 5 and the name): false.
  bool WriteWhole(const char* module, const uint8_t* data, uint64_t size);
  bool WriteWhole(const char* module, const TileBuffer& buffer) {
    return WriteWhole(module, buffer.data(), buffer.size());
  }
  // Writes the `size` bytes of `data` at `offset`, reported as WriteWhole reports.
  bool WriteAt(const char* module, const uint8_t* data, uint64_t size, uint64_t offset);

  // Closes the file: 0, or -1 after the failure convention with code 8 and the name.
  int Close(const char* module);

 private:
  // Opens the file with `flags` (mode 0644 when created) and prints `line` with its name.
  bool TryOpen(int flags, const char* line);
  // Closes a file still open, without a report; the object then holds none.
  void CloseQuietly();

  int fd_ = -1;
  std::FILE* temp_ = nullptr;  // the temporary file standing in for a missing input tile
  std::string name_;
};

// The tile buffers of the passes: at most three per pass, each known by its slot. A slot's
// buffer is taken from the heap, zero-filled, the first time a pass of the thread uses it, and
// kept for the thread's life: tile buffers of 4 MB released per tile, or per call, go back to
// the system at each release and come back page by page, zero-filled again by the kernel, at
// each take, which costs more than the tile's file work. Every use fills what it then reads (a
// whole tile, the region's rows of one, gathered posts, a cleared picture), so nothing of one
// tile or call shows in the next.
//
// A slot holds a whole elevation tile, or the picture of a one-degree square (1201 x 1201
// posts: the region of a gridforge run, which the raster pass assembles in a slot), whichever
// is larger; a larger need takes a larger buffer.
class PassBuffer {
 public:
  static constexpr int kSlots = 3;
  static constexpr uint64_t kSlotBytes = 54 + 3604 * 1201;
  static_assert(kSlotBytes >= kElevationTileBytes);

  // Slot 0..2 of the thread's buffers, for `size` bytes.
  PassBuffer(int slot, uint64_t size) : slot_(slot), size_(size) {}

  // The buffer, as the last user of the slot left it; null after a reported allocation failure
  // ("<module>: Cannot allocate memory").
  uint8_t* Get(const char* module);
  // Reads the whole tile into the buffer (TileFile::ReadWhole); null after a reported failure.
  uint8_t* Read(const char* module, TileFile& file);
  // Reads what a pass that only reads the region's posts of a tile takes from it: the header
  // and the block rows that hold region rows ys..ye, each where a whole read puts it. The rest
  // of the buffer is left as it was. Null after a reported failure.
  uint8_t* ReadRegionRows(const char* module, TileFile& file, int ys, int ye);
  uint64_t size() const { return size_; }

 private:
  int slot_;
  uint64_t size_;
};

// The whole-tile read-modify-write of one output tile: opened (or created), read whole into a
// pass buffer of the file's size, identification fields set with the file's kind.
struct TileUpdate {
  TileFile file;
  uint8_t* data = nullptr;
  uint64_t size = 0;

  // False after a reported failure (open: code 4; allocation; read: code 6).
  bool Open(const char* module, const std::string& name, PassBuffer& buffer, uint32_t kind);
  // Prints the tile line, writes the buffer whole and closes the file: 0, or -1 after code 5
  // or 8.
  int Finish(const char* module);
};

// ---------------------------------------------------------------------------------------------
// Progress lines (standard output)

// "y=%d of %d\r", then a flush of standard output.
void PrintRowLine(int y, int last);
// "%50s\n" with an empty text: blanks the last row line after a tile.
void PrintTileLine();

// ---------------------------------------------------------------------------------------------
// Failures

inline constexpr int kErrorOpen = 4;   // "Can't open %s\n"
inline constexpr int kErrorWrite = 5;  // "Can't write %s\n"
inline constexpr int kErrorRead = 6;   // "Can't read %s\n"
inline constexpr int kErrorClose = 8;  // "Can't close %s\n"
inline constexpr int kErrorFlags = 9;  // "Illegal combination of flags\n"
inline constexpr int kErrorTextRows = 16;
inline constexpr int kErrorTextLines = 8;

// One row per error code, up to eight printf-style lines, each with at most one "%s".
// Empty slots are null.
extern const char* const ErrorTextTable[kErrorTextRows][kErrorTextLines];

// Prints the lines of row `code` to standard error, each as "<module>: <line>" with `name`
// (and `extra`) formatted in. Code 0, or a code outside the table, prints nothing.
void trn_error(int code, const char* module, const char* name, const char* extra);

// The failure convention: the system error for errno prefixed with the module name, then
// trn_error(code, module, name, ""). Returns -1 for the caller to return.
int trn_fail(const char* module, int code, const char* name);
