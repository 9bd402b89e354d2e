/* MEX interface: the entry point a MEX library exports and the calls it makes on its host. */
#ifndef KYTE_PLATFORM_MEX_MEX_H
#define KYTE_PLATFORM_MEX_MEX_H

#include "matrix.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The one export of a MEX library, called once per MATLAB call: nlhs outputs requested (plhs
 * has room for at least one), nrhs inputs. */
#if defined(__GNUC__)
__attribute__((visibility("default")))
#endif
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

/* Ends the current MEX call and raises the text as the call's error; it does not return. */
#if defined(__GNUC__)
__attribute__((noreturn))
#endif
void mexErrMsgTxt(const char* message);

#ifdef __cplusplus
}
#endif

#endif
