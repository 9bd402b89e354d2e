// dronefleet: seven drones in formation on the simulator's group for 100 seconds.
#include "DroneFleet.h"
#include "Run.h"

int main() {
  nettools::LineBufferOutput();
  return drones::Fly(dronefleet::program);
}
