#include "tiledb.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

constexpr std::array<char, TileHeader::kBannerLength + 1> MakeBanner() {
  constexpr char kText[] =
      "KYTE terrain database tile: a header of 8192 bytes, then 1024 x 1024 posts of four bytes "
      "in blocks of 32 x 32 posts at 1200 posts per degree, then (elevation tiles) one "
      "eight-byte record per block.";
  static_assert(sizeof(kText) - 1 <= TileHeader::kBannerLength);
  std::array<char, TileHeader::kBannerLength + 1> banner{};
  for (size_t i = 0; i < TileHeader::kBannerLength; ++i) {
    banner[i] = i < sizeof(kText) - 1 ? kText[i] : ' ';
  }
  banner[TileHeader::kBannerLength] = '\0';
  return banner;
}

// Formats into a buffer of kFileNameSize bytes, as the passes' name buffers are.
template <class... Args>
std::string FormatName(const char* format, Args... args) {
  char buffer[kFileNameSize];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

}  // namespace

constexpr std::array<char, TileHeader::kBannerLength + 1> kTileBanner = MakeBanner();

void SetIdentification(uint8_t* header, uint32_t kind) {
  PutU32(header + TileHeader::kMagicOffset, TileHeader::kMagic);
  PutU32(header + TileHeader::kKindOffset, kind);
  PutU32(header + TileHeader::kVersionOffset, TileHeader::kVersion);
  std::memcpy(header + TileHeader::kBannerOffset, kTileBanner.data(), kTileBanner.size());
}

BlockRecord GetBlockRecord(const uint8_t* tile, int b) {
  const uint8_t* p = tile + BlockRecordOffset(b);
  BlockRecord r;
  r.first_elevation = GetS16(p);
  r.palette_b_index = p[2];
  r.palette_a_index = p[3];
  r.min_elevation = GetS16(p + 4);
  r.max_elevation = GetS16(p + 6);
  return r;
}

void PutBlockRecord(uint8_t* tile, int b, const BlockRecord& r) {
  uint8_t* p = tile + BlockRecordOffset(b);
  PutS16(p, r.first_elevation);
  p[2] = r.palette_b_index;
  p[3] = r.palette_a_index;
  PutS16(p + 4, r.min_elevation);
  PutS16(p + 6, r.max_elevation);
}

std::string ElevationTileName(int tx, int ty) { return FormatName("%03d_%03d", tx, ty); }
std::string ColorTileName(int tx, int ty) { return FormatName("%03d_%03d.c32", tx, ty); }
std::string ScratchTileName(int tx, int ty) { return FormatName("%03d_%03d.tmp", tx, ty); }
std::string LevelFileName(const std::string& tile_name, int level) {
  return FormatName("%s_%d", tile_name.c_str(), level);
}
std::string GridFileName(const std::string& base, int ncols, int nrows) {
  return FormatName("%s.%04dx%04d", base.c_str(), ncols, nrows);
}

// ---------------------------------------------------------------------------------------------
// Region walk

Region MakeRegion(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                  double lon4, double lat4) {
  Region r;
  r.lon_min = 99999;
  r.lon_max = -99999;
  r.lat_min = 99999;
  r.lat_max = -99999;
  for (const double lon : {lon1, lon2, lon3, lon4}) {
    if (lon < r.lon_min) r.lon_min = lon;
    if (lon > r.lon_max) r.lon_max = lon;
  }
  for (const double lat : {lat1, lat2, lat3, lat4}) {
    if (lat < r.lat_min) r.lat_min = lat;
    if (lat > r.lat_max) r.lat_max = lat;
  }
  r.x0 = TruncateToInt32(std::ceil((r.lon_min + 180) * 1200 - 0.01));
  r.x1 = TruncateToInt32(std::floor((r.lon_max + 180) * 1200 + 0.01));
  r.y0 = TruncateToInt32(std::ceil((r.lat_min + 90) * 1200 - 0.01));
  r.y1 = TruncateToInt32(std::floor((r.lat_max + 90) * 1200 + 0.01));
  r.tx0 = r.x0 >> kTileShift;
  r.tx1 = r.x1 >> kTileShift;
  r.ty0 = r.y0 >> kTileShift;
  r.ty1 = r.y1 >> kTileShift;
  return r;
}

namespace {

// Whether `degrees` lies within -limit..limit, with the walk's arithmetic and tolerance; false
// for a value that is not a number.
bool OnGlobe(double degrees, double limit) {
  const double post = (degrees + limit) * kPostsPerDegree;
  return post >= -0.01 && post <= 2 * limit * kPostsPerDegree + 0.01;
}

}  // namespace

