#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "DataFileName.h"
#include "PlaybackRow.h"
#include "TextFileStream.h"
#include "ValueFormat.h"
#include "testsupport/TempDirTest.h"

namespace {

std::string General6(double value) {
  char text[playback::kMaxGeneral6Length];
  return std::string(text, playback::FormatGeneral6(value, text));
}

TEST(General6, WritesTheSimulatorsForms) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0.0, "0"},
      {-0.0, "-0"},
      {1.5, "1.5"},
      {-2.0, "-2"},
      {1.0, "1"},
      {0.5, "0.5"},
      {100000.0, "100000"},
      {999999.0, "999999"},
      {999999.5, "1e+006"},
      {1000000.0, "1e+006"},
      {1234567.0, "1.23457e+006"},
      {-1234567.0, "-1.23457e+006"},
      {0.0001, "0.0001"},
      {0.000123456789, "0.000123457"},
      {0.00001, "1e-005"},
      {0.0000001, "1e-007"},
      {1e100, "1e+100"},
      {-2.2250738585072014e-308, "-2.22507e-308"},
      {4.9406564584124654e-324, "4.94066e-324"},
      {std::numeric_limits<double>::max(), "1.79769e+308"},
      {0.1 + 0.2, "0.3"},
      {2.5e-5, "2.5e-005"},
      {123456.5, "123456"},  // a tie rounds to even, as printf does
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
      {std::numeric_limits<double>::quiet_NaN(), "nan"},
      {-std::numeric_limits<double>::quiet_NaN(), "nan"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(General6(c.value), c.text) << c.value;
  }
}

// printf's "%.6g" with its exponent widened to at least three digits.
std::string PrintfGeneral6(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", value);
  std::string wide = text;
  const auto e = wide.find('e');
  if (e != std::string::npos && wide.size() - (e + 2) == 2) wide.insert(e + 2, "0");
  return wide;
}

