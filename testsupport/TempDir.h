// Directories of a test's own: a fresh temporary directory, and the current directory changed
// for a while.
#pragma once

#include <filesystem>
#include <string>

namespace kyte::testsupport {

// A fresh directory `<tag>-XXXXXX` (mode 700) under `base`, by default the system's temporary
// directory; removed with everything in it when the object goes. Throws when it cannot be made.
class TempDir {
 public:
  explicit TempDir(const std::string& tag = "kyte-test",
                   const std::filesystem::path& base = std::filesystem::temp_directory_path());
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Makes `dir` the current directory while it lives; the one before is current again after.
class CurrentDir {
 public:
  explicit CurrentDir(const std::filesystem::path& dir);
  ~CurrentDir();
  CurrentDir(const CurrentDir&) = delete;
  CurrentDir& operator=(const CurrentDir&) = delete;

 private:
  std::filesystem::path previous_;
};

}  // namespace kyte::testsupport
