#include "KYTE2MATLAB.h"

#include "ConnectionTable.h"
#include "WallClock.h"

namespace {
std::int32_t iBlocksWithChannels = 0;  // library-wide
}  // namespace

std::int32_t CKYTE2MATLAB::Open(std::int32_t iIDKYTE, std::int32_t iSizeToKYTE_,
                                std::int32_t iIDMATLAB, std::int32_t iSizeToMATLAB_) {
  iSizeToKYTE = iSizeToKYTE_;
  iSizeToMATLAB = iSizeToMATLAB_;
  if (!bHoldsChannels) {
    if (iBlocksWithChannels == 0) CloseAllConnections();
    ++iBlocksWithChannels;
    bHoldsChannels = true;
  }
  iIndexToKYTE = OpenConnection(iIDKYTE, iSizeToKYTE);
  iIndexToMATLAB = OpenConnection(iIDMATLAB, iSizeToMATLAB);
  bOpen = (iIndexToKYTE != -1 && iIndexToMATLAB != -1) ? 1 : 0;
  return bOpen;
}

std::int32_t CKYTE2MATLAB::Send(const double* const* u) {
  if (!bOpen) return 0;
  for (std::int32_t i = 0; i < iSizeToKYTE; ++i) SetConnectionValue(iIndexToKYTE, i, *u[i]);
  WriteConnection(iIndexToKYTE);
  return 1;
}

std::int32_t CKYTE2MATLAB::Receive(double* y) {
  if (!bOpen) return 0;
  ReadConnection(iIndexToMATLAB);
  for (std::int32_t i = 0; i < iSizeToMATLAB; ++i) y[i] = GetConnectionValue(iIndexToMATLAB, i);
  return 1;
}

void CKYTE2MATLAB::Close() {
  if (bOpen) {
    for (std::int32_t i = 0; i < iSizeToKYTE; ++i) SetConnectionValue(iIndexToKYTE, i, 0.0);
    WriteConnection(iIndexToKYTE);
  }
  if (bHoldsChannels) {
    bHoldsChannels = false;
    if (--iBlocksWithChannels == 0) CloseAllConnections();
  }
}

void CKYTE2MATLAB::WaitForWallClock(double dSimulationTime) {
  ::WaitForWallClock(*this, dSimulationTime);
}
