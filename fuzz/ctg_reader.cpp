// A USGS land-use (CTG) file through landimport's whole run: the input is landimport's five
// numeric arguments (Rot, TransX, TransY, SizeX, SizeY), each a text ended by a NUL, then the
// file. A region of more tiles than the file gives cells a colour is refused, and so is a run
// that the scratch disk cannot hold (a header that claims a large grid, a region of many tiles
// with as many cells), before the grid file.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "TerrainFuzz.h"
#include "programs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kyte::fuzz::FreshScratch("ctg_reader");
  kyte::fuzz::FuzzInput in(data, size);
  std::vector<std::string> words = {"landimport", "in.ctg"};
  for (int k = 0; k < 5; ++k) words.push_back(in.Text());
  kyte::fuzz::WriteFile("in.ctg", in.Rest());
  kyte::fuzz::RunTerrainProgram(RunLandimport, std::move(words));
  return 0;
}
