// An output file stream in text mode as the simulator's platform writes it: every line feed
// reaches the file as a carriage return and a line feed.
#pragma once

#include <array>
#include <cstdio>
#include <ostream>

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

 protected:
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  bool Drain();

  std::FILE* file_ = nullptr;
  std::array<char, 8192> buffer_;
  std::size_t used_ = 0;
};

// Opened for writing (created or emptied) or for appending. A file that
// cannot be opened leaves the stream failed: everything written to it is dropped.
class CTextFileStream : public std::ostream {
 public:
  enum class Mode { kWrite, kAppend };
  explicit CTextFileStream(const char* name, Mode mode = Mode::kWrite);
  bool is_open() const { return buf_.IsOpen(); }

 private:
  CCrlfFileBuf buf_;
};

}  // namespace playback
