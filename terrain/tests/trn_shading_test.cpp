#include "trn_shading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tiledb.h"
#include "trn_passes_fixture.h"

namespace {

// Zero intensity: red 40, green 55, blue 20; full intensity: red 140, green 180, blue 105.
constexpr uint8_t kColors[kShadeColorsSize] = {0, 20, 55, 40, 0, 105, 180, 140};

using Rgba = std::vector<uint8_t>;

class ShadingTest : public TerrainDirTest {
 protected:
  static constexpr int kTx = 66, kTy = 148;
  const std::string color_ = ColorTileName(kTx, kTy);

  // Posts (0, 0) .. (3, 0): flat land, a rising slope, a coloured post on that slope, sea.
  void WriteTiles() {
    TileImage elevation = TileImage::Elevation();
    elevation.set_elevation(0, 0, 100);
    elevation.set_elevation(1, 0, 100);
    elevation.set_elevation(2, 0, 136);
    elevation.set_elevation(3, 0, 100);
    elevation.set_elevation(4, 0, 136);
    elevation.set_elevation(10, 0, 500);  // a fall to the sea at (11, 0)
    elevation.set_elevation(31, 0, 100);  // a rise across a block border
    elevation.set_elevation(32, 0, 136);
    elevation.Save(ElevationTileName(kTx, kTy));
    TileImage color = TileImage::Color();
    color.set_rgba(3, 0, 200, 100, 8, 90);
    color.set_rgba(5, 0, 200, 100, 8, 90);     // sea, coloured
    color.set_rgba(1, 1, 200, 200, 200, 255);  // outside the region
    color.Save(color_);
  }

  TileImage Shade(double hours, Output* output = nullptr) {
    int result = 0;
    Output o = Capture(
        [&] { result = TilePosts(kTx, kTy, 0, 31, 0, 0).Run(trn_shading, kColors, hours); });
    EXPECT_EQ(result, 0) << o.err;
    if (output != nullptr) *output = o;
    return TileImage::Load(color_);
  }

