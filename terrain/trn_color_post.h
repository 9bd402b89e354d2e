// Colour post-processing: turns the true colours of a region's colour tiles into one indexed
// palette for the region's elevation tiles (palette, post indexes and block-record index bytes),
// leaving a scratch copy "%03d_%03d.tmp" beside every elevation tile it treats. Posts of those
// tiles outside the region that an earlier call indexed keep their colours in the new palette
// (trn_color_post_outside.h).
#pragma once

inline constexpr int kColorPostPaletteA = 0x1;     // 4-bit palette A, indexes 1..9
inline constexpr int kColorPostPaletteB = 0x2;     // 8-bit palette B, indexes 16..239
inline constexpr int kColorPostZeroIsSea = 0x100;  // posts at elevation 0 get index 0

// Returns 0 when every tile of the region is done, -1 after a failure it has reported. Flags
// must hold exactly one of the two palette bits and nothing outside 0x103 (else code 9).
int trn_color_post(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                   double lon4, double lat4, double gamma, int flags);
