#include "tileformat.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr std::array<char, TileHeader::kBannerLength + 1> MakeBanner() {
  constexpr char kText[] =
      "KYTE terrain database tile: a header of 8192 bytes, then 1024 x 1024 posts of four bytes "
      "in blocks of 32 x 32 posts at 1200 posts per degree, then (elevation tiles) one "
      "eight-byte record per block.";
  static_assert(sizeof(kText) - 1 <= TileHeader::kBannerLength);
  std::array<char, TileHeader::kBannerLength + 1> banner{};
  for (size_t i = 0; i < TileHeader::kBannerLength; ++i) {
    banner[i] = i < sizeof(kText) - 1 ? kText[i] : ' ';
  }
  banner[TileHeader::kBannerLength] = '\0';
  return banner;
}

}  // namespace

constexpr std::array<char, TileHeader::kBannerLength + 1> kTileBanner = MakeBanner();

void SetIdentification(uint8_t* header, uint32_t kind) {
  PutU32(header + TileHeader::kMagicOffset, TileHeader::kMagic);
  PutU32(header + TileHeader::kKindOffset, kind);
  PutU32(header + TileHeader::kVersionOffset, TileHeader::kVersion);
  std::memcpy(header + TileHeader::kBannerOffset, kTileBanner.data(), kTileBanner.size());
}

BlockRecord GetBlockRecord(const uint8_t* tile, int b) {
  const uint8_t* p = tile + BlockRecordOffset(b);
  BlockRecord r;
  r.first_elevation = GetS16(p + BlockRecord::kFirstElevationOffset);
  r.palette_b_index = p[BlockRecord::kPaletteBIndexOffset];
  r.palette_a_index = p[BlockRecord::kPaletteAIndexOffset];
  r.min_elevation = GetS16(p + BlockRecord::kMinElevationOffset);
  r.max_elevation = GetS16(p + BlockRecord::kMaxElevationOffset);
  return r;
}

void PutBlockRecord(uint8_t* tile, int b, const BlockRecord& r) {
  uint8_t* p = tile + BlockRecordOffset(b);
  PutS16(p + BlockRecord::kFirstElevationOffset, r.first_elevation);
  p[BlockRecord::kPaletteBIndexOffset] = r.palette_b_index;
  p[BlockRecord::kPaletteAIndexOffset] = r.palette_a_index;
  PutS16(p + BlockRecord::kMinElevationOffset, r.min_elevation);
  PutS16(p + BlockRecord::kMaxElevationOffset, r.max_elevation);
}
