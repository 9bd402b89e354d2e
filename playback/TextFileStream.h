// An output file stream in text mode as the simulator's platform writes it: every line feed
// reaches the file as a carriage return and a line feed.
#pragma once

#include <array>
#include <cstdio>
#include <ostream>
#include <string>

namespace playback {

// Translates line ends as it buffers what is written, so that a flush of the stream is one
// write of the translated bytes.
class CCrlfFileBuf : public std::streambuf {
 public:
  CCrlfFileBuf();
  ~CCrlfFileBuf() override;
  CCrlfFileBuf(const CCrlfFileBuf&) = delete;
  CCrlfFileBuf& operator=(const CCrlfFileBuf&) = delete;

  bool Open(const char* name, bool append);
  bool IsOpen() const { return file_ != nullptr; }
  // Writes what is buffered and closes the file; false when either failed (the file is released
  // all the same) or no file was open.
  bool Close();
  // The system's error number of the first open, write or close that failed; 0 while none did.
  int Error() const { return error_; }

 protected:
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  bool Drain();
  bool Failed();  // keeps errno as the error when it is the first

  std::FILE* file_ = nullptr;
  int error_ = 0;
  std::array<char, 8192> buffer_;
  std::size_t used_ = 0;
};

// Opened for writing (created or emptied) or for appending. A file that cannot be opened, or
// a write that does not reach the file whole, leaves the stream failed: everything written to
// it afterwards is dropped, and error() tells the system's reason.
class CTextFileStream : public std::ostream {
 public:
  enum class Mode { kWrite, kAppend };
  explicit CTextFileStream(const char* name, Mode mode = Mode::kWrite);
  bool is_open() const { return buf_.IsOpen(); }
  // Closes the file; false, with the stream failed, when what was written did not reach it, the
  // close failed or no file was open.
  bool close();
  int error() const { return buf_.Error(); }

 private:
  CCrlfFileBuf buf_;
};

// A block's report of a file that failed, with the system's reason for `error`:
// "<block>:: Could not <action> <kind> '<name>': <reason>."
std::string FileFailureText(const char* block, const char* action, const char* kind,
                            const char* name, int error);

}  // namespace playback
