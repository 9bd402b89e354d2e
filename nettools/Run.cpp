#include "Run.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "LineOutput.h"
#include "VehicleRecordD.h"

namespace nettools {

namespace {

// The first line of the run that could not be written: its descriptor and the reason.
struct Failure {
  int fd = -1;
  int error = 0;
};
Failure failure;

}  // namespace

void OpenGroup() {
  char address[] = "224.0.5.20:2267";
  char* list[] = {address};
  MulticastOpen<VehicleRecordD>(1, list);
}

float AddMilliseconds(float total, uint32_t milliseconds) {
  return static_cast<float>(static_cast<double>(total) + milliseconds * 0.001);
}

int PrintLine(int fd, const char* format, ...) {
  if (failure.fd >= 0) return -1;
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int size = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string line(size > 0 ? static_cast<std::size_t>(size) + 1 : 0, '\0');
  if (size > 0) {
    std::vsnprintf(line.data(), line.size(), format, again);
    line.resize(static_cast<std::size_t>(size));
  }
  va_end(again);
  if (size < 0 || !WriteWholeLine(fd, line)) {
    failure = {fd, size < 0 ? EILSEQ : errno};
    return -1;
  }
  return size;
}

bool OutputFailed() { return failure.fd >= 0; }

void ResetOutput() { failure = {}; }

int EndRun(const char* program, float total) {
  MulticastClose<VehicleRecordD>();
  if (PrintLine(STDERR_FILENO, "Finished:Total Time = %f \n", static_cast<double>(total)) >= 0)
    return 0;
  const char* stream = failure.fd == STDOUT_FILENO ? "standard output" : "standard error";
  WriteWholeLine(STDERR_FILENO, std::string(program) + ": cannot write " + stream + ": " +
                                    std::strerror(failure.error) + "\n");
  failure = {};
  return kOutputFailed;
}

}  // namespace nettools
