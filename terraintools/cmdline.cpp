#include "cmdline.h"

#include <cmath>
#include <string>

#include "support/PrintableText.h"

namespace {

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// A sign, digits and a fraction: the digits before or after the point may be missing, not both.
bool IsDecimalInteger(const char* text) {
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  if (*text == '+' || *text == '-') ++text;
  bool digits = false;
  for (; IsDigit(*text); ++text) digits = true;
  if (*text == '.') {
    for (++text; IsDigit(*text); ++text) digits = true;
  }
  return digits && *text == '\0';
}

bool IsReal(const char* text, bool finite) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  return end != text && *end == '\0' && (!finite || std::isfinite(value));
}

}  // namespace

bool IsNumber(const char* text, NumberForm form) {
  switch (form) {
    case NumberForm::kInteger:
      return IsDecimalInteger(text);
    case NumberForm::kReal:
      return IsReal(text, true);
    case NumberForm::kBound:
      return IsReal(text, false);
  }
  return false;
}

const NumberArg* FirstNotANumber(const char* const* argv, std::span<const NumberArg> args) {
  for (const NumberArg& arg : args) {
    if (!IsNumber(argv[arg.position], arg.form)) return &arg;
  }
  return nullptr;
}

bool CheckNumbers(const char* program, const char* const* argv, std::span<const NumberArg> args) {
  const NumberArg* bad = FirstNotANumber(argv, args);
  if (bad == nullptr) return true;
  // Quoted as netwatch quotes a name: a word pasted with control bytes cannot drive the terminal.
  std::fprintf(stderr, "%s: %s is not a number: '%s'\n", program, bad->name,
               PrintableText(argv[bad->position]).c_str());
  return false;
}
