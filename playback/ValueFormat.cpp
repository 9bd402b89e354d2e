#include "ValueFormat.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

namespace playback {

namespace {

// Powers of ten that a double holds exactly: scaling by one of them rounds only once.
constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kMaxExactPower = 22;

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The characters of 000 to 999, first digit in the lowest byte.
struct DigitTriples {
  std::uint32_t value[1000];
  constexpr DigitTriples() : value() {
    for (std::uint32_t n = 0; n < 1000; ++n) {
      value[n] = ('0' + n / 100) | ('0' + n / 10 % 10) << 8 | ('0' + n % 10) << 16;
    }
  }
};
constexpr DigitTriples kDigitTriples;

// Stores the first `count` characters of `bytes`, the first character in the lowest byte.
template <std::size_t count = 8>
void Store(char* out, std::uint64_t bytes) {
  if constexpr (std::endian::native != std::endian::little) bytes = __builtin_bswap64(bytes);
  std::memcpy(out, &bytes, count);
}

// Everything the fast path leaves: zeros, infinities, NaN, the extremes of the range and the
// values whose rounding double arithmetic cannot decide. Writes printf's "%.6g" with the
// exponent widened to three digits.
std::size_t FormatSlow(double value, char* out) {
  if (std::isnan(value)) {
    std::memcpy(out, "nan", 3);
    return 3;
  }
  if (std::isinf(value)) {
    if (value < 0) {
      std::memcpy(out, "-inf", 4);
      return 4;
    }
    std::memcpy(out, "inf", 3);
    return 3;
  }
  char* end =
      std::to_chars(out, out + kMaxGeneral6Length, value, std::chars_format::general, 6).ptr;
  char* e = static_cast<char*>(std::memchr(out, 'e', static_cast<std::size_t>(end - out)));
  if (e != nullptr && end - (e + 2) == 2) {
    char* digits = e + 2;
    digits[2] = digits[1];
    digits[1] = digits[0];
    digits[0] = '0';
    ++end;
  }
  return static_cast<std::size_t>(end - out);
}

// The magnitude times 10^k, rounded once: the power is exact, so is its product or quotient
// before its one rounding.
double Scale(double magnitude, int k) {
  return k >= 0 ? magnitude * kExactPowers[k] : magnitude / kExactPowers[-k];
}

// Whether a scaled value that came out exactly halfway between two integers rounds up. Its
// rounding may have hidden a difference from the exact value: the exact residual, rounded once
// by the fused multiply-add, keeps its sign. An exact tie goes to the even neighbour, as printf
// rounds it.
bool HalfwayRoundsUp(double magnitude, int k, double scaled, std::uint32_t whole) {
  const double residual = k >= 0 ? std::fma(magnitude, kExactPowers[k], -scaled)
                                 : std::fma(-scaled, kExactPowers[-k], magnitude);
  return residual != 0.0 ? residual > 0.0 : (whole & 1) != 0;
}

}  // namespace

std::size_t FormatGeneral6(double value, char* out) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const std::uint64_t magnitudeBits = bits & ~(1ull << 63);
  // The sign goes first; it stays only for negative values (negative zero included).
  char* p = out;
  *p = '-';
  p += bits >> 63;
  if (magnitudeBits == 0) {
    *p = '0';
    return static_cast<std::size_t>(p + 1 - out);
  }
  const int binaryExponent = static_cast<int>(magnitudeBits >> 52) - 1023;
  // floor(log10(2^binaryExponent)): the decimal exponent of the value or one below it.
  int exponent = (binaryExponent * 78913) >> 18;
  int k = 5 - exponent;
  // Subnormals, infinities and NaN lie outside this range as well. One step below it stays
  // within the table for the second try.
  if (k < -kMaxExactPower + 1 || k > kMaxExactPower) {
    return FormatSlow(value, out);
  }
  double magnitude;
  std::memcpy(&magnitude, &magnitudeBits, sizeof magnitude);
  // The scaled value lies in [100000, 10000000); over a million, the exponent was one low.
  // Rounding is monotonic and keeps 100000, 1000000 and every integer plus one half, so the
  // rounded value is on the same side of each of them as the exact one, or on it when the
  // exact value is.
  double scaled = Scale(magnitude, k);
  if (scaled >= 1000000.0) {
    --k;
    ++exponent;
    scaled = Scale(magnitude, k);
  }
  const auto whole = static_cast<std::uint32_t>(static_cast<std::int32_t>(scaled));
  const double fraction = scaled - whole;
  std::uint32_t digits = whole + (fraction > 0.5 ? 1 : 0);
  if (fraction == 0.5 && HalfwayRoundsUp(magnitude, k, scaled, whole)) {
    ++digits;
  }
  if (digits == 1000000) {
    digits = 100000;
    ++exponent;
  }

  // The six digits as characters, first digit in the lowest byte.
  const std::uint64_t packed =
      kDigitTriples.value[digits / 1000] | std::uint64_t{kDigitTriples.value[digits % 1000]} << 24;
  // Digits left once trailing zeros are dropped: up to the last nonzero one.
  const std::uint64_t values = packed - 0x303030303030ull;
  const int significant = (63 - __builtin_clzll(values)) / 8 + 1;

  if (exponent < -4 || exponent >= 6) {
    // d.ddddde+xxx: all the digits are stored, the 'e' lands after the last significant one.
    Store(p, (packed & 0xff) | std::uint64_t{'.'} << 8 | (packed & ~0xffull) << 8);
    p += significant > 1 ? significant + 1 : 1;
    const int magnitude10 = exponent < 0 ? -exponent : exponent;
    p[0] = 'e';
    p[1] = exponent < 0 ? '-' : '+';
    p[2] = static_cast<char>('0' + magnitude10 / 100);
    std::memcpy(p + 3, kDigitPairs + 2 * (magnitude10 % 100), 2);
    p += 5;
  } else if (exponent >= 0) {
    // ddd.ddd: the point goes after the whole digits, and only when a fraction follows.
    const int wholeDigits = exponent + 1;
    const int shift = 8 * wholeDigits;
    const std::uint64_t low = packed & ((1ull << shift) - 1);
    const std::uint64_t high = shift < 48 ? packed >> shift : 0;
    Store(p, low | std::uint64_t{'.'} << shift | high << (shift + 8));
    p += significant > wholeDigits ? significant + 1 : wholeDigits;
  } else {
    // 0.000ddd: one to four zeros before the digits.
    const int zeros = -exponent - 1;
    Store(p, 0x3030303030302e30ull);
    Store<6>(p + 2 + zeros, packed);
    p += 2 + zeros + significant;
  }
  return static_cast<std::size_t>(p - out);
}

}  // namespace playback
