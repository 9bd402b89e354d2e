// The co-simulation end to end: simhost flies a plug-in in one process, sfunhost runs cobridge
// in another, each in a working directory of its own.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "support/ChannelSandbox.h"
#include "testsupport/Files.h"
#include "testsupport/Subprocess.h"

using cosim_test::ChannelSandbox;
using namespace kyte::testsupport;

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
  std::string bytes = ReadFile(path);
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

std::unique_ptr<Subprocess> Cobridge(const std::vector<const char*>& params,
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

// One plug-in with its matching cobridge parameters, the values the model sends and what the
// simulator must receive of them.
struct Pairing {
  const char* name;
  const char* plugin;
  std::vector<const char*> params;  // iIDKYTE, iSizeToKYTE, iIDMATLAB, iSizeToMATLAB
  int inputs;                       // of the plug-in
  std::vector<double> model;        // what cobridge sends, iSizeToKYTE values
  std::vector<double> simulator;    // what the plug-in hands the simulator
  std::string ToKyteFile() const { return std::string("SharedFile") + params[0]; }
  std::string ToMatlabFile() const { return std::string("SharedFile") + params[2]; }
  std::size_t ToKyte() const { return model.size(); }
  std::size_t ToMatlab() const { return static_cast<std::size_t>(inputs) + 1; }
};

Pairing Airhost() {
  Pairing p{"airhost", AIRHOST, {"3", "25", "4", "16"}, 15, std::vector<double>(25, 0.0), {}};
  p.model[2] = 100.0;              // zpos
  p.model[3] = 3.141592653589793;  // xrot
  p.model[24] = 7.5;               // ToKYTE10
  p.simulator = p.model;
  p.simulator[2] = -100.0;
  p.simulator[3] = 180.0;
  return p;
}

Pairing Lawhost() {
  Pairing p{"lawhost", LAWHOST, {"1", "14", "2", "19"}, 18, std::vector<double>(14, 0.0), {}};
  p.model[3] = 0.5;  // ThrottleCmd
  p.model[13] = 7.5;
  p.simulator = p.model;
  p.simulator[3] = 125.0;
  return p;
}

bool Near(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!(std::fabs(a[i] - b[i]) < 1e-9)) return false;
  }
  return true;
}

std::vector<double> InputsOneToN(int n) {
  std::vector<double> values;
  for (int i = 1; i <= n; ++i) values.push_back(i);
  return values;
}

std::string CommaList(const std::vector<double>& values) {
  std::ostringstream out;
  for (std::size_t i = 0; i < values.size(); ++i) out << (i ? "," : "") << values[i];
  return out.str();
}

// The plug-in's outgoing vector: the alive element and then the simulator's inputs.
std::vector<double> AliveWith(const std::vector<double>& inputs) {
  std::vector<double> alive{1.0};
  alive.insert(alive.end(), inputs.begin(), inputs.end());
  return alive;
}

std::unique_ptr<Subprocess> Cobridge(const Pairing& p, const char* flag,
                                     const std::filesystem::path& dir, const std::string& steps) {
  std::vector<const char*> params = p.params;
  params.push_back(flag);
  return Cobridge(params, dir, steps, MatlabRow(p.model));
}

class CoSimulation : public ::testing::TestWithParam<Pairing> {
 protected:
  ChannelSandbox sandbox;
  std::filesystem::path simDir = sandbox.Subdir("sim"), matlabDir = sandbox.Subdir("matlab");
};

