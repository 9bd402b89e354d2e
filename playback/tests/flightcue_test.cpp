#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "BlockTestSupport.h"
#include "testsupport/FailingClose.h"
#include "testsupport/Files.h"
#include "testsupport/SmallDisk.h"

namespace {

using kyte::sfunhost::Block;
using namespace playback_test;
using namespace kyte::testsupport;

// The file of the vehicles 1 and 2 of base name "run" as the playback expects it
// (tests/data/demo.ply.ini), cut after `vehicles` of them: its 25 fixed lines, 35 lines a
// vehicle, each line ended by a carriage return and a line feed.
std::string ExpectedFile(int vehicles) {
  EXPECT_LE(vehicles, 2) << "the file holds two vehicles";
  const std::string file = ReadFile(DEMO_CONFIG);
  std::size_t end = 0;
  for (int line = 0; line < 25 + 35 * vehicles && end < file.size(); ++line) {
    end = file.find("\r\n", end) + 2;
  }
  return file.substr(0, end);
}

std::vector<std::string> Lines(const std::string& file) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = file.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(file.substr(start, end - start));
  }
  EXPECT_EQ(start, file.size()) << "text after the last line end";
  return lines;
}

class FlightcueTest : public TempDirTest {
 protected:
  // Runs a whole simulation of the block; the file is complete once mdlStart has returned.
  std::string Run(const std::string& config, std::vector<ArrayPtr> params) {
    Block block(FLIGHTCUE_PATH, std::move(params));
    EXPECT_TRUE(block.Initialize()) << block.error();
    EXPECT_EQ(ssGetInputPortWidth(block.simstruct(), 0), 1);
    EXPECT_EQ(ssGetOutputPortWidth(block.simstruct(), 0), 1);
    EXPECT_EQ(ssGetOptions(block.simstruct()), 2u);
    EXPECT_TRUE(block.Start()) << block.error();
    const std::string written = Read(config);
    for (int k = 0; k < 3; ++k) {
      EXPECT_TRUE(block.Outputs(0.1 * k, k % 2 == 0));
    }
    block.Terminate();
    EXPECT_FALSE(block.failed()) << block.error();
    EXPECT_EQ(Read(config), written) << "written again after mdlStart";
    return written;
  }
};

TEST_F(FlightcueTest, DeclaresTwoVehiclesIn95Lines) {
  const std::string file =
      Run("demo.ply.ini", Params(Text(Path("demo.ply.ini")), Text("run"), Number(2)));
  EXPECT_EQ(file, ExpectedFile(2));
  const auto lines = Lines(file);
  ASSERT_EQ(lines.size(), 95u);
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[22], "");
  EXPECT_EQ(lines[25], "Entity:1:DataFile=run01.dat");
  EXPECT_EQ(lines[26], "Entity:1:Time Type=Elapsed");
  EXPECT_EQ(lines[27], "Entity:1:Dyn:time=1:1");
  EXPECT_EQ(lines[60], "Entity:2:DataFile=run02.dat");
  EXPECT_EQ(lines[62], "Entity:2:Dyn:time=1:1");
  EXPECT_EQ(lines[94], "Entity:2:Dyn:explode=1:33");
}

TEST_F(FlightcueTest, TruncatesTheNumberOfVehicles) {
  const struct {
    double vehicles;
    int written;
  } cases[] = {{0.0, 0}, {-3.0, 0}, {0.9, 0}, {2.9, 2}, {-2147483649.0, 0}};
  for (const auto& c : cases) {
    const std::string file =
        Run("cue.ply.ini", Params(Text(Path("cue.ply.ini")), Text("run"), Number(c.vehicles)));
    EXPECT_EQ(file, ExpectedFile(c.written)) << c.vehicles;
  }
}

TEST_F(FlightcueTest, NumbersVehiclesBeyondNineAndNinetyNine) {
  const std::string base = Path("flight");
  const auto lines =
      Lines(Run("many.ply.ini", Params(Text(Path("many.ply.ini")), Text(base), Number(100))));
  ASSERT_EQ(lines.size(), 25u + 100u * 35u);
  EXPECT_EQ(lines[25 + 9 * 35], "Entity:10:DataFile=" + base + "10.dat");
  EXPECT_EQ(lines[25 + 9 * 35 + 34], "Entity:10:Dyn:explode=1:33");
  EXPECT_EQ(lines[25 + 99 * 35], "Entity:100:DataFile=" + base + "100.dat");
  EXPECT_EQ(lines.back(), "Entity:100:Dyn:explode=1:33");
}

// Both texts are read into buffers of 256 characters: a longer one is cut to its first 255.
TEST_F(FlightcueTest, CutsTextsLongerThan255Characters) {
  const std::string config = Path(std::string(300, 'c'));
  const std::string base = std::string(300, 'b');
  const std::string cutConfig = config.substr(0, 255);
  const std::string cutName = cutConfig.substr(dir_.string().size() + 1);
  const auto lines = Lines(Run(cutName, Params(Text(config), Text(base), Number(1))));
  ASSERT_EQ(lines.size(), 60u);
  EXPECT_EQ(lines[25], "Entity:1:DataFile=" + base.substr(0, 255) + "01.dat");
  EXPECT_EQ(Files(), std::set<std::string>{cutName});
}

