#include "preflight.h"

#include <cstdint>

#include "demreader.h"
#include "gridforge_input.h"
#include "gridmap.h"
#include "runfiles.h"
#include "trn_rasterfile.h"

namespace {

// The tile files that the shading, elevation post-processing and colour post-processing passes
// read and rewrite; the shading also reads the elevation tiles east of the region.
constexpr unsigned kFinishedTiles = kElevationTiles | kColorTiles | kScratchTiles;

}  // namespace

bool CheckGridforgeFiles(const char* grid_name, const Corners& corners, int ncols, int nrows,
                         const std::string& picture_name) {
  const Region region = corners.Walked();
  RunFiles files("gridforge", region);
  files.Reads("input grid", grid_name);
  // Both are emptied, written and removed; the run opens neither through a link.
  files.Writes("scratch file", kTempElevations, GridBytes(ncols, nrows), true);
  files.Writes("scratch file", kTempColors, GridBytes(ncols, nrows), true);
  files.Writes("picture", picture_name, PictureOf(region).bytes);
  files.Tiles(kFinishedTiles, kFinishedTiles | kLevelFiles);
  files.EastTiles();
  return files.Check();
}

bool CheckTintshadeFiles(const Corners& corners, bool levels) {
  RunFiles files("tintshade", corners.Walked());
  files.Tiles(kFinishedTiles, kFinishedTiles | (levels ? kLevelFiles : 0u));
  files.EastTiles();
  return files.Check();
}

bool CheckTileprintFiles(const Corners& corners, const char* picture_name) {
  const Region region = corners.Walked();
  RunFiles files("tileprint", region);
  files.Writes("picture", picture_name, PictureOf(region).bytes);
  files.Tiles(kElevationTiles, 0);
  return files.Check();
}

bool CheckDemimportFiles(const char* dem_name, const Corners& corners,
                         const std::string& grid_name) {
  // The reader's progress line is still open.
  RunFiles files("demimport", corners.Walked(), "\n");
  files.Reads("DEM", dem_name);
  files.Writes("grid file", grid_name, GridBytes(kDemGridSize, kDemGridSize));
  files.Tiles(kElevationTiles, kElevationTiles);
  return files.Check();
}

bool CheckLandimportFiles(const char* ctg_name, const Corners& corners,
                          const std::string& grid_name, int rows, int columns) {
  RunFiles files("landimport", corners.Walked());
  files.Reads("CTG", ctg_name);
  files.Writes("colour grid file", grid_name, GridBytes(rows, columns));
  files.Tiles(kColorTiles, kColorTiles);
  return files.Check();
}
