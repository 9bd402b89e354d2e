// MATLAB arrays taken from fuzz input, for the MEX function and the S-function blocks: numbers
// of every class, shape and value (small whole numbers most often, since operations, ids and
// counts are small), texts, and literals read by the host's own parser.
#pragma once

#include <vector>

#include "FuzzTarget.h"
#include "mexhost.h"

namespace kyte::fuzz {

// A small whole number most of the time, any double (NaN and infinities included) otherwise.
double TakeValue(FuzzInput& in);

// One array; never null.
mexhost::ArrayPtr TakeArray(FuzzInput& in);

// Up to `most` arrays, their count taken from the input.
std::vector<mexhost::ArrayPtr> TakeArrays(FuzzInput& in, int most);

}  // namespace kyte::fuzz
