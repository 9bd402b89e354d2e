#include "WatchLines.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "NetWatch.h"
#include "multicast/MulticastTransport.h"

namespace watchlines {

namespace {

int printed = 0;

int CountAndPrint(VehicleRecordD* record) {
  ++printed;
  return netwatch::PrintVehicle(record);
}

}  // namespace

std::string PollLines(int lines) {
  printed = 0;
  testing::internal::CaptureStdout();
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (printed < lines && std::chrono::steady_clock::now() < until) {
    MulticastPoll(CountAndPrint, &netwatch::receiver);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return testing::internal::GetCapturedStdout();
}

}  // namespace watchlines
