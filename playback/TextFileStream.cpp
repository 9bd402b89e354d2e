#include "TextFileStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace playback {

// No put area: every character passes through xsputn or overflow, which translate it.
CCrlfFileBuf::CCrlfFileBuf() = default;

CCrlfFileBuf::~CCrlfFileBuf() { Close(); }

bool CCrlfFileBuf::Failed() {
  if (error_ == 0) {
    error_ = errno != 0 ? errno : EIO;
  }
  return false;
}

bool CCrlfFileBuf::Open(const char* name, bool append) {
  errno = 0;
  file_ = std::fopen(name, append ? "ab" : "wb");
  if (file_ == nullptr) {
    return Failed();
  }
  // The file itself buffers nothing: each flush of ours is one write.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  return true;
}

bool CCrlfFileBuf::Drain() {
  const std::size_t size = used_;
  used_ = 0;
  if (size == 0) {
    return true;
  }
  errno = 0;
  if (file_ == nullptr || std::fwrite(buffer_.data(), 1, size, file_) != size) {
    return Failed();
  }
  return true;
}

bool CCrlfFileBuf::Close() {
  if (file_ == nullptr) {
    return false;
  }
  const bool drained = Drain();
  errno = 0;
  const bool closed = std::fclose(file_) == 0 || Failed();
  file_ = nullptr;
  return drained && closed;
}

std::streamsize CCrlfFileBuf::xsputn(const char* text, std::streamsize count) {
  const char* p = text;
  const char* const end = text + count;
  while (p != end) {
    // Room for a chunk and the carriage return that may end it.
    if (buffer_.size() - used_ < 2 && !Drain()) {
      return p - text;
    }
    const std::size_t room = buffer_.size() - used_ - 1;
    const std::size_t length = std::min(room, static_cast<std::size_t>(end - p));
    const void* lf = std::memchr(p, '\n', length);
    const std::size_t chunk =
        lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - p) : length;
    std::memcpy(buffer_.data() + used_, p, chunk);
    used_ += chunk;
    p += chunk;
    if (lf != nullptr) {
      buffer_[used_++] = '\r';
      buffer_[used_++] = '\n';
      ++p;
    }
  }
  return count;
}

CCrlfFileBuf::int_type CCrlfFileBuf::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) {
    return Drain() ? traits_type::not_eof(c) : traits_type::eof();
  }
  const char ch = traits_type::to_char_type(c);
  return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
}

int CCrlfFileBuf::sync() { return Drain() ? 0 : -1; }

CTextFileStream::CTextFileStream(const char* name, Mode mode) : std::ostream(nullptr) {
  rdbuf(&buf_);
  if (!buf_.Open(name, mode == Mode::kAppend)) {
    setstate(std::ios::failbit);
  }
}

bool CTextFileStream::close() {
  if (!buf_.Close()) {
    setstate(std::ios::badbit);
    return false;
  }
  return true;
}

std::string FileFailureText(const char* block, const char* action, const char* kind,
                            const char* name, int error) {
  return std::string(block) + ":: Could not " + action + " " + kind + " '" + name +
         "': " + std::strerror(error) + ".";
}

}  // namespace playback
