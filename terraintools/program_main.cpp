// The main of every terrain program: TERRAIN_PROGRAM names the program's run.
#include "programs.h"

int main(int argc, char** argv) { return TERRAIN_PROGRAM(argc, argv); }
