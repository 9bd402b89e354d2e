// In-process MEX host: loads a MEX library and calls its mexFunction as MATLAB does.
#ifndef KYTE_PLATFORM_MEX_MEXHOST_H
#define KYTE_PLATFORM_MEX_MEXHOST_H

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "matrix.h"

namespace kyte::mexhost {

struct ArrayDeleter {
  void operator()(mxArray* array) const noexcept;
};
using ArrayPtr = std::unique_ptr<mxArray, ArrayDeleter>;

// Argument arrays. Values are given column by column, as MATLAB stores them; a shorter list
// leaves the remaining elements 0.
ArrayPtr Scalar(double value);
ArrayPtr Row(std::initializer_list<double> values);
ArrayPtr Row(std::span<const double> values);
ArrayPtr Matrix(std::size_t m, std::size_t n, std::span<const double> values = {});
ArrayPtr Complex(std::size_t m, std::size_t n, std::span<const double> real,
                 std::span<const double> imag);
// A numeric array of another class; values are converted as MATLAB's class functions do
// (rounded to nearest and saturated for the integer classes).
ArrayPtr Numeric(mxClassID classid, std::size_t m, std::size_t n,
                 std::span<const double> values = {});
ArrayPtr Char(std::string_view text);  // 1 x length char array ('' is 0 x 0)
ArrayPtr Empty(std::size_t m = 0, std::size_t n = 0, mxClassID classid = mxDOUBLE_CLASS);

// Parses a MATLAB literal: a number (3, -2.5e3, Inf, NaN), a matrix of numbers ([3 25 4 16],
// [1,2;3,4], []), a quoted text ('run', with '' for a quote) or a class conversion of a
// number or matrix (int32(5), single([1 2]), uint8([])). On failure returns null and sets
// *error.
ArrayPtr Parse(std::string_view literal, std::string* error);

// The real elements converted to double, column by column (char arrays give their codes).
std::vector<double> Values(const mxArray* array);
// The imaginary elements of a complex array converted to double; empty otherwise.
std::vector<double> ImagValues(const mxArray* array);
// The text of a char array, column by column.
std::string Text(const mxArray* array);

struct CallResult {
  bool ok = false;
  std::string error;              // message given to mexErrMsgTxt, unchanged
  std::vector<ArrayPtr> outputs;  // max(nlhs, 1) slots; null where the function set none
};

class MexLibrary {
 public:
  // Loads the library (dlopen) and finds mexFunction; throws std::runtime_error when either
  // fails. Loading one path twice shares the library and its process-wide objects.
  explicit MexLibrary(const std::string& path);
  ~MexLibrary();  // unloads it (its static objects are destroyed with the last reference)
  MexLibrary(const MexLibrary&) = delete;
  MexLibrary& operator=(const MexLibrary&) = delete;

  // One MATLAB call with nlhs outputs requested. Arrays and memory the function made and did
  // not hand back are freed when the call ends; an error ends it with ok false and the message.
  CallResult Call(int nlhs, std::span<const mxArray* const> inputs);
  CallResult Call(int nlhs, std::initializer_list<const mxArray*> inputs);

  using Entry = void (*)(int, mxArray**, int, const mxArray**);
  Entry entry() const { return entry_; }
  void* Symbol(const char* name) const;  // another export of the library, or null

 private:
  void* handle_ = nullptr;
  Entry entry_ = nullptr;
};

}  // namespace kyte::mexhost

#endif
