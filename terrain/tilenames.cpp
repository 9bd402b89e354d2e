#include "tilenames.h"

#include <cstdio>

namespace {

template <class... Args>
std::string FormatName(const char* format, Args... args) {
  char buffer[kFileNameSize];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

}  // namespace

std::string ElevationTileName(int tx, int ty) { return FormatName("%03d_%03d", tx, ty); }
std::string ColorTileName(int tx, int ty) { return FormatName("%03d_%03d.c32", tx, ty); }
std::string ScratchTileName(int tx, int ty) { return FormatName("%03d_%03d.tmp", tx, ty); }
std::string LevelFileName(const std::string& tile_name, int level) {
  return FormatName("%s_%d", tile_name.c_str(), level);
}
std::string GridFileName(const std::string& base, int ncols, int nrows) {
  return FormatName("%s.%04dx%04d", base.c_str(), ncols, nrows);
}
