// airhost and lawhost as the simulator loads them; this test process plays the MATLAB side
// through a connection table of its own.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "ConnectionTable.h"
#include "kyteplugin.h"
#include "support/ChannelSandbox.h"
#include "support/ChannelValues.h"
#include "testsupport/CapturedOutput.h"
#include "testsupport/Files.h"

namespace {

using cosim_test::ReadChannelValues;
using namespace kyte::testsupport;

struct Build {
  const char* path;
  int type;
  const char* name;
  const char* inputNames;
  const char* outputNames;
  int inputs, outputs;
  int readId, writeId;  // of the plug-in
};
const Build kAirhost{
    AIRHOST_PATH,
    1,
    "airhost",
    "dElevator dAileron dRudder dThrottle ElapsedTime ToMATLAB01 ToMATLAB02 ToMATLAB03 ToMATLAB04 "
    "ToMATLAB05 ToMATLAB06 ToMATLAB07 ToMATLAB08 ToMATLAB09 ToMATLAB10",
    "xpos ypos zpos xrot yrot zrot alpha beta G Velocity M DeltaRudder DeltaElevator DeltaAileron "
    "eng ToKYTE01 ToKYTE02 ToKYTE03 ToKYTE04 ToKYTE05 ToKYTE06 ToKYTE07 ToKYTE08 ToKYTE09 ToKYTE10",
    15,
    25,
    3,
    4};
const Build kLawhost{
    LAWHOST_PATH,
    0,
    "lawhost",
    "StickPitch StickRoll StickYaw StickThrottle P Q R  ElapsedTime ToMATLAB01 ToMATLAB02 "
    "ToMATLAB03 ToMATLAB04 ToMATLAB05 ToMATLAB06 ToMATLAB07 ToMATLAB08 ToMATLAB09 ToMATLAB10",
    "ElevatorCmd AileronCmd RudderCmd ThrottleCmd ToKYTE01 ToKYTE02 ToKYTE03 ToKYTE04 ToKYTE05 "
    "ToKYTE06 ToKYTE07 ToKYTE08 ToKYTE09 ToKYTE10",
    18,
    14,
    1,
    2};

class Plugin {
 public:
  explicit Plugin(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) throw std::runtime_error(dlerror());
    nBlocks = static_cast<std::int32_t*>(dlsym(handle_, "nBlocks"));
    pCBlockx = static_cast<CBlock**>(dlsym(handle_, "pCBlockx"));
    CBExit = reinterpret_cast<PFNBLOCKEXIT>(dlsym(handle_, "CBExit"));
  }
  ~Plugin() { dlclose(handle_); }
  const CBlock& block() const { return **pCBlockx; }

  std::int32_t* nBlocks;
  CBlock** pCBlockx;
  PFNBLOCKEXIT CBExit;

 private:
  void* handle_;
};

std::vector<std::string> Words(const char* text) {
  std::vector<std::string> words;
  std::string word;
  for (const char* p = text;; ++p) {
    if (*p == ' ' || *p == '\0') {
      if (!word.empty()) words.push_back(word);
      word.clear();
      if (*p == '\0') return words;
    } else {
      word += *p;
    }
  }
}

class PluginTest : public ::testing::TestWithParam<Build> {
 protected:
  void TearDown() override { CloseAllConnections(); }
  cosim_test::ChannelSandbox sandbox;
};

TEST_P(PluginTest, ExportsOneBlockRecordOfItsBuild) {
  const Build& b = GetParam();
  Plugin plugin(b.path);
  ASSERT_NE(plugin.nBlocks, nullptr);
  ASSERT_NE(plugin.pCBlockx, nullptr);
  ASSERT_NE(plugin.CBExit, nullptr);
  EXPECT_EQ(*plugin.nBlocks, 1);
  const CBlock& block = plugin.block();
  EXPECT_EQ(block.iBlockType, b.type);
  EXPECT_STREQ(block.pszName, b.name);
  EXPECT_STREQ(block.pszInputNames, b.inputNames);
  EXPECT_STREQ(block.pszOutputNames, b.outputNames);
  EXPECT_EQ(Words(block.pszInputNames).size(), static_cast<std::size_t>(b.inputs));
  EXPECT_EQ(Words(block.pszOutputNames).size(), static_cast<std::size_t>(b.outputs));
  EXPECT_STREQ(block.pszAuxNames, "");
  EXPECT_EQ(block.iAuxValue, 60);
  EXPECT_NE(block.pfnInit, nullptr);
  EXPECT_NE(block.pfnStep, nullptr);
  EXPECT_EQ(sizeof(CBlock), 64u);
}

