#include "sfunhost.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testsupport/CapturedOutput.h"
#include "testsupport/TempDir.h"
#include "testsupport/Text.h"

namespace {

using namespace kyte::sfunhost;
using kyte::mexhost::Char;
using kyte::mexhost::Scalar;
using namespace kyte::testsupport;
using V = std::vector<double>;

std::vector<ArrayPtr> Params(const char* mode, double width = 2, double gain = 3) {
  std::vector<ArrayPtr> p;
  p.push_back(Char(mode));
  p.push_back(Scalar(width));
  p.push_back(Scalar(gain));
  return p;
}

int Live() {
  // The test's own handle on the library is the block's: dlopen shares it.
  void* h = dlopen(PROBE_BLOCK_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (h == nullptr) return -1;
  auto live = reinterpret_cast<int (*)()>(dlsym(h, "probe_block_live"));
  const int n = live();
  dlclose(h);
  return n;
}

TEST(SfunHost, DrivesTheCallbacksInOrder) {
  Block b(PROBE_BLOCK_PATH, Params("ok", 3, 2));
  ASSERT_TRUE(b.Initialize()) << b.error();
  EXPECT_EQ(ssGetNumInputPorts(b.simstruct()), 1);
  EXPECT_EQ(ssGetInputPortWidth(b.simstruct(), 0), 3);
  EXPECT_EQ(ssGetOutputPortWidth(b.simstruct(), 1), 4);
  EXPECT_EQ(ssGetNumSampleTimes(b.simstruct()), 1);
  EXPECT_EQ(ssGetOptions(b.simstruct()), 2u);
  EXPECT_FALSE(b.Outputs(0.0)) << "no outputs before mdlStart";
  ASSERT_TRUE(b.Start()) << b.error();
  EXPECT_EQ(Live(), 1);
  b.SetInput(0, V{1, -2, 0.5});
  ASSERT_TRUE(b.Outputs(0.25, false));
  // Elements reached through their own pointers: each gets its own value.
  EXPECT_EQ(V(b.Output(0).begin(), b.Output(0).end()), (V{2, -4, 1}));
  EXPECT_EQ(V(b.Output(1).begin(), b.Output(1).end()), (V{0.25, 0, 1, 1}));
  EXPECT_TRUE(b.Update());
  EXPECT_THROW(b.SetInput(0, V{1}), std::out_of_range);
  b.Terminate();
  EXPECT_EQ(Live(), 0);
  EXPECT_FALSE(b.failed());
}

TEST(SfunHost, RefusesToRunUnderAnotherName) {
  Block b(PROBE_BLOCK_PATH, Params("ok"), "skypush");
  EXPECT_FALSE(b.Initialize());
  EXPECT_EQ(b.error(),
            "S-function name mismatch: this library is the S-function 'probe_block', not "
            "'skypush'");
  EXPECT_FALSE(b.Start());
  EXPECT_EQ(ssGetNumInputPorts(b.simstruct()), 0) << "mdlInitializeSizes must not have run";

  // Called as a plain MEX function, outside a model.
  kyte::mexhost::MexLibrary lib(PROBE_BLOCK_PATH);
  ArrayPtr x = Scalar(1);
  kyte::mexhost::CallResult r = lib.Call(0, {x.get()});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "probe_block is a level-2 S-function: it runs only as a block of a model.\n");
}

TEST(SfunHost, ReportsTheFirstErrorStatusAndStops) {
  struct Case {
    const char* what;
    std::vector<ArrayPtr> params;
    std::string error;
  };
  std::vector<Case> cases;
  cases.push_back({"text width", {}, "2nd parameter to the probe_block must be the width"});
  cases.back().params = Params("ok");
  cases.back().params[1] = Char("3");
  cases.push_back(
      {"number mode", Params("ok"), "1st parameter to the probe_block must be the mode"});
  cases.back().params[0] = Scalar(1);
  cases.push_back({"row gain", Params("ok"), "3rd parameter to the probe_block must be the gain"});
  cases.back().params[2] = kyte::mexhost::Row({1, 2});
  cases.push_back({"missing parameter", Params("ok"),
                   "sfunhost: probe_block expects 3 parameters, the block gives 2"});
  cases.back().params.pop_back();
  cases.push_back({"bad port", Params("bad-port"), "ssSetOutputPortWidth: no such output port"});
  cases.push_back({"negative width", Params("wide"),
                   "sfunhost: input port 1 of probe_block has width -3; widths from 0 to "
                   "1048576 are supported"});
  for (Case& c : cases) {
    Block b(PROBE_BLOCK_PATH, std::move(c.params));
    EXPECT_FALSE(b.Initialize()) << c.what;
    EXPECT_EQ(b.error(), c.error) << c.what;
    EXPECT_FALSE(b.Start()) << c.what;
  }
  Block missing("/nonexistent/probe_block.so", Params("ok"));
  EXPECT_FALSE(missing.Initialize());
  EXPECT_NE(missing.error().find("cannot load /nonexistent/probe_block.so"), std::string::npos);
}

TEST(SfunHost, TerminateRunsAfterAFailedStartOrStep) {
  {
    Block b(PROBE_BLOCK_PATH, Params("fail-start"));
    ASSERT_TRUE(b.Initialize());
    EXPECT_FALSE(b.Start());
    EXPECT_EQ(b.error(), "probe_block:: start failed.\n");
    EXPECT_EQ(Live(), 1);
    b.Terminate();
    EXPECT_EQ(Live(), 0) << "mdlTerminate deletes what the failed mdlStart left";
  }
  Model m;
  m.Add(PROBE_BLOCK_PATH, Params("fail-outputs"));
  int observed = 0;
  EXPECT_FALSE(
      m.Run(RunOptions{10, 0.1, 0, 0.0}, {}, [&](const StepInfo&, Block&) { ++observed; }));
  EXPECT_EQ(observed, 2);
  EXPECT_EQ(m.block(0).error(), "probe_block:: outputs failed.");
  EXPECT_TRUE(m.block(0).terminated());
  EXPECT_EQ(Live(), 0);

  Block raised(PROBE_BLOCK_PATH, Params("throw"));
  ASSERT_TRUE(raised.Initialize() && raised.Start());
  EXPECT_FALSE(raised.Outputs(0.0));
  EXPECT_EQ(raised.error(), "probe_block:: raised.\n");
}

TEST(SfunHost, ModelRunsMajorAndMinorStepsOfSeveralBlocks) {
  Model m;
  m.Add(PROBE_BLOCK_PATH, Params("ok", 1, 2));
  m.Add(PROBE_BLOCK_PATH, Params("ok", 1, -1));
  struct Seen {
    int step;
    std::size_t block;
    V info;
    double y;
  };
  std::vector<Seen> seen;
  auto feed = [](const StepInfo& s, Block& b) { b.SetInput(0, V{s.t * 100}); };
  auto observe = [&](const StepInfo& s, Block& b) {
    seen.push_back({s.step, s.block, V(b.Output(1).begin(), b.Output(1).end()), b.Output(0)[0]});
  };
  ASSERT_TRUE(m.Run(RunOptions{2, 0.5, 1, 0.0}, feed, observe));
  ASSERT_EQ(seen.size(), 8u);
  // Per step: block 0 then block 1; the minor step halfway to the next major one. Both blocks
  // live in one loaded library: each sees two live states.
  const double times[] = {0, 0.25, 0.5, 0.75};
  for (std::size_t i = 0; i < seen.size(); ++i) {
    const double t = times[i / 2];
    EXPECT_EQ(seen[i].block, i % 2);
    EXPECT_EQ(seen[i].info,
              (V{t, (i / 2) % 2 == 0 ? 1.0 : 0.0, double(i / 4 * 2 + (i / 2) % 2 + 1), 2}));
    EXPECT_EQ(seen[i].y, (i % 2 == 0 ? 2 : -1) * t * 100);
  }
  EXPECT_EQ(Live(), 0);
}

// ---- The runner ----

struct RunResult {
  int status;
  std::string out;
};

// Its status and standard output.
RunResult RunHost(const std::string& args) {
  const CommandRun run = RunCommand(std::string(SFUNHOST_PATH) + " " + args);
  return {run.status, run.out};
}

TEST(SfunHostRunner, PrintsEveryStepAndTheStatus) {
  const std::string lib = PROBE_BLOCK_PATH;
  RunResult ok = RunHost(lib + " -p \"'ok'\" -p 2 -p 0.5 -u '[4 -6]' -s 2 -d 0.5 -m 1");
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.out,
            "0 major t=0: 2 -3 | 0 1 1 1\n"
            "0 minor t=0.25: 2 -3 | 0.25 0 2 1\n"
            "1 major t=0.5: 2 -3 | 0.5 1 3 1\n"
            "1 minor t=0.75: 2 -3 | 0.75 0 4 1\n"
            "status: ok\n");

