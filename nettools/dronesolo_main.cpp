// dronesolo: one drone on a wide circle on the simulator's group for 100 seconds.
#include "DroneSolo.h"

int main() { return drones::Fly(dronesolo::program); }
