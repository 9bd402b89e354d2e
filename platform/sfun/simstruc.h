// Level-2 S-function interface: the SimStruct of one block and its accessors.
//
// A block source reads like an ordinary level-2 C S-function:
//   #define S_FUNCTION_NAME skypush
//   #define S_FUNCTION_LEVEL 2
//   #include "simstruc.h"
//   ... mdlInitializeSizes, mdlInitializeSampleTimes, mdlOutputs, mdlTerminate and the
//   optional callbacks announced by MDL_CHECK_PARAMETERS, MDL_START,
//   MDL_INITIALIZE_CONDITIONS, MDL_UPDATE ...
//   #include "sfun_glue.h"
// The glue exports the library's mexFunction dispatcher, which the host (sfunhost.h) calls.
#ifndef KYTE_PLATFORM_SFUN_SIMSTRUC_H
#define KYTE_PLATFORM_SFUN_SIMSTRUC_H

#ifndef __cplusplus
#error "S-function blocks of this toolkit are C++ sources."
#endif

#include <cstdint>
#include <string>
#include <vector>

#include "mex.h"

typedef double real_T;
typedef float real32_T;
typedef double time_T;
typedef int int_T;
typedef unsigned int uint_T;
typedef char char_T;
typedef unsigned char uchar_T;
typedef unsigned char boolean_T;
typedef std::int8_t int8_T;
typedef std::uint8_t uint8_T;
typedef std::int16_t int16_T;
typedef std::uint16_t uint16_T;
typedef std::int32_t int32_T;
typedef std::uint32_t uint32_T;
typedef const real_T* const* InputRealPtrsType;

#define CONTINUOUS_SAMPLE_TIME (0.0)
#define INHERITED_SAMPLE_TIME (-1.0)
#define DYNAMICALLY_SIZED (-1)
#define UNUSED_ARG(arg) (void)(arg)

struct KyteSfunInputPort {
  int_T width = 0;
  int_T directFeedThrough = 0;
  InputRealPtrsType signalPtrs = nullptr;  // one pointer per element, set by the host
};

struct KyteSfunOutputPort {
  int_T width = 0;
  real_T* signal = nullptr;  // width contiguous doubles, set by the host
};

// The record the host keeps for one block. Blocks touch it only through the accessors below.
struct SimStruct_tag {
  // Set by the host.
  std::string sfcnName;  // S-function name the model runs the block under
  std::string path;      // the block's path in the model
  std::vector<const mxArray*> params;
  time_T t = 0.0;
  bool majorTimeStep = true;

  // Set by the block.
  int_T numSFcnParams = 0;
  int_T numContStates = 0;
  int_T numDiscStates = 0;
  std::vector<KyteSfunInputPort> inputs;
  std::vector<KyteSfunOutputPort> outputs;
  std::vector<time_T> sampleTimes;
  std::vector<time_T> offsetTimes;
  int_T numRWork = 0;
  int_T numIWork = 0;
  int_T numPWork = 0;
  int_T numModes = 0;
  int_T numNonsampledZCs = 0;
  uint32_T options = 0;
  void* userData = nullptr;
  const char_T* errorStatus = nullptr;  // kept as a pointer: the text must outlive the callback
};
typedef struct SimStruct_tag SimStruct;

// ---- Parameters ----
inline void ssSetNumSFcnParams(SimStruct* S, int_T n) { S->numSFcnParams = n; }
inline int_T ssGetNumSFcnParams(const SimStruct* S) { return S->numSFcnParams; }
inline int_T ssGetSFcnParamsCount(const SimStruct* S) {
  return static_cast<int_T>(S->params.size());
}
// Null for an index the model does not give; every mx* call accepts null.
inline const mxArray* ssGetSFcnParam(const SimStruct* S, int_T index) {
  return index >= 0 && static_cast<std::size_t>(index) < S->params.size() ? S->params[index]
                                                                          : nullptr;
}

// ---- Error status ----
inline void ssSetErrorStatus(SimStruct* S, const char_T* message) { S->errorStatus = message; }
inline const char_T* ssGetErrorStatus(const SimStruct* S) { return S->errorStatus; }

// ---- States, work vectors, options ----
inline void ssSetNumContStates(SimStruct* S, int_T n) { S->numContStates = n; }
inline void ssSetNumDiscStates(SimStruct* S, int_T n) { S->numDiscStates = n; }
inline void ssSetNumRWork(SimStruct* S, int_T n) { S->numRWork = n; }
inline void ssSetNumIWork(SimStruct* S, int_T n) { S->numIWork = n; }
inline void ssSetNumPWork(SimStruct* S, int_T n) { S->numPWork = n; }
inline void ssSetNumModes(SimStruct* S, int_T n) { S->numModes = n; }
inline void ssSetNumNonsampledZCs(SimStruct* S, int_T n) { S->numNonsampledZCs = n; }
inline void ssSetOptions(SimStruct* S, uint32_T options) { S->options = options; }
inline uint32_T ssGetOptions(const SimStruct* S) { return S->options; }

// ---- Ports ----
// A port index outside the block's ports sets the error status and changes nothing.
inline bool KyteSfunPortOk(SimStruct* S, int_T port, std::size_t count, const char_T* what) {
  if (port >= 0 && static_cast<std::size_t>(port) < count) return true;
  ssSetErrorStatus(S, what);
  return false;
}

