#include "trn_color.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "gridmap.h"
#include "passbuffer.h"
#include "progress.h"
#include "regionwalk.h"
#include "support/Truncate.h"
#include "tileformat.h"
#include "tilenames.h"
#include "trn_post_walk.h"

namespace {

constexpr char kModule[] = "trn_color";
constexpr int kRowLineStep = 4;  // a row line on every fourth post row
// The double nearest 1/255, slightly below it: with gamma 1.0 some entries come out one below
// their index.
constexpr double kInverse255 = 0.00392156862745098;
constexpr int kMaxChannel = 255;

// Red, green, blue and alpha of a post, and of a grid value.
constexpr int kChannels = 4;
constexpr int kColorChannels = 3;  // red, green and blue, before the alpha
constexpr int kAlpha = 3;
// The terms of a column between two records: four interpolations at the lower one, then their
// differences to those at the upper one.
constexpr size_t kTermsPerColumn = 2 * kChannels;

using GammaTable = std::array<uint8_t, 256>;

// The gamma table of the last call, in static storage: trn_color_gamma_table gives it after the
// call. The pass reads it through the reference it hands its parts.
GammaTable LastGammaTable;

// G[0] = 0, G[i] = 255 (i k)^(1/gamma) truncated, k = kInverse255.
//
// Colour post-processing builds a gamma table of its own by another formula, 255 e^(ln(i k) /
// gamma) with k = 1.0 / 255.0 (BuildGammaTable in trn_color_post_cut.cpp). The two differ in
// some entries (22 of them, by one, for gamma 1.0), and the tiles that each pass writes follow
// its own: both formulas are required, and neither table may stand in for the other.
void BuildColorGammaTable(double gamma, GammaTable& table) {
  table[0] = 0;
  for (int i = 1; i < static_cast<int>(table.size()); ++i) {
    const double g = kMaxChannel * std::pow(i * kInverse255, 1 / gamma);
    table[i] = static_cast<uint8_t>(TruncateToInt32(g));
  }
}

// Linear interpolation truncated toward zero, as the blend takes it after every step.
//
// The plain conversion truncates as the range-checked one does, because the value always lies
// well inside 32 bits. A post is interpolated only when its grid position passed the tolerance
// test, so its fractions are finite: a = fi - floor(fi) lies in [0, 1), and
// b = fj - max(0, floor(fj)) in [fj, 1) with fj >= -0.00001 (nrows - 1) > -10738 (a grid whose
// bytes fit 32 bits has fewer than 2^30 values a record). The interpolations along the values
// take bytes, so they stay below 255 + 255 x 10738 in magnitude, and the one along the records
// takes two of those with a in [0, 1).
inline int Lerp(int from, int to, double t) { return static_cast<int32_t>(from + (to - from) * t); }

// The post's new bytes from the interpolated red, green, blue (n) and alpha, and its old ones.
inline void Blend(uint8_t* post, const int32_t n[kColorChannels], int alpha) {
  const int old_alpha = post[kAlpha];
  const int sum = alpha + old_alpha;
  // Before value 0 the alpha extrapolates and may fall below 0: a blend whose weights cancel or
  // sum below 0 leaves no colour, as an alpha of 0 does.
  if (alpha == 0 || sum <= 0) {
    post[0] = post[1] = post[2] = post[kAlpha] = 0;
    return;
  }
  if (old_alpha == 0) {
    // (n alpha + o 0) / (alpha + 0) is n: a post without colour takes the grid's.
    for (int c = 0; c < kColorChannels; ++c) post[c] = static_cast<uint8_t>(n[c]);
  } else {
    // In 64 bits: the extrapolation before value 0 of a grid of a few million values a record
    // can take the products past 32 bits.
    for (int c = 0; c < kColorChannels; ++c) {
      const int64_t blended = (int64_t{n[c]} * alpha + int64_t{post[c]} * old_alpha) / sum;
      post[c] = static_cast<uint8_t>(blended);
    }
  }
  post[kAlpha] = static_cast<uint8_t>(sum > kMaxChannel ? kMaxChannel : sum);
}

// Where a post's grid position lies along one direction; `inside` when the position passes the
// tolerance test.
struct Step : GridStep {
  bool inside = false;
};

// Record index: the fraction is taken before the indexes are clamped.
Step RecordStep(double u, int ncols) { return Step{StepAt((ncols - 1) * u, ncols), true}; }

// Value index: raised to 0 first, so the fraction extrapolates before value 0.
Step ValueStep(double v, int nrows) {
  const double fj = (nrows - 1) * v;
  int32_t j0 = GridFloor(fj);
  if (j0 < 0) j0 = 0;
  return Step{GridStep{ClampIndex(j0, nrows), ClampIndex(int64_t{j0} + 1, nrows), fj - j0}, true};
}

// The posts of a tile whose grid position comes from the rows and the columns alone. Where a
// row's Q and a column's S are exactly 0 (an axis-aligned grid), D is exactly 1, u is P and v is
// R (up to the sign of a zero, which changes no result), so every post of a row interpolates
// between the same two records, and the interpolation along the values of one record is the
// same in every row that takes that record: it is computed once per record for the rows of a
// block row, and the posts then take only the interpolation along the records.
class SeparableTile {
 public:
  explicit SeparableTile(const GammaTable& gamma) : gamma_(gamma) {}

