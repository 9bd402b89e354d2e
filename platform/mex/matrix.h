/* Matrix API of the MEX interface: the arrays that MATLAB and a MEX function exchange.
 * This is the documented C subset that the toolkit's MEX libraries and S-function blocks use,
 * implemented by kyte_mx for the toolkit's own hosts. A source written against these names
 * builds unchanged against a real MATLAB-compatible host (Octave's mkoctfile --mex). */
#ifndef KYTE_PLATFORM_MEX_MATRIX_H
#define KYTE_PLATFORM_MEX_MATRIX_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef size_t mwSize;
typedef size_t mwIndex;
typedef ptrdiff_t mwSignedIndex;

#ifdef __cplusplus
typedef char16_t mxChar;
#else
typedef uint16_t mxChar;
#endif

typedef struct mxArray_tag mxArray;

typedef enum {
  mxUNKNOWN_CLASS = 0,
  mxCELL_CLASS,
  mxSTRUCT_CLASS,
  mxLOGICAL_CLASS,
  mxCHAR_CLASS,
  mxVOID_CLASS,
  mxDOUBLE_CLASS,
  mxSINGLE_CLASS,
  mxINT8_CLASS,
  mxUINT8_CLASS,
  mxINT16_CLASS,
  mxUINT16_CLASS,
  mxINT32_CLASS,
  mxUINT32_CLASS,
  mxINT64_CLASS,
  mxUINT64_CLASS,
  mxFUNCTION_CLASS
} mxClassID;

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

/* Creation and destruction. Every new array is zero-filled. Arrays and memory made during a
 * MEX call and not handed back as an output are freed by the host when the call ends. */
mxArray* mxCreateDoubleMatrix_730(size_t m, size_t n, mxComplexity complexity);
mxArray* mxCreateNumericMatrix_730(size_t m, size_t n, mxClassID classid, mxComplexity complexity);
mxArray* mxCreateDoubleScalar(double value);
mxArray* mxCreateString(const char* text);
mxArray* mxDuplicateArray(const mxArray* array);
void mxDestroyArray(mxArray* array);

/* Memory that lives until mxFree or the end of the MEX call. */
void* mxCalloc(size_t n, size_t size);
void* mxMalloc(size_t size);
void mxFree(void* ptr);

/* Shape and class. */
size_t mxGetM(const mxArray* array);
size_t mxGetN(const mxArray* array);
size_t mxGetNumberOfElements(const mxArray* array);
size_t mxGetElementSize(const mxArray* array);
mxClassID mxGetClassID(const mxArray* array);
bool mxIsNumeric(const mxArray* array);
bool mxIsDouble(const mxArray* array);
bool mxIsEmpty(const mxArray* array);
bool mxIsComplex(const mxArray* array);
bool mxIsChar(const mxArray* array);
/* Sparse arrays keep only their nonzero elements behind mxGetPr. This host makes none, so it
 * answers false; a real host may pass them in. */
bool mxIsSparse(const mxArray* array);

/* Data. mxGetPr and mxGetPi give the real and imaginary doubles of a non-empty double array and
 * NULL for every other array (other classes are reached through mxGetData). mxGetScalar gives
 * the first real element converted to double, 0.0 for an empty or non-numeric array. */
double* mxGetPr(const mxArray* array);
double* mxGetPi(const mxArray* array);
void* mxGetData(const mxArray* array);
void* mxGetImagData(const mxArray* array);
double mxGetScalar(const mxArray* array);

/* Copies a char array into buf (column by column) with a terminating zero, cut to buflen - 1
 * characters. Returns 0 on success, 1 when the array is not a char array or was cut. */
int mxGetString_730(const mxArray* array, char* buf, size_t buflen);

#ifdef __cplusplus
}
#endif

/* The documented names resolve to the large-array entry points, as on the real platform. */
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_730
#define mxCreateNumericMatrix mxCreateNumericMatrix_730
#define mxGetString mxGetString_730

#endif
