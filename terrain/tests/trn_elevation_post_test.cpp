#include "trn_elevation_post.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tiledb.h"
#include "trn_passes_fixture.h"

namespace {

class ElevationPostTest : public TerrainDirTest {
 protected:
  static constexpr int kTx = 66, kTy = 148;
  const std::string name_ = ElevationTileName(kTx, kTy);

  Output Run(const Corners& region, int expected = 0) {
    return region.RunExpecting(expected, trn_elevation_post);
  }
};

// A region of one post still treats every block of its tile, posts outside it included.
TEST_F(ElevationPostTest, BlockRecordsOfTheWholeTile) {
  TileImage tile = TileImage::Elevation();
  tile.set_elevation(0, 0, 50);  // block 0: south-west post 50, range -12 .. 4000
  tile.set_elevation(31, 31, -12);
  tile.set_elevation(17, 3, 4000);
  tile.set_elevation(32 + 5, 0, 7);      // block 1: a single post above 0
  tile.set_elevation(1000, 1000, -300);  // block 31 * 32 + 31, far outside the region
  for (int b = 0; b < kBlockCount; ++b) {
    tile.record(b)[2] = static_cast<uint8_t>(b);
    tile.record(b)[3] = 0xA5;
  }
  tile.Save(name_);

  const Output o = Run(TilePosts(kTx, kTy, 0, 0, 0, 0));
  TileImage after = TileImage::Load(name_);
  struct Case {
    int block;
    int16_t first, lowest, highest;
  } cases[] = {{0, 50, -12, 4000}, {1, 0, 0, 7}, {2, 0, 0, 0}, {1023, 0, -300, 0}};
  for (const Case& c : cases) {
    const BlockRecord r = GetBlockRecord(after.bytes.data(), c.block);
    EXPECT_EQ(r.first_elevation, c.first) << c.block;
    EXPECT_EQ(r.min_elevation, c.lowest) << c.block;
    EXPECT_EQ(r.max_elevation, c.highest) << c.block;
    EXPECT_EQ(r.palette_b_index, static_cast<uint8_t>(c.block));  // index bytes kept
    EXPECT_EQ(r.palette_a_index, 0xA5);
  }
  // Header identification set; posts unchanged.
  EXPECT_EQ(GetU32(after.header()), TileHeader::kMagic);
  EXPECT_TRUE(std::equal(after.bytes.begin() + kHeaderBytes, after.bytes.begin() + kTrailerOffset,
                         tile.bytes.begin() + kHeaderBytes));

  std::string expected = "066_148     opened  RW\n";
  for (int r = 0; r < 32; ++r) expected += "y=" + std::to_string(r) + " of 31\r";
  expected += std::string(50, ' ') + "\n";
  EXPECT_EQ(o.out, expected);

  // A second run changes nothing.
  Run(TilePosts(kTx, kTy, 0, 0, 0, 0));
  EXPECT_TRUE(ReadFileBytes(name_) == after.bytes);
}

// Only bytes 0-1 of a post are its elevation: index bytes that read as the extreme 16-bit
// values do not take part, and elevations at the extremes are found.
TEST_F(ElevationPostTest, IndexBytesAreNoElevations) {
  TileImage tile = TileImage::Elevation();
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 64; ++x) {
      tile.set_elevation(x, y, static_cast<int16_t>(5 + (x + y) % 5));  // 5 .. 9
      uint8_t* post = tile.post(x, y);
      post[2] = (x + y) % 2 == 0 ? 0x00 : 0xFF;  // as 16 bits: -32768 or 32767
      post[3] = (x + y) % 2 == 0 ? 0x80 : 0x7F;
    }
  }
  tile.set_elevation(40, 20, -32768);  // block 1
  tile.set_elevation(33, 0, 32767);
  tile.Save(name_);

  Run(TilePosts(kTx, kTy, 0, 0, 0, 0));
  TileImage after = TileImage::Load(name_);
  const BlockRecord b0 = GetBlockRecord(after.bytes.data(), 0);
  EXPECT_EQ(b0.first_elevation, 5);
  EXPECT_EQ(b0.min_elevation, 5);
  EXPECT_EQ(b0.max_elevation, 9);
  const BlockRecord b1 = GetBlockRecord(after.bytes.data(), 1);
  EXPECT_EQ(b1.min_elevation, -32768);
  EXPECT_EQ(b1.max_elevation, 32767);
}

TEST_F(ElevationPostTest, MissingTilesAreCreatedWhole) {
  const Output o = Run(TilePosts(kTx, kTy, 1023, 1024, 5, 5));  // two tiles, neither exists
  EXPECT_EQ(CountOf(o.out, "created RW\n"), 2);
  for (const char* name : {"066_148", "067_148"}) {
    TileImage t = TileImage::Load(name);
    ASSERT_EQ(t.bytes.size(), kElevationTileBytes);
    TileImage expected = TileImage::Elevation();
    SetIdentification(expected.header(), kKindElevation);
    EXPECT_TRUE(t.bytes == expected.bytes) << name;  // zero posts, zero records
  }
}

// A short tile reads as zeroes past its end and comes out whole, as a whole write makes it.
TEST_F(ElevationPostTest, ShortTileComesOutWhole) {
  TileImage tile = TileImage::Elevation();
  tile.Fill(0, kElevationTileBytes, [](uint32_t i) { return static_cast<uint8_t>(i * 7 + 1); });
  tile.bytes.resize(1 << 20);
  tile.Save(name_);

  Run(TilePosts(kTx, kTy, 0, 0, 0, 0));
  TileImage expected = TileImage::Elevation();
  std::copy(tile.bytes.begin(), tile.bytes.end(), expected.bytes.begin());
  SetIdentification(expected.header(), kKindElevation);
  for (int b = 0; b < kBlockCount; ++b) {
    int16_t lowest = 32767, highest = -32768;
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 32; ++x) {
        const int16_t e = expected.elevation((b % 32) * 32 + x, (b / 32) * 32 + y);
        lowest = std::min(lowest, e);
        highest = std::max(highest, e);
      }
    }
    const int16_t first = expected.elevation((b % 32) * 32, (b / 32) * 32);
    PutBlockRecord(expected.bytes.data(), b, BlockRecord{first, 0, 0, lowest, highest});
  }
  EXPECT_TRUE(ReadFileBytes(name_) == expected.bytes);
}

TEST_F(ElevationPostTest, UnwritableTileIsReported) {
  std::filesystem::create_directory(name_);
  const Output o = Run(TilePosts(kTx, kTy, 0, 0, 0, 0), -1);
  EXPECT_NE(o.err.find("trn_elevation_post: Can't open 066_148\n"), std::string::npos) << o.err;
}

}  // namespace
