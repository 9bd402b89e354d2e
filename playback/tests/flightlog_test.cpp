#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include "BlockTestSupport.h"
#include "clocks_test_hook.h"
#include "testsupport/CapturedOutput.h"
#include "testsupport/FailingClose.h"
#include "testsupport/SmallDisk.h"
#include "testsupport/Text.h"

namespace {

using kyte::sfunhost::Block;
using namespace playback_test;
using namespace kyte::testsupport;

class FlightlogTest : public TempDirTest {
 protected:
  std::unique_ptr<Block> MakeBlock(const std::string& base, double vehicle, double signals) {
    return std::make_unique<Block>(FLIGHTLOG_PATH,
                                   Params(Text(Path(base)), Number(vehicle), Number(signals)));
  }
};

TEST_F(FlightlogTest, WritesOneTabSeparatedRowPerStepWithCarriageReturns) {
  auto block = MakeBlock("run", 3, 5);
  ASSERT_TRUE(block->Initialize()) << block->error();
  EXPECT_EQ(ssGetInputPortWidth(block->simstruct(), 0), 5);
  EXPECT_EQ(ssGetOutputPortWidth(block->simstruct(), 0), 1);
  EXPECT_EQ(ssGetOptions(block->simstruct()), 2u);
  ASSERT_EQ(ssGetNumSampleTimes(block->simstruct()), 1);
  EXPECT_EQ(block->simstruct()->sampleTimes[0], 0.0);
  ASSERT_TRUE(block->Start()) << block->error();

  const std::vector<std::vector<double>> rows = {
      {0.0, 1.5, -2.0, 1234567.0, 0.0000001},
      {1.0, 0.5, 100000.0, 1000000.0, 0.0001},
      {0.00001, -0.0, std::numeric_limits<double>::infinity(),
       -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()},
  };
  double previous = 0.0;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    block->SetInput(0, rows[k]);
    ASSERT_TRUE(block->Outputs(0.01 * static_cast<double>(k), k != 1)) << block->error();
    // Wall-clock seconds since mdlStart.
    const double elapsed = block->Output(0)[0];
    EXPECT_GE(elapsed, previous);
    EXPECT_LT(elapsed, 60.0);
    previous = elapsed;
  }
  // Every row is in the file while the simulation still runs.
  const std::string expected =
      "0\t1.5\t-2\t1.23457e+006\t1e-007\t\r\n"
      "1\t0.5\t100000\t1e+006\t0.0001\t\r\n"
      "1e-005\t-0\tinf\t-inf\tnan\t\r\n";
  EXPECT_EQ(Read("run03.dat"), expected);
  block->Terminate();
  EXPECT_EQ(Read("run03.dat"), expected);
  EXPECT_EQ(Files(), std::set<std::string>{"run03.dat"});
}

