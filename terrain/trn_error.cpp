#include "trn_error.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Room for one "<module>: <line>" piece and for the whole format, without their NULs.
constexpr size_t kPieceSize = 256;
constexpr size_t kFormatLength = 1023;

}  // namespace

const char* const ErrorTextTable[kErrorTextRows][kErrorTextLines] = {
    {},                                  // 0: no error
    {},                                  // 1
    {},                                  // 2
    {},                                  // 3
    {"Can't open %s\n"},                 // 4
    {"Can't write %s\n"},                // 5
    {"Can't read %s\n"},                 // 6
    {},                                  // 7
    {"Can't close %s\n"},                // 8
    {"Illegal combination of flags\n"},  // 9
    {},                                  // 10
    {},                                  // 11
    {},                                  // 12
    {},                                  // 13
    {},                                  // 14
    {},                                  // 15
};

void trn_error(int code, const char* module, const char* name, const char* extra) {
  if (code == 0) return;
  if (code < 0 || code >= kErrorTextRows) return;
  // The module name goes into a printf format: its own '%' characters are doubled.
  std::string escaped_module;
  for (const char* p = module; *p != '\0'; ++p) {
    escaped_module += *p;
    if (*p == '%') escaped_module += '%';
  }
  std::string format;
  for (const char* line : ErrorTextTable[code]) {
    if (line == nullptr || *line == '\0') continue;
    char piece[kPieceSize];
    const int n = std::snprintf(piece, sizeof piece, "%s: %s", escaped_module.c_str(), line);
    // A piece cut short could end inside a conversion; such a piece is left out whole.
    if (n < 0 || n >= static_cast<int>(sizeof piece)) continue;
    if (format.size() + static_cast<size_t>(n) > kFormatLength) break;
    format += piece;
  }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
  std::fprintf(stderr, format.c_str(), name, extra);
#pragma GCC diagnostic pop
}

void trn_system_error(const char* prefix, int error) {
  std::fprintf(stderr, "%s: %s\n", prefix, std::strerror(error));
}

int trn_fail(const char* module, int code, const char* name) {
  return trn_fail(module, module, code, name);
}

int trn_fail(const char* prefix, const char* module, int code, const char* name) {
  trn_system_error(prefix, errno);
  trn_error(code, module, name, "");
  return -1;
}
