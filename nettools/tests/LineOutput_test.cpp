// A line written whole or not at all: on a full device, down a closed pipe, and on a disk that
// fills in the middle of a line, where a file keeps only its whole lines.
#include "LineOutput.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "testsupport/SmallDisk.h"
#include "testsupport/TempDirTest.h"

namespace {

using namespace kyte::testsupport;
using nettools::WriteWholeLine;
using SmallDisk = TempDirTest;

const std::string kLine = "1234 1234    0    0 15000.0  0.0  8.0  0.0 707_Drone \n";  // 54 bytes

TEST(WriteWholeLine, WritesTheLineOrTellsWhyNot) {
  const int full = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  errno = 0;
  EXPECT_FALSE(WriteWholeLine(full, kLine));
  EXPECT_EQ(errno, ENOSPC);
  ::close(full);

  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  EXPECT_TRUE(WriteWholeLine(ends[1], kLine));
  std::string read(kLine.size() + 1, '\0');
  EXPECT_EQ(::read(ends[0], read.data(), read.size()), static_cast<ssize_t>(kLine.size()));
  ::close(ends[0]);
  // A reader gone, with SIGPIPE ignored as `trap '' PIPE` leaves it.
  void (*const previous)(int) = ::signal(SIGPIPE, SIG_IGN);
  errno = 0;
  EXPECT_FALSE(WriteWholeLine(ends[1], kLine));
  EXPECT_EQ(errno, EPIPE);
  ::signal(SIGPIPE, previous);
  ::close(ends[1]);
}

off_t SizeOf(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? st.st_size : -1;
}

// Fills the disk with lines through a descriptor opened with `flags`; what the file then holds
// is a whole number of lines, and the descriptor goes on from the file's end.
bool FillsWithWholeLines(const char* name, int flags, std::string& why) {
  const int fd = ::open(name, O_WRONLY | O_CREAT | flags, 0644);
  if (fd < 0) return why = "cannot open", false;
  int lines = 0;
  while (WriteWholeLine(fd, kLine)) ++lines;
  const int error = errno;
  const off_t size = SizeOf(fd);
  const off_t offset = ::lseek(fd, 0, SEEK_CUR);
  ::close(fd);
  ::unlink(name);
  why = std::string(name) + ": " + std::to_string(lines) + " lines, " + std::to_string(size) +
        " bytes, offset " + std::to_string(offset) + ", " + std::strerror(error);
  return error == ENOSPC && lines > 0 && size == static_cast<off_t>(lines * kLine.size()) &&
         offset == size;
}

// A line that the disk cuts is taken back where it extended the file at its end (`>` and `>>`),
// but not where it was written into the middle of a file (`1<>`), whose bytes it may have
// replaced: there the part stays. Runs in a child process on a small disk of its own.
TEST_F(SmallDisk, ALineTheDiskCutsIsTakenBackOnlyAtTheFilesEnd) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!MountSmallDisk(8192)) ::_exit(77);
    std::string why;
    bool passed = FillsWithWholeLines("truncated", O_TRUNC, why);
    if (!passed) std::fprintf(stderr, "%s\n", why.c_str());
    const bool appended = FillsWithWholeLines("appended", O_APPEND, why);
    if (!appended) std::fprintf(stderr, "%s\n", why.c_str());
    passed = passed && appended;
    // 8000 bytes of a file, then a line written at 7990 over its end: 202 bytes fit.
    const int fd = ::open("middle", O_RDWR | O_CREAT | O_TRUNC, 0644);
    const std::string old(8000, 'x');
    const std::string line = std::string(300, 'y') + "\n";
    const bool cut = fd >= 0 && ::write(fd, old.data(), old.size()) == 8000 &&
                     ::lseek(fd, 7990, SEEK_SET) == 7990 && !WriteWholeLine(fd, line) &&
                     errno == ENOSPC && SizeOf(fd) == 8192;
    if (!cut) std::fprintf(stderr, "middle: %lld bytes\n", static_cast<long long>(SizeOf(fd)));
    ::_exit(passed && cut ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "a small disk cannot be mounted here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
