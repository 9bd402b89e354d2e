#include "tiledb.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <limits>
#include <tuple>
#include <vector>

#include "terrain_fixture.h"
#include "trn_post_walk.h"

namespace {

std::vector<TileSpan> Walk(double lon_min, double lat_min, double lon_max, double lat_max) {
  std::vector<TileSpan> spans;
  // Corners in gridforge's order: the walk depends on the bounding box only.
  const Region region =
      MakeRegion(lon_min, lat_max, lon_max, lat_max, lon_min, lat_min, lon_max, lat_min);
  WalkRegion(region, [&](const TileSpan& t) {
    spans.push_back(t);
    return 0;
  });
  EXPECT_EQ(region.TileCount(), static_cast<int64_t>(spans.size()));
  return spans;
}

auto Span(int tx, int ty, int xs, int xe, int ys, int ye) {
  return std::make_tuple(tx, ty, xs, xe, ys, ye);
}
std::vector<std::tuple<int, int, int, int, int, int>> Tuples(const std::vector<TileSpan>& v) {
  std::vector<std::tuple<int, int, int, int, int, int>> out;
  for (const TileSpan& t : v) out.push_back(Span(t.tx, t.ty, t.xs, t.xe, t.ys, t.ye));
  return out;
}

TEST(RegionWalk, WestEdgeOnAPostAndThePostTolerance) {
  struct Case {
    double lon_min;
    int x0;
  } cases[] = {
      {-122.0, 69600},                         // exactly on a post
      {-122.0 + 0.005 * kPostSpacing, 69600},  // 0.005 of a spacing east: still that post
      {-122.0 + 0.02 * kPostSpacing, 69601},   // 0.02 east: the next post
      {-122.0 - 0.005 * kPostSpacing, 69600},  // just west of the post: that post
  };
  for (const Case& c : cases) {
    const Region r = MakeRegion(c.lon_min, 37, -121.9, 37, c.lon_min, 37.1, -121.9, 37.1);
    EXPECT_EQ(r.x0, c.x0) << c.lon_min;
  }
  const Region r = MakeRegion(-122, 37, -121.9, 37, -122, 37.1, -121.9, 37.1);
  EXPECT_EQ(r.tx0, 67);
  EXPECT_EQ(r.Columns(67).first, 992);
  // East and north edges take the tolerance the other way round.
  EXPECT_EQ(MakeRegion(-123, 37, -122.0 - 0.005 * kPostSpacing, 37.1, -123, 37, -123, 37).x1,
            69600);
  EXPECT_EQ(MakeRegion(-123, 37, -122.0 - 0.02 * kPostSpacing, 37.1, -123, 37, -123, 37).x1, 69599);
}

TEST(RegionWalk, VisitsTilesSouthToNorthAndWestToEast) {
  // Tile 66 starts at post column 67584, longitude -123.68; row 148 at 151552, latitude 36.2933.
  const double lon = PostLon(67584), lat = PostLat(151552);
  const double s = kPostSpacing;
  // Inside one tile: partial ranges in both directions.
  EXPECT_THAT(Tuples(Walk(lon + 10 * s, lat + 20 * s, lon + 30 * s, lat + 40 * s)),
              ::testing::ElementsAre(Span(66, 148, 10, 30, 20, 40)));
  // Across a tile border eastward: first tile to column 1023, the next from column 0.
  EXPECT_THAT(
      Tuples(Walk(lon + 1000 * s, lat + 20 * s, lon + 1030 * s, lat + 40 * s)),
      ::testing::ElementsAre(Span(66, 148, 1000, 1023, 20, 40), Span(67, 148, 0, 6, 20, 40)));
  // Two by two tiles.
  EXPECT_THAT(
      Tuples(Walk(lon + 1000 * s, lat + 1020 * s, lon + 1030 * s, lat + 1030 * s)),
      ::testing::ElementsAre(Span(66, 148, 1000, 1023, 1020, 1023), Span(67, 148, 0, 6, 1020, 1023),
                             Span(66, 149, 1000, 1023, 0, 6), Span(67, 149, 0, 6, 0, 6)));
}

TEST(RegionWalk, EmptyRangesAndNoNumbers) {
  const double lon = PostLon(67584 + 100), lat = PostLat(151552 + 100);
  const double s = kPostSpacing;
  // A box between two posts of one tile: the tile is visited with an empty column range.
  const auto between = Walk(lon + 0.3 * s, lat, lon + 0.6 * s, lat + 2 * s);
  ASSERT_EQ(between.size(), 1u);
  EXPECT_GT(between[0].xs, between[0].xe);
  // A box between the last post of one tile and the first of the next: no tile column at all.
  EXPECT_TRUE(
      Walk(PostLon(67584 + 1023) + 0.3 * s, lat, PostLon(67584 + 1023) + 0.6 * s, lat).empty());
  // Corners that are not numbers leave the box empty: nothing is visited.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(Walk(nan, nan, nan, nan).empty());
}

TEST(RegionWalk, CornersOffTheGlobeAreRefused) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double s = kPostSpacing;
  // One value put into one corner (0 = lon1 .. 7 = lat4) of a region well inside the globe.
  const struct {
    int corner;
    double value;
    const char* line;  // empty: on the globe
  } cases[] = {
      {0, -180.0, ""},  // the globe's edges themselves
      {2, 180.0, ""},
      {1, -90.0, ""},
      {7, 90.0, ""},
      {4, -180 - 0.005 * s, ""},  // within the walk's tolerance
      {6, 180 + 0.005 * s, ""},
      {3, -90 - 0.005 * s, ""},
      {0, -180 - 0.02 * s,
       "who: region longitude -180.00001666666665 is off the globe (-180..180)\n"},
      {5, 90 + 0.02 * s, "who: region latitude 90.00001666666667 is off the globe (-90..90)\n"},
      {0, -1e9, "who: region longitude -1e+09 is off the globe (-180..180)\n"},
      {3, -95, "who: region latitude -95 is off the globe (-90..90)\n"},
      {6, 1e300, "who: region longitude 1e+300 is off the globe (-180..180)\n"},
      {4, inf, "who: region longitude inf is off the globe (-180..180)\n"},
      {1, -inf, "who: region latitude -inf is off the globe (-90..90)\n"},
      // The bounding box passes a value that is not a number over; the check must not.
      {7, nan, "who: region latitude nan is off the globe (-90..90)\n"},
      {2, nan, "who: region longitude nan is off the globe (-180..180)\n"},
  };
  for (const auto& c : cases) {
    double p[8] = {-123, 48, -122, 48, -123, 49, -122, 49};
    p[c.corner] = c.value;
    bool on_globe = false;
    EXPECT_EQ(CaptureStderr([&] {
                on_globe = CheckRegion("who", p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]);
              }),
              c.line)
        << c.corner << " " << c.value;
    EXPECT_EQ(on_globe, *c.line == '\0') << c.corner << " " << c.value;
  }
  // The walk's own numbers stay defined for such values: x86's INT32_MIN for what does not fit.
  const Region wild = MakeRegion(-1e300, -inf, inf, 1e300, nan, nan, nan, nan);
  EXPECT_EQ(std::tie(wild.x0, wild.x1, wild.y0, wild.y1),
            std::make_tuple(INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN));
  // Only the first value off the globe is named; a pass walks nothing.
  EXPECT_EQ(CaptureStderr([&] {
              EXPECT_FALSE(PassRegion("trn_levels", -123, 48, 400, 48, -123, -95, nan, 49));
            }),
            "trn_levels: region longitude 400 is off the globe (-180..180)\n");
}

