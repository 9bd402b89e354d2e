// Tile and grid files: opening, reading and writing them whole or in parts, and closing them,
// each failure reported by the failure convention under the pass's module name.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tilebuffer.h"

// Reads `size` bytes at `offset` of descriptor `fd` into `data`, going on where the system caps
// one read (2 GB); what the file does not hold (a short or empty file) is zero, as in a fresh
// zero-filled buffer. False, with errno telling why, when a read fails.
bool ReadAt(int fd, uint8_t* data, uint64_t size, uint64_t offset);
// Writes `size` bytes from `data` at `offset` of descriptor `fd`, going on after a partial
// write: false, with errno telling why, when a write fails or the file takes no more.
bool WriteAt(int fd, const uint8_t* data, uint64_t size, uint64_t offset);
inline bool WriteFromStart(int fd, const uint8_t* data, uint64_t size) {
  return WriteAt(fd, data, size, 0);
}

class TileFile {
 public:
  TileFile() = default;
  TileFile(TileFile&& other) noexcept;
  TileFile& operator=(TileFile&& other) noexcept;
  TileFile(const TileFile&) = delete;
  TileFile& operator=(const TileFile&) = delete;
  ~TileFile();  // closes a file still open, without a report

  // Output tile: opened read-write ("%-11s opened  RW"), else created with mode 0644 and no
  // truncation ("%-11s created RW"); else the failure convention with code 4 and the name.
  static TileFile OpenOutput(const char* module, const std::string& name);

  // Input tile: opened read-only ("%-11s opened  RO"); a missing one is replaced by an empty
  // temporary file that reads as zeroes ("%-11s opened  RO  (as zeroes)", or no line when
  // `announce_zeroes` is false); no temporary file: failure convention, code 4, "tmpfile()".
  static TileFile OpenInput(const char* module, const std::string& name,
                            bool announce_zeroes = true);

  // Grid file: opened read-only ("%-11s opened  RO"); else failure convention, code 4, name.
  static TileFile OpenGrid(const char* module, const std::string& name);

  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& name() const { return name_; }

  // Reads `size` bytes from offset 0 into `data`, as one read would if the system let one read
  // take any size; what it does not bring (a short or empty file) is zero, as in a fresh
  // zero-filled buffer. A read that fails is reported (code 6 and the name): false.
  bool ReadWhole(const char* module, uint8_t* data, uint64_t size) {
    return ReadAt(module, data, size, 0);
  }
  // The same for the `size` bytes from `offset` of the file.
  bool ReadAt(const char* module, uint8_t* data, uint64_t size, uint64_t offset);
  bool ReadWhole(const char* module, TileBuffer& buffer) {
    return ReadWhole(module, buffer.data(), buffer.size());
  }
  // Writes the `size` bytes at offset 0; a write that fails or stops short (a full disk) is
  // reported (code 5 and the name): false.
  bool WriteWhole(const char* module, const uint8_t* data, uint64_t size);
  bool WriteWhole(const char* module, const TileBuffer& buffer) {
    return WriteWhole(module, buffer.data(), buffer.size());
  }
  // Writes the `size` bytes of `data` at `offset`, reported as WriteWhole reports.
  bool WriteAt(const char* module, const uint8_t* data, uint64_t size, uint64_t offset);

  // Closes the file: 0, or -1 after the failure convention with code 8 and the name.
  int Close(const char* module);

 private:
  // Opens the file with `flags` (mode 0644 when created) and prints `line` with its name.
  bool TryOpen(int flags, const char* line);
  // Closes a file still open, without a report; the object then holds none.
  void CloseQuietly();

  int fd_ = -1;
  std::FILE* temp_ = nullptr;  // the temporary file standing in for a missing input tile
  std::string name_;
};
