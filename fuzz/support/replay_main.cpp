// Replays corpus files through a fuzz target once, for builds without libFuzzer: each argument
// is a file or a folder of files (taken in name order). With -runs=N, as libFuzzer takes it, the
// files are replayed in turn, over and over, until N inputs have run: a target that runs short of
// something only after many inputs shows it. Ends with a failure status when an argument cannot
// be read; a fault in the target ends the run as it would end the fuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
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

// N of an argument -runs=N, or 0 when the argument is not one; -1 when N is not a whole number
// above 0.
long long RunsOf(const std::string& arg) {
  const std::string flag = "-runs=";
  if (arg.rfind(flag, 0) != 0) return 0;
  const std::string value = arg.substr(flag.size());
  if (value.empty() || value.size() > 18 ||
      value.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  const long long runs = std::stoll(value);
  return runs > 0 ? runs : -1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files;
  long long runs = 0;
  for (int i = 1; i < argc; ++i) {
    if (const long long n = RunsOf(argv[i]); n != 0) {
      if (n < 0) {
        std::fprintf(stderr, "replay: -runs needs a whole number above 0, not %s\n", argv[i]);
        return 1;
      }
      runs = n;
      continue;
    }
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
  if (runs == 0) runs = static_cast<long long>(files.size());
  for (long long run = 0; run < runs; ++run) {
    const std::filesystem::path& file = files[static_cast<std::size_t>(run) % files.size()];
    if (run < static_cast<long long>(files.size()))
      std::fprintf(stderr, "replay: %s\n", file.c_str());
    if (!Replay(file)) return 1;
  }
  std::fprintf(stderr, "replay: %lld inputs, no fault\n", runs);
  return 0;
}