TEST(RegionWalk, TheWholeGlobeIsAllItsTiles) {
  EXPECT_EQ(Walk(-180, -90, 180, 90).size(), 422u * 211u);
}

TEST(RegionWalk, TheGlobesCornersAreItsLastAndFirstTiles) {
  // 179.999..180 E, 89.999..90 N: posts 431999..432000 and 215999..216000, the last tile.
  const auto north_east =
      PassRegion("trn_levels", 179.999, 89.999, 180, 89.999, 179.999, 90, 180, 90);
  const auto south_west =
      PassRegion("trn_levels", -180, -90, -179.999, -90, -180, -89.999, -179.999, -89.999);
  ASSERT_TRUE(north_east && south_west);
  for (const auto& [region, span] : {std::pair{*north_east, Span(421, 210, 895, 896, 959, 960)},
                                     std::pair{*south_west, Span(0, 0, 0, 1, 0, 1)}}) {
    std::vector<TileSpan> spans;
    WalkRegion(region, [&](const TileSpan& t) {
      spans.push_back(t);
      return 0;
    });
    EXPECT_THAT(Tuples(spans), ::testing::ElementsAre(span));
  }
}

TEST(TileLayout, PostsBlocksAndRecords) {
  EXPECT_EQ(PostOffset(0, 0), 8192u);
  EXPECT_EQ(PostOffset(31, 0), 8192u + 31 * 4);
  EXPECT_EQ(PostOffset(0, 1), 8192u + 128);
  EXPECT_EQ(PostOffset(32, 0), 8192u + 4096);
  EXPECT_EQ(PostOffset(0, 32), 8192u + 32 * 4096);
  EXPECT_EQ(PostOffset(1023, 1023), 8192u + 4194304 - 4);
  EXPECT_EQ(BlockRecordOffset(0), 4202496u);
  EXPECT_EQ(kElevationTileBytes, 4210688u);
  EXPECT_EQ(kColorTileBytes, 4202496u);

  std::vector<uint8_t> tile(kElevationTileBytes);
  PutBlockRecord(tile.data(), 1023, {-2, 7, 0x33, -300, 12000});
  const uint8_t expected[8] = {0xFE, 0xFF, 7, 0x33, 0xD4, 0xFE, 0xE0, 0x2E};
  EXPECT_TRUE(std::equal(expected, expected + 8, tile.end() - 8));
  const BlockRecord r = GetBlockRecord(tile.data(), 1023);
  EXPECT_EQ(r.first_elevation, -2);
  EXPECT_EQ(r.max_elevation, 12000);

  SetElevation(tile.data(), 5, 40, -25536);
  EXPECT_EQ(tile[PostOffset(5, 40)], 0x40);
  EXPECT_EQ(tile[PostOffset(5, 40) + 1], 0x9C);
}

