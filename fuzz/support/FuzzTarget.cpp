#include "FuzzTarget.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "testsupport/TempDir.h"

namespace kyte::fuzz {

void Abort(const std::string& what) {
  std::fprintf(stderr, "fuzz harness: %s\n", what.c_str());
  std::abort();
}

std::vector<std::string> Words(FuzzInput& in, std::size_t most) {
  std::vector<std::string> words;
  while (!in.empty() && words.size() < most) words.push_back(in.Text());
  return words;
}

std::vector<char*> Argv(std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return argv;
}

// The scratch directory, removed with what it holds when the process ends.
class ScratchDir {
 public:
  explicit ScratchDir(const char* target) : dir_(Make(target)) {}
  ~ScratchDir() {
    std::error_code error;
    std::filesystem::current_path(path().parent_path(), error);
  }
  const std::filesystem::path& path() const { return dir_->path(); }

 private:
  static std::unique_ptr<testsupport::TempDir> Make(const char* target) {
    const char* root = std::getenv("KYTE_FUZZ_SCRATCH");
    const std::filesystem::path base =
        root && *root ? std::filesystem::path(root) : std::filesystem::temp_directory_path();
    try {
      return std::make_unique<testsupport::TempDir>(std::string("kyte-fuzz-") + target, base);
    } catch (const std::exception& error) {
      Abort(error.what());
    }
  }
  std::unique_ptr<testsupport::TempDir> dir_;
};

const std::filesystem::path& FreshScratch(const char* target) {
  static const ScratchDir scratch(target);
  const std::filesystem::path& dir = scratch.path();
  std::error_code error;
  std::filesystem::current_path(dir, error);
  if (error) Abort("cannot enter " + dir.string());
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    std::filesystem::remove_all(entry.path(), error);
    if (error) Abort("cannot clear " + entry.path().string());
  }
  if (error) Abort("cannot list " + dir.string());
  return dir;
}

void WriteFile(const std::filesystem::path& name, std::string_view bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) Abort("cannot write " + name.string());
}

std::string ReadWholeFile(const std::filesystem::path& name) {
  std::ifstream in(name, std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(in), {}};
  if (!in.is_open() || in.bad()) Abort("cannot read " + name.string());
  return bytes;
}

}  // namespace kyte::fuzz
