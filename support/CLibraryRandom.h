// The C library's pseudo-random generator as the system's platform has it (srand and rand): a
// linear congruential generator on a 32-bit state, state x 214013 + 2531011, each draw being bits
// 16 to 30 of the new state (0 to 32767). Never seeded, it starts from 1.
#pragma once

#include <cstdint>

class CLibraryRandom {
 public:
  explicit CLibraryRandom(std::uint32_t seed = 1) : state_(seed) {}

  std::int32_t Next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<std::int32_t>((state_ >> 16) & 0x7FFFu);
  }

 private:
  std::uint32_t state_;
};
