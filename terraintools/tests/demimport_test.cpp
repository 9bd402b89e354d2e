// demimport run as a program in a private directory, on the GDAL-written DEM of the Olympic
// peninsula and on DEMs written here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "demnumbers.h"
#include "program_run.h"
#include "programs.h"
#include "terrain_fixture.h"
#include "testsupport/FailingClose.h"
#include "tiledb.h"

namespace {

using kyte::testsupport::ScopedFailingClose;

ProgramRun RunDemimport(const std::vector<std::string>& args) {
  return RunProgram(DEMIMPORT_PATH, args);
}

// The DEM's elevations by profile, read from record B on by splitting at white space: each
// profile is 9 header fields, the third its elevation count, then the elevations.
std::vector<std::vector<int32_t>> ReadProfiles(const std::string& path) {
  const auto bytes = ReadFileBytes(path);
  std::istringstream in(std::string(bytes.begin() + 1024, bytes.end()));
  std::vector<std::vector<int32_t>> profiles;
  std::string field[9];
  while (in >> field[0]) {
    for (int k = 1; k < 9; ++k) in >> field[k];
    std::vector<int32_t> p(std::stoi(field[2]));
    for (int32_t& v : p) in >> v;
    profiles.push_back(std::move(p));
  }
  return profiles;
}

// A DEM in the fixed layout of its records: record A of 1024 characters, then the profiles,
// each padded to a multiple of 1024 characters.
struct DemContent {
  std::vector<std::string> corners = {"-0.439200000000000D+06", "0.133200000000000D+06",
                                      "-0.439200000000000D+06", "0.133236000000000D+06",
                                      "-0.439164000000000D+06", "0.133236000000000D+06",
                                      "-0.439164000000000D+06", "0.133200000000000D+06"};
  std::string after_counts;  // further record A fields after the row and column counts
  std::string token4 = "0.0";
  std::string profile_x = "0.000000000000000D+00";  // the profiles' first coordinate
  std::vector<std::vector<int32_t>> profiles;
  bool lines = false;  // records as lines instead of 1024-character blocks
  // Counts the header and every profile claim instead of the real ones, when not empty.
  std::string profile_count, elevation_count;
  std::string row_count = "1";        // record A's DEM_a_row
  std::string profile_columns = "1";  // every profile's DEM_b_col
};

std::string Field(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string MakeDem(const DemContent& dem) {
  std::string a = "synthetic.dem";
  a.resize(144, ' ');
  a += Field("1", 6) + Field("1", 6) + Field("0", 6) + Field("0", 6);
  for (int k = 0; k < 15; ++k) a += Field(k == 0 ? dem.token4 : "0.0", 24);
  a += Field("3", 6) + Field("2", 6) + Field("4", 6);
  for (const std::string& c : dem.corners) a += Field(c, 24);
  a += Field("0.0", 24) + Field("100.0", 24) + Field("0.0", 24);
  a += Field("0", 6) + "3.000000D+003.000000D+001.000000D+00";
  a += Field(dem.row_count, 6) +
       Field(dem.profile_count.empty() ? std::to_string(dem.profiles.size()) : dem.profile_count,
             6) +
       dem.after_counts;
  if (dem.lines) {
    a += "\n";
  } else {
    a.resize(1024, ' ');
  }
  for (size_t p = 0; p < dem.profiles.size(); ++p) {
    const std::string count =
        dem.elevation_count.empty() ? std::to_string(dem.profiles[p].size()) : dem.elevation_count;
    std::string b = Field("1", 6) + Field(std::to_string(p + 1), 6) + Field(count, 6) +
                    Field(dem.profile_columns, 6);
    b += Field(dem.profile_x, 24);
    for (int k = 0; k < 4; ++k) b += Field("0.000000000000000D+00", 24);
    for (const int32_t v : dem.profiles[p]) b += Field(std::to_string(v), 6);
    if (dem.lines) {
      b += "\n";
    } else {
      b.resize((b.size() + 1023) / 1024 * 1024, ' ');
    }
    a += b;
  }
  return a;
}

void WriteText(const std::string& name, const std::string& text) {
  WriteFileBytes(name, std::vector<uint8_t>(text.begin(), text.end()));
}

int32_t GridValue(const std::vector<uint8_t>& grid, int record, int value) {
  return GetS32(&grid[(static_cast<size_t>(record) * 1201 + value) * 4]);
}

using Demimport = TerrainDirTest;

TEST_F(Demimport, WrongArgumentCountPrintsUsage) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"a.dem", "b.dem"}}) {
    const ProgramRun run = RunDemimport(args);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, std::string("\n usage: ") + DEMIMPORT_PATH + " DEM_filename \n");
    EXPECT_EQ(run.out, "");
  }
}

