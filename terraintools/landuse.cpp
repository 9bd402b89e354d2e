#include "landuse.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "cmdline.h"
#include "fileopen.h"
#include "gridwrite.h"
#include "littleendian.h"
#include "tilefile.h"

namespace {

constexpr int kRecordLength = 80;
constexpr int kHeaderRecords = 5;
constexpr size_t kNameSize = 256;                           // names of at most 255 characters
constexpr double kDegreesToRadians = 0.017453286279273523;  // 1 / 57.2958

uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | g << 8 | b << 16 | 250u << 24; }

struct LandUseEntry {
  int code;
  uint32_t color;
};

const LandUseEntry kLandUse[] = {
    {1, Rgb(200, 200, 200)},  {11, Rgb(200, 200, 200)}, {71, Rgb(200, 200, 200)},
    {2, Rgb(0, 100, 0)},      {3, Rgb(120, 125, 100)},  {4, Rgb(0, 100, 50)},
    {5, Rgb(0, 0, 200)},      {6, Rgb(50, 100, 0)},     {7, Rgb(150, 150, 100)},
    {8, Rgb(150, 100, 150)},  {9, Rgb(250, 250, 250)},  {92, Rgb(250, 250, 250)},
    {12, Rgb(175, 175, 175)}, {13, Rgb(150, 150, 150)}, {14, Rgb(125, 125, 125)},
    {15, Rgb(100, 100, 100)}, {16, Rgb(75, 75, 75)},    {17, Rgb(50, 50, 50)},
    {21, Rgb(25, 125, 25)},   {22, Rgb(50, 150, 50)},   {23, Rgb(75, 175, 75)},
    {24, Rgb(100, 200, 100)}, {31, Rgb(220, 210, 155)}, {32, Rgb(145, 140, 105)},
    {33, Rgb(160, 150, 120)}, {41, Rgb(50, 140, 100)},  {42, Rgb(100, 120, 90)},
    {43, Rgb(45, 120, 30)},   {51, Rgb(50, 50, 200)},   {52, Rgb(120, 155, 235)},
    {53, Rgb(80, 125, 230)},  {54, Rgb(50, 180, 240)},  {61, Rgb(150, 200, 205)},
    {62, Rgb(150, 200, 175)}, {72, Rgb(225, 225, 225)}, {73, Rgb(210, 225, 210)},
    {74, Rgb(225, 190, 150)}, {75, Rgb(210, 165, 110)}, {76, Rgb(190, 225, 125)},
    {77, Rgb(175, 175, 125)}, {81, Rgb(175, 125, 175)}, {82, Rgb(200, 150, 200)},
    {83, Rgb(225, 175, 225)}, {84, Rgb(225, 175, 225)}, {85, Rgb(225, 175, 225)},
};
const uint32_t kDefaultColor = Rgb(208, 202, 121);

// Prints a failure's message: no grid, for the reader to return.
std::nullopt_t Fail(const char* format, const char* name) {
  std::fprintf(stderr, format, name);
  return std::nullopt;
}

// Reports a file that cannot be opened, with the system's reason: no grid.
std::nullopt_t NotOpened(const char* line, const char* name) {
  ReportNotOpened("landimport", line, name);
  return std::nullopt;
}

// Field of a record at character positions first..last (from 1), converted as atoi does.
int Field(const char* record, int first, int last) {
  char text[kRecordLength + 1] = {};
  std::memcpy(text, record + first - 1, static_cast<size_t>(last - first + 1));
  return ArgToInt(text);
}

// Reads one record; returns how many of its characters the file still had. Every byte is data:
// only the end of the file ends a record early.
int ReadRecord(std::FILE* in, char* record) {
  return static_cast<int>(std::fread(record, 1, kRecordLength, in));
}

}  // namespace

uint32_t LandUseColor(int code) {
  for (const LandUseEntry& entry : kLandUse)
    if (entry.code == code) return entry.color;
  return kDefaultColor;
}

void CornerTransform::Apply(double lon, double lat, double* out_lon, double* out_lat) const {
  const double a = rot_deg * kDegreesToRadians;
  const double dx = lon - cx;
  const double dy = lat - cy;
  *out_lon = cx + trans_x + size_x * (std::cos(a) * dx + std::sin(a) * dy);
  *out_lat = cy + trans_y + size_y * (std::cos(a) * dy - std::sin(a) * dx);
}