  const TempDir dir("sfunhost_test");
  const std::string rows = (dir / "rows.txt").string();
  std::ofstream(rows) << "1 2\n3,4\n\n5\t6\n";
  RunResult file = RunHost(lib + " -p \"'ok'\" -p 2 -p 1 -f " + rows + " -s 3");
  EXPECT_EQ(file.status, 0);
  EXPECT_EQ(file.out,
            "0 major t=0: 1 2 | 0 1 1 1\n"
            "1 major t=0.01: 3 4 | 0.01 1 2 1\n"
            "2 major t=0.02: 5 6 | 0.02 1 3 1\n"
            "status: ok\n");
  EXPECT_EQ(RunHost(lib + " -p \"'ok'\" -p 2 -p 1 -f " + rows + " -s 4").status, 2);
  EXPECT_EQ(RunHost(lib + " -p \"'ok'\" -p 2 -p 1 -u '[1 2 3]'").status, 2);

  RunResult failed = RunHost(lib + " -p \"'fail-outputs'\" -p 1 -p 1 -s 5");
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out,
            "0 major t=0: 0 | 0 1 1 1\n"
            "1 major t=0.01: 0 | 0.01 1 2 1\n"
            "status: error: probe_block:: outputs failed.\n");

  RunResult renamed = RunHost(lib + " -n cobridge -p \"'ok'\" -p 1 -p 1");
  EXPECT_EQ(renamed.status, 1);
  EXPECT_EQ(renamed.out,
            "status: error: S-function name mismatch: this library is the S-function "
            "'probe_block', not 'cobridge'\n");

  EXPECT_EQ(RunHost(lib + " -p '[1 2'").status, 2);
  EXPECT_EQ(RunHost("").status, 2);
}

