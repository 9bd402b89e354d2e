// A damaged tile database under every pass, tintshade and tileprint. A small good database is
// made once: a grid of 6 x 5 real elevations and their pseudo-colours laid over a region of 18 x
// 13 posts across the boundary of tiles 066_161 and 067_161, through the passes as gridforge runs
// them (elevation, colour, shading, elevation post-processing, colour post-processing, levels).
//
// Each input chooses a pass or program (32-bit, modulo the count), a region (the database's own,
// one inside the western tile, a single post, a turned one, both tiles whole, or eight doubles
// from the input, within two tiles or off the globe), up to eight damages, each to one of the
// files the pass works on (cut to a length, bytes patched into the header, the trailer, a post
// of the region or anywhere, removed, or replaced by a directory), then the pass's own
// arguments. The files are written into the scratch folder, damaged, and the pass runs over the
// region.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "TerrainFuzz.h"
#include "programs.h"
#include "pseudocolor.h"
#include "tiledb.h"
#include "trn_color.h"
#include "trn_color_post.h"
#include "trn_elevation.h"
#include "trn_elevation_post.h"
#include "trn_levels.h"
#include "trn_rasterfile.h"
#include "trn_shading.h"

namespace {

using kyte::fuzz::CornerPoints;
using kyte::fuzz::FuzzInput;
using kyte::fuzz::NumberText;

constexpr int kGridColumns = 6, kGridRows = 5;  // records of values, as gridforge's grid
constexpr const char* kElevationGrid = "elevations.grid";
constexpr const char* kColorGrid = "colors.grid";

// The database's region: north-west, north-east, south-west, south-east, as gridforge's box.
constexpr double kWest = -122.835, kEast = -122.82, kSouth = 48.0, kNorth = 48.01;
constexpr CornerPoints BoxCorners(double west, double east, double south, double north) {
  return {west, north, east, north, west, south, east, south};
}
// The two tiles whole: post columns 66 x 1024 .. 68 x 1024 - 1, rows 161 x 1024 .. 162 x 1024 - 1.
constexpr double PostLon(int64_t x) { return static_cast<double>(x) * kPostSpacing - 180; }
constexpr double PostLat(int64_t y) { return static_cast<double>(y) * kPostSpacing - 90; }
const CornerPoints kRegions[] = {
    BoxCorners(kWest, kEast, kSouth, kNorth),
    BoxCorners(-122.845, -122.84, kSouth, kNorth),
    BoxCorners(-122.83, -122.83, 48.005, 48.005),
    {-122.836, 48.011, -122.819, 48.009, -122.834, 47.999, -122.821, 48.001},
    BoxCorners(PostLon(66 * 1024), PostLon(68 * 1024 - 1), PostLat(161 * 1024),
               PostLat(162 * 1024 - 1)),
};
constexpr int64_t kMostTiles = 2;

// What a file of the database is; a pass works on some of these.
enum Kind : unsigned {
  kElevation = 1,
  kColor = 2,
  kScratch = 4,
  kLevel = 8,
  kGrid = 16,
};

struct DatabaseFile {
  std::string name;
  unsigned kind;
  std::string bytes;
};
std::vector<DatabaseFile> database;

unsigned KindOf(const std::string& name) {
  if (name == kElevationGrid || name == kColorGrid) return kGrid;
  if (name.ends_with(".c32")) return kColor;
  if (name.ends_with(".tmp")) return kScratch;
  if (name.size() > 7 && name[7] == '_') return kLevel;
  return kElevation;
}

void Check(int result, const char* pass) {
  if (result != 0) kyte::fuzz::Abort(std::string("the good database's ") + pass + " failed");
}

// The shade colours of gridforge's shading, for the good database.
constexpr uint8_t kShadeColors[kShadeColorsSize] = {0, 20, 55, 40, 0, 105, 180, 140};

// Made in the scratch folder; the current directory is given back, so that input files named
// relative to it after the set-up are still found.
void MakeDatabase() {
  const std::filesystem::path home = std::filesystem::current_path();
  const std::filesystem::path& dir = kyte::fuzz::FreshScratch("tile_database");
  const std::string sample = kyte::fuzz::ReadWholeFile(GRID_SAMPLE);
  if (sample.size() < 2 * kGridColumns * kGridRows) kyte::fuzz::Abort("too short: " GRID_SAMPLE);
  std::string elevations, colors;
  PseudoRandom draws;
  for (int i = 0; i < kGridColumns * kGridRows; ++i) {
    const int32_t e = GetS16(reinterpret_cast<const uint8_t*>(sample.data()) + 2 * i);
    uint8_t value[4];
    PutS32(value, e);
    elevations.append(reinterpret_cast<const char*>(value), 4);
    PutU32(value, ElevationPseudoColor(e, draws));
    colors.append(reinterpret_cast<const char*>(value), 4);
  }
  kyte::fuzz::WriteFile(kElevationGrid, elevations);
  kyte::fuzz::WriteFile(kColorGrid, colors);
  const auto& c = kRegions[0];
  Check(trn_elevation(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], kElevationGrid, kGridColumns,
                      kGridRows),
        "elevation pass");
  Check(trn_color(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], kColorGrid, kGridColumns,
                  kGridRows, 1.0),
        "colour pass");
  Check(trn_shading(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], kShadeColors, 14.5), "shading");
  Check(trn_elevation_post(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]),
        "elevation post-processing");
  Check(trn_color_post(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], 1.0,
                       kColorPostPaletteB | kColorPostZeroIsSea),
        "colour post-processing");
  Check(trn_levels(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]), "level pass");
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    database.push_back({name, KindOf(name), kyte::fuzz::ReadWholeFile(entry.path())});
  }
  std::sort(database.begin(), database.end(),
            [](const DatabaseFile& a, const DatabaseFile& b) { return a.name < b.name; });
  if (database.size() != 2 + 2 * (3 + kLevelCount))
    kyte::fuzz::Abort("the good database is not whole");
  std::filesystem::current_path(home);
}

