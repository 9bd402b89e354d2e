#include "tilefile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "support/FaultCountdown.h"
#include "tilefile_test_hook.h"
#include "trn_error.h"

namespace {

constexpr mode_t kCreateMode = 0644;

// ---------------------------------------------------------------------------------------------
// The test hook's faults

constexpr size_t kCalls = static_cast<size_t>(tilefile_test::Call::kClose) + 1;
constinit FaultTable<tilefile_test::Call, kCalls, int> g_faults;
bool g_faults_active = false;

// True when this call of `call` is to fail; errno then holds the fault's error.
bool Injected(tilefile_test::Call call) {
  int error = 0;
  if (!g_faults_active || !g_faults.Falls(call, error)) return false;
  errno = error;
  return true;
}

// ---------------------------------------------------------------------------------------------
// The system calls

int SystemOpen(const std::string& name, TileFile::Access access) {
  if (Injected(tilefile_test::Call::kOpen)) return -1;
  switch (access) {
    case TileFile::Access::kRead:
      return ::open(name.c_str(), O_RDONLY);
    case TileFile::Access::kReadWrite:
      return ::open(name.c_str(), O_RDWR);
    case TileFile::Access::kCreate:
      return ::open(name.c_str(), O_RDWR | O_CREAT, kCreateMode);
  }
  errno = EINVAL;
  return -1;
}

std::FILE* SystemTemporary() {
  if (Injected(tilefile_test::Call::kOpen)) return nullptr;
  return std::tmpfile();
}

bool SystemRead(int fd, uint8_t* data, uint64_t size, uint64_t offset) {
  if (Injected(tilefile_test::Call::kRead)) return false;
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

bool SystemWrite(int fd, const uint8_t* data, uint64_t size, uint64_t offset) {
  if (Injected(tilefile_test::Call::kWrite)) return false;
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

// Closes the temporary file when there is one, else the descriptor.
int SystemClose(int fd, std::FILE* temp) {
  const int result = temp != nullptr ? std::fclose(temp) : ::close(fd);
  if (Injected(tilefile_test::Call::kClose)) return -1;
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TileFile

TileFile::TileFile(TileFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      temp_(std::exchange(other.temp_, nullptr)),
      name_(std::move(other.name_)) {}

TileFile& TileFile::operator=(TileFile&& other) noexcept {
  if (this != &other) {
    if (is_open()) TryClose();
    fd_ = std::exchange(other.fd_, -1);
    temp_ = std::exchange(other.temp_, nullptr);
    name_ = std::move(other.name_);
  }
  return *this;
}

TileFile::~TileFile() {
  if (is_open()) TryClose();
}

TileFile TileFile::Open(const std::string& name, Access access) {
  TileFile file;
  file.name_ = name;
  file.fd_ = SystemOpen(name, access);
  return file;
}

bool TileFile::OpenWithLine(Access access, const char* line) {
  fd_ = SystemOpen(name_, access);
  if (fd_ < 0) return false;
  std::printf(line, name_.c_str());
  return true;
}

TileFile TileFile::OpenOutput(const char* module, const std::string& name) {
  TileFile file;
  file.name_ = name;
  if (file.OpenWithLine(Access::kReadWrite, "%-11s opened  RW\n")) return file;
  if (file.OpenWithLine(Access::kCreate, "%-11s created RW\n")) return file;
  trn_fail(module, kErrorOpen, name.c_str());
  return file;
}

TileFile TileFile::OpenInput(const char* module, const std::string& name, bool announce_zeroes) {
  TileFile file;
  file.name_ = name;
  if (file.OpenWithLine(Access::kRead, "%-11s opened  RO\n")) return file;
  file.temp_ = SystemTemporary();
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
  if (file.OpenWithLine(Access::kRead, "%-11s opened  RO\n")) return file;
  trn_fail(module, kErrorOpen, name.c_str());
  return file;
}

bool TileFile::TryReadAt(uint8_t* data, uint64_t size, uint64_t offset) {
  return SystemRead(fd_, data, size, offset);
}

bool TileFile::TryWriteAt(const uint8_t* data, uint64_t size, uint64_t offset) {
  return SystemWrite(fd_, data, size, offset);
}

int TileFile::TryClose() {
  const int result = SystemClose(fd_, temp_);
  temp_ = nullptr;
  fd_ = -1;
  return result;
}

bool TileFile::ReadAt(const char* module, uint8_t* data, uint64_t size, uint64_t offset) {
  if (TryReadAt(data, size, offset)) return true;
  trn_fail(module, kErrorRead, name_.c_str());
  return false;
}

bool TileFile::WriteAt(const char* module, const uint8_t* data, uint64_t size, uint64_t offset) {
  if (TryWriteAt(data, size, offset)) return true;
  trn_fail(module, kErrorWrite, name_.c_str());
  return false;
}

int TileFile::Close(const char* module) {
  if (TryClose() != 0) return trn_fail(module, kErrorClose, name_.c_str());
  return 0;
}

// ---------------------------------------------------------------------------------------------
// The test hook

namespace tilefile_test {

ScopedFaults::ScopedFaults() {
  g_faults.Clear();
  g_faults_active = true;
}

ScopedFaults::~ScopedFaults() {
  g_faults_active = false;
  g_faults.Clear();
}

void ScopedFaults::Fail(Call call, int error, int skip, int times) {
  g_faults.Fail(call, error, skip, times);
}

int ScopedFaults::Injected() const { return g_faults.Failed(); }

}  // namespace tilefile_test
