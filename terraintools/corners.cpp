#include "corners.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "cmdline.h"
#include "tilenames.h"

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

void Corners::NoteNoTileExists(const char* program, Tiles tiles, const char* what_follows) const {
  const Region region = Walked();
  const int64_t count = region.TileCount();
  if (count == 0) return;
  const bool color = tiles == Tiles::kElevationAndColor;
  const auto exists = [](const std::string& name) {
    std::error_code ignored;
    return std::filesystem::exists(name, ignored);
  };
  const int found = WalkRegion(region, [&](const TileSpan& t) {
    const bool any =
        exists(ElevationTileName(t.tx, t.ty)) || (color && exists(ColorTileName(t.tx, t.ty)));
    return any ? 1 : 0;  // the walk stops at the first tile found
  });
  if (found != 0) return;
  const std::string first = ElevationTileName(region.tx0, region.ty0);
  const std::string tiles_text = count == 1 ? "1 tile, " + first
                                            : std::to_string(count) + " tiles, " + first + " to " +
                                                  ElevationTileName(region.tx1, region.ty1);
  std::fprintf(stderr, "%s: no %s tile of the region exists in the current directory (%s): %s\n",
               program, color ? "elevation or colour" : "elevation", tiles_text.c_str(),
               what_follows);
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
