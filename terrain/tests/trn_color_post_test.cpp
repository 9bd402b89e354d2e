#include "trn_color_post.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tiledb.h"
#include "tilefile_test_hook.h"
#include "trn_color_post_cut.h"
#include "trn_passes_fixture.h"

namespace {

// ---------------------------------------------------------------------------------------------
// The tables and the cut

TEST(GammaTable, FollowsTheCurve) {
  uint8_t g[kGammaEntries];
  BuildGammaTable(g, 2.5);
  const std::map<int, int> expected = {{0, 0},    {1, 27},    {2, 36},   {16, 84},
                                       {64, 146}, {128, 193}, {255, 255}};
  for (const auto& [i, v] : expected) EXPECT_EQ(g[i], v) << "entry " << i;

  // With gamma 1 every entry is i, or one below where the logarithm and the exponential land a
  // hair short: these entries, with this system's library (a table of powers, or one rounded to
  // the nearest, misses some of them). The palettes and indexes of every tile rest on them.
  const std::set<int> below = {2,  3,   4,   6,   15,  16,  20,  23,  28,  33,  37,  41, 47,
                               53, 55,  56,  58,  59,  66,  74,  79,  81,  82,  84,  86, 90,
                               98, 106, 114, 122, 132, 148, 164, 180, 196, 212, 228, 244};
  BuildGammaTable(g, 1.0);
  for (int i = 0; i < kGammaEntries; ++i) EXPECT_EQ(g[i], below.count(i) ? i - 1 : i) << i;
}

ColorBox MakeBox(int r0, int r1, int g0, int g1, int b0, int b1, int32_t count) {
  ColorBox box;
  box.red_min = static_cast<uint8_t>(r0);
  box.red_max = static_cast<uint8_t>(r1);
  box.green_min = static_cast<uint8_t>(g0);
  box.green_max = static_cast<uint8_t>(g1);
  box.blue_min = static_cast<uint8_t>(b0);
  box.blue_max = static_cast<uint8_t>(b1);
  box.count = count;
  return box;
}

// Two boxes of equal score: the held single-precision best decides which one is split.
TEST(ChooseBox, TiesFollowTheHeldSinglePrecisionScore) {
  struct Case {
    int channel, span, chosen;
  } cases[] = {
      {kRed, 9, 1},      // 8.48 is held as 8.4799995: the later box's 8.48 beats it
      {kRed, 10, 0},     // 9.328 is held as 9.3280001: the earlier box stays
      {kGreen, 124, 0},  // 175.25 is held exactly: the earlier box stays
  };
  for (const Case& c : cases) {
    ColorBox boxes[2];
    if (c.channel == kRed) {
      boxes[0] = MakeBox(0, c.span, 3, 3, 1, 1, 10);
      boxes[1] = MakeBox(20, 20 + c.span, 3, 3, 1, 1, 10);
    } else {
      boxes[0] = MakeBox(0, 0, 0, c.span, 1, 1, 10);
      boxes[1] = MakeBox(1, 1, 0, c.span, 1, 1, 10);
    }
    int channel = -1;
    EXPECT_EQ(ChooseBox(boxes, 2, &channel), c.chosen) << "span " << c.span;
    EXPECT_EQ(channel, c.channel);
  }

  ColorBox single[2] = {MakeBox(4, 4, 5, 5, 6, 6, 3), MakeBox(7, 7, 5, 5, 6, 6, 1)};
  int channel = -1;
  EXPECT_EQ(ChooseBox(single, 2, &channel), -1);  // every box is one cell: nothing to split
}

// Slices along red hold the given counts; the box is split and both parts are shrunk.
TEST(SplitBox, StopsAtTheFirstSliceBeyondHalf) {
  struct Case {
    std::vector<uint32_t> slices;
    int low_max;
    int32_t low_count, high_count;
  } cases[] = {
      {{3, 1, 3}, 10, 3, 4},  // half is 3: exceeded at the second slice, low is the first
      {{5, 1, 1}, 10, 5, 2},  // the first slice alone exceeds half
      {{1, 1, 1, 1}, 11, 2, 2},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> cube(kCubeCells);
    int32_t total = 0;
    // Slice i at red 10 + i; its cells lie at green 20 + i so that shrinking shows.
    for (size_t i = 0; i < c.slices.size(); ++i) {
      cube[CellKey(10 + static_cast<int>(i), 20 + static_cast<int>(i), 7)] = c.slices[i];
      total += static_cast<int32_t>(c.slices[i]);
    }
    const int last = 10 + static_cast<int>(c.slices.size()) - 1;
    ColorBox boxes[2] = {MakeBox(10, last, 20, 20 + last - 10, 7, 7, total)};
    SplitBox(cube.data(), boxes, 0, kRed, 1);

    EXPECT_EQ(boxes[0].red_min, 10);
    EXPECT_EQ(boxes[0].red_max, c.low_max);
    EXPECT_EQ(boxes[0].green_max, 20 + c.low_max - 10);  // shrunk to its cells
    EXPECT_EQ(boxes[0].count, c.low_count);
    EXPECT_EQ(boxes[1].red_min, c.low_max + 1);
    EXPECT_EQ(boxes[1].red_max, last);
    EXPECT_EQ(boxes[1].green_min, 20 + c.low_max + 1 - 10);
    EXPECT_EQ(boxes[1].count, c.high_count);
  }
}

TEST(MedianCut, EndsWhenEveryBoxIsOneCell) {
  std::vector<uint32_t> cube(kCubeCells);
  ColorBox boxes[kMaxBoxes];
  boxes[0].ResetBounds();
  const ColorCell cells[] = {{1, 2, 3}, {40, 2, 3}, {1, 100, 30}};
  for (const ColorCell& c : cells) {
    cube[CellKey(c.r, c.g, c.b)] = 5;
    boxes[0].Widen(c);
    boxes[0].count += 5;
  }
  const int count = MedianCut(cube.data(), boxes, 224);
  ASSERT_EQ(count, 3);
  std::set<uint32_t> seen;
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(boxes[i].red_min, boxes[i].red_max);
    EXPECT_EQ(boxes[i].count, 5);
    seen.insert(CellKey(boxes[i].red_min, boxes[i].green_min, boxes[i].blue_min));
  }
  EXPECT_EQ(seen.size(), 3u);

