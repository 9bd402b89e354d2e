// tintshade and tileprint run over a small region inside tile 066_161.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "program_run.h"
#include "tiledb.h"

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kBox = {"-123.01", "-123.0", "48.0", "48.01"};

// What tintshade and tileprint say over kBox when tile 066_161 is missing.
const std::string kTintshadeFindsNoTile =
    "tintshade: no elevation or colour tile of the region exists in the current directory (1 "
    "tile, 066_161): the passes make them from zeroes\n";
const std::string kTileprintFindsNoTile =
    "tileprint: no elevation tile of the region exists in the current directory (1 tile, "
    "066_161): they read as zeroes\n";

std::vector<std::string> With(const std::string& last) {
  std::vector<std::string> args = kBox;
  args.push_back(last);
  return args;
}

class TerrainProgramTest : public TerrainDirTest {};

TEST_F(TerrainProgramTest, WrongArgumentCountsPrintOnlyTheUsage) {
  for (size_t count : {4u, 6u}) {
    const std::vector<std::string> args(count, "1");
    ProgramRun run = RunProgram(TINTSHADE_PATH, args);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "\n usage: " + std::string(TINTSHADE_PATH) +
                           " long_min long_max lat_min lat_max levels\n");
    run = RunProgram(TILEPRINT_PATH, args);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "\n usage: " + std::string(TILEPRINT_PATH) +
                           " long_min long_max lat_min lat_max Outfilename \n");
    EXPECT_TRUE(fs::is_empty(fs::current_path()));
  }
}

TEST_F(TerrainProgramTest, TintshadeWithoutLevelsStopsAfterPhaseFive) {
  // The fraction of a level count is dropped: 0.5 counts as 0.
  for (const char* levels : {"0", "0.5"}) {
    const ProgramRun run = RunProgram(TINTSHADE_PATH, With(levels));
    EXPECT_EQ(run.status, 0) << run.err;
    const size_t p2 = run.out.find("\nPhase 2: calculate shading\n\n");
    const size_t p3 = run.out.find("\nPhase 3: elevation postprocessing\n\n");
    const size_t p5 = run.out.find("\nPhase 5: 8 bit color postprocessing\n\n");
    EXPECT_TRUE(p2 < p3 && p3 < p5 && p5 != std::string::npos) << run.out;
    EXPECT_FALSE(Contains(run.out, "Phase 6"));
    EXPECT_TRUE(fs::exists("066_161.c32"));
    EXPECT_TRUE(fs::exists("066_161.tmp"));
    EXPECT_FALSE(fs::exists("066_161_0"));
  }
}

TEST_F(TerrainProgramTest, TintshadeLevelsEndInsideTheLevelPass) {
  ProgramRun run = RunProgram(TINTSHADE_PATH, With("1"));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.out,
                       "\nPhase 6: Converting multiple detail level terrain file into "
                       "lower detail level files\n\n"));
  for (int k = 0; k < 6; ++k) EXPECT_TRUE(fs::exists(LevelFileName("066_161", k))) << k;
  // Over no tile, the only line of tintshade's own says so.
  EXPECT_EQ(run.err, kTintshadeFindsNoTile);

  // A level file that cannot be opened ends the process with status 1.
  fs::remove(LevelFileName("066_161", 3));
  fs::create_directory(LevelFileName("066_161", 3));
  run = RunProgram(TINTSHADE_PATH, With("1"));
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_TRUE(Contains(run.err, "Write failed: Is a directory\ntrn_levels: Can't open 066_161_3\n"))
      << run.err;
}

// A level file that cannot be written whole fails phase 6: its error line, status -1. A small disk
// that would hold the tiles (3082 pages of 4096 bytes), levels 0 to 2 (33) and part of level 3,
// but not the 1389 pages of the six level files, refuses the run before the first tile.
TEST_F(TerrainProgramTest, TintshadeFailsAtALevelFileNotWrittenWhole) {
  fs::create_symlink("/dev/full", LevelFileName("066_161", 3));
  const ProgramRun run = RunProgram(TINTSHADE_PATH, With("1"));
  EXPECT_EQ(run.status, 255);
  const std::string tail =
      "Write failed: No space left on device\ntrn_levels: Can't write 066_161_3\n"
      "tintshade: error converting multiple detail level terrain file into lower detail level "
      "files\n";
  ASSERT_GE(run.err.size(), tail.size()) << run.err;
  EXPECT_EQ(run.err.substr(run.err.size() - tail.size()), tail);

  const SmallDiskRun small =
      RunOnSmallDisk(TINTSHADE_PATH, With("1"), {}, uint64_t{3082 + 33 + 66 + 1} * 4096);
  EXPECT_EQ(small.run.status, 255);
  EXPECT_EQ(small.run.err,
            "tintshade: region of 1 tiles needs 18313216 bytes in '.', more than the 13033472 "
            "bytes free\n");
  EXPECT_TRUE(small.files.empty());
}