double FromBits(std::uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// The value and its neighbours up to `steps` representable values away on either side.
void AddWithNeighbours(std::vector<double>& values, double value, int steps) {
  values.push_back(value);
  double below = value;
  double above = value;
  for (int i = 0; i < steps; ++i) {
    below = std::nextafter(below, 0.0);
    above = std::nextafter(above, HUGE_VAL);
    values.push_back(below);
    values.push_back(above);
  }
}

void ExpectAgreesWithPrintf(const std::vector<double>& magnitudes) {
  for (const double magnitude : magnitudes) {
    for (const double value : {magnitude, -magnitude}) {
      ASSERT_EQ(General6(value), PrintfGeneral6(value)) << std::hexfloat << value;
    }
  }
}

// Random doubles: bit patterns over the whole range, random mantissas at every binary exponent
// from the subnormals to the largest, and short dyadic fractions, which are often exact ties.
TEST(General6, AgreesWithPrintfOnRandomValues) {
  std::mt19937_64 random(20261210);
  std::vector<double> values;
  for (int i = 0; i < 200000; ++i) {
    const double value = FromBits(random() & ~(1ull << 63));
    if (std::isfinite(value)) values.push_back(value);
  }
  for (std::uint64_t exponent = 0; exponent < 2047; ++exponent) {
    for (int i = 0; i < 200; ++i) {
      values.push_back(FromBits(exponent << 52 | (random() & ((1ull << 52) - 1))));
    }
  }
  for (int i = 0; i < 200000; ++i) {
    const std::uint64_t bits = random();
    values.push_back(
        std::ldexp(static_cast<double>(bits % 2000001), static_cast<int>(i % 80) - 60));
  }
  ExpectAgreesWithPrintf(values);
}

// Where rounding is closest to going wrong: the doubles nearest to a decimal tie at the sixth
// digit, exact dyadic ties, six-digit values themselves, and the values around every power of
// ten and every point where the rounding carries into a new power of ten.
TEST(General6, AgreesWithPrintfAtHalfwayPointsAndPowersOfTen) {
  std::vector<double> values;
  std::mt19937_64 random(6);
  for (int exponent = -330; exponent <= 310; ++exponent) {
    for (const char* mantissa : {"1", "9.999995", "9.99999499999", "9.9999950001"}) {
      const std::string text = std::string(mantissa) + "e" + std::to_string(exponent);
      AddWithNeighbours(values, std::strtod(text.c_str(), nullptr), 8);
    }
    for (int i = 0; i < 100; ++i) {
      const std::string digits = std::to_string(100000 + random() % 900000);
      const std::string e = "e" + std::to_string(exponent - 5);
      AddWithNeighbours(values, std::strtod((digits + ".5" + e).c_str(), nullptr), 2);
      AddWithNeighbours(values, std::strtod((digits + e).c_str(), nullptr), 1);
    }
  }
  // Six digits and a half, exact whenever the power of two below allows it, scaled by a power
  // of ten in one rounding.
  for (int exponent = -20; exponent <= 30; ++exponent) {
    for (int i = 0; i < 200; ++i) {
      const double digits = 100000.0 + static_cast<double>(random() % 900000) + 0.5;
      const double tie = std::ldexp(std::round(std::ldexp(digits, 20)), -20);
      const double scaled =
          exponent >= 5 ? tie * std::pow(10.0, exponent - 5) : tie / std::pow(10.0, 5 - exponent);
      AddWithNeighbours(values, scaled, 1);
    }
  }
  for (const double half : {0.5, 2.5, 5000.125, 500012.5, 123456.5, 999999.5, 1.0000005, 0.03125,
                            9.5e-5, 0.000099999950000000004}) {
    AddWithNeighbours(values, half, 1);
  }
  // The ends of the range: the smallest subnormals, the subnormal to normal step, the largest.
  for (const double end : {FromBits(1), FromBits((1ull << 52) - 1), FromBits(1ull << 52),
                           std::numeric_limits<double>::max()}) {
    AddWithNeighbours(values, end, 1000);
  }
  ExpectAgreesWithPrintf(values);
}

TEST(DataFileName, NumbersTheVehicleWithTwoDigitsAtLeast) {
  EXPECT_EQ(playback::FormatDataFileName("run", 3), "run03.dat");
  EXPECT_EQ(playback::FormatDataFileName("run", 12), "run12.dat");
  EXPECT_EQ(playback::FormatDataFileName("run", 100), "run100.dat");
  EXPECT_EQ(playback::FormatDataFileName("base", 0), "base00.dat");
  EXPECT_EQ(playback::FormatDataFileName("base", -1), "base-01.dat");
  EXPECT_EQ(playback::FormatDataFileName("C:\\runs\\f16_", 1), "C:\\runs\\f16_01.dat");
  EXPECT_EQ(playback::FormatDataFileName("", INT32_MIN), "-2147483648.dat");
  const std::string longBase(300, 'a');
  EXPECT_EQ(playback::FormatDataFileName(longBase.c_str(), 5), longBase + "05.dat");
}

// Rows longer than the row writer gathers at once, with a value ending at every position.
TEST(WriteRow, WritesLongRowsWhole) {
  const double small = 0.0;
  const double wide = -2.2250738585072014e-308;  // the longest text, 13 characters
  for (int lead = 0; lead < 7; ++lead) {
    for (int count = 140; count < 300; count += count < 150 ? 1 : 50) {
      std::vector<const double*> values(static_cast<std::size_t>(lead), &small);
      values.resize(values.size() + static_cast<std::size_t>(count), &wide);
      std::ostringstream out;
      playback::WriteRow(out, values.data(), static_cast<std::int32_t>(values.size()));
      std::string expected;
      for (int i = 0; i < lead; ++i) expected += "0\t";
      for (int i = 0; i < count; ++i) expected += "-2.22507e-308\t";
      ASSERT_EQ(out.str(), expected + "\n") << lead << " " << count;
    }
  }
  std::ostringstream empty;
  playback::WriteRow(empty, nullptr, 0);
  EXPECT_EQ(empty.str(), "\n");
}

using TextFileStreamTest = kyte::testsupport::TempDirTest;

TEST_F(TextFileStreamTest, EndsEveryLineWithCarriageReturnAndLineFeed) {
  const std::string name = (dir_ / "lines.txt").string();
  {
    playback::CTextFileStream out(name.c_str());
    ASSERT_TRUE(out.is_open());
    out << "one\n\n" << 2 << '\n';
    out.flush();
    EXPECT_EQ(Read("lines.txt"), "one\r\n\r\n2\r\n");
    // More than the buffer holds, with a line end falling on its boundary.
    out << std::string(4095, 'x') << "\n" << std::string(5000, 'y') << '\n';
  }
  EXPECT_EQ(Read("lines.txt"),
            "one\r\n\r\n2\r\n" + std::string(4095, 'x') + "\r\n" + std::string(5000, 'y') + "\r\n");
}

TEST_F(TextFileStreamTest, AppendsToWhatOthersWrote) {
  const std::string name = (dir_ / "append.txt").string();
  { playback::CTextFileStream(name.c_str()) << "first\n"; }
  playback::CTextFileStream out(name.c_str(), playback::CTextFileStream::Mode::kAppend);
  std::ofstream(name, std::ios::app | std::ios::binary) << "other";
  out << "second\n" << std::flush;
  EXPECT_EQ(Read("append.txt"), "first\r\nothersecond\r\n");
}

TEST_F(TextFileStreamTest, AFileThatCannotBeOpenedDropsEverything) {
  const std::string name = (dir_ / "missing" / "file.txt").string();
  playback::CTextFileStream out(name.c_str());
  EXPECT_FALSE(out.is_open());
  out << "lost\n" << std::flush;
  EXPECT_TRUE(out.fail());
  EXPECT_EQ(out.error(), ENOENT);
  EXPECT_FALSE(out.close());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
}

}  // namespace
