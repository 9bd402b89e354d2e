#include "trn_rasterfile.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "littleendian.h"
#include "passbuffer.h"
#include "progress.h"
#include "regionwalk.h"
#include "tilefile.h"
#include "tileformat.h"
#include "tilenames.h"
#include "trn_error.h"
#include "trn_post_walk.h"

namespace {

constexpr const char* kModule = "trn_rasterfile";

// The kept buffers hold the picture of a one-degree square without taking a new one.
static_assert(kBmpHeaderBytes + BmpRowStride(1201) * 1201 == PassBuffer::kSlotBytes);

// Pixels are stored from the low bytes of a word.
static_assert(std::endian::native == std::endian::little);

// Index 0 marks posts without colour, sea posts and posts never indexed; it is drawn with
// this colour whatever the palettes hold.
constexpr uint8_t kIndexZeroRgb[3] = {27, 54, 108};

// Pixels by colour index, each the three bytes blue, green, red as the picture stores them,
// in the low bytes of a word.
struct ColorTable {
  uint32_t bgr[256] = {};
  bool built = false;

  ColorTable() { SetIndexZero(); }
  void SetIndexZero() { bgr[0] = Pixel(kIndexZeroRgb[0], kIndexZeroRgb[1], kIndexZeroRgb[2]); }
  // From palette B of a tile header: entries [valid, blue, green, red].
  void Build(const uint8_t* header) {
    for (int n = 0; n < 256; ++n) {
      const uint8_t* entry =
          header + TileHeader::kPaletteBOffset + n * TileHeader::kPaletteEntrySize;
      bgr[n] = entry[0] != 0 ? Pixel(entry[3], entry[2], entry[1]) : 0;
    }
    SetIndexZero();
    built = true;
  }
  static uint32_t Pixel(uint8_t red, uint8_t green, uint8_t blue) {
    return uint32_t{blue} | uint32_t{green} << 8 | uint32_t{red} << 16;
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

// Draws the n posts of a run, whose colour indexes lie 4 bytes apart from `indexes`, into the
// pixels from `pixel` on, 3 bytes each.
[[gnu::noinline]] void DrawRun(const ColorTable& table, const uint8_t* indexes, uint8_t* pixel,
                               int n) {
  // Each pixel but the last is stored as a word whose fourth byte the next pixel overwrites;
  // the last one's three bytes alone, since the byte after it is padding or another row's.
  int k = 0;
  for (; k + 1 < n; ++k, pixel += 3) {
    std::memcpy(pixel, &table.bgr[indexes[k * kPostSize]], 4);
  }
  std::memcpy(pixel, &table.bgr[indexes[k * kPostSize]], 3);
}

int DrawTile(PassBuffer& buffer, const TileSpan& t, const Region& region, const Picture& pic,
             ColorTable& table, uint8_t* pixels) {
  TileFile file = TileFile::OpenInput(kModule, ElevationTileName(t.tx, t.ty));
  if (!file.is_open()) return -1;
  // The header and the region's posts: nothing else plays a part in the picture.
  const uint8_t* tile = buffer.ReadRegionRows(kModule, file, t.ys, t.ye);
  if (tile == nullptr) return -1;

  if (!table.built && GetU32(tile + TileHeader::kPaletteBFlagOffset) == 1) table.Build(tile);
  const int64_t x_base = int64_t{t.tx} * kTilePosts - region.x0;
  const int64_t y_base = int64_t{region.y1} - int64_t{t.ty} * kTilePosts;
  ForEachRegionRun(
      t,
      [&](int y) {
        if (y % 16 == 0) PrintRowLine(y, t.ye);
      },
      [&](int x0, int x1, int y, uint32_t offset) {
        const uint64_t row = static_cast<uint64_t>(y_base - y);  // the northern row first
        uint8_t* pixel = pixels + row * pic.stride + 3 * static_cast<uint64_t>(x_base + x0);
        DrawRun(table, tile + offset + 2, pixel, x1 - x0 + 1);
      });
  PrintTileLine();
  return file.Close(kModule);
}

}  // namespace

int trn_rasterfile(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                   double lon4, double lat4, const char* picture_name, int /*unused*/) {
  // 1. Picture size from the region's first and last post columns and rows; a region that
  // holds no post gives an empty picture.
  const std::optional<Region> region =
      PassRegion(kModule, lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  if (!region) return -1;
  Picture pic;
  pic.width = std::max<int64_t>(0, int64_t{region->x1} - region->x0 + 1);
  pic.height = std::max<int64_t>(0, int64_t{region->y1} - region->y0 + 1);
  pic.stride = BmpRowStride(static_cast<uint64_t>(pic.width));
  pic.bytes = kBmpHeaderBytes + pic.stride * static_cast<uint64_t>(pic.height);

  // 2. The picture is opened or created, never truncated.
  TileFile out = TileFile::Open(picture_name, TileFile::Access::kCreate);
  if (!out.is_open()) return trn_fail(kModule, kErrorOpen, picture_name);
  std::printf("%-11s created RW\n", picture_name);

  // 3. The whole picture in memory, zero-filled; a picture beyond the format's 32-bit sizes
  // cannot be allocated and is reported as such.
  PassBuffer picture_buffer(1, pic.bytes);
  uint8_t* const picture = picture_buffer.Get(kModule);
  if (picture == nullptr) return -1;
  std::memset(picture, 0, pic.bytes);
  std::printf("\n");
  FillHeader(picture, pic);

  // 4. Every tile of the region, drawn through the first palette B found in walk order.
  ColorTable table;
  PassBuffer tile_buffer(0, kColorTileBytes);
  uint8_t* pixels = picture + kBmpHeaderBytes;
  const int result = WalkRegion(*region, [&](const TileSpan& t) {
    return DrawTile(tile_buffer, t, *region, pic, table, pixels);
  });
  if (result != 0) return -1;

  // 5. One write of the whole picture. A failed or short write or a failed close is reported,
  // not taken for success.
  if (!out.WriteWhole(kModule, picture, pic.bytes)) return -1;
  return out.Close(kModule);
}
