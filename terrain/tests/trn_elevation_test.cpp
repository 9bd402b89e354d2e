#include "trn_elevation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "terrain_fixture.h"
#include "testsupport/Tolerances.h"
#include "tiledb.h"

namespace {

// Tile (66, 148) starts at global post column 67584 and row 151552; the boxes below start 100
// posts inside it.
constexpr int64_t kX = 67584 + 100, kY = 151552 + 100;
constexpr double kS = kPostSpacing;

using Corners = std::array<double, 8>;

// The corner orders of the two callers and the one that selects orientation 1.
Corners DemOrder(double w, double s, double e, double n) { return {w, s, e, s, w, n, e, n}; }
Corners ForgeOrder(double w, double s, double e, double n) { return {w, n, e, n, w, s, e, s}; }
Corners ColumnsFirstOrder(double w, double s, double e, double n) {
  return {w, s, w, n, e, s, e, n};
}

int RunPass(const Corners& c, const char* grid, int ncols, int nrows, std::string* out = nullptr) {
  int result = 0;
  const std::string text = CaptureStdout([&] {
    result = trn_elevation(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], grid, ncols, nrows);
  });
  if (out != nullptr) *out = text;
  return result;
}

int16_t Elevation(const std::vector<uint8_t>& tile, int64_t X, int64_t Y) {
  return GetElevation(tile.data(), static_cast<int>(X & kTileMask),
                      static_cast<int>(Y & kTileMask));
}

using ElevationPass = TerrainDirTest;

TEST_F(ElevationPass, CornersTakeTheGridCornersInEitherCallerOrder) {
  // g(i, j) = 100 i + 10 j + 1: two records of three values.
  WriteGrid("grid", {1, 11, 21, 101, 111, 121});
  const double w = PostLon(kX), s = PostLat(kY), e = PostLon(kX + 10), n = PostLat(kY + 10);
  struct Case {
    const char* dir;
    Corners corners;
    int sw, se, nw, ne;
  } cases[] = {
      {"dem", DemOrder(w, s, e, n), 1, 21, 101, 121},               // record 0 is the southern row
      {"forge", ForgeOrder(w, s, e, n), 101, 121, 1, 21},           // record 0 is the northern row
      {"columns", ColumnsFirstOrder(w, s, e, n), 1, 21, 101, 121},  // orientation 1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dir);
    std::filesystem::create_directory(c.dir);
    std::filesystem::current_path(c.dir);
    ASSERT_EQ(RunPass(c.corners, "../grid", 2, 3), 0);
    const std::vector<uint8_t> tile = ReadFileBytes("066_148");
    std::filesystem::current_path("..");
    EXPECT_EQ(Elevation(tile, kX, kY), c.sw);
    EXPECT_EQ(Elevation(tile, kX + 10, kY), c.se);
    EXPECT_EQ(Elevation(tile, kX, kY + 10), c.nw);
    EXPECT_EQ(Elevation(tile, kX + 10, kY + 10), c.ne);
  }
  // Orientation 1 gives the same tiles as orientation 0, bit for bit.
  EXPECT_EQ(ReadFileBytes("dem/066_148"), ReadFileBytes("columns/066_148"));
}

// The interpolation written out plainly, step by step, for one post.
std::optional<int16_t> Expected(const Corners& c, const std::vector<int32_t>& g, int ncols,
                                int nrows, int64_t X, int64_t Y) {
  const double phi = static_cast<double>(Y) * kPostSpacing - 90;
  const double lambda = static_cast<double>(X) * kPostSpacing - 180;
  const bool o1 = std::fabs(c[4] - c[0]) > std::fabs(c[2] - c[0]);
  double P, Q, R, S;
  if (!o1) {
    P = (phi - c[1]) / (c[5] - c[1]);
    Q = (phi - c[3]) / (c[7] - c[3]) - P;
    R = (lambda - c[0]) / (c[2] - c[0]);
    S = (lambda - c[4]) / (c[6] - c[4]) - R;
  } else {
    P = (phi - c[1]) / (c[3] - c[1]);
    Q = (phi - c[5]) / (c[7] - c[5]) - P;
    R = (lambda - c[0]) / (c[4] - c[0]);
    S = (lambda - c[2]) / (c[6] - c[2]) - R;
  }
  const double D = 1 - S * Q;
  const double u = (P + R * Q) / D, v = (R + S * P) / D;
  if (!kyte::testsupport::InGridBand(u, v)) return std::nullopt;
  const double fi = (ncols - 1) * u, fj = (nrows - 1) * v;
  const int i0 = static_cast<int>(std::floor(fi)), j0 = static_cast<int>(std::floor(fj));
  const double a = fi - i0, b = fj - j0;
  const int i1 = std::min(i0 + 1, ncols - 1), j1 = std::min(j0 + 1, nrows - 1);
  const int i0c = std::max(i0, 0), j0c = std::max(j0, 0);
  auto at = [&](int i, int j) { return g[static_cast<size_t>(i) * nrows + j]; };
  const double t0 = at(i0c, j0c) + (at(i0c, j1) - at(i0c, j0c)) * b;
  const double t1 = at(i1, j0c) + (at(i1, j1) - at(i1, j0c)) * b;
  const double e = t0 + (t1 - t0) * a;
  return static_cast<int16_t>(static_cast<int>(e));
}

