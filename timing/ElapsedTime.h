#pragma once
// Stopwatch with any number of numbered timers, on the best clock the system offers: the
// performance counter, else the multimedia timer, else the millisecond tick count. While it
// lives it holds the multimedia timer at its finest period.

#include <cstdint>
#include <vector>

#include "platform/clocks/clocks.h"

class CElapsedTime {
 public:
  CElapsedTime();
  // A copy holds a raise of the timer period of its own, so that every stopwatch lowers
  // exactly what it raised.
  CElapsedTime(const CElapsedTime& other);
  CElapsedTime& operator=(const CElapsedTime& other);
  virtual ~CElapsedTime();

  // Number of the new timer, or -1 when the clock gives no reading.
  std::int32_t StartTimer();
  // Seconds since the timer's lap mark, which moves to now; -1.0 for no such timer or no reading.
  double GetLapTime(std::uint32_t uTimer);
  // Seconds since the timer was started; -1.0 for no such timer or no reading.
  double GetElapsedTime(std::uint32_t uTimer);

 private:
  enum : std::int32_t { kTickCount = 0, kMultimediaTimer = 1, kPerformanceCounter = 2 };

  double Read(std::uint32_t uTimer, bool bLap);

  std::int32_t iClockKind = kTickCount;
  std::uint64_t liCounterMax = ~std::uint64_t{0};
  std::int64_t liFrequency = 0;
  std::vector<std::int64_t> vecLapStartsQpc;
  std::vector<std::int64_t> vecStartsQpc;
  std::vector<std::uint32_t> vecLapStartsMs;
  std::vector<std::uint32_t> vecStartsMs;
  TIMECAPS tcTimerCaps{};
  BOOL bPeriodRaised = FALSE;
};