TEST_F(FlightcueTest, RefusesParametersOfTheWrongKind) {
  const std::string config = "'" + Path("p.ply.ini") + "'";
  const struct {
    std::vector<std::string> literals;
    const char* message;
  } cases[] = {
      {{"5", "'run'", "2"},
       "1st parameter to the flightcue must be the Playback Configuration File Name."},
      {{config, "[1 2]", "2"},
       "2nd parameter to the flightcue must be the Base File Name for the data file."},
      {{config, "'run'", "'two'"},
       "3rd parameter to the flightcue must be the number of vehicles to include in the .ply.ini "
       "file"},
      {{config, "'run'", "[2 3]"},
       "3rd parameter to the flightcue must be the number of vehicles to include in the .ply.ini "
       "file"},
      {{config, "'run'", "single(2)"},
       "3rd parameter to the flightcue must be the number of vehicles to include in the .ply.ini "
       "file"},
  };
  for (const auto& c : cases) {
    Block block(FLIGHTCUE_PATH, ParseParams(c.literals));
    EXPECT_FALSE(block.Initialize());
    EXPECT_EQ(block.error(), c.message);
  }
  EXPECT_TRUE(Files().empty());
}

// A file that cannot be made or written stops the start with the file's name and the system's
// reason, with no vehicle as with the largest number of them, which stops at the first line
// that fails.
TEST_F(FlightcueTest, AFileThatCannotBeWrittenStopsTheStart) {
  std::filesystem::create_directory(Path("taken.ply.ini"));
  struct Case {
    std::string name;
    std::string message;
  };
  std::vector<Case> cases = {
      {"nodir/demo.ply.ini",
       "flightcue:: Could not create configuration file 'nodir/demo.ply.ini': No such file or "
       "directory."},
      {Path("taken.ply.ini"), "flightcue:: Could not create configuration file '" +
                                  Path("taken.ply.ini") + "': Is a directory."},
  };
  if (std::filesystem::exists("/dev/full"))
    cases.push_back({"/dev/full",
                     "flightcue:: Could not write configuration file '/dev/full': No space left "
                     "on device."});
  for (const Case& c : cases) {
    for (double vehicles : {0.0, 2.0, 2147483647.0}) {
      Block block(FLIGHTCUE_PATH, Params(Text(c.name), Text("run"), Number(vehicles)));
      ASSERT_TRUE(block.Initialize()) << block.error();
      EXPECT_FALSE(block.Start()) << c.name << " " << vehicles;
      EXPECT_EQ(block.error(), c.message);
      EXPECT_FALSE(block.Outputs(0.0));
      block.Terminate();
    }
  }
  EXPECT_EQ(Files(), std::set<std::string>{"taken.ply.ini"});
}

// On a disk that fills up the line that does not fit stops the start: no step is run.
TEST_F(FlightcueTest, AFullDiskStopsTheStart) {
  const CommandRun run =
      RunCommand(OnSmallDisk(4096) + SFUNHOST_PATH
                 " " FLIGHTCUE_PATH " -p \"'demo.ply.ini'\" -p \"'run'\" -p 100 -s 5");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.out,
            "status: error: flightcue:: Could not write configuration file 'demo.ply.ini': No "
            "space left on device.\n");
}

TEST_F(FlightcueTest, ADirectoryWithoutWritePermissionStopsTheStart) {
  std::string why;
  const std::string host = HostAsOtherUser(dir_, &why);
  if (host.empty()) GTEST_SKIP() << why;
  const std::string config = Path("locked/demo.ply.ini");
  const CommandRun run =
      RunCommand(host + FLIGHTCUE_PATH " -p \"'" + config + "'\" -p \"'run'\" -p 2");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.out, "status: error: flightcue:: Could not create configuration file '" + config +
                         "': Permission denied.\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "locked"));
}

// The file is written whole and then its close fails: the start stops with the reason.
TEST_F(FlightcueTest, ACloseThatFailsStopsTheStart) {
  std::ofstream(Path("closing.ply.ini")) << "from before";
  ScopedFailingClose failing(Path("closing.ply.ini"));
  Block block(FLIGHTCUE_PATH, Params(Text(Path("closing.ply.ini")), Text("run"), Number(2)));
  ASSERT_TRUE(block.Initialize()) << block.error();
  EXPECT_FALSE(block.Start());
  EXPECT_EQ(failing.failed(), 1);
  EXPECT_EQ(block.error(), "flightcue:: Could not close configuration file '" +
                               Path("closing.ply.ini") + "': Input/output error.");
  EXPECT_EQ(Read("closing.ply.ini"), ExpectedFile(2));
}

TEST_F(FlightcueTest, EachStartWritesTheFileAnew) {
  Run("again.ply.ini", Params(Text(Path("again.ply.ini")), Text("run"), Number(3)));
  EXPECT_EQ(Run("again.ply.ini", Params(Text(Path("again.ply.ini")), Text("run"), Number(1))),
            ExpectedFile(1));
}

}  // namespace
