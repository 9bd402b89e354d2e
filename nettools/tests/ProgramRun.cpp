#include "ProgramRun.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>

#include <fstream>

extern char** environ;

namespace programrun {

Program Start(const char* path, const std::filesystem::path& dir, const std::string& name) {
  Program program{-1, dir / (name + ".out"), dir / (name + ".err")};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, program.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, program.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  char* argv[] = {const_cast<char*>(path), nullptr};
  program.started = std::chrono::steady_clock::now();
  EXPECT_EQ(posix_spawn(&program.pid, path, &actions, nullptr, argv, environ), 0) << path;
  posix_spawn_file_actions_destroy(&actions);
  return program;
}

std::vector<std::string> Lines(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace programrun
