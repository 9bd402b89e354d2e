// trn_elevation over a 1 x 1 degree DEM region (1201 x 1201 grid, four tiles) against reading
// and writing the same grid and tiles whole with no computation. Target: within 2 times.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "tiledb.h"
#include "trn_elevation.h"

namespace {

constexpr int kGrid = 1201;
constexpr char kGridName[] = "066_162.1201x1201";
const double kW = -124, kE = -123, kS = 48, kN = 49;

void WriteGridFile() {
  std::vector<uint8_t> bytes(size_t{kGrid} * kGrid * 4);
  for (int r = 0; r < kGrid; ++r) {
    for (int c = 0; c < kGrid; ++c) {
      const double e = 500 + 400 * std::sin(r * 0.01) * std::cos(c * 0.013) - 0.3 * c;
      PutS32(&bytes[(size_t{static_cast<size_t>(r)} * kGrid + c) * 4], static_cast<int32_t>(e));
    }
  }
  std::FILE* f = std::fopen(kGridName, "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

void BM_ReadWriteTiles(benchmark::State& state) {
  QuietStdout quiet;
  const Region region = MakeRegion(kW, kS, kE, kS, kW, kN, kE, kN);
  for (auto _ : state) {
    TileFile grid_file = TileFile::OpenGrid("bench", kGridName);
    TileBuffer grid = TileBuffer::Allocate("bench", uint64_t{4} * kGrid * kGrid);
    grid_file.ReadWhole("bench", grid);
    WalkRegion(region, [](const TileSpan& t) {
      TileFile file = TileFile::OpenOutput("bench", ElevationTileName(t.tx, t.ty));
      TileBuffer tile = TileBuffer::Allocate("bench", kElevationTileBytes);
      file.ReadWhole("bench", tile);
      SetIdentification(tile.data(), kKindElevation);
      benchmark::DoNotOptimize(tile.data());
      file.WriteWhole("bench", tile);
      return file.Close("bench");
    });
    grid_file.Close("bench");
  }
}

void BM_TrnElevation(benchmark::State& state) {
  QuietStdout quiet;
  for (auto _ : state) {
    const int result = trn_elevation(kW, kS, kE, kS, kW, kN, kE, kN, kGridName, kGrid, kGrid);
    if (result != 0) state.SkipWithError("trn_elevation failed");
  }
}

BENCHMARK(BM_ReadWriteTiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrnElevation)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  BenchDirectory dir("trn_elevation_bench");
  WriteGridFile();
  // Five rounds of each, interleaved, and the best of each in CPU time.
  BenchArguments args(argc, argv,
                      {"--benchmark_repetitions=5", "--benchmark_enable_random_interleaving=true"});
  benchmark::Initialize(args.argc(), args.argv());
  RatioReporter reporter(RatioReporter::Clock::kCpu);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  reporter.PrintRatio("trn_elevation / read-and-write", "BM_TrnElevation", "BM_ReadWriteTiles", 2);
  return 0;
}
