#include <gtest/gtest.h>

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
#include "TempDirTest.h"
#include "TextFileStream.h"
#include "ValueFormat.h"

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

// printf's "%.6g" with its exponent widened to three digits, for many values of every size.
TEST(General6, AgreesWithPrintfEverywhere) {
  std::mt19937_64 random(20261210);
  for (int i = 0; i < 200000; ++i) {
    double value;
    const std::uint64_t bits = random();
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    if (i % 2 == 0)
      value = std::ldexp(static_cast<double>(bits % 2000001) - 1000000.0, i % 80 - 60);
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.6g", value);
    std::string wide = expected;
    const auto e = wide.find('e');
    if (e != std::string::npos && wide.size() - (e + 2) == 2) wide.insert(e + 2, "0");
    ASSERT_EQ(General6(value), wide) << expected;
  }
}

// Where rounding is closest to going wrong: exact ties at the sixth digit, their neighbours one
// step of the last bit away, and the values around every power of ten in the range.
TEST(General6, AgreesWithPrintfAtHalfwayPointsAndPowersOfTen) {
  std::vector<double> values;
  std::mt19937_64 random(6);
  for (int exponent = -20; exponent <= 30; ++exponent) {
    const double power = std::pow(10.0, exponent);
    values.push_back(power);
    for (int steps = 1; steps < 4; ++steps) {
      values.push_back(std::nextafter(values.back(), 0.0));
    }
    values.push_back(power * 0.9999995);
    values.push_back(power * 0.99999949999);
    // Six digits and a half, exact whenever the power of two below allows it.
    for (int i = 0; i < 200; ++i) {
      const double digits = 100000.0 + static_cast<double>(random() % 900000) + 0.5;
      const double tie = std::ldexp(std::round(std::ldexp(digits, 20)), -20);
      const double scaled =
          exponent >= 5 ? tie * std::pow(10.0, exponent - 5) : tie / std::pow(10.0, 5 - exponent);
      values.push_back(scaled);
      values.push_back(std::nextafter(scaled, 0.0));
      values.push_back(std::nextafter(scaled, 1e300));
    }
  }
  for (const double half : {0.5, 2.5, 5000.125, 500012.5, 123456.5, 999999.5, 1.0000005, 0.03125}) {
    values.push_back(half);
    values.push_back(std::nextafter(half, 0.0));
    values.push_back(std::nextafter(half, 1e300));
  }
  for (const double magnitude : values) {
    for (const double value : {magnitude, -magnitude}) {
      char expected[64];
      std::snprintf(expected, sizeof expected, "%.6g", value);
      std::string wide = expected;
      const auto e = wide.find('e');
      if (e != std::string::npos && wide.size() - (e + 2) == 2) wide.insert(e + 2, "0");
      ASSERT_EQ(General6(value), wide) << expected;
    }
  }
}

TEST(TruncateToInt32, TruncatesTowardZeroAndGivesIndefiniteOutOfRange) {
  EXPECT_EQ(playback::TruncateToInt32(7.9), 7);
  EXPECT_EQ(playback::TruncateToInt32(-1.0), -1);
  EXPECT_EQ(playback::TruncateToInt32(-1.9), -1);
  EXPECT_EQ(playback::TruncateToInt32(2.9), 2);
  EXPECT_EQ(playback::TruncateToInt32(2147483647.9), INT32_MAX);
  EXPECT_EQ(playback::TruncateToInt32(-2147483648.9), INT32_MIN);
  EXPECT_EQ(playback::TruncateToInt32(2147483648.0), INT32_MIN);
  EXPECT_EQ(playback::TruncateToInt32(-1e300), INT32_MIN);
  EXPECT_EQ(playback::TruncateToInt32(std::numeric_limits<double>::infinity()), INT32_MIN);
  EXPECT_EQ(playback::TruncateToInt32(std::numeric_limits<double>::quiet_NaN()), INT32_MIN);
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

using TextFileStreamTest = playback_test::TempDirTest;

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
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
}

}  // namespace
