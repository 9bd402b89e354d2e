#include "tilebuffer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

void* trn_zero_alloc(uint32_t count) {
  // On a cache line: the kernel copies a tile into or out of such a block two to three times
  // faster than into one that starts 16 bytes into a line, where the C library puts its large
  // blocks.
  const size_t rounded = (size_t{count} + kHeapAlignment - 1) / kHeapAlignment * kHeapAlignment;
  void* block = std::aligned_alloc(kHeapAlignment, rounded > 0 ? rounded : kHeapAlignment);
  if (block != nullptr) std::memset(block, 0, count);
  return block;
}

TileBuffer TileBuffer::Allocate(const char* module, uint64_t size) {
  TileBuffer buffer;
  if (size <= kMaxBufferBytes) {
    buffer.data_.reset(static_cast<uint8_t*>(trn_zero_alloc(static_cast<uint32_t>(size))));
  }
  if (!buffer.data_) {
    errno = ENOMEM;
    std::perror(module);
    return buffer;
  }
  buffer.size_ = static_cast<uint32_t>(size);
  return buffer;
}
