#include "gridforge_input.h"

#include <cstdint>
#include <cstdio>
#include <memory>

#include "pseudocolor.h"
#include "tiledb.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

constexpr int16_t kNoData = -500;  // stored as elevation 0

bool Put32(std::FILE* out, uint32_t v) {
  uint8_t bytes[4];
  PutU32(bytes, v);
  return std::fwrite(bytes, 1, 4, out) == 4;
}

enum class Failure { kNone, kRead, kWriteElevation, kWriteColor };

Failure Convert(std::FILE* in, std::FILE* elevations, std::FILE* colors, int ncols, int nrows) {
  // A grid with a dimension below 1 holds no value.
  const int64_t count = (ncols < 1 || nrows < 1) ? 0 : int64_t{ncols} * nrows;
  for (int64_t i = 0; i < count; ++i) {
    uint8_t raw[2];
    if (std::fread(raw, 1, 2, in) != 2) return Failure::kRead;
    const int16_t v = GetS16(raw);
    const int32_t e = v == kNoData ? 0 : v;
    if (!Put32(elevations, static_cast<uint32_t>(e))) return Failure::kWriteElevation;
    if (!Put32(colors, ElevationPseudoColor(e))) return Failure::kWriteColor;
  }
  // Buffered writes may fail only when they reach the file.
  if (std::fflush(elevations) != 0) return Failure::kWriteElevation;
  if (std::fflush(colors) != 0) return Failure::kWriteColor;
  return Failure::kNone;
}

}  // namespace

void GridforgeMessage(const char* const* pieces, int count) {
  for (int i = 0; i < count; ++i) std::fputs(pieces[i], stderr);
  std::fputs("\n", stderr);
  std::fflush(stderr);
}

int RunInputPhase(const char* file_name, int ncols, int nrows) {
  File in(std::fopen(file_name, "rb"));
  if (!in) {
    GridforgeMessage("\n error: Could not open '", file_name, "'");
    return -1;
  }
  File elevations(std::fopen(kTempElevations, "wb"));
  if (!elevations) {
    GridforgeMessage("\n error: Could not open '", kTempElevations, "'");
    return -1;
  }
  File colors(std::fopen(kTempColors, "wb"));
  if (!colors) {
    GridforgeMessage("\n error: Could not open '", kTempColors, "'");
    return -1;
  }
  const Failure failure = Convert(in.get(), elevations.get(), colors.get(), ncols, nrows);
  in.reset();
  elevations.reset();
  colors.reset();
  switch (failure) {
    case Failure::kNone:
      return 0;
    case Failure::kRead:
      GridforgeMessage("\n error: error encountered while reading data from: '", file_name, "'");
      break;
    case Failure::kWriteElevation:
      GridforgeMessage("\n error: error encountered while writing data to: '", kTempElevations,
                       "'");
      break;
    case Failure::kWriteColor:
      GridforgeMessage("\n error: error encountered while writing color data to: '", kTempColors,
                       "'");
      break;
  }
  std::remove(kTempElevations);
  std::remove(kTempColors);
  return -1;
}