TEST_F(Demimport, OlympicDemBecomesItsGridAndTiles) {
  const CommandRun unpacked = RunCommand("xz -dc '" DEM_FIXTURE "' > olympic.dem");
  ASSERT_EQ(unpacked.status, 0) << unpacked.err;
  const ProgramRun run = RunDemimport({"olympic.dem"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.err,
                       "long_00=-124.000000 \nlat_00=48.000000 \nlong_0c=-123.000000 \n"
                       "lat_0c=48.000000 \nlong_r0=-124.000000 \nlat_r0=49.000000 \n"
                       "long_rc=-123.000000 \nlat_rc=49.000000 \n"));
  EXPECT_TRUE(Contains(run.err, "\n\n Conversion Saved to file: 066_162.1201x1201 \n"));
  EXPECT_TRUE(Contains(run.err,
                       "long_min = 66.000000 \nlong_max = 66.000000 \n"
                       "lat_min = 162.000000 \nlat_max = 162.000000 \n"));
  EXPECT_TRUE(
      Contains(run.out, "\nPhase 1: converting elevations\n\n066_162.1201x1201 opened  RO\n"));

  const std::vector<std::vector<int32_t>> profiles = ReadProfiles("olympic.dem");
  ASSERT_EQ(profiles.size(), 1201u);
  const std::vector<uint8_t> grid = ReadFileBytes("066_162.1201x1201");
  ASSERT_EQ(grid.size(), 5769604u);
  std::map<std::string, std::vector<uint8_t>> tiles;
  int exact = 0;
  for (int p = 0; p < 1201; ++p) {
    ASSERT_EQ(profiles[p].size(), 1201u);
    for (int j = 0; j < 1201; ++j) {
      const int32_t want = profiles[p][j];
      ASSERT_EQ(GridValue(grid, j, p), want) << p << "," << j;
      // Profile p lies on post column (56 x 1200 + p), its j-th elevation on post row
      // (138 x 1200 + j): the bilinear step lands a hair short of the sample and truncates.
      const int X = 67200 + p, Y = 165600 + j;
      std::vector<uint8_t>& tile = tiles[ElevationTileName(X >> 10, Y >> 10)];
      if (tile.empty()) tile = ReadFileBytes(ElevationTileName(X >> 10, Y >> 10));
      ASSERT_EQ(tile.size(), kElevationTileBytes);
      const int got = GetElevation(tile.data(), X & kTileMask, Y & kTileMask);
      ASSERT_LE(std::abs(got - want), 1) << p << "," << j;
      if (got != want) {
        ASSERT_EQ(got, want > 0 ? want - 1 : want + 1) << p << "," << j;
      }
      exact += got == want;
    }
  }
  EXPECT_GT(exact, 1201 * 1201 / 2);
  EXPECT_EQ(tiles.size(), 4u);
}

