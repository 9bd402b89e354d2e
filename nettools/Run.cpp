#include "Run.h"

#include <cstdio>

#include "VehicleRecordD.h"

namespace nettools {

void LineBufferOutput() { std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ); }

void OpenGroup() {
  char address[] = "224.0.5.20:2267";
  char* list[] = {address};
  MulticastOpen<VehicleRecordD>(1, list);
}

float AddMilliseconds(float total, uint32_t milliseconds) {
  return static_cast<float>(static_cast<double>(total) + milliseconds * 0.001);
}

void CloseGroup(float total) {
  MulticastClose<VehicleRecordD>();
  std::fprintf(stderr, "Finished:Total Time = %f \n", static_cast<double>(total));
}

}  // namespace nettools
