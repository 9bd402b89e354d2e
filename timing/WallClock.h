// Pacing a simulation step to wall-clock time, for the blocks that offer it (skypush, cobridge).
#pragma once

class CElapsedTime;

// Busy wait, without sleeping, until the wall-clock seconds counted by timer 0 of `timer` reach
// `dSimulationTime`. A stopwatch that gives no reading (-1.0) ends the wait instead of holding
// the simulation for ever.
void WaitForWallClock(CElapsedTime& timer, double dSimulationTime);
