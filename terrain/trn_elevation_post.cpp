#include "trn_elevation_post.h"

#include <emmintrin.h>

#include <cstdint>

#include "littleendian.h"
#include "passbuffer.h"
#include "progress.h"
#include "regionwalk.h"
#include "tilefile.h"
#include "tileformat.h"
#include "tilenames.h"
#include "trn_post_walk.h"

namespace {

constexpr const char* kModule = "trn_elevation_post";

struct Range {
  int16_t lowest, highest;
};

// Lowest and highest elevation of a block's 1024 posts. A post is two signed 16-bit words,
// its elevation then its index bytes: the 16-bit lanes of each 16-byte load take four posts,
// and only the even lanes, the elevations, are kept at the end.
Range BlockRange(const uint8_t* block) {
  __m128i lowest = _mm_set1_epi16(INT16_MAX);
  __m128i highest = _mm_set1_epi16(INT16_MIN);
  for (uint32_t p = 0; p < kBlockBytes; p += 16) {
    const __m128i posts = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + p));
    lowest = _mm_min_epi16(lowest, posts);
    highest = _mm_max_epi16(highest, posts);
  }
  alignas(16) int16_t low[8], high[8];
  _mm_store_si128(reinterpret_cast<__m128i*>(low), lowest);
  _mm_store_si128(reinterpret_cast<__m128i*>(high), highest);
  Range r{low[0], high[0]};
  for (int lane = 2; lane < 8; lane += 2) {
    if (low[lane] < r.lowest) r.lowest = low[lane];
    if (high[lane] > r.highest) r.highest = high[lane];
  }
  return r;
}

int PostProcessTile(PassBuffer& buffer, const TileSpan& t) {
  // The whole tile is treated, whatever part of it the region covers.
  TileFile file = TileFile::OpenOutput(kModule, ElevationTileName(t.tx, t.ty));
  if (!file.is_open()) return -1;
  uint8_t* tile = buffer.Read(kModule, file);
  if (tile == nullptr) return -1;
  SetIdentification(tile, kKindElevation);

  for (int r = 0; r < kBlocksPerSide; ++r) {
    PrintRowLine(r, kBlocksPerSide - 1);
    for (int c = 0; c < kBlocksPerSide; ++c) {
      const int b = r * kBlocksPerSide + c;
      const uint8_t* block = tile + BlockOffset(b);
      const Range range = BlockRange(block);
      uint8_t* record = tile + BlockRecordOffset(b);
      // The block's first, south-west post, its lowest and its highest.
      PutS16(record + BlockRecord::kFirstElevationOffset, GetS16(block));
      PutS16(record + BlockRecord::kMinElevationOffset, range.lowest);
      PutS16(record + BlockRecord::kMaxElevationOffset, range.highest);
    }
  }
  PrintTileLine();
  // Only the identification fields and the trailer differ from what was read, so they are all
  // that is written: the file then holds the bytes that writing the buffer whole would leave
  // (the trailer's write, at the tile's end, makes a short file's missing part read as zeroes).
  if (!file.WriteAt(kModule, tile, TileHeader::kIdentificationBytes, 0) ||
      !file.WriteAt(kModule, tile + kTrailerOffset, kTrailerBytes, kTrailerOffset)) {
    return -1;
  }
  return file.Close(kModule);
}

}  // namespace

int trn_elevation_post(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                       double lon4, double lat4) {
  const std::optional<Region> region =
      PassRegion(kModule, lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  if (!region) return -1;
  PassBuffer buffer(0, kElevationTileBytes);
  return WalkRegion(*region, [&](const TileSpan& t) { return PostProcessTile(buffer, t); });
}
