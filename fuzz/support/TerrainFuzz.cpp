#include "TerrainFuzz.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FuzzTarget.h"
#include "tiledb.h"

// The sanitizers' hook for their report's end; absent from a build without them.
extern "C" __attribute__((weak)) void __sanitizer_set_death_callback(void (*callback)(void));

namespace kyte::fuzz {
namespace {

// The child's status after a sanitizer report: none of the programs' own.
constexpr int kSanitizerReportStatus = 86;

// The child leaves with its status as soon as exit is called: the fuzzer's own exit handler,
// inherited from the parent, would take an exit for a finding of its own and change the status.
void LeaveWithStatus(int status, void*) {
  std::fflush(nullptr);
  ::_exit(status);
}

void SanitizerReported() { ::_exit(kSanitizerReportStatus); }

std::string SystemError() { return std::strerror(errno); }

}  // namespace

void ExpectResult(int result, const char* who) {
  if (result != 0 && result != -1) Abort(std::string(who) + " gave " + std::to_string(result));
}

std::string NumberText(double value) {
  char text[32];
  *std::to_chars(text, text + sizeof text - 1, value).ptr = '\0';
  return text;
}

int RunTerrainProgram(int (*run)(int, char**), std::vector<std::string> words) {
  std::vector<char*> argv = Argv(words);
  const int status = run(static_cast<int>(words.size()), argv.data());
  ExpectResult(status, words[0].c_str());
  return status;
}

int RunInChild(const std::function<int()>& run, std::initializer_list<int> expected) {
  std::fflush(nullptr);  // nothing buffered is written twice
  const pid_t pid = ::fork();
  if (pid < 0) Abort("cannot fork: " + SystemError());
  if (pid == 0) {
    if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(SanitizerReported);
    ::on_exit(LeaveWithStatus, nullptr);
    LeaveWithStatus(run() & 0xFF, nullptr);
  }
  int raw = 0;
  while (::waitpid(pid, &raw, 0) < 0) {
    if (errno != EINTR) Abort("cannot wait for the child: " + SystemError());
  }
  if (WIFSIGNALED(raw)) Abort("the child died of signal " + std::to_string(WTERMSIG(raw)));
  const int status = WEXITSTATUS(raw);
  if (status == kSanitizerReportStatus) Abort("the child's sanitizer reported");
  if (std::find(expected.begin(), expected.end(), status) == expected.end())
    Abort("the child ended with status " + std::to_string(status));
  return status;
}

CornerPoints Box(double lon_min, double lon_max, double lat_min, double lat_max) {
  return {lon_min, lat_min, lon_max, lat_min, lon_min, lat_max, lon_max, lat_max};
}

bool OffTheGlobe(const CornerPoints& corners) {
  for (size_t i = 0; i < corners.size(); ++i) {
    // Half a degree past the globe's end is far beyond the programs' tolerance.
    const double limit = i % 2 == 0 ? 180.5 : 90.5;
    if (!std::isfinite(corners[i]) || std::fabs(corners[i]) > limit) return true;
  }
  return false;
}

bool SmallOrOffTheGlobe(const CornerPoints& corners, int64_t most_tiles) {
  if (OffTheGlobe(corners)) return true;
  const auto& c = corners;
  return MakeRegion(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]).TileCount() <= most_tiles;
}

bool StaysInScratch(const std::string& word) {
  if (word.starts_with('/')) return false;
  for (size_t start = 0; start <= word.size();) {
    const size_t end = std::min(word.find('/', start), word.size());
    if (word.compare(start, end - start, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace kyte::fuzz
