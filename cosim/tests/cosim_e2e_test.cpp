// The co-simulation end to end: simhost flies a plug-in in one process, sfunhost runs cobridge
// in another, each in a working directory of its own.
#include <gtest/gtest.h>
#include <signal.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "support/Subprocess.h"
#include "support/TestDirs.h"

using cosim_test::ChannelSandbox;
using cosim_test::Subprocess;

namespace {

// Values after the ": " of a host's output line; empty for other lines.
std::vector<double> ValuesOf(const std::string& line) {
  std::vector<double> values;
  std::size_t colon = line.find(": ");
  if (colon == std::string::npos) return values;
  std::istringstream in(line.substr(colon + 2));
  for (std::string word; in >> word;) values.push_back(std::strtod(word.c_str(), nullptr));
  return values;
}

std::vector<std::vector<double>> Rows(const std::string& output, const std::string& prefix) {
  std::vector<std::vector<double>> rows;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    if (line.find(prefix) != std::string::npos) rows.push_back(ValuesOf(line));
  }
  return rows;
}

std::string MatlabRow(const std::vector<double>& values) {
  std::ostringstream out;
  out.precision(17);
  out << "[";
  for (std::size_t i = 0; i < values.size(); ++i) out << (i ? " " : "") << values[i];
  out << "]";
  return out.str();
}

std::vector<double> FileDoubles(const std::filesystem::path& path, std::size_t count) {
  std::string bytes = cosim_test::ReadFileBytes(path);
  std::vector<double> values(count, std::nan(""));
  if (bytes.size() >= count * sizeof(double)) std::memcpy(values.data(), bytes.data(), count * 8);
  return values;
}

std::unique_ptr<Subprocess> Simhost(const char* plugin, const std::filesystem::path& dir,
                                    const std::string& rate, const std::string& frames,
                                    const std::string& inputs) {
  return std::make_unique<Subprocess>(
      std::vector<std::string>{SIMHOST, plugin, "-r", rate, "-n", frames, "-u", inputs}, dir);
}

std::unique_ptr<Subprocess> Cobridge(std::initializer_list<const char*> params,
                                     const std::filesystem::path& dir, const std::string& steps,
                                     const std::string& inputs) {
  std::vector<std::string> argv{SFUNHOST, COBRIDGE};
  for (const char* p : params) {
    argv.push_back("-p");
    argv.push_back(p);
  }
  for (const std::string& a : {std::string("-s"), steps, std::string("-u"), inputs}) {
    argv.push_back(a);
  }
  return std::make_unique<Subprocess>(argv, dir);
}

