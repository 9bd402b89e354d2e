// S-function glue, included at the end of a block source (after its mdl callbacks).
//
// Exports the library's mexFunction dispatcher: it takes the host's call apart, refuses to run
// the block under any S-function name but S_FUNCTION_NAME, and calls the callback asked for.
// The optional callbacks are called only when the source announces them (MDL_CHECK_PARAMETERS,
// MDL_START, MDL_INITIALIZE_CONDITIONS, MDL_UPDATE); the others are required.
#ifndef KYTE_PLATFORM_SFUN_GLUE_H
#define KYTE_PLATFORM_SFUN_GLUE_H

#if !defined(S_FUNCTION_NAME)
#error "Define S_FUNCTION_NAME before including simstruc.h."
#endif
#if !defined(S_FUNCTION_LEVEL) || S_FUNCTION_LEVEL != 2
#error "The S-function glue serves level-2 S-functions: define S_FUNCTION_LEVEL 2."
#endif

#include <string>

#define KYTE_SFUN_STRING2(name) #name
#define KYTE_SFUN_STRING(name) KYTE_SFUN_STRING2(name)

namespace {

void KyteSfunRun(SimStruct* S, int method) {
  switch (method) {
    case kKyteSfunInitializeSizes:
      mdlInitializeSizes(S);
      break;
    case kKyteSfunCheckParameters:
#if defined(MDL_CHECK_PARAMETERS)
      mdlCheckParameters(S);
#endif
      break;
    case kKyteSfunInitializeSampleTimes:
      mdlInitializeSampleTimes(S);
      break;
    case kKyteSfunStart:
#if defined(MDL_START)
      mdlStart(S);
#endif
      break;
    case kKyteSfunInitializeConditions:
#if defined(MDL_INITIALIZE_CONDITIONS)
      mdlInitializeConditions(S);
#endif
      break;
    case kKyteSfunOutputs:
      mdlOutputs(S, 0);
      break;
    case kKyteSfunUpdate:
#if defined(MDL_UPDATE)
      mdlUpdate(S, 0);
#endif
      break;
    case kKyteSfunTerminate:
      mdlTerminate(S);
      break;
    default:
      ssSetErrorStatus(S, KYTE_SFUN_STRING(S_FUNCTION_NAME) ": unknown S-function callback");
      break;
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void mexFunction(int nlhs, mxArray* plhs[],
                                                                   int nrhs,
                                                                   const mxArray* prhs[]) {
  (void)plhs;
  int method = 0;
  SimStruct* S = KyteSfunDecodeCall(nlhs, nrhs, prhs, &method);
  if (S == nullptr) {
    mexErrMsgTxt(KYTE_SFUN_STRING(S_FUNCTION_NAME) " is a level-2 S-function: it runs only as a "
                                                   "block of a model.\n");
  }
  static const std::string kName = KYTE_SFUN_STRING(S_FUNCTION_NAME);
  if (S->sfcnName != kName) {
    static std::string refusal;
    refusal = "S-function name mismatch: this library is the S-function '" + kName + "', not '" +
              S->sfcnName + "'";
    ssSetErrorStatus(S, refusal.c_str());
    return;
  }
  KyteSfunRun(S, method);
}

#endif
