// gridforge's pseudo-colours: a colour by elevation band, with a little noise from a
// pseudo-random generator that is never seeded, so every run gives the same colours.
#pragma once

#include <cstdint>

// Linear congruential generator on a 32-bit state starting at 1; draws are 0..32767.
class PseudoRandom {
 public:
  int32_t Next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int32_t>((state_ >> 16) & 0x7FFF);
  }

 private:
  uint32_t state_ = 1;
};

// Pseudo-colour of an elevation in metres: bytes red, green, blue, alpha 250 in file order (red
// in the low byte). Draws 0 (up to 10 m), 1 (up to 20 m) or 2 (above) values from `draws`.
uint32_t ElevationPseudoColor(int32_t elevation, PseudoRandom& draws);
