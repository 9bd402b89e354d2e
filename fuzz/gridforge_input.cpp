// gridforge's input grid with its dimensions and region, through gridforge's whole run: the
// input is NumberColumns and NumberRows, LatitudeMin and LongitudeMin (whole degrees), the steps
// to LatitudeMax and to LongitudeMax (-1, 0 or 1 degree, taken modulo 3), all 32-bit, TimeOfDay
// (a double), then the grid's 16-bit values.
//
// The input phase refuses dimensions that the grid file cannot back, so the grid an input
// holds bounds the work; a region of at most four tiles (one square degree) keeps the seven
// phases' honest work small. Every refusal stays reachable: dimensions below 1 or beyond the
// file, bounds off the globe, bounds equal or in the wrong order (steps 0 and -1), a time that
// is not a number.
#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "TerrainFuzz.h"
#include "programs.h"

namespace {

constexpr int64_t kMostTiles = 4;

std::string Text(double value) {
  char text[32];
  *std::to_chars(text, text + sizeof text - 1, value).ptr = '\0';
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kyte::fuzz::FuzzInput in(data, size);
  const int32_t ncols = in.Take<int32_t>();
  const int32_t nrows = in.Take<int32_t>();
  const int32_t lat_min = in.Take<int32_t>();
  const int32_t lon_min = in.Take<int32_t>();
  const int64_t lat_max = int64_t{lat_min} + in.Below(3) - 1;
  const int64_t lon_max = int64_t{lon_min} + in.Below(3) - 1;
  const double time_of_day = in.Take<double>();
  const kyte::fuzz::CornerPoints box =
      kyte::fuzz::Box(lon_min, static_cast<double>(lon_max), lat_min, static_cast<double>(lat_max));
  if (!kyte::fuzz::SmallOrOffTheGlobe(box, kMostTiles)) return 0;

  kyte::fuzz::FreshScratch("gridforge_input");
  kyte::fuzz::WriteFile("grid.i16", in.Rest());
  kyte::fuzz::RunTerrainProgram(
      RunGridforge, {"gridforge", "grid.i16", std::to_string(lat_min), std::to_string(lat_max),
                     std::to_string(lon_min), std::to_string(lon_max), std::to_string(ncols),
                     std::to_string(nrows), Text(time_of_day)});
  return 0;
}
