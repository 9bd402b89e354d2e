#include <sstream>

#include "BlockTestSupport.h"

namespace {

using kyte::sfunhost::Block;
using namespace playback_test;

const char* const kFixedLines[] = {
    "[Block 1]",
    "Block Label=Network Block",
    "",
    "[Block 2]",
    "Block Label=Display Charts",
    "Gallery:1=9109505",
    "Line Width:1=2",
    "Line Style:1=38469632",
    "Marker Shape:1=9109504",
    "Marker Size:1=3",
    "Marker Step:1=1",
    "Grid:1=9109505",
    "Title:1=(Right-Click in Chart Area for Menu)",
    "Chart3D:1=0",
    "Legend Visible:1=-1",
    "Legend Docked:1=256",
    "Y Axis Autoscale:1=0",
    "Y Axis Maximum:1=800",
    "Y Axis Minimum:1=-150",
    "Chart Refresh Rate=5",
    "X Increment=5",
    "Number of Charts=1",
    "",
    "[Block 3]",
    "Block Label=KYTE Playback Block",
};

const char* const kColumns[] = {
    "time",  "x",     "y",     "z",      "xrot",   "yrot",   "zrot",  "craftmask", "crafttype",
    "eng",   "alpha", "beta",  "G",      "V",      "M",      "sfc01", "sfc02",     "sfc03",
    "sfc04", "sfc05", "sfc06", "sfc07",  "sfc08",  "sfc09",  "sfc10", "sfc11",     "sfc12",
    "sfc13", "sfc14", "sfc15", "select", "launch", "explode"};

// The file as the playback expects it, every line ended by a carriage return and a line feed.
std::string ExpectedFile(const std::string& base, int vehicles) {
  std::ostringstream text;
  for (const char* line : kFixedLines) text << line << "\r\n";
  for (int i = 1; i <= vehicles; ++i) {
    text << "Entity:" << i << ":DataFile=" << base << (i < 10 ? "0" : "") << i << ".dat\r\n";
    text << "Entity:" << i << ":Time Type=Elapsed\r\n";
    for (int c = 0; c < 33; ++c) {
      text << "Entity:" << i << ":Dyn:" << kColumns[c] << "=1:" << c + 1 << "\r\n";
    }
  }
  return text.str();
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
  EXPECT_EQ(file, ExpectedFile("run", 2));
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
    EXPECT_EQ(file, ExpectedFile("run", c.written)) << c.vehicles;
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
  EXPECT_EQ(Files(), std::vector<std::string>{cutName});
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

// A file that cannot be created, or whose writes fail, drops its lines; the run goes on, and
// the largest number of vehicles does not keep mdlStart busy formatting lines that are lost.
TEST_F(FlightcueTest, AFileThatCannotBeWrittenIsDroppedAndTheRunGoesOn) {
  std::vector<std::string> names = {Path("missing/demo.ply.ini")};
  if (std::filesystem::exists("/dev/full")) names.push_back("/dev/full");
  for (const std::string& name : names) {
    for (double vehicles : {2.0, 2147483647.0}) {
      Block block(FLIGHTCUE_PATH, Params(Text(name), Text("run"), Number(vehicles)));
      ASSERT_TRUE(block.Initialize() && block.Start()) << block.error();
      EXPECT_TRUE(block.Outputs(0.0));
      block.Terminate();
      EXPECT_FALSE(block.failed()) << name;
    }
  }
  EXPECT_TRUE(Files().empty());
}

TEST_F(FlightcueTest, EachStartWritesTheFileAnew) {
  Run("again.ply.ini", Params(Text(Path("again.ply.ini")), Text("run"), Number(3)));
  EXPECT_EQ(Run("again.ply.ini", Params(Text(Path("again.ply.ini")), Text("run"), Number(1))),
            ExpectedFile("run", 1));
}

}  // namespace
