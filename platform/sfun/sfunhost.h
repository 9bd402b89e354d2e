// S-function host: drives level-2 S-function blocks as Simulink does.
//
// A Block loads its library (blocks of one library share it and its process-wide objects) and
// runs the callbacks one phase at a time; a Model runs several blocks through a whole
// simulation. After each callback the host reads the block's error status; once a block has
// set one it runs nothing more but mdlTerminate (when mdlStart has run).
#ifndef KYTE_PLATFORM_SFUN_SFUNHOST_H
#define KYTE_PLATFORM_SFUN_SFUNHOST_H

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "mexhost.h"
#include "mxhost.h"
#include "simstruc.h"

namespace kyte::sfunhost {

using mexhost::ArrayPtr;

class Block {
 public:
  // sfunctionName is the name the model gives the block's S-function; empty means the library's
  // file name without directory and extension. A library that cannot be loaded leaves the block
  // failed with the reason as its error.
  Block(const std::string& libraryPath, std::vector<ArrayPtr> params,
        std::string sfunctionName = {});
  ~Block();  // runs mdlTerminate when mdlStart has run and mdlTerminate has not
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

  // The phases, in Simulink's order; each returns false when the block has failed.
  // InitializeSizes also checks the parameter count against ssSetNumSFcnParams and the port
  // widths, and allocates the ports (inputs 0).
  bool InitializeSizes();
  bool CheckParameters();
  bool InitializeSampleTimes();
  bool Initialize();  // the three above
  bool Start();       // mdlStart, then mdlInitializeConditions
  bool Outputs(double t, bool majorStep = true);
  bool Update();
  void Terminate();
  // Forgets the block's failure and its error, so that a test can run a callback that Simulink
  // no longer calls after an error status and see how the block guards against it.
  void ClearError();

  // Input values, port by port (set them before Outputs; they start at 0 and keep their values
  // from step to step); outputs as the block left them. SetInput throws std::out_of_range for
  // a port that does not exist or values of another count than the port's width.
  void SetInput(int port, std::span<const double> values);
  std::vector<double> Input(int port) const;
  std::span<const double> Output(int port) const;  // empty for a port that does not exist

  bool failed() const { return failed_; }
  const std::string& error() const { return error_; }  // the first error status set
  SimStruct* simstruct() { return &S_; }
  const SimStruct* simstruct() const { return &S_; }
  bool started() const { return started_; }
  bool terminated() const { return terminated_; }

 private:
  struct Library;
  bool Call(int method);
  void Fail(const std::string& message);

  std::unique_ptr<Library> library_;
  mx::CallScope scope_;  // what the block allocates with mxCalloc lives as long as the block
  std::vector<ArrayPtr> params_;
  SimStruct S_;
  // Inputs are stored with a gap between elements so that a block that assumes them side by
  // side reads the wrong values.
  std::vector<std::vector<double>> inputStore_;
  std::vector<std::vector<const double*>> inputPtrs_;
  std::vector<std::vector<double>> outputStore_;
  bool sized_ = false;
  bool started_ = false;
  bool terminated_ = false;
  bool failed_ = false;
  std::string error_;
};

struct StepInfo {
  int step = 0;       // major step number, from 0
  double t = 0.0;     // simulation time of this call
  bool major = true;  // false for a minor step
  std::size_t block = 0;
};

struct RunOptions {
  int steps = 1;  // major steps at t = startTime + k * stepSize, k = 0 .. steps - 1
  double stepSize = 0.01;
  int minorSteps = 0;  // minor steps after each major step, at t + j * stepSize / (m + 1)
  double startTime = 0.0;
};

class Model {
 public:
  Block& Add(const std::string& libraryPath, std::vector<ArrayPtr> params,
             std::string sfunctionName = {});
  Block& block(std::size_t index) { return *blocks_.at(index); }
  std::size_t size() const { return blocks_.size(); }

  // Initialize of every block, once, in order, up to the first that fails (failedBlock tells
  // which): a caller may look at the blocks' sizes before Run. Run calls it when the caller has
  // not.
  bool Initialize();

  // Runs the whole simulation: every block's Initialize, then Start; then each step calls, block
  // by block, setInputs, mdlOutputs and observe, and after the major step's outputs mdlUpdate;
  // at the end (or at the first error) mdlTerminate of every started block. Returns true when
  // no block set an error status; failedBlock tells which one did.
  using Hook = std::function<void(const StepInfo&, Block&)>;
  bool Run(const RunOptions& options, const Hook& setInputs = {}, const Hook& observe = {});
  std::size_t failedBlock() const { return failedBlock_; }

 private:
  std::vector<std::unique_ptr<Block>> blocks_;
  std::size_t failedBlock_ = 0;
  std::optional<bool> initialized_;  // what Initialize gave, once it has run
};

}  // namespace kyte::sfunhost

#endif
