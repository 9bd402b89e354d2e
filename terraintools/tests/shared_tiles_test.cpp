// Two runs whose regions share tiles: gridforge over two neighbouring regions of the bundled
// grid in turn, and tintshade over part of gridforge's region. Each compares tileprint's
// pictures of the first run's region, or a part of it, after the first run and after the
// second.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "program_run.h"
#include "tiledb.h"
#include "trn_rasterfile.h"

namespace {

// A 24-bit BMP picture as tileprint writes it.
struct Bitmap {
  int64_t width = 0, height = 0;
  std::vector<uint8_t> bytes;

  static Bitmap Load(const std::string& name) {
    Bitmap p;
    p.bytes = ReadFileBytes(name);
    if (p.bytes.size() >= kBmpHeaderBytes) {
      p.width = GetU32(&p.bytes[18]);
      p.height = GetU32(&p.bytes[22]);
    }
    return p;
  }
  uint64_t stride() const { return BmpRowStride(static_cast<uint64_t>(width)); }
  bool Whole() const { return bytes.size() == kBmpHeaderBytes + stride() * height && width > 0; }
  // Blue, green and red of the pixel at `column` of stored row `row` (the northern row first).
  const uint8_t* Pixel(int64_t column, int64_t row) const {
    return &bytes[kBmpHeaderBytes + row * stride() + 3 * column];
  }
};

// How the second picture's pixels compare with the first's, from stored row `first_row` on.
struct Change {
  int64_t pixels = 0, changed = 0, near = 0;  // near: within 40 in each channel
};
Change Compare(const Bitmap& a, const Bitmap& b, int64_t first_row, int64_t end_row) {
  Change c;
  for (int64_t row = first_row; row < end_row; ++row) {
    for (int64_t x = 0; x < a.width; ++x) {
      const uint8_t* p = a.Pixel(x, row);
      const uint8_t* q = b.Pixel(x, row);
      bool near = true, same = true;
      for (int k = 0; k < 3; ++k) {
        near = near && std::abs(p[k] - q[k]) <= 40;
        same = same && p[k] == q[k];
      }
      ++c.pixels;
      c.changed += !same;
      c.near += near;
    }
  }
  return c;
}

class SharedTilesTest : public TerrainDirTest {
 protected:
  void SetUp() override {
    TerrainDirTest::SetUp();
    std::filesystem::copy_file(BUNDLED_GRID, "g.i16");
  }
  static void Run(const char* program, const std::vector<std::string>& args) {
    const ProgramRun run = RunProgram(program, args);
    ASSERT_EQ(run.status, 0) << program << "\n" << run.err;
  }
  static Bitmap Print(const std::vector<std::string>& box, const std::string& name) {
    std::vector<std::string> args = box;
    args.push_back(name);
    Run(TILEPRINT_PATH, args);
    Bitmap p = Bitmap::Load(name);
    EXPECT_TRUE(p.Whole()) << name;
    return p;
  }
};

// The second region, 47-48 N, shares tile row 161 with the first and leaves row 162 alone: the
// picture of the first region keeps row 162 exactly and the rest of it nearly.
TEST_F(SharedTilesTest, NeighbouringGridforgeRegions) {
  const std::vector<std::string> first_region = {"-124", "-123", "48", "49"};
  Run(GRIDFORGE_PATH, {"g.i16", "48", "49", "-124", "-123", "46", "30", "12"});
  const Bitmap before = Print(first_region, "before.bmp");
  Run(GRIDFORGE_PATH, {"g.i16", "47", "48", "-124", "-123", "46", "30", "12"});
  const Bitmap after = Print(first_region, "after.bmp");
  ASSERT_TRUE(before.Whole() && after.Whole() && before.width == after.width);

  // Stored rows from the north: 49 N is post row 139 x 1200, tile row 162 starts at 162 x 1024.
  const int64_t untouched_rows = 139 * kPostsPerDegree - 162 * kTilePosts + 1;
  const Change untouched = Compare(before, after, 0, untouched_rows);
  EXPECT_EQ(untouched.changed, 0) << "of " << untouched.pixels;
  const Change shared = Compare(before, after, untouched_rows, before.height);
  EXPECT_GT(shared.changed, 0);  // the colours of the shared tiles' palette
  EXPECT_GE(shared.near, shared.pixels * 97 / 100) << shared.changed << " changed";
}

// tintshade over a box inside gridforge's region writes its palette into all four tiles: the
// corner of the region outside the box keeps the colours gridforge gave it, near enough.
TEST_F(SharedTilesTest, TintshadeOverPartOfGridforgesRegion) {
  const std::vector<std::string> corner = {"-124", "-123.9", "48", "48.1"};
  Run(GRIDFORGE_PATH, {"g.i16", "48", "49", "-124", "-123", "46", "30", "12"});
  const Bitmap before = Print(corner, "before.bmp");
  Run(TINTSHADE_PATH, {"-123.7", "-123.3", "48.2", "48.8", "0"});
  const Bitmap after = Print(corner, "after.bmp");
  ASSERT_TRUE(before.Whole() && after.Whole() && before.width == after.width);

  const Change c = Compare(before, after, 0, before.height);
  EXPECT_GE(c.near, c.pixels * 97 / 100) << c.changed << " changed of " << c.pixels;
}

}  // namespace