// One damage to a written file, as the input says.
void Damage(FuzzInput& in, const DatabaseFile& file, const CornerPoints& region) {
  const char* name = file.name.c_str();
  const auto size = static_cast<std::uint32_t>(file.bytes.size());
  auto patch = [&](std::uint32_t offset) {
    const std::string_view bytes = in.Bytes(in.Below(16) + 1);
    std::FILE* f = std::fopen(name, "r+b");
    if (f == nullptr) return;  // removed or replaced by an earlier damage
    std::fseek(f, static_cast<long>(offset), SEEK_SET);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  };
  switch (in.Below(8)) {
    case 0:
      if (::truncate(name, in.Below(size + 1)) != 0) return;  // gone already
      break;
    case 1:
      patch(in.Below(kHeaderBytes));
      break;
    case 2:
      patch(size >= kTrailerBytes ? size - kTrailerBytes + in.Below(kTrailerBytes) : 0);
      break;
    case 3: {
      // A post of the region's, in whichever tile this is.
      const Region r = MakeRegion(region[0], region[1], region[2], region[3], region[4], region[5],
                                  region[6], region[7]);
      auto pick = [&in](int64_t first, int64_t last) {
        const int64_t span = std::clamp<int64_t>(last - first, 0, kTileMask);
        return static_cast<int>((first + in.Below(static_cast<uint32_t>(span) + 1)) & kTileMask);
      };
      const int x = pick(r.x0, r.x1);
      const int y = pick(r.y0, r.y1);
      patch(file.kind == kGrid ? 0 : PostOffset(x, y));
      break;
    }
    case 4:
    case 5:
      patch(in.Below(size));
      break;
    case 6:
      std::remove(name);
      break;
    case 7:
      std::remove(name);
      ::mkdir(name, 0755);
      break;
  }
}

// The passes and programs, with the kinds of file each works on.
struct Pass {
  const char* name;
  unsigned kinds;
  std::function<void(FuzzInput&, const CornerPoints&)> run;
};

// A dimension of a pass's grid: -1 .. 7, about the 6 x 5 of the database's grids.
int Dimension(FuzzInput& in) { return static_cast<int>(in.Below(9)) - 1; }

std::vector<std::string> BoxWords(const char* program, const CornerPoints& c, std::string last) {
  const double lon_min = std::min({c[0], c[2], c[4], c[6]});
  const double lon_max = std::max({c[0], c[2], c[4], c[6]});
  const double lat_min = std::min({c[1], c[3], c[5], c[7]});
  const double lat_max = std::max({c[1], c[3], c[5], c[7]});
  return {program,
          NumberText(lon_min),
          NumberText(lon_max),
          NumberText(lat_min),
          NumberText(lat_max),
          std::move(last)};
}

