#pragma once
// dronefleet: a leader on a wide circle and six wingmen held in formation around it.

#include <array>

#include "Drones.h"
#include "VehicleRecordD.h"

namespace dronefleet {

// The leader first, then the wingmen F18, F16, F15, F22, F23 and F117: set up and sent in this
// order. Static storage, zero-filled at program start.
inline constexpr int kDrones = 7;
extern std::array<VehicleRecordD, kDrones> drones;

// Advances the leader by dt seconds, places every wingman around it and, when a send was
// requested, sends all seven.
void FlyFormation(double dt);

// The steps of main before the loop: InitRecord for every drone, attitude, settings, identifiers
// and state byte.
void SetUp();

extern const drones::Program program;

}  // namespace dronefleet
