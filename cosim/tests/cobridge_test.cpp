// The cobridge block in the S-function host; this test process plays the plug-in through a
// connection table of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "ConnectionTable.h"
#include "KYTE2MATLAB.h"
#include "clocks_test_hook.h"
#include "mexhost.h"
#include "sfunhost.h"
#include "support/ChannelSandbox.h"
#include "support/ChannelValues.h"
#include "testsupport/CapturedOutput.h"

namespace {

using cosim_test::ReadChannelValues;
using namespace kyte::testsupport;

using kyte::mexhost::ArrayPtr;
using kyte::mexhost::Scalar;
using kyte::sfunhost::Block;
using kyte::sfunhost::Model;
using kyte::sfunhost::RunOptions;

std::vector<ArrayPtr> Params(std::initializer_list<double> values) {
  std::vector<ArrayPtr> params;
  for (double v : values) params.push_back(Scalar(v));
  return params;
}

class CobridgeTest : public ::testing::Test {
 protected:
  void TearDown() override { CloseAllConnections(); }
  cosim_test::ChannelSandbox sandbox;
};

TEST_F(CobridgeTest, StepsReadThePluginsChannelThenWriteItsOwn) {
  Block block(COBRIDGE_PATH, Params({3, 25, 4, 16, 0}));
  ASSERT_TRUE(block.Initialize()) << block.error();
  EXPECT_EQ(ssGetInputPortWidth(block.simstruct(), 0), 25);
  EXPECT_EQ(ssGetOutputPortWidth(block.simstruct(), 0), 16);
  ASSERT_TRUE(block.Start()) << block.error();

  ASSERT_EQ(OpenConnection(4, 16), 0);  // to Simulink, as airhost writes it
  ASSERT_EQ(OpenConnection(3, 25), 1);  // to KYTE
  std::vector<double> in(25);
  for (int i = 0; i < 25; ++i) in[i] = 100.0 + i;
  block.SetInput(0, in);
  ASSERT_TRUE(block.Outputs(0.0));
  EXPECT_EQ(std::vector<double>(block.Output(0).begin(), block.Output(0).end()),
            std::vector<double>(16, 0.0));  // nothing written yet: the fresh view
  EXPECT_EQ(ReadChannelValues(1, 25), in);

  for (int i = 0; i < 16; ++i) SetConnectionValue(0, i, i == 0 ? 1.0 : -i);
  WriteConnection(0);
  ASSERT_TRUE(block.Outputs(0.01));
  EXPECT_EQ(block.Output(0)[0], 1.0);
  EXPECT_EQ(block.Output(0)[15], -15.0);

  block.Terminate();
  EXPECT_EQ(ReadChannelValues(1, 25), std::vector<double>(25, 0.0));
}

TEST_F(CobridgeTest, ParameterChecksNameTheFirstBadParameter) {
  const char* messages[5] = {
      "1st parameter to the cobridge S-function must be the ID of the To KYTE connection",
      "2nd parameter to the cobridge S-function must be the number of signals passed to KYTE",
      "3rd parameter to the cobridge S-function must be the ID of the To Simulink connection",
      "4th parameter to the cobridge S-function must be the number of signals passed to Simulink",
      "5th parameter to the cobridge S-function must be the Use KYTE Time Flag, i.e. (0 or 1)",
  };
  for (int bad = 0; bad < 5; ++bad) {
    for (int kind = 0; kind < 2; ++kind) {
      std::vector<ArrayPtr> params = Params({3, 25, 4, 16, 0});
      params[bad] = kind == 0 ? kyte::mexhost::Char("3") : kyte::mexhost::Row({3, 4});
      if (bad == 4) params[3] = kyte::mexhost::Char("16");  // only the first is named
      Block block(COBRIDGE_PATH, std::move(params));
      EXPECT_FALSE(block.Initialize());
      EXPECT_EQ(block.error(), messages[bad == 4 ? 3 : bad]) << bad << " " << kind;
    }
  }
}

TEST_F(CobridgeTest, AChannelThatCannotOpenStopsTheRunWithItsArguments) {
  std::filesystem::create_directory(sandbox.dir() / "SharedFile2");
  Block block(COBRIDGE_PATH, Params({1, 14, 2, 19, 0}));
  ASSERT_TRUE(block.Initialize());
  EXPECT_EQ(CaptureStderr([&] { EXPECT_FALSE(block.Start()); }).rfind("CreateFile - ", 0), 0u);
  EXPECT_EQ(block.error(),
            "cobridge:: Error encountered while opening the connection.\nArguments were:\n"
            "iIDKYTE = 1,iSizeToKYTE = 14,iIDMATLAB = 2,iSizeToMATLAB = 19 \n");
  // Steps after the failed start find the pair not open.
  block.ClearError();
  EXPECT_FALSE(block.Outputs(0.0));
  EXPECT_EQ(block.error(), "cobridge:: Connection not open.");
  block.Terminate();

  // More values than a channel holds: refused before anything is copied past its view.
  Block wide(COBRIDGE_PATH, Params({3, 600, 4, 16, 0}));
  ASSERT_TRUE(wide.Initialize());
  EXPECT_EQ(CaptureStderr([&] { EXPECT_FALSE(wide.Start()); }),
            "CreateFileMapping - Invalid argument\n");
  EXPECT_EQ(wide.error(),
            "cobridge:: Error encountered while opening the connection.\nArguments were:\n"
            "iIDKYTE = 3,iSizeToKYTE = 600,iIDMATLAB = 4,iSizeToMATLAB = 16 \n");
}

TEST_F(CobridgeTest, BlocksOfOneModelKeepChannelsOfTheirOwn) {
  Model model;
  model.Add(COBRIDGE_PATH, Params({3, 25, 4, 16, 0}));
  model.Add(COBRIDGE_PATH, Params({1, 14, 2, 19, 0}));
  ASSERT_EQ(OpenConnection(4, 16), 0);
  ASSERT_EQ(OpenConnection(2, 19), 1);
  ASSERT_EQ(OpenConnection(3, 25), 2);
  ASSERT_EQ(OpenConnection(1, 14), 3);
  SetConnectionValue(0, 15, 4.0);
  WriteConnection(0);
  SetConnectionValue(1, 18, 2.0);
  WriteConnection(1);
  std::vector<double> seen(2);
  ASSERT_TRUE(model.Run(
      RunOptions{.steps = 3},
      [](const kyte::sfunhost::StepInfo& info, Block& b) {
        b.SetInput(0, std::vector<double>(info.block == 0 ? 25 : 14, info.block == 0 ? 3.0 : 1.0));
      },
      [&](const kyte::sfunhost::StepInfo& info, Block& b) {
        seen[info.block] = b.Output(0)[info.block == 0 ? 15 : 18];
        if (info.block == 1 && info.step == 2) {
          EXPECT_EQ(ReadChannelValues(2, 25), std::vector<double>(25, 3.0));
          EXPECT_EQ(ReadChannelValues(3, 14), std::vector<double>(14, 1.0));
        }
      }));
  EXPECT_EQ(seen, (std::vector<double>{4.0, 2.0}));
  EXPECT_EQ(ReadChannelValues(2, 25), std::vector<double>(25, 0.0));
  EXPECT_EQ(ReadChannelValues(3, 14), std::vector<double>(14, 0.0));
}

// Steps at these simulated times, over a performance counter that moves on 1 ms at every
// reading; for each step, the milliseconds since mdlStart once its outputs are done, and the
// readings it took.
const double kStepTimes[] = {0.0, 0.1, 0.25, 2.0, 1.5};
struct PacedSteps {
  std::vector<std::int64_t> elapsedMs;
  std::vector<int> readings;
};

PacedSteps PacedRun(double flag) {
  std::int64_t now = 0;
  int readings = 0;
  clocks_test::ClockHooks hooks;
  hooks.counter = [&](std::int64_t& reading) {
    ++readings;
    reading = now += 1000000;
    return true;
  };
  clocks_test::ScopedClocks scope(hooks);
  Block block(COBRIDGE_PATH, Params({3, 25, 4, 16, flag}));
  EXPECT_TRUE(block.Initialize());
  EXPECT_TRUE(block.Start()) << block.error();
  const std::int64_t started = now;  // the pacing timer's start, when the flag is set
  PacedSteps steps;
  for (double t : kStepTimes) {
    const int before = readings;
    EXPECT_TRUE(block.Outputs(t)) << block.error();
    steps.elapsedMs.push_back((now - started) / 1000000);
    steps.readings.push_back(readings - before);
  }
  block.Terminate();
  return steps;
}

TEST_F(CobridgeTest, FlagSetWaitsUntilTheWallClockReachesEachStep) {
  for (double flag : {1.0, 2.0}) {  // any non-zero whole number counts as set
    const PacedSteps steps = PacedRun(flag);
    // Each wait ends on the first reading at or past the step's time; a step whose time has
    // passed reads the clock once and goes on.
    EXPECT_EQ(steps.elapsedMs, (std::vector<std::int64_t>{1, 100, 250, 2000, 2001})) << flag;
    EXPECT_EQ(steps.readings, (std::vector<int>{1, 99, 150, 1750, 1})) << flag;
  }
}

TEST_F(CobridgeTest, FlagBelowOneIsTruncatedToNoPacing) {
  for (double flag : {0.0, 0.5}) {
    EXPECT_EQ(PacedRun(flag).readings, std::vector<int>(std::size(kStepTimes), 0)) << flag;
  }
}

TEST(PacingWait, AStopwatchWithoutReadingsEndsTheWait) {
  bool counterWorks = true;
  std::int64_t now = 0;
  clocks_test::ClockHooks hooks;
  hooks.counter = clocks_test::CounterReading(now, &counterWorks);
  clocks_test::ScopedClocks scope(hooks);
  {
    CKYTE2MATLAB bridge;
    ASSERT_EQ(bridge.StartTimer(), 0);
    now = 500000000;  // 0.5 s in
    counterWorks = false;
    bridge.WaitForWallClock(1000.0);  // returns: the test ends
  }
  CKYTE2MATLAB neverStarted;
  neverStarted.WaitForWallClock(1000.0);
}

}  // namespace
