// demimport: puts the elevations of one USGS DEM file into the elevation tiles.
#include <cstdio>

#include "cmdline.h"
#include "corners.h"
#include "demreader.h"
#include "programs.h"
#include "trn_elevation.h"

namespace {

// Runs the elevation pass with the DEM's corners.
int ConvertElevations(int tx, int ty, int ncols, int nrows) {
  const Corners corners = DemCorners();
  corners.Print("=");
  std::printf("\nPhase 1: converting elevations\n\n");
  const std::string grid_name = DemGridFileName(tx, ty, ncols, nrows);
  const int result = corners.Run(trn_elevation, grid_name.c_str(), ncols, nrows);
  if (result == -1) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: error in conversion of elevation\n", "demimport");
    return -1;
  }
  return result;
}

}  // namespace

int RunDemimport(int argc, char** argv) {
  if (!CheckArgCount(argc, argv, 2, "DEM_filename ")) return -1;
  // A DEM whose profiles end early leaves an empty grid file; converting it would overwrite
  // the region's elevations with zeroes.
  if (!ReadDem(argv[1])) return -1;
  const int converted = ConvertElevations(dem.tile_x, dem.tile_y, kDemGridSize, kDemGridSize);
  // The bounds that the grid file's name gives: its tile numbers.
  const double tile_x = dem.tile_x, tile_y = dem.tile_y;
  Bounds{tile_x, tile_x, tile_y, tile_y}.Print();
  // The pass has named the tile that failed; a caller's script must see the failure too.
  return converted == -1 ? -1 : 0;
}
