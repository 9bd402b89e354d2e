// landimport: the land-use colours, the corner transform, and runs on CTG files written here
// that GDAL's CTG reader reads with the same codes at the same cells.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "landuse.h"
#include "program_run.h"
#include "programs.h"
#include "tiledb.h"
#include "tilefile_test_hook.h"

namespace {

namespace fs = std::filesystem;

uint32_t Rgba(int r, int g, int b) {
  return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16 | 250u << 24;
}

// One CTG data cell: its centre and its land-use code.
struct Cell {
  int x, y, code;
};

// A CTG file of 80-character records: five header records, then one record per cell.
struct Ctg {
  int rows = 4, columns = 6, cell_size = 200, x0 = 500000, y0 = 5320000, zone = 10;
  int south = 480000, west = 1230100, north = 480100, east = 1230000;  // 0.0001 degree
  std::vector<Cell> cells;

  static void Put(std::string& record, int first, int last, long value) {
    const std::string text = std::to_string(value);
    const size_t width = size_t(last - first + 1);
    ASSERT_LE(text.size(), width);
    record.replace(size_t(first - 1) + width - text.size(), text.size(), text);
  }

  // The cell centre of grid row k (1 = northern-most) and column m (1 = western-most).
  Cell At(int k, int m, int code) const {
    return {x0 + (m - 1) * cell_size + cell_size / 2, y0 - (k - 1) * cell_size - cell_size / 2,
            code};
  }

  void Fill(const std::vector<int>& codes_north_first) {
    for (int k = 1; k <= rows; ++k)
      for (int m = 1; m <= columns; ++m)
        cells.push_back(At(k, m, codes_north_first[size_t((k - 1) * columns + m - 1)]));
  }

  std::string Text() const {
    std::string r1(80, ' '), r2(80, ' '), r3(80, ' '), r4(80, ' '), r5(80, ' ');
    Put(r1, 1, 10, rows);
    Put(r1, 21, 30, columns);
    Put(r1, 36, 40, cell_size);
    Put(r1, 51, 55, zone);
    Put(r2, 1, 5, 1);
    Put(r2, 6, 10, 1);
    if (columns < 100000 && rows < 100000) {  // record 2 is not read; its fields are narrower
      Put(r2, 11, 15, columns);
      Put(r2, 16, 20, rows);
    }
    Put(r3, 1, 10, south);
    Put(r3, 11, 20, west);
    Put(r3, 61, 70, north);
    Put(r3, 71, 80, east);
    Put(r4, 41, 50, x0);
    Put(r4, 51, 60, y0);
    std::string text = r1 + r2 + r3 + r4 + r5;
    for (const Cell& c : cells) {
      std::string r(80, ' ');
      Put(r, 1, 3, zone);
      Put(r, 4, 11, c.x);
      Put(r, 12, 19, c.y);
      Put(r, 21, 30, c.code);
      text += r;
    }
    return text;
  }

