#include "demnumbers.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

bool IsDecimalDigit(int c) { return c >= '0' && c <= '9'; }
bool IsOctalDigit(int c) { return c >= '0' && c <= '7'; }
bool IsHexDigit(int c) { return std::isxdigit(c) != 0; }

}  // namespace

Conversion ConvertInt(const char* text, int& value) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 0);
  if (end == text) return Conversion::kNoNumber;
  if (errno == ERANGE || v < INT_MIN || v > INT_MAX) return Conversion::kOutOfRange;
  value = static_cast<int>(v);
  return Conversion::kValue;
}

bool ConvertFloat(const char* text, float& value) {
  char* end = nullptr;
  const float v = std::strtof(text, &end);
  if (end == text) return false;
  value = v;
  return true;
}

bool ReadIntText(std::FILE* in, std::string& text) {
  text.clear();
  int c = std::fgetc(in);
  while (std::isspace(c)) c = std::fgetc(in);
  if (c == EOF) return false;
  const auto take = [&] {
    text += static_cast<char>(c);
    c = std::fgetc(in);
  };
  if (c == '+' || c == '-') take();
  bool (*is_digit)(int) = IsDecimalDigit;
  if (c == '0') {
    take();
    is_digit = IsOctalDigit;
    if (c == 'x' || c == 'X') {
      take();
      is_digit = IsHexDigit;
    }
  }
  while (c != EOF && is_digit(c)) take();
  if (c != EOF) std::ungetc(c, in);
  return true;
}
