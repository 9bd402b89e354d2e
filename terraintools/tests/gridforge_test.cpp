// gridforge: its pseudo-colours, its input phase, and whole runs in a private directory.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "gridforge_input.h"
#include "program_run.h"
#include "programs.h"
#include "pseudocolor.h"
#include "tiledb.h"

namespace {

namespace fs = std::filesystem;

std::array<int, 4> Channels(uint32_t c) {
  return {int(c & 0xFF), int(c >> 8 & 0xFF), int(c >> 16 & 0xFF), int(c >> 24)};
}

void WriteI16(const std::string& name, const std::vector<int16_t>& values) {
  std::vector<uint8_t> bytes;
  for (int16_t v : values) {
    bytes.push_back(static_cast<uint8_t>(v));
    bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
  }
  WriteFileBytes(name, bytes);
}

std::vector<int32_t> ReadS32(const std::string& name) {
  const auto bytes = ReadFileBytes(name);
  std::vector<int32_t> values(bytes.size() / 4);
  for (size_t i = 0; i < values.size(); ++i) values[i] = GetS32(&bytes[i * 4]);
  return values;
}

TEST(PseudoRandom, NeverSeededSequence) {
  PseudoRandom draws;
  EXPECT_EQ(draws.Next(), 41);
  EXPECT_EQ(draws.Next(), 18467);
  EXPECT_EQ(draws.Next(), 6334);
}

TEST(ElevationPseudoColor, WaterBandTakesTheLowBitsOfTenTimesTheElevation) {
  struct Case {
    int32_t elevation;
    std::array<int, 4> rgba;
  };
  for (const Case& c :
       {Case{0, {0, 0, 200, 250}}, Case{10, {100, 100, 200, 250}}, Case{-1, {246, 246, 200, 250}},
        Case{-100, {24, 24, 200, 250}}, Case{INT32_MIN, {0, 0, 200, 250}}}) {
    PseudoRandom draws;
    EXPECT_EQ(Channels(ElevationPseudoColor(c.elevation, draws)), c.rgba) << c.elevation;
  }
}

TEST(ElevationPseudoColor, DrawsOnlyAboveTenMetres) {
  // 0 draws up to 10 m, 1 up to 20 m, 2 above: the draws left over show how many were taken.
  for (const auto& [elevation, used] : std::vector<std::pair<int32_t, int>>{
           {5, 0}, {10, 0}, {11, 1}, {20, 1}, {21, 2}, {50, 2}, {1000, 2}, {3000, 2}, {9000, 2}}) {
    PseudoRandom draws, reference;
    ElevationPseudoColor(elevation, draws);
    for (int i = 0; i < used; ++i) reference.Next();
    EXPECT_EQ(draws.Next(), reference.Next()) << elevation;
  }
}

TEST(ElevationPseudoColor, BandsStayInTheirRanges) {
  PseudoRandom draws;
  for (int i = 0; i < 2000; ++i) {
    const auto sand = Channels(ElevationPseudoColor(11 + i % 10, draws));
    EXPECT_TRUE(sand[0] >= 220 && sand[0] <= 240 && sand[1] >= 205 && sand[1] <= 225 &&
                sand[2] >= 170 && sand[2] <= 190);
    EXPECT_EQ(sand[3], 250);
    const auto near_3500 = Channels(ElevationPseudoColor(3500, draws));
    EXPECT_TRUE(near_3500[0] == near_3500[1] && near_3500[1] == near_3500[2]);
    EXPECT_LE(near_3500[0], 250);
    const auto snow = Channels(ElevationPseudoColor(5000, draws));
    EXPECT_TRUE(snow[0] >= 235 && snow[0] <= 250);
    const auto huge = Channels(ElevationPseudoColor(INT32_MAX, draws));
    EXPECT_TRUE(huge[0] >= 235 && huge[0] <= 250);
  }
  // Low land may be jittered down to 20 m and take the colour for 20 m (e = 100).
  bool seen_floor = false;
  for (int i = 0; i < 2000 && !seen_floor; ++i) {
    const auto c = Channels(ElevationPseudoColor(21, draws));
    seen_floor = c[0] == 140 && c[1] == 240;
  }
  EXPECT_TRUE(seen_floor);
}

class GridforgeDirTest : public TerrainDirTest {};

TEST_F(GridforgeDirTest, InputPhaseWritesElevationsAndColoursInInputOrder) {
  // -500 is no data and becomes 0; its neighbours and the pattern 0xFFFF stay as they are;
  // values after the grid are ignored.
  WriteI16("in.raw", {-500, -501, -499, -1, 5, 10, 1234});
  ASSERT_EQ(RunInputPhase("in.raw", 2, 3), 0);
  EXPECT_EQ(ReadS32(kTempElevations), (std::vector<int32_t>{0, -501, -499, -1, 5, 10}));
  const auto colors = ReadS32(kTempColors);
  ASSERT_EQ(colors.size(), 6u);
  EXPECT_EQ(Channels(uint32_t(colors[0])), (std::array<int, 4>{0, 0, 200, 250}));
  EXPECT_EQ(Channels(uint32_t(colors[3])), (std::array<int, 4>{246, 246, 200, 250}));
}

TEST_F(GridforgeDirTest, InputPhaseFailures) {
  WriteI16("short.raw", {1, 2, 3, 4, 5});
  EXPECT_EQ(CaptureStderr([] { EXPECT_EQ(RunInputPhase("short.raw", 2, 3), -1); }),
            "\n error: error encountered while reading data from: 'short.raw'\n"
            "gridforge: needed 12 bytes, read 10\n");
  EXPECT_FALSE(fs::exists(kTempElevations));
  EXPECT_FALSE(fs::exists(kTempColors));

  EXPECT_EQ(CaptureStderr([] { EXPECT_EQ(RunInputPhase("missing.raw", 1, 1), -1); }),
            "\n error: Could not open 'missing.raw'\ngridforge: No such file or directory\n");

  // A dimension below 1 reads nothing, so the grid files are empty.
  ASSERT_EQ(RunInputPhase("short.raw", -2, -3), 0);
  EXPECT_EQ(fs::file_size(kTempElevations), 0u);

  // An input too short for the grid is refused before the temporaries are made: a directory in
  // place of one is not reached.
  fs::remove(kTempElevations);
  fs::create_directory(kTempElevations);
  EXPECT_EQ(CaptureStderr([] { EXPECT_EQ(RunInputPhase("short.raw", 1000, 1000), -1); }),
            "\n error: error encountered while reading data from: 'short.raw'\n"
            "gridforge: needed 2000000 bytes, read 10\n");
}

// The temporaries' names are fixed: one planted as a link, to a file of someone else's or none,
// or as a second name of such a file, is not opened, and the file it leads to stays as it was.
// Nothing but what was planted is left: the elevations' temporary, made before the colours' was
// refused, is removed.
TEST_F(GridforgeDirTest, TemporariesDoNotFollowLinks) {
  WriteI16("in.raw", {1, 2, 3, 4});
  const std::string cannot_open = "\n error: Could not open '";
  const struct {
    const char* what;
    const char* name;
    bool hard;
    const char* reason;
  } cases[] = {
      {"link at the elevations", kTempElevations, false, "Too many levels of symbolic links"},
      {"link at the colours", kTempColors, false, "Too many levels of symbolic links"},
      {"second name at the elevations", kTempElevations, true, "Too many links"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes("victim", {1, 2, 3});
    fs::remove(kTempElevations);
    fs::remove(kTempColors);
    if (c.hard) {
      fs::create_hard_link("victim", c.name);
    } else {
      fs::create_symlink("victim", c.name);
    }
    const ProgramRun run =
        RunProgram(GRIDFORGE_PATH, {"in.raw", "0", "1", "0", "1", "2", "2", "12"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, cannot_open + c.name + "'\ngridforge: " + c.reason + "\n");
    EXPECT_EQ(ReadFileBytes("victim"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(FilesIn("."),
              (std::set<std::string>{"in.raw", "victim", fs::path(c.name).filename()}));
    fs::remove("victim");
  }
  // A dangling link is not followed to create its target.
  fs::remove(kTempElevations);
  fs::create_symlink("planted", kTempElevations);
  EXPECT_EQ(RunProgram(GRIDFORGE_PATH, {"in.raw", "0", "1", "0", "1", "2", "2", "12"}).status, 255);
  EXPECT_FALSE(fs::exists("planted"));
}

TEST_F(GridforgeDirTest, WrongArgumentCountPrintsOnlyTheUsage) {
  for (int count : {7, 9}) {
    const ProgramRun run = RunProgram(GRIDFORGE_PATH, std::vector<std::string>(count, "1"));
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err,
              "\n usage: gridforge(FileName,LatitudeMin,LatitudeMax,LongitudeMin,LongitudeMax,"
              "NumberColumns,NumberRows,TimeOfDay)\n");
    EXPECT_TRUE(fs::is_empty(fs::current_path()));
  }
}

// Under a file-size limit of no block, with the signal it raises ignored, the temporaries'
// values, still buffered, fail only when the files are closed: the run ends there, with status
// -1, and leaves no temporary. (A disk too small for the run refuses it before any file.)
TEST_F(GridforgeDirTest, TemporaryThatCannotBeClosedWholeEndsTheRun) {
  WriteI16("in.raw", {1, 2, 3, 4});
  const ProgramRun run = RunProgram("trap '' XFSZ; ulimit -f 0; " GRIDFORGE_PATH,
                                    {"in.raw", "0", "1", "0", "1", "2", "2", "12"});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.err,
            "\n error: error encountered while writing data to: './TempData.tmp'\n"
            "gridforge: File too large\n");
  EXPECT_EQ(FilesIn("."), std::set<std::string>{"in.raw"});
}

// Fewer than one record or value: the reason and the usage, status -1, no file made.
TEST_F(GridforgeDirTest, DimensionsBelowOneAreRefused) {
  WriteI16("in.raw", {1, 2, 3, 4});
  const std::string usage =
      "\n usage: gridforge(FileName,LatitudeMin,LatitudeMax,LongitudeMin,LongitudeMax,"
      "NumberColumns,NumberRows,TimeOfDay)\n";
  for (const auto& [columns, rows, reason] : {std::tuple{"-5", "30", "NumberColumns below 1: -5"},
                                              {"46", "0", "NumberRows below 1: 0"},
                                              {"0.5", "-2", "NumberColumns below 1: 0"}}) {
    const ProgramRun run =
        RunProgram(GRIDFORGE_PATH, {"in.raw", "48", "49", "-124", "-123", columns, rows, "14.5"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "\n error: " + std::string(reason) + "\n" + usage);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1);
  }
}

// A grid larger than the passes can load in one buffer (4 bytes a value, 4 GiB less one byte at
// most) is refused with the usage before any temporary, whatever the input holds: here endless
// zeroes, from the device and through a pipe, on a small disk of their own. The largest grid
// passes the check and meets the end of a short file: the read error, still before any
// temporary.
TEST_F(GridforgeDirTest, GridsLargerThanThePassesCanLoadAreRefusedBeforeAnyFile) {
  const std::string usage =
      "\n usage: gridforge(FileName,LatitudeMin,LatitudeMax,LongitudeMin,LongitudeMax,"
      "NumberColumns,NumberRows,TimeOfDay)\n";
  const std::string piped = "sh -c 'head -c 100000000 /dev/zero | \"$0\" \"$@\"' ";
  const struct {
    std::string program;
    const char* input;
    const char* columns;
    const char* rows;
    const char* size;
  } cases[] = {
      {GRIDFORGE_PATH, "/dev/zero", "100000", "100000",
       "100000 x 100000 values, 40000000000 bytes"},
      {piped + GRIDFORGE_PATH, "/dev/stdin", "100000", "100000",
       "100000 x 100000 values, 40000000000 bytes"},
      {GRIDFORGE_PATH, "/dev/zero", "1073741824", "1", "1073741824 x 1 values, 4294967296 bytes"},
      {GRIDFORGE_PATH, "/dev/zero", "32768", "32768", "32768 x 32768 values, 4294967296 bytes"},
      {GRIDFORGE_PATH, "/dev/zero", "99999999999", "1", "2147483647 x 1 values, 8589934588 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program + " " + c.columns + " x " + c.rows);
    const SmallDiskRun small =
        RunOnSmallDisk(c.program, {c.input, "0", "1", "0", "1", c.columns, c.rows, "12"});
    EXPECT_EQ(small.run.status, 255);
    EXPECT_EQ(small.run.err,
              "\n error: NumberColumns x NumberRows too large: " + std::string(c.size) +
                  ", above the 4294967295 that the elevation pass can load\n" + usage);
    EXPECT_TRUE(small.files.empty());
  }
  WriteI16("in.raw", {1, 2});
  const ProgramRun run =
      RunProgram(GRIDFORGE_PATH, {"in.raw", "0", "1", "0", "1", "1073741823", "1", "12"});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.err,
            "\n error: error encountered while reading data from: 'in.raw'\n"
            "gridforge: needed 2147483646 bytes, read 4\n");
  EXPECT_EQ(FilesIn("."), std::set<std::string>{"in.raw"});
}

// An input short of the grid: the read error, then what the grid needs and what the input
// gave, from the size of a plain file before the temporaries are made, and from the reads of a
// pipe, which end in the middle of a value here, after the temporaries were made.
TEST_F(GridforgeDirTest, InputShortOfTheGridEndsTheRunWithoutTemporaries) {
  WriteI16("in.raw", {1, 2, 3});
  const struct {
    std::string program;
    const char* input;
    const char* gave;
  } cases[] = {
      {GRIDFORGE_PATH, "in.raw", "6"},
      {"sh -c 'cat in.raw in.raw | head -c 7 | \"$0\" \"$@\"' " GRIDFORGE_PATH, "/dev/stdin", "7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const ProgramRun run = RunProgram(c.program, {c.input, "0", "1", "0", "1", "2", "2", "12"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "\n error: error encountered while reading data from: '" +
                           std::string(c.input) + "'\ngridforge: needed 8 bytes, read " + c.gave +
                           "\n");
    EXPECT_EQ(FilesIn("."), std::set<std::string>{"in.raw"});
  }
}

TEST_F(GridforgeDirTest, FailingPhasesAreReportedAndTheRunGoesOn) {
  // An elevation tile that cannot be opened for writing, nor read (a directory), fails every
  // phase but the colour pass; the run goes on and ends with status -1. The southern bound 0.9
  // counts as 0, so the region starts at tile row 105 (latitude 0).
  fs::create_directory("210_105");
  WriteI16("in.raw", {100, 200, 300, 400});
  const ProgramRun run =
      RunProgram(GRIDFORGE_PATH, {"in.raw", "0.9", "1", "0", "1", "2", "2", "12"});
  EXPECT_EQ(run.status, 255);
  for (const char* line :
       {"\n error:  error converting data!\n", "\n error:  error in calculating shading!\n",
        "\n error:  error in elevation postprocessing!\n",
        "\n error: error in 8 bit color postprocessing!\n",
        "\n error:  error converting multiple detail level terrain file into "
        "lower detail level files!\n",
        "\n error:  error processing bitmap!\n"})
    EXPECT_TRUE(Contains(run.err, line)) << line;
  EXPECT_TRUE(Contains(run.err, "\nPhase 7: *** Processing Bitmap ***\n\n"));
  EXPECT_TRUE(fs::exists("211_105.c32"));
  EXPECT_TRUE(fs::exists("in.raw.bmp"));
  EXPECT_FALSE(fs::exists("TempData.tmp"));
  EXPECT_FALSE(fs::exists("TempDataColors.tmp"));
}

TEST_F(GridforgeDirTest, TilesCutShortByAFileSizeLimitFailTheirPhases) {
  // Under a file-size limit of 1 or 2 MiB (2048 blocks of the shell's 512 or 1024 bytes), with
  // the signal it raises ignored, no tile can be written whole: every pass that writes one says
  // so at the region's first tile, 212_106, and the run goes on to end with status -1. Nor can
  // the picture of 1201 x 1201 posts be.
  WriteI16("in.raw", {100, 200, 300, 400});
  const ProgramRun run = RunProgram("trap '' XFSZ; ulimit -f 2048; " GRIDFORGE_PATH,
                                    {"in.raw", "1", "2", "1", "2", "2", "2", "12"});
  EXPECT_EQ(run.status, 255) << run.err;
  for (const char* lines : {
           "trn_elevation: File too large\ntrn_elevation: Can't write 212_106\n"
           "\n error:  error converting data!\n",
           "trn_color: File too large\ntrn_color: Can't write 212_106.c32\n"
           "\nPhase 3: calculate shading\n",
           "trn_shading: File too large\ntrn_shading: Can't write 212_106.c32\n"
           "\n error:  error in calculating shading!\n",
           "trn_elevation_post: File too large\ntrn_elevation_post: Can't write 212_106\n"
           "\n error:  error in elevation postprocessing!\n",
           "trn_color_post: File too large\ntrn_color_post: Can't write 212_106\n"
           "\n error: error in 8 bit color postprocessing!\n",
           "trn_rasterfile: File too large\ntrn_rasterfile: Can't write in.raw.bmp\n"
           "\n error:  error processing bitmap!\n",
       })
    EXPECT_TRUE(Contains(run.err, lines)) << lines << run.err;
  EXPECT_LT(fs::file_size("212_106"), kElevationTileBytes);
  EXPECT_FALSE(fs::exists("213_106"));
}

TEST_F(GridforgeDirTest, APictureNameTooLongFailsOnlyThePicture) {
  // The picture's name has 1023 characters at most: a longer one fails phase 7 alone, whose error
  // line is then the last line, and the status is -1.
  WriteI16("in.raw", {100, 200, 300, 400});
  std::string name = "in.raw";
  while (name.size() < 1020) name = "./" + name;
  const ProgramRun run = RunProgram(GRIDFORGE_PATH, {name, "0", "1", "0", "1", "2", "2", "12"});
  EXPECT_EQ(run.status, 255);
  const std::string last =
      "\n error:  picture name longer than 1023 characters: '" + name + ".bmp'\n";
  ASSERT_GE(run.err.size(), last.size());
  EXPECT_EQ(run.err.substr(run.err.size() - last.size()), last);
  EXPECT_TRUE(fs::exists("211_105_5"));
  EXPECT_FALSE(fs::exists("in.raw.bmp"));
}

// Level files that cannot be written whole fail phase 6, and the run ends with status -1: a level
// file linked to /dev/full fails phase 6 alone. A disk that cannot take the run refuses it.
TEST_F(GridforgeDirTest, LevelFilesNotWrittenWholeFailTheRun) {
  WriteI16("in.raw", {100, 200, 300, 400});
  const std::vector<std::string> args = {"in.raw", "1", "2", "1", "2", "2", "2", "12"};
  const std::string phase6 =
      "trn_levels: Can't write 212_106_2\n"
      "\n error:  error converting multiple detail level terrain file into lower detail level "
      "files!\n\nPhase 7";
  fs::create_symlink("/dev/full", "212_106_2");
  ProgramRun run = RunProgram(GRIDFORGE_PATH, args);
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(Contains(run.err, "Write failed: No space left on device\n" + phase6)) << run.err;
  EXPECT_EQ(CountOf(run.err, " error:"), 1) << run.err;
  EXPECT_EQ(fs::file_size("in.raw.bmp"), 54u + 1201 * 3604);  // rows of 1201 pixels, padded

  // 64 KiB: the input and the temporaries would fit, no tile does.
  const SmallDiskRun small = RunOnSmallDisk(GRIDFORGE_PATH, args, {"in.raw"}, 65536);
  EXPECT_EQ(small.run.status, 255);
  EXPECT_EQ(small.run.err,
            "gridforge: region of 4 tiles needs 77590528 bytes in '.', more than the 61440 bytes "
            "free\n");
  EXPECT_EQ(small.files, std::set<std::string>{"in.raw"});
}

// A second run in the same process gives what the first gave: the pseudo-colours' generator
// starts again for each run.
TEST_F(GridforgeDirTest, ASecondRunInTheSameProcessGivesTheSameDatabase) {
  WriteI16("in.raw", {100, 200, 300, 400});
  // Latitudes and longitudes 1..2: tile rows 106 and 107, tile columns 212 and 213.
  const std::vector<std::string> words = {"gridforge", "in.raw", "1", "2", "1",
                                          "2",         "2",      "2", "12"};
  const InProcessRun first = RunInProcess(RunGridforge, "first", words, {"in.raw"});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.files.size(), 4u * 9 + 2);  // 4 tiles of 9 files, the input and the picture
  EXPECT_EQ(Differences(first, RunInProcess(RunGridforge, "second", words, {"in.raw"})), "");
}

TEST_F(GridforgeDirTest, RealElevationsBecomeACompleteDatabase) {
  const std::string input = "pnw_48n49n_124w123w_46x30.i16";
  fs::copy_file(BUNDLED_GRID, input);
  const ProgramRun run =
      RunProgram(GRIDFORGE_PATH, {input, "48", "49", "-124", "-123", "46", "30", "14.5"});
  ASSERT_EQ(run.status, 0) << run.err;
  size_t at = 0;
  for (const char* header :
       {"\nPhase 1: convert elevations\n\n", "\nPhase 2: convert Pseudocolors\n\n",
        "\nPhase 3: calculate shading\n\n", "\nPhase 4: elevation postprocessing\n\n",
        "\nPhase 5: 8 bit color postprocessing\n\n",
        "\nPhase 6: Converting multiple detail level terrain file into lower detail level "
        "files\n\n",
        "\nPhase 7: *** Processing Bitmap ***\n\n"}) {
    at = run.err.find(header, at);
    ASSERT_NE(at, std::string::npos) << header;
  }
  EXPECT_EQ(run.err.find(" error"), std::string::npos) << run.err;

  // Longitudes -124..-123 are tile columns 65 and 66, latitudes 48..49 tile rows 161 and 162.
  int zero_posts = 0;
  for (int ty : {161, 162}) {
    for (int tx : {65, 66}) {
      const std::string tile = ElevationTileName(tx, ty);
      EXPECT_EQ(fs::file_size(tile), kElevationTileBytes);
      EXPECT_EQ(fs::file_size(ColorTileName(tx, ty)), kColorTileBytes);
      EXPECT_EQ(fs::file_size(ScratchTileName(tx, ty)), kElevationTileBytes);
      for (int k = 0; k < 6; ++k) EXPECT_TRUE(fs::exists(LevelFileName(tile, k)));
      // Flags 0x102: every post at elevation 0 has palette B index 0.
      const auto bytes = ReadFileBytes(tile);
      for (int y = 0; y < kTilePosts; ++y)
        for (int x = 0; x < kTilePosts; ++x)
          if (GetElevation(bytes.data(), x, y) == 0) {
            ++zero_posts;
            ASSERT_EQ(PostAt(bytes.data(), x, y)[2], 0) << tile << " " << x << "," << y;
          }
    }
  }
  EXPECT_GT(zero_posts, 0);
  EXPECT_FALSE(fs::exists("TempData.tmp"));
  EXPECT_FALSE(fs::exists("TempDataColors.tmp"));

  // A standard reader opens the picture with the region's size: 1201 x 1201 posts.
  const CommandRun size = RunCommand("identify -format '%m %w %h' " + input + ".bmp");
  ASSERT_EQ(size.status, 0) << size.err;
  EXPECT_EQ(size.out, "BMP3 1201 1201");
}

// Bounds off the globe as written are refused before the input phase: no temporary grid, tile or
// picture, even on a disk too small for one tile.
TEST_F(GridforgeDirTest, RegionsOffTheGlobeAreRefusedBeforeAnyFile) {
  fs::copy_file(BUNDLED_GRID, "g.i16");
  const struct {
    std::vector<std::string> bounds;  // LatitudeMin, LatitudeMax, LongitudeMin, LongitudeMax
    const char* line;
  } cases[] = {
      {{"48", "49", "-2000000000", "-123"},
       "gridforge: region longitude -2e+09 is off the globe (-180..180)"},
      // Beyond the double range as written: infinite, where the whole degrees are held to the
      // int range.
      {{"48", "49", "-124", "1" + std::string(400, '0')},
       "gridforge: region longitude inf is off the globe (-180..180)"},
      {{"48", "49", "-124", "200"}, "gridforge: region longitude 200 is off the globe (-180..180)"},
      {{"-91", "49", "-124", "-123"}, "gridforge: region latitude -91 is off the globe (-90..90)"},
      // -90 once cut to whole degrees, but off the globe as written.
      {{"-90.5", "49", "-124", "-123"},
       "gridforge: region latitude -90.5 is off the globe (-90..90)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<std::string> args = {"g.i16"};
    args.insert(args.end(), c.bounds.begin(), c.bounds.end());
    args.insert(args.end(), {"46", "30", "14.5"});
    const std::optional<ProgramRun> run =
        ExpectRefusedRegion(GRIDFORGE_PATH, args, c.line, {"g.i16"});
    if (run) {
      EXPECT_EQ(run->err, std::string(c.line) + "\n");
    }
  }
}

// A minimum not below its maximum once the bounds are cut to whole degrees (toward zero) would
// build the region turned half a turn, or one post wide: refused before any file, naming both
// arguments, as written and as cut.
TEST_F(GridforgeDirTest, BoundsInTheWrongOrderAreRefusedBeforeAnyFile) {
  fs::copy_file(BUNDLED_GRID, "g.i16");
  const struct {
    std::vector<std::string> bounds;  // LatitudeMin, LatitudeMax, LongitudeMin, LongitudeMax
    const char* line;
  } cases[] = {
      {{"49", "48", "-123", "-124"},
       "gridforge: LatitudeMin '49' is not below LatitudeMax '48' in whole degrees (49 and 48)"},
      {{"48", "49", "-123", "-124"},
       "gridforge: LongitudeMin '-123' is not below LongitudeMax '-124' in whole degrees (-123 and "
       "-124)"},
      {{"48", "49", "-123.5", "-123"},
       "gridforge: LongitudeMin '-123.5' is not below LongitudeMax '-123' in whole degrees (-123 "
       "and -123)"},
      {{"48", "48.9", "-124", "-123"},
       "gridforge: LatitudeMin '48' is not below LatitudeMax '48.9' in whole degrees (48 and 48)"},
      {{"-0.9", "0.9", "-124", "-123"},
       "gridforge: LatitudeMin '-0.9' is not below LatitudeMax '0.9' in whole degrees (0 and 0)"},
      // Reversed and off the globe: the order's line, which comes first.
      {{"95", "91", "-124", "-123"},
       "gridforge: LatitudeMin '95' is not below LatitudeMax '91' in whole degrees (95 and 91)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<std::string> args = {"g.i16"};
    args.insert(args.end(), c.bounds.begin(), c.bounds.end());
    args.insert(args.end(), {"46", "30", "14.5"});
    const ProgramRun run = RunProgram(GRIDFORGE_PATH, args);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, std::string(c.line) + "\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(FilesIn("."), std::set<std::string>{"g.i16"});
  }
}

}  // namespace
