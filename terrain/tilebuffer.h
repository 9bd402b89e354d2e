// Heap buffers of the terrain passes: the zero-filling allocator `trn_zero_alloc` and the
// buffer that owns what it gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

// Allocates `count` bytes from the heap, all zero, starting on a multiple of kHeapAlignment;
// null when the heap cannot supply them. Release with std::free.
inline constexpr size_t kHeapAlignment = 64;
void* trn_zero_alloc(uint32_t count);

// The most bytes one buffer of a pass holds: trn_zero_alloc's count has 32 bits. A grid the
// elevation or colour pass loads is one such buffer.
inline constexpr uint64_t kMaxBufferBytes = UINT32_MAX;

// A zero-filled buffer from trn_zero_alloc, released on destruction.
class TileBuffer {
 public:
  TileBuffer() = default;
  // Allocates `size` zero bytes. A size above kMaxBufferBytes, or a heap that cannot supply it, is
  // reported as "<module>: Cannot allocate memory" on standard error and gives an empty buffer
  // (false).
  static TileBuffer Allocate(const char* module, uint64_t size);

  explicit operator bool() const { return data_ != nullptr; }
  uint8_t* data() { return data_.get(); }
  const uint8_t* data() const { return data_.get(); }
  uint32_t size() const { return size_; }

 private:
  struct Free {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t, Free> data_;
  uint32_t size_ = 0;
};
