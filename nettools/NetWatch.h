#pragma once
// netwatch: prints one line for every vehicle packet on the group, for 100 seconds.

#include "VehicleRecordD.h"

namespace netwatch {

// The receive callback: writes the decoded record as one line to standard output and returns
// what the print returned (nettools::PrintLine: -1 once a line could not be written, and from
// then on). Control bytes of the name and tag print as \xNN.
int PrintVehicle(VehicleRecordD* record);

// The one receiving record of the run. Its reference position is the drones' start position,
// so the offsets printed for the drones are those they fly from their start.
extern VehicleRecordD receiver;
void SetReferencePosition(VehicleRecordD& record);

// The whole run: open, poll for 100 seconds, close, final line. Returns the exit status: 0, or
// nettools::kOutputFailed once a line could not be written, which ends the run after that poll.
int Watch();

}  // namespace netwatch
