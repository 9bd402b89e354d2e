// tileprint: renders a region of the terrain database into a 24-bit BMP picture.
#include <cstdio>

#include "cmdline.h"
#include "corners.h"
#include "programs.h"
#include "trn_rasterfile.h"

int RunTileprint(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "\n usage: %s long_min long_max lat_min lat_max Outfilename \n", argv[0]);
    return -1;
  }
  const double long_min = ArgToDouble(argv[1]);
  const double long_max = ArgToDouble(argv[2]);
  const double lat_min = ArgToDouble(argv[3]);
  const double lat_max = ArgToDouble(argv[4]);
  const Corners corners{long_min, lat_min, long_max, lat_min, long_min, lat_max, long_max, lat_max};
  if (!corners.Check("tileprint")) return -1;
  std::fprintf(stderr, "long_min = %f \n", long_min);
  std::fprintf(stderr, "long_max = %f \n", long_max);
  std::fprintf(stderr, "lat_min = %f \n", lat_min);
  std::fprintf(stderr, "lat_max = %f \n", lat_max);

  std::fputs("\n*** Processing Bitmap ***\n\n", stdout);
  std::fflush(stdout);
  if (corners.Run(trn_rasterfile, argv[5], 2) == -1) {
    std::fprintf(stderr, "%s: errors encountered while Processing Bitmap\n", "tileprint");
    return -1;
  }
  return 0;
}
