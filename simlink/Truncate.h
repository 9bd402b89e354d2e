#pragma once
// Conversion of a double to a 32-bit integer as the 32-bit x86 target of this system performs it
// (truncation toward zero), defined for every input: a NaN or a value outside the int32 range
// gives the "integer indefinite" value INT32_MIN, as the processor's conversion does.

#include <cmath>
#include <cstdint>

inline std::int32_t TruncateToInt32(double dValue) {
  if (!(dValue > -2147483649.0 && dValue < 2147483648.0)) return INT32_MIN;
  return static_cast<std::int32_t>(dValue);
}
