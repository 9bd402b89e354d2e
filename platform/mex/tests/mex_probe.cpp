// A MEX function for the host's tests; it also builds with mkoctfile --mex.
// mex_probe('describe', x)      -> [class is double, numeric, char, complex, empty, m, n,
//                                   elements, scalar, pr non-null]
// mex_probe('string', x, len)   -> [text read into a buffer of len, its return code]
// mex_probe('sum', x)           -> [sum of real parts, sum of imaginary parts]
// mex_probe('fail', text)       -> raises text with mexErrMsgTxt after allocating
// mex_probe('count')            -> calls since the library was loaded
// mex_probe('twice', x)         -> 2 * x, set as output 1 even when none was requested
// mex_probe('built')            -> the text PROBE_BUILD, a define given to the build
#include <cstring>
#include <string>
#include <vector>

#include "mex.h"

#ifndef PROBE_BUILD
#define PROBE_BUILD "kyte_mx"
#endif

namespace {

int calls = 0;  // process-wide, lives as long as the library is loaded

std::string Text(const mxArray* a) {
  std::vector<char> buf(mxGetNumberOfElements(a) + 1);
  mxGetString(a, buf.data(), buf.size());
  return buf.data();
}

mxArray* RowOf(const std::vector<double>& v) {
  mxArray* out = mxCreateDoubleMatrix(1, v.size(), mxREAL);
  for (size_t i = 0; i < v.size(); ++i) mxGetPr(out)[i] = v[i];
  return out;
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  ++calls;
  (void)nlhs;
  if (nrhs < 1 || !mxIsChar(prhs[0])) mexErrMsgTxt("mex_probe:: first input must be a mode.\n");
  const std::string mode = Text(prhs[0]);
  const mxArray* x = nrhs > 1 ? prhs[1] : nullptr;
  if (mode == "describe" && x != nullptr) {
    plhs[0] =
        RowOf({mxIsDouble(x) ? 1.0 : 0.0, mxIsNumeric(x) ? 1.0 : 0.0, mxIsChar(x) ? 1.0 : 0.0,
               mxIsComplex(x) ? 1.0 : 0.0, mxIsEmpty(x) ? 1.0 : 0.0, static_cast<double>(mxGetM(x)),
               static_cast<double>(mxGetN(x)), static_cast<double>(mxGetNumberOfElements(x)),
               mxGetScalar(x), mxGetPr(x) != nullptr ? 1.0 : 0.0});
  } else if (mode == "string" && nrhs == 3) {
    const size_t length = static_cast<size_t>(mxGetScalar(prhs[2]));
    char* buf = static_cast<char*>(mxCalloc(length + 1, 1));  // freed by the host
    const int rc = mxGetString(x, buf, length);
    plhs[0] = mxCreateString(buf);
    if (nlhs > 1) plhs[1] = mxCreateDoubleScalar(rc);
  } else if (mode == "sum" && x != nullptr && mxIsDouble(x)) {
    double re = 0, im = 0;
    for (size_t i = 0; i < mxGetNumberOfElements(x); ++i) {
      re += mxGetPr(x)[i];
      if (mxIsComplex(x)) im += mxGetPi(x)[i];
    }
    plhs[0] = RowOf({re, im});
  } else if (mode == "fail" && x != nullptr) {
    mxCreateDoubleMatrix(100, 100, mxREAL);  // left to the host to free
    std::string message = Text(x);           // destroyed as the error unwinds
    mexErrMsgTxt(message.c_str());
  } else if (mode == "count") {
    plhs[0] = mxCreateDoubleScalar(calls);
  } else if (mode == "twice" && x != nullptr && mxIsDouble(x)) {
    plhs[0] = mxCreateDoubleMatrix(mxGetM(x), mxGetN(x), mxREAL);
    for (size_t i = 0; i < mxGetNumberOfElements(x); ++i) mxGetPr(plhs[0])[i] = 2 * mxGetPr(x)[i];
  } else if (mode == "built") {
    plhs[0] = mxCreateString(PROBE_BUILD);
  } else {
    mexErrMsgTxt("mex_probe:: unknown mode.\n");
  }
}
