#pragma once
// dronesolo: one drone on the leader's wide circle.

#include "Drones.h"
#include "VehicleRecordD.h"

namespace dronesolo {

// Static storage, zero-filled at program start.
extern VehicleRecordD drone;

// Advances the drone by dt seconds on its circle and, when a send was requested, sends it.
void FlyCircle(double dt);

// The steps of main before the loop: InitRecord, attitude, settings and the vehicle id; the
// instance id keeps the random value InitRecord drew.
void SetUp();

extern const drones::Program program;

}  // namespace dronesolo