  static Rgba Post(TileImage& t, int x, int y) {
    const uint8_t* p = t.post(x, y);
    return {p[0], p[1], p[2], p[3]};
  }
  static Rgba Ambient(TileImage& t) {
    const uint8_t* p = t.header() + TileHeader::kAmbientColorOffset;
    return {p[0], p[1], p[2], p[3]};
  }
};

TEST_F(ShadingTest, NoonLightsFlatGroundFully) {
  WriteTiles();
  Output o;
  TileImage t = Shade(12, &o);
  EXPECT_EQ(Post(t, 0, 0), (Rgba{140, 180, 105, 255}));  // flat, no colour
  EXPECT_EQ(Ambient(t), (Rgba{255, 105, 180, 140}));     // the full-intensity colour
  // s = 90 over a run of 90: i = 0.7071.
  EXPECT_EQ(Post(t, 1, 0), (Rgba{110, 143, 80, 255}));
  EXPECT_EQ(Post(t, 3, 0), (Rgba{148, 74, 5, 90}));
  EXPECT_EQ(Post(t, 31, 0), (Rgba{110, 143, 80, 255}));
  EXPECT_EQ(Post(t, 5, 0), (Rgba{0, 0, 0, 0}));          // sea is cleared, colour or not
  EXPECT_EQ(Post(t, 1, 1), (Rgba{200, 200, 200, 255}));  // outside the region: kept
  EXPECT_EQ(GetU32(t.header()), TileHeader::kMagic);
  EXPECT_EQ(GetU32(t.header() + 4), kKindColor);
  EXPECT_EQ(t.bytes.size(), kColorTileBytes);
  EXPECT_EQ(o.out.rfind("066_148     opened  RO\n067_148     opened  RO  (as zeroes)\n"
                        "066_148.c32 opened  RW\ny=0 of 0\r",
                        0),
            0u)
      << o.out;
}

TEST_F(ShadingTest, SixHoursGivesZeroIntensityAndAmbientOneBelow) {
  WriteTiles();
  TileImage t = Shade(6);
  // cos a is a hair below 0 at 6 h: the ambient channels come out one below the zero colour.
  EXPECT_EQ(Ambient(t), (Rgba{255, 19, 54, 39}));
  EXPECT_EQ(Post(t, 0, 0), (Rgba{40, 55, 20, 255}));
  EXPECT_EQ(Post(t, 3, 0)[0], 25);  // 200 darkened to one eighth
}

TEST_F(ShadingTest, TimesAreClampedToSixAndEighteen) {
  struct Case {
    double time, clamped;
  } cases[] = {{3, 6}, {21, 18}};
  for (const Case& c : cases) {
    WriteTiles();
    const std::vector<uint8_t> outside = Shade(c.time).bytes;
    WriteTiles();
    EXPECT_TRUE(Shade(c.clamped).bytes == outside) << c.time;
  }
}

// At 9 h the sun stands in the east: a slope rising eastward faces away, a slope falling
// eastward faces it (i = 0.756); at 15 h the falling slope is dark.
TEST_F(ShadingTest, MorningAndAfternoonSun) {
  WriteTiles();
  TileImage morning = Shade(9);
  EXPECT_EQ(Post(morning, 1, 0), (Rgba{40, 55, 20, 255}));
  EXPECT_EQ(Post(morning, 10, 0), (Rgba{115, 149, 84, 255}));
  WriteTiles();
  TileImage afternoon = Shade(15);
  EXPECT_EQ(Post(afternoon, 10, 0), (Rgba{40, 55, 20, 255}));
  EXPECT_EQ(Post(afternoon, 11, 0), (Rgba{0, 0, 0, 0}));  // 0 and 0: sea
}

// The last column's slope is taken against column 0 of the tile to the east; a missing east
// tile counts as elevation 0.
TEST_F(ShadingTest, LastColumnAgainstTheEastTile) {
  TileImage own = TileImage::Elevation();
  own.set_elevation(1023, 7, 100);
  own.Save(ElevationTileName(kTx, kTy));
  const Corners last = TilePosts(kTx, kTy, 1023, 1023, 7, 7);

  ASSERT_EQ(Capture([&] { last.Run(trn_shading, kColors, 12.0); }).err, "");
  TileImage falling = TileImage::Load(color_);
  EXPECT_EQ(Post(falling, 1023, 7), (Rgba{73, 97, 48, 255}));  // s = -250

  TileImage east = TileImage::Elevation();
  east.set_elevation(0, 7, 136);
  east.Save(ElevationTileName(kTx + 1, kTy));
  std::filesystem::remove(color_);
  Capture([&] { last.Run(trn_shading, kColors, 12.0); });
  TileImage t = TileImage::Load(color_);
  EXPECT_EQ(Post(t, 1023, 7), (Rgba{110, 143, 80, 255}));
  // The new colour tile holds nothing outside the region.
  t.post(1023, 7)[0] = t.post(1023, 7)[1] = t.post(1023, 7)[2] = t.post(1023, 7)[3] = 0;
  EXPECT_TRUE(
      std::all_of(t.bytes.begin() + kHeaderBytes, t.bytes.end(), [](uint8_t b) { return b == 0; }));
}

// A tile shorter than a whole tile reads as zeroes past its end: here the east tile ends
// inside its first block row, so column 0 holds 136 in row 7 and counts as 0 in row 40.
TEST_F(ShadingTest, ShortEastTileReadsAsZeroesPastItsEnd) {
  TileImage own = TileImage::Elevation();
  own.set_elevation(1023, 7, 100);
  own.set_elevation(1023, 40, 100);
  own.Save(ElevationTileName(kTx, kTy));
  TileImage east = TileImage::Elevation();
  east.set_elevation(0, 7, 136);
  east.set_elevation(0, 40, 136);
  east.bytes.resize(PostOffset(0, 8));
  east.Save(ElevationTileName(kTx + 1, kTy));

  Capture([&] { TilePosts(kTx, kTy, 1023, 1023, 7, 40).Run(trn_shading, kColors, 12.0); });
  TileImage t = TileImage::Load(color_);
  EXPECT_EQ(Post(t, 1023, 7), (Rgba{110, 143, 80, 255}));
  EXPECT_EQ(Post(t, 1023, 40), (Rgba{73, 97, 48, 255}));  // s = -250, as against a missing tile
}

// Half a post spacing east of a post no column lies in the region: the row lines and the
// header are written, no post.
TEST_F(ShadingTest, RegionWithoutColumnsShadesNoPost) {
  WriteTiles();
  const double lon = PostLon(int64_t{kTx} * kTilePosts + 5) + kPostSpacing / 2;
  const Corners region{lon, PostLat(int64_t{kTy} * kTilePosts), lon,
                       PostLat(int64_t{kTy} * kTilePosts + 8)};
  const std::vector<uint8_t> before = ReadFileBytes(color_);
  const Output o = region.RunExpecting(0, trn_shading, kColors, 12.0);
  EXPECT_NE(o.out.find("y=0 of 8\ry=4 of 8\ry=8 of 8\r" + std::string(50, ' ') + "\n"),
            std::string::npos)
      << o.out;
  TileImage t = TileImage::Load(color_);
  EXPECT_EQ(Ambient(t), (Rgba{255, 105, 180, 140}));
  EXPECT_TRUE(
      std::equal(t.bytes.begin() + kHeaderBytes, t.bytes.end(), before.begin() + kHeaderBytes));
}

TEST_F(ShadingTest, UnwritableColorTileIsReported) {
  std::filesystem::create_directory(color_);
  const Output o = TilePosts(kTx, kTy, 0, 1, 0, 1).RunExpecting(-1, trn_shading, kColors, 12.0);
  EXPECT_NE(o.err.find("trn_shading: Can't open 066_148.c32\n"), std::string::npos) << o.err;
}

}  // namespace
