// One co-simulation frame in one process: airhost's per-frame call (writes its 16 values, reads
// the 25 from Simulink) and cobridge's step (reads the 16, writes 25), each copy under the
// channel's named mutex; against a plain 4 KB copy under an uncontended lock in the same run.
// Target: a frame in under 20 microseconds, at least 50,000 frames per second.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

#include "KYTE2MATLAB.h"
#include "kyteplugin.h"
#include "support/ChannelSandbox.h"

namespace {

void PlainCopyUnderLock(std::vector<char>& from, std::vector<char>& to, std::mutex& lock) {
  std::lock_guard<std::mutex> guard(lock);
  std::memcpy(to.data(), from.data(), from.size());
  benchmark::ClobberMemory();
}

// Seconds per plain 4 KB copy under an uncontended lock, measured now.
double PlainCopySeconds() {
  std::vector<char> from(4096, 1), to(4096);
  std::mutex lock;
  constexpr int kCopies = 200000;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kCopies; ++i) PlainCopyUnderLock(from, to, lock);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / kCopies;
}

void BM_PlainCopyUnderLock(benchmark::State& state) {
  std::vector<char> from(4096, 1), to(4096);
  std::mutex lock;
  for (auto _ : state) PlainCopyUnderLock(from, to, lock);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainCopyUnderLock);

void BM_CoSimulationFrame(benchmark::State& state) {
  cosim_test::ChannelSandbox sandbox;
  void* plugin = dlopen(AIRHOST, RTLD_NOW | RTLD_LOCAL);
  if (plugin == nullptr) {
    state.SkipWithError(dlerror());
    return;
  }
  const CBlock& block = **static_cast<CBlock**>(dlsym(plugin, "pCBlockx"));
  auto exitCall = reinterpret_cast<PFNBLOCKEXIT>(dlsym(plugin, "CBExit"));
  std::vector<double> in(15, 0.5), out(25), u(25, 0.25), y(16);
  std::vector<const double*> uPtrs;
  for (double& v : u) uPtrs.push_back(&v);
  block.pfnInit(in.data(), out.data());
  CKYTE2MATLAB bridge;
  bridge.Open(3, 25, 4, 16);
  double baseline = PlainCopySeconds();
  auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    block.pfnStep(in.data(), out.data());
    bridge.Receive(y.data());
    bridge.Send(uPtrs.data());
    benchmark::DoNotOptimize(y.data());
  }
  double frame = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                 static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations());  // frames per second
  state.counters["frame_us"] = frame * 1e6;
  state.counters["x_plain_copy"] = frame / baseline;
  bridge.Close();
  exitCall();
  dlclose(plugin);
}
BENCHMARK(BM_CoSimulationFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
