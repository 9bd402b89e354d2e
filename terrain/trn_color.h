// Colour pass: lays a colour grid file over the region of four corners and blends the
// interpolated, gamma-corrected colour of every covered post into the colour tiles.
#pragma once

#include <array>
#include <cstdint>

// Placement as the elevation pass's. Returns 0 when every tile of the region has been written,
// -1 after a reported failure.
int trn_color(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
              double lon4, double lat4, const char* grid_name, int ncols, int nrows, double gamma);

// The gamma table of the last trn_color call: G[0] = 0, G[i] = 255 (i/255)^(1/gamma) truncated.
const std::array<uint8_t, 256>& trn_color_gamma_table();
