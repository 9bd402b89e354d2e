// What every pass does when a tile buffer cannot be had: it reports it and returns -1.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "tiledb.h"
#include "trn_color_post.h"
#include "trn_elevation_post.h"
#include "trn_levels.h"
#include "trn_passes_fixture.h"
#include "trn_rasterfile.h"
#include "trn_shading.h"

namespace {

// Bytes of address space the process holds now.
uint64_t AddressSpace() {
  unsigned long pages = 0;
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0;
  if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
  std::fclose(f);
  return uint64_t{pages} * 4096;
}

// Runs `pass` with room for its small allocations but not for a tile buffer of 4 MB.
int RunWithoutRoomForATile(const std::function<int()>& pass) {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 1;  // the progress lines
  rlimit limit;
  limit.rlim_cur = AddressSpace() + (2u << 20);
  limit.rlim_max = RLIM_INFINITY;
  setrlimit(RLIMIT_AS, &limit);
  return pass();
}

using PassesAllocationDeathTest = TerrainDirTest;

TEST_F(PassesAllocationDeathTest, ReportedAndMinusOne) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers' own reservations do not live under an address-space limit";
#endif
  // Each case runs in a fresh process, whose passes have taken no buffer yet.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const uint8_t colors[kShadeColorsSize] = {0, 20, 55, 40, 0, 105, 180, 140};
  const Corners region = TilePosts(66, 148, 0, 3, 0, 3);
  struct Case {
    const char* module;
    std::function<int()> pass;
  } cases[] = {
      {"trn_shading", [&] { return region.Run(trn_shading, colors, 12.0); }},
      {"trn_elevation_post", [&] { return region.Run(trn_elevation_post); }},
      {"trn_color_post", [&] { return region.Run(trn_color_post, 2.5, 2); }},
      {"trn_rasterfile", [&] { return region.Run(trn_rasterfile, "p.bmp", 2); }},
      {"trn_levels", [&] { return region.Run(trn_levels); }},
  };
  for (const Case& c : cases) {
    EXPECT_EXIT(std::exit(RunWithoutRoomForATile(c.pass) == -1 ? 0 : 1), testing::ExitedWithCode(0),
                std::string(c.module) + ": Cannot allocate memory")
        << c.module;
  }
}

}  // namespace
