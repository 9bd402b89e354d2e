#include "corners.h"

#include <cstdio>

#include "cmdline.h"

namespace {

void PrintValue(const char* name, const char* equals, double value) {
  std::fprintf(stderr, "%s%s%f \n", name, equals, value);
}

}  // namespace

void Corners::Print(const char* equals) const {
  PrintValue("long_00", equals, lon1);
  PrintValue("lat_00", equals, lat1);
  PrintValue("long_0c", equals, lon2);
  PrintValue("lat_0c", equals, lat2);
  PrintValue("long_r0", equals, lon3);
  PrintValue("lat_r0", equals, lat3);
  PrintValue("long_rc", equals, lon4);
  PrintValue("lat_rc", equals, lat4);
}

void Corners::RefuseSpan(const char* program, const char* input, const char* reason) const {
  const Region region = Walked();
  std::fprintf(stderr, "%s: region of '%s' spans %g x %g degrees: %s\n", program, input,
               region.lon_max - region.lon_min, region.lat_max - region.lat_min, reason);
}

Bounds Bounds::FromArgs(char** argv) {
  return Bounds{ArgToDouble(argv[1]), ArgToDouble(argv[2]), ArgToDouble(argv[3]),
                ArgToDouble(argv[4])};
}

void Bounds::Print() const {
  PrintValue("long_min", " = ", long_min);
  PrintValue("long_max", " = ", long_max);
  PrintValue("lat_min", " = ", lat_min);
  PrintValue("lat_max", " = ", lat_max);
}
