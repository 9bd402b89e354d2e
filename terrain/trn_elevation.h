// Elevation pass: lays an elevation grid file over the region of four corners and stores the
// bilinearly interpolated elevation of every covered post into the elevation tiles.
#pragma once

// Corners: g(0, 0) at corner 1, g(ncols - 1, nrows - 1) at corner 4. Returns 0 when every
// tile of the region has been written, -1 after a reported failure.
int trn_elevation(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                  double lon4, double lat4, const char* grid_name, int ncols, int nrows);
