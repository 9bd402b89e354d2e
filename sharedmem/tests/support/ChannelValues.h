// The first `count` values of a channel of this process's table, after a read.
#pragma once

#include <cstdint>
#include <vector>

#include "ConnectionTable.h"

namespace cosim_test {

inline std::vector<double> ReadChannelValues(std::int32_t index, std::int32_t count) {
  ReadConnection(index);
  std::vector<double> values;
  for (std::int32_t i = 0; i < count; ++i) values.push_back(GetConnectionValue(index, i));
  return values;
}

}  // namespace cosim_test