  // False when the tile's grid position does not come apart into rows and columns.
  bool Start(const GridPlacement& placement, const TileSpan& t, int ncols, int nrows) {
    const int orientation = placement.Orientation();
    placement.Columns(orientation, t.tx, t.xs, t.xe, column_terms_);
    for (const GridPlacement::ColumnTerms& c : column_terms_)
      if (!(c.s == 0 && std::isfinite(c.r))) return false;
    rows_.clear();
    for (int y = t.ys; y <= t.ye; ++y) {
      const GridPlacement::RowTerms row = placement.Row(orientation, RowLatitude(t.ty, y));
      if (!(row.q == 0 && std::isfinite(row.p))) return false;
      rows_.push_back(InGridBand(row.p) ? RecordStep(row.p, ncols) : Step{});
    }
    columns_.clear();
    column_inside_.clear();
    for (const GridPlacement::ColumnTerms& c : column_terms_) {
      columns_.push_back(InGridBand(c.r) ? ValueStep(c.r, nrows) : Step{});
      column_inside_.push_back(columns_.back().inside ? 1 : 0);
    }
    t_ = t;
    band_ = -1;
    records_.Clear();
    return true;
  }

  // Blends the posts of one block's part of the region into the tile.
  void Block(const PassGrid& grid, const BlockPart& b, uint8_t* tile) {
    if (b.y0 != band_) StartBand(grid, b.y0, b.y1);
    uint32_t offset = b.offset;
    for (int y = b.y0; y <= b.y1; ++y, offset += kBlockRowBytes) {
      const Step& row = rows_[static_cast<size_t>(y - t_.ys)];
      if (!row.inside) continue;
      const double* terms =
          PairTerms(row.lo, row.hi) + kTermsPerColumn * static_cast<size_t>(b.x0 - t_.xs);
      const __m128d a = _mm_set1_pd(row.frac);
      const uint8_t* inside = &column_inside_[static_cast<size_t>(b.x0 - t_.xs)];
      uint8_t* post = tile + offset;
      for (int x = b.x0; x <= b.x1; ++x, terms += 8, post += kPostSize) {
        if (!*inside++) continue;
        // Red, green, blue and alpha, two at a time: from + (to - from) x a, truncated.
        const __m128d rg = _mm_add_pd(_mm_load_pd(terms), _mm_mul_pd(_mm_load_pd(terms + 4), a));
        const __m128d ba =
            _mm_add_pd(_mm_load_pd(terms + 2), _mm_mul_pd(_mm_load_pd(terms + 6), a));
        const __m128i n = _mm_unpacklo_epi64(_mm_cvttpd_epi32(rg), _mm_cvttpd_epi32(ba));
        const int alpha = _mm_cvtsi128_si32(_mm_srli_si128(n, 12));
        if (post[kAlpha] == 0 && static_cast<unsigned>(alpha - 1) < unsigned{kMaxChannel}) {
          // A post without colour under an alpha of 1 to 255, the usual case, takes the low
          // bytes of the interpolated colour and the alpha as they are (Blend's result).
          const __m128i low = _mm_and_si128(n, _mm_set1_epi32(0xFF));
          const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(low, low), low);
          const int32_t word = _mm_cvtsi128_si32(bytes);
          std::memcpy(post, &word, kPostSize);
        } else {
          alignas(16) int32_t v[4];
          _mm_store_si128(reinterpret_cast<__m128i*>(v), n);
          Blend(post, v, v[kAlpha]);
        }
      }
    }
  }

