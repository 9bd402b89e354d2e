// Test support for the terrain passes: a private working directory per test (the passes work
// in the current directory), grid files, tile files and post positions.
#pragma once

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tiledb.h"

class TerrainDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (std::filesystem::temp_directory_path() / "terrain-XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    old_dir_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_dir_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::filesystem::path dir_, old_dir_;
};

// Lays a tmpfs of `bytes` bytes over the working directory, in a mount namespace of the calling
// process's own, so that what it writes there lands on a small disk: for a child process (a death
// test's), whose namespace and disk end with it. Needs root. False when the system refuses.
inline bool MountSmallDisk(uint64_t bytes) {
  const std::string dir = std::filesystem::current_path().string();
  const std::string options = "size=" + std::to_string(bytes);
  return unshare(CLONE_NEWNS) == 0 &&
         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0 && chdir(dir.c_str()) == 0;
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFileBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// A grid file of 32-bit little-endian values in record order.
inline void WriteGrid(const std::string& name, const std::vector<int32_t>& values) {
  std::vector<uint8_t> bytes(values.size() * 4);
  for (size_t i = 0; i < values.size(); ++i) PutS32(&bytes[i * 4], values[i]);
  WriteFileBytes(name, bytes);
}

// Longitude and latitude of global post column X and row Y, as the passes compute them.
inline double PostLon(int64_t X) { return static_cast<double>(X) * kPostSpacing - 180; }
inline double PostLat(int64_t Y) { return static_cast<double>(Y) * kPostSpacing - 90; }

// A colour grid value: red, green, blue, alpha in file order.
inline int32_t Rgba(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  return static_cast<int32_t>(uint32_t{r} | uint32_t{g} << 8 | uint32_t{b} << 16 |
                              uint32_t{a} << 24);
}