TEST_F(ElevationPass, EveryPostFollowsTheInterpolationBitForBit) {
  const double w = PostLon(kX) + 0.3 * kS, s = PostLat(kY) + 0.7 * kS;
  const double e = PostLon(kX + 37) - 0.2 * kS, n = PostLat(kY + 29) + 0.1 * kS;
  // A box 1100 posts wide across the border of tiles 66 and 67, whose west and east edges lie
  // 0.005 of a spacing inside the posts at its ends: those posts are clamped to the grid's edge.
  const double wide_w = PostLon(kX) + 0.005 * kS, wide_e = PostLon(kX + 1100) - 0.005 * kS;
  const double wide_s = PostLat(kY) + 0.4 * kS, wide_n = PostLat(kY + 69) + 0.5 * kS;
  const struct {
    const char* what;
    Corners corners;
    int ncols, nrows;
    int64_t width, height;  // the posts checked: kX - 2 .. kX + width, kY - 2 .. kY + height
  } cases[] = {
      {"axis-aligned", DemOrder(w, s, e, n), 7, 9, 39, 31},
      {"axis-aligned, orientation 1", ColumnsFirstOrder(w, s, e, n), 7, 9, 39, 31},
      {"axis-aligned, record 0 in the north", ForgeOrder(w, s, e, n), 7, 9, 39, 31},
      {"skewed", {w, s, e, s + 3 * kS, w + 2 * kS, n, e, n - 1 * kS}, 7, 9, 39, 31},
      {"two tiles", DemOrder(wide_w, wide_s, wide_e, wide_n), 23, 1001, 1102, 71},
      {"two tiles, record 0 in the north", ForgeOrder(wide_w, wide_s, wide_e, wide_n), 23, 1001,
       1102, 71},
      {"one value per record", DemOrder(w, s, e, n), 7, 1, 39, 31},
      {"one record", DemOrder(w, s, e, n), 1, 9, 39, 31},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // Irregular values, so that truncation a hair short of a value shows.
    std::vector<int32_t> g(static_cast<size_t>(c.ncols) * c.nrows);
    for (size_t k = 0; k < g.size(); ++k) g[k] = static_cast<int32_t>(k * 7919 % 2001) - 1000;
    WriteGrid("grid", g);
    std::filesystem::remove("066_148");
    std::filesystem::remove("067_148");
    ASSERT_EQ(RunPass(c.corners, "grid", c.ncols, c.nrows), 0);
    std::map<int64_t, std::vector<uint8_t>> tiles;  // by tile column
    int written = 0;
    for (int64_t Y = kY - 2; Y <= kY + c.height; ++Y) {
      for (int64_t X = kX - 2; X <= kX + c.width; ++X) {
        std::vector<uint8_t>& tile = tiles[X >> kTileShift];
        if (tile.empty()) tile = ReadFileBytes(ElevationTileName(X >> kTileShift, 148));
        const std::optional<int16_t> want = Expected(c.corners, g, c.ncols, c.nrows, X, Y);
        ASSERT_EQ(Elevation(tile, X, Y), want.value_or(0)) << X - kX << "," << Y - kY;
        written += want.has_value();
      }
    }
    EXPECT_GT(written, 900);
  }
}