  void Write(const std::string& name) const {
    const std::string text = Text();
    WriteFileBytes(name, std::vector<uint8_t>(text.begin(), text.end()));
  }
};

std::vector<uint32_t> ReadGrid(const std::string& name) {
  const auto bytes = ReadFileBytes(name);
  std::vector<uint32_t> values(bytes.size() / 4);
  for (size_t i = 0; i < values.size(); ++i) values[i] = GetU32(&bytes[i * 4]);
  return values;
}

// The codes GDAL's CTG reader finds in band 1, northern row first.
std::vector<int> GdalCodes(const std::string& name) {
  const CommandRun gdal = RunCommand("gdal_translate -q -b 1 -of AAIGrid " + name + " gdal.asc");
  EXPECT_EQ(gdal.status, 0) << gdal.err;
  std::istringstream in(ReadFile("gdal.asc"));
  std::string key, value;
  for (int i = 0; i < 6; ++i) in >> key >> value;  // ncols .. NODATA_value
  std::vector<int> codes;
  for (int code; in >> code;) codes.push_back(code);
  return codes;
}

TEST(LandUseColor, TableAndDefault) {
  EXPECT_EQ(LandUseColor(1), Rgba(200, 200, 200));
  EXPECT_EQ(LandUseColor(71), Rgba(200, 200, 200));
  EXPECT_EQ(LandUseColor(5), Rgba(0, 0, 200));
  EXPECT_EQ(LandUseColor(92), Rgba(250, 250, 250));
  EXPECT_EQ(LandUseColor(54), Rgba(50, 180, 240));
  for (int code : {83, 84, 85}) EXPECT_EQ(LandUseColor(code), Rgba(225, 175, 225));
  for (int code : {0, 10, 18, 91, 93, -7, 1000}) EXPECT_EQ(LandUseColor(code), Rgba(208, 202, 121));
}

TEST(CornerTransform, RotationShiftAndScaleAboutTheCentre) {
  // A box 2 degrees wide and 1 high around (0, 0).
  double lon, lat;
  const CornerTransform turn{0, 0, 90, 0, 0, 1, 1};
  turn.Apply(-1, -0.5, &lon, &lat);
  EXPECT_NEAR(lon, -0.5, 1e-5);
  EXPECT_NEAR(lat, 1.0, 1e-5);
  const CornerTransform stretch{0, 0, 0, 0.5, 0, 2, 1};
  stretch.Apply(-1, -0.5, &lon, &lat);
  EXPECT_DOUBLE_EQ(lon, -1.5);
  EXPECT_DOUBLE_EQ(lat, -0.5);
  const CornerTransform identity{10, 20, 0, 0, 0, 1, 1};
  identity.Apply(9, 19.5, &lon, &lat);
  EXPECT_DOUBLE_EQ(lon, 9);
  EXPECT_DOUBLE_EQ(lat, 19.5);
}

class LandimportTest : public TerrainDirTest {
 protected:
  ProgramRun Run(const std::vector<std::string>& args) { return RunProgram(LANDIMPORT_PATH, args); }
  ProgramRun RunPlain(const std::string& ctg) { return Run({ctg, "0", "0", "0", "1", "1"}); }
};

TEST_F(LandimportTest, CodesLandAtTheCellsGdalReadsThem) {
  Ctg ctg;
  ctg.Fill({17, 11, 21, 42, 51, 75, 91, 0,  17, 11, 21, 42,
            51, 75, 91, 0,  17, 11, 21, 42, 51, 75, 91, 5});
  ctg.Write("land.ctg");
  const std::vector<int> codes = GdalCodes("land.ctg");
  ASSERT_EQ(codes.size(), 24u);

  const ProgramRun run = RunPlain("land.ctg");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<uint32_t> grid = ReadGrid("land.ctg.0004x0006");
  ASSERT_EQ(grid.size(), 24u);
  for (int i = 0; i < 4; ++i)  // grid row 0 is the southern-most, GDAL's last line
    for (int j = 0; j < 6; ++j)
      EXPECT_EQ(grid[size_t(i * 6 + j)], LandUseColor(codes[size_t((3 - i) * 6 + j)]))
          << i << "," << j;
  EXPECT_TRUE(Contains(run.err, "\n\nprocessing: land.ctg \n"));
  EXPECT_TRUE(Contains(run.err, "\rwriting file:[land.ctg.0004x0006] \n\n"));
  EXPECT_TRUE(Contains(run.err, " Count = 24 \n"));
  EXPECT_TRUE(Contains(run.err,
                       "long_min = -123.010000 \nlong_max = -123.000000 \n"
                       "lat_min = 48.000000 \nlat_max = 48.010000 \n"));
  EXPECT_TRUE(Contains(run.out, "\nPhase 2: Processing Colors\n\n"));
  EXPECT_EQ(CountOf(run.err, "error processing"), 80);  // the end of the file, as always

  // The colour pass coloured the tile under the grid: the south-west post takes cell (0, 0).
  const auto tile = ReadFileBytes(ColorTileName(66, 161));
  ASSERT_EQ(tile.size(), kColorTileBytes);
  const int x = int(std::ceil((-123.01 + 180) * 1200 - 0.01)) & kTileMask;
  const int y = int(std::ceil((48.0 + 90) * 1200 - 0.01)) & kTileMask;
  // (The interpolation may land a hair short of the cell and truncate one step lower.)
  const uint8_t* post = PostAt(tile.data(), x, y);
  for (int c = 0; c < 4; ++c) EXPECT_NEAR(post[c], int(grid[0] >> (8 * c) & 0xFF), 1) << c;
}

TEST_F(LandimportTest, ShortFilesAndCellsOutsideTheGrid) {
  // No data record: an all-zero grid, the end-of-file line 80 times, count 0.
  Ctg empty;
  empty.Write("empty.ctg");
  ProgramRun run = RunPlain("empty.ctg");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadGrid("empty.ctg.0004x0006"), std::vector<uint32_t>(24, 0));
  EXPECT_EQ(CountOf(run.err, "error processing: empty.ctg \n\n"), 80);
  EXPECT_TRUE(Contains(run.err, " Count = 0 \n"));

