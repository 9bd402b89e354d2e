#include "trn_color_post.h"

#include <cstring>
#include <string>

#include "tiledb.h"
#include "trn_color_post_cut.h"
#include "trn_post_walk.h"

namespace {

constexpr const char* kModule = "trn_color_post";

// Process-wide tables: one call runs at a time, and each call rebuilds them.
uint8_t GammaTable[kGammaEntries];
uint32_t ColorCube[kCubeCells];
ColorBox Boxes[kMaxBoxes];
int32_t BoxCount = 0;

struct Palette {
  int first = 0;
  int last = 0;
  uint32_t flag_offset = 0;
  uint32_t entries_offset = 0;
  bool nibbles = false;  // palette A stores its index in both nibbles of byte 3
};

// The cell of a colour post, or false when the post has no colour: its own colour when its
// alpha is set, else the tile's ambient colour when the tile has one.
bool PostCell(const uint8_t* tile, const uint8_t* post, ColorCell* cell) {
  if (post[3] != 0) {
    *cell = CellOf(GammaTable, post[0], post[1], post[2]);
    return true;
  }
  const uint8_t* ambient = tile + TileHeader::kAmbientColorOffset;  // 255, blue, green, red
  if (ambient[0] == 0) return false;
  *cell = CellOf(GammaTable, ambient[3], ambient[2], ambient[1]);
  return true;
}

int CountTile(const TileSpan& t) {
  TileFile color = TileFile::OpenInput(kModule, ColorTileName(t.tx, t.ty));
  if (!color.is_open()) return -1;
  TileBuffer tile = TileBuffer::Allocate(kModule, kColorTileBytes);
  if (!tile) return -1;
  color.ReadWhole(tile);

  // Counting is the same in any order of the posts. Box 0's bounds are taken from the cube
  // once every tile is counted.
  ColorBox& all = Boxes[0];
  ForEachRegionPost(
      t,
      [&](int y) {
        if (y % 16 == 0) PrintRowLine(y, t.ye);
      },
      [&](int, int, uint32_t offset) {
        ColorCell cell;
        if (!PostCell(tile.data(), tile.data() + offset, &cell)) return;
        ++ColorCube[CellKey(cell.r, cell.g, cell.b)];
        all.count = static_cast<int32_t>(static_cast<uint32_t>(all.count) + 1u);
      });
  PrintTileLine();
  tile = TileBuffer();
  return color.Close(kModule);
}

void WritePalette(uint8_t* header, const Palette& palette) {
  PutU32(header + palette.flag_offset, 1);
  for (int n = 0; n < static_cast<int>(TileHeader::kPaletteEntries); ++n) {
    uint8_t* entry = header + palette.entries_offset + n * TileHeader::kPaletteEntrySize;
    const int i = n - palette.first;
    if (i >= 0 && i < BoxCount) {
      entry[0] = 255;
      entry[1] = Boxes[i].blue_mean;
      entry[2] = Boxes[i].green_mean;
      entry[3] = Boxes[i].red_mean;
    } else {
      entry[0] = 0;  // the colour bytes stay as they were
    }
  }
}

int IndexTile(const TileSpan& t, const Palette& palette, int flags) {
  // A missing colour tile is replaced without a line of its own here.
  TileFile color = TileFile::OpenInput(kModule, ColorTileName(t.tx, t.ty), false);
  if (!color.is_open()) return -1;
  TileBuffer colors = TileBuffer::Allocate(kModule, kColorTileBytes);
  if (!colors) return -1;
  color.ReadWhole(colors);

  const std::string elevation_name = ElevationTileName(t.tx, t.ty);
  TileFile elevation = TileFile::OpenOutput(kModule, elevation_name);
  if (!elevation.is_open()) return -1;
  TileBuffer tile = TileBuffer::Allocate(kModule, kElevationTileBytes);
  if (!tile) return -1;
  elevation.ReadWhole(tile);

  SetIdentification(tile.data(), kKindElevation);
  WritePalette(tile.data(), palette);

  const uint8_t* color_tile = colors.data();
  uint8_t* elevation_tile = tile.data();
  const bool sea_flag = (flags & kColorPostZeroIsSea) != 0;
  const bool nibbles = palette.nibbles;
  ForEachRegionRun(
      t,
      [&](int y) {
        if (y % 16 == 0) PrintRowLine(y, t.ye);
      },
      [=](int x0, int x1, int, uint32_t offset) {
        // The run's indexes are looked up before any is stored: both tile buffers start on a
        // page, and loads that follow stores 4096 bytes apart wait on them.
        const int n = x1 - x0 + 1;
        uint8_t index[kBlockPosts];
        for (int k = 0; k < n; ++k) {
          ColorCell cell;
          const uint32_t at = offset + k * kPostSize;
          index[k] = PostCell(color_tile, color_tile + at, &cell)
                         ? static_cast<uint8_t>(ColorCube[CellKey(cell.r, cell.g, cell.b)])
                         : 0;
        }
        for (int k = 0; k < n; ++k) {
          uint8_t* post = elevation_tile + offset + k * kPostSize;
          const uint8_t i = sea_flag && GetS16(post) == 0 ? 0 : index[k];
          if (nibbles) {
            post[3] = static_cast<uint8_t>(i * 17);
          } else {
            post[2] = i;
          }
        }
      });
  PrintTileLine();
  elevation.WriteWhole(tile);
  colors = TileBuffer();
  if (elevation.Close(kModule) != 0) return -1;
  if (color.Close(kModule) != 0) return -1;

  TileFile scratch = TileFile::OpenOutput(kModule, ScratchTileName(t.tx, t.ty));
  if (!scratch.is_open()) return -1;
  scratch.WriteWhole(tile);
  tile = TileBuffer();
  return scratch.Close(kModule);
}

int CopyTrailerTile(const TileSpan& t) {
  TileFile scratch = TileFile::OpenOutput(kModule, ScratchTileName(t.tx, t.ty));
  if (!scratch.is_open()) return -1;
  TileBuffer tile = TileBuffer::Allocate(kModule, kElevationTileBytes);
  if (!tile) return -1;
  scratch.ReadWhole(tile);

  for (int by = 0; by < kBlocksPerSide; ++by) {
    PrintRowLine(by, kBlocksPerSide - 1);
    for (int bx = 0; bx < kBlocksPerSide; ++bx) {
      const int b = by * kBlocksPerSide + bx;
      const uint8_t* first_post = tile.data() + kHeaderBytes + b * kBlockBytes;
      uint8_t* record = tile.data() + BlockRecordOffset(b);
      record[2] = first_post[2];
      record[3] = first_post[3];
    }
  }
  PrintTileLine();
  scratch.WriteWhole(tile);
  if (scratch.Close(kModule) != 0) return -1;

  TileFile elevation = TileFile::OpenOutput(kModule, ElevationTileName(t.tx, t.ty));
  if (!elevation.is_open()) return -1;
  elevation.WriteWhole(tile);
  tile = TileBuffer();
  return elevation.Close(kModule);
}

}  // namespace