TEST_F(ElevationPass, InterpolatedElevationsAreTruncatedToTheirLow16Bits) {
  const double w = PostLon(kX), s = PostLat(kY), e = PostLon(kX + 10), n = PostLat(kY + 10);
  // One record of two values along the 10 posts from west to east: the post one post east of
  // the west edge interpolates a tenth of the way.
  const struct {
    int32_t west, east;
    int16_t one_post_east, at_east;
  } cases[] = {{0, 129, 12, 129}, {0, -129, -12, -129}, {40000, 40000, -25536, -25536}};
  for (const auto& c : cases) {
    WriteGrid("grid", {c.west, c.east});
    ASSERT_EQ(RunPass(DemOrder(w, s, e, n), "grid", 1, 2), 0);
    const std::vector<uint8_t> tile = ReadFileBytes("066_148");
    EXPECT_EQ(Elevation(tile, kX + 1, kY + 3), c.one_post_east) << c.east;
    EXPECT_EQ(Elevation(tile, kX + 10, kY + 3), c.at_east) << c.east;
  }
}

TEST_F(ElevationPass, ToleranceBandAroundTheQuadrilateral) {
  // The west edge lies 0.005 of a post spacing east of post column X, so the walk includes that
  // column; it lies outside the grid by 0.005 / span of the edge's span.
  const int64_t last_of_tile = 67584 + 1023;
  const struct {
    int64_t x;
    int span;
    int16_t expected;
  } cases[] = {
      {kX, 1000, 77},  // 5e-6 is inside the band
      {kX, 100, 0},    // 5e-5 is not
      // The only column of tile 66 lies outside: the tile is written without a post.
      {last_of_tile, 100, 0},
  };
  for (const auto& c : cases) {
    std::filesystem::remove("066_148");
    std::filesystem::remove("067_148");
    WriteGrid("grid", {77, 77});
    const Corners corners =
        DemOrder(PostLon(c.x) + 0.005 * kS, PostLat(kY), PostLon(c.x + c.span), PostLat(kY + 10));
    ASSERT_EQ(RunPass(corners, "grid", 1, 2), 0);
    EXPECT_EQ(Elevation(ReadFileBytes(ElevationTileName(c.x >> kTileShift, 148)), c.x, kY + 5),
              c.expected)
        << c.x << " " << c.span;
    EXPECT_EQ(
        Elevation(ReadFileBytes(ElevationTileName((c.x + 1) >> kTileShift, 148)), c.x + 1, kY + 5),
        77)
        << c.x << " " << c.span;
  }
}

TEST_F(ElevationPass, RotatedGridLeavesPostsOutsideItsQuadrilateral) {
  std::vector<uint8_t> old(kElevationTileBytes);
  for (int y = 0; y < kTilePosts; ++y) {
    for (int x = 0; x < kTilePosts; ++x) SetElevation(old.data(), x, y, 5);
  }
  WriteFileBytes("066_148", old);
  WriteGrid("grid", {99, 99, 99, 99});
  const int64_t cx = kX + 10, cy = kY + 10;
  // A diamond: south, east, west and north points.
  const Corners corners = {PostLon(cx),      PostLat(cy - 10), PostLon(cx + 10), PostLat(cy),
                           PostLon(cx - 10), PostLat(cy),      PostLon(cx),      PostLat(cy + 10)};
  ASSERT_EQ(RunPass(corners, "grid", 2, 2), 0);
  const std::vector<uint8_t> tile = ReadFileBytes("066_148");
  EXPECT_EQ(Elevation(tile, cx, cy), 99);
  EXPECT_EQ(Elevation(tile, cx, cy - 9), 99);
  EXPECT_EQ(Elevation(tile, cx + 9, cy), 99);
  for (const auto& [dx, dy] : {std::pair{-10, -10}, {10, -10}, {-10, 10}, {10, 10}, {-6, -6}}) {
    EXPECT_EQ(Elevation(tile, cx + dx, cy + dy), 5) << dx << "," << dy;
  }
}

TEST_F(ElevationPass, ChangesOnlyElevationsAndIdentificationOfAnExistingTile) {
  std::vector<uint8_t> old(kElevationTileBytes);
  for (size_t k = 0; k < old.size(); ++k) old[k] = static_cast<uint8_t>(k * 7 + 3);
  WriteFileBytes("066_148", old);
  WriteGrid("grid", {-300, -300, -300, -300});
  const int64_t x0 = kX, y0 = kY, x1 = kX + 40, y1 = kY + 3;
  std::string out;
  ASSERT_EQ(
      RunPass(DemOrder(PostLon(x0), PostLat(y0), PostLon(x1), PostLat(y1)), "grid", 2, 2, &out), 0);
  EXPECT_EQ(out, "grid        opened  RO\n\n066_148     opened  RW\ny=100 of 103\r" +
                     std::string(50, ' ') + "\n");

  const std::vector<uint8_t> tile = ReadFileBytes("066_148");
  ASSERT_EQ(tile.size(), old.size());
  std::vector<uint8_t> expected = old;
  SetIdentification(expected.data(), kKindElevation);
  for (int64_t Y = y0; Y <= y1; ++Y) {
    for (int64_t X = x0; X <= x1; ++X) {
      SetElevation(expected.data(), X & kTileMask, Y & kTileMask, -300);
    }
  }
  EXPECT_TRUE(tile == expected);  // one comparison: the tile is 4 MB
}

