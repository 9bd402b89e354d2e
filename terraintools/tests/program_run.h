// Runs a terrain program in the current directory and collects its status and output.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "terrain_fixture.h"
#include "testsupport/CapturedOutput.h"
#include "testsupport/Files.h"
#include "testsupport/SmallDisk.h"
#include "testsupport/TempDir.h"
#include "testsupport/Text.h"

using kyte::testsupport::CommandRun;
using kyte::testsupport::Contains;
using kyte::testsupport::FilesIn;
using kyte::testsupport::OnSmallDisk;
using kyte::testsupport::ReadFile;
using kyte::testsupport::RunCommand;

struct ProgramRun {
  // The exit status as the shell sees it (-1 is 255, 128 + the signal that ended it), -1000 when
  // it did not run.
  int status;
  std::string out, err;
};

// The shell's command for `program` with `args`, each quoted.
inline std::string ProgramCommand(const std::string& program,
                                  const std::vector<std::string>& args) {
  std::string command = program;
  for (const std::string& a : args) command += " '" + a + "'";
  return command;
}

inline std::string TakeFileText(const std::string& name) {
  const std::string text = ReadFile(name);
  std::remove(name.c_str());
  return text;
}

inline ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args) {
  const CommandRun run = RunCommand(ProgramCommand(program, args));
  return {run.status, run.out, run.err};
}

// A run on a disk of its own: `program` runs in "small", a small disk of `bytes` (OnSmallDisk,
// 1 MiB unless given) that holds copies of the current directory's `inputs`. A program that wrote
// tiles there would soon find its disk full instead of filling the machine's.
struct SmallDiskRun {
  ProgramRun run;
  std::set<std::string> files;  // what the small disk held after the run
};

inline SmallDiskRun RunOnSmallDisk(const std::string& program, const std::vector<std::string>& args,
                                   const std::vector<std::string>& inputs = {},
                                   uint64_t bytes = 1 << 20) {
  SmallDiskRun small{RunProgram(OnSmallDisk(bytes, inputs, "small", "files.txt") + program, args),
                     {}};
  const bool ran = std::filesystem::exists("files.txt");
  EXPECT_TRUE(ran) << "no private mount namespace with a tmpfs\n" << small.run.err;
  if (!ran) small.run.status = -1000;
  std::istringstream listed(TakeFileText("files.txt"));
  for (std::string name; std::getline(listed, name);) small.files.insert(name);
  std::filesystem::remove("small");
  return small;
}

// A terrain program's run as a function in this process (programs.h), in directory `dir`, made
// for it with copies of `inputs` from the current directory: its status, its output and the
// files it leaves there. `words` starts with the program's name.
struct InProcessRun {
  int status = -1000;
  std::string out, err;
  std::map<std::string, std::vector<uint8_t>> files;
};

inline InProcessRun RunInProcess(int (*run)(int, char**), const std::string& dir,
                                 std::vector<std::string> words,
                                 const std::vector<std::string>& inputs = {}) {
  std::filesystem::create_directory(dir);
  for (const std::string& input : inputs) std::filesystem::copy_file(input, dir + "/" + input);
  const kyte::testsupport::CurrentDir inside(dir);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  InProcessRun result;
  const Output output =
      Capture([&] { result.status = run(static_cast<int>(words.size()), argv.data()); });
  result.out = output.out;
  result.err = output.err;
  for (const std::string& name : FilesIn(".")) result.files[name] = ReadFileBytes(name);
  return result;
}

// What differs between two runs: status, output and the files by name; empty when nothing does.
inline std::string Differences(const InProcessRun& a, const InProcessRun& b) {
  std::string differences;
  if (a.status != b.status)
    differences += "status " + std::to_string(a.status) + " / " + std::to_string(b.status) + "\n";
  if (a.out != b.out) differences += "standard output\n";
  if (a.err != b.err) differences += "standard error:\n" + a.err + "\n/\n" + b.err + "\n";
  for (const auto& [name, bytes] : a.files) {
    const auto other = b.files.find(name);
    if (other == b.files.end() || other->second != bytes) differences += "file " + name + "\n";
  }
  for (const auto& [name, bytes] : b.files)
    if (!a.files.contains(name)) differences += "file " + name + " only in the second run\n";
  return differences;
}

// Whether a run was refused for its region before it made any file: status -1, `line` as the
// last line of standard error and the only one about a region (off the globe, or too large for
// its input), and no file in `files` beyond `kept`.
inline testing::AssertionResult RefusedRegion(const ProgramRun& run,
                                              const std::set<std::string>& files,
                                              const std::string& line,
                                              const std::set<std::string>& kept) {
  const bool last_line = ("\n" + run.err).ends_with("\n" + line + "\n");
  if (run.status != 255 || !last_line || CountOf(run.err, ": region ") != 1 || files != kept) {
    std::string listed;
    for (const std::string& f : files) listed += " " + f;
    return testing::AssertionFailure()
           << "status " << run.status << ", files:" << listed << "\nstandard error:\n"
           << run.err;
  }
  return testing::AssertionSuccess();
}

// Expects `program` to refuse the region of `args` with `line`: first on a small disk of its
// own that holds copies of `inputs`, then, only when it was refused there, in the current
// directory, where it might otherwise fill the machine's disk. Each time no file may be left but
// what was there and `made` (what a refused run may still write). Gives the run in the current
// directory for further checks, none when the first was not refused.
inline std::optional<ProgramRun> ExpectRefusedRegion(const std::string& program,
                                                     const std::vector<std::string>& args,
                                                     const std::string& line,
                                                     const std::vector<std::string>& inputs = {},
                                                     const std::set<std::string>& made = {}) {
  std::set<std::string> kept(inputs.begin(), inputs.end());
  kept.insert(made.begin(), made.end());
  const SmallDiskRun small = RunOnSmallDisk(program, args, inputs);
  const testing::AssertionResult refused = RefusedRegion(small.run, small.files, line, kept);
  EXPECT_TRUE(refused) << "on the small disk";
  if (!refused) return std::nullopt;
  kept = FilesIn(".");
  kept.insert(made.begin(), made.end());
  const ProgramRun run = RunProgram(program, args);
  EXPECT_TRUE(RefusedRegion(run, FilesIn("."), line, kept));
  return run;
}