// The simulator flies first; cobridge joins, runs unpaced and stops while the plug-in goes on.
TEST_P(CoSimulation, PluginFirstCobridgeStopsFirst) {
  const Pairing& p = GetParam();
  std::vector<double> simInputs = InputsOneToN(p.inputs);
  auto sim = Simhost(p.plugin, simDir, "1000", "100000000", CommaList(simInputs));
  ASSERT_EQ(sim->ReadLine().rfind(std::string("block ") + p.name, 0), 0u);
  ASSERT_EQ(sim->ReadLine().rfind("init 0:", 0), 0u);

  auto bridge = Cobridge(p, "0", matlabDir, "20000");
  while (bridge->Drain(1)) sim->Drain(0);
  ASSERT_EQ(bridge->Wait(), 0) << bridge->Stderr();
  // Frames after cobridge has stopped (the pipe is kept drained meanwhile).
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  while (std::chrono::steady_clock::now() < until) sim->Drain(10);
  sim->Kill(SIGTERM);
  ASSERT_EQ(sim->Wait(), 0) << sim->Stderr();
  EXPECT_EQ(bridge->Stderr(), "");
  EXPECT_EQ(sim->Stderr(), "");

  // The simulator received the model's values in its own units while cobridge ran ...
  auto frames = Rows(sim->Stdout(), "frame ");
  bool met = false;
  for (const auto& out : frames) met = met || Near(out, p.simulator);
  EXPECT_TRUE(met);
  // ... and zeros once it had stopped.
  EXPECT_EQ(frames.back(), std::vector<double>(p.ToKyte(), 0.0));

  // cobridge saw the plug-in's alive element and inputs.
  auto steps = Rows(bridge->Stdout(), " major ");
  ASSERT_EQ(steps.size(), 20000u);
  EXPECT_EQ(steps.back(), AliveWith(simInputs));
  EXPECT_NE(bridge->Stdout().find("status: ok"), std::string::npos);

  // Both channels were created by the plug-in, over its files, and both ends left zeros there;
  // cobridge's own file stayed empty, as it met the mapping through its name.
  EXPECT_EQ(FileDoubles(simDir / p.ToKyteFile(), p.ToKyte()), std::vector<double>(p.ToKyte(), 0.0));
  EXPECT_EQ(FileDoubles(simDir / p.ToMatlabFile(), p.ToMatlab()),
            std::vector<double>(p.ToMatlab(), 0.0));
  EXPECT_EQ(std::filesystem::file_size(matlabDir / p.ToKyteFile()), 0u);
}

// cobridge starts first, paced; the simulator flies a short while and exits while it goes on.
TEST_P(CoSimulation, CobridgeFirstPluginExitsFirst) {
  const Pairing& p = GetParam();
  auto bridge = Cobridge(p, "1", matlabDir, "300");  // 3 seconds of wall-clock time
  ASSERT_EQ(ValuesOf(bridge->ReadLine()), std::vector<double>(p.ToMatlab(), 0.0));  // fresh view

  std::vector<double> simInputs(p.inputs, 0.25);
  auto sim = Simhost(p.plugin, simDir, "100", "50", "0.25");
  ASSERT_EQ(sim->Wait(), 0) << sim->Stderr();
  ASSERT_EQ(bridge->Wait(), 0) << bridge->Stderr();
  EXPECT_EQ(bridge->Stderr(), "");
  EXPECT_EQ(sim->Stderr(), "");

  auto frames = Rows(sim->Stdout(), "frame ");
  ASSERT_EQ(frames.size(), 50u);
  EXPECT_TRUE(Near(frames.back(), p.simulator));

  // The alive element reads 1.0 while the plug-in runs and 0.0, with zero inputs, after its exit.
  auto steps = Rows(bridge->Stdout(), " major ");
  ASSERT_EQ(steps.size(), 300u);
  bool sawAlive = false;
  for (const auto& y : steps) sawAlive = sawAlive || y == AliveWith(simInputs);
  EXPECT_TRUE(sawAlive);
  EXPECT_EQ(steps.back(), std::vector<double>(p.ToMatlab(), 0.0));

  // cobridge created both channels over its files: zeros to KYTE after it stopped.
  EXPECT_EQ(FileDoubles(matlabDir / p.ToKyteFile(), p.ToKyte()),
            std::vector<double>(p.ToKyte(), 0.0));
  EXPECT_EQ(std::filesystem::file_size(simDir / p.ToMatlabFile()), 0u);
}

INSTANTIATE_TEST_SUITE_P(Pairings, CoSimulation, ::testing::Values(Airhost(), Lawhost()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(KilledPeer, MidRunNeverBlocksTheOtherSide) {
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
