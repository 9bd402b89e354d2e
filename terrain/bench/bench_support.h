// Support of the terrain benchmarks: a private working directory, progress lines kept off the
// report, and the ratio of each pass to its baseline from the same run.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

// A fresh directory under the temporary directory, the current directory while it lives.
class BenchDirectory {
 public:
  explicit BenchDirectory(const std::string& name)
      : dir_(std::filesystem::temp_directory_path() / (name + "." + std::to_string(getpid()))),
        old_(std::filesystem::current_path()) {
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
  }
  ~BenchDirectory() {
    std::filesystem::current_path(old_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

 private:
  std::filesystem::path dir_, old_;
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

// The console report, keeping each benchmark's real time by name.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
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
  std::map<std::string, double> times_;
};
