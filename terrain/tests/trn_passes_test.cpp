// What every pass does when a tile buffer cannot be had, or a file it reads or writes whole
// cannot be read or written: it reports it and returns -1.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tiledb.h"
#include "tilefile_test_hook.h"
#include "trn_color.h"
#include "trn_color_post.h"
#include "trn_elevation.h"
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

using PassesFileTest = TerrainDirTest;

// A file that reads as zeroes but takes no byte (a link to the full device) where a pass writes,
// and one that opens for reading but cannot be read (a directory) where it reads: the first
// such file stops the pass, reported by the failure convention with its name.
TEST_F(PassesFileTest, FailedWritesAndReadsAreReported) {
  const uint8_t colors[kShadeColorsSize] = {0, 20, 55, 40, 0, 105, 180, 140};
  const Corners region = TilePosts(66, 148, 0, 3, 0, 3);
  enum Kind { kFull, kDirectory };
  struct Case {
    const char* module;
    const char* file;
    Kind kind;
    std::function<int()> pass;
  } cases[] = {
      {"trn_elevation", "066_148", kFull, [&] { return region.Run(trn_elevation, "grid", 2, 2); }},
      {"trn_elevation", "grid", kDirectory,
       [&] { return region.Run(trn_elevation, "grid", 2, 2); }},
      {"trn_color", "066_148.c32", kFull, [&] { return region.Run(trn_color, "grid", 2, 2, 1.0); }},
      {"trn_shading", "066_148.c32", kFull, [&] { return region.Run(trn_shading, colors, 12.0); }},
      {"trn_shading", "066_148", kDirectory, [&] { return region.Run(trn_shading, colors, 12.0); }},
      {"trn_elevation_post", "066_148", kFull, [&] { return region.Run(trn_elevation_post); }},
      {"trn_color_post", "066_148.c32", kDirectory,
       [&] { return region.Run(trn_color_post, 2.5, 2); }},
      {"trn_color_post", "066_148", kFull, [&] { return region.Run(trn_color_post, 2.5, 2); }},
      {"trn_color_post", "066_148.tmp", kFull, [&] { return region.Run(trn_color_post, 2.5, 2); }},
      {"trn_rasterfile", "066_148", kDirectory,
       [&] { return region.Run(trn_rasterfile, "p.bmp", 2); }},
      {"trn_rasterfile", "p.bmp", kFull, [&] { return region.Run(trn_rasterfile, "p.bmp", 2); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.module) + " " + c.file);
    for (const auto& entry : std::filesystem::directory_iterator("."))
      std::filesystem::remove_all(entry.path());
    WriteGrid("grid", {1, 2, 3, 4});
    std::filesystem::remove(c.file);
    if (c.kind == kFull) {
      std::filesystem::create_symlink("/dev/full", c.file);
    } else {
      std::filesystem::create_directory(c.file);
    }
    const Output o = Capture([&] { EXPECT_EQ(c.pass(), -1); });
    const std::string module = c.module;
    EXPECT_EQ(o.err, c.kind == kFull ? module + ": No space left on device\n" + module +
                                           ": Can't write " + c.file + "\n"
                                     : module + ": Is a directory\n" + module + ": Can't read " +
                                           c.file + "\n");
  }
}

// A region off the globe is refused by every pass before it opens or creates a file, with one
// line that names the pass and the value. Each region would make a tile or two if it were not
// refused, never more.
TEST_F(PassesFileTest, RegionsOffTheGlobeAreRefusedBeforeAnyFile) {
  const uint8_t colors[kShadeColorsSize] = {0, 20, 55, 40, 0, 105, 180, 140};
  const struct {
    Corners corners;
    const char* refusal;
  } regions[] = {
      {{-180.5, 48, -180.4, 48.0001}, "region longitude -180.5 is off the globe (-180..180)"},
      {{-123, 90.1, -122.999, 90.2}, "region latitude 90.1 is off the globe (-90..90)"},
      {{-123, 48, -122.999, std::numeric_limits<double>::quiet_NaN()},
       "region latitude nan is off the globe (-90..90)"},
  };
  const struct {
    const char* module;
    std::function<int(const Corners&)> pass;
  } passes[] = {
      {"trn_elevation", [](const Corners& r) { return r.Run(trn_elevation, "grid", 2, 2); }},
      {"trn_color", [](const Corners& r) { return r.Run(trn_color, "grid", 2, 2, 1.0); }},
      {"trn_shading", [&](const Corners& r) { return r.Run(trn_shading, colors, 12.0); }},
      {"trn_elevation_post", [](const Corners& r) { return r.Run(trn_elevation_post); }},
      {"trn_color_post", [](const Corners& r) { return r.Run(trn_color_post, 2.5, 2); }},
      {"trn_levels", [](const Corners& r) { return r.Run(trn_levels); }},
      {"trn_rasterfile", [](const Corners& r) { return r.Run(trn_rasterfile, "p.bmp", 2); }},
  };
  WriteGrid("grid", {1, 2, 3, 4});
  for (const auto& p : passes) {
    for (const auto& r : regions) {
      SCOPED_TRACE(std::string(p.module) + ": " + r.refusal);
      const Output o = Capture([&] { EXPECT_EQ(p.pass(r.corners), -1); });
      EXPECT_EQ(o.err, std::string(p.module) + ": " + r.refusal + "\n");
      EXPECT_EQ(o.out, "");
      const auto entries = std::filesystem::directory_iterator(".");
      EXPECT_EQ(std::distance(begin(entries), end(entries)), 1);  // the grid alone
    }
  }
}

