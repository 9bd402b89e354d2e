// The terrain programs' command lines: the count of their words and the conversions of numbers.
#pragma once

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

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
