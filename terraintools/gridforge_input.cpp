#include "gridforge_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

#include "fileopen.h"
#include "littleendian.h"
#include "pseudocolor.h"
#include "trn_error.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

constexpr int16_t kNoData = -500;  // stored as elevation 0
constexpr const char* kProgram = "gridforge";
constexpr const char* kCannotOpen = "\n error: Could not open '%s'\n";

// A temporary grid, created or emptied for writing. The names are fixed and the working directory
// may be shared, so a link planted under one of them is not followed (its target would be
// emptied), and nothing but a plain file of no other name is emptied; a pipe planted there fails
// the open instead of holding it until a reader comes. Null, errno telling why, when refused.
File CreateTemporary(const char* name) {
  const int fd = ::open(name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat st {};
  int refused = 0;
  if (::fstat(fd, &st) != 0) {
    refused = errno;
  } else if (!S_ISREG(st.st_mode)) {
    refused = EINVAL;  // what emptying it would say
  } else if (st.st_nlink != 1) {
    refused = EMLINK;  // the file has another name
  } else if (::ftruncate(fd, 0) != 0) {
    refused = errno;
  }
  std::FILE* file = refused == 0 ? ::fdopen(fd, "wb") : nullptr;
  if (file == nullptr) {
    if (refused == 0) refused = errno;
    ::close(fd);
    errno = refused;
  }
  return File(file);
}

// The size of `in` when it is a plain file too short for `count` values: nothing need be
// written for it.
std::optional<int64_t> ShortPlainFile(std::FILE* in, int64_t count) {
  struct stat st {};
  if (::fstat(::fileno(in), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size / 2 >= count)
    return std::nullopt;
  return int64_t{st.st_size};
}

bool Put32(std::FILE* out, uint32_t v) {
  uint8_t bytes[4];
  PutU32(bytes, v);
  return std::fwrite(bytes, 1, 4, out) == 4;
}

enum class Failure { kNone, kRead, kWriteElevation, kWriteColor };

// What failed, and the system's reason: 0 for an input that ends before the grid does, which
// then has given `read` bytes.
struct Outcome {
  Failure failure = Failure::kNone;
  int error = 0;
  int64_t read = 0;
};

Outcome Convert(std::FILE* in, std::FILE* elevations, std::FILE* colors, int64_t count) {
  // Never seeded, and new for each run: every run gives the same colours.
  PseudoRandom draws;
  for (int64_t i = 0; i < count; ++i) {
    uint8_t raw[2];
    if (const size_t got = std::fread(raw, 1, 2, in); got != 2)
      return {Failure::kRead, std::ferror(in) ? errno : 0, 2 * i + static_cast<int64_t>(got)};
    const int16_t v = GetS16(raw);
    const int32_t e = v == kNoData ? 0 : v;
    if (!Put32(elevations, static_cast<uint32_t>(e))) return {Failure::kWriteElevation, errno};
    if (!Put32(colors, ElevationPseudoColor(e, draws))) return {Failure::kWriteColor, errno};
  }
  return {};
}

// Closes the temporaries: buffered writes may fail only when they reach the file, or at its
// close.
Outcome Close(File& elevations, File& colors) {
  const bool elevations_closed = std::fclose(elevations.release()) == 0;
  const int elevations_error = errno;
  const bool colors_closed = std::fclose(colors.release()) == 0;
  if (!elevations_closed) return {Failure::kWriteElevation, elevations_error};
  if (!colors_closed) return {Failure::kWriteColor, errno};
  return {};
}

// The failure's line, then the system's reason where it gave one; for an input that ended
// early, the bytes that the grid of `count` values needs and those it had.
void Report(const Outcome& outcome, const char* file_name, int64_t count) {
  switch (outcome.failure) {
    case Failure::kNone:
      return;
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
  if (outcome.error != 0) {
    trn_system_error(kProgram, outcome.error);
  } else if (outcome.failure == Failure::kRead) {
    std::fprintf(stderr, "%s: needed %lld bytes, read %lld\n", kProgram,
                 static_cast<long long>(2 * count), static_cast<long long>(outcome.read));
  }
}

}  // namespace

void GridforgeMessage(const char* const* pieces, int count) {
  for (int i = 0; i < count; ++i) std::fputs(pieces[i], stderr);
  std::fputs("\n", stderr);
  std::fflush(stderr);
}

int RunInputPhase(const char* file_name, int ncols, int nrows) {
  File in(OpenInputFile(file_name, "rb"));
  if (!in) {
    ReportNotOpened(kProgram, kCannotOpen, file_name);
    return -1;
  }
  // A grid the input cannot back would be written up to the input's end and then removed.
  const int64_t count = (ncols < 1 || nrows < 1) ? 0 : int64_t{ncols} * nrows;
  if (const std::optional<int64_t> size = ShortPlainFile(in.get(), count)) {
    Report({Failure::kRead, 0, *size}, file_name, count);
    return -1;
  }
  File elevations = CreateTemporary(kTempElevations);
  if (!elevations) {
    ReportNotOpened(kProgram, kCannotOpen, kTempElevations);
    return -1;
  }
  File colors = CreateTemporary(kTempColors);
  if (!colors) {
    ReportNotOpened(kProgram, kCannotOpen, kTempColors);
    // The elevations' temporary is this run's own by now, and empty.
    elevations.reset();
    std::remove(kTempElevations);
    return -1;
  }
  Outcome outcome = Convert(in.get(), elevations.get(), colors.get(), count);
  in.reset();
  const Outcome closed = Close(elevations, colors);
  if (outcome.failure == Failure::kNone) outcome = closed;
  if (outcome.failure == Failure::kNone) return 0;
  Report(outcome, file_name, count);
  std::remove(kTempElevations);
  std::remove(kTempColors);
  return -1;
}