  ColorBox empty[kMaxBoxes];
  empty[0].ResetBounds();
  EXPECT_EQ(MedianCut(cube.data(), empty, 224), 0);  // no counted post: no box
}

// A box of 2^21 posts or more counts its cells in units of count / 2^21: the sums stay within
// 32 bits, and a cell holding fewer posts than one unit does not move the mean.
TEST(SetPaletteMeans, LargeBoxesCountInUnits) {
  std::vector<uint32_t> cube(kCubeCells);
  cube[CellKey(63, 127, 31)] = 1u << 25;  // 16 units of 2^21
  cube[CellKey(0, 0, 0)] = 15;            // below one unit
  ColorBox boxes[1] = {MakeBox(0, 63, 0, 127, 0, 31, (1 << 25) + 15)};
  SetPaletteMeans(cube.data(), boxes, 1);
  EXPECT_EQ(boxes[0].red_mean, 252);
  EXPECT_EQ(boxes[0].green_mean, 254);
  EXPECT_EQ(boxes[0].blue_mean, 248);

  // Below 2^21 posts every post counts.
  std::vector<uint32_t> small(kCubeCells);
  small[CellKey(10, 0, 0)] = 1;
  small[CellKey(20, 0, 0)] = 2;
  ColorBox box[1] = {MakeBox(10, 20, 0, 0, 0, 0, 3)};
  SetPaletteMeans(small.data(), box, 1);
  EXPECT_EQ(box[0].red_mean, (40 * 1 + 80 * 2) / 3);
}

// ---------------------------------------------------------------------------------------------
// The pass over tiles

class ColorPostTest : public TerrainDirTest {
 protected:
  static constexpr int kTx = 66, kTy = 148;
  const std::string elevation_ = ElevationTileName(kTx, kTy);
  const std::string color_ = ColorTileName(kTx, kTy);
  const std::string scratch_ = ScratchTileName(kTx, kTy);

