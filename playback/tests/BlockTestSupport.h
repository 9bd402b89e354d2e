// What the playback block tests share: parameters for a block driven by the host.
#pragma once

#include <string>
#include <vector>

#include "TempDirTest.h"
#include "mexhost.h"
#include "sfunhost.h"

namespace playback_test {

using kyte::mexhost::ArrayPtr;

inline ArrayPtr Text(const std::string& text) { return kyte::mexhost::Char(text); }
inline ArrayPtr Number(double value) { return kyte::mexhost::Scalar(value); }

template <typename... Arrays>
std::vector<ArrayPtr> Params(Arrays... params) {
  std::vector<ArrayPtr> list;
  (list.push_back(std::move(params)), ...);
  return list;
}

// Parameters written as MATLAB literals ('run', 3, [1 2], int32(1)).
inline std::vector<ArrayPtr> ParseParams(const std::vector<std::string>& literals) {
  std::vector<ArrayPtr> params;
  for (const auto& literal : literals) {
    std::string error;
    params.push_back(kyte::mexhost::Parse(literal, &error));
    EXPECT_TRUE(params.back()) << literal << ": " << error;
  }
  return params;
}

}  // namespace playback_test
