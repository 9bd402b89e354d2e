#include "testsupport/TempDir.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace kyte::testsupport {

TempDir::TempDir(const std::string& tag, const std::filesystem::path& base) {
  std::string pattern = (base / (tag + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make " + pattern + ": " + std::strerror(errno));
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

CurrentDir::CurrentDir(const std::filesystem::path& dir)
    : previous_(std::filesystem::current_path()) {
  std::filesystem::current_path(dir);
}

CurrentDir::~CurrentDir() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
}

}  // namespace kyte::testsupport
