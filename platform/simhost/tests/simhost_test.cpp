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

constexpr std::size_t kMaxLine = 65536;

// An endless input that were read whole would meet this limit on memory (an address-sanitized
// host needs its address space free and goes without).
#if defined(__SANITIZE_ADDRESS__)
constexpr const char kMemoryLimit[] = "";
#else
constexpr const char kMemoryLimit[] = "ulimit -v 1000000; ";
#endif

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
  for (const char* bad : {"[4 -6", "4 -6]", "[4] [6]", "4,x,6"}) {
    const CommandRun run = Run(std::string("-u '") + bad + "'");
    EXPECT_EQ(run.status, 2) << bad;
    EXPECT_TRUE(
        run.err.starts_with(std::string("simhost: bad inputs: '") + bad + "'\nusage: simhost"))
        << run.err;
  }
}

// Each refusal of an option names the value it was given, quoted, its control bytes as \xNN.
TEST_F(SimhostTest, RefusesABadOptionNamingItsValue) {
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"-r x", "bad rate: 'x'"},
      {"-r -1", "bad rate: '-1'"},
      {"-r ''", "bad rate: ''"},
      {"-r inf", "bad rate: 'inf'"},
      {"-r 1e-300", "bad rate: '1e-300'"},  // a frame longer than the clock can count
      {"-n 1.5", "bad number of frames: '1.5'"},
      {"-n ''", "bad number of frames: ''"},
      {"-n 99999999999999999999", "bad number of frames: '99999999999999999999'"},
      {"-n", "-n needs a value"},
      {"-u \"$(printf '1 \\033[2J')\"", "bad inputs: '1 \\x1B[2J'"},
      {"--frob", "unknown argument: '--frob'"},
      {"\"$(printf 'two\\a.so')\"", "more than one library: 'two\\x07.so'"},
  };
  for (const auto& c : cases) {
    const CommandRun run = Run(c.args);
    EXPECT_EQ(run.status, 2) << c.args;
    EXPECT_TRUE(run.err.starts_with(std::string("simhost: ") + c.message + "\nusage: simhost"))
        << c.args << ": " << run.err;
    EXPECT_FALSE(InitCalled()) << c.args;
  }
}

// An input file must give the init call its row: a file without one, a line that is no row or
// longer than any row needs is refused with status 2, before the plug-in is loaded.
TEST_F(SimhostTest, RefusesAnInputFileThatGivesNoRows) {
  std::ofstream("empty.txt");
  std::ofstream("blank.txt") << "\n \t\r\n\n";
  std::ofstream("esc.txt") << "1 2 3\n\033]0;TITLE\a\033[2J\n";
  std::ofstream("long.txt") << "1 2 3\n" << std::string(kMaxLine, ' ') << "4\n";
  std::ofstream("longest.txt") << "1" << std::string(kMaxLine - 1, ' ') << "\n";
  std::filesystem::create_directory("dir");
  const struct {
    const char* file;
    const char* message;
  } cases[] = {
      {"empty.txt", "empty.txt holds no row of inputs"},
      {"blank.txt", "blank.txt holds no row of inputs"},
      {"/dev/null", "/dev/null holds no row of inputs"},
      {"dir", "cannot read 'dir': Is a directory"},
      {"missing.txt", "cannot read 'missing.txt': No such file or directory"},
      {"esc.txt", "not a row of numbers in line 2 of esc.txt: '\\x1B]0;TITLE\\x07\\x1B[2J'"},
      {"long.txt", "line 2 of long.txt is longer than 65536 bytes"},
      {"/dev/zero", "line 1 of /dev/zero is longer than 65536 bytes"},
  };
  for (const auto& c : cases) {
    const CommandRun run = RunCommand(std::string(kMemoryLimit) +
                                      SIMHOST_PATH " " PROBE_PLUGIN_PATH " -n 1 -f " + c.file);
    EXPECT_EQ(run.status, 2) << c.file;
    EXPECT_TRUE(run.err.starts_with(std::string("simhost: ") + c.message + "\nusage: simhost"))
        << c.file << ": " << run.err;
    EXPECT_EQ(run.out, "") << c.file;
    EXPECT_FALSE(InitCalled()) << c.file;
  }
  const CommandRun longest = Run("-u 7 -f longest.txt -n 0");
  EXPECT_EQ(longest.status, 0) << longest.err;
  EXPECT_TRUE(Contains(longest.out, "init 0: 1 1 1 1\n")) << longest.out;
}

