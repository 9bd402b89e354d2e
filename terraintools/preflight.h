// What each terrain program's run reads and writes, checked (RunFiles::Check) after its command
// line, input and region have been checked and before it makes its first file: true when the
// run may go ahead, false after the one line that says why (the program then ends with -1).
#pragma once

#include <string>

#include "corners.h"

// gridforge reads its input grid and the region's tiles; it writes the scratch files
// TempData.tmp and TempDataColors.tmp, the region's tiles, scratch tiles and level files, and the
// picture beside its input.
bool CheckGridforgeFiles(const char* grid_name, const Corners& corners, int ncols, int nrows,
                         const std::string& picture_name);

// tintshade reads and rewrites the region's tiles and scratch tiles; with `levels` it writes the
// level files too.
bool CheckTintshadeFiles(const Corners& corners, bool levels);

// tileprint reads the region's elevation tiles and writes the picture.
bool CheckTileprintFiles(const Corners& corners, const char* picture_name);

// demimport reads the DEM and writes its grid file and the region's elevation tiles.
bool CheckDemimportFiles(const char* dem_name, const Corners& corners,
                         const std::string& grid_name);

// landimport reads the CTG and writes its colour grid file of `rows` x `columns` cells and the
// region's colour tiles.
bool CheckLandimportFiles(const char* ctg_name, const Corners& corners,
                          const std::string& grid_name, int rows, int columns);