  int Run(const Corners& region, double gamma, int flags, Output* output = nullptr) {
    int result = 0;
    Output o = Capture([&] { result = region.Run(trn_color_post, gamma, flags); });
    if (output != nullptr) *output = o;
    return result;
  }

  // The lowest gamma-corrected levels of a colour's cell: the colour of a one-cell box.
  static std::vector<uint8_t> Levels(double gamma, uint8_t r, uint8_t g, uint8_t b) {
    uint8_t table[kGammaEntries];
    BuildGammaTable(table, gamma);
    const ColorCell c = CellOf(table, r, g, b);
    return {static_cast<uint8_t>(4 * c.r), static_cast<uint8_t>(2 * c.g),
            static_cast<uint8_t>(8 * c.b)};
  }
  static std::vector<uint8_t> Entry(TileImage& tile, uint32_t palette, int n) {
    const uint8_t* e = tile.header() + palette + 4 * n;
    return {e[0], e[1], e[2], e[3]};
  }
};

TEST_F(ColorPostTest, RefusesBadFlagsBeforeOpeningAnything) {
  for (const int flags : {3, 0x103, 4, 0x200, 0, 0x100}) {
    Output o;
    EXPECT_EQ(Run(TilePosts(kTx, kTy, 0, 3, 0, 3), 2.5, flags, &o), -1) << flags;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "trn_color_post: Illegal combination of flags\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir_));
  }
}

// Every counted post in one cell: one box whose entry is the cell's lowest levels; own and
// ambient colours count alike, and everything but the built palette's bytes is kept.
TEST_F(ColorPostTest, OneOccupiedCellGivesOneEntry) {
  TileImage color = TileImage::Color();
  color.header()[TileHeader::kAmbientColorOffset] = 255;  // ambient (128, 64, 16): blue first
  color.header()[TileHeader::kAmbientColorOffset + 1] = 16;
  color.header()[TileHeader::kAmbientColorOffset + 2] = 64;
  color.header()[TileHeader::kAmbientColorOffset + 3] = 128;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) color.set_rgba(x, y, 128, 64, 16, 200);
  }
  color.set_rgba(3, 3, 0, 0, 0, 0);  // no colour of its own: takes the ambient colour
  color.Save(color_);

  TileImage old = TileImage::Elevation();
  old.Fill(0, kElevationTileBytes, [](uint32_t i) { return static_cast<uint8_t>(i * 7 + 3); });
  PutU32(old.header() + TileHeader::kPaletteAFlagOffset, 5);
  old.Save(elevation_);

  ASSERT_EQ(Run(TilePosts(kTx, kTy, 0, 7, 0, 7), 2.5, 2), 0);
  TileImage tile = TileImage::Load(elevation_);
  ASSERT_EQ(tile.bytes.size(), kElevationTileBytes);

  EXPECT_EQ(GetU32(tile.header()), TileHeader::kMagic);
  EXPECT_EQ(GetU32(tile.header() + 4), kKindElevation);
  EXPECT_EQ(GetU32(tile.header() + TileHeader::kPaletteBFlagOffset), 1u);
  EXPECT_EQ(GetU32(tile.header() + TileHeader::kPaletteAFlagOffset), 5u);  // other palette kept
  const std::vector<uint8_t> levels = Levels(2.5, 128, 64, 16);
  EXPECT_EQ(levels, (std::vector<uint8_t>{192, 146, 80}));
  EXPECT_EQ(Entry(tile, TileHeader::kPaletteBOffset, 16),
            (std::vector<uint8_t>{255, levels[2], levels[1], levels[0]}));
  for (int n = 0; n < 256; ++n) {
    if (n == 16) continue;
    std::vector<uint8_t> was = Entry(old, TileHeader::kPaletteBOffset, n);
    was[0] = 0;  // only the valid byte is cleared
    ASSERT_EQ(Entry(tile, TileHeader::kPaletteBOffset, n), was) << n;
  }

  // Posts: index 16 in byte 2 inside the region, nothing else changed anywhere.
  TileImage expected = old;
  SetIdentification(expected.header(), kKindElevation);
  std::copy(tile.header() + TileHeader::kPaletteBFlagOffset,
            tile.header() + TileHeader::kPaletteBFlagOffset + 4,
            expected.header() + TileHeader::kPaletteBFlagOffset);
  std::copy(tile.header() + TileHeader::kPaletteBOffset,
            tile.header() + TileHeader::kPaletteBOffset + 1024,
            expected.header() + TileHeader::kPaletteBOffset);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) expected.post(x, y)[2] = 16;
  }
  // Every block record takes the index bytes of its block's first post.
  for (int b = 0; b < kBlockCount; ++b) {
    const uint8_t* first = expected.bytes.data() + kHeaderBytes + b * kBlockBytes;
    expected.record(b)[2] = first[2];
    expected.record(b)[3] = first[3];
  }
  EXPECT_TRUE(tile.bytes == expected.bytes);
  EXPECT_TRUE(ReadFileBytes(scratch_) == tile.bytes);
}

