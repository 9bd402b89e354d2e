#include "ReportWatch.h"

#include <unistd.h>

#include <cerrno>

ReportWatch::ReportWatch() : original_(stderr) {
  const cookie_io_functions_t functions{nullptr, &ReportWatch::Write, nullptr, nullptr};
  watching_ = fopencookie(this, "w", functions);
  if (watching_ == nullptr) return;  // then nothing is watched
  std::setvbuf(watching_, nullptr, _IONBF, 0);
  stderr = watching_;
}

ReportWatch::~ReportWatch() {
  if (watching_ == nullptr) return;
  stderr = original_;
  std::fclose(watching_);
}

ssize_t ReportWatch::Write(void* cookie, const char* data, std::size_t size) {
  auto* watch = static_cast<ReportWatch*>(cookie);
  if (size > 0) watch->reported_ = true;
  const int fd = fileno(watch->original_);
  std::size_t written = 0;
  while (written < size) {
    const ssize_t n = ::write(fd, data + written, size - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return written > 0 ? static_cast<ssize_t>(written) : -1;
    written += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(written);
}
