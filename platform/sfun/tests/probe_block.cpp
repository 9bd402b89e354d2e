// A block for the host's tests. Parameters: mode text, input width, gain.
// Output port 1: gain * input; port 2: [t, major step, steps seen by this block, live blocks].
// Modes: 'ok', 'fail-start', 'fail-outputs' (at the third call), 'throw' (mexErrMsgTxt in
// mdlOutputs), 'no-ports' (ssSetNumInputPorts refused), 'bad-port' (width on a missing port),
// 'wide' (input width -3).
#define S_FUNCTION_NAME probe_block
#define S_FUNCTION_LEVEL 2
#include <cstring>
#include <string>

#include "simstruc.h"

namespace {

int live = 0;  // process-wide: shared by every block of this library

struct State {
  State() { ++live; }
  ~State() { --live; }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  double gain = 0;
  int calls = 0;
  std::string mode;
};

std::string Mode(SimStruct* S) {
  char buf[16];
  mxGetString(ssGetSFcnParam(S, 0), buf, sizeof buf);
  return buf;
}

int Width(SimStruct* S) {
  const mxArray* p = ssGetSFcnParam(S, 1);
  return mxIsDouble(p) && !mxIsEmpty(p) ? static_cast<int>(mxGetScalar(p)) : 1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int probe_block_live() { return live; }

static void mdlInitializeSizes(SimStruct* S) {
  ssSetNumSFcnParams(S, 3);
  ssSetNumContStates(S, 0);
  ssSetNumDiscStates(S, 0);
  const std::string mode = Mode(S);
  if (!ssSetNumInputPorts(S, mode == "no-ports" ? -1 : 1)) return;
  ssSetInputPortWidth(S, 0, mode == "wide" ? -3 : Width(S));
  ssSetInputPortDirectFeedThrough(S, 0, 1);
  if (!ssSetNumOutputPorts(S, 2)) return;
  ssSetOutputPortWidth(S, 0, Width(S));
  ssSetOutputPortWidth(S, mode == "bad-port" ? 2 : 1, 4);
  ssSetNumSampleTimes(S, 1);
  ssSetOptions(S, 2);
}

#define MDL_CHECK_PARAMETERS
static void mdlCheckParameters(SimStruct* S) {
  if (!mxIsChar(ssGetSFcnParam(S, 0))) {
    ssSetErrorStatus(S, "1st parameter to the probe_block must be the mode");
    return;
  }
  for (int i = 1; i < 3; ++i) {
    const mxArray* p = ssGetSFcnParam(S, i);
    if (!mxIsDouble(p) || mxGetNumberOfElements(p) != 1) {
      ssSetErrorStatus(S, i == 1 ? "2nd parameter to the probe_block must be the width"
                                 : "3rd parameter to the probe_block must be the gain");
      return;
    }
  }
}

static void mdlInitializeSampleTimes(SimStruct* S) {
  ssSetSampleTime(S, 0, CONTINUOUS_SAMPLE_TIME);
  ssSetOffsetTime(S, 0, 0.0);
}

#define MDL_START
static void mdlStart(SimStruct* S) {
  auto* state = new State;
  ssSetUserData(S, state);
  state->mode = Mode(S);
  state->gain = *mxGetPr(ssGetSFcnParam(S, 2));
  if (state->mode == "fail-start") ssSetErrorStatus(S, "probe_block:: start failed.\n");
}

static void mdlOutputs(SimStruct* S, int_T tid) {
  UNUSED_ARG(tid);
  auto* state = static_cast<State*>(ssGetUserData(S));
  ++state->calls;
  if (state->mode == "throw") mexErrMsgTxt("probe_block:: raised.\n");
  if (state->mode == "fail-outputs" && state->calls == 3) {
    ssSetErrorStatus(S, "probe_block:: outputs failed.");
    return;
  }
  InputRealPtrsType u = ssGetInputPortRealSignalPtrs(S, 0);
  real_T* y = ssGetOutputPortRealSignal(S, 0);
  for (int i = 0; i < ssGetInputPortWidth(S, 0); ++i) y[i] = state->gain * *u[i];
  real_T* info = ssGetOutputPortRealSignal(S, 1);
  info[0] = ssGetT(S);
  info[1] = ssIsMajorTimeStep(S) ? 1 : 0;
  info[2] = state->calls;
  info[3] = live;
}

static void mdlTerminate(SimStruct* S) { delete static_cast<State*>(ssGetUserData(S)); }

#include "sfun_glue.h"