// The walks over a tile's region posts and over the posts outside it: together every post of
// the tile once, each post of the span in the region walk, runs that stay in their block row.
TEST(PostWalks, RegionAndOutsideRunsCoverEveryPostOnce) {
  const TileSpan spans[] = {
      {0, 0, 0, kTileMask, 0, kTileMask},  // the whole tile
      {0, 0, 5, 4, 0, kTileMask},          // no column
      {0, 0, 0, kTileMask, 7, 6},          // no row
      {0, 0, 0, 0, 0, 0},                  // the south-west post
      {0, 0, 31, 32, 31, 32},              // four posts across four blocks
      {0, 0, 32, 63, 64, 95},              // one block whole
      {0, 0, 640, kTileMask, 0, 736},      // gridforge's region in its south-east tile
      {0, 0, 17, 1000, 900, 1020},
  };
  for (const TileSpan& t : spans) {
    SCOPED_TRACE(::testing::Message() << t.xs << ".." << t.xe << " x " << t.ys << ".." << t.ye);
    std::vector<int> visits(kPostBytes / kPostSize);
    auto visit = [&](uint32_t offset, int n, int mark) {
      ASSERT_GE(offset, kHeaderBytes);
      const uint32_t first = (offset - kHeaderBytes) / kPostSize;
      ASSERT_LE(first + n, visits.size());
      ASSERT_EQ(first / (kBlocksPerSide * kBlockPosts * kBlockPosts),
                (first + n - 1) / (kBlocksPerSide * kBlockPosts * kBlockPosts));
      for (int k = 0; k < n; ++k) visits[first + k] += mark;
    };
    ForEachRegionRun(
        t, [](int) {},
        [&](int x0, int x1, int, uint32_t offset) { visit(offset, x1 - x0 + 1, 1); });
    ForEachOutsideRun(t, [&](uint32_t offset, int n) { visit(offset, n, 16); });
    for (int y = 0; y < kTilePosts; ++y) {
      for (int x = 0; x < kTilePosts; ++x) {
        const bool inside = x >= t.xs && x <= t.xe && y >= t.ys && y <= t.ye;
        ASSERT_EQ(visits[(PostOffset(x, y) - kHeaderBytes) / kPostSize], inside ? 1 : 16)
            << x << "," << y;
      }
    }
  }
}

