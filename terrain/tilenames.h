// The names of the terrain files, formed into a buffer of 256 bytes as the passes' name buffers
// are: a longer name is cut, never written past.
#pragma once

#include <cstddef>
#include <string>

inline constexpr size_t kFileNameSize = 256;

std::string ElevationTileName(int tx, int ty);                       // "%03d_%03d"
std::string ColorTileName(int tx, int ty);                           // "%03d_%03d.c32"
std::string ScratchTileName(int tx, int ty);                         // "%03d_%03d.tmp"
std::string LevelFileName(const std::string& tile_name, int level);  // "%s_%d"
// A grid file "%s.%04dx%04d" from a base name and the grid's two dimensions.
std::string GridFileName(const std::string& base, int ncols, int nrows);
