// A USGS land-use (CTG) file through landimport's whole run: the input is landimport's five
// numeric arguments (Rot, TransX, TransY, SizeX, SizeY), each a text ended by a NUL, then the
// file. A header that claims a grid larger than the scratch disk fails its grid file's write; a
// region of more tiles than the grid has cells is refused, and one of many tiles with as many
// cells fills the disk after a few, on which the colour pass fails.
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
