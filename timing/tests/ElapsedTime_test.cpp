#include "ElapsedTime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <thread>

#include "platform/clocks/clocks_test_hook.h"

namespace {

enum class Kind { kCounter, kMultimedia, kTick };

// Installs one clock kind whose readings the test sets; the other clocks give readings far
// off, so that a reading taken from the wrong clock shows.
class FedClocks {
 public:
  explicit FedClocks(Kind kind, std::int64_t frequency = 10000000) {
    clocks_test::ClockHooks hooks;
    hooks.bCounterPresent = kind == Kind::kCounter;
    hooks.liFrequency = frequency;
    hooks.bMultimediaTimerPresent = kind != Kind::kTick;
    hooks.counter = clocks_test::CounterReading(counter, &counterWorks);
    hooks.timeGetTime = [this, kind] { return kind == Kind::kMultimedia ? ms : 0xDEAD0000u; };
    hooks.tickCount = [this, kind] { return kind == Kind::kTick ? ms : 0xBEEF0000u; };
    scope_.emplace(std::move(hooks));
  }
  // Sets the active clock of `kind` to `value` (counts or milliseconds).
  void Set(Kind kind, std::int64_t value) {
    if (kind == Kind::kCounter) {
      counter = value;
    } else {
      ms = static_cast<std::uint32_t>(value);
    }
  }

  std::int64_t counter = 0;
  bool counterWorks = true;
  std::uint32_t ms = 0;

