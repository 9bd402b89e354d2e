// Post-by-post work of a pass over the region posts of one tile, in storage order.
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

#include "tiledb.h"

// Calls row(y) for every region row y of the tile, south to north, and run(x0, x1, y, offset)
// for every run of region posts x0..x1 of row y that lies inside one block, with `offset`
// the byte offset of post (x0, y) in the tile file; the run's posts follow it 4 bytes apart.
template <class Row, class Run>
void ForEachRegionRun(const TileSpan& t, Row&& row, Run&& run) {
  for (int band = t.ys & ~kBlockMask; band <= t.ye; band += kBlockPosts) {
    const int y0 = std::max(band, t.ys);
    const int y1 = std::min(band + kBlockMask, t.ye);
    for (int y = y0; y <= y1; ++y) row(y);
    for (int block = t.xs & ~kBlockMask; block <= t.xe; block += kBlockPosts) {
      const int x0 = std::max(block, t.xs);
      const int x1 = std::min(block + kBlockMask, t.xe);
      for (int y = y0; y <= y1; ++y) run(x0, x1, y, PostOffset(x0, y));
    }
  }
}

// Calls row(y) for every region row y of the tile, south to north, and post(x, y, offset)
// for every region post, with `offset` the post's byte offset in the tile file.
template <class Row, class Post>
void ForEachRegionPost(const TileSpan& t, Row&& row, Post&& post) {
  ForEachRegionRun(t, row, [&post](int x0, int x1, int y, uint32_t offset) {
    for (int x = x0; x <= x1; ++x, offset += kPostSize) post(x, y, offset);
  });
}
