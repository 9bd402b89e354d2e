// The global grid of posts and its division into tiles and blocks: how many posts a degree,
// a tile and a block hold, and where a post, a block and a block's record lie in a tile file.
#pragma once

#include <cstdint>

inline constexpr int kPostsPerDegree = 1200;
// The double nearest 1/1200: post positions are multiplied by it, never divided by 1200.
inline constexpr double kPostSpacing = 0.0008333333333333334;
// The grid counts longitudes from 180 degrees west and latitudes from 90 degrees south.
inline constexpr int kLongitudeLimit = 180;
inline constexpr int kLatitudeLimit = 90;

inline constexpr int kTileShift = 10;
inline constexpr int kTilePosts = 1 << kTileShift;  // posts along each side of a tile
inline constexpr int kTileMask = kTilePosts - 1;
inline constexpr int kBlockShift = 5;
inline constexpr int kBlockPosts = 1 << kBlockShift;  // posts along each side of a block
inline constexpr int kBlockMask = kBlockPosts - 1;
inline constexpr int kBlocksPerSide = kTilePosts / kBlockPosts;
inline constexpr int kBlockCount = kBlocksPerSide * kBlocksPerSide;

inline constexpr uint32_t kPostSize = 4;
inline constexpr uint32_t kBlockRowBytes = kBlockPosts * kPostSize;    // 128
inline constexpr uint32_t kBlockBytes = kBlockPosts * kBlockRowBytes;  // 4096
inline constexpr uint32_t kHeaderBytes = 8192;
inline constexpr uint32_t kPostBytes = kBlockCount * kBlockBytes;  // 4,194,304
inline constexpr uint32_t kBlockRecordSize = 8;
inline constexpr uint32_t kTrailerBytes = kBlockCount * kBlockRecordSize;        // 8192
inline constexpr uint32_t kTrailerOffset = kHeaderBytes + kPostBytes;            // 4,202,496
inline constexpr uint32_t kElevationTileBytes = kTrailerOffset + kTrailerBytes;  // 4,210,688
inline constexpr uint32_t kColorTileBytes = kHeaderBytes + kPostBytes;           // 4,202,496

// Block index of in-tile post (x, y): southern block row first, each row west to east.
inline constexpr int BlockIndex(int x, int y) {
  return (y >> kBlockShift) * kBlocksPerSide + (x >> kBlockShift);
}

// Byte offset of in-tile post (x, y) in a tile file.
inline constexpr uint32_t PostOffset(int x, int y) {
  return kHeaderBytes + static_cast<uint32_t>(BlockIndex(x, y)) * kBlockBytes +
         static_cast<uint32_t>(y & kBlockMask) * kBlockRowBytes +
         static_cast<uint32_t>(x & kBlockMask) * kPostSize;
}

// Byte offset of the first post of block b in a tile file.
inline constexpr uint32_t BlockOffset(int b) {
  return kHeaderBytes + static_cast<uint32_t>(b) * kBlockBytes;
}

// Byte offset of the BlockRecord of block b in an elevation tile.
inline constexpr uint32_t BlockRecordOffset(int b) {
  return kTrailerOffset + static_cast<uint32_t>(b) * kBlockRecordSize;
}
