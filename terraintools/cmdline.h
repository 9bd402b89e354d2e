// The terrain programs' command lines: the count of their words and the conversions of numbers.
#pragma once

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

// Whether the command line holds `argc_wanted` words, the program's own name included; else
// prints the usage line "\n usage: <argv[0]> <usage>\n" on standard error. `usage` names the
// arguments, with the blank before the line's end where the program prints one.
inline bool CheckArgCount(int argc, char** argv, int argc_wanted, const char* usage) {
  if (argc == argc_wanted) return true;
  std::fprintf(stderr, "\n usage: %s %s\n", argv[0], usage);
  return false;
}

// The leading decimal integer of a text, as atoi reads it (blanks skipped, an optional sign,
// digits up to the first other character, 0 when there are none), held to the int range
// instead of overflowing.
inline int ArgToInt(const char* text) {
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int64_t value = 0;
  for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
    value = value * 10 + (*text - '0');
    if (value > int64_t{INT_MAX} + 1) value = int64_t{INT_MAX} + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

// The leading decimal floating-point number of a text, as atof reads it (0 when there is none).
inline double ArgToDouble(const char* text) { return std::strtod(text, nullptr); }

// The forms of the number arguments. An argument that is not a number of its form as a whole
// (blanks before it allowed, nothing after it) is refused before any file; one that is, is read
// as ArgToInt or ArgToDouble reads it.
enum class NumberForm {
  kInteger,  // an optional sign, digits and an optional fraction, which is dropped: "36.75" is 36
  kReal,     // what strtod reads whole, finite: "14.5", "1e1", "-0x1p3"
  kBound,    // what strtod reads whole: a bound that is infinite or not a number is off the
             // globe, which the region check refuses with its own line
};

struct NumberArg {
  int position;  // in the argument vector
  const char* name;
  NumberForm form;
};

// The programs' number arguments, in argument order. gridforge's bounds are whole degrees, cut
// toward zero ("36.75" counts as 36, "-123.5" as -123), so they take the whole numbers' form: an
// exponent or a hexadecimal prefix would be cut at its letter ("4.8e1" to 4, "0x30" to 0).
inline constexpr NumberArg kGridforgeNumbers[] = {
    {2, "LatitudeMin", NumberForm::kInteger},   {3, "LatitudeMax", NumberForm::kInteger},
    {4, "LongitudeMin", NumberForm::kInteger},  {5, "LongitudeMax", NumberForm::kInteger},
    {6, "NumberColumns", NumberForm::kInteger}, {7, "NumberRows", NumberForm::kInteger},
    {8, "TimeOfDay", NumberForm::kReal}};
inline constexpr NumberArg kLandimportNumbers[] = {{2, "Rot(deg)", NumberForm::kReal},
                                                   {3, "TransX", NumberForm::kReal},
                                                   {4, "TransY", NumberForm::kReal},
                                                   {5, "SizeX", NumberForm::kReal},
                                                   {6, "SizeY", NumberForm::kReal}};
// The box of tintshade and tileprint, and tintshade's level count after it.
inline constexpr NumberArg kBoxNumbers[] = {{1, "long_min", NumberForm::kBound},
                                            {2, "long_max", NumberForm::kBound},
                                            {3, "lat_min", NumberForm::kBound},
                                            {4, "lat_max", NumberForm::kBound}};
inline constexpr NumberArg kTintshadeLevels[] = {{5, "levels", NumberForm::kInteger}};

// Whether `text` as a whole is a number of `form`.
bool IsNumber(const char* text, NumberForm form);

// The first of `args` whose word in `argv` is not a number of its form; null when there is none.
const NumberArg* FirstNotANumber(const char* const* argv, std::span<const NumberArg> args);

// Whether every one of `args` is a number of its form; else prints
// "<program>: <name> is not a number: '<text>'" for the first that is not, on standard error.
bool CheckNumbers(const char* program, const char* const* argv, std::span<const NumberArg> args);
