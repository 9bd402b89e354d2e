// Private directories for tests that open shared-memory channels: a working directory of their
// own and a named-object namespace that no other test run shares.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace cosim_test {

// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir {
 public:
  explicit TempDir(const std::string& tag = "kyte");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

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
  TempDir objects_{"kyte-objects"};
  TempDir work_{"kyte-work"};
  std::filesystem::path previousDir_;
  std::optional<std::string> previousNamespace_;
};

// The whole content of a file, or "" when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);

// Descriptors of this process open on `path` (a canonical path).
int DescriptorsOn(const std::filesystem::path& path);

}  // namespace cosim_test
