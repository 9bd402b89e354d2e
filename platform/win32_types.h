// The Win32 base types and truth values that the platform layers' calls are declared with, in
// their 32-bit Windows widths.
#pragma once

#include <cstdint>

using BOOL = int;
using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using ULONG = std::uint32_t;
using HANDLE = void*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
