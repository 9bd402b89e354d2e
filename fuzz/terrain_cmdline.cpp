// The five terrain programs' command lines: each input is one to three runs in the same scratch
// folder, each a program (its number, 32-bit, modulo 5) and its words (their count, 32-bit,
// modulo 10, then each a text ended by a NUL). The folder holds small real inputs that words
// can name: the bundled elevation grid "g.i16", a DEM "d.dem" and a land-use file "l.ctg"; a
// later run finds what an earlier one wrote.
//
// Words are used as the programs use them; an input is passed over only where it would reach
// outside the scratch folder (an absolute name, "..") or ask for honest work larger than one
// input should take: a region on the globe of more than four tiles for gridforge, tintshade or
// tileprint. Regions off the globe, gridforge's bounds in the wrong order, words that are not
// numbers, wrong word counts and names of no file all reach the programs. tintshade with a level
// count other than 0 ends its process in its level pass by design, so that run is made in a child
// process.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "TerrainFuzz.h"
#include "cmdline.h"
#include "programs.h"

namespace {

constexpr int64_t kMostTiles = 4;
constexpr std::uint32_t kMostRuns = 3;
constexpr std::uint32_t kMostWords = 10;  // one more than any program takes

struct Program {
  const char* name;
  int (*run)(int, char**);
};
const Program kPrograms[] = {{"demimport", RunDemimport},
                             {"gridforge", RunGridforge},
                             {"landimport", RunLandimport},
                             {"tintshade", RunTintshade},
                             {"tileprint", RunTileprint}};

struct Sample {
  const char* name;
  const char* source;
  std::string bytes;
};
Sample samples[] = {
    {"g.i16", GRID_SAMPLE, {}}, {"d.dem", DEM_SAMPLE, {}}, {"l.ctg", CTG_SAMPLE, {}}};

using kyte::fuzz::Box;
using kyte::fuzz::CornerPoints;

double Number(const std::string& word) { return ArgToDouble(word.c_str()); }
double WholeNumber(const std::string& word) { return ArgToInt(word.c_str()); }

// Whether `program` refuses one of the words `w` as not a number, before it reads or makes any
// file.
bool RefusesANumber(const std::string& program, const std::vector<std::string>& w) {
  std::vector<const char*> argv;
  for (const std::string& word : w) argv.push_back(word.c_str());
  auto refuses = [&argv](std::span<const NumberArg> numbers) {
    return FirstNotANumber(argv.data(), numbers) != nullptr;
  };
  if (program == "gridforge") return w.size() == 9 && refuses(kGridforgeNumbers);
  if (program == "landimport") return w.size() == 7 && refuses(kLandimportNumbers);
  if (program == "tintshade")
    return w.size() == 6 && (refuses(kBoxNumbers) || refuses(kTintshadeLevels));
  if (program == "tileprint") return w.size() == 6 && refuses(kBoxNumbers);
  return false;
}

// Whether the honest work of the run is small enough (see the top of the file).
bool Fits(const std::string& program, const std::vector<std::string>& w) {
  for (const std::string& word : w)
    if (!kyte::fuzz::StaysInScratch(word)) return false;
  if (RefusesANumber(program, w)) return true;
  if (program == "gridforge" && w.size() == 9) {
    // Bounds in the wrong order, or equal, in whole degrees are refused before any file.
    if (WholeNumber(w[2]) >= WholeNumber(w[3]) || WholeNumber(w[4]) >= WholeNumber(w[5]))
      return true;
    // The bounds as written are checked, the whole degrees are used.
    const CornerPoints written = Box(Number(w[4]), Number(w[5]), Number(w[2]), Number(w[3]));
    const CornerPoints used =
        Box(WholeNumber(w[4]), WholeNumber(w[5]), WholeNumber(w[2]), WholeNumber(w[3]));
    return kyte::fuzz::OffTheGlobe(written) || kyte::fuzz::SmallOrOffTheGlobe(used, kMostTiles);
  }
  if ((program == "tintshade" || program == "tileprint") && w.size() == 6) {
    return kyte::fuzz::SmallOrOffTheGlobe(
        Box(Number(w[1]), Number(w[2]), Number(w[3]), Number(w[4])), kMostTiles);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (Sample& sample : samples) sample.bytes = kyte::fuzz::ReadWholeFile(sample.source);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kyte::fuzz::FuzzInput in(data, size);
  struct Run {
    const Program* program;
    std::vector<std::string> words;
  };
  std::vector<Run> runs(in.Below(kMostRuns) + 1);
  for (Run& run : runs) {
    run.program = &kPrograms[in.Below(std::size(kPrograms))];
    run.words = {run.program->name};
    for (std::uint32_t n = in.Below(kMostWords); n > 0; --n) run.words.push_back(in.Text());
    if (!Fits(run.program->name, run.words)) return 0;
  }

  kyte::fuzz::FreshScratch("terrain_cmdline");
  for (const Sample& sample : samples) kyte::fuzz::WriteFile(sample.name, sample.bytes);
  for (const Run& run : runs) {
    const std::vector<std::string>& w = run.words;
    if (run.program->run == RunTintshade && w.size() == 6 && !RefusesANumber("tintshade", w) &&
        ArgToInt(w[5].c_str()) != 0) {
      // 0 after the last tile, 1 when a tile or level file cannot be opened, -1 on the rest.
      kyte::fuzz::RunInChild([&] { return kyte::fuzz::RunTerrainProgram(RunTintshade, w); },
                             {0, 1, 255});
    } else {
      kyte::fuzz::RunTerrainProgram(run.program->run, w);
    }
  }
  return 0;
}