// -u and the lines of -f take a list with commas or blanks, in brackets or without; -u also
// takes any MATLAB literal.
TEST(SfunHostRunner, TakesInputListsInEitherForm) {
  const std::string block = std::string(PROBE_BLOCK_PATH) + " -p \"'ok'\" -p 3 -p 1 ";
  const std::string expected = "0 major t=0: 4 -6 0.5 | 0 1 1 1\nstatus: ok\n";
  for (const char* list : {"'[4 -6 0.5]'", "4,-6,0.5", "'4 -6 0.5'", "'[4, -6, 0.5]'",
                           "'[4;-6;0.5]'", "' 4 , -6 ,0.5 '"}) {
    const RunResult run = RunHost(block + "-u " + list);
    EXPECT_EQ(run.status, 0) << list;
    EXPECT_EQ(run.out, expected) << list;
  }
  EXPECT_EQ(RunHost(block + "-u 2").out, "0 major t=0: 2 2 2 | 0 1 1 1\nstatus: ok\n");

  const TempDir dir("sfunhost_test");
  const std::string rows = (dir / "rows.txt").string();
  std::ofstream(rows) << "[1 2 3]\r\n\r\n4,5,6\r\n[7, 8, 9]\n";
  const RunResult file = RunHost(block + "-f " + rows + " -s 3");
  EXPECT_EQ(file.status, 0);
  EXPECT_EQ(file.out,
            "0 major t=0: 1 2 3 | 0 1 1 1\n"
            "1 major t=0.01: 4 5 6 | 0.01 1 2 1\n"
            "2 major t=0.02: 7 8 9 | 0.02 1 3 1\n"
            "status: ok\n");
  for (const char* bad : {"'[4 -6'", "'4 -6]'", "'[4] [6]'", "4,x,6"})
    EXPECT_EQ(RunHost(block + "-u " + bad).status, 2) << bad;
}

// A list of another count than the block's input elements is refused with the count it needs,
// before mdlStart: a block that would fail there never runs.
TEST(SfunHostRunner, RefusesInputsOfAnotherCountBeforeTheStart) {
  const TempDir dir("sfunhost_test");
  const std::string rows = (dir / "rows.txt").string();
  std::ofstream(rows) << "1 2 3\n\n4 5\n6\n";
  const std::string block =
      std::string(SFUNHOST_PATH) + " " + PROBE_BLOCK_PATH + " -p \"'fail-start'\" -p 3 -p 1 ";
  const struct {
    std::string args;
    std::string message;
  } cases[] = {
      {"-u 1,2", "sfunhost: 2 input values for 3 input elements\n"},
      {"-u '[1 2 3 4]'", "sfunhost: 4 input values for 3 input elements\n"},
      {"-u '[]'", "sfunhost: 0 input values for 3 input elements\n"},
      {"-f " + rows + " -s 2",
       "sfunhost: 2 input values for 3 input elements in line 3 of " + rows + "\n"},
      {"-f " + rows + " -s 3",
       "sfunhost: 2 input values for 3 input elements in line 3 of " + rows + "\n"},
  };
  for (const auto& c : cases) {
    const CommandRun run = RunCommand(block + c.args);
    EXPECT_EQ(run.status, 2) << c.args;
    EXPECT_EQ(run.err, c.message) << c.args;
    EXPECT_EQ(run.out, "") << c.args;
  }
  // The rows the run uses fit: the run reaches mdlStart, which fails.
  const CommandRun used = RunCommand(block + "-f " + rows + " -s 1");
  EXPECT_EQ(used.status, 1);
  EXPECT_EQ(used.out, "status: error: probe_block:: start failed.\n\n");
}

