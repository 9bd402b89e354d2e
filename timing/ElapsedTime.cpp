#include "ElapsedTime.h"

namespace {

constexpr std::uint32_t kMsMax = 0xFFFFFFFFu;

// Counts from mark to reading; a reading below the mark means the clock wrapped, and the
// count is then (max - mark) + reading, one less than the modular difference. Unsigned
// arithmetic keeps both cases defined for every pair of readings.
std::uint64_t CounterElapsed(std::int64_t mark, std::int64_t reading, std::uint64_t max) {
  const auto m = static_cast<std::uint64_t>(mark);
  const auto r = static_cast<std::uint64_t>(reading);
  if (reading >= mark) return r - m;
  return (max - m) + r;
}

std::uint32_t MsElapsed(std::uint32_t mark, std::uint32_t reading) {
  if (reading >= mark) return reading - mark;
  return (kMsMax - mark) + reading;
}

}  // namespace

CElapsedTime::CElapsedTime() {
  bPeriodRaised = TRUE;
  if (timeGetDevCaps(&tcTimerCaps, sizeof(TIMECAPS)) == TIMERR_STRUCT ||
      tcTimerCaps.wPeriodMax == 0) {
    bPeriodRaised = FALSE;
  }
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  liFrequency = frequency.QuadPart;
  LARGE_INTEGER counter{};
  if (QueryPerformanceCounter(&counter) && liFrequency != 0) {
    iClockKind = kPerformanceCounter;
  } else {
    iClockKind = bPeriodRaised ? kMultimediaTimer : kTickCount;
  }
  if (bPeriodRaised) timeBeginPeriod(tcTimerCaps.wPeriodMin);
}

CElapsedTime::CElapsedTime(const CElapsedTime& other)
    : iClockKind(other.iClockKind),
      liCounterMax(other.liCounterMax),
      liFrequency(other.liFrequency),
      vecLapStartsQpc(other.vecLapStartsQpc),
      vecStartsQpc(other.vecStartsQpc),
      vecLapStartsMs(other.vecLapStartsMs),
      vecStartsMs(other.vecStartsMs),
      tcTimerCaps(other.tcTimerCaps),
      bPeriodRaised(other.bPeriodRaised) {
  if (bPeriodRaised) timeBeginPeriod(tcTimerCaps.wPeriodMin);
}

CElapsedTime& CElapsedTime::operator=(const CElapsedTime& other) {
  if (this == &other) return *this;
  if (other.bPeriodRaised) timeBeginPeriod(other.tcTimerCaps.wPeriodMin);
  if (bPeriodRaised) timeEndPeriod(tcTimerCaps.wPeriodMin);
  iClockKind = other.iClockKind;
  liCounterMax = other.liCounterMax;
  liFrequency = other.liFrequency;
  vecLapStartsQpc = other.vecLapStartsQpc;
  vecStartsQpc = other.vecStartsQpc;
  vecLapStartsMs = other.vecLapStartsMs;
  vecStartsMs = other.vecStartsMs;
  tcTimerCaps = other.tcTimerCaps;
  bPeriodRaised = other.bPeriodRaised;
  return *this;
}

CElapsedTime::~CElapsedTime() {
  if (bPeriodRaised) timeEndPeriod(tcTimerCaps.wPeriodMin);
}

std::int32_t CElapsedTime::StartTimer() {
  if (iClockKind == kPerformanceCounter) {
    LARGE_INTEGER reading{};
    if (!QueryPerformanceCounter(&reading)) return -1;
    vecLapStartsQpc.push_back(reading.QuadPart);
    vecStartsQpc.push_back(reading.QuadPart);
    return static_cast<std::int32_t>(vecStartsQpc.size()) - 1;
  }
  const std::uint32_t reading = iClockKind == kMultimediaTimer ? timeGetTime() : GetTickCount();
  vecLapStartsMs.push_back(reading);
  vecStartsMs.push_back(reading);
  return static_cast<std::int32_t>(vecStartsMs.size()) - 1;
}

double CElapsedTime::GetLapTime(std::uint32_t uTimer) { return Read(uTimer, true); }

double CElapsedTime::GetElapsedTime(std::uint32_t uTimer) { return Read(uTimer, false); }

double CElapsedTime::Read(std::uint32_t uTimer, bool bLap) {
  if (iClockKind == kPerformanceCounter) {
    if (uTimer >= vecStartsQpc.size()) return -1.0;
    LARGE_INTEGER reading{};
    if (!QueryPerformanceCounter(&reading)) return -1.0;
    std::int64_t& mark = bLap ? vecLapStartsQpc[uTimer] : vecStartsQpc[uTimer];
    const std::uint64_t count = CounterElapsed(mark, reading.QuadPart, liCounterMax);
    if (bLap) mark = reading.QuadPart;
    return static_cast<double>(count) / static_cast<double>(liFrequency);
  }
  if (uTimer >= vecStartsMs.size()) return -1.0;
  const std::uint32_t reading = iClockKind == kMultimediaTimer ? timeGetTime() : GetTickCount();
  std::uint32_t& mark = bLap ? vecLapStartsMs[uTimer] : vecStartsMs[uTimer];
  const std::uint32_t count = MsElapsed(mark, reading);
  if (bLap) mark = reading;
  return static_cast<double>(count) / 1000.0;
}
