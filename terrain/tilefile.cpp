#include "tilefile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "trn_error.h"

bool ReadAt(int fd, uint8_t* data, uint64_t size, uint64_t offset) {
  // A read of a file stops short only at its end, or where the system caps one read.
  uint64_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
  }
  std::memset(data + done, 0, size - done);
  return true;
}

bool WriteAt(int fd, const uint8_t* data, uint64_t size, uint64_t offset) {
  // A write stops short only when the file can take no more; the next one then says why.
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<uint64_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

TileFile::TileFile(TileFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      temp_(std::exchange(other.temp_, nullptr)),
      name_(std::move(other.name_)) {}

TileFile& TileFile::operator=(TileFile&& other) noexcept {
  if (this != &other) {
    CloseQuietly();
    fd_ = std::exchange(other.fd_, -1);
    temp_ = std::exchange(other.temp_, nullptr);
    name_ = std::move(other.name_);
  }
  return *this;
}

TileFile::~TileFile() { CloseQuietly(); }

void TileFile::CloseQuietly() {
  if (temp_ != nullptr) {
    std::fclose(temp_);
  } else if (fd_ >= 0) {
    ::close(fd_);
  }
  temp_ = nullptr;
  fd_ = -1;
}

bool TileFile::TryOpen(int flags, const char* line) {
  fd_ = ::open(name_.c_str(), flags, 0644);
  if (fd_ < 0) return false;
  std::printf(line, name_.c_str());
  return true;
}

TileFile TileFile::OpenOutput(const char* module, const std::string& name) {
  TileFile file;
  file.name_ = name;
  if (file.TryOpen(O_RDWR, "%-11s opened  RW\n")) return file;
  if (file.TryOpen(O_RDWR | O_CREAT, "%-11s created RW\n")) return file;
  trn_fail(module, kErrorOpen, name.c_str());
  return file;
}

TileFile TileFile::OpenInput(const char* module, const std::string& name, bool announce_zeroes) {
  TileFile file;
  file.name_ = name;
  if (file.TryOpen(O_RDONLY, "%-11s opened  RO\n")) return file;
  file.temp_ = std::tmpfile();
  if (file.temp_ == nullptr) {
    trn_fail(module, kErrorOpen, "tmpfile()");
    return file;
  }
  file.fd_ = fileno(file.temp_);
  if (announce_zeroes) std::printf("%-11s opened  RO  (as zeroes)\n", name.c_str());
  return file;
}

TileFile TileFile::OpenGrid(const char* module, const std::string& name) {
  TileFile file;
  file.name_ = name;
  if (file.TryOpen(O_RDONLY, "%-11s opened  RO\n")) return file;
  trn_fail(module, kErrorOpen, name.c_str());
  return file;
}

bool TileFile::ReadAt(const char* module, uint8_t* data, uint64_t size, uint64_t offset) {
  if (::ReadAt(fd_, data, size, offset)) return true;
  trn_fail(module, kErrorRead, name_.c_str());
  return false;
}

bool TileFile::WriteWhole(const char* module, const uint8_t* data, uint64_t size) {
  return WriteAt(module, data, size, 0);
}

bool TileFile::WriteAt(const char* module, const uint8_t* data, uint64_t size, uint64_t offset) {
  if (::WriteAt(fd_, data, size, offset)) return true;
  trn_fail(module, kErrorWrite, name_.c_str());
  return false;
}

int TileFile::Close(const char* module) {
  int result;
  if (temp_ != nullptr) {
    result = std::fclose(temp_);
  } else {
    result = ::close(fd_);
  }
  temp_ = nullptr;
  fd_ = -1;
  if (result != 0) return trn_fail(module, kErrorClose, name_.c_str());
  return 0;
}
