// netwatch and dronefleet stopped by a signal a few seconds into their run, their output going to
// a file or a pipe as a user redirects it: every line printed before the stop is there, whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ProgramRun.h"
#include "testsupport/Files.h"
#include "testsupport/GroupPeer.h"
#include "testsupport/Subprocess.h"
#include "testsupport/TempDir.h"

namespace {

using namespace kyte::testsupport;
using programrun::Lines;
using programrun::Program;
using programrun::Start;

using Clock = std::chrono::steady_clock;

const std::set<std::string> kFleet = {"707_Drone", "F18_Drone", "F16_Drone", "F15_Drone",
                                      "F22_Drone", "F23_Drone", "F117_Drone"};

// A packet of the test's own, so that netwatch has something to print before the drones fly.
Packet Probe() {
  Packet packet(kWirePacketSize, 0);
  std::memcpy(packet.data() + 4, "probe", 5);  // the name field
  return packet;
}

// Sends a probe every 50 ms until `printed` holds, for at most five seconds; whether it held.
bool ProbeUntil(GroupPeer& peer, const std::function<bool()>& printed) {
  const auto until = Clock::now() + std::chrono::seconds(5);
  while (Clock::now() < until) {
    peer.Send(Probe());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (printed()) return true;
  }
  return false;
}

// Stops the program with `signal` and checks that the signal ended it.
void StopAndExpectEnd(Program& program, int signal) {
  ASSERT_EQ(::kill(program.pid, signal), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(program.pid, &status, 0), program.pid);
  program.pid = -1;
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
}

// Ends a program that a failed check left running, so that it does not fly on for 100 seconds.
struct EndedAtExit {
  Program& program;
  ~EndedAtExit() {
    if (program.pid <= 0) return;
    ::kill(program.pid, SIGKILL);
    ::waitpid(program.pid, nullptr, 0);
  }
};

// Splits one of netwatch's lines into its words.
std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The fleet's lines in netwatch's output by vehicle name; read while netwatch still prints.
std::map<std::string, int> FleetLines(const std::filesystem::path& out) {
  std::map<std::string, int> names;
  for (const std::string& line : Lines(out)) {
    const std::vector<std::string> words = Words(line);
    if (words.size() == 9 && kFleet.count(words[8])) ++names[words[8]];
  }
  return names;
}

// Every line of the file is whole: nine words, the empty tag after the name, its line break.
void ExpectWholeLines(const std::filesystem::path& out) {
  const std::string text = ReadFile(out);
  EXPECT_TRUE(text.empty() || text.back() == '\n')
      << "a line was cut: " << text.substr(text.rfind('\n') + 1);
  for (const std::string& line : Lines(out)) {
    EXPECT_EQ(Words(line).size(), 9u) << line;
    EXPECT_EQ(line.back(), ' ') << line;
  }
}

class Stopped : public testing::TestWithParam<int> {};

TEST_P(Stopped, EveryLinePrintedBeforeTheStopIsInTheFile) {
  const int signal = GetParam();
  const TempDir temp("nettools-stopped");
  GroupPeer peer;  // joined before the drones start: sees every packet they send

  Program netwatch = Start(NETWATCH_PATH, temp.path(), "netwatch");
  const EndedAtExit netwatchEnds{netwatch};
  // netwatch has joined once a probe's line is in its file; from then on it sees every packet.
  ASSERT_TRUE(ProbeUntil(peer, [&] { return !Lines(netwatch.out).empty(); }))
      << "netwatch printed no line into its file within five seconds";

  Program fleet = Start(DRONEFLEET_PATH, temp.path(), "dronefleet");
  const EndedAtExit fleetEnds{fleet};
  std::map<std::string, int> sent;
  const auto flying = Clock::now() + std::chrono::milliseconds(2500);
  auto count = [&](int timeoutMs) {
    const auto packet = peer.ReceivePacket(timeoutMs);
    if (!packet) return false;
    const std::string name = TextAt(*packet, 4, 32);
    if (kFleet.count(name)) ++sent[name];
    return true;
  };
  while (Clock::now() < flying) count(100);
  StopAndExpectEnd(fleet, signal);
  while (count(300)) {
  }

  // Every packet the fleet sent gets its line; wait for netwatch to poll the last of them.
  const auto until = Clock::now() + std::chrono::seconds(2);
  while (FleetLines(netwatch.out) != sent && Clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  StopAndExpectEnd(netwatch, signal);

  ASSERT_EQ(sent.size(), kFleet.size()) << "the fleet sent too little to compare";
  ExpectWholeLines(netwatch.out);
  EXPECT_EQ(FleetLines(netwatch.out), sent);
  EXPECT_TRUE(ReadFile(netwatch.err).empty()) << ReadFile(netwatch.err);

  // The fleet's status lines, one for each second counted, each one whole.
  const std::string status = ReadFile(fleet.err);
  EXPECT_TRUE(status.empty() || status.back() == '\n') << status;
  const std::vector<std::string> lines = Lines(fleet.err);
  EXPECT_FALSE(lines.empty());
  for (const std::string& line : lines) EXPECT_EQ(line.rfind("Total Time = ", 0), 0u) << line;
  EXPECT_TRUE(ReadFile(fleet.out).empty());
}

INSTANTIATE_TEST_SUITE_P(BySignal, Stopped, testing::Values(SIGINT, SIGTERM),
                         [](const testing::TestParamInfo<int>& info) {
                           return info.param == SIGINT ? "Interrupt" : "Terminate";
                         });

// Down a pipe, as `netwatch | grep`: each line arrives as it is printed, not a block later.
TEST(Piped, EachLineReachesTheReaderAsItIsPrinted) {
  const TempDir temp("nettools-piped");
  GroupPeer peer;
  Subprocess netwatch({NETWATCH_PATH}, temp.path());
  std::string line;
  ASSERT_TRUE(ProbeUntil(peer, [&] {
    try {
      line = netwatch.ReadLine(10);
      return true;
    } catch (const std::runtime_error&) {
      return false;
    }
  })) << "no line came down the pipe within five seconds";
  EXPECT_NE(line.find(" probe "), std::string::npos) << line;
}

}  // namespace