// Refuses (returns false) a negative number of ports.
inline bool ssSetNumInputPorts(SimStruct* S, int_T n) {
  if (n < 0) return false;
  S->inputs.assign(static_cast<std::size_t>(n), KyteSfunInputPort{});
  return true;
}
inline bool ssSetNumOutputPorts(SimStruct* S, int_T n) {
  if (n < 0) return false;
  S->outputs.assign(static_cast<std::size_t>(n), KyteSfunOutputPort{});
  return true;
}
inline int_T ssGetNumInputPorts(const SimStruct* S) { return static_cast<int_T>(S->inputs.size()); }
inline int_T ssGetNumOutputPorts(const SimStruct* S) {
  return static_cast<int_T>(S->outputs.size());
}
inline bool ssSetInputPortWidth(SimStruct* S, int_T port, int_T width) {
  if (!KyteSfunPortOk(S, port, S->inputs.size(), "ssSetInputPortWidth: no such input port"))
    return false;
  S->inputs[port].width = width;
  return true;
}
inline bool ssSetInputPortDirectFeedThrough(SimStruct* S, int_T port, int_T flag) {
  if (!KyteSfunPortOk(S, port, S->inputs.size(),
                      "ssSetInputPortDirectFeedThrough: no such input port"))
    return false;
  S->inputs[port].directFeedThrough = flag;
  return true;
}
inline bool ssSetOutputPortWidth(SimStruct* S, int_T port, int_T width) {
  if (!KyteSfunPortOk(S, port, S->outputs.size(), "ssSetOutputPortWidth: no such output port"))
    return false;
  S->outputs[port].width = width;
  return true;
}
inline int_T ssGetInputPortWidth(const SimStruct* S, int_T port) {
  return port >= 0 && static_cast<std::size_t>(port) < S->inputs.size() ? S->inputs[port].width : 0;
}
inline int_T ssGetOutputPortWidth(const SimStruct* S, int_T port) {
  return port >= 0 && static_cast<std::size_t>(port) < S->outputs.size() ? S->outputs[port].width
                                                                         : 0;
}
// One pointer per element: the elements need not lie side by side. Null for a port that does
// not exist.
inline InputRealPtrsType ssGetInputPortRealSignalPtrs(const SimStruct* S, int_T port) {
  return port >= 0 && static_cast<std::size_t>(port) < S->inputs.size() ? S->inputs[port].signalPtrs
                                                                        : nullptr;
}
inline real_T* ssGetOutputPortRealSignal(const SimStruct* S, int_T port) {
  return port >= 0 && static_cast<std::size_t>(port) < S->outputs.size() ? S->outputs[port].signal
                                                                         : nullptr;
}

// ---- Sample times ----
inline void ssSetNumSampleTimes(SimStruct* S, int_T n) {
  const std::size_t count = n > 0 ? static_cast<std::size_t>(n) : 0;
  S->sampleTimes.assign(count, 0.0);
  S->offsetTimes.assign(count, 0.0);
}
inline int_T ssGetNumSampleTimes(const SimStruct* S) {
  return static_cast<int_T>(S->sampleTimes.size());
}
inline void ssSetSampleTime(SimStruct* S, int_T index, time_T period) {
  if (KyteSfunPortOk(S, index, S->sampleTimes.size(), "ssSetSampleTime: no such sample time"))
    S->sampleTimes[index] = period;
}
inline void ssSetOffsetTime(SimStruct* S, int_T index, time_T offset) {
  if (KyteSfunPortOk(S, index, S->offsetTimes.size(), "ssSetOffsetTime: no such sample time"))
    S->offsetTimes[index] = offset;
}

// ---- User data, time ----
inline void ssSetUserData(SimStruct* S, void* data) { S->userData = data; }
inline void* ssGetUserData(const SimStruct* S) { return S->userData; }
inline time_T ssGetT(const SimStruct* S) { return S->t; }
inline bool ssIsMajorTimeStep(const SimStruct* S) { return S->majorTimeStep; }
inline bool ssIsMinorTimeStep(const SimStruct* S) { return !S->majorTimeStep; }
inline const char_T* ssGetPath(const SimStruct* S) { return S->path.c_str(); }

// ---- The host's call of the dispatcher ----
// The host calls the library's mexFunction with nlhs = -1 and two inputs: a 1 x 1 uint64 array
// holding the SimStruct's address and a 1 x 1 double naming the callback.
enum KyteSfunMethod {
  kKyteSfunInitializeSizes = 1,
  kKyteSfunCheckParameters,
  kKyteSfunInitializeSampleTimes,
  kKyteSfunStart,
  kKyteSfunInitializeConditions,
  kKyteSfunOutputs,
  kKyteSfunUpdate,
  kKyteSfunTerminate,
};
constexpr int kKyteSfunCallMarker = -1;

// The SimStruct and callback of a host's call, or null when the call is not the host's.
inline SimStruct* KyteSfunDecodeCall(int nlhs, int nrhs, const mxArray* prhs[], int* method) {
  if (nlhs != kKyteSfunCallMarker || nrhs != 2 || prhs == nullptr) return nullptr;
  if (mxGetClassID(prhs[0]) != mxUINT64_CLASS || mxGetNumberOfElements(prhs[0]) != 1 ||
      !mxIsDouble(prhs[1]) || mxGetNumberOfElements(prhs[1]) != 1)
    return nullptr;
  *method = static_cast<int>(mxGetScalar(prhs[1]));
  const std::uint64_t address = *static_cast<const std::uint64_t*>(mxGetData(prhs[0]));
  return reinterpret_cast<SimStruct*>(static_cast<std::uintptr_t>(address));
}

#endif