TEST(TileLayout, IdentificationFields) {
  EXPECT_EQ(std::string(kTileBanner.data()).size(), 938u);
  std::vector<uint8_t> header(kHeaderBytes, 0xAB);
  SetIdentification(header.data(), kKindColor);
  const uint8_t start[12] = {0x76, 0xE6, 0x89, 0x19, 2, 0, 0, 0, 0x01, 0x05, 0x01, 0x00};
  EXPECT_TRUE(std::equal(start, start + 12, header.begin()));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&header[12])), kTileBanner.data());
  EXPECT_EQ(header[950], 0);     // the banner's NUL
  EXPECT_EQ(header[951], 0xAB);  // the rest of the header is kept
  EXPECT_EQ(header[1024], 0xAB);
}

TEST(TileLayout, NamesFitTheirBuffer) {
  EXPECT_EQ(ElevationTileName(66, 148), "066_148");
  EXPECT_EQ(ElevationTileName(-255, 7), "-255_007");
  EXPECT_EQ(ColorTileName(66, 148), "066_148.c32");
  EXPECT_EQ(ScratchTileName(1, 2), "001_002.tmp");
  EXPECT_EQ(LevelFileName("066_148", 5), "066_148_5");
  EXPECT_EQ(GridFileName("landuse", 600, 40), "landuse.0600x0040");
  EXPECT_EQ(GridFileName(std::string(400, 'a'), 1, 1).size(), kFileNameSize - 1);
}

TEST(Errors, TrnErrorCodes) {
  const struct {
    int code;
    const char* module;
    const char* name;
    const char* out;
  } cases[] = {
      {0, "trn_color", "x", ""},
      {4, "trn_color", "066_148.c32", "trn_color: Can't open 066_148.c32\n"},
      {5, "trn_elevation", "066_148", "trn_elevation: Can't write 066_148\n"},
      {6, "trn_shading", "067_148", "trn_shading: Can't read 067_148\n"},
      {8, "trn_shading", "066_148", "trn_shading: Can't close 066_148\n"},
      {9, "trn_color_post", "whatever", "trn_color_post: Illegal combination of flags\n"},
      {7, "trn_color", "x", ""},   // a row without lines
      {-1, "trn_color", "x", ""},  // outside the table
      {1000, "trn_color", "x", ""},
      {4, "100%s", "%n%s", "100%s: Can't open %n%s\n"},  // no conversions from the texts
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CaptureStderr([&] { trn_error(c.code, c.module, c.name, ""); }), c.out) << c.code;
  }
}