TEST_F(TerrainProgramTest, TintshadeStopsAtAFailingPhase) {
  // An elevation tile that reads as zeroes but takes no byte: the shading only reads it, the
  // elevation post-processing fails to write it back.
  fs::create_symlink("/dev/full", "066_161");
  ProgramRun run = RunProgram(TINTSHADE_PATH, With("1"));
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(Contains(run.err,
                       "trn_elevation_post: No space left on device\n"
                       "trn_elevation_post: Can't write 066_161\n"
                       "tintshade: error in elevation postprocessing\n"))
      << run.err;
  EXPECT_FALSE(Contains(run.out, "Phase 5"));

  // One that cannot be read fails the shading.
  fs::remove("066_161");
  fs::create_directory("066_161");
  run = RunProgram(TINTSHADE_PATH, With("1"));
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(Contains(run.err,
                       "trn_shading: Is a directory\ntrn_shading: Can't read 066_161\n"
                       "tintshade: error in calculating shading\n"))
      << run.err;
  EXPECT_FALSE(Contains(run.out, "Phase 3"));
}

TEST_F(TerrainProgramTest, TileprintOverARegionWithoutTiles) {
  const ProgramRun run = RunProgram(TILEPRINT_PATH, With("empty.bmp"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err,
            "long_min = -123.010000 \nlong_max = -123.000000 \n"
            "lat_min = 48.000000 \nlat_max = 48.010000 \n" +
                kTileprintFindsNoTile);
  EXPECT_TRUE(Contains(run.out, "\n*** Processing Bitmap ***\n\n"));
  EXPECT_FALSE(fs::exists("066_161"));
  // Posts 68388..68400 by 165600..165612, every pixel that of colour index 0.
  const CommandRun convert = RunCommand("convert empty.bmp txt:-");
  ASSERT_EQ(convert.status, 0) << convert.err;
  std::istringstream lines(convert.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_TRUE(Contains(line, "13,13,")) << line;
  std::set<std::string> colours;
  int pixels = 0;
  while (std::getline(lines, line)) {
    colours.insert(line.substr(line.find(':')));
    ++pixels;
  }
  EXPECT_EQ(pixels, 169);
  EXPECT_EQ(colours.size(), 1u);
}

// A region of which no tile that the program reads exists gets one line on standard error,
// before the first phase's header, and the run goes on as before; none where any of them exists.
// The tiles that tintshade makes from zeroes are found by the runs after it.
TEST_F(TerrainProgramTest, ARegionWithoutTilesIsNoted) {
  const std::string tintshade = "exec 2>&1; " TINTSHADE_PATH;
  const std::string tileprint = "exec 2>&1; " TILEPRINT_PATH;
  // Over -124..-123 by 48..48.01: tile columns 65 and 66 of tile row 161.
  const std::vector<std::string> two_tiles = {"-124", "-123", "48", "48.01"};
  auto with = [](std::vector<std::string> box, const std::string& last) {
    box.push_back(last);
    return box;
  };
  const std::string tileprint_two =
      "tileprint: no elevation tile of the region exists in the current directory (2 tiles, "
      "065_161 to 066_161): they read as zeroes\n";
  const struct {
    const char* what;
    std::function<void()> plant;
    std::string program;
    std::vector<std::string> args;
    std::string note;  // empty: no note
    const char* before;
  } cases[] = {
      {"tileprint, no tile", [] {}, tileprint, With("p.bmp"), kTileprintFindsNoTile,
       "\n*** Processing Bitmap ***\n"},
      {"tileprint, two tiles", [] {}, tileprint, with(two_tiles, "p.bmp"), tileprint_two,
       "\n*** Processing Bitmap ***\n"},
      {"tileprint, a colour tile only", [] { WriteFileBytes("066_161.c32", {}); }, tileprint,
       With("p.bmp"), kTileprintFindsNoTile, "\n*** Processing Bitmap ***\n"},
      {"tileprint, one tile of two", [] { WriteFileBytes("066_161", {}); }, tileprint,
       with(two_tiles, "p.bmp"), "", ""},
      {"tintshade, no tile", [] {}, tintshade, With("0"), kTintshadeFindsNoTile,
       "\nPhase 2: calculate shading\n"},
      {"tintshade, a colour tile", [] { WriteFileBytes("066_161.c32", {}); }, tintshade, With("0"),
       "", ""},
      {"tintshade, an elevation tile", [] { WriteFileBytes("066_161", {}); }, tintshade, With("0"),
       "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const std::string& name : FilesIn(".")) fs::remove(name);
    c.plant();
    const ProgramRun run = RunProgram(c.program, c.args);
    EXPECT_EQ(run.status, 0) << run.out;
    if (c.note.empty()) {
      EXPECT_FALSE(Contains(run.out, "of the region exists")) << run.out;
      continue;
    }
    EXPECT_EQ(CountOf(run.out, c.note), 1) << run.out;
    const size_t at = run.out.find(c.note);
    EXPECT_EQ(run.out.find(c.before, at), at + c.note.size()) << run.out;
  }
  // tintshade's tiles, made from zeroes, are there for the next run.
  EXPECT_TRUE(fs::exists("066_161.c32"));
  const ProgramRun again = RunProgram(tileprint, With("p.bmp"));
  EXPECT_EQ(again.status, 0);
  EXPECT_FALSE(Contains(again.out, "of the region exists")) << again.out;
}

// The region is checked before the first phase: nothing is created, even on a disk too small
// for one tile.
TEST_F(TerrainProgramTest, RegionsOffTheGlobeAreRefusedBeforeAnyFile) {
  const struct {
    const char* program;
    std::vector<std::string> args;
    const char* line;
  } cases[] = {
      {TINTSHADE_PATH,
       {"-1e9", "0", "48", "48.0001", "0"},
       "tintshade: region longitude -1e+09 is off the globe (-180..180)"},
      {TINTSHADE_PATH,
       {"-124", "-123", "-95", "-91", "1"},
       "tintshade: region latitude -95 is off the globe (-90..90)"},
      {TINTSHADE_PATH,
       {"inf", "-inf", "48", "48.0001", "0"},
       "tintshade: region longitude inf is off the globe (-180..180)"},
      {TINTSHADE_PATH,
       {"-124", "-123", "48", "nan", "1"},
       "tintshade: region latitude nan is off the globe (-90..90)"},
      {TILEPRINT_PATH,
       {"-124", "-123", "-1e7", "49", "out.bmp"},
       "tileprint: region latitude -1e+07 is off the globe (-90..90)"},
      {TILEPRINT_PATH,
       {"179.999", "180.001", "89.999", "90", "out.bmp"},
       "tileprint: region longitude 180.001 is off the globe (-180..180)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const std::optional<ProgramRun> run = ExpectRefusedRegion(c.program, c.args, c.line);
    if (!run) continue;
    EXPECT_EQ(run->err, std::string(c.line) + "\n");
    EXPECT_EQ(run->out, "");
  }
}

// The last posts of the globe, north-east and south-west: the last and the first tile.
TEST_F(TerrainProgramTest, RegionsAtTheGlobesCornersAreDrawn) {
  const struct {
    std::vector<std::string> box;
    const char* tile;
  } corners[] = {{{"179.999", "180", "89.999", "90"}, "421_210"},
                 {{"-180", "-179.999", "-90", "-89.999"}, "000_000"}};
  for (const auto& c : corners) {
    SCOPED_TRACE(c.tile);
    std::vector<std::string> args = c.box;
    args.push_back("1");
    ProgramRun run = RunProgram(TINTSHADE_PATH, args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(c.tile + std::string(".c32")));
    EXPECT_TRUE(fs::exists(LevelFileName(c.tile, 5)));

    args.back() = "corner.bmp";
    run = RunProgram(TILEPRINT_PATH, args);
    ASSERT_EQ(run.status, 0) << run.err;
    // Two posts each way: 179.999 lies 0.8 of a post west of 180.
    const CommandRun size = RunCommand("identify -format '%w %h' corner.bmp");
    ASSERT_EQ(size.status, 0) << size.err;
    EXPECT_EQ(size.out, "2 2");
  }
}

}  // namespace
