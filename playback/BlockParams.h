// Reading the playback blocks' parameters.
#pragma once

#include <cstdint>

#include "ValueFormat.h"
#include "matrix.h"

namespace playback {

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

// The first element truncated toward zero; 0 for a parameter that holds no double.
inline std::int32_t ReadInteger(const mxArray* param) {
  const double* values = mxGetPr(param);
  return values != nullptr ? TruncateToInt32(values[0]) : 0;
}

}  // namespace playback
