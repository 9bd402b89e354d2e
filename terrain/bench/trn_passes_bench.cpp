// The shading, elevation post-processing, colour post-processing, raster and level passes
// over a region of 2 x 2 tiles, each against reading and writing the same tile bytes with no
// computation, in the same run; and the colour post-processing over a region that leaves out
// indexed posts of its northern tiles. Target: every pass within 3 times its baseline.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "tiledb.h"
#include "trn_color_post.h"
#include "trn_elevation_post.h"
#include "trn_levels.h"
#include "trn_rasterfile.h"
#include "trn_shading.h"

namespace {

constexpr const char* kModule = "bench";
constexpr int kTx = 66, kTy = 148;
const double kW = (kTx * 1024) * kPostSpacing - 180;
const double kE = (kTx * 1024 + 2047) * kPostSpacing - 180;
const double kS = (kTy * 1024) * kPostSpacing - 90;
const double kN = (kTy * 1024 + 2047) * kPostSpacing - 90;
// 64 post rows short of the northern edge: the posts above, which the whole region's colour
// post-processing indexed, are counted and indexed anew by each call over this one.
const double kNShort = (kTy * 1024 + 2047 - 64) * kPostSpacing - 90;
constexpr uint8_t kColors[kShadeColorsSize] = {0, 180, 195, 190, 0, 125, 155, 150};
constexpr char kPicture[] = "region.bmp";

void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(name.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// Rolling terrain with stretches of sea, and colour tiles of shaded land-use colours.
void WriteRegionTiles() {
  for (int ty = kTy; ty < kTy + 2; ++ty) {
    for (int tx = kTx; tx < kTx + 2; ++tx) {
      std::vector<uint8_t> elevation(kElevationTileBytes), color(kColorTileBytes);
      for (int y = 0; y < kTilePosts; ++y) {
        for (int x = 0; x < kTilePosts; ++x) {
          const int gx = (tx - kTx) * kTilePosts + x, gy = (ty - kTy) * kTilePosts + y;
          const double e = 800 * std::sin(gx * 0.004) * std::cos(gy * 0.003) + 300;
          PutS16(&elevation[PostOffset(x, y)], static_cast<int16_t>(e < 0 ? 0 : e));
          // Land-use patches of 64 x 64 posts in eight colours, shaded by a smooth light,
          // with a post here and there that has no colour of its own.
          static const uint8_t kClasses[8][3] = {{34, 139, 34},   {189, 183, 107}, {160, 82, 45},
                                                 {107, 142, 35},  {222, 184, 135}, {85, 107, 47},
                                                 {240, 230, 140}, {128, 128, 105}};
          const uint8_t* rgb = kClasses[((gx >> 6) * 5 + (gy >> 6) * 3) & 7];
          const double light = 0.55 + 0.45 * std::cos(gx * 0.01) * std::sin(gy * 0.008);
          uint8_t* c = &color[PostOffset(x, y)];
          for (int k = 0; k < 3; ++k) c[k] = static_cast<uint8_t>(rgb[k] * light);
          c[3] = (gx + gy) % 5 == 0 ? 0 : 255;
        }
      }
      WriteFile(ElevationTileName(tx, ty), elevation);
      WriteFile(ColorTileName(tx, ty), color);
    }
  }
}

template <class Visit>
void ForEachTile(Visit visit) {
  for (int ty = kTy; ty < kTy + 2; ++ty) {
    for (int tx = kTx; tx < kTx + 2; ++tx) visit(tx, ty);
  }
}

// The baselines' file work: whole-tile reads and writes as the passes make them.
TileBuffer ReadTile(const std::string& name, uint32_t size) {
  TileFile file = TileFile::OpenInput(kModule, name);
  TileBuffer buffer = TileBuffer::Allocate(kModule, size);
  file.ReadWhole(kModule, buffer);
  benchmark::DoNotOptimize(buffer.data());
  file.Close(kModule);
  return buffer;
}
TileBuffer ReadBack(TileFile& file, uint32_t size) {
  TileBuffer buffer = TileBuffer::Allocate(kModule, size);
  file.ReadWhole(kModule, buffer);
  benchmark::DoNotOptimize(buffer.data());
  return buffer;
}
TileBuffer RewriteTile(const std::string& name, uint32_t size) {
  TileFile file = TileFile::OpenOutput(kModule, name);
  TileBuffer buffer = ReadBack(file, size);
  file.WriteWhole(kModule, buffer);
  file.Close(kModule);
  return buffer;
}
void WriteTile(const std::string& name, const uint8_t* data, uint32_t size) {
  TileFile file = TileFile::OpenOutput(kModule, name);
  file.WriteWhole(kModule, data, size);
  file.Close(kModule);
}

void BaselineShading() {
  ForEachTile([](int tx, int ty) {
    ReadTile(ElevationTileName(tx, ty), kElevationTileBytes);
    ReadTile(ElevationTileName(tx + 1, ty), kElevationTileBytes);
    RewriteTile(ColorTileName(tx, ty), kColorTileBytes);
  });
}
// The tile read whole; only its identification fields and trailer written back.
void BaselineElevationPost() {
  ForEachTile([](int tx, int ty) {
    TileFile file = TileFile::OpenOutput(kModule, ElevationTileName(tx, ty));
    const TileBuffer tile = ReadBack(file, kElevationTileBytes);
    file.WriteAt(kModule, tile.data(), TileHeader::kIdentificationBytes, 0);
    file.WriteAt(kModule, tile.data() + kTrailerOffset, kTrailerBytes, kTrailerOffset);
    file.Close(kModule);
  });
}
void BaselineColorPost() {
  ForEachTile([](int tx, int ty) { ReadTile(ColorTileName(tx, ty), kColorTileBytes); });
  ForEachTile([](int tx, int ty) {
    ReadTile(ColorTileName(tx, ty), kColorTileBytes);
    const TileBuffer tile = RewriteTile(ElevationTileName(tx, ty), kElevationTileBytes);
    WriteTile(ScratchTileName(tx, ty), tile.data(), tile.size());
  });
  // The last stage reads the scratch tile and writes the trailer alone into both files.
  ForEachTile([](int tx, int ty) {
    TileFile scratch = TileFile::OpenOutput(kModule, ScratchTileName(tx, ty));
    const TileBuffer tile = ReadBack(scratch, kElevationTileBytes);
    scratch.WriteAt(kModule, tile.data() + kTrailerOffset, kTrailerBytes, kTrailerOffset);
    scratch.Close(kModule);
    TileFile elevation = TileFile::OpenOutput(kModule, ElevationTileName(tx, ty));
    elevation.WriteAt(kModule, tile.data() + kTrailerOffset, kTrailerBytes, kTrailerOffset);
    elevation.Close(kModule);
  });
}
// The counting stage reads the header and posts of the northern tiles once more.
void BaselineColorPostShort() {
  BaselineColorPost();
  for (int tx = kTx; tx < kTx + 2; ++tx) ReadTile(ElevationTileName(tx, kTy + 1), kColorTileBytes);
}
void BaselineRaster() {
  ForEachTile([](int tx, int ty) { ReadTile(ElevationTileName(tx, ty), kColorTileBytes); });
  const uint32_t bytes = kBmpHeaderBytes + 3 * 2048 * 2048;
  TileBuffer picture = TileBuffer::Allocate(kModule, bytes);
  WriteTile(kPicture, picture.data(), bytes);
}
void BaselineLevels() {
  ForEachTile([](int tx, int ty) {
    const std::string name = ElevationTileName(tx, ty);
    const TileBuffer tile = ReadTile(name, kElevationTileBytes);
    for (int k = 0; k < kLevelCount; ++k) {
      WriteTile(LevelFileName(name, k), tile.data(), LevelFileBytes(k));
    }
  });
}

int Shading() { return trn_shading(kW, kS, kE, kS, kW, kN, kE, kN, kColors, 14.5); }
int ElevationPost() { return trn_elevation_post(kW, kS, kE, kS, kW, kN, kE, kN); }
int ColorPost() { return trn_color_post(kW, kS, kE, kS, kW, kN, kE, kN, 2.5, 2); }
int ColorPostShort() { return trn_color_post(kW, kS, kE, kS, kW, kNShort, kE, kNShort, 2.5, 2); }
int Raster() { return trn_rasterfile(kW, kS, kE, kS, kW, kN, kE, kN, kPicture, 2); }
int Levels() { return trn_levels(kW, kS, kE, kS, kW, kN, kE, kN); }

void RunBaseline(benchmark::State& state, void (*baseline)()) {
  QuietStdout quiet;
  for (auto _ : state) baseline();
}
void RunPass(benchmark::State& state, int (*pass)()) {
  QuietStdout quiet;
  for (auto _ : state) {
    if (pass() != 0) state.SkipWithError("the pass failed");
  }
}

struct Pair {
  const char* name;
  void (*baseline)();
  int (*pass)();
};
const Pair kPairs[] = {
    {"trn_shading", BaselineShading, Shading},
    {"trn_elevation_post", BaselineElevationPost, ElevationPost},
    {"trn_color_post", BaselineColorPost, ColorPost},
    {"trn_color_post_short", BaselineColorPostShort, ColorPostShort},
    {"trn_rasterfile", BaselineRaster, Raster},
    {"trn_levels", BaselineLevels, Levels},
};

}  // namespace

int main(int argc, char** argv) {
  BenchDirectory dir("trn_passes_bench");
  WriteRegionTiles();

  for (const Pair& p : kPairs) {
    benchmark::RegisterBenchmark((std::string("BM_ReadWrite/") + p.name).c_str(), RunBaseline,
                                 p.baseline)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("BM_Pass/") + p.name).c_str(), RunPass, p.pass)
        ->Unit(benchmark::kMillisecond);
  }
  // Five rounds of each, and the best of each in CPU time.
  BenchArguments args(argc, argv, {"--benchmark_repetitions=5"});
  benchmark::Initialize(args.argc(), args.argv());
  RatioReporter reporter(RatioReporter::Clock::kCpu);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  for (const Pair& p : kPairs) {
    reporter.PrintRatio(std::string(p.name) + " / read-and-write", std::string("BM_Pass/") + p.name,
                        std::string("BM_ReadWrite/") + p.name, 3);
  }
  return 0;
}
