// What the playback block tests share: a private directory and a block driven by the host.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mexhost.h"
#include "sfunhost.h"

namespace playback_test {

using kyte::mexhost::ArrayPtr;

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/playback-block-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Read(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  std::filesystem::path dir_;
};

inline ArrayPtr Text(const std::string& text) { return kyte::mexhost::Char(text); }
inline ArrayPtr Number(double value) { return kyte::mexhost::Scalar(value); }

template <typename... Arrays>
std::vector<ArrayPtr> Params(Arrays... params) {
  std::vector<ArrayPtr> list;
  (list.push_back(std::move(params)), ...);
  return list;
}

}  // namespace playback_test
