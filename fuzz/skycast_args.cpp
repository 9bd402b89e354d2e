// skycast called from MATLAB with any arguments: a few calls in a row (so that an open can be
// followed by sends and polls), each with its own inputs and output count, through the MEX host
// as MATLAB calls it. Every input ends with skycast(4), so that no connection outlives it.
#include <cstdint>
#include <vector>

#include "FuzzArrays.h"
#include "FuzzTarget.h"
#include "mexhost.h"

namespace {

constexpr int kMostCalls = 6;
constexpr int kMostInputs = 7;  // one more than any operation takes

kyte::mexhost::MexLibrary& Skycast() {
  static kyte::mexhost::MexLibrary library(SKYCAST_LIBRARY);
  return library;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kyte::fuzz::FuzzInput in(data, size);
  const std::uint32_t calls = 1 + in.Below(kMostCalls);
  for (std::uint32_t i = 0; i < calls && !in.empty(); ++i) {
    const int nlhs = static_cast<int>(in.Below(3));
    const std::vector<kyte::mexhost::ArrayPtr> arrays = kyte::fuzz::TakeArrays(in, kMostInputs);
    std::vector<const mxArray*> inputs;
    for (const auto& array : arrays) inputs.push_back(array.get());
    Skycast().Call(nlhs, inputs);
  }
  const kyte::mexhost::ArrayPtr close = kyte::mexhost::Scalar(4);
  Skycast().Call(0, {close.get()});
  return 0;
}
