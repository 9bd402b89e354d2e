#include "trn_rasterfile.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "testsupport/CapturedOutput.h"
#include "tiledb.h"
#include "trn_passes_fixture.h"

namespace {

using Rgb = std::array<int, 3>;
constexpr Rgb kIndexZero = {27, 54, 108};

// The output of a command, or an empty text when it fails.
std::string CommandOutput(const std::string& command) {
  const kyte::testsupport::CommandRun run = kyte::testsupport::RunCommand(command);
  return run.status == 0 ? run.out : std::string();
}

// A BMP picture as ImageMagick reads it: size and the pixels of its displayed rows (row 0 at
// the top of the picture as shown).
struct Decoded {
  int width = -1, height = -1;
  std::map<std::pair<int, int>, Rgb> pixels;  // (column, displayed row)
};

Decoded ReadWithImageMagick(const std::string& name) {
  Decoded d;
  const std::string text = CommandOutput("convert '" + name + "' txt:- 2>/dev/null");
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    int x, y, r, g, b;
    if (std::sscanf(line.c_str(), "# ImageMagick pixel enumeration: %d,%d", &x, &y) == 2) {
      d.width = x;
      d.height = y;
    } else if (std::sscanf(line.c_str(), "%d,%d: (%d,%d,%d", &x, &y, &r, &g, &b) == 5) {
      d.pixels[{x, y}] = Rgb{r, g, b};
    }
  }
  return d;
}

class RasterTest : public TerrainDirTest {
 protected:
  static constexpr int kTx = 66, kTy = 148;

  int Draw(const Corners& region, const std::string& picture, Output* output = nullptr) {
    int result = 0;
    Output o = Capture([&] { result = region.Run(trn_rasterfile, picture.c_str(), 2); });
    if (output != nullptr) *output = o;
    return result;
  }

  // An elevation tile whose region posts carry `index`; with a palette B whose entry n is
  // (n, 2n, 255 - n) when `palette` is set.
  static void WriteTile(int tx, int ty, uint8_t index, bool palette, int shift = 0) {
    TileImage t = TileImage::Elevation();
    if (palette) {
      PutU32(t.header() + TileHeader::kPaletteBFlagOffset, 1);
      for (int n = 0; n < 256; ++n) {
        uint8_t* e = t.header() + TileHeader::kPaletteBOffset + 4 * n;
        e[0] = n == 40 ? 0 : 255;  // entry 40 holds no colour
        e[1] = static_cast<uint8_t>(255 - n);
        e[2] = static_cast<uint8_t>(2 * n + shift);
        e[3] = static_cast<uint8_t>(n);
      }
    }
    for (int y = 0; y < kTilePosts; ++y) {
      for (int x = 0; x < kTilePosts; ++x) t.post(x, y)[2] = index;
    }
    t.Save(ElevationTileName(tx, ty));
  }
  static Rgb PaletteColor(int n, int shift = 0) { return Rgb{n, (2 * n + shift) & 255, 255 - n}; }
};

TEST_F(RasterTest, PictureSizesAndStrides) {
  struct Case {
    int width, height;
    uint32_t stride;
  } cases[] = {{1, 1, 4}, {2, 1, 8}, {3, 2, 12}, {1201, 2, 3604}};
  for (const Case& c : cases) {
    const std::string name = "w" + std::to_string(c.width) + ".bmp";
    Output o;
    ASSERT_EQ(Draw(TilePosts(kTx, kTy, 0, c.width - 1, 0, c.height - 1), name, &o), 0);
    EXPECT_EQ(
        o.out.rfind(
            name + std::string(11 - std::min<size_t>(11, name.size()), ' ') + " created RW\n\n", 0),
        0u)
        << o.out;
    const std::vector<uint8_t> bytes = ReadFileBytes(name);
    ASSERT_EQ(bytes.size(), 54 + c.stride * c.height) << c.width;
    EXPECT_EQ(GetU32(&bytes[34]), c.stride * c.height);
    const Decoded d = ReadWithImageMagick(name);
    EXPECT_EQ(d.width, c.width);
    EXPECT_EQ(d.height, c.height);
    EXPECT_EQ(d.pixels.at({c.width - 1, c.height - 1}), kIndexZero);  // missing tiles: index 0
    for (int row = 0; row < c.height; ++row) {
      for (uint32_t pad = 3 * c.width; pad < c.stride; ++pad) {
        EXPECT_EQ(bytes[54 + row * c.stride + pad], 0) << row;
      }
    }
  }
  EXPECT_EQ(BmpRowStride(1201), 3604u);
}

