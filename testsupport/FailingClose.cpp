#include "testsupport/FailingClose.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

struct Target {
  bool armed = false;
  dev_t device = 0;
  ino_t inode = 0;
  int error = 0;
  int failed = 0;
};
Target target;

bool IsTarget(std::FILE* stream) {
  struct stat st;
  return target.armed && stream != nullptr && ::fstat(::fileno(stream), &st) == 0 &&
         st.st_dev == target.device && st.st_ino == target.inode;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int fclose(std::FILE* stream) {
  static const auto next = reinterpret_cast<int (*)(std::FILE*)>(dlsym(RTLD_NEXT, "fclose"));
  if (!IsTarget(stream)) return next(stream);
  target.armed = false;
  ++target.failed;
  next(stream);
  errno = target.error;
  return EOF;
}

namespace kyte::testsupport {

ScopedFailingClose::ScopedFailingClose(const std::filesystem::path& file, int error) {
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) throw std::runtime_error("no file " + file.string());
  target = Target{true, st.st_dev, st.st_ino, error, 0};
}

ScopedFailingClose::~ScopedFailingClose() { target = Target{}; }

int ScopedFailingClose::failed() const { return target.failed; }

}  // namespace kyte::testsupport