TEST_F(ColorPostTest, NoCountedPostGivesAnEmptyPalette) {
  TileImage color = TileImage::Color();  // no alpha, no ambient colour
  color.set_rgba(1, 1, 200, 10, 10, 0);
  color.Save(color_);

  ASSERT_EQ(Run(TilePosts(kTx, kTy, 0, 3, 0, 3), 1.0, 0x102), 0);
  TileImage tile = TileImage::Load(elevation_);
  EXPECT_EQ(GetU32(tile.header() + TileHeader::kPaletteBFlagOffset), 1u);
  for (int n = 0; n < 256; ++n) EXPECT_EQ(Entry(tile, TileHeader::kPaletteBOffset, n)[0], 0);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(tile.post(x, y)[2], 0);
  }
}

// Palette A: nine colours in nine cells give indexes 1 to 9, each entry the colour of its
// posts' cell, stored in both nibbles of byte 3 with byte 2 untouched.
TEST_F(ColorPostTest, PaletteAStoresNibblesAndKeepsByteTwo) {
  const uint8_t reds[9] = {0, 40, 80, 120, 160, 200, 240, 20, 60};
  const uint8_t greens[9] = {0, 200, 40, 160, 80, 120, 0, 250, 100};
  TileImage color = TileImage::Color();
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 9; ++x) color.set_rgba(x, y, reds[x], greens[x], 30, 255);
  }
  color.Save(color_);
  TileImage old = TileImage::Elevation();
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 9; ++x) old.post(x, y)[2] = 0x5A;
  }
  old.Save(elevation_);

  ASSERT_EQ(Run(TilePosts(kTx, kTy, 0, 8, 0, 8), 2.5, 1), 0);
  TileImage tile = TileImage::Load(elevation_);
  EXPECT_EQ(GetU32(tile.header() + TileHeader::kPaletteAFlagOffset), 1u);
  EXPECT_EQ(GetU32(tile.header() + TileHeader::kPaletteBFlagOffset), 0u);
  std::set<int> indexes;
  for (int x = 0; x < 9; ++x) {
    const uint8_t stored = tile.post(x, 4)[3];
    const int index = stored & 0xF;
    EXPECT_EQ(stored, index * 17);
    EXPECT_EQ(tile.post(x, 4)[2], 0x5A);
    const std::vector<uint8_t> levels = Levels(2.5, reds[x], greens[x], 30);
    EXPECT_EQ(Entry(tile, TileHeader::kPaletteAOffset, index),
              (std::vector<uint8_t>{255, levels[2], levels[1], levels[0]}));
    indexes.insert(index);
  }
  EXPECT_EQ(indexes, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));  // 9 is stored as 0x99
  EXPECT_EQ(Entry(tile, TileHeader::kPaletteAOffset, 0)[0], 0);
  EXPECT_EQ(Entry(tile, TileHeader::kPaletteAOffset, 10)[0], 0);
}

