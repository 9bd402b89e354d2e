#include "trn_color_post_outside.h"

#include "littleendian.h"
#include "tilegrid.h"
#include "trn_color_post_cut.h"
#include "trn_post_walk.h"

namespace {

// The index that a value of the index byte stores, 0 for a value that stores none (palette A:
// a byte whose two nibbles differ).
int StoredIndex(const Palette& palette, int value) {
  if (!palette.nibbles) return value;
  return value % kBothNibbles == 0 ? value / kBothNibbles : 0;
}

bool CoversTile(const TileSpan& t) {
  return t.xs == 0 && t.xe == kTileMask && t.ys == 0 && t.ye == kTileMask;
}

}  // namespace

uint8_t Palette::Stored(int index) const {
  return static_cast<uint8_t>(nibbles ? index * kBothNibbles : index);
}

bool HasOutsideIndexes(const Palette& palette, const uint8_t* header, const TileSpan& t) {
  return GetU32(header + palette.flag_offset) == TileHeader::kPaletteFlagSet && !CoversTile(t);
}

void ShownCellKeys(const Palette& palette, const uint8_t* header, uint32_t none,
                   uint32_t keys[kIndexBytes]) {
  for (int value = 0; value < kIndexBytes; ++value) {
    const int index = StoredIndex(palette, value);
    const uint8_t* entry = header + palette.entries_offset + index * TileHeader::kPaletteEntrySize;
    if (index == 0 || entry[0] == TileHeader::kEntryEmpty) {
      keys[value] = none;
    } else {
      const ColorCell c = LevelCell(entry[3], entry[2], entry[1]);
      keys[value] = CellKey(c.r, c.g, c.b);
    }
  }
}

void CountOutsideBytes(const Palette& palette, const uint8_t* tile, const TileSpan& t,
                       uint32_t counts[kIndexBytes]) {
  // Four tallies taken in turn: a run of posts of one index would otherwise wait on each count.
  uint32_t tallies[4][kIndexBytes] = {};
  ForEachOutsideRun(t, [&](uint32_t offset, int n) {
    const uint8_t* bytes = tile + offset + palette.post_byte();
    for (int k = 0; k < n; ++k) ++tallies[k & 3][bytes[k * kPostSize]];
  });
  for (int value = 0; value < kIndexBytes; ++value) {
    counts[value] = tallies[0][value] + tallies[1][value] + tallies[2][value] + tallies[3][value];
  }
}

void RemapOutsideBytes(const Palette& palette, uint8_t* tile, const TileSpan& t,
                       const uint8_t remap[kIndexBytes]) {
  ForEachOutsideRun(t, [&](uint32_t offset, int n) {
    uint8_t* bytes = tile + offset + palette.post_byte();
    for (int k = 0; k < n; ++k) bytes[k * kPostSize] = remap[bytes[k * kPostSize]];
  });
}
