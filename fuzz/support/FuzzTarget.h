// What every fuzz target shares: the libFuzzer entry points, a reader that takes typed values
// from the input bytes, and a scratch directory of the target's own.
//
// A target defines LLVMFuzzerTestOneInput (and LLVMFuzzerInitialize where it needs to set up
// once). Built with libFuzzer the fuzzer calls it; otherwise replay_main.cpp feeds it each file
// of the target's corpus once, as a test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace kyte::fuzz {

// Takes values off the front of an input; once it is used up every value is zero or empty, so a
// target never reads past what the input holds.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t remaining() const { return size_; }
  bool empty() const { return size_ == 0; }

  template <typename T>
  T Take() {
    T value{};
    const std::size_t n = size_ < sizeof(T) ? size_ : sizeof(T);
    if (n != 0) std::memcpy(&value, data_, n);
    Skip(n);
    return value;
  }
  std::uint8_t Byte() { return Take<std::uint8_t>(); }
  bool Bool() { return (Byte() & 1) != 0; }
  // A value in [0, count); 0 when count is 0.
  std::uint32_t Below(std::uint32_t count) {
    return count == 0 ? 0 : Take<std::uint32_t>() % count;
  }

  // The bytes up to the next NUL (the NUL taken too), or the rest.
  std::string Text() {
    const void* end = size_ == 0 ? nullptr : std::memchr(data_, 0, size_);
    const std::size_t n =
        end ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - data_) : size_;
    std::string text(reinterpret_cast<const char*>(data_), n);
    Skip(end ? n + 1 : n);
    return text;
  }
  // At most n bytes.
  std::string_view Bytes(std::size_t n) {
    if (n > size_) n = size_;
    std::string_view bytes(reinterpret_cast<const char*>(data_), n);
    Skip(n);
    return bytes;
  }
  std::string_view Rest() { return Bytes(size_); }

 private:
  void Skip(std::size_t n) {
    data_ += n;
    size_ -= n;
  }
  const std::uint8_t* data_;
  std::size_t size_;
};

// Prints "fuzz harness: <what>" and aborts: a finding, or a harness that cannot go on.
[[noreturn]] void Abort(const std::string& what);

// Command-line words from an input: NUL-separated texts, at most `most` of them.
std::vector<std::string> Words(FuzzInput& in, std::size_t most);

// argv for a program name and its words; the pointers stay valid while `words` lives.
std::vector<char*> Argv(std::vector<std::string>& words);

// The target's scratch directory, made the current directory on the first call and emptied on
// every call. It lies under $KYTE_FUZZ_SCRATCH (a small tmpfs of its own when the target runs
// through fuzz/with-scratch) or else under the system's temporary directory.
const std::filesystem::path& FreshScratch(const char* target);

// Writes a whole file in the current directory; aborts when it cannot (the scratch directory
// is the harness's, so a failure there is the harness's fault, not a finding).
void WriteFile(const std::filesystem::path& name, std::string_view bytes);

// The bytes of a file the harness needs; aborts when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& name);

}  // namespace kyte::fuzz