// Flag bit 8: a post at elevation 0 still counts but gets index 0; 1 and -1 keep theirs.
TEST_F(ColorPostTest, SeaFlagGivesIndexZeroAtElevationZero) {
  TileImage color = TileImage::Color();
  color.set_rgba(0, 0, 250, 0, 0, 255);  // only at the sea post
  color.set_rgba(1, 0, 0, 0, 250, 255);
  color.set_rgba(2, 0, 0, 0, 250, 255);
  color.Save(color_);
  TileImage old = TileImage::Elevation();
  old.set_elevation(1, 0, 1);
  old.set_elevation(2, 0, -1);
  old.Save(elevation_);

  ASSERT_EQ(Run(TilePosts(kTx, kTy, 0, 2, 0, 0), 1.0, 0x102), 0);
  TileImage tile = TileImage::Load(elevation_);
  EXPECT_EQ(tile.post(0, 0)[2], 0);
  EXPECT_NE(tile.post(1, 0)[2], 0);
  EXPECT_EQ(tile.post(1, 0)[2], tile.post(2, 0)[2]);
  // Two boxes: the red of the sea post is in the palette.
  EXPECT_EQ(Entry(tile, TileHeader::kPaletteBOffset, 16)[0], 255);
  EXPECT_EQ(Entry(tile, TileHeader::kPaletteBOffset, 17)[0], 255);
  EXPECT_EQ(Entry(tile, TileHeader::kPaletteBOffset, 18)[0], 0);
  EXPECT_EQ(tile.elevation(2, 0), -1);
}

// A region over two tiles whose eastern colour and elevation tiles are missing: the colour
// tile reads as zeroes (announced once, in the counting pass), the elevation tile is created.
TEST_F(ColorPostTest, MissingTilesAcrossATileBorder) {
  TileImage color = TileImage::Color();
  color.set_rgba(1023, 5, 10, 200, 30, 255);
  color.Save(color_);

  Output o;
  ASSERT_EQ(Run(TilePosts(kTx, kTy, 1022, 1024 + 1, 5, 5), 2.5, 2, &o), 0);
  EXPECT_EQ(CountOf(o.out, "067_148.c32 opened  RO  (as zeroes)\n"), 1);
  EXPECT_EQ(CountOf(o.out, "066_148.c32 opened  RO\n"), 2);
  EXPECT_EQ(CountOf(o.out, "067_148     created RW\n"), 1);
  EXPECT_EQ(CountOf(o.out, "067_148.tmp created RW\n"), 1);
  EXPECT_EQ(o.err, "");

  TileImage east = TileImage::Load("067_148");
  ASSERT_EQ(east.bytes.size(), kElevationTileBytes);
  TileImage expected = TileImage::Elevation();
  SetIdentification(expected.header(), kKindElevation);
  PutU32(expected.header() + TileHeader::kPaletteBFlagOffset, 1);
  std::copy(east.header() + TileHeader::kPaletteBOffset,
            east.header() + TileHeader::kPaletteBOffset + 1024,
            expected.header() + TileHeader::kPaletteBOffset);
  EXPECT_TRUE(east.bytes == expected.bytes);  // every post index 0, everything else zero
  EXPECT_EQ(Entry(east, TileHeader::kPaletteBOffset, 16),
            Entry(expected, TileHeader::kPaletteBOffset, 16));
  EXPECT_EQ(Entry(east, TileHeader::kPaletteBOffset, 16)[0], 255);

  TileImage west = TileImage::Load(elevation_);
  EXPECT_EQ(west.post(1023, 5)[2], 16);
  EXPECT_EQ(west.post(1022, 5)[2], 0);
}

// The lines of the three passes over one tile: the counting pass's open, the index pass's two
// opens and its scratch tile, the trailer pass's 32 block rows, each pass with its row lines.
TEST_F(ColorPostTest, PrintsTheLinesOfItsThreePasses) {
  TileImage::Color().Save(color_);
  TileImage::Elevation().Save(elevation_);
  Output o;
  ASSERT_EQ(Run(TilePosts(kTx, kTy, 5, 40, 15, 48), 2.5, 2, &o), 0);

  const std::string tile_line = std::string(50, ' ') + "\n";
  const std::string rows = "y=16 of 48\ry=32 of 48\ry=48 of 48\r" + tile_line;
  std::string blocks;
  for (int r = 0; r < 32; ++r) blocks += "y=" + std::to_string(r) + " of 31\r";
  EXPECT_EQ(o.out, "066_148.c32 opened  RO\n" + rows +                              // counting
                       "066_148.c32 opened  RO\n066_148     opened  RW\n" + rows +  // index
                       "066_148.tmp created RW\n" +                                 // scratch
                       "066_148.tmp opened  RW\n" + blocks + tile_line +            // trailer
                       "066_148     opened  RW\n");
  EXPECT_EQ(o.err, "");
}

