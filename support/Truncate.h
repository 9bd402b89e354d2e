// The conversion of a double to a 32-bit integer as the 32-bit x86 target of this system performs
// it, defined for every input: a NaN or a value outside the int32 range gives the processor's
// "integer indefinite" value INT32_MIN.
#pragma once

#include <cstdint>

// Truncation toward zero.
inline std::int32_t TruncateToInt32(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}