TEST(CoSimulation, AirhostFirstThenCobridgeUnpaced) {
  ChannelSandbox sandbox;
  std::filesystem::path simDir = sandbox.Subdir("sim"), matlabDir = sandbox.Subdir("matlab");
  std::vector<double> simInputs;
  for (int i = 1; i <= 15; ++i) simInputs.push_back(i);
  auto sim = Simhost(AIRHOST, simDir, "1000", "100000000", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15");
  ASSERT_EQ(sim->ReadLine().rfind("block airhost type 1 inputs 15 outputs 25", 0), 0u);
  ASSERT_EQ(sim->ReadLine().rfind("init 0:", 0), 0u);

  std::vector<double> model(25, 0.0);
  model[2] = 100.0;              // zpos
  model[3] = 3.141592653589793;  // xrot
  model[24] = 7.5;               // ToKYTE10
  auto bridge = Cobridge({"3", "25", "4", "16", "0"}, matlabDir, "20000", MatlabRow(model));
  while (bridge->Drain(1)) sim->Drain(0);
  ASSERT_EQ(bridge->Wait(), 0) << bridge->Stderr();
  for (int i = 0; i < 100; ++i) sim->Drain(1);  // frames after cobridge has stopped
  sim->Kill(SIGTERM);
  ASSERT_EQ(sim->Wait(), 0) << sim->Stderr();
  EXPECT_EQ(bridge->Stderr(), "");
  EXPECT_EQ(sim->Stderr(), "");

  // The simulator received the model's values in its own units while cobridge ran ...
  auto frames = Rows(sim->Stdout(), "frame ");
  bool met = false;
  for (const auto& out : frames) {
    if (std::fabs(out[3] - 180.0) < 1e-9) {
      met = true;
      EXPECT_EQ(out[2], -100.0);
      EXPECT_EQ(out[24], 7.5);
    }
  }
  EXPECT_TRUE(met);
  // ... and zeros once it had stopped.
  EXPECT_EQ(frames.back(), std::vector<double>(25, 0.0));

  // cobridge saw airhost's alive element and inputs.
  auto steps = Rows(bridge->Stdout(), " major ");
  ASSERT_EQ(steps.size(), 20000u);
  std::vector<double> alive{1.0};
  alive.insert(alive.end(), simInputs.begin(), simInputs.end());
  EXPECT_EQ(steps.back(), alive);
  EXPECT_NE(bridge->Stdout().find("status: ok"), std::string::npos);

  // Both channels were created by airhost, over its files: both ends left zeros there.
  EXPECT_EQ(FileDoubles(simDir / "SharedFile3", 25), std::vector<double>(25, 0.0));
  EXPECT_EQ(FileDoubles(simDir / "SharedFile4", 16), std::vector<double>(16, 0.0));
  EXPECT_EQ(std::filesystem::file_size(matlabDir / "SharedFile3"), 0u);
}

TEST(CoSimulation, CobridgePacedFirstThenLawhost) {
  ChannelSandbox sandbox;
  std::filesystem::path simDir = sandbox.Subdir("sim"), matlabDir = sandbox.Subdir("matlab");
  std::vector<double> model(14, 0.0);
  model[3] = 0.5;  // ThrottleCmd
  auto bridge = Cobridge({"1", "14", "2", "19", "1"}, matlabDir, "300", MatlabRow(model));
  ASSERT_EQ(ValuesOf(bridge->ReadLine()), std::vector<double>(19, 0.0));  // fresh view

  std::vector<double> simInputs(18, 0.25);
  auto sim = Simhost(LAWHOST, simDir, "100", "50", "0.25");
  ASSERT_EQ(sim->Wait(), 0) << sim->Stderr();
  ASSERT_EQ(bridge->Wait(), 0) << bridge->Stderr();

  auto frames = Rows(sim->Stdout(), "frame ");
  ASSERT_EQ(frames.size(), 50u);
  EXPECT_EQ(frames.back()[3], 125.0);
  EXPECT_EQ(frames.back()[0], 0.0);

  auto steps = Rows(bridge->Stdout(), " major ");
  ASSERT_EQ(steps.size(), 300u);
  std::vector<double> alive{1.0};
  alive.insert(alive.end(), simInputs.begin(), simInputs.end());
  bool sawAlive = false;
  for (const auto& y : steps) sawAlive = sawAlive || y == alive;
  EXPECT_TRUE(sawAlive);
  EXPECT_EQ(steps.back(), std::vector<double>(19, 0.0));  // after lawhost's exit
  EXPECT_EQ(FileDoubles(matlabDir / "SharedFile1", 14), std::vector<double>(14, 0.0));
}

TEST(CoSimulation, APeerKilledMidRunNeverBlocksTheOtherSide) {
  ChannelSandbox sandbox;
  std::filesystem::path simDir = sandbox.Subdir("sim"), matlabDir = sandbox.Subdir("matlab");
  {
    auto bridge = Cobridge({"3", "25", "4", "16", "1"}, matlabDir, "100", "0");
    auto sim = Simhost(AIRHOST, simDir, "0", "100000000", "1");
    sim->ReadLine();
    sim->ReadLine();
    sim->ReadLine();  // flying, as fast as it can
    bridge->ReadLine();
    sim->Kill(SIGKILL);
    EXPECT_EQ(sim->Wait(), 128 + SIGKILL);
    EXPECT_EQ(bridge->Wait(), 0) << bridge->Stderr();
    // No exit call: the last alive element it wrote stays.
    EXPECT_EQ(Rows(bridge->Stdout(), " major ").back()[0], 1.0);
  }
  {
    auto sim = Simhost(AIRHOST, simDir, "100", "100", "1");
    sim->ReadLine();
    auto bridge = Cobridge({"3", "25", "4", "16", "0"}, matlabDir, "100000000", "0");
    bridge->ReadLine();
    bridge->Kill(SIGKILL);
    EXPECT_EQ(bridge->Wait(), 128 + SIGKILL);
    EXPECT_EQ(sim->Wait(), 0) << sim->Stderr();
  }
}

}  // namespace
