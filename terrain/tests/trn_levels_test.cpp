#include "trn_levels.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tiledb.h"
#include "trn_passes_fixture.h"

namespace {

class LevelsTest : public TerrainDirTest {
 protected:
  static constexpr int kTx = 66, kTy = 148;
  const std::string name_ = ElevationTileName(kTx, kTy);
  const Corners one_tile_ = TilePosts(kTx, kTy, 100, 200, 300, 400);

  // Every post holds its own column and row; header and trailer hold a pattern.
  TileImage WriteTile() {
    TileImage t = TileImage::Elevation();
    t.Fill(0, kHeaderBytes, [](uint32_t i) { return static_cast<uint8_t>(i * 3 + 1); });
    t.Fill(kTrailerOffset, kElevationTileBytes, [](uint32_t i) { return static_cast<uint8_t>(i); });
    for (int y = 0; y < kTilePosts; ++y) {
      for (int x = 0; x < kTilePosts; ++x) {
        PutS16(t.post(x, y), static_cast<int16_t>(x));
        PutS16(t.post(x, y) + 2, static_cast<int16_t>(y));
      }
    }
    t.Save(name_);
    return t;
  }

  // The level file k expected from its definition in posts: in every block, in block order,
  // the posts whose in-block column and row are multiples of 2^(5-k), row by row.
  static std::vector<uint8_t> ExpectedLevel(TileImage& t, int k) {
    const int step = 1 << (5 - k);
    std::vector<uint8_t> out(t.bytes.begin(), t.bytes.begin() + kHeaderBytes);
    for (int b = 0; b < kBlockCount; ++b) {
      const int bx = (b % 32) * 32, by = (b / 32) * 32;
      for (int y = 0; y < 32; y += step) {
        for (int x = 0; x < 32; x += step) {
          const uint8_t* p = t.post(bx + x, by + y);
          out.insert(out.end(), p, p + 4);
        }
      }
    }
    out.insert(out.end(), t.bytes.begin() + kTrailerOffset, t.bytes.end());
    return out;
  }

  Output Run(const Corners& region, int expected = 0) {
    int result = 0;
    Output o = Capture([&] { result = region.Run(trn_levels); });
    EXPECT_EQ(result, expected) << o.err;
    return o;
  }
};

TEST_F(LevelsTest, SixFilesOfTheTile) {
  TileImage tile = WriteTile();
  const Output o = Run(one_tile_);

  const uint32_t sizes[kLevelCount] = {20480, 32768, 81920, 278528, 1064960, 4210688};
  for (int k = 0; k < kLevelCount; ++k) {
    const std::vector<uint8_t> bytes = ReadFileBytes(LevelFileName(name_, k));
    ASSERT_EQ(bytes.size(), sizes[k]) << k;
    EXPECT_EQ(LevelFileBytes(k), sizes[k]);
    EXPECT_TRUE(bytes == ExpectedLevel(tile, k)) << "level " << k;
  }
  EXPECT_TRUE(ReadFileBytes("066_148_5") == tile.bytes);

  // Level 1, first block then the block east of it: (0,0) (16,0) (0,16) (16,16), (32,0) ...
  const std::vector<uint8_t> level1 = ReadFileBytes("066_148_1");
  const int order[][2] = {{0, 0}, {16, 0}, {0, 16}, {16, 16}, {32, 0}, {48, 0}};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(GetS16(&level1[kHeaderBytes + 4 * i]), order[i][0]) << i;
    EXPECT_EQ(GetS16(&level1[kHeaderBytes + 4 * i + 2]), order[i][1]) << i;
  }

  std::string expected;
  for (int k = 0; k < kLevelCount; ++k) {
    const std::string level = "066_148_" + std::to_string(k);
    expected += "Wrote 8192 bytes to file\n";
    expected += "Wrote " + std::to_string(4096u << (2 * k)) + " bytes to " + level + " \n";
    expected += k < 5 ? "Wrote 8192 bytes to file\n" : "Wrote 8192 bytes to 066_148_5 \n";
  }
  EXPECT_EQ(o.out, expected);
  EXPECT_EQ(o.err, "");
}

