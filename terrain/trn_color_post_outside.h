// Colour post-processing of the posts that a tile of the region holds outside the region. The
// pass writes its palette into the whole tile, so a post outside that an earlier call indexed
// into the palette it replaces keeps its colour only when it is indexed anew: the colour its
// index shows through the tile's previous palette counts towards the new palette, and its index
// is rewritten into the new one. Posts with index 0, bytes that are no index of the palette,
// indexes whose entry holds no colour and every post of a tile that held no such palette are
// left as they are, so that a tile the call covers whole, or one it made, is treated as before.
#pragma once

#include <cstdint>

#include "regionwalk.h"
#include "tileformat.h"

// Palette A stores its 4-bit index in both nibbles of byte 3: the index times 0x11.
inline constexpr int kBothNibbles = 0x11;

// The palette a call builds: its index range and where an elevation tile keeps it.
struct Palette {
  int first = 0;
  int last = 0;
  uint32_t flag_offset = 0;
  uint32_t entries_offset = 0;
  bool nibbles = false;  // palette A, stored in both nibbles

  uint32_t post_byte() const { return nibbles ? kPostPaletteAByte : kPostPaletteBByte; }
  // The byte that stores `index` in a post.
  uint8_t Stored(int index) const;
};

inline constexpr int kIndexBytes = 256;  // the values of a post's index byte

// Whether the tile, by its header as read before the call changed it, holds the palette with
// posts outside span t: then those posts may carry indexes into it.
bool HasOutsideIndexes(const Palette& palette, const uint8_t* header, const TileSpan& t);

// The cell key of the colour that each value of the index byte shows through the palette in
// `header`, or `none` where it shows none (index 0, a byte that is no index, an entry without
// colour). An entry's colour is already on the cube's gamma-corrected scale, as it was counted,
// so it takes its cell as it stands: through the gamma table again it would come out as another
// colour wherever the gamma is not 1.
void ShownCellKeys(const Palette& palette, const uint8_t* header, uint32_t none,
                   uint32_t keys[kIndexBytes]);

// Counts the tile's posts outside span t by the value of their index byte.
void CountOutsideBytes(const Palette& palette, const uint8_t* tile, const TileSpan& t,
                       uint32_t counts[kIndexBytes]);

// Rewrites the index byte of the tile's posts outside span t through `remap`, indexed by its
// value.
void RemapOutsideBytes(const Palette& palette, uint8_t* tile, const TileSpan& t,
                       const uint8_t remap[kIndexBytes]);
