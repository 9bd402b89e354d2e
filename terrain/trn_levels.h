// Level pass: writes six level files "%s_0" to "%s_5" for every elevation tile of a region,
// level k keeping every 2^(5-k)-th post in each direction inside each 32 x 32-post block.
#pragma once

#include <cstdint>

#include "tilegrid.h"

inline constexpr int kLevelCount = 6;

// Strides of one level in bytes of a tile's posts area: the level keeps the post at byte c
// when c is a multiple of `post` and c modulo `row_group` is below one block row (128 bytes).
struct LevelStrides {
  uint32_t post;       // S1 = 128 >> k
  uint32_t row_group;  // S2 = 4096 >> k
};
extern const LevelStrides LevelTable[kLevelCount];

// Bytes of level file k: header, 4096 x 4^k bytes of kept posts, trailer.
inline constexpr uint32_t LevelFileBytes(int k) {
  return kHeaderBytes + (kBlockCount * kPostSize << (2 * k)) + kTrailerBytes;
}

// Returns 0 when every tile of the region has its six level files, -1 after a failure it has
// reported by the failure convention: a tile or level file that cannot be opened (the system
// error under "Write failed", then code 4 with the file's name), a tile that cannot be read, a
// level file write that fails or stops short ("Write failed" in place of the module for the
// header) and a level file whose close fails.
int trn_levels(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
               double lon4, double lat4);

// The older variant built into tintshade: it ends the process itself, with status 0 after the
// last tile (at once when the region has no tile) and 1 when a tile or a level file cannot be
// opened; it returns, with -1, only after a failed write or close of a level file, a tile that
// cannot be read, a tile buffer that cannot be had or a region off the globe.
int trn_levels_exiting(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                       double lon4, double lat4);

// Writes the posts of the current tile kept at level k into the open level file and prints
// "Wrote %u bytes to %s \n", or reports a write that fails or stops short (code 5). Works on
// the tile that trn_levels is writing; outside it, or for a level outside 0..5, it writes
// nothing.
void trn_levels_write(int k);
