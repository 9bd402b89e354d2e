#include "Drones.h"

#include <unistd.h>

#include "Run.h"
#include "clocks.h"

namespace drones {

Settings settings;
int sendFlag = 0;

void RequestSend() { sendFlag = 1; }

float RunLoop(const Program& program) {
  uint32_t previous = GetTickCount();
  uint32_t stepMs = 0;
  uint32_t requestMs = 0;
  uint32_t statusMs = 0;
  float total = 0.0f;
  for (;;) {
    const uint32_t now = GetTickCount();
    const uint32_t d = now - previous;  // unsigned: the tick count's wrap still gives the step
    stepMs += d;
    requestMs += d;
    total = nettools::AddMilliseconds(total, d);
    // All the time counted since the previous step goes into this one.
    if (stepMs > 20) {
      program.motionStep(stepMs * 0.001);
      stepMs = 0;
    }
    // Carried out by the next motion step, never by the one of this pass.
    if (requestMs > program.requestAfterMs) {
      RequestSend();
      requestMs = 0;
    }
    if (total > nettools::kRunSeconds) break;
    previous = now;
    statusMs += d;
    if (statusMs > 1000) {
      if (nettools::PrintLine(STDERR_FILENO, program.statusFormat, static_cast<double>(total)) < 0)
        break;  // the run ends at once
      statusMs = 0;
    }
  }
  return total;
}

int Fly(const Program& program) {
  nettools::ResetOutput();
  nettools::OpenGroup();
  program.setUp();
  const float total = RunLoop(program);
  return nettools::EndRun(program.name, total);
}

}  // namespace drones
