// The four corner points that the terrain programs hand to every pass.
#pragma once

#include "regionwalk.h"

struct Corners {
  double lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4;

  // Whether the points lie on the globe (CheckRegion, reported under the program's name). A
  // program checks its region before it opens or creates any file.
  bool Check(const char* program) const {
    return CheckRegion(program, lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4);
  }

  // Calls a pass with the eight corner doubles first, then its own arguments.
  template <typename Pass, typename... Args>
  int Run(Pass pass, Args... args) const {
    return pass(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4, args...);
  }
};
