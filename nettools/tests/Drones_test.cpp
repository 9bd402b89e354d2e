// The drones' motion steps and the timed loop, driven through an injected tick count.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "DroneFleet.h"
#include "DroneSolo.h"
#include "Run.h"
#include "clocks_test_hook.h"
#include "multicast/VehiclePacket.h"
#include "platform/sockets/sockets_test_hook.h"
#include "testsupport/CapturedOutput.h"
#include "testsupport/GroupPeer.h"

namespace {

using namespace kyte::testsupport;

struct Offset {
  const char* name;
  double east;
  double north;
  double up;
};

class Fleet : public ::testing::Test {
 protected:
  void SetUp() override {
    dronefleet::drones = {};
    drones::sendFlag = 0;
    dronefleet::SetUp();
  }
  static std::string NameOf(const VehicleRecordD& drone) {
    return std::string(reinterpret_cast<const char*>(drone.PacketImage + kImageName));
  }
  static void ExpectOffsets(const std::vector<Offset>& expected) {
    const VehicleRecordD& leader = dronefleet::drones[0];
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const VehicleRecordD& wingman = dronefleet::drones[i + 1];
      SCOPED_TRACE(expected[i].name);
      EXPECT_EQ(NameOf(wingman), expected[i].name);
      EXPECT_NEAR(wingman.dEast - leader.dEast, expected[i].east, 0.005);
      EXPECT_NEAR(wingman.dNorth - leader.dNorth, expected[i].north, 0.005);
      EXPECT_NEAR(wingman.dAltitude - leader.dAltitude, expected[i].up, 0.005);
    }
  }
};

TEST_F(Fleet, FormationAtHeadingZeroTiltsWithTheBank) {
  dronefleet::FlyFormation(0.0);
  ExpectOffsets({{"F18_Drone", 99.03, 50, -13.92},
                 {"F16_Drone", -99.03, 50, 13.92},
                 {"F15_Drone", -99.03, -100, 13.92},
                 {"F22_Drone", 29.71, -150, -6.96},
                 {"F23_Drone", -29.71, -150, 6.96},
                 {"F117_Drone", 99.03, -100, -13.92}});
  EXPECT_EQ(dronefleet::drones[0].dAltitude, 15000.0);
}

TEST_F(Fleet, FormationTurnsWithTheLeader) {
  dronefleet::drones[0].dHeading = 90.0;
  dronefleet::FlyFormation(0.0);
  ExpectOffsets({{"F18_Drone", 50, -99.03, -13.92},
                 {"F16_Drone", 50, 99.03, 13.92},
                 {"F15_Drone", -100, 99.03, 13.92},
                 {"F22_Drone", -150, -29.71, -6.96},
                 {"F23_Drone", -150, 29.71, 6.96},
                 {"F117_Drone", -100, -99.03, -13.92}});
  // Degrees become radians through the float nearest 3.14159/180, so 90 degrees falls 1.35e-6
  // radians short of a right angle and F18 lies 0.000134 feet east of the 50 that pi/180 gives.
  EXPECT_NEAR(dronefleet::drones[1].dEast - dronefleet::drones[0].dEast, 50.000134, 1e-6);
}

TEST_F(Fleet, MotionStepTurnsEveryDroneAndMovesTheLeader) {
  dronefleet::FlyFormation(0.032);
  const VehicleRecordD& leader = dronefleet::drones[0];
  EXPECT_NEAR(std::hypot(leader.dEast, leader.dNorth), 16.0, 1e-9);
  for (const VehicleRecordD& drone : dronefleet::drones) {
    EXPECT_NEAR(drone.dHeading, 0.048, 1e-12);
    EXPECT_FLOAT_EQ(drone.fSendInterval, 0.032f);
    EXPECT_EQ(drone.dPitch, 0.0);
    EXPECT_EQ(drone.dRoll, 8.0);
  }
}

TEST(Solo, MotionStepTurnsAndMovesTheDrone) {
  dronesolo::drone = {};
  drones::sendFlag = 0;
  dronesolo::SetUp();
  dronesolo::FlyCircle(0.032);
  const VehicleRecordD& drone = dronesolo::drone;
  EXPECT_NEAR(drone.dHeading, 0.048, 1e-12);
  EXPECT_NEAR(std::hypot(drone.dEast, drone.dNorth), 16.0, 1e-9);
  EXPECT_EQ(drone.dAltitude, 15000.0);
  EXPECT_EQ(drone.byState, 100);
  EXPECT_FLOAT_EQ(drone.fSendInterval, 0.032f);
}

// A 100-second run of the circle: about 150 degrees of turn and 50,000 feet flown.
TEST(Solo, HundredSecondsOfCircle) {
  dronesolo::drone = {};
  dronesolo::SetUp();
  for (int i = 0; i < 3125; ++i) dronesolo::FlyCircle(0.032);
  const VehicleRecordD& drone = dronesolo::drone;
  EXPECT_NEAR(drone.dHeading, 150.0, 1e-6);
  const double radius = 500.0 / (1.5 * drones::kDegree);
  EXPECT_NEAR(radius, 19099.0, 1.0);
  // The chord of a 150-degree arc on that radius.
  EXPECT_NEAR(std::hypot(drone.dEast, drone.dNorth), 2 * radius * std::sin(75 * drones::kDegree),
              1.0);
}

