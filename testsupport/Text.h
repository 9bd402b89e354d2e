// Searching a text that a test caught: whether it holds a piece, and how often.
#pragma once

#include <cstddef>
#include <string>

namespace kyte::testsupport {

inline bool Contains(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

// The places where `piece` starts in `text`, overlapping ones included.
inline int CountOf(const std::string& text, const std::string& piece) {
  int n = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
    ++n;
  return n;
}

}  // namespace kyte::testsupport
