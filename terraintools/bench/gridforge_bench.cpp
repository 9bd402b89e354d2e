// gridforge end to end on the bundled elevation slice against writing the same output bytes (a
// plain copy of every file it produced) in the same run. Target: within 3 times.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_support.h"

namespace {

namespace fs = std::filesystem;

const std::string kGrid = "pnw_48n49n_124w123w_46x30.i16";

int RunGridforge() {
  const std::string command = std::string(GRIDFORGE_PATH) + " " + kGrid +
                              " 48 49 -124 -123 46 30 14.5 >/dev/null 2>&1";
  return std::system(command.c_str());
}

void BM_Gridforge(benchmark::State& state) {
  for (auto _ : state)
    if (RunGridforge() != 0) state.SkipWithError("gridforge failed");
}

// Copies every file of the run's output (tiles, level files, scratch tiles, the picture).
void BM_CopyOutput(benchmark::State& state) {
  for (auto _ : state) {
    fs::create_directory("copy");
    for (const fs::directory_entry& entry : fs::directory_iterator(".")) {
      if (!entry.is_regular_file() || entry.path().filename() == kGrid) continue;
      fs::copy_file(entry.path(), "copy" / entry.path().filename(),
                    fs::copy_options::overwrite_existing);
    }
    state.PauseTiming();
    fs::remove_all("copy");
    state.ResumeTiming();
  }
}

BENCHMARK(BM_Gridforge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyOutput)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  BenchDirectory dir("gridforge_bench");
  fs::copy_file(BUNDLED_GRID, kGrid);
  if (RunGridforge() != 0) return 1;  // the output that the copy reproduces
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  reporter.PrintRatio("gridforge / copy of its output", "BM_Gridforge", "BM_CopyOutput", 3);
  return 0;
}
