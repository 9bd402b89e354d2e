// Bytes from outside (a sender's name, a token of an input file) as a message shows them on an
// operator's terminal: each control byte (below 0x20, 0x7F, 0x80 to 0x9F) as \xNN with two
// upper-case hex digits, so that no input can move the cursor, ring the bell, reset the terminal
// or break a message's one line. Every other byte, the backslash included, is kept as it is, so
// printable text reads unchanged.
#pragma once

#include <string>
#include <string_view>

inline std::string PrintableText(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (const char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      out += '\\';
      out += 'x';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += byte;
    }
  }
  return out;
}

// A value from outside as a refusal names it: in single quotes, printable ('-l23', '\x1B[2J').
inline std::string QuotedText(std::string_view bytes) { return "'" + PrintableText(bytes) + "'"; }
