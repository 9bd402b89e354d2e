// The shared test support where a fault would not show in the tests that use it: a directory
// left behind, output mixed up or lost, a count that misses a place, a "small" disk that is the
// machine's own.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/CapturedOutput.h"
#include "testsupport/Files.h"
#include "testsupport/SmallDisk.h"
#include "testsupport/Subprocess.h"
#include "testsupport/TempDir.h"
#include "testsupport/TempDirTest.h"
#include "testsupport/Text.h"

namespace {

namespace fs = std::filesystem;
using namespace kyte::testsupport;

TEST(TempDir, IsFreshPrivateAndGoesWithAllItHolds) {
  const fs::path before = fs::current_path();
  fs::path kept;
  {
    const TempDir a("kyte-probe"), b("kyte-probe");
    EXPECT_NE(a.path(), b.path());
    EXPECT_EQ(a.path().filename().string().rfind("kyte-probe-", 0), 0u);
    EXPECT_EQ(fs::status(a.path()).permissions() & fs::perms::all, fs::perms::owner_all);
    fs::create_directories(a / "deep" / "er");
    WriteFileBytes(a / "deep" / "er" / "file", {1, 2, 3});
    kept = a.path();
    const CurrentDir inside(a / "deep");
    EXPECT_EQ(FilesIn("."), std::set<std::string>{"er"});
  }
  EXPECT_FALSE(fs::exists(kept));
  EXPECT_EQ(fs::current_path(), before);
}

using InTempDir = TempDirTest;

TEST_F(InTempDir, RunsTheTestInItsDirectory) {
  EXPECT_EQ(fs::current_path(), dir_);
  WriteFileBytes("made", {'x', '\0', 'y'});
  EXPECT_EQ(Read("made"), std::string("x\0y", 3));
  EXPECT_EQ(ReadFileBytes(Path("made")), (std::vector<std::uint8_t>{'x', 0, 'y'}));
  EXPECT_EQ(Files(), std::set<std::string>{"made"});
}

// A line already in the pipe is taken at the deadline, even with no time left to wait; with no
// line there, the deadline ends the read.
TEST(Subprocess, ALineWaitingInThePipeIsReadWithoutTimeLeft) {
  Subprocess child({"/bin/sh", "-c", "echo ready; sleep 5"}, fs::current_path());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(child.ReadLine(0), "ready");
  EXPECT_THROW(child.ReadLine(0), std::runtime_error);
  child.Kill(SIGKILL);
}

TEST(CapturedOutput, KeepsBothStreamsApartWhoeverWritesThem) {
  const Output output = Capture([] {
    std::printf("printf ");
    std::cout << "cout ";
    std::fprintf(stderr, "stderr ");
    std::cerr << "cerr ";
    EXPECT_EQ(std::system("echo child; echo child-err >&2"), 0);
  });
  EXPECT_EQ(output.out, "printf cout child\n");
  EXPECT_EQ(output.err, "stderr cerr child-err\n");
  EXPECT_EQ(CaptureStdout([] { std::printf("only out"); }), "only out");
  EXPECT_EQ(CaptureStderr([] { std::fputs("only err", stderr); }), "only err");
}

TEST(CapturedOutput, RunCommandGivesTheStatusAsTheShellSeesIt) {
  const CommandRun run = RunCommand("echo out; echo err >&2; exit 3");
  EXPECT_EQ(run.out, "out\n");
  EXPECT_EQ(run.err, "err\n");
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(RunCommand("cat").out, "");  // its input is empty
  EXPECT_EQ(RunCommand("kill -s KILL $$").status, 128 + 9);
  EXPECT_EQ(RunCommand("exit 255").status, 255);
}

TEST(Text, CountsEveryPlaceAPieceStartsAt) {
  const struct {
    const char* text;
    const char* piece;
    int count;
  } cases[] = {
      {"error processing: a \n\nerror processing: a \n\n", "error processing: a \n\n", 2},
      {"aaaa", "aa", 3},  // overlapping places count
      {"Phase 1\nPhase 2\n", "Phase 3", 0},
      {"", "x", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CountOf(c.text, c.piece), c.count) << c.text;
    EXPECT_EQ(Contains(c.text, c.piece), c.count > 0) << c.text;
  }
  EXPECT_TRUE(Contains(std::string("a\0b", 3), std::string("\0b", 2)));
}

using SmallDisk = TempDirTest;

TEST_F(SmallDisk, ACommandOnItFindsItFull) {
  WriteFileBytes("input", std::vector<std::uint8_t>(1000, 7));
  const CommandRun run = RunCommand(OnSmallDisk(64 * 1024, {"input"}, "disk", "listing") +
                                    "sh -c 'cmp input ../input && head -c 100000 /dev/zero >big'");
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
  EXPECT_EQ(ReadFile("listing"), "big\ninput\n");
  EXPECT_TRUE(fs::is_empty("disk")) << "the disk's files stay on the disk";

  const CommandRun fits = RunCommand(OnSmallDisk(64 * 1024) + "sh -c 'head -c 1000 /dev/zero >f'");
  EXPECT_EQ(fits.status, 0) << fits.err;
  EXPECT_FALSE(fs::exists("disk/f"));
}

TEST_F(SmallDisk, MountedInAChildProcessItEndsWithIt) {
  EXPECT_EXIT(
      {
        if (!MountSmallDisk(64 * 1024)) std::_Exit(2);
        std::FILE* file = std::fopen("big", "w");
        if (file == nullptr) std::_Exit(3);
        const std::vector<char> bytes(100000, 'x');
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
                             std::fflush(file) == 0;
        std::_Exit(!written && errno == ENOSPC ? 0 : 4);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_TRUE(Files().empty());
}

}  // namespace
