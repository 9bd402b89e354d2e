#include "trn_rasterfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "tiledb.h"
#include "trn_post_walk.h"

namespace {

constexpr const char* kModule = "trn_rasterfile";

// Index 0 marks posts without colour, sea posts and posts never indexed; it is drawn with
// this colour whatever the palettes hold.
constexpr uint8_t kIndexZeroRgb[3] = {27, 54, 108};

struct ColorTable {
  uint8_t rgb[256][3] = {};
  bool built = false;

  ColorTable() { SetIndexZero(); }
  void SetIndexZero() {
    for (int c = 0; c < 3; ++c) rgb[0][c] = kIndexZeroRgb[c];
  }
  // From palette B of a tile header: entries [valid, blue, green, red].
  void Build(const uint8_t* header) {
    for (int n = 0; n < 256; ++n) {
      const uint8_t* entry =
          header + TileHeader::kPaletteBOffset + n * TileHeader::kPaletteEntrySize;
      const bool valid = entry[0] != 0;
      rgb[n][0] = valid ? entry[3] : 0;
      rgb[n][1] = valid ? entry[2] : 0;
      rgb[n][2] = valid ? entry[1] : 0;
    }
    SetIndexZero();
    built = true;
  }
};

struct Picture {
  int64_t width = 0, height = 0;
  uint64_t stride = 0, bytes = 0;
};

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void FillHeader(uint8_t* h, const Picture& pic) {
  const uint32_t pixel_bytes = static_cast<uint32_t>(pic.stride * pic.height);
  h[0] = 'B';
  h[1] = 'M';
  PutU32(h + 2, static_cast<uint32_t>(pic.bytes));
  PutU16(h + 6, 0);
  PutU16(h + 8, 0);
  PutU32(h + 10, kBmpHeaderBytes);
  PutU32(h + 14, 40);
  PutU32(h + 18, static_cast<uint32_t>(pic.width));
  PutU32(h + 22, static_cast<uint32_t>(pic.height));
  PutU16(h + 26, 1);
  PutU16(h + 28, 24);
  PutU32(h + 30, 0);
  PutU32(h + 34, pixel_bytes);
  // Resolutions and colour counts stay 0.
}

int DrawTile(const TileSpan& t, const Region& region, const Picture& pic, ColorTable& table,
             uint8_t* pixels) {
  TileFile file = TileFile::OpenInput(kModule, ElevationTileName(t.tx, t.ty));
  if (!file.is_open()) return -1;
  // Header and posts only: the trailer plays no part in the picture.
  TileBuffer tile = TileBuffer::Allocate(kModule, kColorTileBytes);
  if (!tile) return -1;
  file.ReadWhole(tile);

  if (!table.built && GetU32(tile.data() + TileHeader::kPaletteBFlagOffset) == 1) {
    table.Build(tile.data());
  }
  const int64_t x_base = int64_t{t.tx} * kTilePosts - region.x0;
  const int64_t y_base = int64_t{region.y1} - int64_t{t.ty} * kTilePosts;
  ForEachRegionPost(
      t,
      [&](int y) {
        if (y % 16 == 0) PrintRowLine(y, t.ye);
      },
      [&](int x, int y, uint32_t offset) {
        const uint8_t* rgb = table.rgb[tile.data()[offset + 2]];
        const uint64_t row = static_cast<uint64_t>(y_base - y);  // the northern row first
        uint8_t* pixel = pixels + row * pic.stride + 3 * static_cast<uint64_t>(x_base + x);
        pixel[0] = rgb[2];
        pixel[1] = rgb[1];
        pixel[2] = rgb[0];
      });
  PrintTileLine();
  return file.Close(kModule);
}

// Writes all of `data`, going on after a partial write; false on an error.
bool WriteAll(int fd, const uint8_t* data, uint64_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<uint64_t>(n);
  }
  return true;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

}  // namespace

int trn_rasterfile(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                   double lon4, double lat4, const char* picture_name, int /*unused*/) {
  // 1. Picture size from the region's first and last post columns and rows; a region that
  // holds no post gives an empty picture.
  const Region region = MakeRegion(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  Picture pic;
  pic.width = std::max<int64_t>(0, int64_t{region.x1} - region.x0 + 1);
  pic.height = std::max<int64_t>(0, int64_t{region.y1} - region.y0 + 1);
  pic.stride = BmpRowStride(static_cast<uint64_t>(pic.width));
  pic.bytes = kBmpHeaderBytes + pic.stride * static_cast<uint64_t>(pic.height);

  // 2. The picture is opened or created, never truncated.
  Fd out(open(picture_name, O_RDWR | O_CREAT, 0644));
  if (out.get() < 0) return trn_fail(kModule, kErrorOpen, picture_name);
  std::printf("%-11s created RW\n", picture_name);

  // 3. The whole picture in memory; a picture beyond the format's 32-bit sizes cannot be
  // allocated and is reported as such.
  TileBuffer picture = TileBuffer::Allocate(kModule, pic.bytes);
  if (!picture) return -1;
  std::printf("\n");
  FillHeader(picture.data(), pic);

  // 4. Every tile of the region, drawn through the first palette B found in walk order.
  ColorTable table;
  uint8_t* pixels = picture.data() + kBmpHeaderBytes;
  const int result = WalkRegion(
      region, [&](const TileSpan& t) { return DrawTile(t, region, pic, table, pixels); });
  if (result != 0) return -1;

  // 5. One write of the whole picture. A failed write or close is reported, not taken for
  // success.
  lseek(out.get(), 0, SEEK_SET);
  if (!WriteAll(out.get(), picture.data(), pic.bytes)) {
    std::perror(kModule);
    return -1;
  }
  if (close(out.release()) != 0) return trn_fail(kModule, kErrorClose, picture_name);
  return 0;
}