  // A last record lacking its final 30 characters is not stored; cells outside the grid (those
  // west or east of a row would wrap onto the cells of (1, 1) and (4, 6)) and bytes 255 among
  // the ignored positions (header record 5, a data record) change nothing else.
  Ctg cut;
  cut.cells = {cut.At(1, 1, 5),  cut.At(9, 1, 5), cut.At(1, 99, 5), cut.At(-3, 2, 5),
               cut.At(4, 6, 21), cut.At(2, 7, 9), cut.At(3, 0, 9),  cut.At(2, 2, 5)};
  std::string text = cut.Text();
  text[4 * 80 + 10] = '\xff';
  text[5 * 80 + 79] = '\xff';
  text.resize(text.size() - 30);
  WriteFileBytes("cut.ctg", std::vector<uint8_t>(text.begin(), text.end()));
  run = RunPlain("cut.ctg");
  EXPECT_EQ(run.status, 0);
  std::vector<uint32_t> expected(24, 0);
  expected[size_t(3 * 6 + 0)] = LandUseColor(5);  // row k = 1 is grid row 3
  expected[size_t(0 * 6 + 5)] = LandUseColor(21);
  EXPECT_EQ(ReadGrid("cut.ctg.0004x0006"), expected);
  EXPECT_EQ(CountOf(run.err, "error processing: cut.ctg \n\n"), 30);
  EXPECT_TRUE(Contains(run.err, " Count = 2 \n"));
}

TEST_F(LandimportTest, CellSizeTwentyFromEastingThousand) {
  Ctg ctg;
  ctg.rows = 1;
  ctg.columns = 3;
  ctg.cell_size = 20;
  ctg.x0 = 1000;
  ctg.y0 = 2000;
  ctg.cells = {{1010, 1990, 5}, {1030, 1990, 21}};
  ctg.Write("small.ctg");
  ASSERT_EQ(RunPlain("small.ctg").status, 0);
  EXPECT_EQ(ReadGrid("small.ctg.0001x0003"),
            (std::vector<uint32_t>{LandUseColor(5), LandUseColor(21), 0}));
}

TEST_F(LandimportTest, TransformedCornersArePrinted) {
  Ctg ctg;
  ctg.south = 480000, ctg.north = 490000, ctg.west = 1240000, ctg.east = 1220000;
  ctg.Fill(std::vector<int>(24, 21));  // as many cells as the 10 tiles of the region, and more
  ctg.Write("box.ctg");
  const ProgramRun run = Run({"box.ctg", "0", "0.5", "0", "2", "1"});
  EXPECT_EQ(run.status, 0) << run.err;
  // Centre (-123, 48.5): SizeX 2 doubles the longitude offsets, TransX moves them east.
  EXPECT_TRUE(Contains(run.err,
                       "long_00 = -124.500000 \nlat_00 = 48.000000 \n"
                       "long_0c = -120.500000 \nlat_0c = 48.000000 \n"
                       "long_r0 = -124.500000 \nlat_r0 = 49.000000 \n"
                       "long_rc = -120.500000 \nlat_rc = 49.000000 \n"))
      << run.err;
}