// A tick count fed by the test: each reading is the scripted one, then steps of `step` ms.
struct Ticks {
  std::vector<std::uint32_t> script;
  std::uint32_t step = 1;
  std::size_t readings = 0;
  std::uint32_t now = 0;
  std::function<void(std::size_t)> onReading;  // sees the state before pass `readings` runs
  std::uint32_t operator()() {
    now = readings < script.size() ? script[readings] : now + step;
    if (onReading) onReading(readings);
    ++readings;
    return now;
  }
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

double ValueAfter(const std::string& line, const std::string& prefix) {
  EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
  return std::stod(line.substr(prefix.size()));
}

// A whole run of the program over the tick count; the lines it wrote to standard error.
std::vector<std::string> FlyOverTicks(const drones::Program& program, Ticks& ticks) {
  clocks_test::ClockHooks hooks;
  hooks.tickCount = std::ref(ticks);
  return Lines(CaptureStderr([&] {
    clocks_test::ScopedClocks scope(hooks);
    EXPECT_EQ(drones::Fly(program), 0);
  }));
}

// What the group carries now: waits up to a second for `expected` packets, then lingerMs for more.
std::vector<Packet> Drain(GroupPeer& group, std::size_t expected, int lingerMs) {
  std::vector<Packet> packets;
  while (auto packet = group.Receive(packets.size() < expected ? 1000 : lingerMs))
    packets.push_back(*packet);
  return packets;
}

// The whole program over an injected tick count that starts just before the 32-bit wrap.
TEST(FleetRun, RequestsAreSentByTheNextMotionStepAndStatusLinesFollowTheCount) {
  dronefleet::drones = {};
  drones::sendFlag = 0;
  GroupPeer group;
  std::vector<std::vector<Packet>> sentAfterPass;
  std::vector<float> leaderInterval;
  std::vector<int> flag;
  const std::uint32_t start = 0xFFFFFFF0u;
  // Pass 1: 90 ms (a motion step and a request in the same pass); pass 2: 1 ms; pass 3: 21 ms
  // (the next motion step, over 22 ms); then 1 ms at a time.
  Ticks ticks;
  ticks.script = {start, start + 90, start + 91, start + 112};
  ticks.onReading = [&](std::size_t reading) {
    if (reading < 2 || reading > 4) return;
    sentAfterPass.push_back(Drain(group, reading == 4 ? 7 : 0, 20));
    leaderInterval.push_back(dronefleet::drones[0].fSendInterval);
    flag.push_back(drones::sendFlag);
  };
  const std::vector<std::string> lines = FlyOverTicks(dronefleet::program, ticks);

  ASSERT_EQ(sentAfterPass.size(), 3u);
  // Pass 1 stepped (0.09 s into every interval) and requested, but sent nothing.
  EXPECT_TRUE(sentAfterPass[0].empty());
  EXPECT_FLOAT_EQ(leaderInterval[0], 0.09f);
  EXPECT_EQ(flag[0], 1);
  // Pass 2 counted 1 ms: no step.
  EXPECT_TRUE(sentAfterPass[1].empty());
  // Pass 3's motion step sent all seven, in table order, and restarted their intervals.
  ASSERT_EQ(sentAfterPass[2].size(), 7u);
  const char* names[] = {"707_Drone", "F18_Drone", "F16_Drone", "F15_Drone",
                         "F22_Drone", "F23_Drone", "F117_Drone"};
  const std::int32_t ids[] = {1234, 7125, 5423, 9821, 6243, 5678, 3498};
  for (int i = 0; i < 7; ++i) {
    const Packet& packet = sentAfterPass[2][i];
    SCOPED_TRACE(names[i]);
    ASSERT_EQ(packet.size(), 304u);
    EXPECT_EQ(TextAt(packet, 4, 32), names[i]);
    EXPECT_EQ(Int32At(packet, 36), 0);  // no tag
    EXPECT_EQ(Int32At(packet, 48), ids[i]);
    EXPECT_EQ(Int32At(packet, 52), ids[i]);
    EXPECT_EQ(Int32At(packet, 76), i);
    EXPECT_EQ(packet[80], 100);
    EXPECT_EQ(Int32At(packet, 140), 1456);
    // Rates over the 0.112 s counted by the two steps, against the reference position.
    const double northCodes = Int32At(packet, 104) - 1254486825.0;
    EXPECT_NEAR(FloatAt(packet, 116), northCodes / 0.112, 0.5);
  }
  // The leader flew 45 + 11 feet north in the two steps.
  EXPECT_EQ(Int32At(sentAfterPass[2][0], 104) - 1254486825, 1507);
  EXPECT_EQ(leaderInterval[2], 0.0f);
  EXPECT_EQ(flag[2], 0);

  // One status line per 1000 ms counted beyond the last one, none past 100 s, then the total.
  ASSERT_EQ(lines.size(), 100u);
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    // "%f ": six decimals, then the blank before the line break.
    const std::size_t point = lines[i].find('.');
    ASSERT_NE(point, std::string::npos);
    EXPECT_EQ(lines[i].size(), point + 8);
    EXPECT_EQ(lines[i].back(), ' ');
    // The single-precision total loses a little of every millisecond it adds.
    EXPECT_NEAR(ValueAfter(lines[i], "Total Time = "), 1.001 * (i + 1), 0.05);
  }
  const double final = ValueAfter(lines.back(), "Finished:Total Time = ");
  EXPECT_GT(final, 100.0);
  EXPECT_LT(final, 100.002);
}

