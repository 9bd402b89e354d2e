// netwatch: prints every vehicle packet on the simulator's group for 100 seconds.
#include "NetWatch.h"
#include "Run.h"

int main() {
  nettools::LineBufferOutput();
  netwatch::SetReferencePosition(netwatch::receiver);
  return netwatch::Watch();
}
