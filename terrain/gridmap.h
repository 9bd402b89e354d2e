// Placement of a grid of ncols records by nrows values on four corner points, shared by the
// elevation and colour passes: the orientation, the row and column terms, the grid position
// (u along the records, v along the values) and its tolerance test.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "tilebuffer.h"
#include "tilefile.h"
#include "tilegrid.h"

// Bytes of one grid value: a 32-bit elevation, or the red, green, blue and alpha of a colour.
inline constexpr uint32_t kGridValueSize = 4;

// Whether a grid position (a fraction of the grid's span) passes the tolerance test: within
// -0.00001..1.00001; false for NaN.
inline bool InGridBand(double f) { return f >= -0.00001 && f <= 1.00001; }

class GridPlacement {
 public:
  GridPlacement(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                double lon4, double lat4)
      : lon1_(lon1),
        lat1_(lat1),
        lon2_(lon2),
        lat2_(lat2),
        lon3_(lon3),
        lat3_(lat3),
        lon4_(lon4),
        lat4_(lat4) {}

  // 1 when corner 3's longitude differs more from corner 1's than corner 2's does.
  int Orientation() const { return std::fabs(lon3_ - lon1_) > std::fabs(lon2_ - lon1_) ? 1 : 0; }

  struct RowTerms {
    double p, q;
  };
  struct ColumnTerms {
    double r, s;
  };

  RowTerms Row(int orientation, double phi) const {
    return orientation == 0 ? Along<RowTerms>(phi, lat1_, lat3_, lat2_, lat4_)
                            : Along<RowTerms>(phi, lat1_, lat2_, lat3_, lat4_);
  }

  ColumnTerms Column(int orientation, double lambda) const {
    return orientation == 0 ? Along<ColumnTerms>(lambda, lon1_, lon2_, lon3_, lon4_)
                            : Along<ColumnTerms>(lambda, lon1_, lon3_, lon2_, lon4_);
  }

  // The column terms depend on the longitude only: computed once per tile for its columns.
  void Columns(int orientation, int32_t tx, int xs, int xe, std::vector<ColumnTerms>& out) const {
    out.clear();
    for (int x = xs; x <= xe; ++x) {
      const double lambda = static_cast<double>(tx * kTilePosts + x) * kPostSpacing - 180;
      out.push_back(Column(orientation, lambda));
    }
  }

  // Grid position of a post; false (post skipped) outside the tolerance band or for NaN.
  static bool Position(const RowTerms& row, const ColumnTerms& col, double& u, double& v) {
    const double d = 1 - col.s * row.q;
    u = row.p + col.r * row.q;
    v = col.r + col.s * row.p;
    // Division by exactly 1 changes no bit (NaN and infinity included): an axis-aligned grid,
    // the usual case, saves both divisions.
    if (d != 1.0) {
      u /= d;
      v /= d;
    }
    return InGridBand(v) && InGridBand(u);
  }

 private:
  // The terms of one axis: the fraction of the way from a to b at which x lies, and how much
  // more of the way from c to d it lies (p and q of a row, r and s of a column).
  template <class Terms>
  static Terms Along(double x, double a, double b, double c, double d) {
    const double first = (x - a) / (b - a);
    return {first, (x - c) / (d - c) - first};
  }

  double lon1_, lat1_, lon2_, lat2_, lon3_, lat3_, lon4_, lat4_;
};

// Bytes of a grid of `ncols` records of `nrows` values, each dimension at least 1. A pass loads
// a grid of at most kMaxBufferBytes.
inline uint64_t GridBytes(int ncols, int nrows) {
  return uint64_t{kGridValueSize} * static_cast<uint64_t>(ncols) * static_cast<uint64_t>(nrows);
}

// The grid file of a pass, held whole in memory from the start of the pass to its end.
class PassGrid {
 public:
  // Refuses a dimension below 1, opens the grid ("%-11s opened  RO"), reads its
  // ncols x nrows values into a zero-filled buffer (a short file leaves zeroes) and prints
  // "\n". False after a reported failure.
  bool Load(const char* module, const char* name, int ncols, int nrows) {
    if (ncols < 1 || nrows < 1) {
      std::fprintf(stderr, "%s: bad grid size %d x %d\n", module, ncols, nrows);
      return false;
    }
    file_ = TileFile::OpenGrid(module, name);
    if (!file_.is_open()) return false;
    data_ = TileBuffer::Allocate(module, GridBytes(ncols, nrows));
    if (!data_ || !file_.ReadWhole(module, data_)) return false;
    std::printf("\n");
    nrows_ = nrows;
    return true;
  }

  // The four bytes of value j of record i.
  const uint8_t* Cell(int i, int j) const {
    return data_.data() +
           (static_cast<uint64_t>(i) * static_cast<uint64_t>(nrows_) + j) * kGridValueSize;
  }
  const uint8_t* Record(int i) const { return Cell(i, 0); }

  // Closes the grid file after the last tile: 0, or -1 after code 8.
  int Close(const char* module) { return file_.Close(module); }

 private:
  TileFile file_;
  TileBuffer data_;
  int nrows_ = 0;
};

// Latitude of in-tile post row y of tile row ty.
inline double RowLatitude(int32_t ty, int y) {
  return static_cast<double>(ty * kTilePosts + y) * kPostSpacing - 90;
}

// floor(f) as an integer, for a fractional grid index that passed the tolerance test: it lies
// within (n - 1) x [-0.00001, 1.00001] for a grid of n < 2^30 values (the grid's byte count
// fits 32 bits), so the conversion cannot overflow.
inline int32_t GridFloor(double f) {
  const int32_t t = static_cast<int32_t>(f);
  return t - (t > f ? 1 : 0);
}

// Keeps a grid index inside 0..n-1. Inside the tolerance band of a grid of more than 100,000
// values an index can lie more than one step outside the grid; it reads the edge value.
inline int ClampIndex(int64_t i, int n) {
  return i < 0 ? 0 : (i >= n ? n - 1 : static_cast<int>(i));
}

// A fractional grid index along one direction: the two indexes around it, kept inside the grid,
// and the fraction past the lower one.
struct GridStep {
  int lo = 0, hi = 0;
  double frac = 0;
};

// The step of fractional index f in a grid of n: the fraction is taken before the indexes are
// kept inside the grid.
inline GridStep StepAt(double f, int n) {
  const int32_t i0 = GridFloor(f);
  return GridStep{ClampIndex(i0, n), ClampIndex(int64_t{i0} + 1, n), f - i0};
}

// The distinct records that the rows of one block row of an axis-aligned grid interpolate
// between, ascending: a pass interpolates along the values of each of them once, and finds the
// result by the record's place here.
class BlockRowRecords {
 public:
  void Clear() { records_.clear(); }
  // Adds the two records of a row's record step.
  void Add(const GridStep& i) {
    records_.push_back(i.lo);
    records_.push_back(i.hi);
  }
  // Puts the records added in order and drops repeats; then they have their places.
  void Finish() {
    std::sort(records_.begin(), records_.end());
    records_.erase(std::unique(records_.begin(), records_.end()), records_.end());
  }
  size_t size() const { return records_.size(); }
  int operator[](size_t place) const { return records_[place]; }
  // The place of `record`, or size() when it is not among them.
  size_t Find(int record) const {
    const auto at = std::lower_bound(records_.begin(), records_.end(), record);
    return at != records_.end() && *at == record ? static_cast<size_t>(at - records_.begin())
                                                 : records_.size();
  }

 private:
  std::vector<int> records_;
};
