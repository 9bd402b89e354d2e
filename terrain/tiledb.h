// Tile database of the terrain passes, all of it: the global grid of posts, tiles and blocks
// (tilegrid.h), the tile header, post and block-record layouts (tileformat.h, littleendian.h),
// the file names (tilenames.h), the region walk (regionwalk.h), the heap buffers
// (tilebuffer.h), tile and grid files (tilefile.h), the pass buffers and the whole-tile
// read-modify-write (passbuffer.h), the progress lines (progress.h) and the failure reporting
// (trn_error.h). A pass includes the parts it uses.
//
// How a pass uses it, for each tile of its region:
//
//   const std::optional<Region> region = PassRegion(kModule, lon1, lat1, ..., lon4, lat4);
//   if (!region) return -1;                             // off the globe, already reported
//   PassBuffer buffer(0, kElevationTileBytes);
//   return WalkRegion(*region, [&](const TileSpan& t) {
//     TileUpdate update;                                // "opened  RW" / "created RW"
//     if (!update.Open(kModule, ElevationTileName(t.tx, t.ty), buffer, kKindElevation))
//       return -1;                                      // already reported
//     ... change own posts/fields in update.data, PrintRowLine(y, t.ye) on the pass's rows ...
//     return update.Finish(kModule);                    // tile line, write, close: 0 or -1
//   });
//
// The same steps by hand: TileFile::OpenOutput, PassBuffer::Read, SetIdentification, ...,
// PrintTileLine, WriteWhole, Close. A missing or short file reads as zeroes.
//
// Failure convention: every failing open, temporary file, read, write or close is reported
// where it happens (the system error prefixed with the module name, then `trn_error`), and the
// caller only returns -1. A non-zero result of the per-tile function stops the walk and is
// returned by WalkRegion.
#pragma once

#include "littleendian.h"
#include "passbuffer.h"
#include "progress.h"
#include "regionwalk.h"
#include "tilebuffer.h"
#include "tilefile.h"
#include "tileformat.h"
#include "tilegrid.h"
#include "tilenames.h"
#include "trn_error.h"