TEST_F(LandimportTest, RefusedInputs) {
  for (int count : {5, 7}) {
    const ProgramRun run = Run(std::vector<std::string>(size_t(count), "x"));
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "\n usage: " + std::string(LANDIMPORT_PATH) +
                           " ctg_filename Rot(deg) TransX TransY SizeX SizeY \n");
  }
  ProgramRun run = RunPlain("missing.ctg");
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.err,
            "\n error:Could not open 'missing.ctg'\nlandimport: No such file or directory\n");

  WriteFileBytes("header.ctg", std::vector<uint8_t>(50, ' '));
  run = RunPlain("header.ctg");
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(CountOf(run.err, "error processing: header.ctg \n\n"), 1);

  for (const auto& [rows, columns, size] : {std::tuple{0, 6, 200}, {4, -1, 200}, {4, 6, 0}}) {
    Ctg bad;
    bad.rows = rows, bad.columns = columns, bad.cell_size = size;
    bad.Write("bad.ctg");
    run = RunPlain("bad.ctg");
    EXPECT_EQ(run.status, 255);
    EXPECT_TRUE(Contains(run.err, "no usable grid")) << run.err;
    EXPECT_FALSE(fs::exists("bad.ctg.0000x0006"));
  }

  // A header whose grid has more cells than any land-use file is refused before the grid is
  // allocated or written; the limit itself is taken.
  for (const auto& [rows, columns] :
       {std::pair{99999, 99999}, {32768, 32767}, {4, 77777777}, {4097, 4096}}) {
    Ctg huge;
    huge.rows = rows, huge.columns = columns;
    huge.Write("huge.ctg");
    run = RunPlain("huge.ctg");
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "\n\nprocessing: huge.ctg \n\n error: the grid of 'huge.ctg' (" +
                           std::to_string(rows) + " rows of " + std::to_string(columns) +
                           " cells) is larger than 16777216 cells\n");
    EXPECT_FALSE(fs::exists(GridFileName("huge.ctg", rows, columns)));
  }
  Ctg limit;
  limit.rows = 4096, limit.columns = 4096;
  limit.Write("limit.ctg");
  EXPECT_EQ(RunPlain("limit.ctg").status, 0);
  EXPECT_EQ(fs::file_size("limit.ctg.4096x4096"), uint64_t{4} * 4096 * 4096);

  const std::string long_name(250, 'n');
  Ctg().Write(long_name);
  run = RunPlain(long_name);
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(Contains(run.err, "longer than 255 characters")) << run.err;

  // A grid file that takes no byte ends the run before the colour pass touches a tile.
  Ctg().Write("full.ctg");
  fs::create_symlink("/dev/full", "full.ctg.0004x0006");
  run = RunPlain("full.ctg");
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(Contains(run.err,
                       "\n error: Could not write 'full.ctg.0004x0006': No space left on device\n"))
      << run.err;
  EXPECT_FALSE(Contains(run.out, "Phase 2"));
  EXPECT_FALSE(fs::exists("066_162.c32"));

  // So does one that a file-size limit of one block (512 or 1024 bytes) cuts short, with the
  // signal it raises ignored: a grid of 6400 bytes. The part written is removed.
  Ctg wide;
  wide.rows = 40, wide.columns = 40;
  wide.Write("wide.ctg");
  const std::vector<std::string> wide_args = {"wide.ctg", "0", "0", "0", "1", "1"};
  run = RunProgram("trap '' XFSZ; ulimit -f 1; " LANDIMPORT_PATH, wide_args);
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(Contains(run.err, "\n error: Could not write 'wide.ctg.0040x0040': File too large\n"))
      << run.err;
  EXPECT_FALSE(Contains(run.out, "Phase 2"));
  EXPECT_FALSE(fs::exists("wide.ctg.0040x0040"));

  // A small disk that cannot take the grid and the tile, two pages (4096 bytes) with one taken by
  // the input, refuses the run before either.
  const SmallDiskRun small = RunOnSmallDisk(LANDIMPORT_PATH, wide_args, {"wide.ctg"}, 2 * 4096);
  EXPECT_EQ(small.run.status, 255);
  EXPECT_TRUE(("\n" + small.run.err)
                  .ends_with("\nlandimport: region of 1 tiles needs 4210688 bytes in '.', more "
                             "than the 4096 bytes free\n"))
      << small.run.err;
  EXPECT_FALSE(Contains(small.run.out, "Phase 2"));
  EXPECT_EQ(small.files, std::set<std::string>{"wide.ctg"});
}

