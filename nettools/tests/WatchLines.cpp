#include "WatchLines.h"

#include <chrono>
#include <thread>

#include "NetWatch.h"
#include "multicast/MulticastTransport.h"
#include "testsupport/CapturedOutput.h"

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
  return kyte::testsupport::CaptureStdout([lines] {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (printed < lines && std::chrono::steady_clock::now() < until) {
      MulticastPoll(CountAndPrint, &netwatch::receiver);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
}

}  // namespace watchlines
