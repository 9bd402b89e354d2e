// Shading pass: lights the colour tiles of a region by the east-west slope of the terrain
// under a sun that follows the time of day, and stores the ambient colour in their headers.
#pragma once

#include <cstdint>

// `ShadeColors`: bytes 1-3 blue, green, red of the colour for light intensity 0, bytes 5-7
// those of the colour for intensity 1; bytes 0 and 4 are not read.
inline constexpr int kShadeColorsSize = 8;

// Returns 0 when every tile of the region is shaded, -1 after a failure it has reported.
int trn_shading(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                double lon4, double lat4, const uint8_t* shade_colors, double time_of_day);