// Every open, read, write and close of every pass, made to fail in turn by the tile files' test
// hook: each is reported by the pass, naming the file, and ends the pass with -1; the files
// named are all the files the pass opens, reads, writes or closes. An open that fails falls
// back to a temporary file for an input tile, which then fails as well ("tmpfile()"); the level
// pass reports its opens with the system's message alone, and leaves the level file missing.
TEST_F(PassesFileTest, EveryFailingCallOfEveryPassIsReported) {
  using tilefile_test::Call;
  const uint8_t colors[kShadeColorsSize] = {0, 20, 55, 40, 0, 105, 180, 140};
  // The region's last column reaches the tile's east edge, so the shading pass reads the
  // missing tile east of it too.
  const Corners region = TilePosts(66, 148, 1020, 1023, 0, 3);
  const std::string levels[] = {"066_148_0", "066_148_1", "066_148_2",
                                "066_148_3", "066_148_4", "066_148_5"};
  using Names = std::set<std::string>;
  const Names level_files(std::begin(levels), std::end(levels));
  Names tile_and_levels = level_files;
  tile_and_levels.insert("066_148");
  struct Case {
    const char* module;
    std::function<int()> pass;
    std::map<Call, Names> names;  // the files named by the failures of each call
  } cases[] = {
      {"trn_elevation",
       [&] { return region.Run(trn_elevation, "grid", 2, 2); },
       {{Call::kOpen, {"grid", "066_148"}},
        {Call::kRead, {"grid", "066_148"}},
        {Call::kWrite, {"066_148"}},
        {Call::kClose, {"grid", "066_148"}}}},
      {"trn_color",
       [&] { return region.Run(trn_color, "grid", 2, 2, 1.0); },
       {{Call::kOpen, {"grid", "066_148.c32"}},
        {Call::kRead, {"grid", "066_148.c32"}},
        {Call::kWrite, {"066_148.c32"}},
        {Call::kClose, {"grid", "066_148.c32"}}}},
      {"trn_shading",
       [&] { return region.Run(trn_shading, colors, 12.0); },
       {{Call::kOpen, {"tmpfile()", "066_148.c32"}},
        {Call::kRead, {"066_148", "067_148", "066_148.c32"}},
        {Call::kWrite, {"066_148.c32"}},
        {Call::kClose, {"066_148", "067_148", "066_148.c32"}}}},
      {"trn_elevation_post",
       [&] { return region.Run(trn_elevation_post); },
       {{Call::kOpen, {"066_148"}},
        {Call::kRead, {"066_148"}},
        {Call::kWrite, {"066_148"}},
        {Call::kClose, {"066_148"}}}},
      {"trn_color_post",
       [&] { return region.Run(trn_color_post, 2.5, 2); },
       {{Call::kOpen, {"tmpfile()", "066_148", "066_148.tmp"}},
        {Call::kRead, {"066_148.c32", "066_148", "066_148.tmp"}},
        {Call::kWrite, {"066_148", "066_148.tmp"}},
        {Call::kClose, {"066_148.c32", "066_148", "066_148.tmp"}}}},
      {"trn_levels",
       [&] { return region.Run(trn_levels); },
       {{Call::kOpen, tile_and_levels},
        {Call::kRead, {"066_148"}},
        {Call::kWrite, level_files},
        {Call::kClose, level_files}}},  // the tile's close is not looked at
      {"trn_rasterfile",
       [&] { return region.Run(trn_rasterfile, "p.bmp", 2); },
       {{Call::kOpen, {"p.bmp", "tmpfile()"}},
        {Call::kRead, {"066_148"}},
        {Call::kWrite, {"p.bmp"}},
        {Call::kClose, {"066_148", "p.bmp"}}}},
  };
  const std::map<Call, std::string> verbs = {{Call::kOpen, "open"},
                                             {Call::kRead, "read"},
                                             {Call::kWrite, "write"},
                                             {Call::kClose, "close"}};
  const std::string system_error = std::strerror(EIO);
  const std::regex report("(.+): " + system_error + "\n(.+): Can't (\\w+) (\\S+)\n");
  for (const Case& c : cases) {
    for (const auto& [call, expected_names] : c.names) {
      const std::string verb = verbs.at(call);
      SCOPED_TRACE(std::string(c.module) + " " + verb);
      Names named;
      int failed_calls = 0;
      for (int skip = 0;; ++skip) {
        SCOPED_TRACE("after " + std::to_string(skip) + " calls that succeed");
        for (const auto& entry : std::filesystem::directory_iterator("."))
          std::filesystem::remove_all(entry.path());
        WriteGrid("grid", {1, 2, 3, 4});
        WriteFileBytes("066_148", std::vector<uint8_t>(16, 1));
        WriteFileBytes("066_148.c32", std::vector<uint8_t>(16, 2));
        int result = 0, injected = 0;
        const Output o = Capture([&] {
          tilefile_test::ScopedFaults faults;
          faults.Fail(call, EIO, skip, -1);
          result = c.pass();
          injected = faults.Injected();
        });
        if (injected == 0) {
          EXPECT_EQ(result, 0) << o.err;
          break;
        }
        ++failed_calls;
        EXPECT_EQ(result, -1);
        std::smatch m;
        if (std::regex_match(o.err, m, report)) {
          EXPECT_THAT(m[1].str(), testing::AnyOf(c.module, "Write failed"));
          EXPECT_EQ(m[2].str(), c.module);
          EXPECT_EQ(m[3].str(), verb);
          named.insert(m[4].str());
        } else {
          ADD_FAILURE() << "not one report: " << o.err;
        }
      }
      EXPECT_GT(failed_calls, 0);
      EXPECT_EQ(named, expected_names);
    }
  }
}

}  // namespace
