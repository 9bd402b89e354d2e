#include "gridforge_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "littleendian.h"
#include "pseudocolor.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

constexpr int16_t kNoData = -500;  // stored as elevation 0

// A temporary grid, created or emptied for writing. The names are fixed and the working directory
// may be shared, so a link planted under one of them is not followed (its target would be
// emptied), and nothing but a plain file of no other name is emptied; a pipe planted there fails
// the open instead of holding it until a reader comes.
File CreateTemporary(const char* name) {
  const int fd = ::open(name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
      ::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) ::close(fd);
  return File(file);
}

// False when `in` is a plain file too short for `count` values: nothing need be written for it.
bool MayHold(std::FILE* in, int64_t count) {
  struct stat st {};
  return ::fstat(::fileno(in), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size / 2 >= count;
}

bool Put32(std::FILE* out, uint32_t v) {
  uint8_t bytes[4];
  PutU32(bytes, v);
  return std::fwrite(bytes, 1, 4, out) == 4;
}

enum class Failure { kNone, kRead, kWriteElevation, kWriteColor };

Failure Convert(std::FILE* in, std::FILE* elevations, std::FILE* colors, int64_t count) {
  // Never seeded, and new for each run: every run gives the same colours.
  PseudoRandom draws;
  for (int64_t i = 0; i < count; ++i) {
    uint8_t raw[2];
    if (std::fread(raw, 1, 2, in) != 2) return Failure::kRead;
    const int16_t v = GetS16(raw);
    const int32_t e = v == kNoData ? 0 : v;
    if (!Put32(elevations, static_cast<uint32_t>(e))) return Failure::kWriteElevation;
    if (!Put32(colors, ElevationPseudoColor(e, draws))) return Failure::kWriteColor;
  }
  return Failure::kNone;
}

// Closes the temporaries: buffered writes may fail only when they reach the file, or at its
// close.
Failure Close(File& elevations, File& colors) {
  const bool elevations_closed = std::fclose(elevations.release()) == 0;
  const bool colors_closed = std::fclose(colors.release()) == 0;
  if (!elevations_closed) return Failure::kWriteElevation;
  if (!colors_closed) return Failure::kWriteColor;
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
  // A grid the input cannot back would be written up to the input's end and then removed.
  const int64_t count = (ncols < 1 || nrows < 1) ? 0 : int64_t{ncols} * nrows;
  if (!MayHold(in.get(), count)) {
    GridforgeMessage("\n error: error encountered while reading data from: '", file_name, "'");
    return -1;
  }
  File elevations = CreateTemporary(kTempElevations);
  if (!elevations) {
    GridforgeMessage("\n error: Could not open '", kTempElevations, "'");
    return -1;
  }
  File colors = CreateTemporary(kTempColors);
  if (!colors) {
    GridforgeMessage("\n error: Could not open '", kTempColors, "'");
    return -1;
  }
  Failure failure = Convert(in.get(), elevations.get(), colors.get(), count);
  in.reset();
  const Failure closed = Close(elevations, colors);
  if (failure == Failure::kNone) failure = closed;
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
