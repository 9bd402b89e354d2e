// Test support shared by the tests of the colour post-processing, shading, elevation
// post-processing, raster and level passes: tile images and regions of posts.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "terrain_fixture.h"
#include "tiledb.h"

// The eight corner doubles of a region: two opposite corners of a box of posts.
struct Corners {
  double lon_a, lat_a, lon_b, lat_b;

  // Calls a pass with the four corners (south-west, south-east, north-west, north-east) and the
  // pass's own arguments.
  template <class Pass, class... Args>
  int Run(Pass pass, Args... args) const {
    return pass(lon_a, lat_a, lon_b, lat_a, lon_a, lat_b, lon_b, lat_b, args...);
  }

  // Runs the pass as Run does, expecting it to return `expected`: what it printed.
  template <class Pass, class... Args>
  Output RunExpecting(int expected, Pass pass, Args... args) const {
    int result = 0;
    const Output output = Capture([&] { result = Run(pass, args...); });
    EXPECT_EQ(result, expected) << output.err;
    return output;
  }
};

// Posts xs..xe, ys..ye of tile (tx, ty).
inline Corners TilePosts(int tx, int ty, int xs, int xe, int ys, int ye) {
  return Corners{PostLon(int64_t{tx} * kTilePosts + xs), PostLat(int64_t{ty} * kTilePosts + ys),
                 PostLon(int64_t{tx} * kTilePosts + xe), PostLat(int64_t{ty} * kTilePosts + ye)};
}

// A whole tile file held in memory.
struct TileImage {
  std::vector<uint8_t> bytes;

  static TileImage Elevation() { return TileImage{std::vector<uint8_t>(kElevationTileBytes)}; }
  static TileImage Color() { return TileImage{std::vector<uint8_t>(kColorTileBytes)}; }
  static TileImage Load(const std::string& name) { return TileImage{ReadFileBytes(name)}; }
  void Save(const std::string& name) const { WriteFileBytes(name, bytes); }

  uint8_t* header() { return bytes.data(); }
  uint8_t* post(int x, int y) { return PostAt(bytes.data(), x, y); }
  uint8_t* record(int b) { return bytes.data() + BlockRecordOffset(b); }
  int16_t elevation(int x, int y) { return GetS16(post(x, y)); }
  void set_elevation(int x, int y, int16_t e) { PutS16(post(x, y), e); }
  void set_rgba(int x, int y, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    uint8_t* p = post(x, y);
    p[0] = r;
    p[1] = g;
    p[2] = b;
    p[3] = a;
  }
  // Every byte from `first` on set by f(offset).
  template <class F>
  void Fill(uint32_t first, uint32_t end, F f) {
    for (uint32_t i = first; i < end; ++i) bytes[i] = f(i);
  }
};

inline bool Exists(const std::string& name) { return std::filesystem::exists(name); }
