#include "WallClock.h"

#include "ElapsedTime.h"

void WaitForWallClock(CElapsedTime& timer, double dSimulationTime) {
  double dElapsed = timer.GetElapsedTime(0);
  while (dElapsed >= 0.0 && dElapsed < dSimulationTime) dElapsed = timer.GetElapsedTime(0);
}
