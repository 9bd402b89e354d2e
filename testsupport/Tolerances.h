// Tolerances that several tests share, each with its reason.
#pragma once

namespace kyte::testsupport {

// An offset east or north or an altitude in feet, decoded from the wire: the position and
// altitude codes lie at most about 0.04 ft apart.
inline constexpr double kDecodedFeetTolerance = 0.05;

// The band around a grid's quadrilateral whose posts still take values from the grid, in grid
// coordinates (0 to 1 from the first record or value to the last).
inline constexpr double kGridTolerance = 0.00001;
static_assert(1 + kGridTolerance == 1.00001);

// Whether a post at grid coordinates (u, v) lies within the grid or its band.
constexpr bool InGridBand(double u, double v) {
  return v >= -kGridTolerance && v <= 1 + kGridTolerance && u >= -kGridTolerance &&
         u <= 1 + kGridTolerance;
}

}  // namespace kyte::testsupport
