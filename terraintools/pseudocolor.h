// gridforge's pseudo-colours: a colour by elevation band, with a little noise from a
// pseudo-random generator that is never seeded, so every run gives the same colours.
#pragma once

#include <cstdint>

#include "support/CLibraryRandom.h"

// gridforge's generator: the C library's, never seeded.
using PseudoRandom = CLibraryRandom;

// Pseudo-colour of an elevation in metres: bytes red, green, blue, alpha 250 in file order (red
// in the low byte). Draws 0 (up to 10 m), 1 (up to 20 m) or 2 (above) values from `draws`.
uint32_t ElevationPseudoColor(int32_t elevation, PseudoRandom& draws);
