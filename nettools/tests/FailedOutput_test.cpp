// netwatch and the drones with output that cannot be written: a full device, a full small disk,
// a pipe whose reader has gone. The first line that cannot be written ends the run within
// seconds, with one line naming the reason and a failure status, and a file keeps only whole
// lines; a default SIGPIPE still ends netwatch as the signal does.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport/GroupPeer.h"
#include "testsupport/SmallDisk.h"
#include "testsupport/Subprocess.h"
#include "testsupport/TempDirTest.h"
#include "testsupport/Text.h"

namespace {

using namespace kyte::testsupport;

// netwatch's line for the probe below, at the origin of the codes, far from the drones' start:
// 44 bytes, so that no number of them fills a disk of 8192 bytes exactly.
const std::string kProbeLine = "0 0   -0 -5e+07  0.0  0.0  0.0  0.0 probe \n";

Packet Probe() {
  Packet packet(kWirePacketSize, 0);
  std::memcpy(packet.data() + 4, "probe", 5);  // the name field
  return packet;
}

struct Ended {
  int status;
  std::string out, err;
};

// Runs `script` with bash in the current directory until it ends, at most 30 seconds (a run
// that went on would take 100), sending probes to the group meanwhile when `probe` is set.
Ended RunToItsEnd(const std::string& script, bool probe) {
  GroupPeer peer;
  Subprocess run({"/bin/bash", "-c", script}, std::filesystem::current_path());
  run.CloseInput();
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (run.Drain(20)) {
    if (std::chrono::steady_clock::now() > until) {
      ADD_FAILURE() << "still running after 30 seconds: " << script;
      run.Kill(SIGKILL);
      break;
    }
    for (int i = 0; probe && i < 20; ++i) peer.Send(Probe());
  }
  const int status = run.Wait();
  return {status, run.Stdout(), run.Stderr()};
}

// Whether the run's OnSmallDisk could not mount its disk.
bool NoSmallDisk(const Ended& run) {
  return Contains(run.err, "mount:") || Contains(run.err, "unshare:");
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
  return lines;
}

using FailedOutput = TempDirTest;

TEST_F(FailedOutput, NetwatchEndsAtTheFirstLineThatCannotBeWritten) {
  const std::string netwatch = NETWATCH_PATH;
  const struct {
    const char* what;
    std::string script;
    int status;
    const char* err;
  } cases[] = {
      {"a full device", netwatch + " >/dev/full", 1,
       "netwatch: cannot write standard output: No space left on device\n"},
      {"a pipe whose reader has gone, SIGPIPE ignored",
       "trap '' PIPE; " + netwatch + " | head -n 1 >/dev/null; exit ${PIPESTATUS[0]}", 1,
       "netwatch: cannot write standard output: Broken pipe\n"},
      {"a pipe whose reader has gone", netwatch + " | head -n 1 >/dev/null; exit ${PIPESTATUS[0]}",
       128 + SIGPIPE, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Ended run = RunToItsEnd(c.script, true);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
  }
}

// On a disk of 8192 bytes the file keeps every line that fitted whole, and not the part of the
// one that filled the disk.
TEST_F(FailedOutput, NetwatchOnAFullDiskLeavesOnlyWholeLines) {
  const Ended run = RunToItsEnd(
      OnSmallDisk(8192) + "bash -c '" NETWATCH_PATH " >watch.out; s=$?; cat watch.out; exit $s'",
      true);
  if (NoSmallDisk(run)) GTEST_SKIP() << "a small disk cannot be mounted here: " << run.err;
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "netwatch: cannot write standard output: No space left on device\n");
  ASSERT_NE(8192 % kProbeLine.size(), 0u);
  EXPECT_EQ(run.out.size() % kProbeLine.size(), 0u);
  EXPECT_GT(run.out.size(), 8192 - kProbeLine.size());
  for (const std::string& line : Lines(run.out)) ASSERT_EQ(line, kProbeLine);
}

// The drones' status lines go to standard error: the first that cannot be written ends the
// run, a second into it. Where standard error fails no message can follow.
TEST_F(FailedOutput, DronesEndAtTheFirstStatusLineThatCannotBeWritten) {
  const std::string fleet = DRONEFLEET_PATH;
  const std::string solo = DRONESOLO_PATH;
  const struct {
    const char* what;
    std::string script;
    const char* out;  // the lines before the status, which comes last
  } cases[] = {
      {"dronefleet, a full device", fleet + " 2>/dev/full; echo $?", ""},
      {"dronesolo, a full device", solo + " 2>/dev/full; echo $?", ""},
      {"dronesolo, a pipe whose reader has gone, SIGPIPE ignored",
       "trap '' PIPE; " + solo + " 2>&1 >/dev/null | head -n 1; echo ${PIPESTATUS[0]}",
       "Total Time =  1.0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Ended run = RunToItsEnd(c.script, false);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.starts_with(c.out)) << run.out;
    EXPECT_TRUE(run.out.ends_with("\n1\n") || run.out == "1\n") << run.out;
  }
}

// Appended to a file that leaves room for part of a status line: the part is taken back.
TEST_F(FailedOutput, DronesOnAFullDiskLeaveOnlyWholeLines) {
  const Ended run = RunToItsEnd(OnSmallDisk(4096) +
                                    "bash -c 'printf \"%4089s\\n\" \"\" >solo.err; " DRONESOLO_PATH
                                    " 2>>solo.err; s=$?; wc -c <solo.err; exit $s'",
                                false);
  if (NoSmallDisk(run)) GTEST_SKIP() << "a small disk cannot be mounted here: " << run.err;
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "4090\n");
}

}  // namespace