// The plug-in returns no status: a message box that it shows, as a channel that fails to open
// shows one, fails the run, which still makes every call. What it only writes to standard error
// passes through and fails nothing.
TEST_F(SimhostTest, EndsWithAFailureStatusOnceThePluginShowedAMessageBox) {
  const std::string reported = "simhost: '" PROBE_PLUGIN_PATH "' reported an error\n";
  const struct {
    const char* rows;
    const char* frames;
    int status;
    const char* calls;  // the lines after the block's
    std::string err;
  } cases[] = {
      {"13 2 3\n1 2 3\n", "1", 1, "init 0: 13 2 3 1\nframe 1: 1 2 3 2\nexit\n", reported},
      {"1 2 3\n13 2 3\n1 2 3\n", "2", 1,
       "init 0: 1 2 3 1\nframe 1: 13 2 3 2\nframe 2: 1 2 3 3\nexit\n", reported},
      {"1 2 3\n14 2 3\n", "1", 0, "init 0: 1 2 3 1\nframe 1: 14 2 3 2\nexit\n",
       "probe: call 2 writes\n"},
      {"1 2 3\n", "1", 0, "init 0: 1 2 3 1\nframe 1: 1 2 3 2\nexit\n", ""},
  };
  for (const auto& c : cases) {
    std::filesystem::remove("probe_plugin.exit");
    std::ofstream("rows.txt") << c.rows;
    const CommandRun run = Run(std::string("-f rows.txt -n ") + c.frames);
    EXPECT_EQ(run.status, c.status) << c.rows;
    EXPECT_EQ(run.out,
              std::string("block probe type 7 inputs 3 outputs 4 aux \"aux\" 3\n") + c.calls);
    EXPECT_EQ(run.err, c.err) << c.rows;
    EXPECT_TRUE(std::filesystem::exists("probe_plugin.exit")) << c.rows;
  }

  // lawhost, whose channels cannot open where the object namespace is not a directory.
  std::ofstream("not-a-directory");
  const std::string lawhost = std::string(SIMHOST_PATH) + " " LAWHOST_PATH " -r 0 -n 2 -u 0";
  const CommandRun failed = RunCommand("KYTE_OBJECT_NAMESPACE=$PWD/not-a-directory " + lawhost);
  EXPECT_EQ(failed.status, 1);
  EXPECT_TRUE(failed.out.starts_with("block lawhost type 0 inputs 18 outputs 14")) << failed.out;
  EXPECT_TRUE(failed.out.ends_with("\nframe 2: 0 0 0 0 0 0 0 0 0 0 0 0 0 0\nexit\n")) << failed.out;
  EXPECT_TRUE(Contains(failed.err, "CreateFileMapping - Not a directory\n")) << failed.err;
  EXPECT_TRUE(failed.err.ends_with("simhost: '" LAWHOST_PATH "' reported an error\n"))
      << failed.err;
  const CommandRun opened = RunCommand("KYTE_OBJECT_NAMESPACE=$PWD/objects " + lawhost);
  EXPECT_EQ(opened.status, 0) << opened.err;
  EXPECT_EQ(opened.err, "");
}

// A line that cannot be written ends the run at once, with the exit call once the plug-in was
// called, and a failure status.
TEST_F(SimhostTest, EndsWithAFailureStatusWhenItsOutputFails) {
  const CommandRun full = Run("-u 1 -n 5 >/dev/full");
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "simhost: cannot write standard output: No space left on device\n");
  EXPECT_FALSE(InitCalled());

  // A reader that goes after two lines; 100 frames at 20 a second would take five seconds.
  const CommandRun piped = RunCommand("trap '' PIPE; { " SIMHOST_PATH " " PROBE_PLUGIN_PATH
                                      " -u 1 -r 20 -n 100 2>err; echo $? >status; } | head -n 2");
  EXPECT_EQ(piped.out, "block probe type 7 inputs 3 outputs 4 aux \"aux\" 3\ninit 0: 1 1 1 1\n");
  EXPECT_EQ(Read("status"), "1\n");
  EXPECT_EQ(Read("err"), "simhost: cannot write standard output: Broken pipe\n");
  EXPECT_TRUE(std::filesystem::exists("probe_plugin.exit"));
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
