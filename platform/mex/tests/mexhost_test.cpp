#include "mexhost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace kyte::mexhost;
using V = std::vector<double>;

V Describe(MexLibrary& lib, const mxArray* x) {
  ArrayPtr mode = Char("describe");
  CallResult r = lib.Call(1, {mode.get(), x});
  EXPECT_TRUE(r.ok) << r.error;
  return r.ok ? Values(r.outputs[0].get()) : V{};
}

TEST(MexHost, BuildsEveryKindOfArgument) {
  MexLibrary lib(MEX_PROBE_PATH);
  struct Case {
    const char* what;
    ArrayPtr array;
    V expected;  // double, numeric, char, complex, empty, m, n, elements, scalar, pr
  };
  const double re[] = {1.5, 2}, im[] = {-1, 4};
  const double ints[] = {2.6, -7, 1e12};
  Case cases[] = {
      {"scalar", Scalar(2.5), {1, 1, 0, 0, 0, 1, 1, 1, 2.5, 1}},
      {"row", Row({3, 25, 4, 16}), {1, 1, 0, 0, 0, 1, 4, 4, 3, 1}},
      {"matrix", Matrix(2, 3), {1, 1, 0, 0, 0, 2, 3, 6, 0, 1}},
      {"complex", Complex(1, 2, re, im), {1, 1, 0, 1, 0, 1, 2, 2, 1.5, 1}},
      {"int32", Numeric(mxINT32_CLASS, 1, 3, ints), {0, 1, 0, 0, 0, 1, 3, 3, 3, 0}},
      {"uint8",
       Numeric(mxUINT8_CLASS, 1, 1, std::span<const double>(ints + 1, 1)),
       {0, 1, 0, 0, 0, 1, 1, 1, 0, 0}},
      {"single", Numeric(mxSINGLE_CLASS, 1, 1, re), {0, 1, 0, 0, 0, 1, 1, 1, 1.5, 0}},
      {"char", Char("run"), {0, 0, 1, 0, 0, 1, 3, 3, 'r', 0}},
      {"empty 0x1", Empty(0, 1), {1, 1, 0, 0, 1, 0, 1, 0, 0, 0}},
      {"empty char", Char(""), {0, 0, 1, 0, 1, 0, 0, 0, 0, 0}},
      {"empty int16", Empty(1, 0, mxINT16_CLASS), {0, 1, 0, 0, 1, 1, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(Describe(lib, c.array.get()), c.expected) << c.what;
  // Integer classes round to nearest and saturate.
  EXPECT_EQ(Values(cases[4].array.get()), (V{3, -7, 2147483647}));
  EXPECT_EQ(ImagValues(cases[3].array.get()), (V{-1, 4}));
  EXPECT_EQ(ImagValues(cases[0].array.get()), V{});
}

TEST(MexHost, ErrorEndsTheCallWithTheMessageAndFreesWhatItMade) {
  MexLibrary lib(MEX_PROBE_PATH);
  ArrayPtr mode = Char("fail");
  ArrayPtr text = Char("mex_probe:: Unable to   find connection #8");
  CallResult r = lib.Call(0, {mode.get(), text.get()});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "mex_probe:: Unable to   find connection #8");
  EXPECT_TRUE(r.outputs.empty());

  CallResult none = lib.Call(0, {});
  EXPECT_EQ(none.error, "mex_probe:: first input must be a mode.\n");
  // The 100 x 100 array the failing call made is freed by the host (the leak checker of the
  // sanitizer build watches this).
}

TEST(MexHost, OutputsComeBackAlsoWhenNoneWasRequested) {
  MexLibrary lib(MEX_PROBE_PATH);
  ArrayPtr mode = Char("twice");
  ArrayPtr x = Matrix(2, 1, V{1, -4});
  CallResult r = lib.Call(0, {mode.get(), x.get()});
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.outputs.size(), 1u);
  EXPECT_EQ(mxGetM(r.outputs[0].get()), 2u);
  EXPECT_EQ(Values(r.outputs[0].get()), (V{2, -8}));

  CallResult two = lib.Call(2, {mode.get(), x.get()});
  ASSERT_EQ(two.outputs.size(), 2u);
  EXPECT_EQ(two.outputs[1], nullptr);

  const double re[] = {1, 2}, im[] = {3, 4};
  ArrayPtr c = Complex(2, 1, re, im);
  ArrayPtr sum = Char("sum");
  CallResult s = lib.Call(1, {sum.get(), c.get()});
  ASSERT_TRUE(s.ok) << s.error;
  EXPECT_EQ(Values(s.outputs[0].get()), (V{3, 7}));
}

TEST(MexHost, GetStringCutsToTheBuffer) {
  MexLibrary lib(MEX_PROBE_PATH);
  ArrayPtr mode = Char("string");
  struct Case {
    ArrayPtr array;
    double buflen;
    std::string text;
    double rc;
  };
  Case cases[] = {
      {Char("vehicle"), 8, "vehicle", 0},
      {Char("vehicle"), 7, "vehicl", 1},
      {Char("vehicle"), 1, "", 1},
      {Char(""), 4, "", 0},
      {Scalar(65), 4, "", 1},
  };
  for (const Case& c : cases) {
    ArrayPtr len = Scalar(c.buflen);
    CallResult r = lib.Call(2, {mode.get(), c.array.get(), len.get()});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(Text(r.outputs[0].get()), c.text);
    EXPECT_EQ(mxGetScalar(r.outputs[1].get()), c.rc) << c.text;
  }
}

TEST(MexHost, OnePathLoadedTwiceSharesTheLibraryUntilTheLastUnload) {
  ArrayPtr mode = Char("count");
  auto count = [&](MexLibrary& lib) {
    return mxGetScalar(lib.Call(1, {mode.get()}).outputs[0].get());
  };
  {
    MexLibrary a(MEX_PROBE_PATH);
    EXPECT_EQ(count(a), 1);
    MexLibrary b(MEX_PROBE_PATH);
    EXPECT_EQ(count(b), 2);
  }
  MexLibrary c(MEX_PROBE_PATH);
  EXPECT_EQ(count(c), 1);
  EXPECT_THROW(MexLibrary("/nonexistent/none.so"), std::runtime_error);
}

TEST(MexHost, ParsesMatlabLiterals) {
  struct Case {
    const char* text;
    mxClassID classid;
    std::size_t m, n;
    V values;
  };
  const Case cases[] = {
      {"3", mxDOUBLE_CLASS, 1, 1, {3}},
      {" -2.5e3 ", mxDOUBLE_CLASS, 1, 1, {-2500}},
      {"[3 25 4 16]", mxDOUBLE_CLASS, 1, 4, {3, 25, 4, 16}},
      {"[1, 2; 3, 4]", mxDOUBLE_CLASS, 2, 2, {1, 3, 2, 4}},
      {"[1;2;3]", mxDOUBLE_CLASS, 3, 1, {1, 2, 3}},
      {"[]", mxDOUBLE_CLASS, 0, 0, {}},
      // A row separator with no row before it adds none, as in MATLAB.
      {"[1 2;]", mxDOUBLE_CLASS, 1, 2, {1, 2}},
      {"[1;2;]", mxDOUBLE_CLASS, 2, 1, {1, 2}},
      {"[;]", mxDOUBLE_CLASS, 0, 0, {}},
      {"[1 2;;3 4]", mxDOUBLE_CLASS, 2, 2, {1, 3, 2, 4}},
      {"[;1 2]", mxDOUBLE_CLASS, 1, 2, {1, 2}},
      {"int32(5)", mxINT32_CLASS, 1, 1, {5}},
      {"uint8([1 300])", mxUINT8_CLASS, 1, 2, {1, 255}},
      {"single([])", mxSINGLE_CLASS, 0, 0, {}},
      {"[-Inf Inf]", mxDOUBLE_CLASS, 1, 2, {-HUGE_VAL, HUGE_VAL}},
  };
  for (const Case& c : cases) {
    std::string error;
    ArrayPtr a = Parse(c.text, &error);
    ASSERT_NE(a, nullptr) << c.text << ": " << error;
    EXPECT_EQ(mxGetClassID(a.get()), c.classid) << c.text;
    EXPECT_EQ(mxGetM(a.get()), c.m) << c.text;
    EXPECT_EQ(mxGetN(a.get()), c.n) << c.text;
    EXPECT_EQ(Values(a.get()), c.values) << c.text;
  }
  std::string error;
  ArrayPtr nan = Parse("NaN", &error);
  ASSERT_NE(nan, nullptr);
  EXPECT_TRUE(std::isnan(mxGetScalar(nan.get())));

  ArrayPtr text = Parse("'it''s run'", &error);
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(mxIsChar(text.get()));
  EXPECT_EQ(Text(text.get()), "it's run");

  for (const char* bad :
       {"", "[1 2", "[1 2; 3]", "[1 2;;3]", "'open", "0x10", "3 4", "abc", "int32(3", "1e"}) {
    error.clear();
    EXPECT_EQ(Parse(bad, &error), nullptr) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(Matrix, QueriesAcceptNullAndMissingData) {
  EXPECT_FALSE(mxIsNumeric(nullptr));
  EXPECT_FALSE(mxIsChar(nullptr));
  EXPECT_TRUE(mxIsEmpty(nullptr));
  EXPECT_EQ(mxGetPr(nullptr), nullptr);
  EXPECT_EQ(mxGetScalar(nullptr), 0.0);
  char buf[4] = "xyz";
  EXPECT_EQ(mxGetString(nullptr, buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(mxCreateNumericMatrix(1, 1, mxCHAR_CLASS, mxREAL), nullptr);
  EXPECT_EQ(mxCreateDoubleMatrix(std::numeric_limits<std::size_t>::max(), 2, mxREAL), nullptr);
}

}  // namespace
