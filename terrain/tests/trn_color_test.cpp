#include "trn_color.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "terrain_fixture.h"
#include "tiledb.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

constexpr int64_t kX = 67584 + 100, kY = 151552 + 100;  // inside tile (66, 148)
constexpr double kS = kPostSpacing;

// Runs the pass over the box of posts kX..kX+w, kY..kY+h with the corners in south-west,
// south-east, north-west, north-east order (record 0 the southern row, values eastward).
int RunColor(const char* grid, int ncols, int nrows, int w, int h, double gamma = 1.0,
             double west_offset = 0) {
  CaptureStdout();
  const double lw = PostLon(kX) + west_offset, ls = PostLat(kY);
  const double le = PostLon(kX + w), ln = PostLat(kY + h);
  const int result = trn_color(lw, ls, le, ls, lw, ln, le, ln, grid, ncols, nrows, gamma);
  GetCapturedStdout();
  return result;
}

std::array<uint8_t, 4> Post(const std::vector<uint8_t>& tile, int64_t X, int64_t Y) {
  const uint8_t* p =
      PostAt(tile.data(), static_cast<int>(X & kTileMask), static_cast<int>(Y & kTileMask));
  return {p[0], p[1], p[2], p[3]};
}

void SetPost(std::vector<uint8_t>& tile, int64_t X, int64_t Y, std::array<uint8_t, 4> rgba) {
  uint8_t* p =
      PostAt(tile.data(), static_cast<int>(X & kTileMask), static_cast<int>(Y & kTileMask));
  for (int k = 0; k < 4; ++k) p[k] = rgba[k];
}

using ColorPass = TerrainDirTest;

TEST(GammaTable, FromTheCallsGamma) {
  CaptureStderr();
  trn_color(0, 0, 0, 0, 0, 0, 0, 0, "", 0, 0, 2.0);  // refused, but the table is built
  GetCapturedStderr();
  const auto& g = trn_color_gamma_table();
  EXPECT_EQ(g[0], 0);
  EXPECT_EQ(g[128], 180);
  EXPECT_EQ(g[64], 127);
  EXPECT_EQ(g[255], 255);
  CaptureStderr();
  trn_color(0, 0, 0, 0, 0, 0, 0, 0, "", 0, 0, 1.0);
  GetCapturedStderr();
  // 1/255 is taken a hair low, so some entries come out one below their index.
  EXPECT_EQ(g[32], 32);
  EXPECT_EQ(g[33], 32);
  EXPECT_EQ(g[128], 128);
  EXPECT_EQ(g[255], 255);
}

TEST_F(ColorPass, NewTileTakesTheColourAndARepeatDoublesAlpha) {
  // Two records of two values; every cell alpha 250 except one of 100.
  WriteGrid("grid", {Rgba(200, 100, 33, 250), Rgba(200, 100, 33, 250), Rgba(200, 100, 33, 250),
                     Rgba(10, 20, 30, 100)});
  ASSERT_EQ(RunColor("grid", 2, 2, 10, 10), 0);
  std::vector<uint8_t> tile = ReadFileBytes("066_148.c32");
  ASSERT_EQ(tile.size(), kColorTileBytes);
  std::vector<uint8_t> id(kHeaderBytes);
  SetIdentification(id.data(), kKindColor);
  EXPECT_TRUE(std::equal(id.begin(), id.end(), tile.begin()));
  // Corner 1 takes c(0, 0) through the gamma table (33 -> 32 at gamma 1.0), alpha unchanged.
  EXPECT_EQ(Post(tile, kX, kY), (std::array<uint8_t, 4>{200, 100, 32, 250}));
  EXPECT_EQ(Post(tile, kX + 10, kY + 10), (std::array<uint8_t, 4>{10, 20, 30, 100}));
  EXPECT_EQ(Post(tile, kX - 1, kY), (std::array<uint8_t, 4>{0, 0, 0, 0}));
  const std::vector<uint8_t> first = tile;

  ASSERT_EQ(RunColor("grid", 2, 2, 10, 10), 0);
  tile = ReadFileBytes("066_148.c32");
  EXPECT_EQ(Post(tile, kX, kY), (std::array<uint8_t, 4>{200, 100, 32, 255}));
  EXPECT_EQ(Post(tile, kX + 10, kY + 10), (std::array<uint8_t, 4>{10, 20, 30, 200}));
  // Everywhere the colours stay and the alpha doubles, up to 255.
  for (int64_t Y = kY; Y <= kY + 10; ++Y) {
    for (int64_t X = kX; X <= kX + 10; ++X) {
      const auto a = Post(first, X, Y), b = Post(tile, X, Y);
      ASSERT_EQ((std::array<uint8_t, 3>{a[0], a[1], a[2]}),
                (std::array<uint8_t, 3>{b[0], b[1], b[2]}))
          << X << "," << Y;
      ASSERT_EQ(b[3], std::min(2 * a[3], 255));
    }
  }
}