TEST(Allocation, ZeroFilledAndRefusedWhenTooLarge) {
  void* p = trn_zero_alloc(4099);
  ASSERT_NE(p, nullptr);
  const auto* bytes = static_cast<const uint8_t*>(p);
  EXPECT_TRUE(std::all_of(bytes, bytes + 4099, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % kHeapAlignment, 0u);
  std::free(p);

  // 65536 x 16384 values of 4 bytes: 2^32 bytes, which a 32-bit count cannot hold.
  TileBuffer big;
  const std::string err = CaptureStderr(
      [&] { big = TileBuffer::Allocate("trn_elevation", uint64_t{4} * 65536 * 16384); });
  EXPECT_FALSE(big);
  EXPECT_EQ(err, "trn_elevation: Cannot allocate memory\n");
}

using TileFiles = TerrainDirTest;

TEST_F(TileFiles, OutputTileIsCreatedThenOpened) {
  TileFile again;
  const std::string out = CaptureStdout([&] {
    {
      TileFile f = TileFile::OpenOutput("trn_elevation", "066_148");
      ASSERT_TRUE(f.is_open());
      const uint8_t data[3] = {1, 2, 3};
      f.WriteWhole("trn_elevation", data, 3);
      EXPECT_EQ(f.Close("trn_elevation"), 0);
    }
    {
      TileFile f = TileFile::OpenOutput("trn_color", "066_148.c32");
      ASSERT_TRUE(f.is_open());
    }
    again = TileFile::OpenOutput("trn_elevation", "066_148");
  });
  EXPECT_EQ(out, "066_148     created RW\n066_148.c32 created RW\n066_148     opened  RW\n");
  ASSERT_FALSE(HasFatalFailure());  // an open above failed
  // Opening an existing tile keeps its content; a short file leaves the buffer's rest zero.
  TileBuffer buffer = TileBuffer::Allocate("trn_elevation", 8);
  again.ReadWhole("trn_elevation", buffer);
  const uint8_t expected[8] = {1, 2, 3, 0, 0, 0, 0, 0};
  EXPECT_TRUE(std::equal(expected, expected + 8, buffer.data()));
  struct stat st;
  ASSERT_EQ(stat("066_148", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u & ~static_cast<unsigned>(umask(022)));
}

TEST_F(TileFiles, MoveAssignmentClosesWhatItHeldAndTakesTheOther) {
  // Names of 29 characters live on the heap, not in the string's own small buffer.
  const std::string held(29, 'h'), moved(29, 'm');
  for (const bool held_is_temporary : {false, true}) {
    std::filesystem::remove(moved);
    // A missing input tile stands on a temporary file, an output tile on its own descriptor.
    TileFile target, source;
    CaptureStdout([&] {
      target = held_is_temporary ? TileFile::OpenInput("trn_shading", held)
                                 : TileFile::OpenOutput("trn_shading", held);
      source = TileFile::OpenOutput("trn_shading", moved);
    });
    ASSERT_TRUE(target.is_open() && source.is_open());
    const int held_fd = target.fd(), moved_fd = source.fd();

    target = std::move(source);
    EXPECT_EQ(fcntl(held_fd, F_GETFD), -1) << held_is_temporary;  // closed, not leaked
    EXPECT_FALSE(source.is_open());
    EXPECT_EQ(target.name(), moved);
    EXPECT_EQ(target.fd(), moved_fd);
    const uint8_t data[2] = {5, 6};
    EXPECT_TRUE(target.WriteWhole("trn_shading", data, 2));
    EXPECT_EQ(target.Close("trn_shading"), 0);
    EXPECT_EQ(ReadFileBytes(moved), std::vector<uint8_t>({5, 6}));
  }
}

TEST_F(TileFiles, MissingInputTileReadsAsZeroes) {
  TileFile f, quiet;
  EXPECT_EQ(CaptureStdout([&] {
              f = TileFile::OpenInput("trn_shading", "066_148");
              quiet = TileFile::OpenInput("trn_color_post", "066_149.c32", false);
            }),
            "066_148     opened  RO  (as zeroes)\n");
  ASSERT_TRUE(f.is_open());
  ASSERT_TRUE(quiet.is_open());
  TileBuffer buffer = TileBuffer::Allocate("trn_shading", kColorTileBytes);
  f.ReadWhole("trn_shading", buffer);
  EXPECT_TRUE(
      std::all_of(buffer.data(), buffer.data() + buffer.size(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(f.Close("trn_shading"), 0);
  EXPECT_FALSE(std::filesystem::exists("066_148"));
}

TEST_F(TileFiles, OpenFailuresFollowTheConvention) {
  std::filesystem::create_directory("066_148");  // a directory can't be opened as a tile
  bool tile_opened = true, grid_opened = true;
  const Output output = Capture([&] {
    tile_opened = TileFile::OpenOutput("trn_elevation", "066_148").is_open();
    grid_opened = TileFile::OpenGrid("trn_color", "missing.0010x0010").is_open();
  });
  EXPECT_FALSE(tile_opened);
  EXPECT_FALSE(grid_opened);
  EXPECT_EQ(output.err,
            "trn_elevation: Is a directory\ntrn_elevation: Can't open 066_148\n"
            "trn_color: No such file or directory\ntrn_color: Can't open missing.0010x0010\n");
  EXPECT_EQ(output.out, "");
}

// A file-size limit for as long as it lives, with the signal that the limit raises ignored: the
// write that crosses it stops short, and the next one fails with "File too large".
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    const rlimit limit{bytes, old_.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit old_{};
  void (*old_handler_)(int) = nullptr;
};

TEST_F(TileFiles, FailedAndShortWritesAndFailedReadsFollowTheConvention) {
  const std::vector<uint8_t> data(8192, 7);
  std::filesystem::create_symlink("/dev/full", "066_148");  // reads as zeroes, takes no byte
  TileFile full, limited, directory;
  CaptureStdout([&] {
    full = TileFile::OpenOutput("trn_elevation", "066_148");
    limited = TileFile::OpenOutput("trn_color", "066_148.c32");
    std::filesystem::create_directory("067_148");  // opens for reading, but cannot be read
    directory = TileFile::OpenInput("trn_shading", "067_148");
  });
  ASSERT_TRUE(full.is_open() && limited.is_open() && directory.is_open());

  std::vector<uint8_t> buffer(8192, 1);
  EXPECT_EQ(CaptureStderr([&] {
              EXPECT_TRUE(full.ReadWhole("trn_elevation", buffer.data(), 8192));
              EXPECT_FALSE(full.WriteWhole("trn_elevation", data.data(), 8192));
              {
                FileSizeLimit limit(4096);
                EXPECT_FALSE(limited.WriteWhole("trn_color", data.data(), 8192));
              }
              EXPECT_FALSE(directory.ReadWhole("trn_shading", buffer.data(), 8192));
            }),
            "trn_elevation: No space left on device\ntrn_elevation: Can't write 066_148\n"
            "trn_color: File too large\ntrn_color: Can't write 066_148.c32\n"
            "trn_shading: Is a directory\ntrn_shading: Can't read 067_148\n");
  EXPECT_EQ(std::filesystem::file_size("066_148.c32"), 4096u);
  // A short file still reads as zeroes past its end.
  EXPECT_EQ(
      CaptureStderr([&] { EXPECT_TRUE(limited.ReadWhole("trn_color", buffer.data(), 8192)); }), "");
  EXPECT_EQ(std::count(buffer.begin(), buffer.begin() + 4096, 7), 4096);
  EXPECT_EQ(std::count(buffer.begin() + 4096, buffer.end(), 0), 4096);
}

TEST(Progress, RowAndTileLines) {
  EXPECT_EQ(CaptureStdout([] {
              PrintRowLine(4, 1023);
              PrintTileLine();
            }),
            "y=4 of 1023\r" + std::string(50, ' ') + "\n");
}

}  // namespace
