#include "demreader.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "corners.h"
#include "demnumbers.h"
#include "fileopen.h"
#include "gridwrite.h"
#include "littleendian.h"
#include "preflight.h"
#include "regionwalk.h"
#include "support/PrintableText.h"
#include "support/Truncate.h"
#include "tilenames.h"

DemState dem;

namespace {

// DEM records are blocks of 1024 characters; record B, the first profile, follows record A.
constexpr long kRecordBStart = 1024;
constexpr size_t kTokenSize = 256;  // room for 255 characters and the NUL

// Record A: the characters before its first token read, the tokens of the eight corner values
// and of the row and profile counts, and the last token read.
constexpr int kSkippedCharacters = 143;
constexpr int kFirstCornerToken = 22;
constexpr int kCornerValues = 8;
constexpr int kRowCountToken = 36;
constexpr int kProfileCountToken = 37;
// A profile's header: the tokens of its elevation count and its column count, and its last token.
constexpr int kProfileRowsToken = 2;
constexpr int kProfileColumnsToken = 3;
constexpr int kLastProfileToken = 8;
// Corners are given in arc-seconds.
constexpr double kDegreesPerArcSecond = 0.0002777777777777778;
// 1200 posts a degree times 8192: a position in 1/8192 post, whose bit 23 up is the tile.
constexpr int64_t kEighthPostsPerDegree = 9830400;

// Character-by-character tokenizer over the DEM file, keeping the current character between
// tokens as the DEM format's fixed fields need it.
class DemTokenizer {
 public:
  DemTokenizer(std::FILE* file, const char* name) : file_(file), name_(name) {}

  // A header token (none at the end of the file): number characters are digits, ".", "D", "E",
  // "+" and "-"; a "D" becomes "E", and an exponent letter takes the three characters after it
  // whatever they are. The text is followed by a NUL for the conversions, and may hold others.
  std::optional<std::string_view> Header() {
    return Next(true, "error: processing: %s \n\n", "error: processing: %s \n");
  }

  // A profile token (none at the end of the file): digits, ".", "D", "+" and "-", without the
  // exponent rule.
  std::optional<std::string_view> Profile() {
    return Next(false, "error: processing: %s \n\n", "error: processing: %s \n\n");
  }

  // Goes on to record B, which starts at character `record_b` where the records are blocks of
  // that many characters, or after record A's line break where the records are lines. Record A
  // may hold further fields after the last token read (contour intervals, dates, datums,
  // edition), which are passed over.
  void SkipToRecordB(long record_b) {
    if (current_ != '\n') {
      for (long at = std::ftell(file_); at >= 0 && at < record_b; ++at) {
        const int c = std::fgetc(file_);
        if (c == EOF || c == '\n') break;
      }
    }
    current_ = ' ';
  }

 private:
  static bool IsNumberChar(int c, bool header) {
    return std::isdigit(c) || c == '.' || c == 'D' || c == '+' || c == '-' || (header && c == 'E');
  }

  // The next character, or EOF after `eof_message`.
  int Read(const char* eof_message) {
    const int c = std::fgetc(file_);
    if (c == EOF) std::fprintf(stderr, eof_message, name_);
    return c;
  }

  void Append(char c) {
    if (length_ + 1 < kTokenSize) token_[length_++] = c;  // longer tokens are cut
  }

  // The token, or none after the message for a file that ends before the token does.
  std::optional<std::string_view> Next(bool header, const char* eof_in_space,
                                       const char* eof_in_token) {
    while (std::isspace(current_)) {
      current_ = Read(eof_in_space);
      if (current_ == EOF) return std::nullopt;
    }
    length_ = 0;
    Append(static_cast<char>(current_));
    while (IsNumberChar(current_, header)) {
      current_ = Read(eof_in_token);
      if (current_ == EOF) return std::nullopt;
      if (!IsNumberChar(current_, header)) break;  // stays the current character
      const char c = current_ == 'D' ? 'E' : static_cast<char>(current_);
      Append(c);
      if (header && c == 'E') {
        for (int k = 0; k < 3; ++k) {
          const int e = Read(eof_in_token);
          if (e == EOF) return std::nullopt;
          Append(static_cast<char>(e));
        }
        current_ = ' ';
        break;
      }
    }
    token_[length_] = '\0';
    return std::string_view(token_, length_);
  }

