// The form the project's hosts take a list of values in, on their command lines and in their
// input files: the values separated by commas, blanks, tabs or carriage returns, with one pair
// of brackets around them or without, so that "1,2,3", "1 2 3", "[1 2 3]" and "[1, 2, 3]" are
// one list. Each host reads the values themselves as numbers of its own kind.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The texts of the list's values, in order; nothing when a bracket stands anywhere but around
// the whole list.
inline std::optional<std::vector<std::string>> SplitValueList(std::string_view text) {
  constexpr std::string_view kSeparators = " ,\t\r";
  const std::size_t first = text.find_first_not_of(kSeparators);
  if (first == std::string_view::npos) return std::vector<std::string>{};
  text = text.substr(first, text.find_last_not_of(kSeparators) + 1 - first);
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
    text = text.substr(1, text.size() - 2);
  if (text.find_first_of("[]") != std::string_view::npos) return std::nullopt;
  std::vector<std::string> values;
  for (std::size_t at = text.find_first_not_of(kSeparators); at != std::string_view::npos;) {
    const std::size_t end = std::min(text.find_first_of(kSeparators, at), text.size());
    values.emplace_back(text.substr(at, end - at));
    at = text.find_first_not_of(kSeparators, end);
  }
  return values;
}
