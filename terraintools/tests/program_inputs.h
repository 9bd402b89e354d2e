// The small real inputs of the five terrain programs, for the tests that run each program on
// them: the bundled grid "g.i16", a DEM "d.dem" and a land-use file "l.ctg", copied into the
// test's directory, and command lines over them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "program_run.h"

inline const std::vector<std::string> kGridforge = {"g.i16", "48", "49", "-124",
                                                    "-123",  "46", "30", "14.5"};
inline const std::vector<std::string> kLandimport = {"l.ctg", "0", "0", "0", "1", "1"};
// A box inside tile 066_161 (where l.ctg's 4 x 6 cells lie), long_min long_max lat_min lat_max.
inline const std::vector<std::string> kBox = {"-123.01", "-123.0", "48.0", "48.01"};

// tintshade's or tileprint's command line over kBox.
inline std::vector<std::string> Box(const std::string& last) {
  std::vector<std::string> args = kBox;
  args.push_back(last);
  return args;
}

class TerrainInputsTest : public TerrainDirTest {
 protected:
  void SetUp() override {
    TerrainDirTest::SetUp();
    std::filesystem::copy_file(BUNDLED_GRID, "g.i16");
    std::filesystem::copy_file(SMALL_DEM, "d.dem");  // grid file 068_148.1201x1201, tile 067_148
    std::filesystem::copy_file(SMALL_CTG, "l.ctg");
  }
};
