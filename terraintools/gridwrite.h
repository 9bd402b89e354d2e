// The grid files that the terrain programs write for the passes. A grid cut short would read as
// zeroes (elevation 0, cells without colour) and overwrite the region's tiles with them, so a
// grid that cannot be written whole fails the program's run before any pass.
#pragma once

#include <cstdio>
#include <cstring>

// "\n error: Could not write '<name>': <the system's message for error>"; the program then ends
// with status -1.
inline void ReportGridNotWritten(const char* name, int error) {
  std::fprintf(stderr, "\n error: Could not write '%s': %s\n", name, std::strerror(error));
}
