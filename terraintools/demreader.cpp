#include "demreader.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "gridwrite.h"
#include "littleendian.h"
#include "regionwalk.h"
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

  // A header token (null at the end of the file): number characters are digits, ".", "D", "E", "+"
  // and "-"; a "D" becomes "E", and an exponent letter takes the three characters after it whatever
  // they are.
  const char* Header() {
    return Next(true, "error: processing: %s \n\n", "error: processing: %s \n");
  }

  // A profile token (null at the end of the file): digits, ".", "D", "+" and "-", without the
  // exponent rule.
  const char* Profile() {
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

  // The token, or null after the message for a file that ends before the token does.
  const char* Next(bool header, const char* eof_in_space, const char* eof_in_token) {
    while (std::isspace(current_)) {
      current_ = Read(eof_in_space);
      if (current_ == EOF) return nullptr;
    }
    length_ = 0;
    Append(static_cast<char>(current_));
    while (IsNumberChar(current_, header)) {
      current_ = Read(eof_in_token);
      if (current_ == EOF) return nullptr;
      if (!IsNumberChar(current_, header)) break;  // stays the current character
      const char c = current_ == 'D' ? 'E' : static_cast<char>(current_);
      Append(c);
      if (header && c == 'E') {
        for (int k = 0; k < 3; ++k) {
          const int e = Read(eof_in_token);
          if (e == EOF) return nullptr;
          Append(static_cast<char>(e));
        }
        current_ = ' ';
        break;
      }
    }
    token_[length_] = '\0';
    return token_;
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

bool ConvertInt(const char* token, int& value) { return std::sscanf(token, "%i", &value) == 1; }

bool PutValue(std::FILE* out, int32_t v) {
  uint8_t bytes[4];
  PutS32(bytes, v);
  return std::fwrite(bytes, 1, 4, out) == 4;
}

}  // namespace

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
  File in(std::fopen(filename, "r"));
  if (!in) return Fail("\n error:Could not open '%s'\n", filename);
  std::fprintf(stderr, "\n\nprocessing: %s \n", filename);

  for (int k = 0; k < kSkippedCharacters; ++k) {
    if (std::fgetc(in.get()) == EOF) return Fail("error processing: %s \n\n", filename);
  }

  DemTokenizer tokens(in.get(), filename);
  float corner[kCornerValues] = {};
  for (int t = 0; t <= kProfileCountToken; ++t) {
    const char* token = tokens.Header();
    if (token == nullptr) return false;
    if (t >= kFirstCornerToken && t < kFirstCornerToken + kCornerValues) {
      const int k = t - kFirstCornerToken;
      if (std::sscanf(token, "%f", &corner[k]) != 1) {
        std::fprintf(stderr, "error:dem_gnd_cood[%i] string = %s\n", k, token);
        return false;
      }
    } else if (t == kRowCountToken) {
      if (!ConvertInt(token, dem.DEM_a_row)) return Fail("error:DEM_a_row\n");
    } else if (t == kProfileCountToken) {
      if (!ConvertInt(token, dem.DEM_a_col)) return Fail("error:DEM_a_col\n");
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
  if (!CheckRegion("demimport", dem.long_00, dem.lat_00, dem.long_0c, dem.lat_0c, dem.long_r0,
                   dem.lat_r0, dem.long_rc, dem.lat_rc))
    return false;

  const std::string grid_name = DemGridFileName(dem.tile_x, dem.tile_y, kDemGridSize, kDemGridSize);
  File out(std::fopen(grid_name.c_str(), "wb"));
  if (!out) return Fail("\n error: Could not open '%s'\n", grid_name.c_str());

  tokens.SkipToRecordB(kRecordBStart);

  // A failure among the profiles leaves the grid file empty: nothing is written before the
  // last profile has been read.
  int last = 0;
  for (int p = 1; p <= dem.DEM_a_col; ++p) {
    int DEM_b_row = 0, DEM_b_col = 0;
    for (int t = 0; t <= kLastProfileToken; ++t) {
      const char* token = tokens.Profile();
      if (token == nullptr) return false;
      if (t == kProfileRowsToken && !ConvertInt(token, DEM_b_row))
        return Fail("error: DEM_b_row\n");
      if (t == kProfileColumnsToken && !ConvertInt(token, DEM_b_col))
        return Fail("error:DEM_b_col\n");
    }
    int j = 1;
    for (; j <= DEM_b_row; ++j) {
      int value;
      if (std::fscanf(in.get(), "%i", &value) != 1) {
        std::fprintf(stderr, "elev_dat\n");
        return false;
      }
      last = value;
      if (j <= kDemGridSize && p <= kDemGridSize) {
        dem.grid[static_cast<size_t>(j - 1) * kDemGridSize + (p - 1)] = value;
      }
    }
    std::fprintf(stderr, " \rreading file:[%i][%i] = %i", j, p, last);
  }

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
