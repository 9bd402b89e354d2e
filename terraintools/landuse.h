// landimport's reader: a USGS land-use composite theme grid (CTG) of 80-character records
// becomes a colour grid file, one colour per land-use code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Colour of a USGS land use and land cover code: red, green, blue, alpha 250 in file order.
uint32_t LandUseColor(int code);

// What the reader leaves for the caller.
struct CtgGrid {
  int rows = 0;     // grid rows, south to north
  int columns = 0;  // cells of a row, west to east
  // Record 3's bounds as stored: units of 0.0001 degree, longitudes positive to the west.
  int south = 0, west = 0, north = 0, east = 0;
  std::string grid_name;        // "%s.%04dx%04d"
  std::vector<uint8_t> colors;  // little-endian colour values, as the grid file holds them
  int count = 0;                // the data records stored, a cell named twice counted twice
  int cells = 0;                // the cells that the records gave a colour
};

// The most cells a CTG header may give its grid: 4096 x 4096, a grid file of 64 MiB. A land-use
// quadrangle of 1 x 2 degrees in cells of 200 m has about 600 x 1000 cells.
inline constexpr uint32_t kMaxCtgGridCells = 4096u * 4096u;

// Reads the CTG file and returns what it read; nothing after its message on a failure (the
// program then ends with status -1). A header whose row or column count is below 1 or whose grid
// has more than kMaxCtgGridCells cells is refused before the grid is allocated. Makes no file:
// the caller checks the region first.
std::optional<CtgGrid> ReadCtg(const char* name);

// Writes the colour grid file of what ReadCtg read, with its lines and the count of records
// read: false after a file that cannot be written whole is reported and removed.
bool WriteCtgGrid(const CtgGrid& grid);

// The corner transform: rotation by `rot_deg` about the centre of the bounds, shift and scale.
struct CornerTransform {
  double cx, cy, rot_deg, trans_x, trans_y, size_x, size_y;
  void Apply(double lon, double lat, double* out_lon, double* out_lat) const;
};