// A colour grid whose close fails is one not written whole: reported with its name and the
// system's reason, removed, no tile touched, status -1. A grid name that is a link to a regular
// file keeps its link and the file it leads to, as far as it was written.
TEST_F(LandimportTest, AGridFileWhoseCloseFailsIsRemovedAndFailsTheRun) {
  Ctg().Write("l.ctg");
  const std::string grid = "l.ctg.0004x0006";
  for (const bool link : {false, true}) {
    SCOPED_TRACE(link ? "a link to a regular file" : "a plain file");
    fs::remove_all("run");
    fs::create_directory("run");
    if (link) {
      WriteFileBytes("run/shared.grid", {1, 2, 3});
      fs::create_symlink("shared.grid", "run/" + grid);
    }
    InProcessRun run;
    {
      // The grid's is the run's first close of a tile file.
      tilefile_test::ScopedFaults faults;
      faults.Fail(tilefile_test::Call::kClose, EIO);
      run = RunInProcess(RunLandimport, "run", {"landimport", "l.ctg", "0", "0", "0", "1", "1"},
                         {"l.ctg"});
      EXPECT_EQ(faults.Injected(), 1);
    }
    EXPECT_EQ(run.status, -1);
    EXPECT_TRUE(Contains(run.err, "\n error: Could not write '" + grid + "': Input/output error\n"))
        << run.err;
    EXPECT_FALSE(Contains(run.err, "Conversion Saved")) << run.err;
    EXPECT_FALSE(Contains(run.out, "Phase 2"));
    std::set<std::string> left;
    for (const auto& [name, bytes] : run.files) left.insert(name);
    if (link) {
      EXPECT_EQ(left, (std::set<std::string>{"l.ctg", "shared.grid", grid}));
      EXPECT_TRUE(fs::is_symlink("run/" + grid));
      EXPECT_EQ(fs::file_size("run/shared.grid"), 4u * 4 * 6);
    } else {
      EXPECT_EQ(left, std::set<std::string>{"l.ctg"});
    }
  }
}

