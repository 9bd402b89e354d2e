// x86's conversion of a double to a 32-bit integer, the C library's generator, the test hooks'
// fault countdowns, the hosts' lists of values and the quoting of outside bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "support/CLibraryRandom.h"
#include "support/FaultCountdown.h"
#include "support/InputLines.h"
#include "support/PrintableText.h"
#include "support/Truncate.h"
#include "support/ValueList.h"
#include "testsupport/TempDir.h"

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

TEST(FaultCountdown, SkipsThenFailsTimesCalls) {
  const struct {
    int skip, times;
    const char* calls;  // the first ten calls: '.' passes, 'x' fails
  } cases[] = {
      {0, 0, ".........."}, {5, 0, ".........."},  {0, 1, "x........."},  {2, 1, "..x......."},
      {1, 3, ".xxx......"}, {0, -1, "xxxxxxxxxx"}, {3, -1, "...xxxxxxx"},
  };
  for (const auto& c : cases) {
    FaultCountdown countdown(c.skip, c.times);
    std::string calls;
    for (int i = 0; i < 10; ++i) calls += countdown.Falls() ? 'x' : '.';
    EXPECT_EQ(calls, c.calls) << c.skip << " " << c.times;
  }
  FaultCountdown none;
  EXPECT_FALSE(none.Falls());
}

TEST(PrintableText, ControlBytesAsHexEveryOtherByteAsItIs) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"-0.4392D+06 ~ C:\\x41", "-0.4392D+06 ~ C:\\x41"},
      {"-E\033c", "-E\\x1Bc"},  // ESC c resets a terminal
      {std::string("\0\x01\x1F\x20", 4), "\\x00\\x01\\x1F "},
      {"\x7E\x7F\x80\x9F\xA0\xFF", "~\\x7F\\x80\\x9F\xA0\xFF"},
      {"\r\n\t\a", "\\x0D\\x0A\\x09\\x07"},
  };
  for (const auto& c : cases) EXPECT_EQ(PrintableText(c.in), c.out) << c.out;
  EXPECT_EQ(QuotedText("-l23"), "'-l23'");
  EXPECT_EQ(QuotedText("\033]0;T\a"), "'\\x1B]0;T\\x07'");
}

enum class Kind { kOpen, kRead, kWrite };

TEST(FaultCountdown, EachKindOfCallHasItsOwnCountdownAndError) {
  FaultTable<Kind, 3, unsigned> faults;
  unsigned error = 7;
  EXPECT_FALSE(faults.Falls(Kind::kRead, error));
  faults.Fail(Kind::kRead, 5, 1, 1);
  faults.Fail(Kind::kWrite, 9, 0, -1);
  EXPECT_FALSE(faults.Falls(Kind::kOpen, error));
  EXPECT_FALSE(faults.Falls(Kind::kRead, error));
  EXPECT_EQ(error, 7u);  // a call that passes leaves the error as it was
  EXPECT_TRUE(faults.Falls(Kind::kRead, error));
  EXPECT_EQ(error, 5u);
  EXPECT_TRUE(faults.Falls(Kind::kWrite, error));
  EXPECT_EQ(error, 9u);
  EXPECT_FALSE(faults.Falls(Kind::kRead, error));
  EXPECT_EQ(faults.Failed(), 2);

  faults.Fail(Kind::kWrite, 4, 0, 1);  // in place of the countdown for ever
  EXPECT_TRUE(faults.Falls(Kind::kWrite, error));
  EXPECT_EQ(error, 4u);
  EXPECT_FALSE(faults.Falls(Kind::kWrite, error));

  faults.Fail(Kind::kOpen, 1, 0, -1);
  faults.Clear();
  EXPECT_EQ(faults.Failed(), 0);
  EXPECT_FALSE(faults.Falls(Kind::kOpen, error));
}

// The hosts' lists: commas, blanks, tabs or carriage returns between the values, brackets
// around all of them or none.
TEST(ValueList, SplitsWithOrWithoutBrackets) {
  using Words = std::vector<std::string>;
  const struct {
    const char* text;
    std::optional<Words> words;
  } cases[] = {
      {"1,2,3", Words{"1", "2", "3"}},
      {"[1 2 3]", Words{"1", "2", "3"}},
      {" [1, 2,\t3] \r", Words{"1", "2", "3"}},
      {"-1.5e3\t0x10  ,, inf\r", Words{"-1.5e3", "0x10", "inf"}},
      {"7", Words{"7"}},
      {"[7]", Words{"7"}},
      {"", Words{}},
      {" , ", Words{}},
      {"[]", Words{}},
      {"[ ]", Words{}},
      {"[1 2", std::nullopt},
      {"1 2]", std::nullopt},
      {"[1] [2]", std::nullopt},
      {"[[1 2]]", std::nullopt},
      {"1 [2] 3", std::nullopt},
      {"[", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitValueList(c.text), c.words) << c.text;
}

// The hosts' input files: every line that holds more than blanks, with its number; a line
// longer than any row needs, an unreadable file or the first refused row ends the reading.
TEST(InputLines, HandsOverEachLineOrTheReasonItStopped) {
  const kyte::testsupport::TempDir temp("input-lines");
  const std::filesystem::path& dir = temp.path();
  const auto file = [&](const std::string& name, const std::string& text) {
    std::ofstream(dir / name, std::ios::binary) << text;
    return (dir / name).string();
  };
  const std::string longest(kMaxInputLine, '1');
  const struct {
    std::string file;
    std::string lines;  // "number:text|" for each line handed over
    std::string result;
  } cases[] = {
      {file("rows", "1 2\n\n \t\r\n3\r\n4"), "1:1 2|4:3\r|5:4|", ""},
      {file("empty", ""), "", ""},
      {file("longest", "x\n" + longest + "\n"), "1:x|2:" + longest + "|", ""},
      {file("long", "x\n" + longest + "1"), "1:x|",
       "line 2 of " + (dir / "long").string() + " is longer than 65536 bytes"},
      {file("refused", "1\nbad\n2\n"), "1:1|2:bad|", "refused line 2"},
      {"/dev/zero", "", "line 1 of /dev/zero is longer than 65536 bytes"},
      {dir.string(), "", "cannot read '" + dir.string() + "': Is a directory"},
      {(dir / "missing").string(), "",
       "cannot read '" + (dir / "missing").string() + "': No such file or directory"},
  };
  for (const auto& c : cases) {
    std::string lines;
    const std::string result = ReadInputLines(c.file, [&](long number, std::string_view line) {
      lines += std::to_string(number) + ":" + std::string(line) + "|";
      return line == "bad" ? "refused line " + std::to_string(number) : std::string();
    });
    EXPECT_EQ(lines, c.lines) << c.file;
    EXPECT_EQ(result, c.result) << c.file;
  }
}

}  // namespace
