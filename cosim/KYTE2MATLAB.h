// State of one cobridge block: the pair of channels it shares with a simulator plug-in (one to
// KYTE, one back to Simulink) and, in its stopwatch base, the pacing timer.
#pragma once

#include <cstdint>

#include "ElapsedTime.h"

class CKYTE2MATLAB : public CElapsedTime {
 public:
  CKYTE2MATLAB() = default;
  ~CKYTE2MATLAB() override = default;

  // 1 when both channels are open, else 0.
  std::int32_t Open(std::int32_t iIDKYTE, std::int32_t iSizeToKYTE, std::int32_t iIDMATLAB,
                    std::int32_t iSizeToMATLAB);
  // `u` holds iSizeToKYTE values; `y` room for iSizeToMATLAB. 0 when the pair is not open.
  std::int32_t Send(const double* const* u);
  std::int32_t Receive(double* y);
  // Zeros to KYTE, then the channels go.
  void Close();
  // Busy wait until the wall-clock seconds since timer 0 started reach `dSimulationTime`
  // (WaitForWallClock of timing/WallClock.h on this block's own stopwatch).
  void WaitForWallClock(double dSimulationTime);

  std::int32_t bOpen = 0;
  std::int32_t iIndexToKYTE = -1;
  std::int32_t iIndexToMATLAB = -1;
  std::int32_t iSizeToKYTE = -1;
  std::int32_t iSizeToMATLAB = -1;
  std::int32_t bUseKYTETime = 0;

 private:
  // Blocks of one model share the library's connection table, so it is emptied only before the
  // first block opens its pair and after the last one has closed.
  bool bHoldsChannels = false;
};
