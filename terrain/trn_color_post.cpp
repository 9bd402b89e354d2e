#include "trn_color_post.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "littleendian.h"
#include "passbuffer.h"
#include "progress.h"
#include "regionwalk.h"
#include "tilefile.h"
#include "tileformat.h"
#include "tilenames.h"
#include "trn_color_post_cut.h"
#include "trn_color_post_outside.h"
#include "trn_error.h"
#include "trn_post_walk.h"

namespace {

constexpr const char* kModule = "trn_color_post";
constexpr int kRowLineStep = 16;  // a row line on every sixteenth post row
constexpr int kKnownFlags = kColorPostPaletteA | kColorPostPaletteB | kColorPostZeroIsSea;

// The palettes' index ranges: palette A 1..9, palette B 16..239.
constexpr int kPaletteAFirst = 1, kPaletteALast = 9;
constexpr int kPaletteBFirst = 16, kPaletteBLast = 239;
// The key of a post that has no colour: the cell past the cube.
constexpr uint32_t kNoColor = kCubeCells;

// Parts of a colour's cell key by channel value, from the gamma table: the key of colour
// (R, G, B) is red[R] | green[G] | blue[B].
struct CellKeyTables {
  uint32_t red[256], green[256], blue[256];
};

// The tables of one call, each rebuilt by it before it is read.
struct ColorTables {
  uint8_t gamma[kGammaEntries];
  CellKeyTables keys;
  // The cell past the cube counts the posts without colour, so that counting takes no branch.
  uint32_t cube[kCubeCells + 1];
  // The cube's palette indexes once it holds them, one byte a cell: a table a quarter of the
  // cube's size, which the index pass's look-ups find in the cache far more often. Posts
  // without colour find index 0 past the cube.
  uint8_t cell_index[kCubeCells + 1];
  ColorBox boxes[kMaxBoxes];
  int32_t box_count;
  // Of the tile at hand: the cells its previous palette shows by index byte, and its posts
  // outside the region by index byte.
  uint32_t shown_keys[kIndexBytes];
  uint32_t outside_counts[kIndexBytes];
};

// The tables of the thread's calls, taken from the heap the first time a call of the thread
// needs them and kept, as the tile buffers are: a cube of 1 MB taken afresh by every call would
// come back page by page, zero-filled by the kernel, at each take. Null after a reported failure
// of the heap ("trn_color_post: Cannot allocate memory").
ColorTables* ThreadTables() {
  thread_local std::unique_ptr<ColorTables> tables;
  if (!tables) {
    tables.reset(new (std::nothrow) ColorTables());
    if (!tables) {
      errno = ENOMEM;
      std::perror(kModule);
    }
  }
  return tables.get();
}

// The cell key of a colour post: of its own colour when its alpha is set, else `ambient`.
inline uint32_t PostKey(const CellKeyTables& keys, const uint8_t* post, uint32_t ambient) {
  const uint32_t own = keys.red[post[0]] | keys.green[post[1]] | keys.blue[post[2]];
  // A mask rather than a branch: posts with and without colour follow no pattern.
  const uint32_t has_color = 0u - static_cast<uint32_t>(post[kPostAlphaByte] != 0);
  return ambient ^ ((own ^ ambient) & has_color);
}

// Counts the n colour posts from `posts` into the cube, those without colour past it.
[[gnu::noinline]] void CountRun(const CellKeyTables& keys, uint32_t* cube, const uint8_t* posts,
                                int n, uint32_t ambient) {
  for (int k = 0; k < n; ++k) ++cube[PostKey(keys, posts + k * kPostSize, ambient)];
}

// Indexes the n elevation posts of a run from their colour posts: the palette index of the
// post's cell, 0 for a post without colour and, when asked, for a post at elevation 0; stored
// in byte 3 in both nibbles (palette A) or in byte 2 (palette B).
template <bool kNibbles, bool kZeroIsSea>
[[gnu::noinline]] void IndexRun(const ColorTables& tables, const uint8_t* colors,
                                uint8_t* elevations, int n, uint32_t ambient) {
  // The run's indexes are looked up before any is stored: the two tile buffers may lie a
  // multiple of 4096 bytes apart, and a load that follows a store 4096 bytes away waits on it.
  uint8_t index[kBlockPosts];
  for (int k = 0; k < n; ++k) {
    index[k] = tables.cell_index[PostKey(tables.keys, colors + k * kPostSize, ambient)];
  }
  for (int k = 0; k < n; ++k) {
    uint8_t* post = elevations + k * kPostSize;
    const uint8_t i = kZeroIsSea && GetS16(post) == 0 ? 0 : index[k];
    if (kNibbles) {
      post[kPostPaletteAByte] = static_cast<uint8_t>(i * kBothNibbles);
    } else {
      post[kPostPaletteBByte] = i;
    }
  }
}

using IndexRunFunction = void (*)(const ColorTables&, const uint8_t*, uint8_t*, int, uint32_t);

// One call of the colour post-processing: the palette it makes, its tables and the buffers of
// the colour and elevation tiles it works on.
class ColorPostPass {
 public:
  ColorPostPass(const Palette& palette, int flags, ColorTables& tables)
      : palette_(palette), flags_(flags), t_(tables) {}

