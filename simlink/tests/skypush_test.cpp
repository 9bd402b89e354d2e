// skypush driven as Simulink drives it, with an independent group member watching the wire.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "clocks_test_hook.h"
#include "mexhost.h"
#include "sfunhost.h"
#include "support/CLibraryRandom.h"
#include "testsupport/BlockParams.h"
#include "testsupport/CapturedOutput.h"
#include "testsupport/GroupPeer.h"

namespace {

using namespace kyte::testsupport;

using kyte::sfunhost::Block;
using kyte::sfunhost::Model;
using kyte::sfunhost::RunOptions;
using kyte::sfunhost::StepInfo;
namespace mexhost = kyte::mexhost;

// Parameters as MATLAB literals: name, rate, craft, latitude, longitude, altitude, pacing.
using Literals = std::vector<std::string>;
const Literals kGood = {"'F16'", "20", "3", "38", "-122", "5000", "0"};

Literals With(Literals literals, std::initializer_list<std::pair<int, const char*>> changes) {
  for (const auto& [number, literal] : changes) literals[number - 1] = literal;
  return literals;
}

// The performance counter as the test sets it, optionally moving on by a fixed amount at every
// reading so that a busy wait on it ends.
class TestClock {
 public:
  explicit TestClock(std::int64_t advancePerReading = 0) {
    clocks_test::ClockHooks hooks;
    hooks.counter = [this, advancePerReading](std::int64_t& reading) {
      if (failing) return false;
      now += advancePerReading;
      reading = now;
      return true;
    };
    scope_.emplace(hooks);
  }
  void Advance(double seconds) { now += std::llround(seconds * 1e9); }

  std::int64_t now = 5'000'000'000;
  bool failing = false;

