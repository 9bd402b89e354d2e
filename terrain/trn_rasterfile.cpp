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
constexpr int kRowLineStep = 16;  // a row line on every sixteenth post row

// The kept buffers hold the picture of a one-degree square without taking a new one.
constexpr uint64_t kDegreePosts = kPostsPerDegree + 1;
static_assert(kBmpHeaderBytes + BmpRowStride(kDegreePosts) * kDegreePosts ==
              PassBuffer::kSlotBytes);

// Pixels are stored from the low bytes of a word.
static_assert(std::endian::native == std::endian::little);

// Index 0 marks posts without colour, sea posts and posts never indexed; it is drawn with
// this colour whatever the palettes hold.
constexpr uint8_t kIndexZeroRgb[3] = {27, 54, 108};

// Pixels by colour index, each the three bytes blue, green, red as the picture stores them,
// in the low bytes of a word.
struct ColorTable {
  uint32_t bgr[TileHeader::kPaletteEntries] = {};
  bool built = false;

  ColorTable() { SetIndexZero(); }
  void SetIndexZero() { bgr[0] = Pixel(kIndexZeroRgb[0], kIndexZeroRgb[1], kIndexZeroRgb[2]); }
  // From palette B of a tile header: entries [valid, blue, green, red].
  void Build(const uint8_t* header) {
    for (uint32_t n = 0; n < TileHeader::kPaletteEntries; ++n) {
      const uint8_t* entry =
          header + TileHeader::kPaletteBOffset + n * TileHeader::kPaletteEntrySize;
      bgr[n] = entry[0] != TileHeader::kEntryEmpty ? Pixel(entry[3], entry[2], entry[1]) : 0;
    }
    SetIndexZero();
    built = true;
  }
  static uint32_t Pixel(uint8_t red, uint8_t green, uint8_t blue) {
    return uint32_t{blue} | uint32_t{green} << 8 | uint32_t{red} << 16;
  }
};

// The BMP file header (14 bytes) and its information header (40 bytes); resolutions and colour
// counts, at bytes 38 to 53, stay 0.
struct BmpHeader {
  static constexpr uint32_t kFileSizeOffset = 2;
  static constexpr uint32_t kReserved1Offset = 6;
  static constexpr uint32_t kReserved2Offset = 8;
  static constexpr uint32_t kPixelsOffsetOffset = 10;
  static constexpr uint32_t kInfoSizeOffset = 14;
  static constexpr uint32_t kWidthOffset = 18;
  static constexpr uint32_t kHeightOffset = 22;
  static constexpr uint32_t kPlanesOffset = 26;
  static constexpr uint32_t kBitsOffset = 28;
  static constexpr uint32_t kCompressionOffset = 30;
  static constexpr uint32_t kPixelBytesOffset = 34;

  static constexpr uint32_t kInfoBytes = 40;
  static constexpr uint16_t kPlanes = 1;
  static constexpr uint16_t kBitsPerPixel = 24;
  static constexpr uint32_t kNoCompression = 0;
};

void FillHeader(uint8_t* h, const Picture& pic) {
  const uint32_t pixel_bytes = static_cast<uint32_t>(pic.stride * pic.height);
  h[0] = 'B';
  h[1] = 'M';
  PutU32(h + BmpHeader::kFileSizeOffset, static_cast<uint32_t>(pic.bytes));
  PutU16(h + BmpHeader::kReserved1Offset, 0);
  PutU16(h + BmpHeader::kReserved2Offset, 0);
  PutU32(h + BmpHeader::kPixelsOffsetOffset, kBmpHeaderBytes);
  PutU32(h + BmpHeader::kInfoSizeOffset, BmpHeader::kInfoBytes);
  PutU32(h + BmpHeader::kWidthOffset, static_cast<uint32_t>(pic.width));
  PutU32(h + BmpHeader::kHeightOffset, static_cast<uint32_t>(pic.height));
  PutU16(h + BmpHeader::kPlanesOffset, BmpHeader::kPlanes);
  PutU16(h + BmpHeader::kBitsOffset, BmpHeader::kBitsPerPixel);
  PutU32(h + BmpHeader::kCompressionOffset, BmpHeader::kNoCompression);
  PutU32(h + BmpHeader::kPixelBytesOffset, pixel_bytes);
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

// The colour tables of a picture: each tile's posts index its own palette B, which the colour
// post-processing writes into every tile it touches. A tile without one is drawn through the
// first palette B found in walk order, or, before any, through a table that holds only the
// colour of index 0.
struct ColorTables {
  ColorTable first;
  ColorTable own;

  // The table that draws a tile with this header.
  const ColorTable& For(const uint8_t* header) {
    if (GetU32(header + TileHeader::kPaletteBFlagOffset) != TileHeader::kPaletteFlagSet) {
      return first;
    }
    own.Build(header);
    if (!first.built) first = own;
    return own;
  }
};

int DrawTile(PassBuffer& buffer, const TileSpan& t, const Region& region, const Picture& pic,
             ColorTables& tables, uint8_t* pixels) {
  TileFile file = TileFile::OpenInput(kModule, ElevationTileName(t.tx, t.ty));
  if (!file.is_open()) return -1;
  // The header and the region's posts: nothing else plays a part in the picture.
  const uint8_t* tile = buffer.ReadRegionRows(kModule, file, t.ys, t.ye);
  if (tile == nullptr) return -1;

  const ColorTable& table = tables.For(tile);
  const int64_t x_base = int64_t{t.tx} * kTilePosts - region.x0;
  const int64_t y_base = int64_t{region.y1} - int64_t{t.ty} * kTilePosts;
  ForEachRegionRun(
      t,
      [&](int y) {
        if (y % kRowLineStep == 0) PrintRowLine(y, t.ye);
      },
      [&](int x0, int x1, int y, uint32_t offset) {
        const uint64_t row = static_cast<uint64_t>(y_base - y);  // the northern row first
        uint8_t* pixel = pixels + row * pic.stride + 3 * static_cast<uint64_t>(x_base + x0);
        DrawRun(table, tile + offset + kPostPaletteBByte, pixel, x1 - x0 + 1);
      });
  PrintTileLine();
  return file.Close(kModule);
}

}  // namespace

Picture PictureOf(const Region& region) {
  Picture pic;
  pic.width = std::max<int64_t>(0, int64_t{region.x1} - region.x0 + 1);
  pic.height = std::max<int64_t>(0, int64_t{region.y1} - region.y0 + 1);
  pic.stride = BmpRowStride(static_cast<uint64_t>(pic.width));
  pic.bytes = kBmpHeaderBytes + pic.stride * static_cast<uint64_t>(pic.height);
  return pic;
}

int trn_rasterfile(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                   double lon4, double lat4, const char* picture_name, int /*unused*/) {
  // 1. Picture size from the region's first and last post columns and rows; a region that
  // holds no post gives an empty picture.
  const std::optional<Region> region =
      PassRegion(kModule, lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  if (!region) return -1;
  const Picture pic = PictureOf(*region);

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

  // 4. Every tile of the region, drawn through its own palette B.
  ColorTables tables;
  PassBuffer tile_buffer(0, kColorTileBytes);
  uint8_t* pixels = picture + kBmpHeaderBytes;
  const int result = WalkRegion(*region, [&](const TileSpan& t) {
    return DrawTile(tile_buffer, t, *region, pic, tables, pixels);
  });
  if (result != 0) return -1;

  // 5. One write of the whole picture. A failed or short write or a failed close is reported,
  // not taken for success.
  if (!out.WriteWhole(kModule, picture, pic.bytes)) return -1;
  return out.Close(kModule);
}