TEST_P(PluginTest, FirstFrameAloneWritesAliveAndInputsAndReadsTheFreshView) {
  const Build& b = GetParam();
  Plugin plugin(b.path);
  std::vector<double> in(b.inputs), out(b.outputs, 123.0);
  for (int i = 0; i < b.inputs; ++i) in[i] = 10.0 + i;
  plugin.block().pfnInit(in.data(), out.data());

  ASSERT_EQ(OpenConnection(b.writeId, b.inputs + 1), 0);
  std::vector<double> expected{1.0};
  expected.insert(expected.end(), in.begin(), in.end());
  EXPECT_EQ(ReadChannelValues(0, b.inputs + 1), expected);
  for (int i = 0; i < b.outputs; ++i) EXPECT_EQ(out[i], 0.0) << i;
  if (b.type == 1) {
    EXPECT_TRUE(std::signbit(out[2]));  // zpos: -0.0
  }
  plugin.CBExit();
}

TEST_P(PluginTest, ModelValuesComeBackScaledAndExitLeavesZeros) {
  const Build& b = GetParam();
  Plugin plugin(b.path);
  std::vector<double> in(b.inputs, 2.5), out(b.outputs);
  plugin.block().pfnInit(in.data(), out.data());
  ASSERT_EQ(OpenConnection(b.readId, b.outputs), 0);      // to KYTE, as cobridge writes it
  ASSERT_EQ(OpenConnection(b.writeId, b.inputs + 1), 1);  // to Simulink
  for (int i = 0; i < b.outputs; ++i) SetConnectionValue(0, i, 1.0 + i);
  if (b.type == 1) {
    SetConnectionValue(0, 2, 100.0);
    SetConnectionValue(0, 3, 3.141592653589793);
    SetConnectionValue(0, 4, -3.141592653589793 / 2);
    SetConnectionValue(0, 5, 0.5);
  } else {
    SetConnectionValue(0, 3, 0.5);
  }
  WriteConnection(0);
  plugin.block().pfnStep(in.data(), out.data());

  std::vector<double> expected;
  for (int i = 0; i < b.outputs; ++i) expected.push_back(1.0 + i);
  if (b.type == 1) {
    expected[2] = -100.0;
    expected[3] = 180.0;
    expected[4] = -90.0;
    expected[5] = 0.5 * 57.29577951308232;
  } else {
    expected[3] = 125.0;
  }
  for (int i = 0; i < b.outputs; ++i) EXPECT_NEAR(out[i], expected[i], 1e-12) << i;
  EXPECT_EQ(ReadChannelValues(1, 1)[0], 1.0);

  plugin.CBExit();
  EXPECT_EQ(ReadChannelValues(1, b.inputs + 1), std::vector<double>(b.inputs + 1, 0.0));
}

TEST_P(PluginTest, RepeatedInitKeepsTwoChannelsAndAFailedOpenStopsTheFrames) {
  const Build& b = GetParam();
  Plugin plugin(b.path);
  std::vector<double> in(b.inputs, 1.0), out(b.outputs, 0.0);
  plugin.block().pfnInit(in.data(), out.data());
  std::filesystem::path readFile =
      std::filesystem::canonical(sandbox.dir() / ("SharedFile" + std::to_string(b.readId)));
  int afterOne = DescriptorsOn(readFile);
  plugin.block().pfnInit(in.data(), out.data());
  EXPECT_EQ(DescriptorsOn(readFile), afterOne);  // the first pair was closed
  ASSERT_EQ(OpenConnection(b.writeId, b.inputs + 1), 0);
  EXPECT_EQ(ReadChannelValues(0, 1)[0], 1.0);
  plugin.CBExit();
  EXPECT_EQ(ReadChannelValues(0, 1)[0], 0.0);

  // The plug-in's backing file cannot be created: init opens nothing and no frame exchanges.
  CloseAllConnections();
  plugin.CBExit();
  std::filesystem::path file = sandbox.dir() / ("SharedFile" + std::to_string(b.readId));
  std::filesystem::remove(file);
  std::filesystem::create_directory(file);
  std::vector<double> untouched(b.outputs, 7.0);
  out = untouched;
  std::string err = CaptureStderr([&] { plugin.block().pfnInit(in.data(), out.data()); });
  EXPECT_EQ(err.rfind("CreateFile - ", 0), 0u) << err;
  plugin.block().pfnStep(in.data(), out.data());
  EXPECT_EQ(out, untouched);
  plugin.CBExit();
}

INSTANTIATE_TEST_SUITE_P(Builds, PluginTest, ::testing::Values(kAirhost, kLawhost),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
