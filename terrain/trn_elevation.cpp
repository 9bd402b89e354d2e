#include "trn_elevation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "gridmap.h"
#include "littleendian.h"
#include "passbuffer.h"
#include "progress.h"
#include "regionwalk.h"
#include "support/Truncate.h"
#include "tileformat.h"
#include "tilenames.h"

namespace {

constexpr char kModule[] = "trn_elevation";
constexpr int kRowLineStep = 4;  // a row line on every fourth post row

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
  GridStep step;
};

#if defined(__SSE2__)
// t[k] = g(k) + (g(k + 1) - g(k)) x frac[k] for an even number of columns k, where g(k) and
// g(k + 1) are the two values at byte offset lo[k] of a record. The values of the record at
// `next` are fetched into the cache meanwhile, for the record that comes after.
void AlongRecord(const uint8_t* values, const uint8_t* next, const uint32_t* lo, const double* frac,
                 size_t count, double* t) {
  auto two_columns = [&](size_t k) {
    const __m128i pair0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(values + lo[k]));
    const __m128i pair1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(values + lo[k + 1]));
    // g(k) of both columns in the low half, g(k + 1) in the high half.
    const __m128i both = _mm_shuffle_epi32(_mm_unpacklo_epi64(pair0, pair1), 0xD8);
    const __m128d g0 = _mm_cvtepi32_pd(both);
    const __m128d g1 = _mm_cvtepi32_pd(_mm_unpackhi_epi64(both, both));
    _mm_storeu_pd(t + k, _mm_add_pd(g0, _mm_mul_pd(_mm_sub_pd(g1, g0), _mm_loadu_pd(frac + k))));
  };
  size_t k = 0;
  for (; k + 4 <= count; k += 4) {
    _mm_prefetch(reinterpret_cast<const char*>(next + lo[k]), _MM_HINT_T0);
    two_columns(k);
    two_columns(k + 2);
  }
  if (k < count) two_columns(k);
}

// e = t0 + (t1 - t0) x a, truncated, into bytes 0 and 1 of `count` posts side by side; bytes 2
// and 3 keep their values. Both fractions lie in [0, 1], so e lies between grid values: inside
// 32 bits.
void StoreRun(const double* t0, const double* t1, double a, size_t count, uint8_t* posts) {
  const __m128d a2 = _mm_set1_pd(a);
  const __m128i elevation_bytes = _mm_set1_epi32(0xFFFF);
  size_t m = 0;
  for (; m + 4 <= count; m += 4) {
    const __m128d lo0 = _mm_loadu_pd(t0 + m), lo1 = _mm_loadu_pd(t0 + m + 2);
    const __m128d hi0 = _mm_loadu_pd(t1 + m), hi1 = _mm_loadu_pd(t1 + m + 2);
    const __m128d e0 = _mm_add_pd(lo0, _mm_mul_pd(_mm_sub_pd(hi0, lo0), a2));
    const __m128d e1 = _mm_add_pd(lo1, _mm_mul_pd(_mm_sub_pd(hi1, lo1), a2));
    const __m128i e = _mm_unpacklo_epi64(_mm_cvttpd_epi32(e0), _mm_cvttpd_epi32(e1));
    __m128i* const p = reinterpret_cast<__m128i*>(posts + m * kPostSize);
    _mm_storeu_si128(p, _mm_or_si128(_mm_andnot_si128(elevation_bytes, _mm_loadu_si128(p)),
                                     _mm_and_si128(e, elevation_bytes)));
  }
  for (; m < count; ++m) {
    const double e = t0[m] + (t1[m] - t0[m]) * a;
    PutS16(posts + m * kPostSize,
           static_cast<int16_t>(static_cast<uint16_t>(static_cast<int32_t>(e))));
  }
}