  // Steps 2 to 9 over the region: 0, or -1 after a reported failure.
  int Run(double gamma, const Region& region);

 private:
  void BuildCellKeys();
  uint32_t AmbientKey(const uint8_t* tile) const;
  int CountTile(const TileSpan& t);
  int CountOutsidePosts(const TileSpan& t);
  void WritePalette(uint8_t* header) const;
  IndexRunFunction IndexRunFor() const;
  void IndexOutsidePosts(uint8_t* tile, const TileSpan& t);
  int IndexTile(const TileSpan& t, IndexRunFunction index_run);
  int CopyTrailerTile(const TileSpan& t);

  const Palette palette_;
  const int flags_;
  ColorTables& t_;
  PassBuffer colors_{0, kColorTileBytes};
  PassBuffer elevations_{1, kElevationTileBytes};
};

void ColorPostPass::BuildCellKeys() {
  for (int c = 0; c < 256; ++c) {
    const uint8_t v = static_cast<uint8_t>(c);
    const ColorCell cell = CellOf(t_.gamma, v, v, v);
    t_.keys.red[c] = CellKey(cell.r, 0, 0);
    t_.keys.green[c] = CellKey(0, cell.g, 0);
    t_.keys.blue[c] = CellKey(0, 0, cell.b);
  }
}

// The key of a colour tile's ambient colour (255, blue, green, red), or kNoColor when the tile
// has none: what a post without colour of its own counts as.
uint32_t ColorPostPass::AmbientKey(const uint8_t* tile) const {
  const uint8_t* ambient = tile + TileHeader::kAmbientColorOffset;
  if (ambient[0] == TileHeader::kEntryEmpty) return kNoColor;
  return t_.keys.red[ambient[3]] | t_.keys.green[ambient[2]] | t_.keys.blue[ambient[1]];
}

int ColorPostPass::CountTile(const TileSpan& t) {
  TileFile color = TileFile::OpenInput(kModule, ColorTileName(t.tx, t.ty));
  if (!color.is_open()) return -1;
  const uint8_t* tile = colors_.ReadRegionRows(kModule, color, t.ys, t.ye);
  if (tile == nullptr) return -1;

  // Counting is the same in any order of the posts. Box 0's bounds are taken from the cube
  // once every tile is counted.
  const uint32_t ambient = AmbientKey(tile);
  const uint32_t uncounted = t_.cube[kNoColor];
  uint32_t posts = 0;
  ForEachRegionRun(
      t,
      [&](int y) {
        if (y % kRowLineStep == 0) PrintRowLine(y, t.ye);
      },
      [&](int x0, int x1, int, uint32_t offset) {
        CountRun(t_.keys, t_.cube, tile + offset, x1 - x0 + 1, ambient);
        posts += static_cast<uint32_t>(x1 - x0 + 1);
      });
  const uint32_t counted = posts - (t_.cube[kNoColor] - uncounted);
  t_.boxes[0].count = static_cast<int32_t>(static_cast<uint32_t>(t_.boxes[0].count) + counted);
  PrintTileLine();
  if (color.Close(kModule) != 0) return -1;
  return CountOutsidePosts(t);
}

// Counts the colours that the indexed posts of the elevation tile outside the region show
// through its palette as it stands. The header alone tells whether there are any; the posts are
// read only then.
int ColorPostPass::CountOutsidePosts(const TileSpan& t) {
  const std::string name = ElevationTileName(t.tx, t.ty);
  // Opened without a line, for reading and writing as the index pass opens it, so that a tile
  // the pass cannot write stops it here, before it has written any tile. A missing tile holds no
  // palette; the index pass makes it.
  TileFile elevation = TileFile::Open(name, TileFile::Access::kReadWrite);
  if (!elevation.is_open()) {
    return errno == ENOENT ? 0 : trn_fail(kModule, kErrorOpen, name.c_str());
  }
  uint8_t* tile = elevations_.Get(kModule);
  if (tile == nullptr || !elevation.ReadAt(kModule, tile, kHeaderBytes, 0)) return -1;
  if (HasOutsideIndexes(palette_, tile, t)) {
    if (!elevation.ReadAt(kModule, tile + kHeaderBytes, kPostBytes, kHeaderBytes)) return -1;
    ShownCellKeys(palette_, tile, kNoColor, t_.shown_keys);
    CountOutsideBytes(palette_, tile, t, t_.outside_counts);
    uint32_t counted = 0;
    for (int value = 0; value < kIndexBytes; ++value) {
      const uint32_t key = t_.shown_keys[value];
      if (key == kNoColor) continue;
      t_.cube[key] += t_.outside_counts[value];
      counted += t_.outside_counts[value];
    }
    t_.boxes[0].count = static_cast<int32_t>(static_cast<uint32_t>(t_.boxes[0].count) + counted);
  }
  return elevation.Close(kModule);
}

void ColorPostPass::WritePalette(uint8_t* header) const {
  PutU32(header + palette_.flag_offset, TileHeader::kPaletteFlagSet);
  for (int n = 0; n < static_cast<int>(TileHeader::kPaletteEntries); ++n) {
    uint8_t* entry = header + palette_.entries_offset + n * TileHeader::kPaletteEntrySize;
    const int i = n - palette_.first;
    if (i >= 0 && i < t_.box_count) {
      entry[0] = TileHeader::kEntryHoldsColor;
      entry[1] = t_.boxes[i].blue_mean;
      entry[2] = t_.boxes[i].green_mean;
      entry[3] = t_.boxes[i].red_mean;
    } else {
      entry[0] = TileHeader::kEntryEmpty;  // the colour bytes stay as they were
    }
  }
}

// Rewrites the indexes of the tile's posts outside the region, counted by the counting pass,
// into the new palette: to be called before the tile's palette is overwritten.
void ColorPostPass::IndexOutsidePosts(uint8_t* tile, const TileSpan& t) {
  if (!HasOutsideIndexes(palette_, tile, t)) return;
  ShownCellKeys(palette_, tile, kNoColor, t_.shown_keys);
  // A value that no outside post held when counted finds an empty cell and is kept as well.
  uint8_t remap[kIndexBytes];
  for (int value = 0; value < kIndexBytes; ++value) {
    const uint32_t key = t_.shown_keys[value];
    const uint8_t index = key == kNoColor ? kEmptyCellIndex : t_.cell_index[key];
    remap[value] = index == kEmptyCellIndex ? static_cast<uint8_t>(value) : palette_.Stored(index);
  }
  RemapOutsideBytes(palette_, tile, t, remap);
}

IndexRunFunction ColorPostPass::IndexRunFor() const {
  const bool sea = (flags_ & kColorPostZeroIsSea) != 0;
  if (palette_.nibbles) return sea ? IndexRun<true, true> : IndexRun<true, false>;
  return sea ? IndexRun<false, true> : IndexRun<false, false>;
}

int ColorPostPass::IndexTile(const TileSpan& t, IndexRunFunction index_run) {
  // A missing colour tile is replaced without a line of its own here.
  TileFile color = TileFile::OpenInput(kModule, ColorTileName(t.tx, t.ty), false);
  if (!color.is_open()) return -1;
  const uint8_t* color_tile = colors_.ReadRegionRows(kModule, color, t.ys, t.ye);
  if (color_tile == nullptr) return -1;

  TileFile elevation = TileFile::OpenOutput(kModule, ElevationTileName(t.tx, t.ty));
  if (!elevation.is_open()) return -1;
  uint8_t* tile = elevations_.Read(kModule, elevation);
  if (tile == nullptr) return -1;

  SetIdentification(tile, kKindElevation);
  IndexOutsidePosts(tile, t);
  WritePalette(tile);

  const uint32_t ambient = AmbientKey(color_tile);
  const ColorTables& tables = t_;
  ForEachRegionRun(
      t,
      [&](int y) {
        if (y % kRowLineStep == 0) PrintRowLine(y, t.ye);
      },
      [=, &tables](int x0, int x1, int, uint32_t offset) {
        index_run(tables, color_tile + offset, tile + offset, x1 - x0 + 1, ambient);
      });
  PrintTileLine();
  if (!elevation.WriteWhole(kModule, tile, elevations_.size())) return -1;
  if (elevation.Close(kModule) != 0) return -1;
  if (color.Close(kModule) != 0) return -1;

  TileFile scratch = TileFile::OpenOutput(kModule, ScratchTileName(t.tx, t.ty));
  if (!scratch.is_open()) return -1;
  if (!scratch.WriteWhole(kModule, tile, elevations_.size())) return -1;
  return scratch.Close(kModule);
}

int ColorPostPass::CopyTrailerTile(const TileSpan& t) {
  TileFile scratch = TileFile::OpenOutput(kModule, ScratchTileName(t.tx, t.ty));
  if (!scratch.is_open()) return -1;
  uint8_t* tile = elevations_.Read(kModule, scratch);
  if (tile == nullptr) return -1;

  for (int by = 0; by < kBlocksPerSide; ++by) {
    PrintRowLine(by, kBlocksPerSide - 1);
    for (int bx = 0; bx < kBlocksPerSide; ++bx) {
      const int b = by * kBlocksPerSide + bx;
      const uint8_t* first_post = tile + BlockOffset(b);
      uint8_t* record = tile + BlockRecordOffset(b);
      record[BlockRecord::kPaletteBIndexOffset] = first_post[kPostPaletteBByte];
      record[BlockRecord::kPaletteAIndexOffset] = first_post[kPostPaletteAByte];
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

int ColorPostPass::Run(double gamma, const Region& region) {
  // 2. Gamma table, and the cell keys it gives each channel value.
  BuildGammaTable(t_.gamma, gamma);
  BuildCellKeys();

  // 3-4. Counting pass over every tile of the region.
  std::memset(t_.cube, 0, sizeof t_.cube);
  ColorBox& all = t_.boxes[0];
  all = ColorBox();
  all.ResetBounds();
  t_.box_count = 0;
  if (WalkRegion(region, [&](const TileSpan& t) { return CountTile(t); }) != 0) return -1;
  // Box 0 spans every counted cell: the bounds that widening by each counted post gives are
  // the tight bounds of the occupied cells.
  all.red_max = kRedCells - 1;
  all.green_max = kGreenCells - 1;
  all.blue_max = kBlueCells - 1;
  all.red_min = all.green_min = all.blue_min = 0;
  ShrinkBox(t_.cube, all);

  // 5-7. Median cut, palette colours, colour-to-index table.
  t_.box_count = MedianCut(t_.cube, t_.boxes, palette_.last - palette_.first + 1);
  SetPaletteMeans(t_.cube, t_.boxes, t_.box_count);
  BuildIndexTable(t_.cube, t_.boxes, t_.box_count, palette_.first);
  for (uint32_t key = 0; key < kCubeCells; ++key) {
    t_.cell_index[key] = static_cast<uint8_t>(t_.cube[key]);
  }
  t_.cell_index[kNoColor] = 0;

  // 8. Index pass, then 9. trailer pass.
  const IndexRunFunction index_run = IndexRunFor();
  if (WalkRegion(region, [&](const TileSpan& t) { return IndexTile(t, index_run); }) != 0) {
    return -1;
  }
  return WalkRegion(region, [&](const TileSpan& t) { return CopyTrailerTile(t); });
}

}  // namespace

int trn_color_post(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                   double lon4, double lat4, double gamma, int flags) {
  // 1. Flags: exactly one palette, nothing outside 0x103. A value with neither palette bit has
  // no index range, so it is refused as well.
  const int palettes = flags & (kColorPostPaletteA | kColorPostPaletteB);
  if ((flags & ~kKnownFlags) != 0 || palettes == 0 ||
      palettes == (kColorPostPaletteA | kColorPostPaletteB)) {
    trn_error(kErrorFlags, kModule, "", "");
    return -1;
  }
  Palette palette;
  if (palettes == kColorPostPaletteA) {
    palette = {kPaletteAFirst, kPaletteALast, TileHeader::kPaletteAFlagOffset,
               TileHeader::kPaletteAOffset, true};
  } else {
    palette = {kPaletteBFirst, kPaletteBLast, TileHeader::kPaletteBFlagOffset,
               TileHeader::kPaletteBOffset, false};
  }

  const std::optional<Region> region =
      PassRegion(kModule, lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  if (!region) return -1;
  ColorTables* tables = ThreadTables();
  if (tables == nullptr) return -1;
  ColorPostPass pass(palette, flags, *tables);
  return pass.Run(gamma, *region);
}
