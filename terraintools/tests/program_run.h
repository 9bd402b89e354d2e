// Runs a terrain program in the current directory and collects its status and output.
#pragma once

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "terrain_fixture.h"

struct ProgramRun {
  int status;  // exit status as the shell sees it (-1 is 255), -1000 when it did not exit
  std::string out, err;
};

inline ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args) {
  std::string command = program;
  for (const std::string& a : args) command += " '" + a + "'";
  command += " >stdout.txt 2>stderr.txt";
  const int raw = std::system(command.c_str());
  ProgramRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1000, "", ""};
  const auto out = ReadFileBytes("stdout.txt"), err = ReadFileBytes("stderr.txt");
  run.out.assign(out.begin(), out.end());
  run.err.assign(err.begin(), err.end());
  std::remove("stdout.txt");
  std::remove("stderr.txt");
  return run;
}

// A prefix for RunProgram's program: it then runs in a directory "disk" of its own, a tmpfs of
// `bytes` bytes in a mount namespace of its own (root only) that holds copies of `files` from the
// working directory. What it writes there is gone when it ends; its output and status are kept.
inline std::string OnSmallDisk(uint64_t bytes, const std::vector<std::string>& files = {}) {
  std::string copies;
  for (const std::string& f : files) copies += " && cp \"" + f + "\" disk/";
  return "mkdir -p disk && unshare -m sh -c 'mount -t tmpfs -o size=" + std::to_string(bytes) +
         " tmpfs disk" + copies + " && cd disk && exec \"$0\" \"$@\"' ";
}

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Number of times `part` occurs in `text`.
inline int CountOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}
