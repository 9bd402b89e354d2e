// cobridge: closes a Simulink model's loop with a simulator plug-in through two shared-memory
// channels, reading what the plug-in last wrote and writing the block's inputs for its next
// frame; optionally paced to wall-clock time.
#define S_FUNCTION_NAME cobridge
#define S_FUNCTION_LEVEL 2

#include <cstdio>
#include <new>

#include "BlockSupport.h"
#include "KYTE2MATLAB.h"
#include "simstruc.h"

namespace {

constexpr kyte::sfun::ParameterCheck kParameterChecks[] = {
    {0, kyte::sfun::IsOneDouble,
     "1st parameter to the cobridge S-function must be the ID of the To KYTE connection"},
    {1, kyte::sfun::IsOneDouble,
     "2nd parameter to the cobridge S-function must be the number of signals passed to KYTE"},
    {2, kyte::sfun::IsOneDouble,
     "3rd parameter to the cobridge S-function must be the ID of the To Simulink connection"},
    {3, kyte::sfun::IsOneDouble,
     "4th parameter to the cobridge S-function must be the number of signals passed to Simulink"},
    {4, kyte::sfun::IsOneDouble,
     "5th parameter to the cobridge S-function must be the Use KYTE Time Flag, i.e. (0 or 1)"},
};

std::int32_t Parameter(SimStruct* S, int ordinal) {
  return kyte::sfun::ReadInteger(ssGetSFcnParam(S, ordinal - 1));
}

}  // namespace

#define MDL_CHECK_PARAMETERS
static void mdlCheckParameters(SimStruct* S) { kyte::sfun::CheckParameters(S, kParameterChecks); }

static void mdlInitializeSizes(SimStruct* S) {
  ssSetNumSFcnParams(S, 5);
  // The widths come from parameters 2 and 4: check them all before they are read.
  if (ssGetSFcnParamsCount(S) != ssGetNumSFcnParams(S)) return;
  mdlCheckParameters(S);
  if (ssGetErrorStatus(S) != nullptr) return;
  kyte::sfun::InitializeBlockSizes(S, Parameter(S, 2), Parameter(S, 4));
}

static void mdlInitializeSampleTimes(SimStruct* S) {
  kyte::sfun::InitializeContinuousSampleTime(S);
}

#define MDL_INITIALIZE_CONDITIONS
static void mdlInitializeConditions(SimStruct*) {}

#define MDL_START
static void mdlStart(SimStruct* S) {
  auto* pBridge = new (std::nothrow) CKYTE2MATLAB;
  if (pBridge == nullptr) {
    ssSetErrorStatus(S, "cobridge: Error instantiating CKYTE2MATLAB class.");
    return;
  }
  ssSetUserData(S, pBridge);
  std::int32_t iIDKYTE = Parameter(S, 1);
  std::int32_t iSizeToKYTE = Parameter(S, 2);
  std::int32_t iIDMATLAB = Parameter(S, 3);
  std::int32_t iSizeToMATLAB = Parameter(S, 4);
  pBridge->bUseKYTETime = Parameter(S, 5);
  if (pBridge->bUseKYTETime) pBridge->StartTimer();
  if (!pBridge->Open(iIDKYTE, iSizeToKYTE, iIDMATLAB, iSizeToMATLAB)) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "cobridge:: Error encountered while opening the connection.\nArguments "
                  "were:\niIDKYTE = %g,iSizeToKYTE = %g,iIDMATLAB = %g,iSizeToMATLAB = %g \n",
                  static_cast<double>(iIDKYTE), static_cast<double>(iSizeToKYTE),
                  static_cast<double>(iIDMATLAB), static_cast<double>(iSizeToMATLAB));
    kyte::sfun::SetErrorStatusText(S, text);
  }
}

static void mdlOutputs(SimStruct* S, int_T) {
  auto* pBridge = static_cast<CKYTE2MATLAB*>(ssGetUserData(S));
  if (pBridge == nullptr || !pBridge->bOpen) {
    ssSetErrorStatus(S, "cobridge:: Connection not open.");
    return;
  }
  if (pBridge->bUseKYTETime) pBridge->WaitForWallClock(ssGetT(S));
  if (!pBridge->Receive(ssGetOutputPortRealSignal(S, 0))) {
    ssSetErrorStatus(S, "cobridge:: Error encountered while receiving data.");
    return;
  }
  if (!pBridge->Send(ssGetInputPortRealSignalPtrs(S, 0))) {
    ssSetErrorStatus(S, "cobridge:: Error encountered while sending data.");
  }
}

#define MDL_UPDATE
static void mdlUpdate(SimStruct*, int_T) {}

static void mdlTerminate(SimStruct* S) {
  auto* pBridge = static_cast<CKYTE2MATLAB*>(ssGetUserData(S));
  if (pBridge == nullptr) return;
  pBridge->Close();
  delete pBridge;
  ssSetUserData(S, nullptr);
}

#include "sfun_glue.h"
