// S-function host.
#include "sfunhost.h"

#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace kyte::sfunhost {
namespace {

constexpr int_T kMaxPortWidth = 1 << 20;

std::string StemOf(const std::string& path) {
  std::string stem = path.substr(path.find_last_of('/') + 1);
  const std::size_t dot = stem.find('.');
  if (dot != std::string::npos) stem.erase(dot);
  return stem;
}

}  // namespace

struct Block::Library {
  void* handle = nullptr;
  mexhost::MexLibrary::Entry entry = nullptr;
  ~Library() {
    if (handle != nullptr) dlclose(handle);
  }
};

Block::Block(const std::string& libraryPath, std::vector<ArrayPtr> params,
             std::string sfunctionName)
    : library_(std::make_unique<Library>()), params_(std::move(params)) {
  S_.sfcnName = sfunctionName.empty() ? StemOf(libraryPath) : std::move(sfunctionName);
  S_.path = "model/" + S_.sfcnName;
  for (const ArrayPtr& p : params_) S_.params.push_back(p.get());
  // dlopen shares one loaded copy among all blocks of the same library.
  library_->handle = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library_->handle == nullptr) {
    const char* why = dlerror();
    Fail("sfunhost: cannot load " + libraryPath + ": " + (why ? why : "unknown error"));
    return;
  }
  library_->entry =
      reinterpret_cast<mexhost::MexLibrary::Entry>(dlsym(library_->handle, "mexFunction"));
  if (library_->entry == nullptr) Fail("sfunhost: " + libraryPath + " exports no mexFunction");
}

Block::~Block() { Terminate(); }

void Block::Fail(const std::string& message) {
  if (!failed_) error_ = message;
  failed_ = true;
}

bool Block::Call(int method) {
  if (library_->entry == nullptr) return false;
  ArrayPtr self = mexhost::Numeric(mxUINT64_CLASS, 1, 1);
  const std::uint64_t address = reinterpret_cast<std::uintptr_t>(&S_);
  std::memcpy(mxGetData(self.get()), &address, sizeof address);
  ArrayPtr which = mexhost::Scalar(method);
  const mxArray* prhs[] = {self.get(), which.get()};
  S_.errorStatus = nullptr;
  try {
    mx::CallScope::Activation active(scope_);
    library_->entry(kKyteSfunCallMarker, nullptr, 2, prhs);
  } catch (const mx::MexError& e) {
    Fail(e.what());
  } catch (const std::exception& e) {
    Fail(std::string("sfunhost: unhandled exception in the block: ") + e.what());
  } catch (...) {
    Fail("sfunhost: unhandled exception in the block");
  }
  if (S_.errorStatus != nullptr) Fail(S_.errorStatus);
  return !failed_;
}

bool Block::InitializeSizes() {
  if (failed_ || !Call(kKyteSfunInitializeSizes)) return false;
  if (S_.numSFcnParams != static_cast<int_T>(S_.params.size())) {
    Fail("sfunhost: " + S_.sfcnName + " expects " + std::to_string(S_.numSFcnParams) +
         " parameters, the block gives " + std::to_string(S_.params.size()));
    return false;
  }
  auto widthOk = [&](const char* kind, std::size_t port, int_T width) {
    if (width >= 0 && width <= kMaxPortWidth) return true;
    Fail("sfunhost: " + std::string(kind) + " port " + std::to_string(port + 1) + " of " +
         S_.sfcnName + " has width " + std::to_string(width) +
         "; widths from 0 to 1048576 are supported");
    return false;
  };
  inputStore_.clear();
  inputPtrs_.clear();
  outputStore_.clear();
  for (std::size_t p = 0; p < S_.inputs.size(); ++p) {
    const int_T width = S_.inputs[p].width;
    if (!widthOk("input", p, width)) return false;
    // Element i lives at 2 i: the gaps hold NaN.
    inputStore_.emplace_back(2 * static_cast<std::size_t>(width),
                             std::numeric_limits<double>::quiet_NaN());
    std::vector<const double*> ptrs;
    for (int_T i = 0; i < width; ++i) {
      inputStore_.back()[2 * i] = 0.0;
      ptrs.push_back(&inputStore_.back()[2 * i]);
    }
    inputPtrs_.push_back(std::move(ptrs));
  }
  for (std::size_t p = 0; p < S_.inputs.size(); ++p) S_.inputs[p].signalPtrs = inputPtrs_[p].data();
  for (std::size_t p = 0; p < S_.outputs.size(); ++p) {
    if (!widthOk("output", p, S_.outputs[p].width)) return false;
    outputStore_.emplace_back(static_cast<std::size_t>(S_.outputs[p].width), 0.0);
  }
  for (std::size_t p = 0; p < S_.outputs.size(); ++p) S_.outputs[p].signal = outputStore_[p].data();
  sized_ = true;
  return true;
}

