#include "trn_color.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "support/Truncate.h"
#include "terrain_fixture.h"
#include "testsupport/Tolerances.h"
#include "tiledb.h"

namespace {

constexpr int64_t kX = 67584 + 100, kY = 151552 + 100;  // inside tile (66, 148)
constexpr double kS = kPostSpacing;

// Runs the pass over the box of posts kX..kX+w, kY..kY+h with the corners in south-west,
// south-east, north-west, north-east order (record 0 the southern row, values eastward).
int RunColor(const char* grid, int ncols, int nrows, int w, int h, double gamma = 1.0,
             double west_offset = 0) {
  const double lw = PostLon(kX) + west_offset, ls = PostLat(kY);
  const double le = PostLon(kX + w), ln = PostLat(kY + h);
  int result = 0;
  CaptureStdout(
      [&] { result = trn_color(lw, ls, le, ls, lw, ln, le, ln, grid, ncols, nrows, gamma); });
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
  // Refused, but the table is built.
  CaptureStderr([] { trn_color(0, 0, 0, 0, 0, 0, 0, 0, "", 0, 0, 2.0); });
  const auto& g = trn_color_gamma_table();
  EXPECT_EQ(g[0], 0);
  EXPECT_EQ(g[128], 180);
  EXPECT_EQ(g[64], 127);
  EXPECT_EQ(g[255], 255);
  CaptureStderr([] { trn_color(0, 0, 0, 0, 0, 0, 0, 0, "", 0, 0, 1.0); });
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

TEST_F(ColorPass, ExtrapolatedAlphaAboveAByteIsHeldAt255) {
  // Half a value before value 0, an alpha falling from 255 to 252 extrapolates to
  // trunc(255 + 3 / 2) = 256: a post without colour takes the grid's colour with alpha 255, not
  // the low byte of 256.
  std::vector<int32_t> values(100001, Rgba(90, 90, 90, 252));
  values[0] = Rgba(90, 90, 90, 255);
  WriteGrid("grid", values);
  ASSERT_EQ(RunColor("grid", 1, 100001, 1200, 4, 1.0, 0.006 * kS), 0);
  const uint8_t g90 = trn_color_gamma_table()[90];
  EXPECT_EQ(Post(ReadFileBytes("066_148.c32"), kX, kY + 1),
            (std::array<uint8_t, 4>{g90, g90, g90, 255}));
}

TEST_F(ColorPass, HugeGridIndexesStayInsideTheGrid) {
  // 300,001 values: the tolerance band spans 1.5 values beyond each end of the grid, and the
  // posts there read the values at the grid's ends.
  std::vector<int32_t> values(300001, Rgba(102, 102, 102, 200));
  values.back() = Rgba(204, 204, 204, 100);
  WriteGrid("grid", values);
  const double w = PostLon(kX) + 0.005 * kS, e = PostLon(kX + 1000) - 0.005 * kS;
  const double s = PostLat(kY), n = PostLat(kY + 2);
  int result = -1;
  CaptureStdout([&] { result = trn_color(w, s, e, s, w, n, e, n, "grid", 1, 300001, 1.0); });
  ASSERT_EQ(result, 0);
  const uint8_t g102 = trn_color_gamma_table()[102], g204 = trn_color_gamma_table()[204];
  EXPECT_EQ(Post(ReadFileBytes("066_148.c32"), kX, kY + 1),
            (std::array<uint8_t, 4>{g102, g102, g102, 200}));
  EXPECT_EQ(Post(ReadFileBytes("067_148.c32"), kX + 1000, kY + 1),
            (std::array<uint8_t, 4>{g204, g204, g204, 100}));
}

// The colour pass's steps for one post, taken one by one: the post's new four bytes, or false
// when the post lies outside the grid and stays as it was.
struct ColorModel {
  double c[8];  // lon1, lat1 .. lon4, lat4
  const std::vector<int32_t>& grid;
  int ncols, nrows;
  const std::array<uint8_t, 256>& gamma;

  int Byte(int i, int j, int k) const {
    return (static_cast<uint32_t>(grid[size_t(i) * size_t(nrows) + size_t(j)]) >> (8 * k)) & 0xFF;
  }
  int Lerp(int from, int to, double t) const { return TruncateToInt32(from + (to - from) * t); }

  bool Post(int64_t X, int64_t Y, std::array<uint8_t, 4>& post) const {
    const double lon1 = c[0], lat1 = c[1], lon2 = c[2], lat2 = c[3];
    const double lon3 = c[4], lat3 = c[5], lon4 = c[6], lat4 = c[7];
    const double phi = PostLat(Y), lambda = PostLon(X);
    double P, Q, R, S;
    if (std::fabs(lon3 - lon1) > std::fabs(lon2 - lon1)) {
      P = (phi - lat1) / (lat2 - lat1), Q = (phi - lat3) / (lat4 - lat3) - P;
      R = (lambda - lon1) / (lon3 - lon1), S = (lambda - lon2) / (lon4 - lon2) - R;
    } else {
      P = (phi - lat1) / (lat3 - lat1), Q = (phi - lat2) / (lat4 - lat2) - P;
      R = (lambda - lon1) / (lon2 - lon1), S = (lambda - lon3) / (lon4 - lon3) - R;
    }
    const double D = 1 - S * Q, u = (P + R * Q) / D, v = (R + S * P) / D;
    if (!kyte::testsupport::InGridBand(u, v)) return false;
    const double fi = (ncols - 1) * u;
    const int i0 = static_cast<int>(std::floor(fi));
    const double a = fi - i0;
    const int ri0 = std::max(i0, 0), ri1 = std::min(i0 + 1, ncols - 1);
    const double fj = (nrows - 1) * v;
    const int j0 = std::max(static_cast<int>(std::floor(fj)), 0);
    const double b = fj - j0;
    const int rj0 = std::min(j0, nrows - 1), rj1 = std::min(j0 + 1, nrows - 1);
    auto channel = [&](int k, auto map) {
      return Lerp(Lerp(map(Byte(ri0, rj0, k)), map(Byte(ri0, rj1, k)), b),
                  Lerp(map(Byte(ri1, rj0, k)), map(Byte(ri1, rj1, k)), b), a);
    };
    const int alpha = channel(3, [](int x) { return x; });
    const int old_alpha = post[3];
    if (alpha == 0 || alpha + old_alpha <= 0) {
      post = {0, 0, 0, 0};
      return true;
    }
    for (int k = 0; k < 3; ++k) {
      const int64_t n = channel(k, [&](int x) { return int{gamma[size_t(x)]}; });
      post[size_t(k)] = static_cast<uint8_t>((n * alpha + int64_t{post[size_t(k)]} * old_alpha) /
                                             (alpha + old_alpha));
    }
    post[3] = static_cast<uint8_t>(std::min(alpha + old_alpha, 255));
    return true;
  }
};

// Every post of a region across four tiles, against the steps taken one by one: a grid whose
// rows and columns lie along the tiles', listed in two orders, and one turned against them,
// blended into tiles that hold colours with and without alpha.
TEST_F(ColorPass, EveryPostAsItsStepsGiveIt) {
  std::vector<int32_t> grid;
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xFF; };
  for (int k = 0; k < 6 * 5; ++k) {
    const uint8_t alpha = k % 7 == 0 ? 0 : k % 5 == 0 ? static_cast<uint8_t>(next()) : 250;
    grid.push_back(Rgba(uint8_t(next()), uint8_t(next()), uint8_t(next()), alpha));
  }
  WriteGrid("grid", grid);
  // Posts 900 .. 1100 by 950 .. 1090 of tile (66, 148) and its neighbours.
  const int64_t X0 = 67584 + 900, Y0 = 151552 + 950;
  const double w = PostLon(X0), e = PostLon(X0 + 200), s = PostLat(Y0), n = PostLat(Y0 + 140);
  const double turn = 0.35, cx = (w + e) / 2, cy = (s + n) / 2;
  auto turned = [&](double lon, double lat, double* out) {
    out[0] = cx + std::cos(turn) * (lon - cx) + std::sin(turn) * (lat - cy);
    out[1] = cy + std::cos(turn) * (lat - cy) - std::sin(turn) * (lon - cx);
  };
  struct Case {
    const char* what;
    double c[8];
    double gamma;
  } cases[] = {
      {"north-west first", {w, n, e, n, w, s, e, s}, 1.0},
      {"columns first", {w, s, w, n, e, s, e, n}, 2.5},
      {"turned", {}, 1.0},
  };
  turned(w, s, cases[2].c);
  turned(e, s, cases[2].c + 2);
  turned(w, n, cases[2].c + 4);
  turned(e, n, cases[2].c + 6);
  const char* names[] = {"066_148.c32", "067_148.c32", "066_149.c32", "067_149.c32"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::vector<uint8_t>> tiles;
    for (const char* name : names) {
      std::vector<uint8_t> tile(kColorTileBytes);
      for (uint32_t i = kHeaderBytes; i < kColorTileBytes; ++i) tile[i] = uint8_t(next());
      for (uint32_t i = kHeaderBytes + 3; i < kColorTileBytes; i += 12) tile[i] = 0;
      WriteFileBytes(name, tile);
      tiles.push_back(tile);
    }
    int result = -1;
    CaptureStdout([&] {
      result = trn_color(c.c[0], c.c[1], c.c[2], c.c[3], c.c[4], c.c[5], c.c[6], c.c[7], "grid", 6,
                         5, c.gamma);
    });
    ASSERT_EQ(result, 0);
    const ColorModel model{{c.c[0], c.c[1], c.c[2], c.c[3], c.c[4], c.c[5], c.c[6], c.c[7]},
                           grid,
                           6,
                           5,
                           trn_color_gamma_table()};
    const Region region =
        MakeRegion(c.c[0], c.c[1], c.c[2], c.c[3], c.c[4], c.c[5], c.c[6], c.c[7]);
    int changed = 0;
    for (int64_t Y = region.y0; Y <= region.y1; ++Y) {
      for (int64_t X = region.x0; X <= region.x1; ++X) {
        std::vector<uint8_t>& tile = tiles[size_t((X >> 10) - 66 + 2 * ((Y >> 10) - 148))];
        std::array<uint8_t, 4> post = Post(tile, X, Y);
        if (model.Post(X, Y, post)) {
          SetPost(tile, X, Y, post);
          ++changed;
        }
      }
    }
    EXPECT_GT(changed, 20000);
    for (size_t t = 0; t < 4; ++t) {
      SetIdentification(tiles[t].data(), kKindColor);
      EXPECT_TRUE(ReadFileBytes(names[t]) == tiles[t]) << names[t];
    }
  }
}

TEST_F(ColorPass, FailuresAreReportedAndReturnMinusOne) {
  EXPECT_EQ(CaptureStderr([] { EXPECT_EQ(RunColor("nogrid", 2, 2, 1, 1), -1); }),
            "trn_color: No such file or directory\ntrn_color: Can't open nogrid\n");
  WriteGrid("grid", {1, 2, 3, 4});
  EXPECT_EQ(CaptureStderr([] { EXPECT_EQ(RunColor("grid", 2, 0, 1, 1), -1); }),
            "trn_color: bad grid size 2 x 0\n");
  // 2^32 bytes of grid: more than the allocator's 32-bit count.
  EXPECT_EQ(CaptureStderr([] { EXPECT_EQ(RunColor("grid", 65536, 16384, 1, 1), -1); }),
            "trn_color: Cannot allocate memory\n");
  EXPECT_FALSE(std::filesystem::exists("066_148.c32"));
  std::filesystem::create_directory("066_148.c32");
  EXPECT_EQ(CaptureStderr([] { EXPECT_EQ(RunColor("grid", 2, 2, 1, 1), -1); }),
            "trn_color: Is a directory\ntrn_color: Can't open 066_148.c32\n");
}

}  // namespace
