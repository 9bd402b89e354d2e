// Support of the terrain benchmarks: a private working directory, progress lines kept off the
// report, default flags, and the ratio of each pass to its baseline from the same run.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "testsupport/TempDir.h"

// A fresh directory under the temporary directory, the current directory while it lives.
class BenchDirectory {
 public:
  explicit BenchDirectory(const std::string& name) : dir_(name), inside_(dir_.path()) {}

 private:
  kyte::testsupport::TempDir dir_;
  kyte::testsupport::CurrentDir inside_;
};

// Standard output goes to /dev/null while it lives: the passes' progress lines.
class QuietStdout {
 public:
  QuietStdout() : saved_(dup(1)) {
    std::fflush(stdout);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
  }

 private:
  int saved_;
};

// The console report, keeping the best of each benchmark's repetitions by name, in real time or
// in CPU time. CPU time suits benchmarks that do their work in this process: the machine may be
// shared, and waiting for it says nothing of the code measured.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  enum class Clock { kReal, kCpu };
  explicit RatioReporter(Clock clock = Clock::kReal) : clock_(clock) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const double t = clock_ == Clock::kCpu ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
      auto [it, fresh] = times_.emplace(run.run_name.function_name, t);
      if (!fresh && t < it->second) it->second = t;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // Prints "<label>: <pass / baseline> (target: at most <target>)" when both ran.
  void PrintRatio(const std::string& label, const std::string& pass, const std::string& baseline,
                  double target) {
    const double p = times_[pass], b = times_[baseline];
    if (p > 0 && b > 0)
      std::printf("%s: %.2f (target: at most %g)\n", label.c_str(), p / b, target);
  }

 private:
  Clock clock_;
  std::map<std::string, double> times_;
};

// The command line with `flags` put before the given arguments, which may override them.
class BenchArguments {
 public:
  BenchArguments(int argc, char** argv, std::vector<std::string> flags) : flags_(std::move(flags)) {
    args_.push_back(argv[0]);
    for (std::string& flag : flags_) args_.push_back(flag.data());
    args_.insert(args_.end(), argv + 1, argv + argc);
  }
  int* argc() {
    count_ = static_cast<int>(args_.size());
    return &count_;
  }
  char** argv() { return args_.data(); }

 private:
  std::vector<std::string> flags_;
  std::vector<char*> args_;
  int count_ = 0;
};
