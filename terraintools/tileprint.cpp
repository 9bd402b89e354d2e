// tileprint: renders a region of the terrain database into a 24-bit BMP picture.
#include <cstdio>

#include "cmdline.h"
#include "corners.h"
#include "preflight.h"
#include "programs.h"
#include "trn_rasterfile.h"

int RunTileprint(int argc, char** argv) {
  if (!CheckArgCount(argc, argv, 6, "long_min long_max lat_min lat_max Outfilename ")) return -1;
  if (!CheckNumbers("tileprint", argv, kBoxNumbers)) return -1;
  const Bounds bounds = Bounds::FromArgs(argv);
  const Corners corners = bounds.ToCorners();
  if (!corners.Check("tileprint")) return -1;
  if (!CheckTileprintFiles(corners, argv[5])) return -1;
  bounds.Print();
  corners.NoteNoTileExists("tileprint", Corners::Tiles::kElevation, "they read as zeroes");

  std::fputs("\n*** Processing Bitmap ***\n\n", stdout);
  std::fflush(stdout);
  if (corners.Run(trn_rasterfile, argv[5], 2) == -1) {
    std::fprintf(stderr, "%s: errors encountered while Processing Bitmap\n", "tileprint");
    return -1;
  }
  return 0;
}
