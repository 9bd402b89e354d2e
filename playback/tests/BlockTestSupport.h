// What the playback block tests share: a private directory and parameters for a block driven by
// the host.
#pragma once

#include <string>
#include <vector>

#include "mexhost.h"
#include "sfunhost.h"
#include "testsupport/BlockParams.h"
#include "testsupport/TempDirTest.h"

namespace playback_test {

using kyte::mexhost::ArrayPtr;
using kyte::testsupport::ParseParams;
using kyte::testsupport::TempDirTest;

inline ArrayPtr Text(const std::string& text) { return kyte::mexhost::Char(text); }
inline ArrayPtr Number(double value) { return kyte::mexhost::Scalar(value); }

template <typename... Arrays>
std::vector<ArrayPtr> Params(Arrays... params) {
  std::vector<ArrayPtr> list;
  (list.push_back(std::move(params)), ...);
  return list;
}

}  // namespace playback_test
