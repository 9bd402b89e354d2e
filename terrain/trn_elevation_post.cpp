#include "trn_elevation_post.h"

#include "tiledb.h"

namespace {

constexpr const char* kModule = "trn_elevation_post";

int PostProcessTile(const TileSpan& t) {
  // The whole tile is treated, whatever part of it the region covers.
  TileFile file = TileFile::OpenOutput(kModule, ElevationTileName(t.tx, t.ty));
  if (!file.is_open()) return -1;
  TileBuffer tile = TileBuffer::Allocate(kModule, kElevationTileBytes);
  if (!tile) return -1;
  file.ReadWhole(tile);
  SetIdentification(tile.data(), kKindElevation);

  for (int r = 0; r < kBlocksPerSide; ++r) {
    PrintRowLine(r, kBlocksPerSide - 1);
    for (int c = 0; c < kBlocksPerSide; ++c) {
      const int b = r * kBlocksPerSide + c;
      const uint8_t* block = tile.data() + kHeaderBytes + b * kBlockBytes;
      int16_t lowest = 32767;
      int16_t highest = -32768;
      for (uint32_t p = 0; p < kBlockBytes; p += kPostSize) {
        const int16_t e = GetS16(block + p);
        if (e < lowest) lowest = e;
        if (e > highest) highest = e;
      }
      uint8_t* record = tile.data() + BlockRecordOffset(b);
      PutS16(record + 0, GetS16(block));  // the block's first, south-west post
      PutS16(record + 4, lowest);
      PutS16(record + 6, highest);
    }
  }
  PrintTileLine();
  file.WriteWhole(tile);
  return file.Close(kModule);
}

}  // namespace

int trn_elevation_post(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                       double lon4, double lat4) {
  const Region region = MakeRegion(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  return WalkRegion(region, PostProcessTile);
}
