// Runs a terrain program in the current directory and collects its status and output.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "terrain_fixture.h"

struct ProgramRun {
  int status;  // exit status as the shell sees it (-1 is 255), -1000 when it did not exit
  std::string out, err;
};

// The shell's command for `program` with `args`, each quoted, its output into `out` and `err`.
inline std::string ProgramCommand(const std::string& program, const std::vector<std::string>& args,
                                  const std::string& out, const std::string& err) {
  std::string command = program;
  for (const std::string& a : args) command += " '" + a + "'";
  return command + " >" + out + " 2>" + err;
}

inline std::string TakeFileText(const std::string& name) {
  const auto bytes = ReadFileBytes(name);
  std::remove(name.c_str());
  return std::string(bytes.begin(), bytes.end());
}

inline ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args) {
  const std::string command = ProgramCommand(program, args, "stdout.txt", "stderr.txt");
  const int raw = std::system(command.c_str());
  ProgramRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1000, "", ""};
  run.out = TakeFileText("stdout.txt");
  run.err = TakeFileText("stderr.txt");
  return run;
}

// The names of the files in directory `dir`.
inline std::set<std::string> FilesIn(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  return names;
}

// A run on a disk of its own: `program` runs in "small", a tmpfs of 1 MiB mounted in a private
// mount namespace, which holds copies of the current directory's `inputs` and is gone with the
// namespace. A program that wrote tiles there would soon find its disk full instead of filling
// the machine's.
struct SmallDiskRun {
  ProgramRun run;
  std::set<std::string> files;  // what the small disk held after the run
};

inline SmallDiskRun RunOnSmallDisk(const std::string& program, const std::vector<std::string>& args,
                                   const std::vector<std::string>& inputs = {}) {
  std::filesystem::create_directory("small");
  std::string script = "set -e\nmount -t tmpfs -o size=1m kyte-small small\n";
  for (const std::string& input : inputs) script += "cp '" + input + "' small/\n";
  script += "cd small\nset +e\n" + ProgramCommand(program, args, "../stdout.txt", "../stderr.txt") +
            "\necho $? >../status.txt\nls -A >../files.txt\n";
  WriteFileBytes("small.sh", std::vector<uint8_t>(script.begin(), script.end()));
  const std::string command = std::string(geteuid() == 0 ? "unshare -m" : "unshare -r -m") +
                              " --propagation private sh small.sh";
  SmallDiskRun small{{-1000, "", ""}, {}};
  EXPECT_EQ(std::system(command.c_str()), 0) << "no private mount namespace with a tmpfs";
  const std::string status = TakeFileText("status.txt");
  if (!status.empty()) small.run.status = std::stoi(status);
  small.run.out = TakeFileText("stdout.txt");
  small.run.err = TakeFileText("stderr.txt");
  std::istringstream listed(TakeFileText("files.txt"));
  for (std::string name; std::getline(listed, name);) small.files.insert(name);
  std::filesystem::remove("small.sh");
  std::filesystem::remove("small");
  return small;
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
  const std::filesystem::path home = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  InProcessRun result;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  result.status = run(static_cast<int>(words.size()), argv.data());
  std::fflush(stdout);
  result.out = testing::internal::GetCapturedStdout();
  result.err = testing::internal::GetCapturedStderr();
  for (const std::string& name : FilesIn(".")) result.files[name] = ReadFileBytes(name);
  std::filesystem::current_path(home);
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

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Number of times `part` occurs in `text`.
inline int CountOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Whether a run was refused for its region before it made any file: status -1, `line` as the
// last line of standard error and the only one about the globe, and no file in `files` beyond
// `kept`.
inline testing::AssertionResult RefusedRegion(const ProgramRun& run,
                                              const std::set<std::string>& files,
                                              const std::string& line,
                                              const std::set<std::string>& kept) {
  const bool last_line = ("\n" + run.err).ends_with("\n" + line + "\n");
  if (run.status != 255 || !last_line || CountOf(run.err, "off the globe") != 1 || files != kept) {
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
