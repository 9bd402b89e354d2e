// The simulator's plug-in block: passes the simulator's inputs to a model in Simulink and hands
// back the model's results, through two shared-memory channels that cobridge opens with the
// same ids. Built twice: as airhost (aircraft model) with PLUGIN_AIRHOST, as lawhost
// (flight-control model) with PLUGIN_LAWHOST.
#include <cstdint>

#include "ConnectionTable.h"
#include "kyteplugin.h"

namespace {

#if defined(PLUGIN_AIRHOST)
constexpr std::int32_t kBlockType = 1;
constexpr const char kName[] = "airhost";
constexpr const char kInputNames[] =
    "dElevator dAileron dRudder dThrottle ElapsedTime ToMATLAB01 ToMATLAB02 ToMATLAB03 "
    "ToMATLAB04 ToMATLAB05 ToMATLAB06 ToMATLAB07 ToMATLAB08 ToMATLAB09 ToMATLAB10";
constexpr std::int32_t kInputs = 15;
constexpr const char kOutputNames[] =
    "xpos ypos zpos xrot yrot zrot alpha beta G Velocity M DeltaRudder DeltaElevator "
    "DeltaAileron eng ToKYTE01 ToKYTE02 ToKYTE03 ToKYTE04 ToKYTE05 ToKYTE06 ToKYTE07 ToKYTE08 "
    "ToKYTE09 ToKYTE10";
constexpr std::int32_t kOutputs = 25;
constexpr std::int32_t kReadId = 3;
constexpr std::int32_t kWriteId = 4;

// The model works in radians and with zpos of the opposite sign.
void ApplyScalings(double* out) {
  out[3] = out[3] * 57.29577951308232;
  out[4] = out[4] * 57.29577951308232;
  out[5] = out[5] * 57.29577951308232;
  out[2] = out[2] * -1.0;
}
#elif defined(PLUGIN_LAWHOST)
constexpr std::int32_t kBlockType = 0;
constexpr const char kName[] = "lawhost";
constexpr const char kInputNames[] =
    "StickPitch StickRoll StickYaw StickThrottle P Q R  ElapsedTime ToMATLAB01 ToMATLAB02 "
    "ToMATLAB03 ToMATLAB04 ToMATLAB05 ToMATLAB06 ToMATLAB07 ToMATLAB08 ToMATLAB09 ToMATLAB10";
constexpr std::int32_t kInputs = 18;
constexpr const char kOutputNames[] =
    "ElevatorCmd AileronCmd RudderCmd ThrottleCmd ToKYTE01 ToKYTE02 ToKYTE03 ToKYTE04 ToKYTE05 "
    "ToKYTE06 ToKYTE07 ToKYTE08 ToKYTE09 ToKYTE10";
constexpr std::int32_t kOutputs = 14;
constexpr std::int32_t kReadId = 1;
constexpr std::int32_t kWriteId = 2;

// The model gives the throttle as a fraction.
void ApplyScalings(double* out) { out[3] = out[3] * 250.0; }
#else
#error "build the plug-in block with PLUGIN_AIRHOST or PLUGIN_LAWHOST"
#endif

std::int32_t iReadIndex = -1;   // channel from Simulink
std::int32_t iWriteIndex = -1;  // channel to Simulink
std::int32_t bOpenFailed = 0;

// Element 0 is the sign of life; the simulator's inputs follow it.
void Exchange(double* in, double* out) {
  SetConnectionValue(iWriteIndex, 0, 1.0);
  for (std::int32_t i = 1; i <= kInputs; ++i) SetConnectionValue(iWriteIndex, i, in[i - 1]);
  WriteConnection(iWriteIndex);
  ReadConnection(iReadIndex);
  for (std::int32_t i = 0; i < kOutputs; ++i) out[i] = GetConnectionValue(iReadIndex, i);
  ApplyScalings(out);
}

extern "C" void CBInit(double* in, double* out) {
  CloseAllConnections();
  iReadIndex = OpenConnection(kReadId, kOutputs);
  iWriteIndex = OpenConnection(kWriteId, kInputs + 1);
  if (iReadIndex == -1 || iWriteIndex == -1) {
    bOpenFailed = 1;
    return;
  }
  bOpenFailed = 0;
  Exchange(in, out);
}

extern "C" void CBStep(double* in, double* out) {
  if (bOpenFailed) return;
  Exchange(in, out);
}

CBlock blocks[1] = {
    {kBlockType, kName, kInputNames, kOutputNames, "", 60, CBInit, CBStep},
};

}  // namespace

extern "C" {

KYTE_PLUGIN_EXPORT std::int32_t nBlocks = 1;
KYTE_PLUGIN_EXPORT CBlock* pCBlockx = blocks;

KYTE_PLUGIN_EXPORT void CBExit() {
  for (std::int32_t i = 1; i <= kInputs; ++i) SetConnectionValue(iWriteIndex, i, 0.0);
  SetConnectionValue(iWriteIndex, 0, 0.0);
  WriteConnection(iWriteIndex);
  CloseAllConnections();
}

}  // extern "C"
