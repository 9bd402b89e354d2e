// What code writes to standard output and standard error: of a call in this process, or of a
// command run by the shell in a child process.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace kyte::testsupport {

struct Output {
  std::string out, err;
};

// Both streams of one call, caught at their descriptors, so that C stdio, iostreams and child
// processes the call starts all count. Captures do not nest.
template <class F>
Output Capture(F&& call) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  call();
  Output output;
  output.err = ::testing::internal::GetCapturedStderr();
  output.out = ::testing::internal::GetCapturedStdout();
  return output;
}

template <class F>
std::string CaptureStdout(F&& call) {
  ::testing::internal::CaptureStdout();
  call();
  return ::testing::internal::GetCapturedStdout();
}

template <class F>
std::string CaptureStderr(F&& call) {
  ::testing::internal::CaptureStderr();
  call();
  return ::testing::internal::GetCapturedStderr();
}

// Descriptor `fd` (1 or 2) opened on `path` while the object lives, for a call whose output
// must fail (/dev/full); the stream's earlier file is back afterwards. Throws when `path`
// cannot be opened.
class RedirectedOutput {
 public:
  RedirectedOutput(int fd, const std::string& path);
  ~RedirectedOutput();
  RedirectedOutput(const RedirectedOutput&) = delete;
  RedirectedOutput& operator=(const RedirectedOutput&) = delete;

 private:
  int fd_;
  int saved_;
};

struct CommandRun : Output {
  int status = -1;  // the exit status as the shell sees it, 128 + the signal that ended it
};

// Runs `command` with /bin/sh in the current directory, its standard input empty.
CommandRun RunCommand(const std::string& command);

}  // namespace kyte::testsupport
