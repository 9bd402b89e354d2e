// landimport: colours the terrain tiles of a region by USGS land use, placing the land-use grid
// by its geographic bounds, optionally rotated, shifted and scaled about their centre.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "cmdline.h"
#include "corners.h"
#include "landuse.h"
#include "preflight.h"
#include "programs.h"
#include "trn_color.h"

int RunLandimport(int argc, char** argv) {
  if (!CheckArgCount(argc, argv, 7, "ctg_filename Rot(deg) TransX TransY SizeX SizeY ")) return -1;
  if (!CheckNumbers("landimport", argv, kLandimportNumbers)) return -1;
  const double rot_deg = ArgToDouble(argv[2]);
  const double trans_x = ArgToDouble(argv[3]);
  const double trans_y = ArgToDouble(argv[4]);
  const double size_x = ArgToDouble(argv[5]);
  const double size_y = ArgToDouble(argv[6]);

  const std::optional<CtgGrid> read = ReadCtg(argv[1]);
  if (!read) return -1;
  const CtgGrid& grid = *read;
  const Bounds b{-grid.west * 0.0001, -grid.east * 0.0001, grid.south * 0.0001,
                 grid.north * 0.0001};

  const CornerTransform transform{b.long_min + (b.long_max - b.long_min) / 2,
                                  b.lat_min + (b.lat_max - b.lat_min) / 2,
                                  rot_deg,
                                  trans_x,
                                  trans_y,
                                  size_x,
                                  size_y};
  Corners c{};
  transform.Apply(b.long_min, b.lat_min, &c.lon1, &c.lat1);
  transform.Apply(b.long_max, b.lat_min, &c.lon2, &c.lat2);
  transform.Apply(b.long_min, b.lat_max, &c.lon3, &c.lat3);
  transform.Apply(b.long_max, b.lat_max, &c.lon4, &c.lat4);
  // The region is checked before the grid file is made, as every file of the run is.
  if (!c.Check("landimport")) return -1;
  // A region of more tiles than the file gave cells a colour is not what the file holds: a CTG
  // of a few bytes, whatever its header claims, could have the colour pass write tiles by the
  // thousand. A file without data records still clears the colours of one tile.
  const int64_t tiles = c.Walked().TileCount();
  if (tiles > std::max(grid.cells, 1)) {
    const std::string reason = std::to_string(tiles) + " tiles, more than the " +
                               std::to_string(grid.cells) + " cells of its grid";
    c.RefuseSpan("landimport", argv[1], reason.c_str());
    return -1;
  }
  if (!CheckLandimportFiles(argv[1], c, grid.grid_name, grid.rows, grid.columns)) return -1;
  if (!WriteCtgGrid(grid)) return -1;
  b.Print();
  c.Print(" = ");

  std::fprintf(stdout, "\nPhase 2: Processing Colors\n\n");
  std::fflush(stdout);
  if (c.Run(trn_color, grid.grid_name.c_str(), grid.rows, grid.columns, 1.0) == -1) {
    std::fprintf(stderr, "\n error: error processing colors!\n");
    return -1;
  }
  return 0;
}