// The posts of an axis-aligned grid, one block row at a time. Every post of a row interpolates
// between the same two records, and the interpolation along the values of one record (T0 of
// the rows that take it as their lower record, T1 of those that take it as their upper one) is
// the same in every row: it is computed once per record for all the rows of a block row, and
// the posts are then written block by block, through consecutive memory. Two and four values
// are taken at a time; each operation is the scalar one on two lanes, so every result is the
// same to the bit.
class AlignedRows {
 public:
  // Starts a tile from its columns (those from xs on). False when the tile does not suit: the
  // columns inside the grid are not one run, or a record holds a single value.
  bool Start(const std::vector<FastAxis>& columns, int xs, int ncols, int nrows) {
    int first_x = -1, last_x = -1;
    for (size_t k = 0; k < columns.size(); ++k) {
      if (!columns[k].inside) continue;
      const int x = xs + static_cast<int>(k);
      if (last_x >= 0 && last_x != x - 1) return false;
      if (first_x < 0) first_x = x;
      last_x = x;
    }
    if (nrows < 2) return false;
    ncols_ = ncols;
    const size_t n = first_x < 0 ? 0 : static_cast<size_t>(last_x - first_x + 1);
    // The columns go in pairs: a last odd column is taken twice.
    stride_ = (n + 1) & ~size_t{1};
    lo_.resize(stride_);
    frac_.resize(stride_);
    for (size_t k = 0; k < n; ++k) {
      const GridStep& j = columns[static_cast<size_t>(first_x - xs) + k].step;
      // Every column reads the pair of values lo, lo + 1. A column clamped to one value v
      // (hi = lo) takes g(v) + 0 x b = g(v): the same as g(v) + (g(v + 1) - g(v)) x 0, or at
      // the last value as g(v - 1) + (g(v) - g(v - 1)) x 1, exact in whole numbers.
      if (j.hi == j.lo + 1) {
        lo_[k] = static_cast<uint32_t>(j.lo) * kGridValueSize;
        frac_[k] = j.frac;
      } else if (j.lo + 1 < nrows) {
        lo_[k] = static_cast<uint32_t>(j.lo) * kGridValueSize;
        frac_[k] = 0;
      } else {
        lo_[k] = static_cast<uint32_t>(j.lo - 1) * kGridValueSize;
        frac_[k] = 1;
      }
    }
    if (stride_ > n) {
      lo_[n] = lo_[n - 1];
      frac_[n] = frac_[n - 1];
    }
    // The posts of a row that lie side by side: one run per block.
    runs_.clear();
    for (size_t k = 0; k < n;) {
      const int x = first_x + static_cast<int>(k);
      const size_t count = std::min<size_t>(n - k, kBlockPosts - (x & kBlockMask));
      runs_.push_back({k, count, PostOffset(x, 0) - PostOffset(0, 0)});
      k += count;
    }
    rows_.clear();
    return true;
  }

  // Adds row y, whose record step is `i`, to the rows of the current block row.
  void AddRow(int y, const GridStep& i) { rows_.push_back({y, i, 0, 0}); }

  // Stores the elevations of the rows added since the last call into their posts.
  void StoreRows(const PassGrid& grid, uint8_t* tile) {
    if (runs_.empty()) rows_.clear();  // no column of the tile lies inside the grid
    if (rows_.empty()) return;
    records_.Clear();
    for (const PendingRow& row : rows_) records_.Add(row.i);
    records_.Finish();
    along_.resize(records_.size() * stride_);
    // The records in the order of the rows (north to south in a grid whose record 0 is the
    // northern row), each fetching the next one into the cache.
    const bool descending = rows_.front().i.lo > rows_.back().i.lo;
    for (size_t n = 0; n < records_.size(); ++n) {
      const size_t r = descending ? records_.size() - 1 - n : n;
      const int next = records_[r] + (descending ? -1 : 1);
      const uint8_t* const values = grid.Record(records_[r]);
      AlongRecord(values, next >= 0 && next < ncols_ ? grid.Record(next) : values, lo_.data(),
                  frac_.data(), stride_, &along_[r * stride_]);
    }
    for (PendingRow& row : rows_) {
      row.t0 = records_.Find(row.i.lo) * stride_;
      row.t1 = records_.Find(row.i.hi) * stride_;
    }
    for (const Run& run : runs_) {
      for (const PendingRow& row : rows_) {
        StoreRun(&along_[row.t0 + run.first], &along_[row.t1 + run.first], row.i.frac, run.count,
                 tile + PostOffset(0, row.y) + run.post_offset);
      }
    }
    rows_.clear();
  }