// The output is the wall-clock time since mdlStart, whatever the simulation time says.
TEST_F(FlightlogTest, OutputsTheWallClockSecondsSinceStart) {
  std::int64_t now = 7'000'000'000;  // nanoseconds of the performance counter
  clocks_test::ClockHooks hooks;
  hooks.counter = clocks_test::CounterReading(now);
  clocks_test::ScopedClocks clocks(hooks);
  auto block = MakeBlock("clock", 1, 1);
  ASSERT_TRUE(block->Initialize());
  now += 3'000'000'000;  // compiling the model does not count
  ASSERT_TRUE(block->Start()) << block->error();
  const struct {
    std::int64_t advance;
    double t;
    double output;
  } steps[] = {{0, 0.0, 0.0}, {1'250'000'000, 0.01, 1.25}, {500'000'000, 100.0, 1.75}};
  for (const auto& step : steps) {
    now += step.advance;
    ASSERT_TRUE(block->Outputs(step.t));
    EXPECT_DOUBLE_EQ(block->Output(0)[0], step.output) << step.t;
  }
}

TEST_F(FlightlogTest, NamesItsFileFromBaseNameAndTruncatedVehicleNumber) {
  const struct {
    const char* base;
    double vehicle;
    const char* file;
  } cases[] = {
      {"base", 7.9, "base07.dat"},  {"base", -1.0, "base-01.dat"}, {"run", 3.0, "run03.dat"},
      {"run", 100.0, "run100.dat"}, {"f16_", 0.0, "f16_00.dat"},   {"run", -0.5, "run00.dat"},
  };
  for (const auto& c : cases) {
    auto block = MakeBlock(c.base, c.vehicle, 1);
    ASSERT_TRUE(block->Initialize() && block->Start()) << block->error();
    block->SetInput(0, std::vector<double>{2.0});
    ASSERT_TRUE(block->Outputs(0.0));
    block->Terminate();
    EXPECT_EQ(Read(c.file), "2\t\r\n") << c.file;
    std::filesystem::remove(Path(c.file));
  }
  EXPECT_TRUE(Files().empty());
}

TEST_F(FlightlogTest, RefusesParametersOfTheWrongKind) {
  const std::string base = Path("run");
  const struct {
    std::vector<std::string> literals;
    const char* message;
  } cases[] = {
      {{"7", "1", "2"},
       "1st parameter to the flightlog must be the base file name for the data file."},
      {{"'" + base + "'", "'one'", "2"},
       "2nd parameter to the flightlog must be the vehicle number, this is used to build the "
       "data file name."},
      {{"'" + base + "'", "[1 2]", "2"},
       "2nd parameter to the flightlog must be the vehicle number, this is used to build the "
       "data file name."},
      {{"'" + base + "'", "int32(1)", "2"},
       "2nd parameter to the flightlog must be the vehicle number, this is used to build the "
       "data file name."},
      {{"'" + base + "'", "1", "'two'"},
       "3rd parameter to the flightlog must be the number of input signals to the block."},
      {{"'" + base + "'", "1", "[]"},
       "3rd parameter to the flightlog must be the number of input signals to the block."},
  };
  for (const auto& c : cases) {
    Block block(FLIGHTLOG_PATH, ParseParams(c.literals));
    EXPECT_FALSE(block.Initialize());
    EXPECT_EQ(block.error(), c.message);
  }
  // A parameter missing: the host reports the count, the block reads nothing.
  Block missing(FLIGHTLOG_PATH, Params(Text(base), Number(1)));
  EXPECT_FALSE(missing.Initialize());
  EXPECT_FALSE(missing.error().empty());
  EXPECT_TRUE(Files().empty());
}

// A data file that cannot be made stops the simulation before its first step, naming the file
// and the system's reason.
TEST_F(FlightlogTest, ADataFileThatCannotBeCreatedStopsTheStart) {
  std::filesystem::create_directory(Path("taken03.dat"));
  const struct {
    std::string base;
    std::string message;
  } cases[] = {
      {"nodir/run",
       "flightlog:: Could not create data file 'nodir/run03.dat': No such file or directory."},
      {Path("taken"),
       "flightlog:: Could not create data file '" + Path("taken03.dat") + "': Is a directory."},
  };
  for (const auto& c : cases) {
    Block block(FLIGHTLOG_PATH, Params(Text(c.base), Number(3), Number(2)));
    ASSERT_TRUE(block.Initialize()) << block.error();
    EXPECT_FALSE(block.Start());
    EXPECT_EQ(block.error(), c.message);
    EXPECT_FALSE(block.Outputs(0.0));
    block.Terminate();
    EXPECT_EQ(block.error(), c.message);
  }
  EXPECT_EQ(Files(), std::set<std::string>{"taken03.dat"});
}

// A row that does not reach the file whole stops the simulation at its step.
TEST_F(FlightlogTest, ARowThatCannotBeWrittenStopsTheStep) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::filesystem::create_symlink("/dev/full", Path("full01.dat"));
  auto block = MakeBlock("full", 1, 2);
  ASSERT_TRUE(block->Initialize() && block->Start()) << block->error();
  block->SetInput(0, std::vector<double>{1.0, 2.0});
  EXPECT_FALSE(block->Outputs(0.0));
  const std::string message = "flightlog:: Could not write data file '" + Path("full01.dat") +
                              "': No space left on device.";
  EXPECT_EQ(block->error(), message);
  block->Terminate();
  EXPECT_EQ(block->error(), message);
}

// On a disk that fills up the run ends, with status 1, at the step whose row does not fit.
TEST_F(FlightlogTest, AFullDiskEndsTheRunAtItsStep) {
  const std::string row = "1.5\t1.5\t1.5\t1.5\t1.5\t1.5\t1.5\t1.5\t\r\n";  // 34 bytes
  const CommandRun run = RunCommand(OnSmallDisk(4096, {}, "disk", "listing") + SFUNHOST_PATH
                                    " " FLIGHTLOG_PATH " -p \"'run'\" -p 1 -p 8 -u 1.5 -s 1000");
  EXPECT_EQ(run.status, 1) << run.err;
  const int fitted = static_cast<int>(4096 / row.size());
  EXPECT_EQ(CountOf(run.out, " major "), fitted);
  EXPECT_TRUE(run.out.ends_with(
      "status: error: flightlog:: Could not write data file 'run01.dat': No space left on "
      "device.\n"))
      << run.out;
  EXPECT_EQ(Read("listing"), "run01.dat\n");
}

// A user who cannot write to the directory gets the system's reason before the first step.
TEST_F(FlightlogTest, ADirectoryWithoutWritePermissionStopsTheStart) {
  std::string why;
  const std::string host = HostAsOtherUser(dir_, &why);
  if (host.empty()) GTEST_SKIP() << why;
  const CommandRun run =
      RunCommand(host + FLIGHTLOG_PATH " -p \"'" + Path("locked/run") + "'\" -p 1 -p 2 -s 3");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.out, "status: error: flightlog:: Could not create data file '" +
                         Path("locked/run01.dat") + "': Permission denied.\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "locked"));
}

// A close that fails at the end of the simulation is reported as the block's error; the rows
// written before it stay.
TEST_F(FlightlogTest, ACloseThatFailsIsReportedAtTerminate) {
  auto block = MakeBlock("closing", 2, 1);
  ASSERT_TRUE(block->Initialize() && block->Start()) << block->error();
  ScopedFailingClose failing(Path("closing02.dat"));
  block->SetInput(0, std::vector<double>{4.0});
  ASSERT_TRUE(block->Outputs(0.0)) << block->error();
  block->Terminate();
  EXPECT_EQ(failing.failed(), 1);
  EXPECT_TRUE(block->failed());
  EXPECT_EQ(block->error(), "flightlog:: Could not close data file '" + Path("closing02.dat") +
                                "': Input/output error.");
  EXPECT_EQ(Read("closing02.dat"), "4\t\r\n");
}

TEST_F(FlightlogTest, ASecondRunKeepsOnlyItsOwnRows) {
  for (double value : {1.0, 2.0}) {
    auto block = MakeBlock("twice", 1, 1);
    ASSERT_TRUE(block->Initialize() && block->Start()) << block->error();
    const int steps = value == 1.0 ? 4 : 2;
    for (int k = 0; k < steps; ++k) {
      block->SetInput(0, std::vector<double>{value});
      ASSERT_TRUE(block->Outputs(0.1 * k));
    }
  }
  EXPECT_EQ(Read("twice01.dat"), "2\t\r\n2\t\r\n");
}

TEST_F(FlightlogTest, BlocksOfOneModelKeepTheirOwnFiles) {
  kyte::sfunhost::Model model;
  for (double vehicle : {1.0, 2.0}) {
    model.Add(FLIGHTLOG_PATH, Params(Text(Path("fleet")), Number(vehicle), Number(2)));
  }
  kyte::sfunhost::RunOptions options;
  options.steps = 2;
  options.stepSize = 0.5;
  options.minorSteps = 1;  // a row at every minor step as well
  ASSERT_TRUE(model.Run(options, [](const kyte::sfunhost::StepInfo& info, Block& block) {
    block.SetInput(0, std::vector<double>{info.t, static_cast<double>(info.block)});
  }));
  EXPECT_EQ(Read("fleet01.dat"), "0\t0\t\r\n0.25\t0\t\r\n0.5\t0\t\r\n0.75\t0\t\r\n");
  EXPECT_EQ(Read("fleet02.dat"), "0\t1\t\r\n0.25\t1\t\r\n0.5\t1\t\r\n0.75\t1\t\r\n");
}

// A simulation killed outright still leaves every row it completed on disk.
TEST_F(FlightlogTest, EveryCompletedRowSurvivesSigkill) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto block = MakeBlock("killed", 4, 2);
    if (!block->Initialize() || !block->Start()) _exit(3);
    for (int k = 0; k < 5; ++k) {
      block->SetInput(0, std::vector<double>{static_cast<double>(k), 0.5});
      if (!block->Outputs(0.01 * k)) _exit(4);
    }
    kill(getpid(), SIGKILL);
    _exit(5);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_EQ(Read("killed04.dat"), "0\t0.5\t\r\n1\t0.5\t\r\n2\t0.5\t\r\n3\t0.5\t\r\n4\t0.5\t\r\n");
}