  std::FILE* file_;
  const char* name_;
  int current_ = ' ';
  char token_[kTokenSize] = {};
  size_t length_ = 0;
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Prints a failure's message: false, for the reader to return.
bool Fail(const char* format, const char* text = "") {
  std::fprintf(stderr, format, text);
  return false;
}

// Reports a file that cannot be opened, with the system's reason: false.
bool NotOpened(const char* line, const char* name) {
  ReportNotOpened("demimport", line, name);
  return false;
}

// "\n error: '<file>' <what> '<text>' is out of range (-2147483648..2147483647)\n": false.
bool OutOfRange(const char* filename, const std::string& what, std::string_view text) {
  std::fprintf(stderr, "\n error: '%s' %s '%s' is out of range (%d..%d)\n", filename, what.c_str(),
               PrintableText(text).c_str(), INT_MIN, INT_MAX);
  return false;
}

// Converts a count of record A or of a profile's header (`what`) into `value`: false after
// `no_number`, the message of a token that is no number, or after the out-of-range line.
bool ConvertCount(std::string_view token, int& value, const char* no_number, const char* filename,
                  const std::string& what) {
  switch (ConvertInt(token.data(), value)) {
    case Conversion::kValue:
      return true;
    case Conversion::kNoNumber:
      return Fail(no_number);
    case Conversion::kOutOfRange:
      break;
  }
  return OutOfRange(filename, what, token);
}

bool PutValue(std::FILE* out, int32_t v) {
  uint8_t bytes[4];
  PutS32(bytes, v);
  return std::fwrite(bytes, 1, 4, out) == 4;
}

// Reads the profiles into the grid: false after the message of a profile header whose count
// does not convert or lies out of range, after "elev_dat" for an elevation that cannot be read,
// or after the line for one out of range.
bool ReadProfiles(std::FILE* in, DemTokenizer& tokens, const char* filename) {
  tokens.SkipToRecordB(kRecordBStart);
  int last = 0;
  std::string text;
  for (int p = 1; p <= dem.DEM_a_col; ++p) {
    const std::string profile = "profile " + std::to_string(p);
    int DEM_b_row = 0, DEM_b_col = 0;
    for (int t = 0; t <= kLastProfileToken; ++t) {
      const std::optional<std::string_view> token = tokens.Profile();
      if (!token) return false;
      if (t == kProfileRowsToken &&
          !ConvertCount(*token, DEM_b_row, "error: DEM_b_row\n", filename, profile + " DEM_b_row"))
        return false;
      if (t == kProfileColumnsToken &&
          !ConvertCount(*token, DEM_b_col, "error:DEM_b_col\n", filename, profile + " DEM_b_col"))
        return false;
    }
    int j = 1;
    for (; j <= DEM_b_row; ++j) {
      int value = 0;
      const Conversion read =
          ReadIntText(in, text) ? ConvertInt(text.c_str(), value) : Conversion::kNoNumber;
      if (read == Conversion::kNoNumber) return Fail("elev_dat\n");
      if (read == Conversion::kOutOfRange)
        return OutOfRange(filename, profile + " elevation " + std::to_string(j), text);
      last = value;
      if (j <= kDemGridSize && p <= kDemGridSize) {
        dem.grid[static_cast<size_t>(j - 1) * kDemGridSize + (p - 1)] = value;
      }
    }
    std::fprintf(stderr, " \rreading file:[%i][%i] = %i", j, p, last);
  }
  return true;
}

// Whether the DEM's corners lie on the globe and span no more than a DEM covers (false after
// the line that says why): before the first tile, a DEM of a few bytes whose corners claim a
// large region would have the elevation pass write tiles until the disk is full.
bool CheckDemRegion(const char* filename) {
  const Corners corners = DemCorners();
  if (!corners.Check("demimport")) return false;
  const Region region = corners.Walked();
  if (region.lon_max - region.lon_min <= kMaxDemSpanDegrees &&
      region.lat_max - region.lat_min <= kMaxDemSpanDegrees)
    return true;
  char reason[64];
  std::snprintf(reason, sizeof reason, "more than the %g x %g of a USGS DEM", kMaxDemSpanDegrees,
                kMaxDemSpanDegrees);
  corners.RefuseSpan("demimport", filename, reason);
  return false;
}

}  // namespace

Corners DemCorners() {
  return Corners{dem.long_00, dem.lat_00, dem.long_0c, dem.lat_0c,
                 dem.long_r0, dem.lat_r0, dem.long_rc, dem.lat_rc};
}

int DemTileNumber(double degrees, int offset) {
  const int64_t whole = TruncateToInt32(degrees);
  // Formed in 64 bits: from 39 degrees east the product no longer fits 32 bits.
  const int64_t v = (whole + offset) * kEighthPostsPerDegree;
  return static_cast<int>((v >> 23) + ((v >> 20) & 1));
}

std::string DemGridFileName(int tx, int ty, int ncols, int nrows) {
  return GridFileName(ElevationTileName(tx, ty), ncols, nrows);
}

bool ReadDem(const char* filename) {
  dem = DemState{};
  File in(OpenInputFile(filename, "r"));
  if (!in) return NotOpened("\n error:Could not open '%s'\n", filename);
  std::fprintf(stderr, "\n\nprocessing: %s \n", filename);

  for (int k = 0; k < kSkippedCharacters; ++k) {
    if (std::fgetc(in.get()) == EOF) return Fail("error processing: %s \n\n", filename);
  }

  DemTokenizer tokens(in.get(), filename);
  float corner[kCornerValues] = {};
  for (int t = 0; t <= kProfileCountToken; ++t) {
    const std::optional<std::string_view> token = tokens.Header();
    if (!token) return false;
    if (t >= kFirstCornerToken && t < kFirstCornerToken + kCornerValues) {
      const int k = t - kFirstCornerToken;
      if (!ConvertFloat(token->data(), corner[k])) {
        std::fprintf(stderr, "error:dem_gnd_cood[%i] string = %s\n", k,
                     PrintableText(*token).c_str());
        return false;
      }
    } else if (t == kRowCountToken) {
      if (!ConvertCount(*token, dem.DEM_a_row, "error:DEM_a_row\n", filename, "DEM_a_row"))
        return false;
    } else if (t == kProfileCountToken) {
      if (!ConvertCount(*token, dem.DEM_a_col, "error:DEM_a_col\n", filename, "DEM_a_col"))
        return false;
    }
  }
  // Without a profile the grid would be all zeroes, and the region's elevations with it.
  if (dem.DEM_a_col < 1) {
    std::fprintf(stderr, "\n error: '%s' holds no profile (DEM_a_col = %d)\n", filename,
                 dem.DEM_a_col);
    return false;
  }

  double* const corners[kCornerValues] = {&dem.long_00, &dem.lat_00, &dem.long_r0, &dem.lat_r0,
                                          &dem.long_rc, &dem.lat_rc, &dem.long_0c, &dem.lat_0c};
  for (int k = 0; k < kCornerValues; ++k) *corners[k] = corner[k] * kDegreesPerArcSecond;
  dem.tile_x = DemTileNumber(dem.long_00, 180);
  dem.tile_y = DemTileNumber(dem.lat_00, 90);
  if (!CheckDemRegion(filename)) return false;
  // Nothing is created before the whole DEM has been read: a DEM that fails part-way leaves no
  // grid file (and an earlier run's grid file of the same name as it was).
  if (!ReadProfiles(in.get(), tokens, filename)) return false;

  const std::string grid_name = DemGridFileName(dem.tile_x, dem.tile_y, kDemGridSize, kDemGridSize);
  if (!CheckDemimportFiles(filename, DemCorners(), grid_name)) return false;
  File out(std::fopen(grid_name.c_str(), "wb"));
  if (!out) return NotOpened("\n error: Could not open '%s'\n", grid_name.c_str());

  int error = 0;
  for (int r = 0; r < kDemGridSize; ++r) {
    for (int c = 0; c < kDemGridSize; ++c) {
      if (!PutValue(out.get(), dem.grid[static_cast<size_t>(r) * kDemGridSize + c]) && error == 0)
        error = errno != 0 ? errno : EIO;
    }
    std::fprintf(stderr, "\rwriting file:[%i][%i]", kDemGridSize, kDemGridSize - 1 - r);
  }
  if (std::fclose(out.release()) != 0 && error == 0) error = errno;
  if (error != 0) {
    AbandonGrid(grid_name.c_str(), error);
    return false;
  }
  std::fprintf(stderr, "\n\n Conversion Saved to file: %s \n", grid_name.c_str());
  in.reset();
  std::fprintf(stderr, "\n");
  return true;
}
