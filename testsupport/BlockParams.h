// A block's parameters for the S-function host, written as MATLAB literals: 'run', 3, [1 2],
// int32(1). For tests that link the host.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mexhost.h"

namespace kyte::testsupport {

// One array for each literal; a literal the host cannot read fails the test and gives none.
inline std::vector<kyte::mexhost::ArrayPtr> ParseParams(const std::vector<std::string>& literals) {
  std::vector<kyte::mexhost::ArrayPtr> params;
  for (const auto& literal : literals) {
    std::string error;
    params.push_back(kyte::mexhost::Parse(literal, &error));
    EXPECT_TRUE(params.back()) << literal << ": " << error;
  }
  return params;
}

}  // namespace kyte::testsupport
