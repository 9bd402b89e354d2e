// gridforge end to end on the bundled elevation slice against writing the same output bytes: a
// plain copy of every file that a reference run produced. Target: within 3 times.
//
// Each iteration times both sides one after the other, each starting from an empty directory with
// its input warm in the page cache (the slice for gridforge, the reference files for the copy), so
// that load from other processes falls on both alike; the ratio is that of the two best times.
// After the last iteration the run's files must equal the reference byte for byte.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <set>
#include <string>

#include "bench_support.h"
#include "testsupport/Files.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using kyte::testsupport::ReadFile;

const std::string kGrid = "pnw_48n49n_124w123w_46x30.i16";
constexpr double kTarget = 3;

double best_gridforge = std::numeric_limits<double>::infinity();
double best_copy = std::numeric_limits<double>::infinity();

// A directory holding only the slice.
void FreshRunDirectory(const fs::path& dir) {
  fs::remove_all(dir);
  fs::create_directory(dir);
  fs::copy_file(BUNDLED_GRID, dir / kGrid);
}

int RunGridforge(const fs::path& dir) {
  const std::string command = "cd '" + dir.string() + "' && " + GRIDFORGE_PATH + " " + kGrid +
                              " 48 49 -124 -123 46 30 14.5 >/dev/null 2>&1";
  return std::system(command.c_str());
}

// The files that gridforge wrote in `dir`.
std::set<std::string> OutputNames(const fs::path& dir) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir))
    if (entry.is_regular_file() && entry.path().filename() != kGrid)
      names.insert(entry.path().filename().string());
  return names;
}

bool SameOutput(const fs::path& a, const fs::path& b) {
  const std::set<std::string> names = OutputNames(a);
  if (names != OutputNames(b)) return false;
  return std::all_of(names.begin(), names.end(),
                     [&](const std::string& n) { return ReadFile(a / n) == ReadFile(b / n); });
}

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_GridforgeAgainstCopy(benchmark::State& state) {
  const std::set<std::string> reference = OutputNames("reference");
  for (auto _ : state) {
    FreshRunDirectory("run");
    fs::remove_all("copy");

    const Clock::time_point copy_start = Clock::now();
    fs::create_directory("copy");
    for (const std::string& name : reference)
      fs::copy_file("reference" / fs::path(name), "copy" / fs::path(name));
    best_copy = std::min(best_copy, Since(copy_start));

    const Clock::time_point run_start = Clock::now();
    if (RunGridforge("run") != 0) {
      state.SkipWithError("gridforge failed");
      return;
    }
    const double run = Since(run_start);
    best_gridforge = std::min(best_gridforge, run);
    state.SetIterationTime(run);
  }
  if (!SameOutput("reference", "run")) {
    state.SkipWithError("gridforge's output differs from the reference run");
    return;
  }
  state.counters["best_gridforge_ms"] = best_gridforge * 1e3;
  state.counters["best_copy_ms"] = best_copy * 1e3;
  state.counters["ratio"] = best_gridforge / best_copy;
}

BENCHMARK(BM_GridforgeAgainstCopy)->UseManualTime()->Iterations(15)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  BenchDirectory dir("gridforge_bench");
  FreshRunDirectory("reference");
  if (RunGridforge("reference") != 0) return 1;  // the output that the copy reproduces
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (best_copy > 0 && best_gridforge < std::numeric_limits<double>::infinity())
    std::printf("gridforge / copy of its output (best of each): %.2f (target: at most %g)\n",
                best_gridforge / best_copy, kTarget);
  return 0;
}
