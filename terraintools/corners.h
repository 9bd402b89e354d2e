// The four corner points that the terrain programs hand to every pass, and the box of bounds
// that most of them come from.
#pragma once

#include "regionwalk.h"

struct Corners {
  double lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4;

  // Whether the points lie on the globe (CheckRegion, reported under the program's name). A
  // program checks its region before it opens or creates any file.
  bool Check(const char* program) const {
    return CheckRegion(program, lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  }

  // The region that the passes walk over the points.
  Region Walked() const { return MakeRegion(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4); }

  // Reports a region on the globe that is refused for more than the input `input` can fill:
  // "<program>: region of '<input>' spans <w> x <h> degrees: <reason>", the width and height of
  // the walked box.
  void RefuseSpan(const char* program, const char* input, const char* reason) const;

  // The tiles that a program reads over the region: elevation tiles alone (tileprint), or
  // elevation and colour tiles (tintshade).
  enum class Tiles { kElevation, kElevationAndColor };

  // Prints one line on standard error when no tile of `tiles` of the walked region exists in the
  // current directory, where the passes would read every one as zeroes (and tintshade's create
  // them from nothing): "<program>: no elevation tile of the region exists in the current
  // directory (4 tiles, 065_161 to 066_162): <what follows>". Nothing for a region of no tile.
  void NoteNoTileExists(const char* program, Tiles tiles, const char* what_follows) const;

  // Calls a pass with the eight corner doubles first, then its own arguments.
  template <typename Pass, typename... Args>
  int Run(Pass pass, Args... args) const {
    return pass(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4, args...);
  }

  // Prints the points on standard error, one line a value, named as the DEM's corners are
  // ("long_00", "lat_00", "long_0c", ... "lat_rc"), with `equals` between name and value: "="
  // for demimport, " = " for landimport.
  void Print(const char* equals) const;
};

// A box of longitudes and latitudes in degrees.
struct Bounds {
  double long_min, long_max, lat_min, lat_max;

  // Words 1 to 4 of a command line, long_min long_max lat_min lat_max, as atof reads them.
  static Bounds FromArgs(char** argv);

  // The box's corners: south-west, south-east, north-west, north-east.
  Corners ToCorners() const {
    return Corners{long_min, lat_min, long_max, lat_min, long_min, lat_max, long_max, lat_max};
  }

  // Prints the bounds on standard error: "long_min = %f \n", long_max, lat_min, lat_max.
  void Print() const;
};
