// A private place for tests that open shared-memory channels: a working directory of their own
// and a named-object namespace that no other test run shares.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "testsupport/TempDir.h"

namespace cosim_test {

// Points the file-mapping layer of this process, and of every child started in its lifetime,
// at a private namespace, and makes a private directory the current one; both are given back
// as they were at the end.
class ChannelSandbox {
 public:
  ChannelSandbox();
  ~ChannelSandbox();
  const std::filesystem::path& dir() const { return work_.path(); }
  const std::filesystem::path& objects() const { return objects_.path(); }
  std::filesystem::path Subdir(const std::string& name) const;

 private:
  kyte::testsupport::TempDir objects_{"kyte-objects"};
  kyte::testsupport::TempDir work_{"kyte-work"};
  std::optional<std::string> previousNamespace_;
  std::optional<kyte::testsupport::CurrentDir> inWork_;
};

}  // namespace cosim_test