std::optional<CtgGrid> ReadCtg(const char* name) {
  if (std::strlen(name) >= kNameSize)
    return Fail("\n error: file name longer than 255 characters: '%s'\n", name);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(OpenInputFile(name, "rb"), std::fclose);
  if (!in) return NotOpened("\n error:Could not open '%s'\n", name);
  std::fprintf(stderr, "\n\nprocessing: %s \n", name);

  CtgGrid grid;
  int cell_size = 0, x0 = 0, y0 = 0;
  std::vector<uint8_t>& colors = grid.colors;
  char record[kRecordLength];
  for (int r = 1; r <= kHeaderRecords; ++r) {
    if (ReadRecord(in.get(), record) != kRecordLength)
      return Fail("error processing: %s \n\n", name);
    if (r == 1) {
      grid.rows = Field(record, 1, 10);
      grid.columns = Field(record, 21, 30);
      cell_size = Field(record, 36, 40);
      if (grid.rows < 1 || grid.columns < 1 || cell_size < 1)
        return Fail(
            "\n error: '%s' has no usable grid (row count, column count and cell size must be "
            "at least 1)\n",
            name);
      // The header alone sizes the grid file and the colour pass's buffer, whatever the file
      // holds: a grid larger than any land-use file has is refused before either is made.
      const uint64_t cells = uint64_t(grid.rows) * uint64_t(grid.columns);
      if (cells > kMaxCtgGridCells) {
        std::fprintf(stderr,
                     "\n error: the grid of '%s' (%d rows of %d cells) is larger than %u cells\n",
                     name, grid.rows, grid.columns, kMaxCtgGridCells);
        return std::nullopt;
      }
      const uint64_t bytes = 4 * cells;
      try {
        colors.assign(bytes, 0);
      } catch (const std::bad_alloc&) {
        return Fail("\n error: the grid of '%s' does not fit into memory\n", name);
      }
    } else if (r == 3) {
      grid.south = Field(record, 1, 10);
      grid.west = Field(record, 11, 20);
      grid.north = Field(record, 61, 70);
      grid.east = Field(record, 71, 80);
    } else if (r == 4) {
      x0 = Field(record, 41, 50);
      y0 = Field(record, 51, 60);
    }
  }

  std::fprintf(stderr, "\n Reading and Converting Land Use \n\n");
  for (;;) {
    const int got = ReadRecord(in.get(), record);
    for (int missing = got; missing < kRecordLength; ++missing)
      std::fprintf(stderr, "error processing: %s \n\n", name);
    if (got != kRecordLength) break;
    const int64_t x = Field(record, 4, 11);
    const int64_t y = Field(record, 12, 19);
    const uint32_t color = LandUseColor(Field(record, 21, 30));
    const int64_t h = cell_size / 2;
    const int64_t k = (y0 + h - y) / cell_size;
    const int64_t m = (x + h - x0) / cell_size;
    // A cell outside the grid is not stored.
    if (k < 1 || k > grid.rows || m < 1 || m > grid.columns) continue;
    uint8_t* cell = &colors[static_cast<size_t>(((grid.rows - k) * grid.columns + m - 1) * 4)];
    if (GetU32(cell) == 0) ++grid.cells;  // every colour has alpha 250: the cell's first record
    PutU32(cell, color);
    ++grid.count;
  }

  char grid_name[kNameSize];
  if (std::snprintf(grid_name, sizeof grid_name, "%s.%04dx%04d", name, grid.rows, grid.columns) >=
      static_cast<int>(sizeof grid_name))
    return Fail("\n error: grid file name of '%s' longer than 255 characters\n", name);
  grid.grid_name = grid_name;
  return grid;
}

bool WriteCtgGrid(const CtgGrid& grid) {
  const char* grid_name = grid.grid_name.c_str();
  TileFile out = TileFile::Open(grid_name, TileFile::Access::kCreate);
  if (!out.is_open()) {
    NotOpened("\n error: Could not open '%s'\n", grid_name);
    return false;
  }
  std::fprintf(stderr, "\rwriting file:[%s] \n\n", grid_name);
  int error = out.TryWriteAt(grid.colors.data(), grid.colors.size(), 0) ? 0 : errno;
  if (out.TryClose() != 0 && error == 0) error = errno;
  if (error != 0) {
    AbandonGrid(grid_name, error);
    return false;
  }

  std::fprintf(stderr, "\n\n Conversion Saved to file: %s \n", grid_name);
  std::fprintf(stderr, "\n");
  std::fprintf(stderr, " Count = %i \n", grid.count);
  return true;
}
