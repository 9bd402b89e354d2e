#include "trn_color.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "gridmap.h"
#include "tiledb.h"

namespace {

constexpr char kModule[] = "trn_color";

std::array<uint8_t, 256> gamma_table;

void BuildGammaTable(double gamma) {
  gamma_table[0] = 0;
  for (int i = 1; i < 256; ++i) {
    const double g = 255 * std::pow(i * 0.00392156862745098, 1 / gamma);
    gamma_table[i] = static_cast<uint8_t>(TruncateToInt32(g));
  }
}

// Linear interpolation truncated toward zero, as the blend takes it after every step.
int Lerp(int from, int to, double t) { return TruncateToInt32(from + (to - from) * t); }

}  // namespace

const std::array<uint8_t, 256>& trn_color_gamma_table() { return gamma_table; }

int trn_color(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
              double lon4, double lat4, const char* grid_name, int ncols, int nrows, double gamma) {
  BuildGammaTable(gamma);
  const Region region = MakeRegion(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  const GridPlacement placement(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);

  PassGrid grid;
  if (!grid.Load(kModule, grid_name, ncols, nrows)) return -1;

  std::vector<GridPlacement::ColumnTerms> columns;
  PassBuffer buffer(0, kColorTileBytes);
  const int result = WalkRegion(region, [&](const TileSpan& t) {
    TileUpdate update;
    if (!update.Open(kModule, ColorTileName(t.tx, t.ty), buffer, kKindColor)) return -1;
    uint8_t* const tile = update.data;

    const int orientation = placement.Orientation();
    placement.Columns(orientation, t.tx, t.xs, t.xe, columns);
    for (int y = t.ys; y <= t.ye; ++y) {
      if (y % 4 == 0) PrintRowLine(y, t.ye);
      const GridPlacement::RowTerms row = placement.Row(orientation, RowLatitude(t.ty, y));
      for (int x = t.xs; x <= t.xe; ++x) {
        double u, v;
        if (!GridPlacement::Position(row, columns[x - t.xs], u, v)) continue;
        // Record index: the fraction is taken before the indexes are clamped.
        const double fi = (ncols - 1) * u;
        const int32_t i0 = GridFloor(fi);
        const double a = fi - i0;
        const int ri0 = ClampIndex(i0, ncols), ri1 = ClampIndex(int64_t{i0} + 1, ncols);
        // Value index: raised to 0 first, so the fraction extrapolates before value 0.
        const double fj = (nrows - 1) * v;
        int32_t j0 = GridFloor(fj);
        if (j0 < 0) j0 = 0;
        const double b = fj - j0;
        const int rj0 = ClampIndex(j0, nrows), rj1 = ClampIndex(int64_t{j0} + 1, nrows);

        const uint8_t* c00 = grid.Cell(ri0, rj0);
        const uint8_t* c01 = grid.Cell(ri0, rj1);
        const uint8_t* c10 = grid.Cell(ri1, rj0);
        const uint8_t* c11 = grid.Cell(ri1, rj1);
        uint8_t* post = PostAt(tile, x, y);

        const int alpha = Lerp(Lerp(c00[3], c01[3], b), Lerp(c10[3], c11[3], b), a);
        const int old_alpha = post[3];
        // Before value 0 the alpha extrapolates and may fall below 0: a blend whose weights
        // cancel or sum below 0 leaves no colour, as an alpha of 0 does.
        if (alpha == 0 || alpha + old_alpha <= 0) {
          post[0] = post[1] = post[2] = post[3] = 0;
          continue;
        }
        for (int c = 0; c < 3; ++c) {
          const int n = Lerp(Lerp(gamma_table[c00[c]], gamma_table[c01[c]], b),
                             Lerp(gamma_table[c10[c]], gamma_table[c11[c]], b), a);
          const int blended = (n * alpha + post[c] * old_alpha) / (alpha + old_alpha);
          post[c] = static_cast<uint8_t>(blended);
        }
        const int sum = alpha + old_alpha;
        post[3] = static_cast<uint8_t>(sum > 255 ? 255 : sum);
      }
    }
    return update.Finish(kModule);
  });
  if (result != 0) return result;
  return grid.Close(kModule);
}
