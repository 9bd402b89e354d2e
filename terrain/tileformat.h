// The content of a tile file: the header that every elevation, colour, scratch and level file
// starts with, the bytes of a post and the block records of an elevation tile's trailer.
#pragma once

#include <array>
#include <cstdint>

#include "littleendian.h"
#include "tilegrid.h"

// TileHeader: the first 8192 bytes of every elevation, colour, scratch and level file.
struct TileHeader {
  static constexpr uint32_t kMagicOffset = 0;
  static constexpr uint32_t kKindOffset = 4;
  static constexpr uint32_t kVersionOffset = 8;
  static constexpr uint32_t kBannerOffset = 12;
  static constexpr uint32_t kBannerLength = 938;  // followed by one NUL byte
  // The identification fields: magic, kind, version and the banner with its NUL.
  static constexpr uint32_t kIdentificationBytes = kBannerOffset + kBannerLength + 1;
  static constexpr uint32_t kPaletteAFlagOffset = 1024;
  static constexpr uint32_t kPaletteBFlagOffset = 1028;
  static constexpr uint32_t kAmbientColorOffset = 1032;  // colour tiles: 255, blue, green, red
  static constexpr uint32_t kPaletteAOffset = 1536;
  static constexpr uint32_t kPaletteBOffset = 2560;
  static constexpr uint32_t kPaletteEntries = 256;
  // A palette entry, and the ambient colour: a marker byte, then blue, green, red.
  static constexpr uint32_t kPaletteEntrySize = 4;
  static constexpr uint8_t kEntryHoldsColor = 255;  // the marker of an entry with a colour
  static constexpr uint8_t kEntryEmpty = 0;         // ... and of one without
  static constexpr uint32_t kPaletteFlagSet = 1;    // a palette flag when its palette is written

  static constexpr uint32_t kMagic = 0x1989E676;
  static constexpr uint32_t kVersion = 0x10501;
};

inline constexpr uint32_t kKindElevation = 1;  // elevation tiles, scratch tiles, level files
inline constexpr uint32_t kKindColor = 2;

// The banner text written into every tile: exactly TileHeader::kBannerLength characters.
extern const std::array<char, TileHeader::kBannerLength + 1> kTileBanner;

// Writes magic, kind, version and the banner with its NUL into a header; other bytes are kept.
void SetIdentification(uint8_t* header, uint32_t kind);

// Posts. Elevation tile: bytes 0-1 elevation (signed 16-bit), 2 palette B index, 3 palette A
// index byte. Colour tile: red, green, blue, alpha.
inline constexpr uint32_t kPostPaletteBByte = 2;
inline constexpr uint32_t kPostPaletteAByte = 3;
inline constexpr uint32_t kPostAlphaByte = 3;

inline uint8_t* PostAt(uint8_t* tile, int x, int y) { return tile + PostOffset(x, y); }
inline const uint8_t* PostAt(const uint8_t* tile, int x, int y) { return tile + PostOffset(x, y); }
inline int16_t GetElevation(const uint8_t* tile, int x, int y) {
  return GetS16(PostAt(tile, x, y));
}
inline void SetElevation(uint8_t* tile, int x, int y, int16_t e) { PutS16(PostAt(tile, x, y), e); }

// BlockRecord: one of the 1024 records of an elevation tile's trailer, in block order.
struct BlockRecord {
  static constexpr uint32_t kFirstElevationOffset = 0;
  static constexpr uint32_t kPaletteBIndexOffset = 2;
  static constexpr uint32_t kPaletteAIndexOffset = 3;
  static constexpr uint32_t kMinElevationOffset = 4;
  static constexpr uint32_t kMaxElevationOffset = 6;

  int16_t first_elevation = 0;  // elevation of the block's first (south-west) post
  uint8_t palette_b_index = 0;  // byte 2 of the block's first post
  uint8_t palette_a_index = 0;  // byte 3 of the block's first post
  int16_t min_elevation = 0;    // smallest elevation of the block's posts
  int16_t max_elevation = 0;    // largest elevation of the block's posts
};

BlockRecord GetBlockRecord(const uint8_t* tile, int b);
void PutBlockRecord(uint8_t* tile, int b, const BlockRecord& record);
