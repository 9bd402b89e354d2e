// gridforge: one raw 16-bit elevation grid over a box of whole degrees becomes a complete terrain
// database in the current directory: tiles, shading, block records, palette, levels and a picture.
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "cmdline.h"
#include "corners.h"
#include "gridforge_input.h"
#include "gridmap.h"
#include "preflight.h"
#include "programs.h"
#include "support/PrintableText.h"
#include "trn_color.h"
#include "trn_color_post.h"
#include "trn_elevation.h"
#include "trn_elevation_post.h"
#include "trn_levels.h"
#include "trn_rasterfile.h"
#include "trn_shading.h"

namespace {

constexpr size_t kPictureNameSize = 1024;
constexpr int kColorPostFlags = kColorPostPaletteB | kColorPostZeroIsSea;  // 0x102

// Zero-intensity colour blue 20, green 55, red 40; full intensity blue 105, green 180, red 140.
constexpr uint8_t kShadeColors[kShadeColorsSize] = {0, 20, 55, 40, 0, 105, 180, 140};

// Prints the usage: -1, for the run to return.
int Usage() {
  GridforgeMessage("\n usage: ",
                   "gridforge(FileName,LatitudeMin,LatitudeMax,LongitudeMin,LongitudeMax,"
                   "NumberColumns,NumberRows,TimeOfDay)");
  return -1;
}

// Whether the southern bound lies below the northern and the western below the eastern, in the
// whole degrees that the run uses; else prints "gridforge: <min> '<text>' is not below <max>
// '<text>' in whole degrees (<min> and <max>)" for the first pair that does not. A pair in the
// wrong order would build the region turned half a turn, and an equal pair a region one post
// wide.
bool CheckBoundOrder(char** argv) {
  // LatitudeMin and LatitudeMax, then LongitudeMin and LongitudeMax.
  const NumberArg* const bounds = kGridforgeNumbers;
  for (const auto& [min, max] : {std::pair{bounds[0], bounds[1]}, {bounds[2], bounds[3]}}) {
    const int low = ArgToInt(argv[min.position]), high = ArgToInt(argv[max.position]);
    if (low < high) continue;
    std::fprintf(stderr, "gridforge: %s '%s' is not below %s '%s' in whole degrees (%d and %d)\n",
                 min.name, PrintableText(argv[min.position]).c_str(), max.name,
                 PrintableText(argv[max.position]).c_str(), low, high);
    return false;
  }
  return true;
}

}  // namespace

int RunGridforge(int argc, char** argv) {
  if (argc != 9) return Usage();
  if (!CheckNumbers("gridforge", argv, kGridforgeNumbers) || !CheckBoundOrder(argv)) return -1;
  const char* file_name = argv[1];
  // Whole degrees: the bounds go through int before they become doubles.
  const double lat_min = ArgToInt(argv[2]);
  const double lat_max = ArgToInt(argv[3]);
  const double lon_min = ArgToInt(argv[4]);
  const double lon_max = ArgToInt(argv[5]);
  const int ncols = ArgToInt(argv[6]);
  const int nrows = ArgToInt(argv[7]);
  const double time_of_day = ArgToDouble(argv[8]);
  // Fewer than one record or value forms no grid that the passes could place.
  for (const auto& [name, value] : {std::pair{"NumberColumns", ncols}, {"NumberRows", nrows}}) {
    if (value < 1) {
      GridforgeMessage("\n error: ", name, " below 1: ", std::to_string(value).c_str());
      return Usage();
    }
  }
  // The passes hold the whole grid in one buffer: a larger grid could never be converted, and
  // the input phase would write it for as long as the input lasts.
  if (const uint64_t bytes = GridBytes(ncols, nrows); bytes > kMaxBufferBytes) {
    GridforgeMessage("\n error: NumberColumns x NumberRows too large: ",
                     std::to_string(ncols).c_str(), " x ", std::to_string(nrows).c_str(),
                     " values, ", std::to_string(bytes).c_str(), " bytes, above the ",
                     std::to_string(kMaxBufferBytes).c_str(), " that the elevation pass can load");
    return Usage();
  }

  // North-west, north-east, south-west, south-east.
  const auto box = [](double south, double north, double west, double east) {
    return Corners{west, north, east, north, west, south, east, south};
  };
  const Corners corners = box(lat_min, lat_max, lon_min, lon_max);
  // The bounds are checked as written: cut to whole degrees, "-90.5" would pass. A bound cut
  // lies no farther from 0 than as written, so the cut ones lie on the globe too.
  const Corners written =
      box(ArgToDouble(argv[2]), ArgToDouble(argv[3]), ArgToDouble(argv[4]), ArgToDouble(argv[5]));
  if (!written.Check("gridforge")) return -1;
  const std::string picture_name = std::string(file_name) + ".bmp";
  if (!CheckGridforgeFiles(file_name, corners, ncols, nrows, picture_name)) return -1;

  if (RunInputPhase(file_name, ncols, nrows) != 0) return -1;
  // Every phase runs whatever the phases before it gave, but a run in which one failed does
  // not end with status 0.
  bool failed = false;
  auto phase = [&failed](int result) {
    failed = failed || result == -1;
    return result;
  };

  GridforgeMessage("\nPhase 1: convert elevations\n");
  if (phase(corners.Run(trn_elevation, kTempElevations, ncols, nrows)) == -1) {
    GridforgeMessage("\n error:  error converting data!");
    std::remove(kTempElevations);
  }

  GridforgeMessage("\nPhase 2: convert Pseudocolors\n");
  phase(corners.Run(trn_color, kTempColors, ncols, nrows, 1.0));
  std::remove(kTempElevations);
  std::remove(kTempColors);

  GridforgeMessage("\nPhase 3: calculate shading\n");
  if (phase(corners.Run(trn_shading, kShadeColors, time_of_day)) == -1)
    GridforgeMessage("\n error:  error in calculating shading!");

  GridforgeMessage("\nPhase 4: elevation postprocessing\n");
  if (phase(corners.Run(trn_elevation_post)) == -1)
    GridforgeMessage("\n error:  error in elevation postprocessing!");

  GridforgeMessage("\nPhase 5: 8 bit color postprocessing\n");
  if (phase(corners.Run(trn_color_post, 1.0, kColorPostFlags)) == -1)
    GridforgeMessage("\n error: error in 8 bit color postprocessing!");

  GridforgeMessage(
      "\nPhase 6: Converting multiple detail level terrain file into lower detail level files\n");
  if (phase(corners.Run(trn_levels)) == -1)
    GridforgeMessage(
        "\n error:  error converting multiple detail level terrain file into lower detail level "
        "files!");

  GridforgeMessage("\nPhase 7: *** Processing Bitmap ***\n");
  if (picture_name.size() >= kPictureNameSize) {
    failed = true;
    GridforgeMessage("\n error:  picture name longer than 1023 characters: '", picture_name.c_str(),
                     "'");
  } else if (phase(corners.Run(trn_rasterfile, picture_name.c_str(), 2)) == -1) {
    GridforgeMessage("\n error:  error processing bitmap!");
  }
  return failed ? -1 : 0;
}
