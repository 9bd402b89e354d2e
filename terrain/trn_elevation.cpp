#include "trn_elevation.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "gridmap.h"
#include "tiledb.h"

namespace {

constexpr char kModule[] = "trn_elevation";

// Fractional grid index along one direction, with its two neighbouring indexes.
struct Step {
  int lo, hi;
  double frac;
};

inline Step RecordStep(double f, int n) {
  const int32_t i0 = GridFloor(f);
  Step s;
  s.frac = f - i0;
  s.lo = ClampIndex(i0, n);
  s.hi = ClampIndex(int64_t{i0} + 1, n);
  return s;
}

// Bilinear interpolation in double precision: along the values (b), then the records (a).
inline double Interpolate(double g00, double g01, double g10, double g11, double a, double b) {
  const double t0 = g00 + (g01 - g00) * b;
  const double t1 = g10 + (g11 - g10) * b;
  return t0 + (t1 - t0) * a;
}

// The record or value index of a whole row or column of posts, where it depends on that alone.
struct FastAxis {
  bool separable = false;
  bool inside = false;
  Step step{0, 0, 0};
  uint32_t post_offset = 0;  // columns: offset of the column's post from its row's first post
};

}  // namespace

int trn_elevation(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                  double lon4, double lat4, const char* grid_name, int ncols, int nrows) {
  const Region region = MakeRegion(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  const GridPlacement placement(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);

  PassGrid grid;
  if (!grid.Load(kModule, grid_name, ncols, nrows)) return -1;
  auto value = [&grid](int i, int j) { return GetS32(grid.Cell(i, j)); };

  std::vector<GridPlacement::ColumnTerms> columns;
  std::vector<FastAxis> fast_columns;
  const int result = WalkRegion(region, [&](const TileSpan& t) {
    const std::string name = ElevationTileName(t.tx, t.ty);
    TileUpdate update;
    if (!update.Open(kModule, name, kElevationTileBytes, kKindElevation)) return -1;
    uint8_t* const tile = update.data.data();

    const int orientation = placement.Orientation();
    placement.Columns(orientation, t.tx, t.xs, t.xe, columns);
    // Where a row's Q and a column's S are exactly 0 (an axis-aligned grid), D is exactly 1,
    // u is P and v is R (up to the sign of a zero, which changes no result): the value index
    // is then a property of the column and the record index of the row.
    fast_columns.clear();
    bool all_columns_separable = true;
    for (int x = t.xs; x <= t.xe; ++x) {
      const GridPlacement::ColumnTerms& c = columns[x - t.xs];
      FastAxis f;
      f.separable = c.s == 0 && std::isfinite(c.r);
      f.inside = c.r >= -0.00001 && c.r <= 1.00001;
      if (f.separable && f.inside) f.step = RecordStep((nrows - 1) * c.r, nrows);
      f.post_offset = PostOffset(x, 0) - PostOffset(0, 0);
      all_columns_separable = all_columns_separable && f.separable;
      fast_columns.push_back(f);
    }
    for (int y = t.ys; y <= t.ye; ++y) {
      if (y % 4 == 0) PrintRowLine(y, t.ye);
      const GridPlacement::RowTerms row = placement.Row(orientation, RowLatitude(t.ty, y));
      FastAxis fast_row;
      fast_row.separable = row.q == 0 && std::isfinite(row.p);
      fast_row.inside = row.p >= -0.00001 && row.p <= 1.00001;
      if (fast_row.separable && fast_row.inside) {
        fast_row.step = RecordStep((ncols - 1) * row.p, ncols);
      }
      if (fast_row.separable && !fast_row.inside && all_columns_separable) continue;
      if (fast_row.separable && all_columns_separable) {
        // The axis-aligned row: records i.lo and i.hi, value indexes from the columns.
        const uint8_t* record0 = grid.Record(fast_row.step.lo);
        const uint8_t* record1 = grid.Record(fast_row.step.hi);
        const double a = fast_row.step.frac;
        uint8_t* row_posts = tile + PostOffset(0, y);
        for (int x = t.xs; x <= t.xe; ++x) {
          const FastAxis& column = fast_columns[x - t.xs];
          if (!column.inside) continue;
          const Step& j = column.step;
          const double e =
              Interpolate(GetS32(record0 + j.lo * 4), GetS32(record0 + j.hi * 4),
                          GetS32(record1 + j.lo * 4), GetS32(record1 + j.hi * 4), a, j.frac);
          // Both fractions lie in [0, 1], so e lies between grid values: inside 32 bits.
          PutS16(row_posts + column.post_offset,
                 static_cast<int16_t>(static_cast<uint16_t>(static_cast<int32_t>(e))));
        }
        continue;
      }
      for (int x = t.xs; x <= t.xe; ++x) {
        const FastAxis& fast_column = fast_columns[x - t.xs];
        double u = 0, v = 0;
        if (fast_row.separable && fast_column.separable) {
          if (!(fast_column.inside && fast_row.inside)) continue;
          u = row.p;
          v = columns[x - t.xs].r;
        } else if (!GridPlacement::Position(row, columns[x - t.xs], u, v)) {
          continue;
        }
        const Step i = RecordStep((ncols - 1) * u, ncols);
        const Step j = RecordStep((nrows - 1) * v, nrows);
        const double e = Interpolate(value(i.lo, j.lo), value(i.lo, j.hi), value(i.hi, j.lo),
                                     value(i.hi, j.hi), i.frac, j.frac);
        SetElevation(tile, x, y, static_cast<int16_t>(static_cast<uint16_t>(TruncateToInt32(e))));
      }
    }
    return update.Finish(kModule);
  });
  if (result != 0) return result;
  return grid.Close(kModule);
}