TEST_F(RasterTest, EmptyRegionGivesAHeaderOnly) {
  // Half a post spacing east of a post: no post column lies in the region.
  const double lon = PostLon(int64_t{kTx} * kTilePosts + 5) + kPostSpacing / 2;
  const Corners region{lon, PostLat(int64_t{kTy} * kTilePosts), lon,
                       PostLat(int64_t{kTy} * kTilePosts + 3)};
  ASSERT_EQ(Draw(region, "empty.bmp"), 0);
  const std::vector<uint8_t> bytes = ReadFileBytes("empty.bmp");
  ASSERT_EQ(bytes.size(), 54u);
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[1], 'M');
  EXPECT_EQ(GetU32(&bytes[2]), 54u);
  EXPECT_EQ(GetU32(&bytes[10]), 54u);
  EXPECT_EQ(GetU32(&bytes[14]), 40u);
  EXPECT_EQ(GetU32(&bytes[18]), 0u);
  EXPECT_EQ(GetU32(&bytes[22]), 4u);
  EXPECT_EQ(bytes[26] | bytes[27] << 8, 1);
  EXPECT_EQ(bytes[28] | bytes[29] << 8, 24);
}

// The northern post row is stored first, so a reader shows it at the bottom.
TEST_F(RasterTest, NorthernRowIsStoredFirst) {
  TileImage t = TileImage::Elevation();
  PutU32(t.header() + TileHeader::kPaletteBFlagOffset, 1);
  for (int n : {16, 17}) {
    uint8_t* e = t.header() + TileHeader::kPaletteBOffset + 4 * n;
    e[0] = 255;
    e[1] = static_cast<uint8_t>(n);  // blue
    e[2] = 100;
    e[3] = 200;  // red
  }
  t.post(10, 20)[2] = 16;  // south
  t.post(10, 21)[2] = 17;  // north
  t.post(11, 21)[2] = 0;
  t.Save(ElevationTileName(kTx, kTy));

  ASSERT_EQ(Draw(TilePosts(kTx, kTy, 10, 11, 20, 21), "rows.bmp"), 0);
  const std::vector<uint8_t> bytes = ReadFileBytes("rows.bmp");
  ASSERT_EQ(bytes.size(), 54u + 8 * 2);
  EXPECT_EQ(bytes[54], 17);      // first stored row: the northern one, blue first
  EXPECT_EQ(bytes[54 + 8], 16);  // second stored row: the southern one
  const Decoded d = ReadWithImageMagick("rows.bmp");
  EXPECT_EQ(d.pixels.at({0, 1}), (Rgb{200, 100, 17}));  // shown at the bottom
  EXPECT_EQ(d.pixels.at({0, 0}), (Rgb{200, 100, 16}));
  EXPECT_EQ(d.pixels.at({1, 1}), kIndexZero);
}

// Four pixels fill a row of 12 bytes without padding: every pixel keeps its own colour, the
// last of a row included, whatever the row drawn after it.
TEST_F(RasterTest, RowsWithoutPaddingKeepEveryPixel) {
  TileImage t = TileImage::Elevation();
  PutU32(t.header() + TileHeader::kPaletteBFlagOffset, 1);
  for (int n = 16; n < 24; ++n) {
    uint8_t* e = t.header() + TileHeader::kPaletteBOffset + 4 * n;
    e[0] = 255;
    e[1] = static_cast<uint8_t>(n);       // blue
    e[2] = static_cast<uint8_t>(2 * n);   // green
    e[3] = static_cast<uint8_t>(10 * n);  // red
  }
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 4; ++x) t.post(30 + x, 20 + y)[2] = static_cast<uint8_t>(16 + 4 * y + x);
  }
  t.Save(ElevationTileName(kTx, kTy));

  ASSERT_EQ(Draw(TilePosts(kTx, kTy, 30, 33, 20, 21), "four.bmp"), 0);
  ASSERT_EQ(ReadFileBytes("four.bmp").size(), 54u + 12 * 2);
  const Decoded d = ReadWithImageMagick("four.bmp");
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 4; ++x) {
      const int n = 16 + 4 * y + x;
      EXPECT_EQ(d.pixels.at({x, y}), (Rgb{10 * n, 2 * n, n})) << x << "," << y;
    }
  }
}

