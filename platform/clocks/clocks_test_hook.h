#pragma once
// Test hook of the clocks layer: a test chooses which clocks exist and feeds their readings.
//
//   clocks_test::ClockHooks hooks;
//   hooks.bCounterPresent = false;              // no performance counter
//   std::uint32_t now = 4294967040u;
//   hooks.tickCount = [&] { return now; };      // GetTickCount reads `now`
//   clocks_test::ScopedClocks scope(hooks);     // in force until `scope` is destroyed
//   ... code under test ...; now += 511; ...
//
// Every member left at its default keeps the real behaviour of that clock. The hooks are
// copied into the scope; change them later through ScopedClocks::Hooks() or through state
// captured by the callbacks. A counter that works at first and fails later (a stopwatch that
// gives no reading) is a `counter` callback that starts returning false. Scopes do not nest:
// a second one replaces the first until it ends, then the real clocks return. Not thread-safe.

#include <cstdint>
#include <functional>

#include "clocks.h"

namespace clocks_test {

struct ClockHooks {
  // Performance counter. Absent: QueryPerformanceFrequency reports 0 and FALSE, and
  // QueryPerformanceCounter fails.
  bool bCounterPresent = true;
  // Counts per second QueryPerformanceFrequency reports; 0 keeps the real 10^9.
  std::int64_t liFrequency = 0;
  // Each QueryPerformanceCounter call: store the reading and return true, or return false for
  // a failing call. Empty: the real counter.
  std::function<bool(std::int64_t&)> counter;

  // Multimedia timer. Absent: timeGetDevCaps fails with TIMERR_STRUCT and timeBeginPeriod and
  // timeEndPeriod with TIMERR_NOCANDO.
  bool bMultimediaTimerPresent = true;
  // What timeGetDevCaps reports when the timer is present.
  TIMECAPS tcCaps{1, 1000000};
  // Each timeGetTime / GetTickCount call. Empty: the real millisecond clock.
  std::function<std::uint32_t()> timeGetTime;
  std::function<std::uint32_t()> tickCount;
};

// A `counter` callback that reads `now` at every call and fails while `*works` is false, when
// given; both are read at each call, so that the test moves the counter or breaks it by
// changing them.
inline std::function<bool(std::int64_t&)> CounterReading(const std::int64_t& now,
                                                         const bool* works = nullptr) {
  return [&now, works](std::int64_t& reading) {
    reading = now;
    return works == nullptr || *works;
  };
}

class ScopedClocks {
 public:
  explicit ScopedClocks(ClockHooks hooks);
  ~ScopedClocks();
  ScopedClocks(const ScopedClocks&) = delete;
  ScopedClocks& operator=(const ScopedClocks&) = delete;
  ClockHooks& Hooks() { return hooks_; }

 private:
  ClockHooks hooks_;
};

// timeBeginPeriod calls not yet matched by a timeEndPeriod since the process started (the
// layer's bookkeeping, real or hooked).
int RaisedPeriods();

}  // namespace clocks_test