int trn_color_post(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                   double lon4, double lat4, double gamma, int flags) {
  // 1. Flags: exactly one palette, nothing outside 0x103. A value with neither palette bit has
  // no index range, so it is refused as well.
  const int palettes = flags & (kColorPostPaletteA | kColorPostPaletteB);
  if ((flags & ~0x103) != 0 || palettes == 0 ||
      palettes == (kColorPostPaletteA | kColorPostPaletteB)) {
    trn_error(kErrorFlags, kModule, "", "");
    return -1;
  }
  Palette palette;
  if (palettes == kColorPostPaletteA) {
    palette = {1, 9, TileHeader::kPaletteAFlagOffset, TileHeader::kPaletteAOffset, true};
  } else {
    palette = {16, 239, TileHeader::kPaletteBFlagOffset, TileHeader::kPaletteBOffset, false};
  }

  // 2. Gamma table.
  BuildGammaTable(GammaTable, gamma);

  // 3-4. Counting pass over every tile of the region.
  const Region region = MakeRegion(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  std::memset(ColorCube, 0, sizeof ColorCube);
  Boxes[0] = ColorBox();
  Boxes[0].ResetBounds();
  BoxCount = 0;
  if (WalkRegion(region, CountTile) != 0) return -1;
  // Box 0 spans every counted cell: the bounds that widening by each counted post gives are
  // the tight bounds of the occupied cells.
  Boxes[0].red_max = 63;
  Boxes[0].green_max = 127;
  Boxes[0].blue_max = 31;
  Boxes[0].red_min = Boxes[0].green_min = Boxes[0].blue_min = 0;
  ShrinkBox(ColorCube, Boxes[0]);

  // 5-7. Median cut, palette colours, colour-to-index table.
  BoxCount = MedianCut(ColorCube, Boxes, palette.last - palette.first + 1);
  SetPaletteMeans(ColorCube, Boxes, BoxCount);
  BuildIndexTable(ColorCube, Boxes, BoxCount, palette.first);

  // 8. Index pass, then 9. trailer pass.
  if (WalkRegion(region, [&](const TileSpan& t) { return IndexTile(t, palette, flags); }) != 0) {
    return -1;
  }
  return WalkRegion(region, CopyTrailerTile);
}
