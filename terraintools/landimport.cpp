// landimport: colours the terrain tiles of a region by USGS land use, placing the land-use grid
// by its geographic bounds, optionally rotated, shifted and scaled about their centre.
#include <cstdio>
#include <optional>

#include "cmdline.h"
#include "corners.h"
#include "landuse.h"
#include "programs.h"
#include "trn_color.h"

int RunLandimport(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "\n usage: %s ctg_filename Rot(deg) TransX TransY SizeX SizeY \n",
                 argv[0]);
    return -1;
  }
  const double rot_deg = ArgToDouble(argv[2]);
  const double trans_x = ArgToDouble(argv[3]);
  const double trans_y = ArgToDouble(argv[4]);
  const double size_x = ArgToDouble(argv[5]);
  const double size_y = ArgToDouble(argv[6]);

  const std::optional<CtgGrid> read = ReadCtg(argv[1]);
  if (!read) return -1;
  const CtgGrid& grid = *read;
  const double long_min = -grid.west * 0.0001;
  const double long_max = -grid.east * 0.0001;
  const double lat_min = grid.south * 0.0001;
  const double lat_max = grid.north * 0.0001;
  std::fprintf(stderr, "long_min = %f \n", long_min);
  std::fprintf(stderr, "long_max = %f \n", long_max);
  std::fprintf(stderr, "lat_min = %f \n", lat_min);
  std::fprintf(stderr, "lat_max = %f \n", lat_max);

  const CornerTransform transform{long_min + (long_max - long_min) / 2,
                                  lat_min + (lat_max - lat_min) / 2,
                                  rot_deg,
                                  trans_x,
                                  trans_y,
                                  size_x,
                                  size_y};
  Corners c{};
  transform.Apply(long_min, lat_min, &c.lon1, &c.lat1);
  transform.Apply(long_max, lat_min, &c.lon2, &c.lat2);
  transform.Apply(long_min, lat_max, &c.lon3, &c.lat3);
  transform.Apply(long_max, lat_max, &c.lon4, &c.lat4);
  if (!c.Check("landimport")) return -1;
  std::fprintf(stderr, "long_00 = %f \n", c.lon1);
  std::fprintf(stderr, "lat_00 = %f \n", c.lat1);
  std::fprintf(stderr, "long_0c = %f \n", c.lon2);
  std::fprintf(stderr, "lat_0c = %f \n", c.lat2);
  std::fprintf(stderr, "long_r0 = %f \n", c.lon3);
  std::fprintf(stderr, "lat_r0 = %f \n", c.lat3);
  std::fprintf(stderr, "long_rc = %f \n", c.lon4);
  std::fprintf(stderr, "lat_rc = %f \n", c.lat4);

  std::fprintf(stdout, "\nPhase 2: Processing Colors\n\n");
  std::fflush(stdout);
  if (c.Run(trn_color, grid.grid_name.c_str(), grid.rows, grid.columns, 1.0) == -1) {
    std::fprintf(stderr, "\n error: error processing colors!\n");
    return -1;
  }
  return 0;
}