TEST_F(ElevationPass, NewTileIsCreatedWholeAndShortGridReadsAsZero) {
  WriteGrid("grid", {100});  // one of the grid's two values
  std::string out;
  ASSERT_EQ(RunPass(DemOrder(PostLon(kX), PostLat(kY), PostLon(kX + 1), PostLat(kY + 1)), "grid", 1,
                    2, &out),
            0);
  EXPECT_NE(out.find("066_148     created RW\n"), std::string::npos);
  const std::vector<uint8_t> tile = ReadFileBytes("066_148");
  ASSERT_EQ(tile.size(), kElevationTileBytes);
  std::vector<uint8_t> expected(kElevationTileBytes);
  SetIdentification(expected.data(), kKindElevation);
  SetElevation(expected.data(), kX & kTileMask, kY & kTileMask, 100);
  SetElevation(expected.data(), kX & kTileMask, (kY + 1) & kTileMask, 100);
  // The eastern posts interpolate towards the missing value, which reads as 0.
  EXPECT_TRUE(tile == expected);
}

TEST_F(ElevationPass, HugeGridIndexesStayInsideTheGrid) {
  // 300,001 values: the tolerance band spans 1.5 values beyond each end of the grid.
  std::vector<int32_t> values(300001, 0);
  values.front() = 11;
  values.back() = 22;
  WriteGrid("grid", values);
  const Corners corners = DemOrder(PostLon(kX) + 0.005 * kS, PostLat(kY),
                                   PostLon(kX + 1000) - 0.005 * kS, PostLat(kY + 2));
  ASSERT_EQ(RunPass(corners, "grid", 1, 300001), 0);
  const std::vector<uint8_t> tile = ReadFileBytes("066_148");
  EXPECT_EQ(Elevation(tile, kX, kY + 1), 11);
  EXPECT_EQ(Elevation(ReadFileBytes("067_148"), kX + 1000, kY + 1), 22);
}

TEST_F(ElevationPass, FailuresAreReportedAndReturnMinusOne) {
  const Corners box = DemOrder(PostLon(kX), PostLat(kY), PostLon(kX + 1), PostLat(kY + 1));
  std::string out;

  EXPECT_EQ(CaptureStderr([&] { EXPECT_EQ(RunPass(box, "nogrid", 2, 2, &out), -1); }),
            "trn_elevation: No such file or directory\ntrn_elevation: Can't open nogrid\n");
  EXPECT_FALSE(std::filesystem::exists("066_148"));

  WriteGrid("grid", {1, 2, 3, 4});
  for (const auto& [ncols, nrows] : {std::pair{0, 2}, {2, 0}, {-1, -1}}) {
    EXPECT_EQ(CaptureStderr([&] { EXPECT_EQ(RunPass(box, "grid", ncols, nrows, &out), -1); }),
              "trn_elevation: bad grid size " + std::to_string(ncols) + " x " +
                  std::to_string(nrows) + "\n");
    EXPECT_EQ(out, "");  // refused before the grid is opened
  }

  // 2^32 bytes of grid: more than the allocator's 32-bit count.
  EXPECT_EQ(CaptureStderr([&] { EXPECT_EQ(RunPass(box, "grid", 65536, 16384, &out), -1); }),
            "trn_elevation: Cannot allocate memory\n");
  EXPECT_FALSE(std::filesystem::exists("066_148"));

  // A tile that can't be opened stops the walk; the tile before it keeps its new content.
  std::filesystem::create_directory("067_148");
  const Corners two = DemOrder(PostLon(kX + 900), PostLat(kY), PostLon(kX + 1000), PostLat(kY + 1));
  EXPECT_EQ(CaptureStderr([&] { EXPECT_EQ(RunPass(two, "grid", 2, 2, &out), -1); }),
            "trn_elevation: Is a directory\ntrn_elevation: Can't open 067_148\n");
  EXPECT_EQ(Elevation(ReadFileBytes("066_148"), kX + 900, kY), 1);
}

}  // namespace
