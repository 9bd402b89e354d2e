// One row of 33 values written and flushed to its data file, against a plain write of the
// same bytes to a file in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "PlaybackRow.h"
#include "TextFileStream.h"

namespace {

struct Row {
  std::array<double, 33> values;
  std::array<const double*, 33> pointers;
  Row() {
    for (std::size_t i = 0; i < values.size(); ++i) {
      // A mix of what a flight gives: times, positions in degrees, feet, angles, flags.
      values[i] = (i % 3 == 0)   ? 37.981523 + 0.001 * static_cast<double>(i)
                  : (i % 3 == 1) ? 5000.0 * static_cast<double>(i) + 0.125
                                 : static_cast<double>(i % 2);
      pointers[i] = &values[i];
    }
  }
};

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/playback-bench-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string File(const char* name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void BM_FlightlogRow(benchmark::State& state) {
  TempDir dir;
  Row row;
  playback::CTextFileStream out(dir.File("row.dat").c_str(),
                                playback::CTextFileStream::Mode::kAppend);
  for (auto _ : state) {
    playback::WriteRow(out, row.pointers.data(), 33);
  }
  if (!out) state.SkipWithError("row not written");
}

void BM_PlainWrite(benchmark::State& state) {
  TempDir dir;
  Row row;
  // The same bytes as the row above, line end included.
  const std::string name = dir.File("bytes.dat");
  {
    playback::CTextFileStream text(name.c_str());
    playback::WriteRow(text, row.pointers.data(), 33);
  }
  std::ostringstream bytes;
  bytes << std::ifstream(name, std::ios::binary).rdbuf();
  const std::string line = bytes.str();
  const int fd = open(dir.File("plain.dat").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  for (auto _ : state) {
    if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
      state.SkipWithError("write failed");
      break;
    }
  }
  close(fd);
  state.SetLabel(std::to_string(line.size()) + " bytes");
}

BENCHMARK(BM_PlainWrite);
BENCHMARK(BM_FlightlogRow);

}  // namespace

BENCHMARK_MAIN();