// Every counter acts once it exceeds its limit, not when it reaches it. At 20 ms a pass the first
// motion step comes with the second pass, the first request with the fifth (80 ms) or the sixth
// (100 ms), and the first status line with the 51st.
TEST(Loop, CountersActOnlyPastTheirLimits) {
  struct Case {
    const char* what;
    const drones::Program& program;
    const VehicleRecordD& drone;
    std::size_t requestPass;
  };
  const Case cases[] = {{"dronefleet", dronefleet::program, dronefleet::drones[0], 5},
                        {"dronesolo", dronesolo::program, dronesolo::drone, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dronefleet::drones = {};
    dronesolo::drone = {};
    drones::sendFlag = 0;
    Ticks ticks;
    ticks.step = 20;
    std::vector<float> interval;  // after passes 1, 2, ...
    std::vector<int> flag;
    ticks.onReading = [&](std::size_t reading) {
      if (reading < 2 || reading > 7) return;
      interval.push_back(c.drone.fSendInterval);
      flag.push_back(drones::sendFlag);
    };
    const std::vector<std::string> lines = FlyOverTicks(c.program, ticks);
    ASSERT_EQ(interval.size(), 6u);
    EXPECT_EQ(interval[0], 0.0f);
    EXPECT_FLOAT_EQ(interval[1], 0.04f);
    EXPECT_EQ(flag[c.requestPass - 2], 0);
    EXPECT_EQ(flag[c.requestPass - 1], 1);
    ASSERT_FALSE(lines.empty());
    EXPECT_NEAR(ValueAfter(lines.front(), "Total Time = "), 1.02, 1e-4);
  }
}

// A group that cannot be joined changes nothing in the run: the drones fly their 100 seconds
// and their sends go nowhere.
TEST(FleetRun, FliesItsHundredSecondsWhenTheGroupCannotBeJoined) {
  dronefleet::drones = {};
  drones::sendFlag = 0;
  GroupPeer group;
  sockets_test::ScopedFaults faults;
  faults.Fail(sockets_test::Call::kWSAJoinLeaf);
  Ticks ticks;
  ticks.step = 16;
  const std::vector<std::string> lines = FlyOverTicks(dronefleet::program, ticks);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Finished:Total Time = 100.011673 ");
  EXPECT_FALSE(group.Receive(20));
  EXPECT_EQ(sockets_test::OpenSockets(), 0);
}

TEST(SoloRun, SendsItsDroneAtTheStepAfterEachRequest) {
  dronesolo::drone = {};
  drones::sendFlag = 0;
  GroupPeer group;
  Ticks ticks;
  ticks.step = 16;
  std::size_t sends = 0;
  auto count = [&](int lingerMs) {
    for (const Packet& packet : Drain(group, 0, lingerMs)) {
      ++sends;
      EXPECT_EQ(TextAt(packet, 4, 32), "707_Drone");
      EXPECT_EQ(Int32At(packet, 52), 1234);
      EXPECT_EQ(Int32At(packet, 48), dronesolo::drone.iRandomId);
      EXPECT_EQ(packet[80], 100);
    }
  };
  ticks.onReading = [&](std::size_t) { count(0); };
  const std::vector<std::string> lines = FlyOverTicks(dronesolo::program, ticks);
  count(20);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "Total Time =  1.01 ");
  EXPECT_EQ(lines.back(), "Finished:Total Time = 100.011673 ");
  // 6251 passes of 16 ms: a step every second pass, a request every seventh, each sent by the
  // step after it; the request of the last pass is left unsent.
  EXPECT_EQ(sends, 6251u / 7 - 1);
}

// A status line that cannot be written ends the run at once, the group closed, with a failure
// status: the first comes after a second counted, of the hundred.
TEST(SoloRun, AStatusLineThatCannotBeWrittenEndsTheRunAtOnce) {
  dronesolo::drone = {};
  drones::sendFlag = 0;
  Ticks ticks;
  ticks.step = 16;
  clocks_test::ClockHooks hooks;
  hooks.tickCount = std::ref(ticks);
  int status = 0;
  {
    const RedirectedOutput full(STDERR_FILENO, "/dev/full");
    clocks_test::ScopedClocks scope(hooks);
    status = drones::Fly(dronesolo::program);
  }
  EXPECT_EQ(status, nettools::kOutputFailed);
  EXPECT_EQ(ticks.readings, 1001u / 16 + 2);  // the start, and the passes to 1008 ms
  EXPECT_EQ(sockets_test::OpenSockets(), 0);
}

}  // namespace