 private:
  struct PendingRow {
    int y;
    GridStep i;
    size_t t0, t1;  // where the interpolations along its two records start in along_
  };
  struct Run {
    size_t first, count;   // the run's columns
    uint32_t post_offset;  // offset of its first post from the row's first post
  };

  int ncols_ = 0;
  size_t stride_ = 0;         // columns, rounded up to even
  std::vector<uint32_t> lo_;  // byte offset of each column's pair of values in a record
  std::vector<double> frac_;
  std::vector<Run> runs_;
  std::vector<PendingRow> rows_;
  BlockRowRecords records_;    // the records of the pending rows
  std::vector<double> along_;  // their interpolations, stride_ values each
};
#else
// Without two-lane operations every post is interpolated on its own.
class AlignedRows {
 public:
  bool Start(const std::vector<FastAxis>&, int, int, int) { return false; }
  void AddRow(int, const GridStep&) {}
  void StoreRows(const PassGrid&, uint8_t*) {}
};
#endif

}  // namespace

int trn_elevation(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                  double lon4, double lat4, const char* grid_name, int ncols, int nrows) {
  const std::optional<Region> region =
      PassRegion(kModule, lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  if (!region) return -1;
  const GridPlacement placement(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);

  PassGrid grid;
  if (!grid.Load(kModule, grid_name, ncols, nrows)) return -1;
  auto value = [&grid](int i, int j) { return GetS32(grid.Cell(i, j)); };

  std::vector<GridPlacement::ColumnTerms> columns;
  std::vector<FastAxis> fast_columns;
  AlignedRows aligned;
  PassBuffer buffer(0, kElevationTileBytes);
  const int result = WalkRegion(*region, [&](const TileSpan& t) {
    TileUpdate update;
    if (!update.Open(kModule, ElevationTileName(t.tx, t.ty), buffer, kKindElevation)) return -1;
    uint8_t* const tile = update.data;
    // Stores the interpolation at record step i and value step j into post (x, y).
    auto store = [&](int x, int y, const GridStep& i, const GridStep& j) {
      const double e = Interpolate(value(i.lo, j.lo), value(i.lo, j.hi), value(i.hi, j.lo),
                                   value(i.hi, j.hi), i.frac, j.frac);
      SetElevation(tile, x, y, static_cast<int16_t>(static_cast<uint16_t>(TruncateToInt32(e))));
    };

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
      f.inside = InGridBand(c.r);
      if (f.separable && f.inside) f.step = StepAt((nrows - 1) * c.r, nrows);
      all_columns_separable = all_columns_separable && f.separable;
      fast_columns.push_back(f);
    }
    const bool aligned_rows =
        all_columns_separable && aligned.Start(fast_columns, t.xs, ncols, nrows);
    for (int y = t.ys; y <= t.ye; ++y) {
      if (y % kRowLineStep == 0) PrintRowLine(y, t.ye);
      const GridPlacement::RowTerms row = placement.Row(orientation, RowLatitude(t.ty, y));
      FastAxis fast_row;
      fast_row.separable = row.q == 0 && std::isfinite(row.p);
      fast_row.inside = InGridBand(row.p);
      if (fast_row.separable && fast_row.inside) {
        fast_row.step = StepAt((ncols - 1) * row.p, ncols);
      }
      if (fast_row.separable && all_columns_separable) {
        if (fast_row.inside && aligned_rows) aligned.AddRow(y, fast_row.step);
        if (fast_row.inside && !aligned_rows) {
          for (int x = t.xs; x <= t.xe; ++x) {
            const FastAxis& column = fast_columns[x - t.xs];
            if (column.inside) store(x, y, fast_row.step, column.step);
          }
        }
      } else {
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
          store(x, y, StepAt((ncols - 1) * u, ncols), StepAt((nrows - 1) * v, nrows));
        }
      }
      // Every post takes its value from the grid alone, so the rows of an aligned grid can wait
      // for the end of their block row and be stored together.
      if (aligned_rows && (y == t.ye || (y & kBlockMask) == kBlockMask)) {
        aligned.StoreRows(grid, tile);
      }
    }
    return update.Finish(kModule);
  });
  if (result != 0) return result;
  return grid.Close(kModule);
}