TEST_F(ColorPostTest, UnwritableElevationTileIsReported) {
  std::filesystem::create_directory(elevation_);  // a directory cannot be opened read-write
  Output o;
  EXPECT_EQ(Run(TilePosts(kTx, kTy, 0, 1, 0, 1), 2.5, 2, &o), -1);
  EXPECT_NE(o.err.find("trn_color_post: Can't open 066_148\n"), std::string::npos) << o.err;
  EXPECT_FALSE(Exists(scratch_));

  // Found while counting, before the tile west of it is written.
  std::filesystem::remove(elevation_);
  std::filesystem::create_directory("067_148");
  EXPECT_EQ(Run(TilePosts(kTx, kTy, 1023, 1024, 0, 1), 2.5, 2, &o), -1);
  EXPECT_NE(o.err.find("trn_color_post: Can't open 067_148\n"), std::string::npos) << o.err;
  EXPECT_FALSE(Exists(elevation_));
  EXPECT_FALSE(Exists(scratch_));
}

// ---------------------------------------------------------------------------------------------
// Posts outside the region in the tiles it touches

// A tile that an earlier call indexed: region posts 0..7 x 0..7 at elevation 5, its other posts
// at elevation 0, some of them indexed into the palette the call replaces.
class OutsidePostsTest : public ColorPostTest {
 protected:
  struct Layout {
    uint32_t flag, entries;
    int first;
    uint32_t byte, other_byte;  // of the post: this palette's index byte, the other palette's
    int step;                   // the stored byte of index i is i * step
  };
  static Layout LayoutOf(int flags) {
    if (flags & kColorPostPaletteA) {
      return {TileHeader::kPaletteAFlagOffset, TileHeader::kPaletteAOffset, 1, 3, 2, 0x11};
    }
    return {TileHeader::kPaletteBFlagOffset, TileHeader::kPaletteBOffset, 16, 2, 3, 1};
  }
  // The previous palette's entries, by index past the first: two colours that outside posts
  // show, one entry without colour, and the colour of the region posts' old index. Each colour is
  // a cell's lowest levels, as a one-cell box gives it.
  static constexpr uint8_t kShown1[3] = {16, 60, 40}, kShown2[3] = {200, 10, 248};
  static constexpr uint8_t kRegionOld[3] = {12, 250, 0};
  static constexpr int kFirstShown = 1, kSecondShown = 2, kNoColour = 3, kRegionOldIndex = 4;
  // Outside posts and the index past the first that each holds; -1 for index 0.
  struct Outside {
    int x, y, index;
  };
  static constexpr Outside kIndexed[] = {
      {100, 100, kFirstShown}, {500, 900, kFirstShown}, {32, 0, kSecondShown},
      {8, 0, kSecondShown},    {0, 8, kNoColour},       {9, 9, -1},
  };
  static constexpr int kRegionLast = 7;
  const Corners region_ = TilePosts(kTx, kTy, 0, kRegionLast, 0, kRegionLast);

