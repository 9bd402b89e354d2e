// The files of a terrain program's run, checked before it makes the first: a run that would
// empty, overwrite or remove one of its inputs is refused, whatever name or link leads to it,
// and so is a run that cannot fit into its file system.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "program_inputs.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> With(std::vector<std::string> args, const std::string& first) {
  args[0] = first;
  return args;
}

// A file under a tile's name: what it holds plays no part before the run starts.
void PlantTile(const std::string& name) { WriteFileBytes(name, {1, 2, 3}); }

// Whether this machine lets a test lay a small disk: a tmpfs in a private mount namespace.
bool SmallDisks() {
  const bool made = RunCommand(OnSmallDisk(4096, {}, "probe") + "true").status == 0;
  fs::remove("probe");
  return made;
}

// Every file of the current directory with what it holds (through links).
std::map<std::string, std::vector<uint8_t>> Snapshot() {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const std::string& name : FilesIn(".")) files[name] = ReadFileBytes(name);
  return files;
}

using RunFilesTest = TerrainInputsTest;

TEST_F(RunFilesTest, AnInputThatTheRunWouldWriteIsRefusedBeforeAnyFile) {
  const struct {
    const char* what;
    const char* program;
    std::vector<std::string> args;
    std::function<void()> plant;
    const char* line;
  } cases[] = {
      {"gridforge: the input is the elevations' temporary", GRIDFORGE_PATH,
       With(kGridforge, "TempData.tmp"), [] { fs::rename("g.i16", "TempData.tmp"); },
       "gridforge: input grid 'TempData.tmp' is the scratch file './TempData.tmp'"},
      {"gridforge: the input links to the elevations' temporary", GRIDFORGE_PATH,
       With(kGridforge, "elev.i16"),
       [] {
         fs::rename("g.i16", "TempData.tmp");
         fs::create_symlink("TempData.tmp", "elev.i16");
       },
       "gridforge: input grid 'elev.i16' is the scratch file './TempData.tmp'"},
      {"gridforge: the colours' temporary is a second name of the input", GRIDFORGE_PATH,
       kGridforge, [] { fs::create_hard_link("g.i16", "TempDataColors.tmp"); },
       "gridforge: input grid 'g.i16' is the scratch file './TempDataColors.tmp'"},
      {"gridforge: a level file is a second name of the input", GRIDFORGE_PATH, kGridforge,
       [] { fs::create_hard_link("g.i16", "066_161_3"); },
       "gridforge: input grid 'g.i16' is the level file '066_161_3'"},
      {"gridforge: the picture links to the input", GRIDFORGE_PATH, kGridforge,
       [] { fs::create_symlink("g.i16", "g.i16.bmp"); },
       "gridforge: input grid 'g.i16' is the picture 'g.i16.bmp'"},
      {"gridforge: the picture is a second name of a tile", GRIDFORGE_PATH, kGridforge,
       [] {
         PlantTile("065_162.c32");
         fs::create_hard_link("065_162.c32", "g.i16.bmp");
       },
       "gridforge: picture 'g.i16.bmp' is the colour tile '065_162.c32'"},
      {"demimport: the DEM is named as its grid file",
       DEMIMPORT_PATH,
       {"068_148.1201x1201"},
       [] { fs::rename("d.dem", "068_148.1201x1201"); },
       "demimport: DEM '068_148.1201x1201' is the grid file '068_148.1201x1201'"},
      {"demimport: the grid file links to the DEM",
       DEMIMPORT_PATH,
       {"d.dem"},
       [] { fs::create_symlink("d.dem", "068_148.1201x1201"); },
       "demimport: DEM 'd.dem' is the grid file '068_148.1201x1201'"},
      {"demimport: the tile is a second name of the DEM",
       DEMIMPORT_PATH,
       {"d.dem"},
       [] { fs::create_hard_link("d.dem", "067_148"); },
       "demimport: DEM 'd.dem' is the elevation tile '067_148'"},
      {"landimport: the colour grid file links to the CTG", LANDIMPORT_PATH, kLandimport,
       [] { fs::create_symlink("l.ctg", "l.ctg.0004x0006"); },
       "landimport: CTG 'l.ctg' is the colour grid file 'l.ctg.0004x0006'"},
      {"landimport: the CTG is named as its colour tile", LANDIMPORT_PATH,
       With(kLandimport, "066_161.c32"), [] { fs::rename("l.ctg", "066_161.c32"); },
       "landimport: CTG '066_161.c32' is the colour tile '066_161.c32'"},
      {"tintshade: a level file is a second name of the colour tile", TINTSHADE_PATH, Box("1"),
       [] {
         PlantTile("066_161.c32");
         fs::create_hard_link("066_161.c32", "066_161_0");
       },
       "tintshade: colour tile '066_161.c32' is the level file '066_161_0'"},
      {"tintshade: a level file is a second name of the tile east, which the shading reads",
       TINTSHADE_PATH, Box("1"),
       [] {
         PlantTile("067_161");
         fs::create_hard_link("067_161", "066_161_5");
       },
       "tintshade: level file '066_161_5' is the elevation tile '067_161'"},
      {"tileprint: the picture is named as the tile", TILEPRINT_PATH, Box("066_161"),
       [] { PlantTile("066_161"); },
       "tileprint: picture '066_161' is the elevation tile '066_161'"},
      {"tileprint: the picture links to the tile", TILEPRINT_PATH, Box("p.bmp"),
       [] {
         PlantTile("066_161");
         fs::create_symlink("066_161", "p.bmp");
       },
       "tileprint: picture 'p.bmp' is the elevation tile '066_161'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::create_directory("run");
    for (const char* input : {"g.i16", "d.dem", "l.ctg"})
      fs::copy_file(input, std::string("run/") + input);
    {
      const kyte::testsupport::CurrentDir inside("run");
      c.plant();
      const auto before = Snapshot();
      const ProgramRun run = RunProgram(c.program, c.args);
      EXPECT_EQ(run.status, 255);
      EXPECT_TRUE(("\n" + run.err).ends_with("\n" + std::string(c.line) + "\n")) << run.err;
      EXPECT_EQ(CountOf(run.err, " is the "), 1) << run.err;
      EXPECT_EQ(run.out, "");
      EXPECT_TRUE(Snapshot() == before) << "a file was made, changed or removed";
    }
    fs::remove_all("run");
  }
}

// A device under several names (a picture or tiles thrown away into /dev/null) loses nothing.
TEST_F(RunFilesTest, ADeviceUnderSeveralNamesIsNotRefused) {
  fs::create_symlink("/dev/null", "066_161.c32");
  fs::create_symlink("/dev/null", "066_161.tmp");
  ProgramRun run = RunProgram(TINTSHADE_PATH, Box("0"));
  EXPECT_EQ(run.status, 0) << run.err;
  fs::remove("066_161");
  fs::create_symlink("/dev/null", "066_161");
  run = RunProgram(TILEPRINT_PATH, Box("/dev/null"));
  EXPECT_EQ(run.status, 0) << run.err;
}

// On a small disk: regions that a mistyped bound makes the whole globe or hundreds of tiles, and
// land use spread far beyond its cells, are refused before any file, naming the region's tile
// count, the bytes the run needs and the bytes free (1 MiB, less a page for each input).
TEST_F(RunFilesTest, RunsThatCannotFitTheirDiskAreRefusedBeforeAnyFile) {
  if (!SmallDisks()) GTEST_SKIP() << "no private mount namespace with a tmpfs here";
  WriteFileBytes("e.i16", {1, 0, 2, 0, 3, 0, 4, 0});  // an 8-byte grid of 2 x 2 values
  const struct {
    const char* program;
    std::vector<std::string> args;
    std::vector<std::string> inputs;
    const char* line;
  } cases[] = {
      // 89,042 tiles of 18,313,216 bytes each, the temporaries and the picture of the globe.
      {GRIDFORGE_PATH,
       {"e.i16", "-90", "90", "-180", "180", "2", "2", "12"},
       {"e.i16"},
       "gridforge: region of 89042 tiles needs 1910583549952 bytes in '.', more than the 1044480 "
       "bytes free"},
      // -124 to 123 degrees: 582 tiles.
      {GRIDFORGE_PATH,
       {"g.i16", "48", "49", "-124", "123", "46", "30", "14.5"},
       {"g.i16"},
       "gridforge: region of 582 tiles needs 11726245888 bytes in '.', more than the 1044480 "
       "bytes free"},
      // Tiles, colour tiles and scratch tiles of 12,623,872 bytes a tile, in an empty directory.
      {TINTSHADE_PATH,
       {"-180", "180", "-90", "90", "0"},
       {},
       "tintshade: region of 89042 tiles needs 1124054810624 bytes in '.', more than the 1048576 "
       "bytes free"},
      // The picture of the globe alone.
      {TILEPRINT_PATH,
       {"-180", "180", "-90", "90", "p.bmp"},
       {},
       "tileprint: region of 89042 tiles needs 279938162688 bytes in '.', more than the 1048576 "
       "bytes free"},
      // 24 cells scaled from 0.01 to 2.5 degrees: 16 tiles, fewer than the cells.
      {LANDIMPORT_PATH,
       {"l.ctg", "0", "0", "0", "250", "250"},
       {"l.ctg"},
       "landimport: region of 16 tiles needs 67244032 bytes in '.', more than the 1044480 bytes "
       "free"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const SmallDiskRun small = RunOnSmallDisk(c.program, c.args, c.inputs);
    EXPECT_EQ(small.run.status, 255);
    EXPECT_TRUE(("\n" + small.run.err).ends_with("\n" + std::string(c.line) + "\n"))
        << small.run.err;
    EXPECT_EQ(small.files, std::set<std::string>(c.inputs.begin(), c.inputs.end()));
  }
}

// What exists is rewritten in place and takes nothing more, but a file shorter than its kind
// grows to its full size; each file system is weighed by what lands on it.
TEST_F(RunFilesTest, FilesThatExistAreWeighedByWhatTheyStillNeed) {
  if (!SmallDisks()) GTEST_SKIP() << "no private mount namespace with a tmpfs here";
  // The tiles of one region, made once: 3082 pages of 4096 bytes.
  ASSERT_EQ(RunProgram(TINTSHADE_PATH, Box("0")).status, 0);
  const std::vector<std::string> tiles = {"066_161", "066_161.c32", "066_161.tmp"};
  // A disk that holds them and three pages more: tintshade runs again.
  SmallDiskRun small = RunOnSmallDisk(TINTSHADE_PATH, Box("0"), tiles, uint64_t{3082 + 3} * 4096);
  EXPECT_EQ(small.run.status, 0) << small.run.err;

  // The elevation tile cut to one page, with three pages more: it must grow by 1027.
  fs::resize_file("066_161", 4096);
  small = RunOnSmallDisk(TINTSHADE_PATH, Box("0"), tiles, uint64_t{3082 - 1027 + 3} * 4096);
  EXPECT_EQ(small.run.status, 255);
  EXPECT_EQ(small.run.err,
            "tintshade: region of 1 tiles needs 4206592 bytes in '.', more than the 12288 bytes "
            "free\n");

  // gridforge's picture lies beside its input, here on a small disk of its own: the tiles would
  // fit the test's directory, the picture (4,328,458 bytes) does not fit the small disk.
  const std::set<std::string> before = FilesIn(".");
  const ProgramRun run = RunProgram(OnSmallDisk(1 << 20, {"g.i16"}, "small") +
                                        "sh -c 'cd .. && exec \"$0\" \"$@\"' " + GRIDFORGE_PATH,
                                    With(kGridforge, "small/g.i16"));
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.err,
            "gridforge: region of 4 tiles needs 4329472 bytes in 'small', more than the 1044480 "
            "bytes free\n");
  fs::remove("small");
  EXPECT_EQ(FilesIn("."), before);
}

}  // namespace