 private:
  // The interpolations along the values of the records that the rows y0..y1 take: red, green,
  // blue (gamma-corrected) and alpha for every column of the tile's region.
  void StartBand(const PassGrid& grid, int y0, int y1) {
    band_ = y0;
    pairs_.clear();
    // A record that the block row before took as well keeps its interpolations.
    std::swap(records_, last_records_);
    along_.swap(last_along_);
    records_.Clear();
    for (int y = y0; y <= y1; ++y) {
      const Step& row = rows_[static_cast<size_t>(y - t_.ys)];
      if (row.inside) records_.Add(row);
    }
    records_.Finish();
    const size_t width = kChannels * columns_.size();
    along_.resize(records_.size() * width);
    for (size_t r = 0; r < records_.size(); ++r) {
      int32_t* t = &along_[r * width];
      const size_t last = last_records_.Find(records_[r]);
      if (last < last_records_.size()) {
        std::copy_n(&last_along_[last * width], width, t);
        continue;
      }
      for (const Step& j : columns_) {
        if (j.inside) {
          const uint8_t* c0 = grid.Cell(records_[r], j.lo);
          const uint8_t* c1 = grid.Cell(records_[r], j.hi);
          for (int c = 0; c < kColorChannels; ++c)
            t[c] = Lerp(gamma_[c0[c]], gamma_[c1[c]], j.frac);
          t[kAlpha] = Lerp(c0[kAlpha], c1[kAlpha], j.frac);
        }
        t += 4;
      }
    }
  }

  // Where the interpolations of a record of the current block row start in along_.
  size_t Slot(int record) const { return records_.Find(record) * kChannels * columns_.size(); }

  // For the rows between records lo and hi of the current block row, the terms of every
  // column: its four interpolations at lo (from) and their differences to those at hi
  // (to - from), as doubles, the from terms first.
  const double* PairTerms(int lo, int hi) {
    for (size_t p = 0; p < pairs_.size(); ++p)
      if (pairs_[p].first == lo && pairs_[p].second == hi)
        return &pair_terms_[p * kTermsPerColumn * columns_.size()];
    pairs_.emplace_back(lo, hi);
    pair_terms_.resize(pairs_.size() * kTermsPerColumn * columns_.size());
    double* out = &pair_terms_[(pairs_.size() - 1) * kTermsPerColumn * columns_.size()];
    const int32_t* from = &along_[Slot(lo)];
    const int32_t* to = &along_[Slot(hi)];
    for (size_t k = 0; k < columns_.size(); ++k, from += 4, to += 4, out += 8) {
      for (int c = 0; c < 4; ++c) {
        out[c] = from[c];
        out[4 + c] = to[c] - from[c];
      }
    }
    return &pair_terms_[(pairs_.size() - 1) * kTermsPerColumn * columns_.size()];
  }

