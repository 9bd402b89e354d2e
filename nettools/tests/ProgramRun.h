#pragma once
// The network programs as child processes of a test, their standard output and error going to
// files of the test's own, as a user redirects them.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace programrun {

struct Program {
  pid_t pid = -1;
  std::filesystem::path out;
  std::filesystem::path err;
  int status = -1;
  std::chrono::steady_clock::time_point started{};
  std::chrono::steady_clock::time_point ended{};
};

// Starts the program at `path` with its output in `dir`/`name`.out and its errors in
// `dir`/`name`.err.
Program Start(const char* path, const std::filesystem::path& dir, const std::string& name);

// The lines of a file, without their line breaks.
std::vector<std::string> Lines(const std::filesystem::path& file);

}  // namespace programrun
