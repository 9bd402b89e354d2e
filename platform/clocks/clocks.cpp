#include "clocks.h"

#include <time.h>

#include <utility>

#include "clocks_test_hook.h"

namespace {

const clocks_test::ClockHooks* g_hooks = nullptr;
// Outstanding timeBeginPeriod calls; a plain int so that stopwatches in static storage may
// still lower the period while the process ends.
int g_raised = 0;

constexpr TIMECAPS kRealCaps{1, 1000000};

std::int64_t MonotonicNanoseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

DWORD MonotonicMilliseconds() {
  // Low 32 bits of the milliseconds: wraps as the system's tick counts do.
  return static_cast<DWORD>(static_cast<std::uint64_t>(MonotonicNanoseconds()) / 1000000u);
}

bool TimerPresent() { return !g_hooks || g_hooks->bMultimediaTimerPresent; }

TIMECAPS Caps() { return g_hooks ? g_hooks->tcCaps : kRealCaps; }

bool PeriodValid(UINT uPeriod) {
  const TIMECAPS caps = Caps();
  return TimerPresent() && uPeriod >= caps.wPeriodMin && uPeriod <= caps.wPeriodMax;
}

}  // namespace

BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
  if (!lpPerformanceCount) return FALSE;
  if (g_hooks) {
    if (!g_hooks->bCounterPresent) return FALSE;
    if (g_hooks->counter) {
      std::int64_t reading = 0;
      if (!g_hooks->counter(reading)) return FALSE;
      lpPerformanceCount->QuadPart = reading;
      return TRUE;
    }
  }
  lpPerformanceCount->QuadPart = MonotonicNanoseconds();
  return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
  if (!lpFrequency) return FALSE;
  if (g_hooks && !g_hooks->bCounterPresent) {
    lpFrequency->QuadPart = 0;
    return FALSE;
  }
  lpFrequency->QuadPart =
      (g_hooks && g_hooks->liFrequency != 0) ? g_hooks->liFrequency : 1000000000;
  return TRUE;
}

DWORD timeGetTime() {
  if (g_hooks && g_hooks->timeGetTime) return g_hooks->timeGetTime();
  return MonotonicMilliseconds();
}

DWORD GetTickCount() {
  if (g_hooks && g_hooks->tickCount) return g_hooks->tickCount();
  return MonotonicMilliseconds();
}

MMRESULT timeGetDevCaps(LPTIMECAPS ptc, UINT cbtc) {
  if (!ptc || cbtc != sizeof(TIMECAPS) || !TimerPresent()) return TIMERR_STRUCT;
  *ptc = Caps();
  return TIMERR_NOERROR;
}

MMRESULT timeBeginPeriod(UINT uPeriod) {
  if (!PeriodValid(uPeriod)) return TIMERR_NOCANDO;
  ++g_raised;
  return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(UINT uPeriod) {
  if (!PeriodValid(uPeriod) || g_raised == 0) return TIMERR_NOCANDO;
  --g_raised;
  return TIMERR_NOERROR;
}

namespace clocks_test {

ScopedClocks::ScopedClocks(ClockHooks hooks) : hooks_(std::move(hooks)) { g_hooks = &hooks_; }

ScopedClocks::~ScopedClocks() {
  if (g_hooks == &hooks_) g_hooks = nullptr;
}

int RaisedPeriods() { return g_raised; }

}  // namespace clocks_test
