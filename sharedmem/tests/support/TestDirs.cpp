#include "TestDirs.h"

#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace cosim_test {

TempDir::TempDir(const std::string& tag) {
  std::string pattern = (std::filesystem::temp_directory_path() / (tag + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

ChannelSandbox::ChannelSandbox() : previousDir_(std::filesystem::current_path()) {
  if (const char* previous = std::getenv("KYTE_OBJECT_NAMESPACE")) previousNamespace_ = previous;
  ::setenv("KYTE_OBJECT_NAMESPACE", objects_.path().c_str(), 1);
  std::filesystem::current_path(work_.path());
}

ChannelSandbox::~ChannelSandbox() {
  std::error_code ignored;
  std::filesystem::current_path(previousDir_, ignored);
  if (previousNamespace_) {
    ::setenv("KYTE_OBJECT_NAMESPACE", previousNamespace_->c_str(), 1);
  } else {
    ::unsetenv("KYTE_OBJECT_NAMESPACE");
  }
}

std::filesystem::path ChannelSandbox::Subdir(const std::string& name) const {
  std::filesystem::path dir = work_.path() / name;
  std::filesystem::create_directories(dir);
  return dir;
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int DescriptorsOn(const std::filesystem::path& path) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error) == path) ++count;
  }
  return count;
}

}  // namespace cosim_test