// The name buffer holds 255 characters: a longer name is refused rather than cut, since a cut
// name could be another vehicle's file.
TEST_F(FlightlogTest, RefusesADataFileNameLongerThan255Characters) {
  const std::size_t room = 255 - dir_.string().size() - 1;  // the directory and its slash
  const std::string fits = std::string(room - 6, 'a');      // "01.dat" completes 255
  {
    auto block = MakeBlock(fits, 1, 1);
    ASSERT_TRUE(block->Initialize() && block->Start()) << block->error();
    ASSERT_TRUE(block->Outputs(0.0));
    block->Terminate();
    EXPECT_EQ(Read(fits + "01.dat"), "0\t\r\n");
  }
  for (double vehicle : {1.0, 100.0}) {
    const std::string base = vehicle == 1.0 ? fits + "b" : fits;
    auto block = MakeBlock(base, vehicle, 1);
    ASSERT_TRUE(block->Initialize());
    EXPECT_FALSE(block->Start());
    EXPECT_EQ(block->error(), "flightlog:: Data file name longer than 255 characters.");
    block->Terminate();
  }
  EXPECT_EQ(Files().size(), 1u);
}

// MATLAB's readers take the file back: Octave's load gives every value, infinities and NaN
// included, from the three-digit exponents and the tab after the last value.
TEST_F(FlightlogTest, OctaveLoadsTheDataFileBack) {
  if (std::system("command -v octave-cli > /dev/null 2>&1") != 0) GTEST_SKIP() << "no octave-cli";
  {
    auto block = MakeBlock("peer", 2, 6);
    ASSERT_TRUE(block->Initialize() && block->Start()) << block->error();
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& row : std::vector<std::vector<double>>{
             {0.0, 1.5, -2.0, 1234567.0, 0.0000001, 37.981523},
             {0.00001, -122.0634, inf, -inf, std::numeric_limits<double>::quiet_NaN(), 1e300}}) {
      block->SetInput(0, row);
      ASSERT_TRUE(block->Outputs(0.0));
    }
  }
  {
    std::ofstream script(Path("peer.m"));
    script << "m = load('" << Path("peer02.dat") << "');\n"
           << "printf('%d %d\\n', size(m));\n"
           << "printf('%.17g ', m.');\n";
  }
  const CommandRun octave = RunCommand("octave-cli --no-gui --norc -q " + Path("peer.m"));
  ASSERT_EQ(octave.status, 0) << octave.err;
  EXPECT_EQ(octave.out,
            "2 6\n0 1.5 -2 1234570 9.9999999999999995e-08 37.981499999999997 "
            "1.0000000000000001e-05 -122.063 Inf -Inf NaN 1.0000000000000001e+300 ");
}

TEST_F(FlightlogTest, RunsFromTheCommandLineRunner) {
  {
    std::ofstream rows(Path("rows.txt"));
    rows << "1 2.5 -3\n1e-6 0 7\n";
  }
  const CommandRun run =
      RunCommand(std::string(SFUNHOST_PATH) + " " FLIGHTLOG_PATH " -p \"'" + Path("cli") +
                 "'\" -p 9 -p 3 -f " + Path("rows.txt") + " -s 2 -m 1 2>&1");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(Read("cli09.dat"),
            "1\t2.5\t-3\t\r\n1\t2.5\t-3\t\r\n1e-006\t0\t7\t\r\n1e-006\t0\t7\t\r\n");
  EXPECT_NE(run.out.find("status: ok"), std::string::npos);
}

}  // namespace