bool CheckRegion(const char* who, double lon1, double lat1, double lon2, double lat2, double lon3,
                 double lat3, double lon4, double lat4) {
  const double corners[8] = {lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4};
  for (int i = 0; i < 8; ++i) {
    const bool longitude = i % 2 == 0;
    const double limit = longitude ? 180 : 90;
    if (OnGlobe(corners[i], limit)) continue;
    // The shortest text that reads back as the value: -1e+09, 180.00001, inf, nan.
    char value[32];
    *std::to_chars(value, value + sizeof value - 1, corners[i]).ptr = '\0';
    std::fprintf(stderr, "%s: region %s %s is off the globe (%s)\n", who,
                 longitude ? "longitude" : "latitude", value, longitude ? "-180..180" : "-90..90");
    return false;
  }
  return true;
}

std::optional<Region> PassRegion(const char* module, double lon1, double lat1, double lon2,
                                 double lat2, double lon3, double lat3, double lon4, double lat4) {
  if (!CheckRegion(module, lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4)) return std::nullopt;
  return MakeRegion(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
}

PostRange Region::Columns(int32_t tx) const {
  return {tx == tx0 ? (x0 & kTileMask) : 0, tx == tx1 ? (x1 & kTileMask) : kTileMask};
}

PostRange Region::Rows(int32_t ty) const {
  return {ty == ty0 ? (y0 & kTileMask) : 0, ty == ty1 ? (y1 & kTileMask) : kTileMask};
}

// ---------------------------------------------------------------------------------------------
// Heap buffers

void* trn_zero_alloc(uint32_t count) {
  // On a cache line: the kernel copies a tile into or out of such a block two to three times
  // faster than into one that starts 16 bytes into a line, where the C library puts its large
  // blocks.
  const size_t rounded = (size_t{count} + kHeapAlignment - 1) / kHeapAlignment * kHeapAlignment;
  void* block = std::aligned_alloc(kHeapAlignment, rounded > 0 ? rounded : kHeapAlignment);
  if (block != nullptr) std::memset(block, 0, count);
  return block;
}

TileBuffer TileBuffer::Allocate(const char* module, uint64_t size) {
  TileBuffer buffer;
  if (size <= UINT32_MAX) {
    buffer.data_.reset(static_cast<uint8_t*>(trn_zero_alloc(static_cast<uint32_t>(size))));
  }
  if (!buffer.data_) {
    errno = ENOMEM;
    std::perror(module);
    return buffer;
  }
  buffer.size_ = static_cast<uint32_t>(size);
  return buffer;
}

// ---------------------------------------------------------------------------------------------
// Tile and grid files

bool ReadAt(int fd, uint8_t* data, uint64_t size, uint64_t offset) {
  // A read of a file stops short only at its end, or where the system caps one read.
  uint64_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
  }
  std::memset(data + done, 0, size - done);
  return true;
}

