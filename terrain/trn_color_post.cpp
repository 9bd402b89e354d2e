#include "trn_color_post.h"

#include <cstring>

#include "littleendian.h"
#include "passbuffer.h"
#include "progress.h"
#include "regionwalk.h"
#include "tilefile.h"
#include "tileformat.h"
#include "tilenames.h"
#include "trn_color_post_cut.h"
#include "trn_error.h"
#include "trn_post_walk.h"

namespace {

constexpr const char* kModule = "trn_color_post";

// Process-wide tables: one call runs at a time, and each call rebuilds them.
uint8_t GammaTable[kGammaEntries];
// The cell past the cube counts the posts without colour, so that counting takes no branch.
uint32_t ColorCube[kCubeCells + 1];
// The cube's palette indexes once it holds them, one byte a cell: a table a quarter of the
// cube's size, which the index pass's look-ups find in the cache far more often. Posts without
// colour find index 0 past the cube.
uint8_t CellIndex[kCubeCells + 1];
ColorBox Boxes[kMaxBoxes];
int32_t BoxCount = 0;

// Parts of a colour's cell key by channel value, from the gamma table: the key of colour
// (R, G, B) is red[R] | green[G] | blue[B].
struct CellKeyTables {
  uint32_t red[256], green[256], blue[256];
};
CellKeyTables CellKeys;

// The key of a post that has no colour.
constexpr uint32_t kNoColor = kCubeCells;

struct Palette {
  int first = 0;
  int last = 0;
  uint32_t flag_offset = 0;
  uint32_t entries_offset = 0;
  bool nibbles = false;  // palette A stores its index in both nibbles of byte 3
};

void BuildCellKeys() {
  for (int c = 0; c < 256; ++c) {
    const uint8_t v = static_cast<uint8_t>(c);
    const ColorCell cell = CellOf(GammaTable, v, v, v);
    CellKeys.red[c] = CellKey(cell.r, 0, 0);
    CellKeys.green[c] = CellKey(0, cell.g, 0);
    CellKeys.blue[c] = CellKey(0, 0, cell.b);
  }
}

// The key of a colour tile's ambient colour (255, blue, green, red), or kNoColor when the tile
// has none: what a post without colour of its own counts as.
uint32_t AmbientKey(const uint8_t* tile) {
  const uint8_t* ambient = tile + TileHeader::kAmbientColorOffset;
  if (ambient[0] == 0) return kNoColor;
  return CellKeys.red[ambient[3]] | CellKeys.green[ambient[2]] | CellKeys.blue[ambient[1]];
}

// The cell key of a colour post: of its own colour when its alpha is set, else `ambient`.
inline uint32_t PostKey(const uint8_t* post, uint32_t ambient) {
  const uint32_t own = CellKeys.red[post[0]] | CellKeys.green[post[1]] | CellKeys.blue[post[2]];
  // A mask rather than a branch: posts with and without colour follow no pattern.
  const uint32_t has_color = 0u - static_cast<uint32_t>(post[3] != 0);
  return ambient ^ ((own ^ ambient) & has_color);
}

// Counts the n colour posts from `posts` into the cube, those without colour past it.
[[gnu::noinline]] void CountRun(const uint8_t* posts, int n, uint32_t ambient) {
  for (int k = 0; k < n; ++k) ++ColorCube[PostKey(posts + k * kPostSize, ambient)];
}

int CountTile(PassBuffer& colors, const TileSpan& t) {
  TileFile color = TileFile::OpenInput(kModule, ColorTileName(t.tx, t.ty));
  if (!color.is_open()) return -1;
  const uint8_t* tile = colors.ReadRegionRows(kModule, color, t.ys, t.ye);
  if (tile == nullptr) return -1;

  // Counting is the same in any order of the posts. Box 0's bounds are taken from the cube
  // once every tile is counted.
  const uint32_t ambient = AmbientKey(tile);
  const uint32_t uncounted = ColorCube[kNoColor];
  uint32_t posts = 0;
  ForEachRegionRun(
      t,
      [&](int y) {
        if (y % 16 == 0) PrintRowLine(y, t.ye);
      },
      [&](int x0, int x1, int, uint32_t offset) {
        CountRun(tile + offset, x1 - x0 + 1, ambient);
        posts += static_cast<uint32_t>(x1 - x0 + 1);
      });
  const uint32_t counted = posts - (ColorCube[kNoColor] - uncounted);
  Boxes[0].count = static_cast<int32_t>(static_cast<uint32_t>(Boxes[0].count) + counted);
  PrintTileLine();
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

// Indexes the n elevation posts of a run from their colour posts: the palette index of the
// post's cell, 0 for a post without colour and, when asked, for a post at elevation 0; stored
// in byte 3 in both nibbles (palette A) or in byte 2 (palette B).
template <bool kNibbles, bool kZeroIsSea>
[[gnu::noinline]] void IndexRun(const uint8_t* colors, uint8_t* elevations, int n,
                                uint32_t ambient) {
  // The run's indexes are looked up before any is stored: the two tile buffers may lie a
  // multiple of 4096 bytes apart, and a load that follows a store 4096 bytes away waits on it.
  uint8_t index[kBlockPosts];
  for (int k = 0; k < n; ++k) index[k] = CellIndex[PostKey(colors + k * kPostSize, ambient)];
  for (int k = 0; k < n; ++k) {
    uint8_t* post = elevations + k * kPostSize;
    const uint8_t i = kZeroIsSea && GetS16(post) == 0 ? 0 : index[k];
    if (kNibbles) {
      post[3] = static_cast<uint8_t>(i * 17);
    } else {
      post[2] = i;
    }
  }
}

using IndexRunFunction = void (*)(const uint8_t*, uint8_t*, int, uint32_t);

IndexRunFunction IndexRunFor(const Palette& palette, int flags) {
  const bool sea = (flags & kColorPostZeroIsSea) != 0;
  if (palette.nibbles) return sea ? IndexRun<true, true> : IndexRun<true, false>;
  return sea ? IndexRun<false, true> : IndexRun<false, false>;
}

int IndexTile(PassBuffer& colors, PassBuffer& elevations, const TileSpan& t, const Palette& palette,
              IndexRunFunction index_run) {
  // A missing colour tile is replaced without a line of its own here.
  TileFile color = TileFile::OpenInput(kModule, ColorTileName(t.tx, t.ty), false);
  if (!color.is_open()) return -1;
  const uint8_t* color_tile = colors.ReadRegionRows(kModule, color, t.ys, t.ye);
  if (color_tile == nullptr) return -1;

  TileFile elevation = TileFile::OpenOutput(kModule, ElevationTileName(t.tx, t.ty));
  if (!elevation.is_open()) return -1;
  uint8_t* tile = elevations.Read(kModule, elevation);
  if (tile == nullptr) return -1;

  SetIdentification(tile, kKindElevation);
  WritePalette(tile, palette);

  const uint32_t ambient = AmbientKey(color_tile);
  ForEachRegionRun(
      t,
      [&](int y) {
        if (y % 16 == 0) PrintRowLine(y, t.ye);
      },
      [=](int x0, int x1, int, uint32_t offset) {
        index_run(color_tile + offset, tile + offset, x1 - x0 + 1, ambient);
      });
  PrintTileLine();
  if (!elevation.WriteWhole(kModule, tile, elevations.size())) return -1;
  if (elevation.Close(kModule) != 0) return -1;
  if (color.Close(kModule) != 0) return -1;

  TileFile scratch = TileFile::OpenOutput(kModule, ScratchTileName(t.tx, t.ty));
  if (!scratch.is_open()) return -1;
  if (!scratch.WriteWhole(kModule, tile, elevations.size())) return -1;
  return scratch.Close(kModule);
}

int CopyTrailerTile(PassBuffer& elevations, const TileSpan& t) {
  TileFile scratch = TileFile::OpenOutput(kModule, ScratchTileName(t.tx, t.ty));
  if (!scratch.is_open()) return -1;
  uint8_t* tile = elevations.Read(kModule, scratch);
  if (tile == nullptr) return -1;

  for (int by = 0; by < kBlocksPerSide; ++by) {
    PrintRowLine(by, kBlocksPerSide - 1);
    for (int bx = 0; bx < kBlocksPerSide; ++bx) {
      const int b = by * kBlocksPerSide + bx;
      const uint8_t* first_post = tile + kHeaderBytes + b * kBlockBytes;
      uint8_t* record = tile + BlockRecordOffset(b);
      record[2] = first_post[2];
      record[3] = first_post[3];
    }
  }
  PrintTileLine();
  // The index pass wrote this buffer, all but the records' index bytes, into the scratch tile
  // and into the elevation tile: writing it whole into either changes only its trailer, which
  // is all that is written.
  const uint8_t* trailer = tile + kTrailerOffset;
  if (!scratch.WriteAt(kModule, trailer, kTrailerBytes, kTrailerOffset)) return -1;
  if (scratch.Close(kModule) != 0) return -1;

  TileFile elevation = TileFile::OpenOutput(kModule, ElevationTileName(t.tx, t.ty));
  if (!elevation.is_open()) return -1;
  if (!elevation.WriteAt(kModule, trailer, kTrailerBytes, kTrailerOffset)) return -1;
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

  // 2. Gamma table, and the cell keys it gives each channel value.
  BuildGammaTable(GammaTable, gamma);
  BuildCellKeys();

  // 3-4. Counting pass over every tile of the region.
  const std::optional<Region> region =
      PassRegion(kModule, lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  if (!region) return -1;
  std::memset(ColorCube, 0, sizeof ColorCube);
  Boxes[0] = ColorBox();
  Boxes[0].ResetBounds();
  BoxCount = 0;
  PassBuffer colors(0, kColorTileBytes);
  PassBuffer elevations(1, kElevationTileBytes);
  if (WalkRegion(*region, [&](const TileSpan& t) { return CountTile(colors, t); }) != 0) return -1;
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
  for (uint32_t key = 0; key < kCubeCells; ++key)
    CellIndex[key] = static_cast<uint8_t>(ColorCube[key]);
  CellIndex[kNoColor] = 0;

  // 8. Index pass, then 9. trailer pass.
  const IndexRunFunction index_run = IndexRunFor(palette, flags);
  if (WalkRegion(*region, [&](const TileSpan& t) {
        return IndexTile(colors, elevations, t, palette, index_run);
      }) != 0) {
    return -1;
  }
  return WalkRegion(*region, [&](const TileSpan& t) { return CopyTrailerTile(elevations, t); });
}
