// netwatch: prints every vehicle packet on the simulator's group for 100 seconds.
#include "NetWatch.h"

int main() {
  netwatch::SetReferencePosition(netwatch::receiver);
  return netwatch::Watch();
}
