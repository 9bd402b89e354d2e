// What the terrain targets share: a program run from words, the run in a child process of the
// one path that ends the process by design, and the shape of what an input may ask for.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace kyte::fuzz {

// A pass's or a program's result must be its own, 0 or -1: any other is a finding (abort).
void ExpectResult(int result, const char* who);

// The shortest text that reads back as `value`: "14.5", "-2e+09", "nan", "inf".
std::string NumberText(double value);

// Runs a terrain program's run (programs.h) with `words`, the first of them its name, and gives
// its status; a status other than 0 and -1 is a finding (abort).
int RunTerrainProgram(int (*run)(int, char**), std::vector<std::string> words);

// Runs `run` in a child process, for a path that ends the process itself (tintshade's level
// pass), and gives the child's status: the value it passed to exit, or run's result. A death by
// a signal, a sanitizer report in the child or a status outside `expected` is a finding (abort
// here, so that the fuzzer keeps the input).
int RunInChild(const std::function<int()>& run, std::initializer_list<int> expected);

// Four corner points, longitude then latitude each, as the passes take them.
using CornerPoints = std::array<double, 8>;

// The box of tileprint's and tintshade's command line (long_min long_max lat_min lat_max).
CornerPoints Box(double lon_min, double lon_max, double lat_min, double lat_max);

// Whether a corner is not a number, infinite or clearly off the globe: a run over the region is
// refused before any work.
bool OffTheGlobe(const CornerPoints& corners);

// Whether a run over the region of `corners` may go ahead: true when the region spans at most
// `most_tiles` tiles, or lies off the globe; false for a region on the globe whose honest work,
// its tiles and a picture of it, is more than one fuzz input should take.
bool SmallOrOffTheGlobe(const CornerPoints& corners, int64_t most_tiles);

// Whether a word, used as a file name, names a file inside the current directory: not an
// absolute path and no ".." among its parts. A program run by a target writes where its words
// say; nothing outside the scratch folder may be reached.
bool StaysInScratch(const std::string& word);

}  // namespace kyte::fuzz
