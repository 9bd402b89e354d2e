// Text forms of the numbers in the playback files, as the simulator's playback expects them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace playback {

// Longest text FormatGeneral6 writes ("-2.22507e-308"), without a terminating zero.
inline constexpr std::size_t kMaxGeneral6Length = 13;

// Writes `value` as the C library's "%g" with precision 6 writes it, with the exponent always
// carrying a sign and at least three digits ("1.23457e+006", "1e-007"). Infinities are written
// "inf" and "-inf", every NaN "nan", so that strtod and MATLAB's readers take them back.
// `out` must hold kMaxGeneral6Length characters; returns the number written (no terminating zero).
std::size_t FormatGeneral6(double value, char* out);

}  // namespace playback
