// x86's conversions of a double to a 32-bit integer and the C library's generator.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "support/CLibraryRandom.h"
#include "support/Truncate.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Conversions, TruncateToInt32LikeX86) {
  const struct {
    double in;
    std::int32_t out;
  } cases[] = {{7.9, 7},
               {2.9, 2},
               {-1.0, -1},
               {-1.9, -1},
               {12.9, 12},
               {-12.9, -12},
               {40000.0, 40000},
               {2147483647.9, INT32_MAX},
               {-2147483648.9, INT32_MIN},
               {2147483648.0, INT32_MIN},
               {-2147483649.0, INT32_MIN},
               {-1e300, INT32_MIN},
               {kInf, INT32_MIN},
               {-kInf, INT32_MIN},
               {kNaN, INT32_MIN}};
  for (const auto& c : cases) EXPECT_EQ(TruncateToInt32(c.in), c.out) << c.in;
}

TEST(Conversions, FloorToInt32LikeX86) {
  const struct {
    double in;
    std::int32_t out;
  } cases[] = {{7.9, 7},
               {-0.5, -1},
               {-1.0, -1},
               {-1.5, -2},
               {-0.0, 0},
               {2147483647.9, INT32_MAX},
               {-2147483648.0, INT32_MIN},
               {-2147483648.5, INT32_MIN},
               {2147483648.0, INT32_MIN},
               {kInf, INT32_MIN},
               {kNaN, INT32_MIN}};
  for (const auto& c : cases) EXPECT_EQ(FloorToInt32(c.in), c.out) << c.in;
}

TEST(CLibraryRandom, DrawsOfTheCLibrary) {
  // Never seeded: the platform's rand() sequence from its start.
  CLibraryRandom unseeded;
  for (const std::int32_t draw : {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358})
    EXPECT_EQ(unseeded.Next(), draw);
  // The first draw after seeding, the top bit of the state set or not.
  const struct {
    std::uint32_t seed;
    std::int32_t draw;
  } seeded[] = {{0, 38}, {1, 41}, {1796963347u, 2}, {2147483647u, 35}, {0xFFFFFFFFu, 35}};
  for (const auto& c : seeded) EXPECT_EQ(CLibraryRandom(c.seed).Next(), c.draw) << c.seed;
}

}  // namespace
