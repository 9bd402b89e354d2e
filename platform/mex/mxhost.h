// Host side of kyte_mx: what a host needs around a MEX call that MATLAB does itself.
#ifndef KYTE_PLATFORM_MEX_MXHOST_H
#define KYTE_PLATFORM_MEX_MXHOST_H

#include <cstddef>
#include <stdexcept>
#include <string>

#include "matrix.h"

namespace kyte::mx {

// Thrown by mexErrMsgTxt; the host catches it where the call began.
class MexError : public std::runtime_error {
 public:
  explicit MexError(const std::string& message) : std::runtime_error(message) {}
};

// Owns the arrays and the memory made by mx* calls while it is active, as MATLAB owns what a
// MEX function allocates during one call. Destroying the scope frees everything it still owns.
// A scope is made active for the length of each call into a library (Activation, below).
class CallScope {
 public:
  CallScope() = default;
  ~CallScope();
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

  // Hands an array made inside the scope to the caller: the scope no longer frees it.
  // Returns false when the scope did not own it (an input or an array made elsewhere).
  bool Release(const mxArray* array);

  // Frees everything the scope owns now.
  void FreeAll();

  class Activation {
   public:
    explicit Activation(CallScope& scope);
    ~Activation();
    Activation(const Activation&) = delete;
    Activation& operator=(const Activation&) = delete;

   private:
    CallScope* previous_;
  };
};

// Element i (column by column) of any numeric, char or logical array as a double; the
// imaginary part when imaginary is set. 0.0 outside the array or for other classes.
double ElementValue(const mxArray* array, std::size_t i, bool imaginary = false);

}  // namespace kyte::mx

#endif