TEST_F(ColorPass, BlendsWithTheOldColourAndClearsPostsWithoutData) {
  std::vector<uint8_t> old(kColorTileBytes);
  for (int64_t Y = kY; Y <= kY + 10; ++Y) {
    for (int64_t X = kX; X <= kX + 10; ++X) SetPost(old, X, Y, {40, 50, 60, 100});
  }
  SetPost(old, kX + 20, kY, {1, 2, 3, 4});  // outside the region
  WriteFileBytes("066_148.c32", old);
  // Alpha falls from 250 in the west to 0 in the east; the northern record has no data.
  WriteGrid("grid", {Rgba(240, 0, 0, 250), Rgba(240, 0, 0, 0), 0, 0});
  ASSERT_EQ(RunColor("grid", 2, 2, 10, 10), 0);
  const std::vector<uint8_t> tile = ReadFileBytes("066_148.c32");
  // South-west: (240 * 250 + 40 * 100) / 350 = 182, (50 * 100) / 350 = 14, 60 * 100 / 350 = 17.
  EXPECT_EQ(Post(tile, kX, kY), (std::array<uint8_t, 4>{182, 14, 17, 255}));
  // Half way east: alpha 125, (240 * 125 + 40 * 100) / 225 = 151.
  EXPECT_EQ(Post(tile, kX + 5, kY), (std::array<uint8_t, 4>{151, 22, 26, 225}));
  // Four cells without data clear the post, whatever it held.
  EXPECT_EQ(Post(tile, kX + 10, kY + 10), (std::array<uint8_t, 4>{0, 0, 0, 0}));
  EXPECT_EQ(Post(tile, kX + 20, kY), (std::array<uint8_t, 4>{1, 2, 3, 4}));
}

TEST_F(ColorPass, BlendWithCancellingWeightsClearsThePost) {
  // 100,001 values along the east-west edge: a post 0.006 of a spacing west of the grid lies
  // half a value before value 0, where the alpha extrapolates to 0 - 10 / 2 = -5.
  std::vector<int32_t> values(100001, Rgba(90, 90, 90, 10));
  values[0] = Rgba(90, 90, 90, 0);
  WriteGrid("grid", values);
  std::vector<uint8_t> old(kColorTileBytes);
  SetPost(old, kX, kY + 1, {70, 70, 70, 5});  // old alpha 5: the blend's divisor is 0
  SetPost(old, kX, kY + 2, {70, 70, 70, 9});  // old alpha 9: divisor 4
  SetPost(old, kX, kY + 3, {70, 70, 70, 3});  // old alpha 3: the weights sum to -2
  WriteFileBytes("066_148.c32", old);
  ASSERT_EQ(RunColor("grid", 1, 100001, 1200, 4, 1.0, 0.006 * kS), 0);
  const std::vector<uint8_t> tile = ReadFileBytes("066_148.c32");
  EXPECT_EQ(Post(tile, kX, kY + 1), (std::array<uint8_t, 4>{0, 0, 0, 0}));
  EXPECT_EQ(Post(tile, kX, kY + 3), (std::array<uint8_t, 4>{0, 0, 0, 0}));
  // (89 * -5 + 70 * 9) / 4 = 46, alpha 4.
  EXPECT_EQ(Post(tile, kX, kY + 2), (std::array<uint8_t, 4>{46, 46, 46, 4}));
}

TEST_F(ColorPass, HugeGridIndexesStayInsideTheGrid) {
  // 300,001 values: the tolerance band spans 1.5 values beyond each end of the grid, and the
  // posts there read the values at the grid's ends.
  std::vector<int32_t> values(300001, Rgba(102, 102, 102, 200));
  values.back() = Rgba(204, 204, 204, 100);
  WriteGrid("grid", values);
  CaptureStdout();
  const double w = PostLon(kX) + 0.005 * kS, e = PostLon(kX + 1000) - 0.005 * kS;
  const double s = PostLat(kY), n = PostLat(kY + 2);
  ASSERT_EQ(trn_color(w, s, e, s, w, n, e, n, "grid", 1, 300001, 1.0), 0);
  GetCapturedStdout();
  const uint8_t g102 = trn_color_gamma_table()[102], g204 = trn_color_gamma_table()[204];
  EXPECT_EQ(Post(ReadFileBytes("066_148.c32"), kX, kY + 1),
            (std::array<uint8_t, 4>{g102, g102, g102, 200}));
  EXPECT_EQ(Post(ReadFileBytes("067_148.c32"), kX + 1000, kY + 1),
            (std::array<uint8_t, 4>{g204, g204, g204, 100}));
}

TEST_F(ColorPass, FailuresAreReportedAndReturnMinusOne) {
  CaptureStderr();
  EXPECT_EQ(RunColor("nogrid", 2, 2, 1, 1), -1);
  EXPECT_EQ(GetCapturedStderr(),
            "trn_color: No such file or directory\ntrn_color: Can't open nogrid\n");
  WriteGrid("grid", {1, 2, 3, 4});
  CaptureStderr();
  EXPECT_EQ(RunColor("grid", 2, 0, 1, 1), -1);
  EXPECT_EQ(GetCapturedStderr(), "trn_color: bad grid size 2 x 0\n");
  // 2^32 bytes of grid: more than the allocator's 32-bit count.
  CaptureStderr();
  EXPECT_EQ(RunColor("grid", 65536, 16384, 1, 1), -1);
  EXPECT_EQ(GetCapturedStderr(), "trn_color: Cannot allocate memory\n");
  EXPECT_FALSE(std::filesystem::exists("066_148.c32"));
  std::filesystem::create_directory("066_148.c32");
  CaptureStderr();
  EXPECT_EQ(RunColor("grid", 2, 2, 1, 1), -1);
  EXPECT_EQ(GetCapturedStderr(), "trn_color: Is a directory\ntrn_color: Can't open 066_148.c32\n");
}

}  // namespace
