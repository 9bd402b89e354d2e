#include "testsupport/CapturedOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "testsupport/Subprocess.h"

namespace kyte::testsupport {

RedirectedOutput::RedirectedOutput(int fd, const std::string& path) : fd_(fd), saved_(::dup(fd)) {
  const int target = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (saved_ < 0 || target < 0) throw std::runtime_error("cannot send output to " + path);
  std::fflush(nullptr);
  ::dup2(target, fd_);
  ::close(target);
}

RedirectedOutput::~RedirectedOutput() {
  std::fflush(nullptr);
  ::dup2(saved_, fd_);
  ::close(saved_);
  std::clearerr(stdout);  // of what went to the failing file
  std::clearerr(stderr);
}

CommandRun RunCommand(const std::string& command) {
  Subprocess shell({"/bin/sh", "-c", command}, std::filesystem::current_path());
  shell.CloseInput();
  CommandRun run;
  run.status = shell.Wait();
  run.out = shell.Stdout();
  run.err = shell.Stderr();
  return run;
}

}  // namespace kyte::testsupport
