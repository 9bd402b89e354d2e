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

Step RecordStep(double f, int n) {
  const int32_t i0 = TruncateToInt32(std::floor(f));
  Step s;
  s.frac = f - i0;
  s.lo = ClampIndex(i0, n);
  s.hi = ClampIndex(int64_t{i0} + 1, n);
  return s;
}

}  // namespace

int trn_elevation(double lon1, double lat1, double lon2, double lat2, double lon3, double lat3,
                  double lon4, double lat4, const char* grid_name, int ncols, int nrows) {
  if (ncols < 1 || nrows < 1) {
    std::fprintf(stderr, "%s: bad grid size %d x %d\n", kModule, ncols, nrows);
    return -1;
  }
  const Region region = MakeRegion(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  const GridPlacement placement(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);

  TileFile grid_file = TileFile::OpenGrid(kModule, grid_name);
  if (!grid_file.is_open()) return -1;
  TileBuffer grid = TileBuffer::Allocate(
      kModule, uint64_t{4} * static_cast<uint64_t>(ncols) * static_cast<uint64_t>(nrows));
  if (!grid) return -1;
  grid_file.ReadWhole(grid);
  std::printf("\n");

  const uint8_t* g = grid.data();
  auto value = [g, nrows](int i, int j) {
    return static_cast<double>(
        GetS32(g + (static_cast<uint64_t>(i) * static_cast<uint64_t>(nrows) + j) * 4));
  };

  std::vector<GridPlacement::ColumnTerms> columns;
  const int result = WalkRegion(region, [&](const TileSpan& t) {
    const std::string name = ElevationTileName(t.tx, t.ty);
    TileFile file = TileFile::OpenOutput(kModule, name);
    if (!file.is_open()) return -1;
    TileBuffer tile = TileBuffer::Allocate(kModule, kElevationTileBytes);
    if (!tile) return -1;
    file.ReadWhole(tile);
    SetIdentification(tile.data(), kKindElevation);

    const int orientation = placement.Orientation();
    placement.Columns(orientation, t.tx, t.xs, t.xe, columns);
    for (int y = t.ys; y <= t.ye; ++y) {
      if (y % 4 == 0) PrintRowLine(y, t.ye);
      const GridPlacement::RowTerms row = placement.Row(orientation, RowLatitude(t.ty, y));
      for (int x = t.xs; x <= t.xe; ++x) {
        double u, v;
        if (!GridPlacement::Position(row, columns[x - t.xs], u, v)) continue;
        const Step i = RecordStep((ncols - 1) * u, ncols);
        const Step j = RecordStep((nrows - 1) * v, nrows);
        const double g00 = value(i.lo, j.lo), g01 = value(i.lo, j.hi);
        const double g10 = value(i.hi, j.lo), g11 = value(i.hi, j.hi);
        const double t0 = g00 + (g01 - g00) * j.frac;
        const double t1 = g10 + (g11 - g10) * j.frac;
        const double e = t0 + (t1 - t0) * i.frac;
        SetElevation(tile.data(), x, y,
                     static_cast<int16_t>(static_cast<uint16_t>(TruncateToInt32(e))));
      }
    }
    PrintTileLine();
    file.WriteWhole(tile);
    return file.Close(kModule);
  });
  if (result != 0) return result;
  return grid_file.Close(kModule);
}
