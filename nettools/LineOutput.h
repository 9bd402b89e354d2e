#pragma once
// A line of the network programs, written to its descriptor in one piece: a line that cannot be
// written whole ends the run, and a file keeps only the lines that were.

#include <string_view>

namespace nettools {

// Writes `line` to descriptor `fd`, going on after a signal or a short write until all of it is
// written: true. False, with errno telling why, once a write fails. A line cut short there (a
// full disk takes the part that fits) is taken back only where that is sure to take nothing
// else: `fd` is a regular file, the line was to extend it at its end, and the file ends in just
// that part. Elsewhere (a pipe, a terminal, a write into the middle of a file, a file that
// another writer extended meanwhile) the part stays where it went.
bool WriteWholeLine(int fd, std::string_view line);

}  // namespace nettools
