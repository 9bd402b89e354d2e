#pragma once
// The timer calls the system was written against, on CLOCK_MONOTONIC:
//   QueryPerformanceCounter / QueryPerformanceFrequency: nanoseconds, 10^9 counts per second;
//   timeGetTime / GetTickCount: 32-bit milliseconds that wrap after 2^32 ms;
//   timeGetDevCaps / timeBeginPeriod / timeEndPeriod: bookkeeping of the raised timer period.
// Tests replace any of these clocks through clocks_test_hook.h.

#include <cstdint>

#include "platform/win32_types.h"

typedef UINT MMRESULT;

union LARGE_INTEGER {
  struct {
    std::uint32_t LowPart;
    std::int32_t HighPart;
  } u;
  std::int64_t QuadPart;
};

struct TIMECAPS {
  UINT wPeriodMin;
  UINT wPeriodMax;
};
typedef TIMECAPS* LPTIMECAPS;

constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT TIMERR_NOCANDO = 97;
constexpr MMRESULT TIMERR_STRUCT = 129;

BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency);
DWORD timeGetTime();
DWORD GetTickCount();
MMRESULT timeGetDevCaps(LPTIMECAPS ptc, UINT cbtc);
MMRESULT timeBeginPeriod(UINT uPeriod);
MMRESULT timeEndPeriod(UINT uPeriod);