  // Entry `index` past the first: the colour, or an entry without colour when null.
  static void SetEntry(TileImage& tile, const Layout& l, int index, const uint8_t* rgb) {
    static constexpr uint8_t kLeftOver[3] = {77, 77, 77};  // what an entry without colour keeps
    const uint8_t* c = rgb != nullptr ? rgb : kLeftOver;
    uint8_t* e = tile.header() + l.entries + 4 * (l.first + index);
    e[0] = rgb != nullptr ? 255 : 0;
    e[1] = c[2];
    e[2] = c[1];
    e[3] = c[0];
  }
  static uint8_t StoredByte(const Layout& l, int index) {
    return index < 0 ? 0 : static_cast<uint8_t>((l.first + index) * l.step);
  }
  static std::vector<uint8_t> Colour(TileImage& tile, const Layout& l, uint8_t stored) {
    const uint8_t* e = tile.header() + l.entries + 4 * (stored / l.step);
    return {e[0], e[3], e[2], e[1]};  // valid, red, green, blue
  }
  static std::vector<uint8_t> Valid(const uint8_t* rgb) { return {255, rgb[0], rgb[1], rgb[2]}; }
  static int ValidEntries(TileImage& tile, const Layout& l) {
    int n = 0;
    for (int i = 0; i < 256; ++i) n += tile.header()[l.entries + 4 * i] != 0;
    return n;
  }

  // The colour tile (one colour over the region) and the elevation tile before the call, with
  // the built palette's flag as given.
  void WriteTiles(int flags, uint32_t flag, bool outside_indexes) {
    TileImage color = TileImage::Color();
    for (int y = 0; y <= kRegionLast; ++y) {
      for (int x = 0; x <= kRegionLast; ++x) color.set_rgba(x, y, 128, 64, 16, 255);
    }
    color.Save(color_);

    const Layout l = LayoutOf(flags);
    TileImage old = TileImage::Elevation();
    PutU32(old.header() + l.flag, flag);
    SetEntry(old, l, kFirstShown, kShown1);
    SetEntry(old, l, kSecondShown, kShown2);
    SetEntry(old, l, kNoColour, nullptr);
    SetEntry(old, l, kRegionOldIndex, kRegionOld);
    for (int y = 0; y <= kRegionLast; ++y) {
      for (int x = 0; x <= kRegionLast; ++x) {
        old.set_elevation(x, y, 5);
        old.post(x, y)[l.byte] = StoredByte(l, kRegionOldIndex);
      }
    }
    if (outside_indexes) {
      for (const Outside& o : kIndexed) old.post(o.x, o.y)[l.byte] = StoredByte(l, o.index);
    }
    old.post(10, 10)[l.byte] = 0x32;  // an entry of palette B without colour, no index of A
    old.post(100, 100)[l.other_byte] = 0x5A;
    old.Save(elevation_);
  }
};

// Each call on the elevation tile while counting its outside posts (its open, the reads of its
// header and its posts, its close) that fails once stops the pass with its report, before any
// tile is written.
TEST_F(OutsidePostsTest, FailuresWhileCountingStopThePassBeforeAnyWrite) {
  using tilefile_test::Call;
  const struct {
    Call call;
    int skip;  // calls of its kind before it: the colour tile's open, reads and close
    const char* verb;
  } cases[] = {
      {Call::kOpen, 1, "open"},
      {Call::kRead, 2, "read"},
      {Call::kRead, 3, "read"},
      {Call::kClose, 1, "close"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.verb) + " after " + std::to_string(c.skip));
    WriteTiles(kColorPostPaletteB, TileHeader::kPaletteFlagSet, true);
    const std::vector<uint8_t> old = ReadFileBytes(elevation_);
    Output o;
    {
      tilefile_test::ScopedFaults faults;
      faults.Fail(c.call, EIO, c.skip);
      EXPECT_EQ(Run(region_, 2.5, kColorPostPaletteB, &o), -1);
    }
    EXPECT_EQ(o.err, "trn_color_post: " + std::string(std::strerror(EIO)) +
                         "\ntrn_color_post: Can't " + c.verb + " 066_148\n");
    EXPECT_TRUE(ReadFileBytes(elevation_) == old);
    EXPECT_FALSE(Exists(scratch_));
  }
}