// Level files are rewritten in place: a second run gives the same files, and bytes beyond a
// level's size stay.
TEST_F(LevelsTest, RewritesInPlace) {
  WriteTile();
  WriteFileBytes("066_148_0", std::vector<uint8_t>(20480 + 10, 0x77));
  Run(one_tile_);
  const std::vector<uint8_t> first = ReadFileBytes("066_148_0");
  ASSERT_EQ(first.size(), 20490u);
  EXPECT_EQ(first[20480], 0x77);
  const std::vector<uint8_t> level3 = ReadFileBytes("066_148_3");
  Run(one_tile_);
  EXPECT_TRUE(ReadFileBytes("066_148_0") == first);
  EXPECT_TRUE(ReadFileBytes("066_148_3") == level3);
}

TEST_F(LevelsTest, MissingTileIsReportedAsWriteFailed) {
  const Output o = Run(one_tile_, -1);
  EXPECT_EQ(o.err, "Write failed: No such file or directory\n");
  EXPECT_EQ(o.out, "");
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

// A tile that opens but cannot be read gives no level files of zeroes: it fails the pass, in
// tintshade's variant too, which then returns rather than ending the process.
TEST_F(LevelsTest, UnreadableTileIsReported) {
  std::filesystem::create_directory("066_148");
  Output o = Run(one_tile_, -1);
  EXPECT_EQ(o.err, "trn_levels: Is a directory\ntrn_levels: Can't read 066_148\n");
  o = Capture([&] { EXPECT_EQ(one_tile_.Run(trn_levels_exiting), -1); });
  EXPECT_EQ(o.err, "trn_levels: Is a directory\ntrn_levels: Can't read 066_148\n");
  EXPECT_FALSE(Exists("066_148_0"));
}

TEST_F(LevelsTest, UnopenableLevelFileStopsAfterTheLowerLevels) {
  WriteTile();
  std::filesystem::create_directory("066_148_2");
  const Output o = Run(one_tile_, -1);
  EXPECT_EQ(o.err, "Write failed: Is a directory\n");
  EXPECT_EQ(ReadFileBytes("066_148_1").size(), 32768u);
  EXPECT_FALSE(Exists("066_148_3"));
}

// Half a post spacing west of a tile border: the region's tile range is empty.
Corners NoTile() {
  const double lon = PostLon(int64_t{66} * kTilePosts) - kPostSpacing / 2;
  return Corners{lon, PostLat(int64_t{148} * kTilePosts), lon, PostLat(int64_t{148} * kTilePosts)};
}

TEST_F(LevelsTest, RegionWithoutTiles) {
  const Output o = Run(NoTile());
  EXPECT_EQ(o.out, "");
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

TEST_F(LevelsTest, WriteOutsideThePassWritesNothing) {
  const Output o = Capture([] { trn_levels_write(3); });
  EXPECT_EQ(o.out, "");
}

// The older variant ends the process itself; each case runs in a child process.
using LevelsExitingDeathTest = LevelsTest;

TEST_F(LevelsExitingDeathTest, EndsWithStatusZeroAfterTheLastTile) {
  WriteTile();
  EXPECT_EXIT(one_tile_.Run(trn_levels_exiting), testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadFileBytes("066_148_5").size(), kElevationTileBytes);  // written by the child
  EXPECT_EXIT(NoTile().Run(trn_levels_exiting), testing::ExitedWithCode(0), "");
}

TEST_F(LevelsExitingDeathTest, EndsWithStatusOneWhenAFileCannotBeOpened) {
  EXPECT_EXIT(one_tile_.Run(trn_levels_exiting), testing::ExitedWithCode(1),
              "Write failed: No such file or directory");
  WriteTile();
  std::filesystem::create_directory("066_148_4");
  EXPECT_EXIT(one_tile_.Run(trn_levels_exiting), testing::ExitedWithCode(1),
              "Write failed: Is a directory");
}

}  // namespace
