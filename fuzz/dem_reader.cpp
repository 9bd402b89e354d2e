// A USGS DEM file through demimport's whole run: the input is the file. What a run may write is
// bounded by the program itself (corners that span more than a DEM covers are refused, so at most
// 16 tiles, and a run the scratch disk cannot hold is refused before its grid file).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzTarget.h"
#include "TerrainFuzz.h"
#include "programs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kyte::fuzz::FreshScratch("dem_reader");
  kyte::fuzz::WriteFile("in.dem", std::string_view(reinterpret_cast<const char*>(data), size));
  kyte::fuzz::RunTerrainProgram(RunDemimport, {"demimport", "in.dem"});
  return 0;
}
