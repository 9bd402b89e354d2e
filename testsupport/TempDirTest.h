// A fixture for tests that make files: a private directory for each test, the current directory
// while the test runs, removed with what it holds afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "testsupport/Files.h"
#include "testsupport/TempDir.h"

namespace kyte::testsupport {

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_.emplace();
    dir_ = temp_->path();
    enter_.emplace(dir_);
  }
  void TearDown() override {
    enter_.reset();
    temp_.reset();
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Read(const std::string& name) const { return ReadFile(dir_ / name); }
  std::set<std::string> Files() const { return FilesIn(dir_); }

  std::filesystem::path dir_;

 private:
  std::optional<TempDir> temp_;
  std::optional<CurrentDir> enter_;
};

}  // namespace kyte::testsupport
