// dronefleet: seven drones in formation on the simulator's group for 100 seconds.
#include "DroneFleet.h"

int main() { return drones::Fly(dronefleet::program); }
