#include "trn_color_post_outside.h"

#include <algorithm>

#include "littleendian.h"
#include "tilegrid.h"
#include "trn_color_post_cut.h"
#include "trn_post_walk.h"

namespace {

constexpr uint32_t kTilePostCount = kPostBytes / kPostSize;

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
  // Every post of the tile, then the region's taken back: two sweeps in storage order.
  std::fill(counts, counts + kIndexBytes, 0u);
  const uint8_t* bytes = tile + kHeaderBytes + palette.post_byte();
  for (uint32_t k = 0; k < kTilePostCount; ++k) ++counts[bytes[k * kPostSize]];
  ForEachRegionRun(
      t, [](int) {},
      [&](int x0, int x1, int, uint32_t offset) {
        const uint8_t* run = tile + offset + palette.post_byte();
        for (int k = 0; k <= x1 - x0; ++k) --counts[run[k * kPostSize]];
      });
}

void RemapIndexBytes(const Palette& palette, uint8_t* tile, const uint8_t remap[kIndexBytes]) {
  uint8_t* bytes = tile + kHeaderBytes + palette.post_byte();
  for (uint32_t k = 0; k < kTilePostCount; ++k) {
    bytes[k * kPostSize] = remap[bytes[k * kPostSize]];
  }
}