// Six tiles in walk order, three by two: each tile with a palette B is drawn through its own,
// as the colour post-processing indexed it; one without is drawn through the first palette
// found, and before any a colour index has no table and is drawn black.
TEST_F(RasterTest, EachTileIsDrawnThroughItsOwnPaletteB) {
  WriteTile(kTx, kTy, 30, false);
  WriteTile(kTx + 1, kTy, 30, true);
  WriteTile(kTx + 2, kTy, 30, true, 1);
  WriteTile(kTx, kTy + 1, 30, false);
  WriteTile(kTx + 1, kTy + 1, 40, true, 1);  // tile (kTx + 2, kTy + 1) is missing
  ASSERT_EQ(Draw(TilePosts(kTx, kTy, 1023, 2048, 1023, 1024), "six.bmp"), 0);
  const Decoded d = ReadWithImageMagick("six.bmp");
  ASSERT_EQ(d.width, 1026);
  ASSERT_EQ(d.height, 2);
  // Displayed row 0 is the southern row; columns 0, 1..1024 and 1025 lie in the three tiles.
  EXPECT_EQ(d.pixels.at({0, 0}), (Rgb{0, 0, 0}));
  EXPECT_EQ(d.pixels.at({1, 0}), PaletteColor(30));
  EXPECT_EQ(d.pixels.at({1025, 0}), PaletteColor(30, 1));
  EXPECT_EQ(d.pixels.at({0, 1}), PaletteColor(30));  // the first palette, not the last one
  EXPECT_EQ(d.pixels.at({1, 1}), (Rgb{0, 0, 0}));    // an entry without colour
  EXPECT_EQ(d.pixels.at({1025, 1}), kIndexZero);     // a missing tile
}

TEST_F(RasterTest, ExistingPictureIsOverwrittenNotTruncated) {
  WriteFileBytes("old.bmp", std::vector<uint8_t>(100, 0xEE));
  ASSERT_EQ(Draw(TilePosts(kTx, kTy, 0, 0, 0, 0), "old.bmp"), 0);
  const std::vector<uint8_t> bytes = ReadFileBytes("old.bmp");
  ASSERT_EQ(bytes.size(), 100u);
  EXPECT_EQ(GetU32(&bytes[2]), 58u);
  EXPECT_EQ(bytes[57], 0);  // the row's padding
  EXPECT_EQ(bytes[58], 0xEE);
}

TEST_F(RasterTest, FailuresAreReported) {
  Output o;
  EXPECT_EQ(Draw(TilePosts(kTx, kTy, 0, 0, 0, 0), "no/such/dir.bmp", &o), -1);
  EXPECT_NE(o.err.find("trn_rasterfile: Can't open no/such/dir.bmp\n"), std::string::npos) << o.err;

  // The whole earth does not fit the picture format's sizes: reported, nothing written.
  const Corners earth{-180, -90, 179.99, 89.99};
  EXPECT_EQ(Draw(earth, "earth.bmp", &o), -1);
  EXPECT_NE(o.err.find("trn_rasterfile: Cannot allocate memory"), std::string::npos) << o.err;
  EXPECT_EQ(ReadFileBytes("earth.bmp").size(), 0u);

  // A picture that cannot be written is a failure, not a success.
  if (Exists("/dev/full")) {
    EXPECT_EQ(Draw(TilePosts(kTx, kTy, 0, 0, 0, 0), "/dev/full", &o), -1);
    EXPECT_NE(o.err.find("trn_rasterfile: No space left on device\n"
                         "trn_rasterfile: Can't write /dev/full\n"),
              std::string::npos)
        << o.err;
  }
}

// Corners that are not numbers are refused: no picture, no tile read.
TEST_F(RasterTest, CornersThatAreNotNumbersAreRefused) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Output o;
  ASSERT_EQ(Draw(Corners{nan, nan, nan, nan}, "nan.bmp", &o), -1);
  EXPECT_EQ(o.err, "trn_rasterfile: region longitude nan is off the globe (-180..180)\n");
  EXPECT_FALSE(Exists("nan.bmp"));
  EXPECT_EQ(o.out.find("opened"), std::string::npos);
}

}  // namespace