  const GammaTable& gamma_;
  TileSpan t_;
  int band_ = -1;
  std::vector<GridPlacement::ColumnTerms> column_terms_;
  std::vector<Step> rows_, columns_;
  std::vector<uint8_t> column_inside_;
  BlockRowRecords records_, last_records_;
  std::vector<int32_t> along_, last_along_;
  std::vector<std::pair<int, int>> pairs_;
  std::vector<double> pair_terms_;  // 16-byte aligned, as the heap gives it
};

// Blends the posts of a run of one row, each from its own grid position: the placement of a
// grid that is turned against the tile's rows and columns.
void BlendRun(const PassGrid& grid, const GammaTable& gamma, const GridPlacement::RowTerms& row,
              const GridPlacement::ColumnTerms* columns, int n, int ncols, int nrows,
              uint8_t* post) {
  for (int k = 0; k < n; ++k, post += kPostSize) {
    double u, v;
    if (!GridPlacement::Position(row, columns[k], u, v)) continue;
    const Step i = RecordStep(u, ncols), j = ValueStep(v, nrows);
    const uint8_t* c00 = grid.Cell(i.lo, j.lo);
    const uint8_t* c01 = grid.Cell(i.lo, j.hi);
    const uint8_t* c10 = grid.Cell(i.hi, j.lo);
    const uint8_t* c11 = grid.Cell(i.hi, j.hi);
    const double a = i.frac, b = j.frac;
    const int alpha = Lerp(Lerp(c00[kAlpha], c01[kAlpha], b), Lerp(c10[kAlpha], c11[kAlpha], b), a);
    int32_t n3[kColorChannels] = {};
    if (alpha != 0) {
      for (int c = 0; c < kColorChannels; ++c) {
        n3[c] =
            Lerp(Lerp(gamma[c00[c]], gamma[c01[c]], b), Lerp(gamma[c10[c]], gamma[c11[c]], b), a);
      }
    }
    Blend(post, n3, alpha);
  }
}

}  // namespace

const std::array<uint8_t, 256>& trn_color_gamma_table() { return LastGammaTable; }

int trn_color(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
              double lon4, double lat4, const char* grid_name, int ncols, int nrows, double gamma) {
  BuildColorGammaTable(gamma, LastGammaTable);
  const GammaTable& gamma_table = LastGammaTable;
  const std::optional<Region> region =
      PassRegion(kModule, lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  if (!region) return -1;
  const GridPlacement placement(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);

  PassGrid grid;
  if (!grid.Load(kModule, grid_name, ncols, nrows)) return -1;

  PassBuffer buffer(0, kColorTileBytes);
  SeparableTile separable(gamma_table);
  std::vector<GridPlacement::ColumnTerms> columns;
  const int result = WalkRegion(*region, [&](const TileSpan& t) {
    TileUpdate update;
    if (!update.Open(kModule, ColorTileName(t.tx, t.ty), buffer, kKindColor)) return -1;
    uint8_t* const tile = update.data;
    auto row_line = [&t](int y) {
      if (y % kRowLineStep == 0) PrintRowLine(y, t.ye);
    };
    if (separable.Start(placement, t, ncols, nrows)) {
      ForEachRegionBlock(t, row_line, [&](const BlockPart& b) { separable.Block(grid, b, tile); });
    } else {
      const int orientation = placement.Orientation();
      placement.Columns(orientation, t.tx, t.xs, t.xe, columns);
      ForEachRegionRun(t, row_line, [&](int x0, int x1, int y, uint32_t offset) {
        BlendRun(grid, gamma_table, placement.Row(orientation, RowLatitude(t.ty, y)),
                 &columns[x0 - t.xs], x1 - x0 + 1, ncols, nrows, tile + offset);
      });
    }
    return update.Finish(kModule);
  });
  if (result != 0) return result;
  return grid.Close(kModule);
}
