// The four corner points that the terrain programs hand to every pass.
#pragma once

struct Corners {
  double lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4;

  // Calls a pass with the eight corner doubles first, then its own arguments.
  template <typename Pass, typename... Args>
  int Run(Pass pass, Args... args) const {
    return pass(lon1, lat1, lon2, lat2, lon3, lat3, lon4, lat4, args...);
  }
};
