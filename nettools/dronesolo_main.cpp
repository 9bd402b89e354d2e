// dronesolo: one drone on a wide circle on the simulator's group for 100 seconds.
#include "DroneSolo.h"
#include "Run.h"

int main() {
  nettools::LineBufferOutput();
  return drones::Fly(dronesolo::program);
}
