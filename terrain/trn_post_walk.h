// Shared by the passes that work post by post: the walk over a tile's region posts in storage
// order, and the walk over the posts outside the region.
//
// The passes that work post by post treat every post on its own (a post's result depends on
// nothing the pass changes in other posts) and print their row line before each region row.
// Walking row by row across a tile touches 32 blocks 4096 bytes apart for every row and
// misses the cache on most posts; this walk keeps the same row lines and the same results
// but takes the posts one block row (32 post rows) at a time, block by block, so that each
// block's 4096 bytes are read in one sweep. The row lines of a block row are printed as it
// starts.
#pragma once

#include <algorithm>
#include <cstdint>

#include "regionwalk.h"
#include "tilegrid.h"

// One block's part of a tile's region: posts x0..x1 of rows y0..y1 (never empty), the first
// of them at byte `offset` of the tile file. A row's posts follow one another 4 bytes apart,
// and each row starts 128 bytes after the one before.
struct BlockPart {
  int x0, x1, y0, y1;
  uint32_t offset;
};

// Calls row(y) for every region row y of the tile, south to north, and block(part) for the
// region's part of every block, one block row (32 post rows) at a time: the row lines of a
// block row come before its blocks. A tile with region rows but no region column has its row
// lines only.
template <class Row, class Block>
void ForEachRegionBlock(const TileSpan& t, Row&& row, Block&& block) {
  const int last_block = t.xs <= t.xe ? t.xe : -1;
  for (int band = t.ys & ~kBlockMask; band <= t.ye; band += kBlockPosts) {
    const int y0 = std::max(band, t.ys);
    const int y1 = std::min(band + kBlockMask, t.ye);
    for (int y = y0; y <= y1; ++y) row(y);
    if (y0 > y1) continue;
    for (int first = t.xs & ~kBlockMask; first <= last_block; first += kBlockPosts) {
      const int x0 = std::max(first, t.xs);
      const int x1 = std::min(first + kBlockMask, t.xe);
      block(BlockPart{x0, x1, y0, y1, PostOffset(x0, y0)});
    }
  }
}

// As ForEachRegionBlock, with run(x0, x1, y, offset) called for every row of every block part:
// the run of region posts x0..x1 of row y inside one block, post x0 at byte `offset`.
template <class Row, class Run>
void ForEachRegionRun(const TileSpan& t, Row&& row, Run&& run) {
  ForEachRegionBlock(t, row, [&run](const BlockPart& b) {
    uint32_t offset = b.offset;
    for (int y = b.y0; y <= b.y1; ++y, offset += kBlockRowBytes) run(b.x0, b.x1, y, offset);
  });
}

// Calls run(offset, n) for the posts of the tile that lie outside its region, each call a run of
// n posts that follow one another in the file from byte `offset`, in storage order: a block row
// without region posts in one run, a block without them in one, else row by row the posts west
// and east of the region's columns. The work is proportional to the posts outside.
template <class Run>
void ForEachOutsideRun(const TileSpan& t, Run&& run) {
  constexpr int kBlockPostCount = kBlockPosts * kBlockPosts;
  for (int band = 0; band < kTilePosts; band += kBlockPosts) {
    const int y0 = std::max(band, t.ys);
    const int y1 = std::min(band + kBlockMask, t.ye);
    const uint32_t band_offset = PostOffset(0, band);
    if (y0 > y1 || t.xs > t.xe) {
      run(band_offset, kBlocksPerSide * kBlockPostCount);
      continue;
    }
    for (int first = 0; first < kTilePosts; first += kBlockPosts) {
      const int x0 = std::max(first, t.xs);
      const int x1 = std::min(first + kBlockMask, t.xe);
      uint32_t offset = PostOffset(first, band);
      if (x0 > x1) {
        run(offset, kBlockPostCount);
        continue;
      }
      for (int y = band; y <= band + kBlockMask; ++y, offset += kBlockRowBytes) {
        if (y < y0 || y > y1) {
          run(offset, kBlockPosts);
          continue;
        }
        if (x0 > first) run(offset, x0 - first);
        if (x1 < first + kBlockMask) {
          run(offset + static_cast<uint32_t>(x1 + 1 - first) * kPostSize, first + kBlockMask - x1);
        }
      }
    }
  }
}
