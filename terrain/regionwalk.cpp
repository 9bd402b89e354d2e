#include "regionwalk.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <iterator>

#include "support/Truncate.h"

namespace {

// The bounding box starts from these, beyond any corner on the globe.
constexpr double kBoxStart = 99999;

// Whether `degrees` lies within -limit..limit, with the walk's arithmetic and tolerance; false
// for a value that is not a number.
bool OnGlobe(double degrees, double limit) {
  const double post = (degrees + limit) * kPostsPerDegree;
  return post >= -kPostTolerance && post <= 2 * limit * kPostsPerDegree + kPostTolerance;
}

}  // namespace

Region MakeRegion(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                  double lon4, double lat4) {
  Region r;
  r.lon_min = kBoxStart;
  r.lon_max = -kBoxStart;
  r.lat_min = kBoxStart;
  r.lat_max = -kBoxStart;
  for (const double lon : {lon1, lon2, lon3, lon4}) {
    if (lon < r.lon_min) r.lon_min = lon;
    if (lon > r.lon_max) r.lon_max = lon;
  }
  for (const double lat : {lat1, lat2, lat3, lat4}) {
    if (lat < r.lat_min) r.lat_min = lat;
    if (lat > r.lat_max) r.lat_max = lat;
  }
  r.x0 =
      TruncateToInt32(std::ceil((r.lon_min + kLongitudeLimit) * kPostsPerDegree - kPostTolerance));
  r.x1 =
      TruncateToInt32(std::floor((r.lon_max + kLongitudeLimit) * kPostsPerDegree + kPostTolerance));
  r.y0 =
      TruncateToInt32(std::ceil((r.lat_min + kLatitudeLimit) * kPostsPerDegree - kPostTolerance));
  r.y1 =
      TruncateToInt32(std::floor((r.lat_max + kLatitudeLimit) * kPostsPerDegree + kPostTolerance));
  r.tx0 = r.x0 >> kTileShift;
  r.tx1 = r.x1 >> kTileShift;
  r.ty0 = r.y0 >> kTileShift;
  r.ty1 = r.y1 >> kTileShift;
  return r;
}

bool CheckRegion(const char* who, double lon1, double lat1, double lon2, double lat2, double lon3,
                 double lat3, double lon4, double lat4) {
  const double corners[] = {lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4};
  for (size_t i = 0; i < std::size(corners); ++i) {
    const bool longitude = i % 2 == 0;
    if (OnGlobe(corners[i], longitude ? kLongitudeLimit : kLatitudeLimit)) continue;
    // The shortest text that reads back as the value: -1e+09, 180.00001, inf, nan.
    char value[32];
    *std::to_chars(value, value + sizeof value - 1, corners[i]).ptr = '\0';
    std::fprintf(stderr, "%s: region %s %s is off the globe (%s)\n", who,
                 longitude ? "longitude" : "latitude", value, longitude ? "-180..180" : "-90..90");
    return false;
  }
  return true;
}

std::optional<Region> PassRegion(const char* module, double lon1, double lat1, double lon2,
                                 double lat2, double lon3, double lat3, double lon4, double lat4) {
  if (!CheckRegion(module, lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4)) return std::nullopt;
  return MakeRegion(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
}

int64_t Region::TileCount() const {
  const int64_t columns = std::max<int64_t>(0, int64_t{tx1} - tx0 + 1);
  const int64_t rows = std::max<int64_t>(0, int64_t{ty1} - ty0 + 1);
  return columns * rows;
}

PostRange Region::Columns(int32_t tx) const {
  return {tx == tx0 ? (x0 & kTileMask) : 0, tx == tx1 ? (x1 & kTileMask) : kTileMask};
}

PostRange Region::Rows(int32_t ty) const {
  return {ty == ty0 ? (y0 & kTileMask) : 0, ty == ty1 ? (y1 & kTileMask) : kTileMask};
}
