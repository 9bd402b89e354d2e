// flightlog: records the inputs of one vehicle, one text row per step, into its playback data
// file, and outputs the wall-clock seconds since the simulation started.
#define S_FUNCTION_NAME flightlog
#define S_FUNCTION_LEVEL 2
#include "simstruc.h"
// What the block uses besides.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "BlockSupport.h"
#include "DataFileName.h"
#include "PlaybackRow.h"
#include "PlaybackSave.h"

namespace {

enum { kBaseName = 0, kVehicle = 1, kNumSignals = 2, kNumParams = 3 };

// Stops the simulation with the data file's failure and the system's reason.
void ReportFileFailure(SimStruct* S, const char* action, const char* name, int error) {
  kyte::sfun::SetErrorStatusText(
      S, playback::FileFailureText("flightlog", action, "data file", name, error));
}

constexpr kyte::sfun::ParameterCheck kParameterChecks[] = {
    {kBaseName, kyte::sfun::IsText,
     "1st parameter to the flightlog must be the base file name for the data file."},
    {kVehicle, kyte::sfun::IsOneDouble,
     "2nd parameter to the flightlog must be the vehicle number, this is used to build the data "
     "file name."},
    {kNumSignals, kyte::sfun::IsOneDouble,
     "3rd parameter to the flightlog must be the number of input signals to the block."},
};

}  // namespace

#define MDL_CHECK_PARAMETERS
static void mdlCheckParameters(SimStruct* S) { kyte::sfun::CheckParameters(S, kParameterChecks); }

static void mdlInitializeSizes(SimStruct* S) {
  ssSetNumSFcnParams(S, kNumParams);
  // The input width comes from parameter 3: it is read only once the parameters passed their
  // checks.
  if (ssGetNumSFcnParams(S) != ssGetSFcnParamsCount(S)) return;
  mdlCheckParameters(S);
  if (ssGetErrorStatus(S) != nullptr) return;

  kyte::sfun::InitializeBlockSizes(S, kyte::sfun::ReadInteger(ssGetSFcnParam(S, kNumSignals)));
}

static void mdlInitializeSampleTimes(SimStruct* S) {
  kyte::sfun::InitializeContinuousSampleTime(S);
}

#define MDL_INITIALIZE_CONDITIONS
static void mdlInitializeConditions(SimStruct*) {}

#define MDL_START
static void mdlStart(SimStruct* S) {
  CKYTEPlaybackSave* pSave = nullptr;
  try {
    pSave = new (std::nothrow) CKYTEPlaybackSave;
  } catch (...) {
    pSave = nullptr;
  }
  if (pSave == nullptr) {
    ssSetErrorStatus(S, "flightlog: Error instantiating CKYTEPlaybackSave class.");
    return;
  }
  ssSetUserData(S, pSave);

  char szBaseName[kyte::sfun::kTextBufferSize];
  kyte::sfun::ReadText(ssGetSFcnParam(S, kBaseName), szBaseName);
  const std::int32_t iVehicle = kyte::sfun::ReadInteger(ssGetSFcnParam(S, kVehicle));

  // A name the buffer cannot hold is refused: cut, it could name another vehicle's file.
  const std::string fileName = playback::FormatDataFileName(szBaseName, iVehicle);
  if (fileName.size() >= sizeof pSave->szFileName) {
    ssSetErrorStatus(S, "flightlog:: Data file name longer than 255 characters.");
    return;
  }
  std::memcpy(pSave->szFileName, fileName.c_str(), fileName.size() + 1);

  // Emptied first, then kept open for appending: every row goes to the current end of the file.
  // A file that cannot be made stops the simulation before its first step.
  {
    playback::CTextFileStream empty(pSave->szFileName, playback::CTextFileStream::Mode::kWrite);
    if (!empty.close()) {
      ReportFileFailure(S, "create", pSave->szFileName, empty.error());
      return;
    }
  }
  auto pOutFile = std::make_unique<playback::CTextFileStream>(
      pSave->szFileName, playback::CTextFileStream::Mode::kAppend);
  if (!pOutFile->is_open()) {
    ReportFileFailure(S, "open", pSave->szFileName, pOutFile->error());
    return;
  }
  pSave->pOutFile = std::move(pOutFile);

  pSave->iNumSignals = kyte::sfun::ReadInteger(ssGetSFcnParam(S, kNumSignals));
}

static void mdlOutputs(SimStruct* S, int_T) {
  auto* pSave = static_cast<CKYTEPlaybackSave*>(ssGetUserData(S));
  if (pSave == nullptr) return;
  if (pSave->pOutFile != nullptr) {
    // Never more values than the port carries.
    const std::int32_t count = std::min(pSave->iNumSignals, ssGetInputPortWidth(S, 0));
    playback::WriteRow(*pSave->pOutFile, ssGetInputPortRealSignalPtrs(S, 0), count);
  }
  ssGetOutputPortRealSignal(S, 0)[0] = pSave->Timer.GetElapsedTime(0);
  // A row that did not reach the file whole stops the simulation at this step.
  if (pSave->pOutFile != nullptr && !*pSave->pOutFile) {
    ReportFileFailure(S, "write", pSave->szFileName, pSave->pOutFile->error());
  }
}

#define MDL_UPDATE
static void mdlUpdate(SimStruct*, int_T) {}

static void mdlTerminate(SimStruct* S) {
  auto* pSave = static_cast<CKYTEPlaybackSave*>(ssGetUserData(S));
  if (pSave == nullptr) return;
  // A stream that failed was reported at its failure; a close that fails is reported here.
  if (pSave->pOutFile != nullptr && *pSave->pOutFile && !pSave->pOutFile->close()) {
    ReportFileFailure(S, "close", pSave->szFileName, pSave->pOutFile->error());
  }
  pSave->pOutFile.reset();
  delete pSave;
  ssSetUserData(S, nullptr);
}

#include "sfun_glue.h"
