// Makes the close of one chosen file fail, as a close on Linux fails that reports a write the
// system could not complete: the file is released all the same and the close gives EOF with
// the error in errno. The test executable's own `fclose` stands in front of the C library's for
// every library of the process, the blocks it loads included, where the executable exports it
// (-Wl,--export-dynamic-symbol=fclose); a test that links kyte_failing_close gets it.
#pragma once

#include <cerrno>
#include <filesystem>

namespace kyte::testsupport {

class ScopedFailingClose {
 public:
  // The next close of a stream open on `file` (which must exist) fails with `error`.
  explicit ScopedFailingClose(const std::filesystem::path& file, int error = EIO);
  ~ScopedFailingClose();
  ScopedFailingClose(const ScopedFailingClose&) = delete;
  ScopedFailingClose& operator=(const ScopedFailingClose&) = delete;

  int failed() const;  // closes made to fail
};

}  // namespace kyte::testsupport
