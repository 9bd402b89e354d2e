// Test support for the terrain passes: a private working directory per test (the passes work
// in the current directory), grid files, tile files, post positions and captured output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "testsupport/CapturedOutput.h"
#include "testsupport/Files.h"
#include "testsupport/SmallDisk.h"
#include "testsupport/TempDirTest.h"
#include "testsupport/Text.h"
#include "tiledb.h"

using TerrainDirTest = kyte::testsupport::TempDirTest;
using kyte::testsupport::Capture;
using kyte::testsupport::CaptureStderr;
using kyte::testsupport::CaptureStdout;
using kyte::testsupport::CountOf;
using kyte::testsupport::MountSmallDisk;
using kyte::testsupport::Output;
using kyte::testsupport::ReadFileBytes;
using kyte::testsupport::WriteFileBytes;

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
