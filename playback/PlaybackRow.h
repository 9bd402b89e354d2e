// One row of a playback data file.
#pragma once

#include <cstdint>
#include <ostream>

namespace playback {

// Writes `count` values, each read through its own pointer, in the general format with
// precision 6 and each followed by a tab, then the line end, and flushes `out` so that the row
// is in the file before the step ends. A count of 0 or less writes an empty line.
void WriteRow(std::ostream& out, const double* const* values, std::int32_t count);

}  // namespace playback
