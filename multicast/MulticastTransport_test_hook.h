#pragma once
// Test hook of the multicast transport: the calendar time that MakeRandomId seeds its draw with.
//
//   multicast_test::ScopedCalendarTime at(1796963347);  // seconds since 1970-01-01 UTC
//   CMulticastTransport<VehicleRecord>::MakeRandomId();  // the draw of that second: 2
//
// The real time returns when the scope ends. Scopes do not nest: a second one replaces the
// first until it ends. Not thread-safe.

#include <ctime>

namespace multicast_test {

class ScopedCalendarTime {
 public:
  explicit ScopedCalendarTime(std::time_t seconds);
  ~ScopedCalendarTime();
  ScopedCalendarTime(const ScopedCalendarTime&) = delete;
  ScopedCalendarTime& operator=(const ScopedCalendarTime&) = delete;

 private:
  std::time_t seconds_;
};

}  // namespace multicast_test
