// The simulator's stand-in from the command line, on a plug-in of three inputs that hands them
// back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "testsupport/CapturedOutput.h"
#include "testsupport/TempDirTest.h"
#include "testsupport/Text.h"

namespace {

using namespace kyte::testsupport;

class SimhostTest : public TempDirTest {
 protected:
  CommandRun Run(const std::string& args) {
    return RunCommand(std::string(SIMHOST_PATH) + " " PROBE_PLUGIN_PATH " -r 0 " + args);
  }
  bool InitCalled() const { return std::filesystem::exists(dir_ / "probe_plugin.init"); }
};

// -u and the lines of -f take a list with commas or blanks, in brackets or without.
TEST_F(SimhostTest, TakesInputListsInEitherForm) {
  const std::string expected =
      "block probe type 7 inputs 3 outputs 4 aux \"aux\" 3\n"
      "init 0: 4 -6 0.5 1\n"
      "frame 1: 4 -6 0.5 2\n"
      "exit\n";
  for (const char* list :
       {"4,-6,0.5", "'[4 -6 0.5]'", "'4 -6 0.5'", "'[4, -6, 0.5]'", "' 4 ,-6, 0.5 '"}) {
    const CommandRun run = Run(std::string("-u ") + list);
    EXPECT_EQ(run.status, 0) << list << ": " << run.err;
    EXPECT_EQ(run.out, expected) << list;
  }
  EXPECT_EQ(Run("-u 2 -n 0").out,
            "block probe type 7 inputs 3 outputs 4 aux \"aux\" 3\ninit 0: 2 2 2 1\nexit\n");

  std::ofstream("rows.txt") << "[1 2 3]\r\n\r\n4,5,6\r\n9\n";
  const CommandRun file = Run("-f rows.txt -n 3");
  EXPECT_EQ(file.status, 0) << file.err;
  EXPECT_EQ(file.out,
            "block probe type 7 inputs 3 outputs 4 aux \"aux\" 3\n"
            "init 0: 1 2 3 1\n"
            "frame 1: 4 5 6 2\n"
            "frame 2: 9 9 9 3\n"
            "frame 3: 9 9 9 4\n"
            "exit\n");
  for (const char* bad : {"'[4 -6'", "'4 -6]'", "'[4] [6]'", "4,x,6"}) {
    const CommandRun run = Run(std::string("-u ") + bad);
    EXPECT_EQ(run.status, 2) << bad;
    EXPECT_TRUE(run.err.starts_with("simhost: bad inputs\nusage: simhost")) << bad;
  }
}

// A list of another count than the plug-in's inputs (but one) is refused with the count it
// needs, before the plug-in is called.
TEST_F(SimhostTest, RefusesInputsOfAnotherCountBeforeTheInitCall) {
  std::ofstream("rows.txt") << "1 2 3\n\n4 5\n6\n";
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"-u 1,2", "simhost: 2 input values for 3 inputs\n"},
      {"-u '[1 2 3 4]'", "simhost: 4 input values for 3 inputs\n"},
      {"-u '[]'", "simhost: 0 input values for 3 inputs\n"},
      {"-f rows.txt -n 1", "simhost: 2 input values for 3 inputs in line 3 of rows.txt\n"},
      {"-f rows.txt -n 5", "simhost: 2 input values for 3 inputs in line 3 of rows.txt\n"},
  };
  for (const auto& c : cases) {
    const CommandRun run = Run(c.args);
    EXPECT_EQ(run.status, 2) << c.args;
    EXPECT_EQ(run.err, c.message) << c.args;
    EXPECT_EQ(run.out, "") << c.args;
    EXPECT_FALSE(InitCalled()) << c.args;
  }
  // A row past the last call is never used.
  const CommandRun used = Run("-f rows.txt -n 0");
  EXPECT_EQ(used.status, 0) << used.err;
  EXPECT_TRUE(Contains(used.out, "init 0: 1 2 3 1\n"));
  EXPECT_TRUE(InitCalled());
}

TEST_F(SimhostTest, PrintsItsUsageOnRequest) {
  const CommandRun help = RunCommand(std::string(SIMHOST_PATH) + " --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.starts_with("usage: simhost LIBRARY [options]\n"));
  EXPECT_TRUE(Contains(help.out, "1,2,3 or [1 2 3]")) << help.out;
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(RunCommand(std::string(SIMHOST_PATH) + " --frobnicate").status, 2);
}

}  // namespace
