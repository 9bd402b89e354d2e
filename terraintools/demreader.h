// Reader of USGS DEM files in their ASCII form (record A header, one record B per profile):
// takes the corners and the profiles into a 1201 x 1201 grid and writes it as an elevation grid
// file named after the DEM's south-west tile numbers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "corners.h"

inline constexpr int kDemGridSize = 1201;

struct DemState {
  // Corners in degrees, longitude then latitude: south-west, north-west, north-east, south-east.
  double long_00 = 0, lat_00 = 0;
  double long_r0 = 0, lat_r0 = 0;
  double long_rc = 0, lat_rc = 0;
  double long_0c = 0, lat_0c = 0;
  int DEM_a_row = 0, DEM_a_col = 0;
  int tile_x = 0, tile_y = 0;  // tile numbers of the south-west corner, for the grid file name
  // grid[row * kDemGridSize + column]: profile p fills column p - 1, its j-th elevation row j - 1.
  std::vector<int32_t> grid = std::vector<int32_t>(kDemGridSize * kDemGridSize, 0);
};

// The widest span of a DEM's corners, in degrees of longitude and of latitude each. The largest
// USGS DEMs, the 1-degree ones, cover 1 x 1 degree (the 30-minute and 7.5-minute ones less);
// twice that leaves a wide margin for real files and their corners, and still bounds a DEM's
// region to 4 x 4 tiles (about 67 MB of tiles).
inline constexpr double kMaxDemSpanDegrees = 2;

// The process-wide DEM, filled afresh by each ReadDem.
extern DemState dem;

// The DEM's corners as the elevation pass takes them: south-west, south-east, north-west,
// north-east (record 0 of the grid along the southern edge, values eastward).
Corners DemCorners();

// Tile number of a whole-degree south-west coordinate: (degrees + offset) x 9830400 is the
// position in 1/8192 post, so >> 23 is the tile and bit 20 the post column's bit 7.
int DemTileNumber(double degrees, int offset);

// "%03d_%03d.%04dx%04d" with the tile numbers and the grid's dimensions.
std::string DemGridFileName(int tx, int ty, int ncols, int nrows);

// Reads the DEM and writes its grid file: true after the grid file has been written. Returns
// false after its message when the file cannot be opened, ends early, holds a header value that
// does not convert, an integer beyond the int range, a profile count below 1, corners off the
// globe or corners that span more than kMaxDemSpanDegrees, when a profile's header value does
// not convert, when a profile elevation cannot be read ("elev_dat"), when the run's files do not
// pass CheckDemimportFiles: all of them before the grid file is created. Returns false, too, when
// the grid file cannot be created or written whole; one that was not written whole is removed.
bool ReadDem(const char* filename);