TEST_F(Demimport, RecordAWithAndWithoutFurtherFieldsReadsTheSame) {
  DemContent dem;
  dem.profiles = {{11, 12, 13, 14}, {21, 22, 23, 24}, {-31, 32, 33, 34}};
  WriteText("plain.dem", MakeDem(dem));
  dem.after_counts = "                       0 1 1       0";
  WriteText("newer.dem", MakeDem(dem));
  dem.lines = true;
  WriteText("lines.dem", MakeDem(dem));
  dem.after_counts.clear();  // the line break right after the column count
  WriteText("short-lines.dem", MakeDem(dem));

  const char* names[] = {"plain.dem", "newer.dem", "lines.dem", "short-lines.dem"};
  std::vector<uint8_t> grids[4];
  for (int k = 0; k < 4; ++k) {
    SCOPED_TRACE(names[k]);
    const ProgramRun run = RunDemimport({names[k]});
    ASSERT_EQ(run.status, 0) << run.err;
    // 122 W, 37 N: tile numbers 68 and 148.
    EXPECT_TRUE(Contains(run.err, "long_00=-122.000000 \nlat_00=37.000000 \n"));
    EXPECT_TRUE(Contains(run.err,
                         "long_min = 68.000000 \nlong_max = 68.000000 \n"
                         "lat_min = 148.000000 \nlat_max = 148.000000 \n"));
    grids[k] = ReadFileBytes("068_148.1201x1201");
  }
  EXPECT_EQ(grids[0], grids[1]);
  EXPECT_EQ(grids[0], grids[2]);
  EXPECT_EQ(grids[0], grids[3]);
  ASSERT_EQ(grids[0].size(), 5769604u);
  EXPECT_EQ(GridValue(grids[0], 0, 0), 11);  // record 0: the first elevation of every profile
  EXPECT_EQ(GridValue(grids[0], 0, 2), -31);
  EXPECT_EQ(GridValue(grids[0], 3, 1), 24);
  EXPECT_EQ(GridValue(grids[0], 4, 1), 0);  // beyond the short profiles and their count
  EXPECT_EQ(GridValue(grids[0], 0, 3), 0);
  // The 0.01-degree region lies in tile (67, 148); its south-west post takes g(0, 0).
  const std::vector<uint8_t> tile = ReadFileBytes("067_148");
  EXPECT_EQ(GetElevation(tile.data(), 69600 & kTileMask, 152400 & kTileMask), 11);
}

