#include "trn_levels.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tiledb.h"
#include "trn_passes_fixture.h"

namespace {

// The lines that writing level k prints: its header, its posts and its trailer, each once written.
std::vector<std::string> LevelLines(const std::string& tile_name, int k) {
  const std::string level = LevelFileName(tile_name, k);
  return {
      "Wrote 8192 bytes to file\n",
      "Wrote " + std::to_string(4096u << (2 * k)) + " bytes to " + level + " \n",
      k < kLevelCount - 1 ? "Wrote 8192 bytes to file\n" : "Wrote 8192 bytes to " + level + " \n"};
}

// The output of levels 0 .. k - 1 written whole and the first `parts` writes of level k.
std::string LevelOutput(const std::string& tile_name, int k, int parts = 0) {
  std::string out;
  for (int level = 0; level <= k && level < kLevelCount; ++level) {
    const std::vector<std::string> lines = LevelLines(tile_name, level);
    for (int p = 0; p < (level < k ? 3 : parts); ++p) out += lines[size_t(p)];
  }
  return out;
}

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
    return region.RunExpecting(expected, trn_levels);
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

  EXPECT_EQ(o.out, LevelOutput(name_, kLevelCount));
  EXPECT_EQ(LevelLines(name_, 0)[1], "Wrote 4096 bytes to 066_148_0 \n");
  EXPECT_EQ(LevelLines(name_, 5)[2], "Wrote 8192 bytes to 066_148_5 \n");
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
  EXPECT_EQ(o.err, "Write failed: No such file or directory\ntrn_levels: Can't open 066_148\n");
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
  EXPECT_EQ(o.err, "Write failed: Is a directory\ntrn_levels: Can't open 066_148_2\n");
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

// A level file write that fails, or stops short, fails the pass in both variants and names the
// level file; the lines printed are those of the writes done. Each case runs in a child process,
// most on a small disk of its own that holds the tile and some pages (4096 bytes) more: a level
// file takes 5, 8, 20, 68, 260 and 1028 pages for levels 0 to 5, its header and trailer 2 each.
using LevelsWriteDeathTest = LevelsTest;

TEST_F(LevelsWriteDeathTest, WriteThatFailsOrStopsShortFailsThePass) {
  constexpr uint64_t kPage = 4096, kTilePages = kElevationTileBytes / kPage;
  const struct {
    const char* what;
    uint64_t disk_pages;  // 0: no disk of its own, level `level` a link to /dev/full
    int level, parts_written;
    const char* system_line;
  } cases[] = {
      {"level 3 a link to /dev/full", 0, 3, 0, "Write failed"},
      {"disk full at level 0's header", kTilePages, 0, 0, "Write failed"},
      {"disk full in level 2's posts", kTilePages + 5 + 8 + 2 + 8, 2, 1, "trn_levels"},
      {"disk full at level 1's trailer", kTilePages + 5 + 2 + 4, 1, 2, "trn_levels"},
      {"disk full in level 1's header", kTilePages + 5 + 1, 1, 0, "Write failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string level = LevelFileName(name_, c.level);
    const std::string err = std::string(c.system_line) +
                            ": No space left on device\ntrn_levels: Can't write " + level + "\n";
    const std::string out = LevelOutput(name_, c.level, c.parts_written);
    EXPECT_EXIT(
        {
          if (c.disk_pages > 0 && !MountSmallDisk(c.disk_pages * kPage)) std::exit(2);
          WriteTile();
          if (c.disk_pages == 0) std::filesystem::create_symlink("/dev/full", level);
          bool as_expected = true;
          for (auto pass : {trn_levels, trn_levels_exiting}) {
            for (int k = 0; k < c.level; ++k) std::filesystem::remove(LevelFileName(name_, k));
            if (c.disk_pages > 0) std::filesystem::remove(level);
            int result = 0;
            const std::string printed = CaptureStdout([&] { result = one_tile_.Run(pass); });
            as_expected = as_expected && result == -1 && printed == out;
          }
          std::exit(as_expected ? 3 : 4);
        },
        testing::ExitedWithCode(3), testing::Eq(err + err));
  }
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
              "Write failed: No such file or directory\ntrn_levels: Can't open 066_148\n");
  WriteTile();
  std::filesystem::create_directory("066_148_4");
  EXPECT_EXIT(one_tile_.Run(trn_levels_exiting), testing::ExitedWithCode(1),
              "Write failed: Is a directory\ntrn_levels: Can't open 066_148_4\n");
}

}  // namespace
