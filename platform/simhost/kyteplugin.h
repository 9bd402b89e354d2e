// What the simulator expects of a plug-in library: an exported block count `nBlocks`, an
// exported pointer `pCBlockx` to that many block records, and an exported end function `CBExit`.
// The record is the C structure of its eight fields in their order, with natural alignment.
#pragma once

#include <cstdint>

extern "C" {

typedef void (*PFNBLOCKFUNCTION)(double* in, double* out);
typedef void (*PFNBLOCKEXIT)();

struct CBlock {
  std::int32_t iBlockType;
  const char* pszName;
  const char* pszInputNames;   // blank-separated, in the order of the input array
  const char* pszOutputNames;  // blank-separated, in the order of the output array
  const char* pszAuxNames;
  std::int32_t iAuxValue;
  PFNBLOCKFUNCTION pfnInit;  // once, before the first frame
  PFNBLOCKFUNCTION pfnStep;  // every frame
};

}  // extern "C"

// Marks the three exports inside an extern "C" block of the plug-in.
#define KYTE_PLUGIN_EXPORT __attribute__((visibility("default")))