// The region is checked after the rotation, shift and scale, before the colour grid file and the
// colour pass: no file is made, even on a disk too small for a tile. (Arguments that are infinite
// or not a number are refused before the reader: number_args_test.)
TEST_F(LandimportTest, RegionsOffTheGlobeAreRefusedBeforeTheColourPass) {
  Ctg().Write("land.ctg");
  // Bounds that say 999,999 degrees west (the field holds at most 214,748.3647 degrees).
  std::string far = Ctg().Text();
  far.replace(2 * 80 + 10, 10, "9999990000");
  WriteFileBytes("far.ctg", std::vector<uint8_t>(far.begin(), far.end()));
  const struct {
    std::vector<std::string> args;
    const char* line;
  } cases[] = {
      {{"land.ctg", "0", "0", "0", "1e9", "1"},
       "landimport: region longitude -5000123.005009663 is off the globe (-180..180)"},
      {{"land.ctg", "0", "1e9", "0", "1", "1"},
       "landimport: region longitude 999999876.99 is off the globe (-180..180)"},
      {{"far.ctg", "0", "0", "0", "1", "1"},
       "landimport: region longitude -214748.3647 is off the globe (-180..180)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const std::string& ctg = c.args[0];
    const std::optional<ProgramRun> run =
        ExpectRefusedRegion(LANDIMPORT_PATH, c.args, c.line, {ctg});
    if (run) {
      EXPECT_FALSE(Contains(run->out, "Phase 2"));
    }
  }
}

// A region, after the rotation, shift and scale, that covers more tiles than the file gives cells
// a colour is refused before the colour grid file and the colour pass: a CTG of a few hundred
// bytes would otherwise colour tiles by the thousand, whatever grid its header claims. As many
// tiles as cells are taken; a file without cells still clears one tile.
TEST_F(LandimportTest, RegionsOfMoreTilesThanCellsAreRefusedBeforeTheColourPass) {
  Ctg one;  // one cell over 10 x 10 degrees: 133 W to 123 W, 48 N to 58 N
  one.rows = 1, one.columns = 1;
  one.west = 1330000, one.east = 1230000, one.north = 580000;
  one.cells = {one.At(1, 1, 5)};
  one.Write("one.ctg");
  Ctg claims = one;  // the same cell in a header of 4096 x 4096 cells
  claims.rows = 4096, claims.columns = 4096;
  claims.cells = {claims.At(1, 1, 5)};
  claims.Write("claims.ctg");
  Ctg globe;  // 640 bytes over the whole globe
  globe.rows = 1, globe.columns = 1;
  globe.south = -900000, globe.north = 900000, globe.west = 1800000, globe.east = -1800000;
  globe.cells = {globe.At(1, 1, 5), globe.At(1, 1, 21), globe.At(1, 1, 42)};
  globe.Write("globe.ctg");
  Ctg land;  // 4 x 6 cells over 0.01 x 0.01 degree, one tile
  land.Fill(std::vector<int>(24, 21));
  land.Write("land.ctg");
  Ctg border;  // 0.01 degree across the border of tile columns 66 and 67
  border.rows = 1, border.columns = 1;
  border.west = 1228300, border.east = 1228200;
  border.cells = {border.At(1, 1, 5)};
  border.Write("border.ctg");
  Ctg none = border;  // no data record
  none.cells.clear();
  none.Write("none.ctg");
  const struct {
    std::vector<std::string> args;
    const char* line;
  } cases[] = {
      {{"one.ctg", "0", "0", "0", "1", "1"},
       "landimport: region of 'one.ctg' spans 10 x 10 degrees: 156 tiles, more than the 1 cells "
       "of its grid"},
      {{"claims.ctg", "0", "0", "0", "1", "1"},
       "landimport: region of 'claims.ctg' spans 10 x 10 degrees: 156 tiles, more than the 1 "
       "cells of its grid"},
      {{"globe.ctg", "0", "0", "0", "1", "1"},
       "landimport: region of 'globe.ctg' spans 360 x 180 degrees: 89042 tiles, more than the 1 "
       "cells of its grid"},
      {{"land.ctg", "0", "0", "0", "1000", "1000"},
       "landimport: region of 'land.ctg' spans 10 x 10 degrees: 169 tiles, more than the 24 "
       "cells of its grid"},
      {{"border.ctg", "0", "0", "0", "1", "1"},
       "landimport: region of 'border.ctg' spans 0.01 x 0.01 degrees: 2 tiles, more than the 1 "
       "cells of its grid"},
      {{"none.ctg", "0", "0", "0", "1", "1"},
       "landimport: region of 'none.ctg' spans 0.01 x 0.01 degrees: 2 tiles, more than the 0 "
       "cells of its grid"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const std::optional<ProgramRun> run =
        ExpectRefusedRegion(LANDIMPORT_PATH, c.args, c.line, {c.args[0]});
    if (run) {
      EXPECT_FALSE(Contains(run->out, "Phase 2"));
    }
  }
  border.columns = 2;
  border.cells = {border.At(1, 1, 5), border.At(1, 2, 21)};
  border.Write("border.ctg");
  const ProgramRun run = RunPlain("border.ctg");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(CountOf(run.out, " RW\n"), 2);
}

}  // namespace
