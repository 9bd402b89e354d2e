// tintshade: finishes a region whose elevations and colours are in the tiles: shading, block
// records, the 8-bit palette and, when asked, the level files.
#include <cstdio>

#include "cmdline.h"
#include "corners.h"
#include "preflight.h"
#include "programs.h"
#include "trn_color_post.h"
#include "trn_elevation_post.h"
#include "trn_levels.h"
#include "trn_shading.h"

namespace {

// Zero-intensity colour blue 180, green 195, red 190; full intensity blue 125, green 155, red 150.
constexpr uint8_t kShadeColors[kShadeColorsSize] = {0, 180, 195, 190, 0, 125, 155, 150};
constexpr double kTimeOfDay = 14.5;
constexpr double kGamma = 2.5;

void Header(const char* line) {
  std::fputs(line, stdout);
  std::fflush(stdout);
}

// Prints a failed phase's line: -1, for the run to return.
int Fail(const char* format) {
  std::fprintf(stderr, format, "tintshade");
  return -1;
}

}  // namespace

int RunTintshade(int argc, char** argv) {
  if (!CheckArgCount(argc, argv, 6, "long_min long_max lat_min lat_max levels")) return -1;
  if (!CheckNumbers("tintshade", argv, kBoxNumbers) ||
      !CheckNumbers("tintshade", argv, kTintshadeLevels))
    return -1;
  const Corners corners = Bounds::FromArgs(argv).ToCorners();
  const int levels = ArgToInt(argv[5]);
  if (!corners.Check("tintshade")) return -1;
  if (!CheckTintshadeFiles(corners, levels != 0)) return -1;
  corners.NoteNoTileExists("tintshade", Corners::Tiles::kElevationAndColor,
                           "the passes make them from zeroes");

  Header("\nPhase 2: calculate shading\n\n");
  if (corners.Run(trn_shading, kShadeColors, kTimeOfDay) == -1)
    return Fail("%s: error in calculating shading\n");

  Header("\nPhase 3: elevation postprocessing\n\n");
  if (corners.Run(trn_elevation_post) == -1) return Fail("%s: error in elevation postprocessing\n");

  Header("\nPhase 5: 8 bit color postprocessing\n\n");
  if (corners.Run(trn_color_post, kGamma, kColorPostPaletteB) == -1)
    return Fail("%s: error in 8 bit color postprocessing\n");

  if (levels == 0) return 0;

  Header(
      "\nPhase 6: Converting multiple detail level terrain file into lower detail level files\n\n");
  // Ends the process itself unless a write or close of a level file, a tile read or a tile
  // buffer fails.
  corners.Run(trn_levels_exiting);
  return Fail(
      "%s: error converting multiple detail level terrain file into lower detail level files\n");
}
