// One row of 33 values written and flushed to its data file, against a plain write of the
// same bytes to a file in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "PlaybackRow.h"
#include "TextFileStream.h"
#include "testsupport/TempDir.h"

namespace {

using namespace kyte::testsupport;

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

// The same bytes as one row, line end included, as the data file holds them.
std::string RowBytes(const TempDir& dir, const Row& row) {
  const std::string name = (dir / "bytes.dat").string();
  {
    playback::CTextFileStream text(name.c_str());
    playback::WriteRow(text, row.pointers.data(), 33);
  }
  std::ostringstream bytes;
  bytes << std::ifstream(name, std::ios::binary).rdbuf();
  return bytes.str();
}

// A row and a plain write take turns, so that both see the same machine; the benchmark's time
// is the row's, and x_plain_write its ratio to the plain write.
void BM_FlightlogRow(benchmark::State& state) {
  using Seconds = std::chrono::duration<double>;
  using Clock = std::chrono::steady_clock;
  const TempDir dir("playback-bench");
  Row row;
  const std::string line = RowBytes(dir, row);
  playback::CTextFileStream out((dir / "row.dat").c_str(),
                                playback::CTextFileStream::Mode::kAppend);
  const int fd = open((dir / "plain.dat").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) {
    state.SkipWithError("plain file not opened");
    return;
  }
  Seconds rowTime{0}, plainTime{0};
  for (auto _ : state) {
    const auto start = Clock::now();
    playback::WriteRow(out, row.pointers.data(), 33);
    const auto rowDone = Clock::now();
    if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
      state.SkipWithError("write failed");
    }
    const auto plainDone = Clock::now();
    rowTime += rowDone - start;
    plainTime += plainDone - rowDone;
    state.SetIterationTime(Seconds(rowDone - start).count());
  }
  close(fd);
  if (!out) state.SkipWithError("row not written");
  const double rows = static_cast<double>(state.iterations());
  state.counters["row_ns"] = rowTime.count() / rows * 1e9;
  state.counters["plain_write_ns"] = plainTime.count() / rows * 1e9;
  state.counters["x_plain_write"] = rowTime.count() / plainTime.count();
  state.SetLabel(std::to_string(line.size()) + " bytes a row");
}
BENCHMARK(BM_FlightlogRow)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
