// Replays corpus files through a fuzz target once, for builds without libFuzzer: each argument
// is a file or a folder of files (taken in name order). Ends with a failure status when an
// argument cannot be read; a fault in the target ends the run as it would end the fuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "FuzzTarget.h"

// A target without set-up leaves this undefined.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool Replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  if (!in.good() && !in.eof()) {
    std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
    return false;
  }
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg = std::filesystem::absolute(argv[i]);
    std::error_code error;
    if (std::filesystem::is_directory(arg, error)) {
      std::vector<std::filesystem::path> found;
      for (const auto& entry : std::filesystem::directory_iterator(arg, error))
        if (entry.is_regular_file()) found.push_back(entry.path());
      std::sort(found.begin(), found.end());
      files.insert(files.end(), found.begin(), found.end());
    } else if (std::filesystem::is_regular_file(arg, error)) {
      files.push_back(arg);
    } else {
      std::fprintf(stderr, "replay: no such corpus file or folder: %s\n", argv[i]);
      return 1;
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "replay: no corpus files given\n");
    return 1;
  }
  // After the paths are made absolute: a target's set-up may change the current directory.
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  for (const auto& file : files) {
    std::fprintf(stderr, "replay: %s\n", file.c_str());
    if (!Replay(file)) return 1;
  }
  std::fprintf(stderr, "replay: %zu inputs, no fault\n", files.size());
  return 0;
}