// Each refusal of an option names the value it was given, quoted, its control bytes as \xNN.
TEST(SfunHostRunner, RefusesABadOptionNamingItsValue) {
  const std::string block = std::string(SFUNHOST_PATH) + " " + PROBE_BLOCK_PATH + " ";
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"-d 0", "bad step size: '0'"},
      {"-d ''", "bad step size: ''"},
      {"-d 1x", "bad step size: '1x'"},
      {"-s -1", "bad number of steps: '-1'"},
      {"-s 99999999999", "bad number of steps: '99999999999'"},
      {"-m 0.5", "bad number of minor steps: '0.5'"},
      {"-s", "-s needs a value"},
      {"--frob", "unknown argument: '--frob'"},
      {"-u \"$(printf '1 \\033[2J')\"",
       "unexpected text after the value at position 3 of \"1 \\x1B[2J\""},
  };
  for (const auto& c : cases) {
    const CommandRun run = RunCommand(block + c.args);
    EXPECT_EQ(run.status, 2) << c.args;
    EXPECT_TRUE(run.err.starts_with(std::string("sfunhost: ") + c.message + "\nusage: sfunhost"))
        << c.args << ": " << run.err;
    EXPECT_EQ(run.out, "") << c.args;
  }
}

// An input file must give a row for every step: a file with too few, a line that is no row or
// longer than any row needs is refused with status 2 before the block runs. Every line is read,
// those past the last step too, but memory holds one line: /dev/zero is refused at once.
TEST(SfunHostRunner, RefusesAnInputFileWithoutItsRows) {
  const TempDir dir("sfunhost_test");
  const CurrentDir enter(dir.path());
  std::ofstream("empty.txt");
  std::ofstream("blank.txt") << "\n \t\r\n\n";
  std::ofstream("esc.txt") << "1 2\n3 4\n\033]0;TITLE\a\033[2J\n";
  std::ofstream("long.txt") << "1 2\n" << std::string(65536, ' ') << "3\n";
  std::filesystem::create_directory("dir");
  const struct {
    const char* file;
    const char* message;
  } cases[] = {
      {"empty.txt", "empty.txt holds 0 rows for 2 steps"},
      {"blank.txt", "blank.txt holds 0 rows for 2 steps"},
      {"/dev/null", "/dev/null holds 0 rows for 2 steps"},
      {"dir", "cannot read 'dir': Is a directory"},
      {"missing.txt", "cannot read 'missing.txt': No such file or directory"},
      {"esc.txt", "not a row of numbers in line 3 of esc.txt: '\\x1B]0;TITLE\\x07\\x1B[2J'"},
      {"long.txt", "line 2 of long.txt is longer than 65536 bytes"},
      {"/dev/zero", "line 1 of /dev/zero is longer than 65536 bytes"},
  };
  // An endless input read whole would meet this limit on memory (an address-sanitized host
  // needs its address space free and goes without).
#if defined(__SANITIZE_ADDRESS__)
  const std::string limit;
#else
  const std::string limit = "ulimit -v 1000000; ";
#endif
  for (const auto& c : cases) {
    const CommandRun run = RunCommand(limit + SFUNHOST_PATH + " " + PROBE_BLOCK_PATH +
                                      " -p \"'ok'\" -p 2 -p 1 -s 2 -f " + c.file);
    EXPECT_EQ(run.status, 2) << c.file;
    EXPECT_TRUE(run.err.starts_with(std::string("sfunhost: ") + c.message + "\nusage: sfunhost"))
        << c.file << ": " << run.err;
    EXPECT_EQ(run.out, "") << c.file;
  }
}

// Output that cannot be written fails the run, whatever the block's status.
TEST(SfunHostRunner, EndsWithAFailureStatusWhenItsOutputFails) {
  const CommandRun run = RunCommand(std::string(SFUNHOST_PATH) + " " + PROBE_BLOCK_PATH +
                                    " -p \"'ok'\" -p 2 -p 1 -s 3 >/dev/full");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "sfunhost: cannot write standard output: No space left on device\n");
}

TEST(SfunHostRunner, PrintsItsUsageOnRequest) {
  const CommandRun help = RunCommand(std::string(SFUNHOST_PATH) + " --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.starts_with("usage: sfunhost LIBRARY [options]\n"));
  EXPECT_TRUE(Contains(help.out, "1,2,3 or [1 2 3]")) << help.out;
  EXPECT_EQ(help.err, "");
}

}  // namespace
