// What the S-function blocks share: their shape in the model and the reading of their
// parameters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "simstruc.h"
#include "support/Truncate.h"

namespace kyte::sfun {

// Texts are read into buffers of 256 characters: a longer text is cut to its first 255.
inline constexpr std::size_t kTextBufferSize = 256;

inline bool IsText(const mxArray* param) { return mxIsChar(param); }

inline bool IsOneDouble(const mxArray* param) {
  return mxIsDouble(param) && mxGetNumberOfElements(param) == 1;
}

inline void ReadText(const mxArray* param, char (&text)[kTextBufferSize]) {
  text[0] = '\0';
  mxGetString(param, text, kTextBufferSize);
}

// A parameter's form and the message the block gives when it has another.
struct ParameterCheck {
  int iIndex;  // from 0
  bool (*pfnHasForm)(const mxArray* param);
  const char* pszMessage;
};

// Whether every parameter has its form; the first, in the order of `checks`, that lacks it sets
// its message as the block's error status.
template <std::size_t N>
bool CheckParameters(SimStruct* S, const ParameterCheck (&checks)[N]) {
  for (const ParameterCheck& check : checks) {
    if (!check.pfnHasForm(ssGetSFcnParam(S, check.iIndex))) {
      ssSetErrorStatus(S, check.pszMessage);
      return false;
    }
  }
  return true;
}

// Sets an error status made while the block runs. Simulink reads the status after the
// callback has returned, so the text is kept in the library's own storage until the next
// one: the first error stops the simulation.
inline void SetErrorStatusText(SimStruct* S, std::string text) {
  static std::string kept;
  kept = std::move(text);
  ssSetErrorStatus(S, kept.c_str());
}

// The first element truncated toward zero; 0 for a parameter that holds no double.
inline std::int32_t ReadInteger(const mxArray* param) {
  const double* values = mxGetPr(param);
  return values != nullptr ? TruncateToInt32(values[0]) : 0;
}

// No states, one input port of `inputWidth` with direct feedthrough, one output of
// `outputWidth`, one sample time, no work vectors, modes or zero crossings, options word 2.
inline void InitializeBlockSizes(SimStruct* S, int_T inputWidth, int_T outputWidth = 1) {
  ssSetNumContStates(S, 0);
  ssSetNumDiscStates(S, 0);
  if (!ssSetNumInputPorts(S, 1)) return;
  ssSetInputPortWidth(S, 0, inputWidth);
  ssSetInputPortDirectFeedThrough(S, 0, 1);
  if (!ssSetNumOutputPorts(S, 1)) return;
  ssSetOutputPortWidth(S, 0, outputWidth);
  ssSetNumSampleTimes(S, 1);
  ssSetNumRWork(S, 0);
  ssSetNumIWork(S, 0);
  ssSetNumPWork(S, 0);
  ssSetNumModes(S, 0);
  ssSetNumNonsampledZCs(S, 0);
  ssSetOptions(S, 2);
}

// One continuous sample time: mdlOutputs comes at every major and minor step.
inline void InitializeContinuousSampleTime(SimStruct* S) {
  ssSetSampleTime(S, 0, CONTINUOUS_SAMPLE_TIME);
  ssSetOffsetTime(S, 0, 0.0);
}

}  // namespace kyte::sfun
