// dronefleet, dronesolo and netwatch together at real speed for their 100 seconds, inside the
// private network namespace, with an independent receiver on the group beside them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "support/CLibraryRandom.h"
#include "testsupport/GroupPeer.h"
#include "testsupport/TempDir.h"

namespace {

using namespace kyte::testsupport;

namespace fs = std::filesystem;

using programrun::Lines;
using programrun::Program;
using programrun::Start;

// Waits for every program in the order they end, so that each one's end time is its own.
void WaitAll(std::initializer_list<Program*> programs) {
  for (std::size_t left = programs.size(); left > 0;) {
    int status = 0;
    const pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0) return;
    for (Program* program : programs) {
      if (program->pid != pid) continue;
      program->status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      program->ended = std::chrono::steady_clock::now();
      --left;
    }
  }
}

void ExpectFinalLine(const fs::path& err) {
  const std::vector<std::string> lines = Lines(err);
  ASSERT_FALSE(lines.empty()) << err;
  const std::string prefix = "Finished:Total Time = ";
  ASSERT_EQ(lines.back().rfind(prefix, 0), 0u) << lines.back();
  const double total = std::stod(lines.back().substr(prefix.size()));
  EXPECT_GT(total, 100.0);
  EXPECT_LT(total, 105.0);  // the last tick step; long only on a heavily loaded machine
}

// The value InitRecord draws in a second whose calendar time is `seconds`.
std::int32_t RandomIdAt(std::time_t seconds) {
  return CLibraryRandom(static_cast<std::uint32_t>(seconds)).Next();
}

TEST(EndToEnd, NetwatchPrintsTheFleetAndTheSoloDrone) {
  const TempDir temp("nettools-e2e");
  const fs::path& dir = temp.path();

  Program netwatch = Start(NETWATCH_PATH, dir, "netwatch");
  const std::time_t before = std::time(nullptr);
  Program fleet = Start(DRONEFLEET_PATH, dir, "dronefleet");
  Program solo = Start(DRONESOLO_PATH, dir, "dronesolo");
  const std::time_t after = std::time(nullptr) + 5;  // room for a slow start

  std::set<std::int32_t> expectedIds;
  for (std::time_t t = before; t <= after; ++t) expectedIds.insert(RandomIdAt(t));
  // A solo drone that drew 1234 looks exactly like the fleet's leader, which flies its circle.
  const bool soloIsDistinct = !expectedIds.count(1234);

  // An independent receiver sees the solo drone: its random instance id, vehicle id 1234.
  {
    GroupPeer group;
    std::set<std::string> fleetNames;
    bool soloSeen = false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while ((!soloSeen || fleetNames.size() < 7) && std::chrono::steady_clock::now() < until) {
      const auto packet = group.Receive(100);
      if (!packet || packet->size() != 304) continue;
      const std::int32_t instance = Int32At(*packet, 48);
      const std::int32_t vehicle = Int32At(*packet, 52);
      const std::string name = TextAt(*packet, 4, 32);
      if (instance == vehicle) fleetNames.insert(name);
      if (instance == vehicle || !expectedIds.count(instance)) continue;
      soloSeen = true;
      EXPECT_EQ(vehicle, 1234);
      EXPECT_EQ(name, "707_Drone");
      EXPECT_EQ(Int32At(*packet, 76), 0);      // craft type
      EXPECT_EQ((*packet)[80], 100);           // state
      EXPECT_EQ(Int32At(*packet, 140), 1456);  // roll 8
      EXPECT_EQ(Int32At(*packet, 36), 0);      // no tag
      for (std::size_t i : {0, 1, 2, 3, 168, 169}) EXPECT_EQ((*packet)[i], 0) << i;
      for (std::size_t i = 176; i < 304; ++i) EXPECT_EQ((*packet)[i], 0) << i;
    }
    EXPECT_TRUE(soloSeen || !soloIsDistinct);
    EXPECT_EQ(fleetNames.size(), 7u);
  }

  WaitAll({&fleet, &solo, &netwatch});
  for (const Program* program : {&fleet, &solo, &netwatch}) {
    EXPECT_EQ(program->status, 0) << program->out;
    // The programs count their 100 seconds on the tick count; the steady clock confirms them.
    EXPECT_GE(program->ended - program->started, std::chrono::seconds(100)) << program->out;
  }

  // netwatch: lines for all seven drones with their identifiers, a roll of 8.0 and no tag; the
  // leader and the solo drone at 15000.0 feet, the wingmen tilted with the leader's bank.
  struct Drone {
    std::int32_t id;
    double altitude;
  };
  const std::map<std::string, Drone> fleetIds = {
      {"707_Drone", {1234, 15000.0}},  {"F18_Drone", {7125, 14986.08}},
      {"F16_Drone", {5423, 15013.92}}, {"F15_Drone", {9821, 15013.92}},
      {"F22_Drone", {6243, 14993.04}}, {"F23_Drone", {5678, 15006.96}},
      {"F117_Drone", {3498, 14986.08}}};
  std::map<std::string, int> seen;
  int soloLines = 0;
  for (const std::string& line : Lines(netwatch.out)) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    ASSERT_EQ(words.size(), 9u) << line;
    ASSERT_EQ(line.back(), ' ') << line;  // the empty tag after the name
    const std::string& name = words[8];
    const auto id = fleetIds.find(name);
    ASSERT_NE(id, fleetIds.end()) << line;
    if (words[0] != words[1]) {
      EXPECT_EQ(name, "707_Drone") << line;
      EXPECT_EQ(words[1], "1234") << line;
      ++soloLines;
    } else {
      EXPECT_EQ(words[0], std::to_string(id->second.id)) << line;
      ++seen[name];
    }
    if (name == "707_Drone") {
      EXPECT_EQ(words[4], "15000.0") << line;
    } else {
      EXPECT_NEAR(std::stod(words[4]), id->second.altitude, 0.1) << line;
    }
    EXPECT_EQ(words[5], "0.0") << line;
    EXPECT_EQ(words[6], "8.0") << line;
  }
  for (const auto& [name, drone] : fleetIds) EXPECT_GT(seen[name], 100) << name;
  if (soloIsDistinct) {
    EXPECT_GT(soloLines, 100);
  }

  ExpectFinalLine(netwatch.err);
  ExpectFinalLine(fleet.err);
  ExpectFinalLine(solo.err);
  // A status line for about every second counted (fewer when a loaded machine stretches steps).
  const std::vector<std::string> status = Lines(fleet.err);
  EXPECT_GE(status.size(), 50u);
  for (std::size_t i = 0; i + 1 < status.size(); ++i)
    EXPECT_EQ(status[i].rfind("Total Time = ", 0), 0u) << status[i];
}

}  // namespace
