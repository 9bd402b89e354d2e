// The hosts' input files, read one line at a time: memory stays that of one line, however long
// the file, and a line longer than any row of values needs is refused with its number, so that
// an endless source (/dev/zero) is refused at once rather than read until memory runs out.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "support/PrintableText.h"

inline constexpr std::size_t kMaxInputLine = 65536;  // bytes, without the line break

// Hands every line of `file` that holds more than blanks, tabs and carriage returns to
// `row(number, text)`, in order, with its number counted from 1 and without its line break; a
// last line without a break counts too. The first text that `row` returns ends the reading and
// comes back. Otherwise "" once the whole file is read, or why it could not be read:
// "cannot read 'FILE': <the system's reason>" (a file that is missing or a directory) or
// "line N of FILE is longer than 65536 bytes".
inline std::string ReadInputLines(const std::string& file,
                                  const std::function<std::string(long, std::string_view)>& row) {
  const auto cannotRead = [&file](int error) {
    return "cannot read " + QuotedText(file) + ": " + std::strerror(error);
  };
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.c_str(), "r"),
                                                           std::fclose);
  if (!in) return cannotRead(errno);
  std::string line;
  errno = 0;
  for (long number = 1;; ++number) {
    line.clear();
    int c = 0;
    while ((c = std::getc(in.get())) != EOF && c != '\n') {
      if (line.size() == kMaxInputLine)
        return "line " + std::to_string(number) + " of " + PrintableText(file) +
               " is longer than " + std::to_string(kMaxInputLine) + " bytes";
      line += static_cast<char>(c);
    }
    if (c == EOF && std::ferror(in.get())) return cannotRead(errno != 0 ? errno : EIO);
    if (line.find_first_not_of(" \t\r") != std::string::npos) {
      std::string refused = row(number, line);
      if (!refused.empty()) return refused;
    }
    if (c == EOF) return "";
  }
}
