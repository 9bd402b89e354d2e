#include "progress.h"

#include <cstdio>

void PrintRowLine(int y, int last) {
  std::printf("y=%d of %d\r", y, last);
  std::fflush(stdout);
}

void PrintTileLine() { std::printf("%50s\n", ""); }
