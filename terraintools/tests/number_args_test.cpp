// The number arguments of the terrain programs: the forms each accepts, the refusal of a word
// that is not a number as a whole, and good forms read as they always were.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cmdline.h"
#include "program_run.h"
#include "programs.h"

namespace {

namespace fs = std::filesystem;

TEST(NumberForms, WholeWordsOnly) {
  const struct {
    NumberForm form;
    std::vector<const char*> good, bad;
  } cases[] = {
      {NumberForm::kInteger,
       {"48", " 48", "+48", "-124", "36.75", "\t7", "007", "5.", ".5", "-0", "99999999999"},
       {"", " ", "x", "4b6", "-l23", "1e1", "48 ", "--1", "+", ".", "-.", "1.2.3", "0x10", "36,75",
        "inf", "nan"}},
      {NumberForm::kReal,
       {"48", " 48", "+48", "-124", "36.75", "14.5", "1e1", "-0x1p3", ".5", "5.", "1e-999"},
       {"", "x", "1x.5", "14.5 ", "e1", "1e", "inf", "-infinity", "nan", "1e999", "36,75"}},
      {NumberForm::kBound,
       {"48", " -124", "+36.75", "-2e9", "181e-5", "inf", "-inf", "NaN", "1e999"},
       {"", "x", "-l23", "1x.5", "48 ", "48,5", "e1"}},
  };
  for (const auto& c : cases) {
    for (const char* text : c.good) EXPECT_TRUE(IsNumber(text, c.form)) << "'" << text << "'";
    for (const char* text : c.bad) EXPECT_FALSE(IsNumber(text, c.form)) << "'" << text << "'";
  }
  // An integer's fraction is dropped, and one beyond the int range is held to it.
  EXPECT_EQ(ArgToInt("36.75"), 36);
  EXPECT_EQ(ArgToInt(" +48"), 48);
  EXPECT_EQ(ArgToInt("-0.9"), 0);
  EXPECT_EQ(ArgToInt("99999999999"), INT_MAX);
}

class NumberArgsTest : public TerrainDirTest {};

// A word that is not a number is refused with one line before anything is read or made, even
// where the input named is missing.
TEST_F(NumberArgsTest, NotANumberIsRefusedBeforeAnyFile) {
  WriteFileBytes("in.raw", {1, 0, 2, 0, 3, 0, 4, 0});
  const std::vector<std::string> gridforge = {"in.raw", "0", "1", "0", "1", "2", "2", "12"};
  auto gridforge_with = [&](size_t position, const std::string& word) {
    std::vector<std::string> args = gridforge;
    args[position - 1] = word;
    return args;
  };
  const struct {
    const char* program;
    std::vector<std::string> args;
    const char* line;
  } cases[] = {
      {TILEPRINT_PATH,
       {"-124", "-l23", "48", "49", "r.bmp"},
       "tileprint: long_max is not a number: '-l23'"},
      {TILEPRINT_PATH,
       {"-124", "-123", "48", "49x", "r.bmp"},
       "tileprint: lat_max is not a number: '49x'"},
      {GRIDFORGE_PATH, gridforge_with(6, "4b6"), "gridforge: NumberColumns is not a number: '4b6'"},
      {GRIDFORGE_PATH, gridforge_with(6, "x"), "gridforge: NumberColumns is not a number: 'x'"},
      {GRIDFORGE_PATH, gridforge_with(7, "1e3"), "gridforge: NumberRows is not a number: '1e3'"},
      {GRIDFORGE_PATH, gridforge_with(8, "1x.5"), "gridforge: TimeOfDay is not a number: '1x.5'"},
      {GRIDFORGE_PATH, gridforge_with(8, "inf"), "gridforge: TimeOfDay is not a number: 'inf'"},
      {GRIDFORGE_PATH, gridforge_with(2, "48 "), "gridforge: LatitudeMin is not a number: '48 '"},
      // gridforge's bounds are whole degrees: an exponent, a hexadecimal number, an infinity are
      // not, where they would be cut at their first letter ("4.8e1" to 4, "0x30" to 0).
      {GRIDFORGE_PATH, gridforge_with(2, "0x30"), "gridforge: LatitudeMin is not a number: '0x30'"},
      {GRIDFORGE_PATH, gridforge_with(3, "4.8e1"),
       "gridforge: LatitudeMax is not a number: '4.8e1'"},
      {GRIDFORGE_PATH, gridforge_with(4, "-2e9"),
       "gridforge: LongitudeMin is not a number: '-2e9'"},
      {GRIDFORGE_PATH, gridforge_with(5, "181e-5"),
       "gridforge: LongitudeMax is not a number: '181e-5'"},
      {GRIDFORGE_PATH, gridforge_with(4, "NaN"), "gridforge: LongitudeMin is not a number: 'NaN'"},
      {GRIDFORGE_PATH, gridforge_with(5, "inf"), "gridforge: LongitudeMax is not a number: 'inf'"},
      {GRIDFORGE_PATH, gridforge_with(5, ""), "gridforge: LongitudeMax is not a number: ''"},
      {GRIDFORGE_PATH,
       gridforge_with(5,
                      "-1\x1b"
                      "c"),
       "gridforge: LongitudeMax is not a number: '-1\\x1Bc'"},
      // The first word that is not a number is the one named.
      {GRIDFORGE_PATH,
       {"missing.raw", "0", "N", "0", "1", "two", "2", "12"},
       "gridforge: LatitudeMax is not a number: 'N'"},
      {TINTSHADE_PATH,
       {"-123.01", "-123.0", "48.0", "48.01", "none"},
       "tintshade: levels is not a number: 'none'"},
      {TINTSHADE_PATH,
       {"-123.01", "-123.0", "48,0", "48.01", "0"},
       "tintshade: lat_min is not a number: '48,0'"},
      {LANDIMPORT_PATH,
       {"missing.ctg", "90deg", "0", "0", "1", "1"},
       "landimport: Rot(deg) is not a number: '90deg'"},
      {LANDIMPORT_PATH,
       {"missing.ctg", "nan", "0", "0", "1", "1"},
       "landimport: Rot(deg) is not a number: 'nan'"},
      {LANDIMPORT_PATH,
       {"missing.ctg", "0", "0", "0", "1", "inf"},
       "landimport: SizeY is not a number: 'inf'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const ProgramRun run = RunProgram(c.program, c.args);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, std::string(c.line) + "\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(FilesIn("."), std::set<std::string>{"in.raw"});
  }
}

// Blanks before a number, a sign, a fraction and an exponent where a real number is read: each
// run gives what the plain numbers give, byte for byte.
TEST_F(NumberArgsTest, GoodFormsReadAsThePlainNumbers) {
  WriteFileBytes("in.raw", {100, 0, 200, 0, 44, 1, 144, 1});
  fs::copy_file(SMALL_CTG, "l.ctg");
  const struct {
    int (*run)(int, char**);
    std::vector<std::string> words, plain;
    std::vector<std::string> inputs;
  } cases[] = {
      // The bounds are cut toward zero: -1.9 is -1, -0.5 and .5 are 0.
      {RunGridforge,
       {"gridforge", "in.raw", " -0.5", "+1.75", "-1.9", ".5", "2.9", " 2", "1e1"},
       {"gridforge", "in.raw", "0", "1", "-1", "0", "2", "2", "10"},
       {"in.raw"}},
      {RunTileprint,
       {"tileprint", " -123.01", "-1.23e2", "+48", "4801e-2", "p.bmp"},
       {"tileprint", "-123.01", "-123", "48", "48.01", "p.bmp"},
       {}},
      {RunTintshade,
       {"tintshade", "-123.01", "-123", "48", "48.01", "0.75"},
       {"tintshade", "-123.01", "-123", "48", "48.01", "0"},
       {}},
      {RunLandimport,
       {"landimport", "l.ctg", "0.0", " 0", "+0", "1e0", "0x1p0"},
       {"landimport", "l.ctg", "0", "0", "0", "1", "1"},
       {"l.ctg"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words[0]);
    const InProcessRun forms = RunInProcess(c.run, "forms", c.words, c.inputs);
    EXPECT_EQ(forms.status, 0) << forms.err;
    EXPECT_EQ(Differences(forms, RunInProcess(c.run, "plain", c.plain, c.inputs)), "");
    fs::remove_all("forms");
    fs::remove_all("plain");
  }
}

}  // namespace
