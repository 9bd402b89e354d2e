// The region walk: the tiles, and the posts inside each, that a region of four corner points
// covers, visited south to north and each tile row west to east; and the check that the
// corners lie on the globe.
#pragma once

#include <cstdint>
#include <optional>

#include "tilegrid.h"

// A post that lies outside the corners' box by less than this part of the post spacing still
// belongs to the region.
inline constexpr double kPostTolerance = 0.01;

// Inclusive range of in-tile post columns or rows; empty when first > last.
struct PostRange {
  int first = 0;
  int last = -1;
};

struct Region {
  double lon_min = 0, lon_max = 0, lat_min = 0, lat_max = 0;
  int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;      // first and last global post columns and rows
  int32_t tx0 = 0, tx1 = 0, ty0 = 0, ty1 = 0;  // first and last tile columns and rows

  PostRange Columns(int32_t tx) const;  // region post columns inside tile column tx
  PostRange Rows(int32_t ty) const;     // region post rows inside tile row ty

  // How many tiles WalkRegion visits: 0 when the first tile column (or row) lies past the last.
  // A program weighs a region by it before the first tile is made.
  int64_t TileCount() const;
};

// The region of four corner points (longitude, latitude each), from their bounding box.
Region MakeRegion(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                  double lon4, double lat4);

// Whether four corner points lie on the globe: every longitude within -180..180 and every
// latitude within -90..90, up to the walk's own tolerance of 0.01 post past either end. Off the
// globe the walk would visit tiles that do not exist, up to millions of them. The first value
// off the globe, infinite or not a number is reported on standard error as
// "<who>: region longitude <value> is off the globe (-180..180)" (or latitude, -90..90): false.
bool CheckRegion(const char* who, double lon1, double lat1, double lon2, double lat2, double lon3,
                 double lat3, double lon4, double lat4);

// The region that a pass walks: CheckRegion under the pass's module name, then MakeRegion.
// Empty after the report, before the pass has opened or created anything.
std::optional<Region> PassRegion(const char* module, double lon1, double lat1, double lon2,
                                 double lat2, double lon3, double lat3, double lon4, double lat4);

// One tile of a region walk with its post ranges (xs..xe columns, ys..ye rows).
struct TileSpan {
  int32_t tx = 0, ty = 0;
  int xs = 0, xe = -1, ys = 0, ye = -1;
};

// Visits the region's tiles south to north, each tile row west to east. Stops at the first
// non-zero result of `visit` and returns it; returns 0 after the last tile.
template <class Visit>
int WalkRegion(const Region& region, Visit&& visit) {
  for (int64_t ty = region.ty0; ty <= region.ty1; ++ty) {
    const PostRange rows = region.Rows(static_cast<int32_t>(ty));
    for (int64_t tx = region.tx0; tx <= region.tx1; ++tx) {
      const PostRange cols = region.Columns(static_cast<int32_t>(tx));
      TileSpan span;
      span.tx = static_cast<int32_t>(tx);
      span.ty = static_cast<int32_t>(ty);
      span.xs = cols.first;
      span.xe = cols.last;
      span.ys = rows.first;
      span.ye = rows.last;
      if (const int result = visit(span); result != 0) return result;
    }
  }
  return 0;
}
