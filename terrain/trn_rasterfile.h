// Raster pass: renders a region of the terrain database into a 24-bit BMP picture, one pixel
// per post, each tile's posts coloured through its own palette B (a tile without one through
// the first palette B found in walk order).
#pragma once

#include <cstdint>

#include "regionwalk.h"

inline constexpr uint32_t kBmpHeaderBytes = 54;

// Bytes of one picture row of `width` pixels: 3 per pixel, padded to a multiple of 4.
inline constexpr uint64_t BmpRowStride(uint64_t width) { return (3 * width + 3) & ~uint64_t{3}; }

// The picture of a region: one pixel per post from its first to its last post column and row;
// a region that holds no post gives an empty picture.
struct Picture {
  int64_t width = 0, height = 0;
  uint64_t stride = 0, bytes = 0;  // of a row, and of the whole file
};
Picture PictureOf(const Region& region);

// Returns 0 when the picture has been written, -1 after a failure it has reported. `unused`
// has no effect on the picture.
int trn_rasterfile(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                   double lon4, double lat4, const char* picture_name, int unused);
