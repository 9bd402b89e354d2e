// The grid files that the terrain programs write for the passes. A grid cut short would read as
// zeroes (elevation 0, cells without colour) and overwrite the region's tiles with them, so a
// grid that cannot be written whole fails the program's run before any pass.
#pragma once

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

// "\n error: Could not write '<name>': <the system's message for error>"; the program then ends
// with status -1.
inline void ReportGridNotWritten(const char* name, int error) {
  std::fprintf(stderr, "\n error: Could not write '%s': %s\n", name, std::strerror(error));
}

// A grid file that the run could not write whole: reported (ReportGridNotWritten), then removed,
// so that no short grid is left beside tiles it never made. Only a plain file is removed: a
// link or a device under the name (a grid shared between databases, /dev/full) stays as it is.
inline void AbandonGrid(const char* name, int error) {
  ReportGridNotWritten(name, error);
  std::error_code ignored;
  if (std::filesystem::is_regular_file(std::filesystem::symlink_status(name, ignored)))
    std::filesystem::remove(name, ignored);
}