 private:
  std::optional<clocks_test::ScopedClocks> scope_;
};

class ElapsedTimeKinds : public testing::TestWithParam<Kind> {};

TEST_P(ElapsedTimeKinds, ReadingsOfATimerThatDoesNotExistAreMinusOne) {
  FedClocks clocks(GetParam());
  CElapsedTime watch;
  EXPECT_EQ(watch.GetLapTime(0), -1.0);
  EXPECT_EQ(watch.GetElapsedTime(0), -1.0);
  EXPECT_EQ(watch.StartTimer(), 0);
  EXPECT_EQ(watch.GetElapsedTime(1), -1.0);
  EXPECT_EQ(watch.GetLapTime(0xFFFFFFFFu), -1.0);
  EXPECT_EQ(watch.StartTimer(), 1);
}

TEST_P(ElapsedTimeKinds, TwoLapsInARowThenTheTotal) {
  const Kind kind = GetParam();
  // Counter at 10 MHz: 1 ms is 10000 counts.
  const std::int64_t unit = kind == Kind::kCounter ? 10000 : 1;
  FedClocks clocks(kind);
  clocks.Set(kind, 1000 * unit);
  CElapsedTime watch;
  ASSERT_EQ(watch.StartTimer(), 0);
  clocks.Set(kind, 2500 * unit);
  EXPECT_DOUBLE_EQ(watch.GetLapTime(0), 1.5);
  clocks.Set(kind, 2750 * unit);
  EXPECT_DOUBLE_EQ(watch.GetLapTime(0), 0.25);
  EXPECT_DOUBLE_EQ(watch.GetElapsedTime(0), 1.75);
  EXPECT_DOUBLE_EQ(watch.GetElapsedTime(0), 1.75);  // a total moves no mark
  EXPECT_DOUBLE_EQ(watch.GetLapTime(0), 0.0);
}

TEST_P(ElapsedTimeKinds, ReadingsAcrossTheWrapOfTheClock) {
  const Kind kind = GetParam();
  FedClocks clocks(kind);
  CElapsedTime watch;
  if (kind == Kind::kCounter) {
    // From just below the top of the signed counter to just above its bottom: (max - m) + r.
    clocks.Set(kind, std::numeric_limits<std::int64_t>::max() - 1250000);
    ASSERT_EQ(watch.StartTimer(), 0);
    clocks.Set(kind, std::numeric_limits<std::int64_t>::min() + 1250000);
    EXPECT_DOUBLE_EQ(watch.GetElapsedTime(0), 0.25);
    EXPECT_DOUBLE_EQ(watch.GetLapTime(0), 0.25);
    clocks.Set(kind, std::numeric_limits<std::int64_t>::min() + 3750000);
    EXPECT_DOUBLE_EQ(watch.GetLapTime(0), 0.25);
  } else {
    clocks.Set(kind, 4294967040u);
    ASSERT_EQ(watch.StartTimer(), 0);
    clocks.Set(kind, 256);
    EXPECT_DOUBLE_EQ(watch.GetElapsedTime(0), 0.511);
    EXPECT_DOUBLE_EQ(watch.GetLapTime(0), 0.511);
    clocks.Set(kind, 1756);
    EXPECT_DOUBLE_EQ(watch.GetLapTime(0), 1.5);
  }
}

TEST_P(ElapsedTimeKinds, HoldsOneRaiseOfTheTimerPeriodPerStopwatchAndCopy) {
  const Kind kind = GetParam();
  FedClocks clocks(kind);
  const int before = clocks_test::RaisedPeriods();
  const int each = kind == Kind::kTick ? 0 : 1;  // no multimedia timer, nothing to raise
  {
    CElapsedTime watch;
    EXPECT_EQ(clocks_test::RaisedPeriods(), before + each);
    {
      CElapsedTime copy(watch);
      CElapsedTime assigned;
      assigned = copy;
      EXPECT_EQ(clocks_test::RaisedPeriods(), before + 3 * each);
    }
    EXPECT_EQ(clocks_test::RaisedPeriods(), before + each);
  }
  EXPECT_EQ(clocks_test::RaisedPeriods(), before);
}

INSTANTIATE_TEST_SUITE_P(AllClocks, ElapsedTimeKinds,
                         testing::Values(Kind::kCounter, Kind::kMultimedia, Kind::kTick),
                         [](const testing::TestParamInfo<Kind>& info) {
                           switch (info.param) {
                             case Kind::kCounter:
                               return "PerformanceCounter";
                             case Kind::kMultimedia:
                               return "MultimediaTimer";
                             default:
                               return "TickCount";
                           }
                         });

// The clocks layer's count under the stopwatches: ending a period that nobody raised is refused
// and counts nothing, so that it cannot cancel a later stopwatch's raise in advance.
TEST(TimerPeriod, EndingAPeriodNotRaisedIsRefusedAndCountsNothing) {
  ASSERT_EQ(clocks_test::RaisedPeriods(), 0) << "a raise of another test is still held";
  EXPECT_EQ(timeEndPeriod(1), TIMERR_NOCANDO);
  EXPECT_EQ(clocks_test::RaisedPeriods(), 0);
  ASSERT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(timeEndPeriod(1), TIMERR_NOCANDO);  // one raise is ended once
  EXPECT_EQ(clocks_test::RaisedPeriods(), 0);
  {
    CElapsedTime watch;
    EXPECT_EQ(clocks_test::RaisedPeriods(), 1);
  }
  EXPECT_EQ(clocks_test::RaisedPeriods(), 0);
}

TEST(ElapsedTime, ChoosesTheFirstClockThatWorks) {
  struct Case {
    const char* what;
    bool counterPresent;
    std::int64_t frequency;
    bool counterWorks;
    bool timerPresent;
    UINT periodMax;
    const char* expected;
  };
  const Case cases[] = {
      {"all present", true, 10000000, true, true, 1000000, "counter"},
      {"counter only", true, 10000000, true, false, 1000000, "counter"},
      {"no counter", false, 0, false, true, 1000000, "timeGetTime"},
      {"counter fails", true, 10000000, false, true, 1000000, "timeGetTime"},
      {"nothing", false, 0, false, false, 1000000, "GetTickCount"},
      {"timer reports period max 0", false, 0, false, true, 0, "GetTickCount"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const char* used = "none";
    clocks_test::ClockHooks hooks;
    hooks.bCounterPresent = c.counterPresent;
    hooks.liFrequency = c.frequency;
    bool counterWorks = c.counterWorks;
    hooks.counter = [&](std::int64_t& reading) {
      reading = 0;
      if (counterWorks) used = "counter";
      return counterWorks;
    };
    hooks.bMultimediaTimerPresent = c.timerPresent;
    hooks.tcCaps = TIMECAPS{1, c.periodMax};
    hooks.timeGetTime = [&] {
      used = "timeGetTime";
      return 0u;
    };
    hooks.tickCount = [&] {
      used = "GetTickCount";
      return 0u;
    };
    clocks_test::ScopedClocks scope(std::move(hooks));
    CElapsedTime watch;
    used = "none";
    counterWorks = true;  // a clock not chosen at construction stays unused later
    watch.StartTimer();
    EXPECT_STREQ(used, c.expected);
  }
}

TEST(ElapsedTime, AFailingCounterAddsNoTimerAndMovesNoMark) {
  FedClocks clocks(Kind::kCounter);
  CElapsedTime watch;
  clocks.counterWorks = false;
  EXPECT_EQ(watch.StartTimer(), -1);
  clocks.counterWorks = true;
  EXPECT_EQ(watch.StartTimer(), 0);  // the failed start added nothing
  clocks.Set(Kind::kCounter, 5000000);
  clocks.counterWorks = false;
  EXPECT_EQ(watch.GetLapTime(0), -1.0);
  EXPECT_EQ(watch.GetElapsedTime(0), -1.0);
  clocks.counterWorks = true;
  EXPECT_DOUBLE_EQ(watch.GetLapTime(0), 0.5);
}

TEST(ElapsedTime, RealClocksAdvance) {
  CElapsedTime watch;
  ASSERT_EQ(watch.StartTimer(), 0);
  const double first = watch.GetElapsedTime(0);
  const double second = watch.GetElapsedTime(0);
  EXPECT_GE(first, 0.0);
  EXPECT_GE(second, first);
  EXPECT_LT(second, 60.0);
}

TEST(ElapsedTime, EachRealClockKeepsTimeWithTheSteadyClock) {
  // Each clock left unhooked and chosen by taking away the ones before it. The bounds are wide
  // enough for a loaded machine and narrow enough for a clock in the wrong unit (a thousand
  // times off).
  struct Case {
    const char* what;
    bool counterPresent;
    bool timerPresent;
  };
  const Case cases[] = {
      {"performance counter and its frequency", true, true},
      {"timeGetTime", false, true},
      {"GetTickCount", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clocks_test::ClockHooks hooks;
    hooks.bCounterPresent = c.counterPresent;
    hooks.bMultimediaTimerPresent = c.timerPresent;
    clocks_test::ScopedClocks scope(std::move(hooks));
    CElapsedTime watch;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(watch.StartTimer(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double seconds = watch.GetElapsedTime(0);
    const double steady =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(seconds, steady / 2);
    EXPECT_LT(seconds, steady * 10);
  }
}

}  // namespace