// The colour that an indexed outside post showed is counted with the region's colours and its
// post indexed anew: it shows the same colour afterwards, with either palette and with either
// caller's gamma (the entry's levels taken as they stand, not through the gamma curve again).
// Posts with index 0, bytes that index no colour and the region posts' old indexes count for
// nothing and, outside the region, stay. The sea flag gives index 0 to region posts alone: an
// outside post at elevation 0 keeps the colour it showed.
TEST_F(OutsidePostsTest, IndexedPostsKeepTheirColours) {
  const struct {
    double gamma;
    int flags;
  } cases[] = {{1.0, 0x102}, {2.5, 2}, {2.5, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE("gamma " + std::to_string(c.gamma) + ", flags " + std::to_string(c.flags));
    const Layout l = LayoutOf(c.flags);
    WriteTiles(c.flags, TileHeader::kPaletteFlagSet, true);
    const TileImage old = TileImage::Load(elevation_);
    ASSERT_EQ(Run(region_, c.gamma, c.flags), 0);
    TileImage tile = TileImage::Load(elevation_);

    EXPECT_EQ(ValidEntries(tile, l), 3);  // the region's colour and the two shown outside
    const std::vector<uint8_t> levels = Levels(c.gamma, 128, 64, 16);
    EXPECT_EQ(Colour(tile, l, tile.post(0, 0)[l.byte]),
              (std::vector<uint8_t>{255, levels[0], levels[1], levels[2]}));
    EXPECT_EQ(Colour(tile, l, tile.post(100, 100)[l.byte]), Valid(kShown1));
    EXPECT_EQ(tile.post(500, 900)[l.byte], tile.post(100, 100)[l.byte]);
    EXPECT_EQ(Colour(tile, l, tile.post(8, 0)[l.byte]), Valid(kShown2));
    EXPECT_EQ(tile.post(32, 0)[l.byte], tile.post(8, 0)[l.byte]);

    // Only those index bytes change, and the block records follow their first posts.
    TileImage expected = old;
    SetIdentification(expected.header(), kKindElevation);
    std::copy(tile.header() + l.flag, tile.header() + l.flag + 4, expected.header() + l.flag);
    std::copy(tile.header() + l.entries, tile.header() + l.entries + 1024,
              expected.header() + l.entries);
    for (int y = 0; y <= kRegionLast; ++y) {
      for (int x = 0; x <= kRegionLast; ++x) expected.post(x, y)[l.byte] = tile.post(0, 0)[l.byte];
    }
    for (const auto& [x, y] : {std::pair{100, 100}, {500, 900}, {8, 0}, {32, 0}}) {
      expected.post(x, y)[l.byte] = tile.post(x, y)[l.byte];
    }
    for (int b = 0; b < kBlockCount; ++b) {
      const uint8_t* first = expected.bytes.data() + kHeaderBytes + b * kBlockBytes;
      expected.record(b)[2] = first[2];
      expected.record(b)[3] = first[3];
    }
    EXPECT_TRUE(tile.bytes == expected.bytes);
  }
}

// Where no outside post shows a colour of the palette the call replaces (the tile held none, or
// every outside post has index 0 or an index without colour), the outside posts neither count
// nor change: the palette is the region's alone, and a second call over the same region writes
// what the first wrote.
TEST_F(OutsidePostsTest, PostsOfATileWithoutPaletteOrIndexesStay) {
  const struct {
    const char* what;
    uint32_t flag;
    bool outside_indexes;
  } cases[] = {
      {"no palette", 0, true},
      {"a palette flag other than 1", 2, true},
      {"no outside index with a colour", TileHeader::kPaletteFlagSet, false},
  };
  const Layout l = LayoutOf(kColorPostPaletteB);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteTiles(kColorPostPaletteB, c.flag, c.outside_indexes);
    TileImage old = TileImage::Load(elevation_);
    ASSERT_EQ(Run(region_, 2.5, kColorPostPaletteB), 0);
    TileImage tile = TileImage::Load(elevation_);
    EXPECT_EQ(ValidEntries(tile, l), 1);
    for (const Outside& o : kIndexed) {
      EXPECT_EQ(tile.post(o.x, o.y)[l.byte], old.post(o.x, o.y)[l.byte]) << o.x << "," << o.y;
    }
    EXPECT_EQ(tile.post(10, 10)[l.byte], 0x32);

    ASSERT_EQ(Run(region_, 2.5, kColorPostPaletteB), 0);
    EXPECT_TRUE(ReadFileBytes(elevation_) == tile.bytes);
  }
}

}  // namespace
