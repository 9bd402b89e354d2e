#include "ChannelSandbox.h"

#include <stdlib.h>

#include <cstdlib>

namespace cosim_test {

ChannelSandbox::ChannelSandbox() {
  if (const char* previous = std::getenv("KYTE_OBJECT_NAMESPACE")) previousNamespace_ = previous;
  ::setenv("KYTE_OBJECT_NAMESPACE", objects_.path().c_str(), 1);
  inWork_.emplace(work_.path());
}

ChannelSandbox::~ChannelSandbox() {
  inWork_.reset();
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

}  // namespace cosim_test