bool WriteAt(int fd, const uint8_t* data, uint64_t size, uint64_t offset) {
  // A write stops short only when the file can take no more; the next one then says why.
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<uint64_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

TileFile::TileFile(TileFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      temp_(std::exchange(other.temp_, nullptr)),
      name_(std::move(other.name_)) {}

TileFile& TileFile::operator=(TileFile&& other) noexcept {
  if (this != &other) {
    CloseQuietly();
    fd_ = std::exchange(other.fd_, -1);
    temp_ = std::exchange(other.temp_, nullptr);
    name_ = std::move(other.name_);
  }
  return *this;
}

TileFile::~TileFile() { CloseQuietly(); }

void TileFile::CloseQuietly() {
  if (temp_ != nullptr) {
    std::fclose(temp_);
  } else if (fd_ >= 0) {
    ::close(fd_);
  }
  temp_ = nullptr;
  fd_ = -1;
}

bool TileFile::TryOpen(int flags, const char* line) {
  fd_ = ::open(name_.c_str(), flags, 0644);
  if (fd_ < 0) return false;
  std::printf(line, name_.c_str());
  return true;
}

TileFile TileFile::OpenOutput(const char* module, const std::string& name) {
  TileFile file;
  file.name_ = name;
  if (file.TryOpen(O_RDWR, "%-11s opened  RW\n")) return file;
  if (file.TryOpen(O_RDWR | O_CREAT, "%-11s created RW\n")) return file;
  trn_fail(module, kErrorOpen, name.c_str());
  return file;
}

TileFile TileFile::OpenInput(const char* module, const std::string& name, bool announce_zeroes) {
  TileFile file;
  file.name_ = name;
  if (file.TryOpen(O_RDONLY, "%-11s opened  RO\n")) return file;
  file.temp_ = std::tmpfile();
  if (file.temp_ == nullptr) {
    trn_fail(module, kErrorOpen, "tmpfile()");
    return file;
  }
  file.fd_ = fileno(file.temp_);
  if (announce_zeroes) std::printf("%-11s opened  RO  (as zeroes)\n", name.c_str());
  return file;
}

TileFile TileFile::OpenGrid(const char* module, const std::string& name) {
  TileFile file;
  file.name_ = name;
  if (file.TryOpen(O_RDONLY, "%-11s opened  RO\n")) return file;
  trn_fail(module, kErrorOpen, name.c_str());
  return file;
}

bool TileFile::ReadAt(const char* module, uint8_t* data, uint64_t size, uint64_t offset) {
  if (::ReadAt(fd_, data, size, offset)) return true;
  trn_fail(module, kErrorRead, name_.c_str());
  return false;
}

bool TileFile::WriteWhole(const char* module, const uint8_t* data, uint64_t size) {
  return WriteAt(module, data, size, 0);
}

bool TileFile::WriteAt(const char* module, const uint8_t* data, uint64_t size, uint64_t offset) {
  if (::WriteAt(fd_, data, size, offset)) return true;
  trn_fail(module, kErrorWrite, name_.c_str());
  return false;
}

int TileFile::Close(const char* module) {
  int result;
  if (temp_ != nullptr) {
    result = std::fclose(temp_);
  } else {
    result = ::close(fd_);
  }
  temp_ = nullptr;
  fd_ = -1;
  if (result != 0) return trn_fail(module, kErrorClose, name_.c_str());
  return 0;
}

uint8_t* PassBuffer::Get(const char* module) {
  thread_local TileBuffer slots[kSlots];
  TileBuffer& buffer = slots[slot_];
  if (!buffer || buffer.size() < size_) {
    buffer = TileBuffer();
    buffer = TileBuffer::Allocate(module, std::max(size_, kSlotBytes));
  }
  return buffer.data();
}

uint8_t* PassBuffer::Read(const char* module, TileFile& file) {
  uint8_t* data = Get(module);
  if (data == nullptr || !file.ReadWhole(module, data, size_)) return nullptr;
  return data;
}

uint8_t* PassBuffer::ReadRegionRows(const char* module, TileFile& file, int ys, int ye) {
  uint8_t* data = Get(module);
  if (data == nullptr || !file.ReadAt(module, data, kHeaderBytes, 0)) return nullptr;
  if (ys <= ye) {
    const uint64_t band_bytes = uint64_t{kBlocksPerSide} * kBlockBytes;
    const uint64_t offset = kHeaderBytes + uint64_t(ys >> kBlockShift) * band_bytes;
    const uint64_t size = uint64_t((ye >> kBlockShift) - (ys >> kBlockShift) + 1) * band_bytes;
    if (!file.ReadAt(module, data + offset, size, offset)) return nullptr;
  }
  return data;
}

bool TileUpdate::Open(const char* module, const std::string& name, PassBuffer& buffer,
                      uint32_t kind) {
  file = TileFile::OpenOutput(module, name);
  if (!file.is_open()) return false;
  data = buffer.Read(module, file);
  if (data == nullptr) return false;
  size = buffer.size();
  SetIdentification(data, kind);
  return true;
}

int TileUpdate::Finish(const char* module) {
  PrintTileLine();
  if (!file.WriteWhole(module, data, size)) return -1;
  return file.Close(module);
}

// ---------------------------------------------------------------------------------------------
// Progress lines

void PrintRowLine(int y, int last) {
  std::printf("y=%d of %d\r", y, last);
  std::fflush(stdout);
}

void PrintTileLine() { std::printf("%50s\n", ""); }

// ---------------------------------------------------------------------------------------------
// Failures

const char* const ErrorTextTable[kErrorTextRows][kErrorTextLines] = {
    {},                                  // 0: no error
    {},                                  // 1
    {},                                  // 2
    {},                                  // 3
    {"Can't open %s\n"},                 // 4
    {"Can't write %s\n"},                // 5
    {"Can't read %s\n"},                 // 6
    {},                                  // 7
    {"Can't close %s\n"},                // 8
    {"Illegal combination of flags\n"},  // 9
    {},                                  // 10
    {},                                  // 11
    {},                                  // 12
    {},                                  // 13
    {},                                  // 14
    {},                                  // 15
};

void trn_error(int code, const char* module, const char* name, const char* extra) {
  if (code == 0) return;
  if (code < 0 || code >= kErrorTextRows) return;
  // The module name goes into a printf format: its own '%' characters are doubled.
  std::string escaped_module;
  for (const char* p = module; *p != '\0'; ++p) {
    escaped_module += *p;
    if (*p == '%') escaped_module += '%';
  }
  std::string format;
  for (const char* line : ErrorTextTable[code]) {
    if (line == nullptr || *line == '\0') continue;
    char piece[256];
    const int n = std::snprintf(piece, sizeof piece, "%s: %s", escaped_module.c_str(), line);
    // A piece cut short could end inside a conversion; such a piece is left out whole.
    if (n < 0 || n >= static_cast<int>(sizeof piece)) continue;
    if (format.size() + static_cast<size_t>(n) > 1023) break;
    format += piece;
  }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
  std::fprintf(stderr, format.c_str(), name, extra);
#pragma GCC diagnostic pop
}

int trn_fail(const char* module, int code, const char* name) {
  std::perror(module);
  trn_error(code, module, name, "");
  return -1;
}