TEST_F(Demimport, TileNumbersEastOf39Degrees) {
  DemContent dem;
  dem.corners = {"0.140400000000000D+06", "0.162000000000000D+06", "0.140400000000000D+06",
                 "0.162036000000000D+06", "0.140436000000000D+06", "0.162036000000000D+06",
                 "0.140436000000000D+06", "0.162000000000000D+06"};
  dem.profiles = {{5}};
  WriteText("east.dem", MakeDem(dem));
  const ProgramRun run = RunDemimport({"east.dem"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(std::filesystem::exists("257_159.1201x1201"));
  EXPECT_TRUE(Contains(run.err, "long_min = 257.000000 \n"));
  EXPECT_TRUE(Contains(run.err, "lat_min = 159.000000 \n"));
}

TEST_F(Demimport, FailuresEndTheProcess) {
  DemContent dem;
  dem.profiles = {{1, 2}, {3, 4}};
  const std::string good = MakeDem(dem);
  DemContent letter = dem;
  letter.token4 = "X";
  DemContent long_token = dem;  // the profiles' first coordinate, cut to the token buffer
  long_token.profile_x = " " + std::string(300, '7');
  DemContent no_profile = dem;
  no_profile.profile_count = "0";
  DemContent huge_counts = dem;  // read as far as the file goes, and no farther
  huge_counts.profile_count = "99999";
  huge_counts.elevation_count = "99999";
  // The last profile: its header and its first elevation, of two.
  const std::string short_profile = good.substr(0, good.size() - 1024 + 144 + 6);
  const size_t corner_at = good.find("-0.4392");
  const struct {
    const char* what;
    std::string dem;
    int status;
    std::string err_tail;
  } cases[] = {
      {"ends in the first 143 characters", good.substr(0, 100), 255,
       "error processing: d.dem \n\n"},
      {"ends in white space", good.substr(0, corner_at - 3), 255, "error: processing: d.dem \n\n"},
      {"ends in a token", good.substr(0, corner_at + 7), 255, "error: processing: d.dem \n"},
      {"letter among the header tokens", MakeDem(letter), 255,
       "error:dem_gnd_cood[0] string = X\n"},
      {"profile ends early", short_profile, 255, "elev_dat\n"},
      {"token longer than its buffer", MakeDem(long_token), 0, "lat_max = 148.000000 \n"},
      {"no profile", MakeDem(no_profile), 255,
       "\n error: 'd.dem' holds no profile (DEM_a_col = 0)\n"},
      {"counts far beyond the file", MakeDem(huge_counts), 255, "elev_dat\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove("068_148.1201x1201");
    std::filesystem::remove("067_148");
    WriteText("d.dem", c.dem);
    const ProgramRun run = RunDemimport({"d.dem"});
    EXPECT_EQ(run.status, c.status);
    ASSERT_GE(run.err.size(), c.err_tail.size());
    EXPECT_EQ(run.err.substr(run.err.size() - c.err_tail.size()), c.err_tail);
    EXPECT_EQ(std::filesystem::exists("067_148"), c.status == 0);
    if (c.err_tail.find("no profile") != std::string::npos) {
      EXPECT_FALSE(std::filesystem::exists("068_148.1201x1201"));
    }
  }
  // A DEM that fails part-way makes no grid file, and leaves an earlier run's grid file of the
  // same name as it was.
  WriteText("d.dem", short_profile);
  std::filesystem::remove("068_148.1201x1201");
  EXPECT_EQ(RunDemimport({"d.dem"}).status, 255);
  EXPECT_FALSE(std::filesystem::exists("068_148.1201x1201"));
  WriteText("068_148.1201x1201", "an earlier run's grid");
  EXPECT_EQ(RunDemimport({"d.dem"}).status, 255);
  EXPECT_EQ(ReadFile("068_148.1201x1201"), "an earlier run's grid");
  std::filesystem::remove("068_148.1201x1201");

  ProgramRun run = RunDemimport({"missing.dem"});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.err,
            "\n error:Could not open 'missing.dem'\ndemimport: No such file or directory\n");

  std::filesystem::remove("068_148.1201x1201");
  std::filesystem::create_directory("068_148.1201x1201");
  WriteText("d.dem", good);
  run = RunDemimport({"d.dem"});
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(Contains(
      run.err, "\n error: Could not open '068_148.1201x1201'\ndemimport: Is a directory\n"));
  std::filesystem::remove("068_148.1201x1201");

  // A grid file that takes no byte ends the run before any tile is touched.
  std::filesystem::remove("067_148");
  std::filesystem::create_symlink("/dev/full", "068_148.1201x1201");
  run = RunDemimport({"d.dem"});
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(
      Contains(run.err, "\n error: Could not write '068_148.1201x1201': No space left on device\n"))
      << run.err;
  EXPECT_FALSE(Contains(run.out, "Phase 1"));
  EXPECT_FALSE(std::filesystem::exists("067_148"));
  std::filesystem::remove("068_148.1201x1201");

  // So does one that a file-size limit of 1 or 2 MiB (2048 blocks of the shell's 512 or 1024
  // bytes) cuts short, with the signal it raises ignored; the part written is removed.
  run = RunProgram("trap '' XFSZ; ulimit -f 2048; " DEMIMPORT_PATH, {"d.dem"});
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(Contains(run.err, "\n error: Could not write '068_148.1201x1201': File too large\n"))
      << run.err;
  EXPECT_FALSE(Contains(run.out, "Phase 1"));
  EXPECT_FALSE(std::filesystem::exists("068_148.1201x1201"));
  EXPECT_FALSE(std::filesystem::exists("067_148"));

  // A small disk (1 MiB) that cannot take the grid file (5,769,604 bytes) and the tile is
  // refused before either.
  const SmallDiskRun small = RunOnSmallDisk(DEMIMPORT_PATH, {"d.dem"}, {"d.dem"});
  EXPECT_EQ(small.run.status, 255);
  EXPECT_TRUE(("\n" + small.run.err)
                  .ends_with("\ndemimport: region of 1 tiles needs 9981952 bytes in '.', more "
                             "than the 1044480 bytes free\n"))
      << small.run.err;
  EXPECT_FALSE(Contains(small.run.out, "Phase 1"));
  EXPECT_EQ(small.files, std::set<std::string>{"d.dem"});

  // A failing elevation pass is reported; the closing lines still follow, and the status is -1.
  std::filesystem::remove("067_148");
  std::filesystem::create_directory("067_148");
  run = RunDemimport({"d.dem"});
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(Contains(run.err,
                       "trn_elevation: Can't open 067_148\n"
                       "demimport: error in conversion of elevation\n"
                       "long_min = 68.000000 \n"));
}

// A grid file whose close fails is one not written whole: the buffer that the close writes out
// may not reach the disk, and a close may report a write the system could not complete. Either
// is reported with the grid's name and the system's reason, the grid is removed and no tile is
// touched, status -1. A grid name that is a link to a regular file (a grid shared between
// databases) keeps its link and the file it leads to, as far as it was written.
TEST_F(Demimport, AGridFileWhoseCloseFailsIsRemovedAndFailsTheRun) {
  namespace fs = std::filesystem;
  DemContent dem;
  dem.profiles = {{1, 2}, {3, 4}};
  WriteText("d.dem", MakeDem(dem));
  const std::string grid = "068_148.1201x1201";
  const std::string not_written = "\n error: Could not write '" + grid + "': ";

  for (const bool link : {false, true}) {
    SCOPED_TRACE(link ? "a link to a regular file" : "a plain file");
    fs::remove_all("run");
    fs::create_directory("run");
    const std::string target = link ? "run/shared.grid" : "run/" + grid;
    WriteText(target, "an earlier run's grid");  // the close to fail is that of this file
    if (link) fs::create_symlink("shared.grid", "run/" + grid);
    InProcessRun run;
    {
      const ScopedFailingClose failing(target, EIO);
      run = RunInProcess(::RunDemimport, "run", {"demimport", "d.dem"}, {"d.dem"});
      EXPECT_EQ(failing.failed(), 1);
    }
    EXPECT_EQ(run.status, -1);
    EXPECT_TRUE(Contains(run.err, not_written + "Input/output error\n")) << run.err;
    EXPECT_FALSE(Contains(run.err, "Conversion Saved")) << run.err;
    EXPECT_FALSE(Contains(run.out, "Phase 1"));
    std::set<std::string> left;
    for (const auto& [name, bytes] : run.files) left.insert(name);
    if (link) {
      EXPECT_EQ(left, (std::set<std::string>{"d.dem", "shared.grid", grid}));
      EXPECT_TRUE(fs::is_symlink("run/" + grid));
      EXPECT_EQ(fs::file_size("run/shared.grid"), 4u * 1201 * 1201);
    } else {
      EXPECT_EQ(left, std::set<std::string>{"d.dem"});
    }
  }

  // A limit a few KiB short of the grid: 1408 pages of 4096 bytes for its 5,769,604 bytes, with
  // the signal it raises ignored. Every full buffer is written; the last 2436 bytes fail only when
  // the close writes them. (A disk that short is refused before the grid file is made.)
  const ProgramRun cut =
      RunProgram("trap '' XFSZ; prlimit --fsize=5767168 -- " DEMIMPORT_PATH, {"d.dem"});
  EXPECT_EQ(cut.status, 255);
  EXPECT_TRUE(Contains(cut.err, not_written + "File too large\n")) << cut.err;
  EXPECT_FALSE(Contains(cut.err, "Conversion Saved")) << cut.err;
  EXPECT_FALSE(fs::exists(grid));
  EXPECT_FALSE(fs::exists("068_148"));
}

// A DEM read after another in the same process gives what it gives alone: the second DEM's
// single elevation keeps none of the first's around it.
TEST_F(Demimport, ARunAfterAnotherInTheSameProcessStartsFresh) {
  DemContent wide, narrow;
  wide.profiles = {{11, 12, 13}, {21, 22, 23}};
  narrow.profiles = {{5}};
  WriteText("wide.dem", MakeDem(wide));
  WriteText("narrow.dem", MakeDem(narrow));
  const InProcessRun alone =
      RunInProcess(::RunDemimport, "alone", {"demimport", "narrow.dem"}, {"narrow.dem"});
  ASSERT_EQ(alone.status, 0) << alone.err;
  ASSERT_EQ(RunInProcess(::RunDemimport, "wide", {"demimport", "wide.dem"}, {"wide.dem"}).status,
            0);
  const InProcessRun after =
      RunInProcess(::RunDemimport, "after", {"demimport", "narrow.dem"}, {"narrow.dem"});
  EXPECT_EQ(Differences(alone, after), "");
}

// Corners off the globe are refused once read, before the grid file is created: no file, even
// on a disk too small for one tile.
TEST_F(Demimport, CornersOffTheGlobeAreRefusedBeforeTheGridFile) {
  const struct {
    size_t corner;      // of the header's eight values: longitude, latitude, from south-west
    const char* value;  // arc-seconds, read as a float
    const char* line;
  } cases[] = {
      {0, "-0.432000000000000D+13",
       "demimport: region longitude -1199999986.3466666 is off the globe (-180..180)"},
      {5, "0.400000000000000D+06",
       "demimport: region latitude 111.11111111111111 is off the globe (-90..90)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    DemContent dem;
    dem.corners[c.corner] = c.value;
    dem.profiles = {{1, 2}, {3, 4}};
    WriteText("far.dem", MakeDem(dem));
    const std::optional<ProgramRun> run =
        ExpectRefusedRegion(DEMIMPORT_PATH, {"far.dem"}, c.line, {"far.dem"});
    if (run) {
      EXPECT_EQ(run->out, "");
    }
  }
}

// Corners that span more than a DEM covers (2 x 2 degrees) are refused once read, before the grid
// file: a DEM of a few kilobytes would otherwise have the elevation pass write tiles until the
// disk is full. The limit itself is taken in each direction.
TEST_F(Demimport, CornersSpanningMoreThanADemAreRefusedBeforeTheGridFile) {
  // Corners of a box from 122 W, 37 N, `width` and `height` in arc-seconds.
  const auto box = [](int width, int height) {
    const std::string w = std::to_string(-439200), e = std::to_string(-439200 + width);
    const std::string s = std::to_string(133200), n = std::to_string(133200 + height);
    return std::vector<std::string>{w, s, w, n, e, n, e, s};
  };
  const struct {
    int width, height;  // arc-seconds
    const char* line;
  } refused[] = {
      {36000, 36000,
       "demimport: region of 'big.dem' spans 10 x 10 degrees: more than the 2 x 2 of a USGS DEM"},
      {7236, 36,
       "demimport: region of 'big.dem' spans 2.01 x 0.01 degrees: more than the 2 x 2 "
       "of a USGS DEM"},
      {36, 9000,
       "demimport: region of 'big.dem' spans 0.01 x 2.5 degrees: more than the 2 x 2 "
       "of a USGS DEM"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.line);
    DemContent dem;
    dem.corners = box(c.width, c.height);
    dem.profiles = {{1, 2}, {3, 4}};
    WriteText("big.dem", MakeDem(dem));
    const std::optional<ProgramRun> run =
        ExpectRefusedRegion(DEMIMPORT_PATH, {"big.dem"}, c.line, {"big.dem"});
    if (run) {
      EXPECT_EQ(run->out, "");
    }
  }
  for (const auto& [width, height] : {std::pair{7200, 36}, {36, 7200}}) {
    DemContent dem;
    dem.corners = box(width, height);
    dem.profiles = {{1, 2}, {3, 4}};
    WriteText("wide.dem", MakeDem(dem));
    const ProgramRun run = RunDemimport({"wide.dem"});
    EXPECT_EQ(run.status, 0) << width << " x " << height << "\n" << run.err;
    EXPECT_EQ(CountOf(run.out, " RW\n"), 4);  // 2400 posts across 4 tiles
  }
}

// Every integer of the DEM, read as "%i" reads it, is refused beyond the int range with a line
// naming the field (and the profile) and the text, before the grid file; inside it, hexadecimal
// and octal forms keep their values.
TEST_F(Demimport, IntegersBeyondTheIntRangeAreRefused) {
  const std::string range = " is out of range (-2147483648..2147483647)\n";
  DemContent plain;
  plain.profiles = {{1, 2}, {3, 55555}};  // 55555 stands for the text of profile 2's elevation 2
  const auto with_elevation = [&](const std::string& text) {
    std::string made = MakeDem(plain);
    return made.replace(made.find("55555"), 5, text);
  };
  DemContent rows = plain, columns = plain, b_rows = plain, b_columns = plain, long_token = plain;
  // (A blank before each, as the field is narrower than the text.)
  rows.row_count = " 99999999999";
  columns.profile_count = " 99999999999";
  b_rows.elevation_count = " 99999999999";
  b_columns.profile_columns = " -99999999999";
  long_token.profile_x = std::string(300, '7');  // joins DEM_b_col "1": cut to 255 characters
  const struct {
    const char* what;
    std::string dem, line;
  } refused[] = {
      {"elevation", with_elevation("99999999999"),
       "\n error: 'n.dem' profile 2 elevation 2 '99999999999'" + range},
      {"elevation one above", with_elevation("2147483648"),
       "\n error: 'n.dem' profile 2 elevation 2 '2147483648'" + range},
      {"elevation one below", with_elevation("-2147483649"),
       "\n error: 'n.dem' profile 2 elevation 2 '-2147483649'" + range},
      {"hexadecimal elevation", with_elevation("0x80000000"),
       "\n error: 'n.dem' profile 2 elevation 2 '0x80000000'" + range},
      {"DEM_a_row", MakeDem(rows), "\n error: 'n.dem' DEM_a_row '99999999999'" + range},
      {"DEM_a_col", MakeDem(columns), "\n error: 'n.dem' DEM_a_col '99999999999'" + range},
      {"DEM_b_row", MakeDem(b_rows), "\n error: 'n.dem' profile 1 DEM_b_row '99999999999'" + range},
      {"DEM_b_col", MakeDem(b_columns),
       "\n error: 'n.dem' profile 1 DEM_b_col '-99999999999'" + range},
      {"DEM_b_col longer than the token buffer", MakeDem(long_token),
       "\n error: 'n.dem' profile 1 DEM_b_col '1" + std::string(254, '7') + "'" + range},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.what);
    WriteText("n.dem", c.dem);
    const ProgramRun run = RunDemimport({"n.dem"});
    EXPECT_EQ(run.status, 255);
    EXPECT_TRUE(("\n" + run.err).ends_with(c.line))
        << run.err.substr(run.err.size() - std::min<size_t>(run.err.size(), 400));
    EXPECT_EQ(FilesIn("."), std::set<std::string>{"n.dem"});
  }
  const struct {
    const char* text;
    int32_t value;
  } taken[] = {{"2147483647", INT32_MAX},
               {"-2147483648", INT32_MIN},
               {"0x10", 16},
               {"010", 8},
               {"+0x7FFFFFFF", INT32_MAX}};
  for (const auto& c : taken) {
    SCOPED_TRACE(c.text);
    WriteText("n.dem", with_elevation(c.text));
    const ProgramRun run = RunDemimport({"n.dem"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(GridValue(ReadFileBytes("068_148.1201x1201"), 1, 1), c.value);
  }
}

// Input bytes that a message quotes print their control bytes as \xNN: a corner token "-E"
// followed by ESC c would reset the terminal.
TEST_F(Demimport, QuotedInputShowsControlBytesAsEscapes) {
  const struct {
    std::string corner, token4, line;
  } cases[] = {
      {"-E\033c", "0.0", "error:dem_gnd_cood[0] string = -E\\x1Bc \n"},
      {"", "\a", "error:dem_gnd_cood[0] string = \\x07\n"},
      {"", std::string(1, '\0'), "error:dem_gnd_cood[0] string = \\x00\n"},
      {"", "\x9B", "error:dem_gnd_cood[0] string = \\x9B\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    DemContent dem;
    if (!c.corner.empty()) dem.corners[0] = c.corner;
    dem.token4 = c.token4;
    dem.profiles = {{1}};
    WriteText("q.dem", MakeDem(dem));
    const ProgramRun run = RunDemimport({"q.dem"});
    EXPECT_EQ(run.status, 255);
    EXPECT_TRUE(run.err.ends_with(c.line)) << run.err;
    EXPECT_FALSE(Contains(run.err, "\033"));
  }
}

// The DEM's integers read as fscanf's "%i" reads them, wherever its value is defined: the same
// value, and the same character left in the file for what follows.
TEST(DemNumbers, IntegersReadAsPercentIReadsThem) {
  for (const std::string text :
       {"  42 ", "\n-7\n", "+13x", "0x1F ", "0X1fg", "0x ", "017 ", "08", "-0x10-", "0",
        "2147483647", "-2147483648", "007.5", "  -", "+ 5", "x", "-x", "1D+03"}) {
    SCOPED_TRACE(text);
    std::FILE* ours = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    std::FILE* libc = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    ASSERT_TRUE(ours && libc);
    int theirs = -99, value = -99;
    const int scanned = std::fscanf(libc, "%i", &theirs);
    std::string read;
    const Conversion got =
        ReadIntText(ours, read) ? ConvertInt(read.c_str(), value) : Conversion::kNoNumber;
    EXPECT_EQ(got == Conversion::kValue, scanned == 1) << read;
    if (scanned == 1) {
      EXPECT_EQ(value, theirs);
    }
    EXPECT_EQ(std::fgetc(ours), std::fgetc(libc));
    std::fclose(ours);
    std::fclose(libc);
  }
  int value = 5;
  for (const char* beyond : {"2147483648", "-2147483649", "99999999999", "0x100000000",
                             "-0x80000001", "99999999999999999999999999"})
    EXPECT_EQ(ConvertInt(beyond, value), Conversion::kOutOfRange) << beyond;
  EXPECT_EQ(value, 5);
}

}  // namespace