const Pass kPasses[] = {
    {"trn_elevation", kElevation | kGrid,
     [](FuzzInput& in, const CornerPoints& c) {
       const int ncols = Dimension(in), nrows = Dimension(in);
       kyte::fuzz::ExpectResult(trn_elevation(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7],
                                              kElevationGrid, ncols, nrows),
                                "trn_elevation");
     }},
    {"trn_color", kColor | kGrid,
     [](FuzzInput& in, const CornerPoints& c) {
       const int ncols = Dimension(in), nrows = Dimension(in);
       kyte::fuzz::ExpectResult(
           trn_color(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], kColorGrid, ncols, nrows, 1.0),
           "trn_color");
     }},
    {"trn_shading", kElevation | kColor,
     [](FuzzInput& in, const CornerPoints& c) {
       uint8_t shade_colors[kShadeColorsSize] = {};
       const std::string_view bytes = in.Bytes(kShadeColorsSize);
       std::copy(bytes.begin(), bytes.end(), shade_colors);
       const double time_of_day = in.Take<double>();
       kyte::fuzz::ExpectResult(
           trn_shading(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], shade_colors, time_of_day),
           "trn_shading");
     }},
    {"trn_elevation_post", kElevation,
     [](FuzzInput&, const CornerPoints& c) {
       kyte::fuzz::ExpectResult(trn_elevation_post(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]),
                                "trn_elevation_post");
     }},
    {"trn_color_post", kElevation | kColor | kScratch,
     [](FuzzInput& in, const CornerPoints& c) {
       // gridforge's gamma and flags, or tintshade's; or flags of any value.
       const bool gridforge = in.Bool();
       const int flags =
           in.Bool() ? (gridforge ? kColorPostPaletteB | kColorPostZeroIsSea : kColorPostPaletteB)
                     : in.Take<int32_t>();
       kyte::fuzz::ExpectResult(trn_color_post(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7],
                                               gridforge ? 1.0 : 2.5, flags),
                                "trn_color_post");
     }},
    {"trn_levels", kElevation | kLevel,
     [](FuzzInput&, const CornerPoints& c) {
       kyte::fuzz::ExpectResult(trn_levels(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]),
                                "trn_levels");
     }},
    {"trn_rasterfile", kElevation,
     [](FuzzInput&, const CornerPoints& c) {
       kyte::fuzz::ExpectResult(
           trn_rasterfile(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], "region.bmp", 2),
           "trn_rasterfile");
     }},
    {"trn_levels_exiting", kElevation | kLevel,
     [](FuzzInput&, const CornerPoints& c) {
       // Ends its process: 0 after the last tile, 1 when a tile or level file cannot be opened;
       // returns -1 on the rest.
       kyte::fuzz::RunInChild(
           [&] { return trn_levels_exiting(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]); },
           {0, 1, 255});
     }},
    {"tileprint", kElevation,
     [](FuzzInput&, const CornerPoints& c) {
       kyte::fuzz::RunTerrainProgram(RunTileprint, BoxWords("tileprint", c, "region.bmp"));
     }},
    {"tintshade", kElevation | kColor | kScratch | kLevel,
     [](FuzzInput& in, const CornerPoints& c) {
       if (in.Bool()) {
         kyte::fuzz::RunTerrainProgram(RunTintshade, BoxWords("tintshade", c, "0"));
       } else {
         kyte::fuzz::RunInChild(
             [&] {
               return kyte::fuzz::RunTerrainProgram(RunTintshade, BoxWords("tintshade", c, "1"));
             },
             {0, 1, 255});
       }
     }},
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeDatabase();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const Pass& pass = kPasses[in.Below(std::size(kPasses))];
  const std::uint32_t region_choice = in.Below(std::size(kRegions) + 1);
  CornerPoints region;
  if (region_choice < std::size(kRegions)) {
    region = kRegions[region_choice];
  } else {
    for (double& value : region) value = in.Take<double>();
    if (!kyte::fuzz::SmallOrOffTheGlobe(region, kMostTiles)) return 0;
  }

  kyte::fuzz::FreshScratch("tile_database");
  std::vector<const DatabaseFile*> files;
  for (const DatabaseFile& file : database) {
    if ((file.kind & pass.kinds) == 0) continue;
    kyte::fuzz::WriteFile(file.name, file.bytes);
    files.push_back(&file);
  }
  for (std::uint32_t n = in.Below(9); n > 0; --n)
    Damage(in, *files[in.Below(static_cast<std::uint32_t>(files.size()))], region);
  pass.run(in, region);
  return 0;
}
