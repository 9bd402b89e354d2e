// skypush: a Simulink block that publishes one vehicle on the multicast group at most once per
// send period, optionally holding simulation time back to wall-clock time.

#define S_FUNCTION_NAME skypush
#define S_FUNCTION_LEVEL 2

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "BlockSupport.h"
#include "MATLAB2Network.h"
#include "WallClock.h"
#include "multicast/MulticastTransport.h"
#include "simstruc.h"
#include "support/Truncate.h"

namespace {

constexpr int kParameterCount = 7;
constexpr int kInputWidth = 10;
constexpr int kHandleBufferSize = 28;  // at most 27 characters of parameter 1

// Checked in the order 1, 2, 3, 5, 4, 6, 7.
constexpr kyte::sfun::ParameterCheck kParameterChecks[] = {
    {0, kyte::sfun::IsText, "1st parameter to the skypush must be the Vehicle Handle name."},
    {1, kyte::sfun::IsOneDouble, "2nd parameter to the skypush must be the Transmit Rate in Hz"},
    {2, kyte::sfun::IsOneDouble, "3rd parameter to the skypush must be the Craft Type"},
    {4, kyte::sfun::IsOneDouble,
     "5th parameter to the skypush must be the Initial Longitude (decimal degrees)"},
    {3, kyte::sfun::IsOneDouble,
     "4th parameter to the skypush must be the Initial Latitude (decimal degrees)"},
    {5, kyte::sfun::IsOneDouble, "6th parameter to the skypush must be the Initial Alitude (feet)"},
    {6, kyte::sfun::IsOneDouble,
     "7th parameter to the skypush S-function must be the Use KYTE Time Flag, i.e. (0 or 1)"},
};

double ScalarParameter(SimStruct* S, int iIndex) { return mxGetPr(ssGetSFcnParam(S, iIndex))[0]; }

CMATLAB2Network* Connection(SimStruct* S) {
  return static_cast<CMATLAB2Network*>(ssGetUserData(S));
}

}  // namespace

#define MDL_CHECK_PARAMETERS
static void mdlCheckParameters(SimStruct* S) { kyte::sfun::CheckParameters(S, kParameterChecks); }

static void mdlInitializeSizes(SimStruct* S) {
  ssSetNumSFcnParams(S, kParameterCount);
  kyte::sfun::InitializeBlockSizes(S, kInputWidth);
}

static void mdlInitializeSampleTimes(SimStruct* S) {
  kyte::sfun::InitializeContinuousSampleTime(S);
}

#define MDL_INITIALIZE_CONDITIONS
static void mdlInitializeConditions(SimStruct*) {}

#define MDL_START
static void mdlStart(SimStruct* S) {
  // Simulink may start a block whose parameters it never checked: read none of another form.
  if (!kyte::sfun::CheckParameters(S, kParameterChecks)) return;
  // Owned through the block's user data until mdlTerminate.
  auto* pConnection = new (std::nothrow) CMATLAB2Network;
  if (pConnection == nullptr) {
    ssSetErrorStatus(S, "skypush: Error instantiating CMATLAB2Network class.");
    return;
  }
  ssSetUserData(S, pConnection);

  char szHandle[kHandleBufferSize];
  mxGetString(ssGetSFcnParam(S, 0), szHandle, kHandleBufferSize);
  // The system's C library generator, seeded with the time: the same draw as MakeRandomId.
  const int r = CMulticastTransport<VehicleRecord>::MakeRandomId();
  char szName[32];
  std::snprintf(szName, sizeof szName, "%s%d", szHandle, r & 0x270F);

  std::int32_t iCraftType = TruncateToInt32(ScalarParameter(S, 2));
  if (iCraftType < 0) iCraftType = 0;
  if (!pConnection->InitVehicle(iCraftType, ScalarParameter(S, 4), ScalarParameter(S, 3),
                                ScalarParameter(S, 5), szName)) {
    ssSetErrorStatus(S, "skypush:: Error encountered while opening the connection.\n");
    return;
  }
  pConnection->bUseKYTETime = TruncateToInt32(ScalarParameter(S, 6));
  pConnection->GetSendInterval();  // starts timer 0: send intervals and wall-clock time
  pConnection->Vehicle.fSendInterval = 0.0f;
  ssGetOutputPortRealSignal(S, 0)[0] = 0.0;
}

static void mdlOutputs(SimStruct* S, int_T) {
  CMATLAB2Network* pConnection = Connection(S);
  if (pConnection == nullptr) return;
  VehicleRecord& vehicle = pConnection->Vehicle;
  InputRealPtrsType u = ssGetInputPortRealSignalPtrs(S, 0);
  vehicle.dNorth = *u[0];
  vehicle.dEast = *u[1];
  vehicle.fAltitude = static_cast<float>(*u[2]);
  vehicle.fRoll = static_cast<float>(*u[3]);
  vehicle.fPitch = static_cast<float>(*u[4]);
  vehicle.fHeading = static_cast<float>(*u[5]);
  for (int i = 0; i < 4; ++i) vehicle.afExtra[i] = static_cast<float>(*u[6 + i]);
  vehicle.byState = static_cast<std::uint8_t>(TruncateToInt32(*u[9]) & 0xFF);
  for (int i = 0; i < 3; ++i) {
    vehicle.afAux1[i] = 0.0f;
    vehicle.afAux2[i] = 0.0f;
  }

  if (pConnection->bUseKYTETime != 0) WaitForWallClock(pConnection->Timer, ssGetT(S));
  const double dt = pConnection->GetSendInterval();
  vehicle.fSendInterval = static_cast<float>(vehicle.fSendInterval + dt);
  ssGetOutputPortRealSignal(S, 0)[0] = pConnection->Timer.GetElapsedTime(0);

  if (!pConnection->IsTimeToSend(dt)) return;
  if (!bConnected) {
    ssSetErrorStatus(S, "skypush:: Connection not open.");
    return;
  }
  if (!pConnection->Send()) {
    ssSetErrorStatus(S, "skypush:: Error encountered while sending data.\n");
    return;
  }
  vehicle.fSendInterval = 0.0f;
}

#define MDL_UPDATE
static void mdlUpdate(SimStruct*, int_T) {}

static void mdlTerminate(SimStruct* S) {
  CMATLAB2Network* pConnection = Connection(S);
  if (pConnection == nullptr) return;
  pConnection->Close();
  delete pConnection;
  ssSetUserData(S, nullptr);
}

#include "sfun_glue.h"
