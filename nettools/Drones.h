#pragma once
// What dronefleet and dronesolo share: the start state of every drone, the settings, the degree
// constant, the send request and the timed loop on the millisecond tick count.

#include <cstdint>

#include "VehicleRecordD.h"

namespace drones {

// Every drone starts here, passed to InitRecord as single-precision values.
inline constexpr float kStartLongitude = -122.366f;
inline constexpr float kStartLatitude = 37.613f;
inline constexpr float kStartAltitude = 15000.0f;

// The float nearest to 3.14159/180 (not pi/180): every angle in degrees is scaled by it.
inline constexpr float kDegree = 0.017453277f;

// Set by the program before the loop, only read afterwards.
struct Settings {
  float speed;     // feet per second
  float turnRate;  // degrees per second
  float altitude;  // feet
  float spacing;   // feet, dronefleet only
};
extern Settings settings;

// Set by RequestSend; the motion step sends every drone while it is 1, then clears it.
extern int sendFlag;
void RequestSend();

// What the two programs do differently inside one shared run.
struct Program {
  const char* name;               // for the message of a line that cannot be written
  void (*setUp)();                // steps 2 and 3 of main: records, settings, identifiers
  void (*motionStep)(double dt);  // FlyFormation or FlyCircle
  uint32_t requestAfterMs;        // a send is requested once more than this has been counted
  const char* statusFormat;       // the status line, given the total widened to double
};

// The timed loop: counts GetTickCount differences until more than 100 seconds are counted,
// calling the motion step and RequestSend as the counters pass their limits, or until a status
// line cannot be written. Returns the total.
float RunLoop(const Program& program);

// A whole run: opens the group, sets the drones up, flies the loop, closes the group and prints
// the final line. Returns the exit status: 0, or nettools::kOutputFailed when a line could not
// be written.
int Fly(const Program& program);

}  // namespace drones