bool Block::CheckParameters() { return sized_ && !failed_ && Call(kKyteSfunCheckParameters); }

bool Block::InitializeSampleTimes() {
  return sized_ && !failed_ && Call(kKyteSfunInitializeSampleTimes);
}

bool Block::Initialize() {
  return InitializeSizes() && CheckParameters() && InitializeSampleTimes();
}

bool Block::Start() {
  if (!sized_ || failed_ || started_) return false;
  started_ = true;  // from here on mdlTerminate runs, even when mdlStart fails
  return Call(kKyteSfunStart) && Call(kKyteSfunInitializeConditions);
}

bool Block::Outputs(double t, bool majorStep) {
  if (!started_ || terminated_ || failed_) return false;
  S_.t = t;
  S_.majorTimeStep = majorStep;
  return Call(kKyteSfunOutputs);
}

bool Block::Update() {
  if (!started_ || terminated_ || failed_) return false;
  S_.majorTimeStep = true;
  return Call(kKyteSfunUpdate);
}

void Block::Terminate() {
  if (!started_ || terminated_) return;
  terminated_ = true;
  const bool wasFailed = failed_;
  failed_ = false;  // mdlTerminate runs whatever happened before
  const std::string before = error_;
  Call(kKyteSfunTerminate);
  if (wasFailed) {
    failed_ = true;
    error_ = before;
  }
}

void Block::ClearError() {
  failed_ = false;
  error_.clear();
}

void Block::SetInput(int port, std::span<const double> values) {
  if (port < 0 || static_cast<std::size_t>(port) >= inputPtrs_.size())
    throw std::out_of_range("SetInput: no input port " + std::to_string(port));
  if (values.size() != inputPtrs_[port].size())
    throw std::out_of_range("SetInput: port " + std::to_string(port) + " has width " +
                            std::to_string(inputPtrs_[port].size()) + ", " +
                            std::to_string(values.size()) + " values given");
  for (std::size_t i = 0; i < values.size(); ++i) inputStore_[port][2 * i] = values[i];
}

std::vector<double> Block::Input(int port) const {
  std::vector<double> values;
  if (port < 0 || static_cast<std::size_t>(port) >= inputPtrs_.size()) return values;
  for (const double* p : inputPtrs_[port]) values.push_back(*p);
  return values;
}

std::span<const double> Block::Output(int port) const {
  if (port < 0 || static_cast<std::size_t>(port) >= outputStore_.size()) return {};
  return outputStore_[port];
}

Block& Model::Add(const std::string& libraryPath, std::vector<ArrayPtr> params,
                  std::string sfunctionName) {
  blocks_.push_back(
      std::make_unique<Block>(libraryPath, std::move(params), std::move(sfunctionName)));
  return *blocks_.back();
}

bool Model::Initialize() {
  if (!initialized_) {
    initialized_ = true;
    for (std::size_t i = 0; *initialized_ && i < blocks_.size(); ++i) {
      if (!blocks_[i]->Initialize()) {
        failedBlock_ = i;
        initialized_ = false;
      }
    }
  }
  return *initialized_;
}

bool Model::Run(const RunOptions& options, const Hook& setInputs, const Hook& observe) {
  bool ok = Initialize();
  auto fail = [&](std::size_t i) {
    failedBlock_ = i;
    ok = false;
  };
  for (std::size_t i = 0; ok && i < blocks_.size(); ++i)
    if (!blocks_[i]->Start()) fail(i);

  auto outputs = [&](StepInfo info) {
    for (std::size_t i = 0; ok && i < blocks_.size(); ++i) {
      info.block = i;
      if (setInputs) setInputs(info, *blocks_[i]);
      if (!blocks_[i]->Outputs(info.t, info.major)) {
        fail(i);
        return;
      }
      if (observe) observe(info, *blocks_[i]);
    }
  };
  for (int k = 0; ok && k < options.steps; ++k) {
    const double t = options.startTime + k * options.stepSize;
    outputs(StepInfo{k, t, true, 0});
    for (std::size_t i = 0; ok && i < blocks_.size(); ++i)
      if (!blocks_[i]->Update()) fail(i);
    for (int j = 1; ok && j <= options.minorSteps; ++j)
      outputs(StepInfo{k, t + j * options.stepSize / (options.minorSteps + 1), false, 0});
  }
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    blocks_[i]->Terminate();
    if (ok && blocks_[i]->failed()) fail(i);  // an error status set by mdlTerminate
  }
  return ok;
}

}  // namespace kyte::sfunhost
