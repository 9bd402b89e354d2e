// Tile, level, grid, scratch and picture files: the one way the terrain passes open, read,
// write and close a file. Every such call of the system goes through TileFile (where the test
// hook of tilefile_test_hook.h can make it fail); the reported calls follow the failure
// convention under the pass's module name, the others leave errno telling why for the caller's
// own report.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tilebuffer.h"

class TileFile {
 public:
  // How Open opens a file: read-only; for reading and writing; for reading and writing,
  // created with mode 0644 when missing and never truncated.
  enum class Access { kRead, kReadWrite, kCreate };

  TileFile() = default;
  TileFile(TileFile&& other) noexcept;
  TileFile& operator=(TileFile&& other) noexcept;
  TileFile(const TileFile&) = delete;
  TileFile& operator=(const TileFile&) = delete;
  ~TileFile();  // closes a file still open, without a report

  // Opens `name` without a line or a report: not open afterwards, errno telling why, when the
  // system refuses.
  static TileFile Open(const std::string& name, Access access);

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

  // Reads `size` bytes at `offset` into `data`, going on where the system caps one read (2 GB);
  // what the file does not hold (a short or empty file) is zero, as in a fresh zero-filled
  // buffer. False, errno telling why, when the read fails.
  bool TryReadAt(uint8_t* data, uint64_t size, uint64_t offset);
  // Writes `size` bytes of `data` at `offset`, going on after a partial write: false, errno
  // telling why, when a write fails or the file takes no more.
  bool TryWriteAt(const uint8_t* data, uint64_t size, uint64_t offset);
  // Closes the file: 0, or -1 with errno telling why. The object then holds no file.
  int TryClose();

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
  bool WriteWhole(const char* module, const uint8_t* data, uint64_t size) {
    return WriteAt(module, data, size, 0);
  }
  bool WriteWhole(const char* module, const TileBuffer& buffer) {
    return WriteWhole(module, buffer.data(), buffer.size());
  }
  // Writes the `size` bytes of `data` at `offset`, reported as WriteWhole reports.
  bool WriteAt(const char* module, const uint8_t* data, uint64_t size, uint64_t offset);

  // Closes the file: 0, or -1 after the failure convention with code 8 and the name.
  int Close(const char* module);

 private:
  // Opens the file with `access` and prints `line` with its name.
  bool OpenWithLine(Access access, const char* line);

  int fd_ = -1;
  std::FILE* temp_ = nullptr;  // the temporary file standing in for a missing input tile
  std::string name_;
};
