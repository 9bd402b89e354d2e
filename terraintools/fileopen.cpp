#include "fileopen.h"

#include <sys/stat.h>

#include <cerrno>

#include "trn_error.h"

std::FILE* OpenInputFile(const char* name, const char* mode) {
  std::FILE* file = std::fopen(name, mode);
  if (file == nullptr) return nullptr;
  // A directory opens, but every read of it fails: refused here, where the reason is known.
  struct stat st {};
  if (::fstat(::fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(file);
    errno = EISDIR;
    return nullptr;
  }
  return file;
}

void ReportNotOpened(const char* program, const char* line, const char* name) {
  const int error = errno;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::fprintf(stderr, line, name);
#pragma GCC diagnostic pop
  trn_system_error(program, error);
}
