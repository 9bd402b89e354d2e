// One co-simulation frame in one process: airhost's per-frame call (writes its 16 values, reads
// the 25 from Simulink) and cobridge's step (reads the 16, writes 25), each copy under the
// channel's named mutex; against a plain 4 KB copy under an uncontended lock in the same run.
// Beside the time, the system calls that one copy makes in its steady state (syscalls_per_copy),
// counted in a traced child process that flies the same frames.
// Targets: a frame in under 20 microseconds, at least 50,000 frames per second; at most 2 system
// calls per copy.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "KYTE2MATLAB.h"
#include "SystemCalls.h"
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

constexpr int kCopiesPerFrame = 4;

// System calls per copy of `frame`, once a few frames have settled the process; -1 when they
// cannot be counted.
double SystemCallsPerCopy(const std::function<void()>& frame) {
  constexpr int kSettling = 10;
  constexpr int kCounted = 1000;
  long calls = cosim_bench::SystemCallsOf(
      [&] {
        for (int i = 0; i < kSettling; ++i) frame();
      },
      [&] {
        for (int i = 0; i < kCounted; ++i) frame();
      });
  return calls < 0 ? -1.0 : static_cast<double>(calls) / (kCounted * kCopiesPerFrame);
}

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
  const auto frame = [&] {
    block.pfnStep(in.data(), out.data());
    bridge.Receive(y.data());
    bridge.Send(uPtrs.data());
    benchmark::DoNotOptimize(y.data());
  };
  double baseline = PlainCopySeconds();
  auto start = std::chrono::steady_clock::now();
  for (auto _ : state) frame();
  double frameSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
      static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations());  // frames per second
  state.counters["frame_us"] = frameSeconds * 1e6;
  state.counters["x_plain_copy"] = frameSeconds / baseline;
  static const double calls = SystemCallsPerCopy(frame);  // the same in every run: counted once
  if (calls >= 0.0) {
    state.counters["syscalls_per_copy"] = calls;
  } else {
    state.SetLabel("system calls not counted: the child could not be traced");
  }
  bridge.Close();
  exitCall();
  dlclose(plugin);
}
BENCHMARK(BM_CoSimulationFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
