// The four S-function blocks under any parameters: each input picks a block, its parameters and
// a few steps of inputs, and the S-function host runs it as Simulink does (sizes, parameter
// check, sample times, start, outputs at each step, terminate). Files the blocks write (the
// playback files, the channels' backing files) land in the scratch folder, and the channels'
// named objects in a namespace of the target's own.
#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzArrays.h"
#include "FuzzTarget.h"
#include "sfunhost.h"

namespace {

const char* const kBlocks[] = {SKYPUSH_LIBRARY, COBRIDGE_LIBRARY, FLIGHTLOG_LIBRARY,
                               FLIGHTCUE_LIBRARY};
constexpr int kMostParameters = 8;  // one more than any block takes
constexpr int kMostSteps = 4;
// Steps of a millisecond: a block paced to wall-clock time waits no longer than that.
constexpr double kStepSeconds = 0.001;

}  // namespace

// The host unloads a block's library with its last block; the fuzzer's coverage counters live in
// the library, so each is held loaded for the whole run.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (const char* library : kBlocks) {
    if (::dlopen(library, RTLD_NOW | RTLD_LOCAL) == nullptr) kyte::fuzz::Abort(::dlerror());
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path& scratch = kyte::fuzz::FreshScratch("sfun_params");
  const std::string objects = (scratch / "objects").string();
  std::filesystem::create_directory(objects);
  ::setenv("KYTE_OBJECT_NAMESPACE", objects.c_str(), 1);

  kyte::fuzz::FuzzInput in(data, size);
  const char* library = kBlocks[in.Below(std::size(kBlocks))];
  std::vector<kyte::mexhost::ArrayPtr> params = kyte::fuzz::TakeArrays(in, kMostParameters);
  const std::uint32_t steps = in.Below(kMostSteps + 1);

  kyte::sfunhost::Block block(library, std::move(params));
  if (!block.Initialize() || !block.Start()) return 0;
  for (std::uint32_t step = 0; step < steps; ++step) {
    for (int port = 0; port < ssGetNumInputPorts(block.simstruct()); ++port) {
      std::vector<double> values = block.Input(port);
      for (double& value : values) value = kyte::fuzz::TakeValue(in);
      block.SetInput(port, values);
    }
    if (!block.Outputs(step * kStepSeconds) || !block.Update()) break;
  }
  return 0;
}
