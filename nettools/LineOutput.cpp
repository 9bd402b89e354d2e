#include "LineOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace nettools {

namespace {

// Where a line that may have to be taken back starts: the end of the regular file it extends.
// -1 when it extends none, or when that cannot be known.
off_t EndToExtend(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return -1;
  if ((flags & O_APPEND) != 0) return st.st_size;  // every write goes to the end
  return ::lseek(fd, 0, SEEK_CUR) == st.st_size ? st.st_size : -1;
}

// Takes back the `written` bytes of a cut line that began at the file's end `end`, as long as
// the file ends in just those bytes. errno stays as the failed write left it.
void TakeBack(int fd, off_t end, std::size_t written) {
  const int error = errno;
  struct stat st {};
  if (end >= 0 && ::fstat(fd, &st) == 0 && st.st_size == end + static_cast<off_t>(written) &&
      ::ftruncate(fd, end) == 0) {
    // Without O_APPEND the offset still points past the bytes taken back.
    ::lseek(fd, end, SEEK_SET);
  }
  errno = error;
}

}  // namespace

bool WriteWholeLine(int fd, std::string_view line) {
  const off_t end = EndToExtend(fd);
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t n = ::write(fd, line.data() + written, line.size() - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n == 0) errno = EIO;  // a write that takes nothing would take nothing forever
      if (written > 0) TakeBack(fd, end, written);
      return false;
    }
  }
  return true;
}

}  // namespace nettools