 private:
  std::optional<clocks_test::ScopedClocks> scope_;
};

class Skypush : public ::testing::Test {
 protected:
  GroupPeer peer;
};

TEST_F(Skypush, ParametersAreCheckedInTheirOrderWithTheirMessages) {
  const struct {
    Literals params;
    const char* message;
  } cases[] = {
      {With(kGood, {{1, "7"}, {2, "[1 2]"}}),
       "1st parameter to the skypush must be the Vehicle Handle name."},
      {With(kGood, {{2, "[20 20]"}, {3, "'x'"}}),
       "2nd parameter to the skypush must be the Transmit Rate in Hz"},
      {With(kGood, {{2, "int32(20)"}}),
       "2nd parameter to the skypush must be the Transmit Rate in Hz"},
      {With(kGood, {{3, "[]"}, {5, "[]"}}), "3rd parameter to the skypush must be the Craft Type"},
      {With(kGood, {{5, "single(-122)"}, {4, "'north'"}}),
       "5th parameter to the skypush must be the Initial Longitude (decimal degrees)"},
      {With(kGood, {{4, "[38 39]"}, {6, "[]"}}),
       "4th parameter to the skypush must be the Initial Latitude (decimal degrees)"},
      {With(kGood, {{6, "uint8(5)"}, {7, "[]"}}),
       "6th parameter to the skypush must be the Initial Alitude (feet)"},
      {With(kGood, {{7, "'on'"}}),
       "7th parameter to the skypush S-function must be the Use KYTE Time Flag, i.e. (0 or 1)"},
  };
  for (const auto& c : cases) {
    Block block(SKYPUSH_LIBRARY, ParseParams(c.params));
    EXPECT_FALSE(block.Initialize());
    EXPECT_EQ(block.error(), c.message);
  }
  // Values are not checked, and the transmit rate is not used.
  Block block(SKYPUSH_LIBRARY, ParseParams(With(kGood, {{2, "100"}, {3, "-1e300"}, {7, "NaN"}})));
  ASSERT_TRUE(block.Initialize()) << block.error();
  // What Simulink compiles the block with: ten inputs in, one output, one continuous sample time.
  const SimStruct* S = block.simstruct();
  EXPECT_EQ(S->numSFcnParams, 7);
  ASSERT_EQ(S->inputs.size(), 1u);
  EXPECT_EQ(S->inputs[0].width, 10);
  EXPECT_EQ(S->inputs[0].directFeedThrough, 1);
  ASSERT_EQ(S->outputs.size(), 1u);
  EXPECT_EQ(S->outputs[0].width, 1);
  EXPECT_EQ(S->sampleTimes, (std::vector<double>{0.0}));
  EXPECT_EQ(S->offsetTimes, (std::vector<double>{0.0}));
  EXPECT_EQ(S->options, 2u);
  EXPECT_EQ(S->numContStates + S->numDiscStates + S->numRWork + S->numIWork + S->numPWork +
                S->numModes + S->numNonsampledZCs,
            0);
}

TEST_F(Skypush, StartReadsNoParameterOfAnotherForm) {
  // Started without a parameter check, as a host may do: refused, nothing read, no object.
  const struct {
    Literals params;
    const char* message;
  } cases[] = {
      {With(kGood, {{1, "[]"}}), "1st parameter to the skypush must be the Vehicle Handle name."},
      {With(kGood, {{3, "[]"}}), "3rd parameter to the skypush must be the Craft Type"},
      {With(kGood, {{6, "int8([])"}}),
       "6th parameter to the skypush must be the Initial Alitude (feet)"},
  };
  for (const auto& c : cases) {
    Block block(SKYPUSH_LIBRARY, ParseParams(c.params));
    ASSERT_TRUE(block.InitializeSizes());
    ASSERT_TRUE(block.InitializeSampleTimes());
    EXPECT_FALSE(block.Start());
    EXPECT_EQ(block.error(), c.message);
    EXPECT_EQ(block.simstruct()->userData, nullptr);
  }
  EXPECT_FALSE(peer.ReceivePacket(0));
}

// Runs one block for `steps` steps of `stepSize` and records at which steps a packet left.
struct BlockRun {
  std::vector<int> sendSteps;
  std::vector<Packet> packets;
  std::vector<double> outputs;
  bool ok = false;
};

BlockRun RunBlock(GroupPeer& peer, const Literals& params, int steps, double stepSize,
                  const std::function<void(const StepInfo&, Block&)>& setInputs) {
  BlockRun run;
  Model model;
  model.Add(SKYPUSH_LIBRARY, ParseParams(params));
  RunOptions options;
  options.steps = steps;
  options.stepSize = stepSize;
  run.ok = model.Run(options, setInputs, [&](const StepInfo& step, Block& block) {
    run.outputs.push_back(block.Output(0)[0]);
    while (auto packet = peer.ReceivePacket(0)) {
      run.sendSteps.push_back(step.step);
      run.packets.push_back(*packet);
    }
  });
  return run;
}

TEST_F(Skypush, GateCountsWallClockTimeWithoutPacing) {
  TestClock clock;
  // Simulation steps of 1 s, wall-clock steps of 0.02 s: every third step sends.
  const BlockRun run = RunBlock(peer, kGood, 10, 1.0, [&](const StepInfo&, Block& block) {
    clock.Advance(0.02);
    block.SetInput(0, std::vector<double>{100, 0, 5000, 0, 0, 0, 0, 0, 0, 0});
  });
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(run.sendSteps, (std::vector<int>{2, 5, 8}));
  // No wait: the output is the wall-clock time since start, far behind simulation time.
  for (std::size_t k = 0; k < run.outputs.size(); ++k) {
    EXPECT_NEAR(run.outputs[k], 0.02 * static_cast<double>(k + 1), 1e-9) << "step " << k;
  }
  // The first packet's rates are taken over the 0.06 s since start.
  ASSERT_FALSE(run.packets.empty());
  EXPECT_EQ(Int32At(run.packets[0], 104), 1258291200 + 2691);
  EXPECT_NEAR(FloatAt(run.packets[0], 116), 2691 / 0.06, 1.0);
}

TEST_F(Skypush, PacingHoldsSimulationTimeToWallClockTime) {
  TestClock clock(100'000);  // 0.1 ms per reading
  const BlockRun run = RunBlock(peer, With(kGood, {{7, "1"}}), 10, 0.02, {});
  ASSERT_TRUE(run.ok);
  for (std::size_t k = 0; k < run.outputs.size(); ++k) {
    const double t = 0.02 * static_cast<double>(k);
    EXPECT_GE(run.outputs[k], t) << "step " << k;
    EXPECT_LT(run.outputs[k], t + 0.001) << "step " << k;
  }
  EXPECT_EQ(run.sendSteps, (std::vector<int>{3, 6, 9}));
  // The first packet's rates are taken over the wall-clock time since start: from the initial
  // 5000 ft to the input's 0 ft in about 0.06 s.
  ASSERT_FALSE(run.packets.empty());
  EXPECT_NEAR(FloatAt(run.packets[0], 120), -134576 / 0.06, 134576 / 0.06 * 0.01);
}

TEST_F(Skypush, PacingEndsWhenTheClockGivesNoReading) {
  TestClock clock;
  Model model;
  Block& block = model.Add(SKYPUSH_LIBRARY, ParseParams(With(kGood, {{7, "1"}})));
  ASSERT_TRUE(block.Initialize());
  ASSERT_TRUE(block.Start());
  clock.failing = true;
  EXPECT_TRUE(block.Outputs(100.0)) << block.error();
}

TEST_F(Skypush, InputsAndParametersReachTheWire) {
  const struct {
    const char* craft;
    std::int32_t iCraftOnWire;
  } cases[] = {{"-3", 0}, {"2.7", 2}, {"7", 7}};
  for (const auto& c : cases) {
    TestClock clock;
    const BlockRun run =
        RunBlock(peer, With(kGood, {{3, c.craft}}), 1, 0.01, [&](const StepInfo&, Block& block) {
          clock.Advance(0.05);
          block.SetInput(0, std::vector<double>{100, 0, 6000, -5, 10, 90, 1, 2, 3, 126.9});
        });
    ASSERT_TRUE(run.ok);
    ASSERT_EQ(run.packets.size(), 1u) << c.craft;
    const Packet& p = run.packets[0];
    EXPECT_EQ(Int32At(p, 76), c.iCraftOnWire) << c.craft;
    EXPECT_EQ(p[80], 126);
    EXPECT_EQ(Int32At(p, 100), 570163200);          // longitude -122
    EXPECT_EQ(Int32At(p, 104), 1258291200 + 2691);  // latitude 38, 100 ft north
    EXPECT_EQ(Int32At(p, 108), 161491);             // 6000 ft
    EXPECT_EQ(Int32At(p, 136), 1820);               // pitch 10
    EXPECT_EQ(Int32At(p, 140), -910);               // roll -5
    EXPECT_EQ(Int32At(p, 144), -16383);             // heading 90
    EXPECT_EQ(0, std::memcmp(&p[36], "none", 4));
  }
}

// The number skypush appends when its start falls in second `t`: the first value of the C
// library's generator seeded with t, ANDed with 0x270F.
std::string NameNumber(std::time_t t) {
  return std::to_string(CLibraryRandom(static_cast<std::uint32_t>(t)).Next() & 0x270F);
}

TEST_F(Skypush, NameIsTheHandleCutTo27CharactersAndAMaskedNumber) {
  const std::string kLong = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";  // 40 characters
  for (const std::string& handle : {std::string("F16x"), kLong}) {
    TestClock clock;
    const std::time_t before = std::time(nullptr);
    const BlockRun run = RunBlock(peer, With(kGood, {{1, ("'" + handle + "'").c_str()}}), 1, 0.01,
                                  [&](const StepInfo&, Block&) { clock.Advance(0.05); });
    const std::time_t after = std::time(nullptr);
    ASSERT_EQ(run.packets.size(), 1u);
    const std::string name(reinterpret_cast<const char*>(&run.packets[0][4]));
    const std::string base = handle.substr(0, 27);
    ASSERT_EQ(name.substr(0, base.size()), base);
    const std::string suffix = name.substr(base.size());
    EXPECT_TRUE(suffix == NameNumber(before) || suffix == NameNumber(after))
        << name << ": expected the number " << NameNumber(before) << " or " << NameNumber(after);
  }
}

// build/bin/sfunhost runs the block library from the command line.
struct HostRun {
  int status = -1;
  std::string out;
};

HostRun RunSfunhost(const Literals& params, const std::string& options) {
  std::string command = std::string(SFUNHOST_PATH) + " " + SKYPUSH_LIBRARY;
  for (const auto& literal : params) command += " -p \"" + literal + "\"";
  const CommandRun run = RunCommand(command + " " + options + " 2>&1");
  return {run.status, run.out};
}

TEST_F(Skypush, RunsInTheCommandLineHost) {
  const HostRun refused = RunSfunhost(With(kGood, {{4, "'x'"}, {5, "[]"}}), "-s 3");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out,
            "status: error: 5th parameter to the skypush must be the Initial Longitude (decimal "
            "degrees)\n");
  EXPECT_FALSE(peer.ReceivePacket(0));

  // Paced to wall-clock time, four steps of 0.02 s span at least 0.06 s: one send at least.
  const HostRun paced = RunSfunhost(With(kGood, {{3, "2.7"}, {7, "1"}}),
                                    "-u '[100 0 6000 -5 10 90 1 2 3 126.9]' -s 4 -d 0.02");
  EXPECT_EQ(paced.status, 0) << paced.out;
  EXPECT_EQ(paced.out.substr(0, 12), "0 major t=0:");
  EXPECT_NE(paced.out.find("\n3 major t=0.06: "), std::string::npos) << paced.out;
  EXPECT_EQ(paced.out.substr(paced.out.size() - 11), "status: ok\n");
  auto packet = peer.ReceivePacket();
  ASSERT_TRUE(packet);
  EXPECT_EQ(Int32At(*packet, 76), 2);
  EXPECT_EQ((*packet)[80], 126);
}

TEST_F(Skypush, BlocksShareOneTransportThatTheFirstTerminateStops) {
  TestClock clock;
  Model model;
  Block& first = model.Add(SKYPUSH_LIBRARY, ParseParams(kGood));
  Block& second = model.Add(SKYPUSH_LIBRARY, ParseParams(With(kGood, {{3, "5"}})));
  for (Block* block : {&first, &second}) {
    ASSERT_TRUE(block->Initialize());
    ASSERT_TRUE(block->Start());
  }
  clock.Advance(0.05);
  ASSERT_TRUE(first.Outputs(0.0));
  ASSERT_TRUE(second.Outputs(0.0));
  auto a = peer.ReceivePacket();
  auto b = peer.ReceivePacket();
  ASSERT_TRUE(a && b);
  EXPECT_EQ(Int32At(*a, 76), 3);
  EXPECT_EQ(Int32At(*b, 76), 5);
  // The vehicle counter numbers the blocks in their start order.
  EXPECT_EQ((*a)[51], 1);
  EXPECT_EQ((*b)[51], 2);

  first.Terminate();
  clock.Advance(0.05);
  EXPECT_FALSE(second.Outputs(0.01));
  EXPECT_EQ(second.error(), "skypush:: Connection not open.");
  second.Terminate();
  EXPECT_FALSE(peer.ReceivePacket(0));
}

TEST_F(Skypush, KeepsItsOwnTransportAndCounterBesideSkycast) {
  // Both libraries in one process, as in one MATLAB session: each has its own process-wide
  // objects.
  TestClock clock;
  mexhost::MexLibrary skycast(SKYCAST_LIBRARY);
  Model model;
  Block& block = model.Add(SKYPUSH_LIBRARY, ParseParams(kGood));
  ASSERT_TRUE(block.Initialize());
  ASSERT_TRUE(block.Start());  // skypush's first vehicle

  ASSERT_TRUE(
      skycast
          .Call(0, {mexhost::Scalar(1).get(), mexhost::Scalar(7).get(), mexhost::Scalar(3).get()})
          .ok);
  ASSERT_TRUE(
      skycast
          .Call(0, {mexhost::Scalar(2).get(), mexhost::Scalar(7).get(), mexhost::Scalar(0).get()})
          .ok);
  auto own = peer.ReceivePacket();
  ASSERT_TRUE(own);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&(*own)[4])), "airhost_01");
  EXPECT_EQ((*own)[51], 1);

  // skypush's last step sends, and its end closes its own transport only: skycast's socket still
  // holds that packet.
  clock.Advance(0.05);
  block.SetInput(0, std::vector<double>{0, 0, 0, 0, 0, 0, 0, 0, 0, 77});
  ASSERT_TRUE(block.Outputs(0.0)) << block.error();
  ASSERT_TRUE(peer.ReceivePacket());
  block.Terminate();
  std::vector<double> states;
  for (;;) {
    auto received = skycast.Call(1, {mexhost::Scalar(3).get()});
    ASSERT_TRUE(received.ok) << received.error;
    const auto column = mexhost::Values(received.outputs[0].get());
    if (column.empty()) break;
    states.push_back(column[25]);
  }
  EXPECT_EQ(states, (std::vector<double>{0, 77}));
  EXPECT_TRUE(skycast.Call(0, {mexhost::Scalar(4).get()}).ok);
}

}  // namespace
