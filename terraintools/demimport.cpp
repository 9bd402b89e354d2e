// demimport: puts the elevations of one USGS DEM file into the elevation tiles.
#include <cstdio>

#include "demreader.h"
#include "programs.h"
#include "trn_elevation.h"

namespace {

// Runs the elevation pass with the DEM's corners (south-west, south-east, north-west,
// north-east: record 0 of the grid along the southern edge, values eastward).
int ConvertElevations(int tx, int ty, int ncols, int nrows) {
  std::fprintf(stderr, "long_00=%f \n", dem.long_00);
  std::fprintf(stderr, "lat_00=%f \n", dem.lat_00);
  std::fprintf(stderr, "long_0c=%f \n", dem.long_0c);
  std::fprintf(stderr, "lat_0c=%f \n", dem.lat_0c);
  std::fprintf(stderr, "long_r0=%f \n", dem.long_r0);
  std::fprintf(stderr, "lat_r0=%f \n", dem.lat_r0);
  std::fprintf(stderr, "long_rc=%f \n", dem.long_rc);
  std::fprintf(stderr, "lat_rc=%f \n", dem.lat_rc);
  std::printf("\nPhase 1: converting elevations\n\n");
  const std::string grid_name = DemGridFileName(tx, ty, ncols, nrows);
  const int result =
      trn_elevation(dem.long_00, dem.lat_00, dem.long_0c, dem.lat_0c, dem.long_r0, dem.lat_r0,
                    dem.long_rc, dem.lat_rc, grid_name.c_str(), ncols, nrows);
  if (result == -1) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: error in conversion of elevation\n", "demimport");
    return -1;
  }
  return result;
}

}  // namespace

int RunDemimport(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "\n usage: %s DEM_filename \n", argv[0]);
    return -1;
  }
  // A DEM whose profiles end early leaves an empty grid file; converting it would overwrite
  // the region's elevations with zeroes.
  if (!ReadDem(argv[1])) return -1;
  const int converted = ConvertElevations(dem.tile_x, dem.tile_y, kDemGridSize, kDemGridSize);
  std::fprintf(stderr, "long_min = %f \n", static_cast<double>(dem.tile_x));
  std::fprintf(stderr, "long_max = %f \n", static_cast<double>(dem.tile_x));
  std::fprintf(stderr, "lat_min = %f \n", static_cast<double>(dem.tile_y));
  std::fprintf(stderr, "lat_max = %f \n", static_cast<double>(dem.tile_y));
  // The pass has named the tile that failed; a caller's script must see the failure too.
  return converted == -1 ? -1 : 0;
}
