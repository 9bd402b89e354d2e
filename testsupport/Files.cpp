#include "testsupport/Files.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace kyte::testsupport {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::set<std::string> FilesIn(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

namespace {

// The targets of this process's descriptors, the one that lists them among them.
std::vector<std::filesystem::path> DescriptorTargets() {
  std::vector<std::filesystem::path> targets;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    targets.push_back(std::filesystem::read_symlink(entry.path(), error));
  }
  return targets;
}

}  // namespace

int DescriptorsOn(const std::filesystem::path& path) {
  int count = 0;
  for (const auto& target : DescriptorTargets()) count += target == path ? 1 : 0;
  return count;
}

int OpenDescriptors() { return static_cast<int>(DescriptorTargets().size()) - 1; }

}  // namespace kyte::testsupport
