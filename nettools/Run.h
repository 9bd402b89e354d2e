#pragma once
// The frame every network test program runs in: open the group, count the run time from
// tick-count differences, print whole lines, close the group and report the total or the line
// that could not be written.

#include <cstdint>

namespace nettools {

// Opens the process-wide transport on the simulator's group through a writable copy of its
// address, which the transport cuts in place. The result is not acted upon: without a transport
// the program still runs its 100 seconds.
void OpenGroup();

// total + milliseconds × 0.001, formed in double and stored in single precision.
float AddMilliseconds(float total, uint32_t milliseconds);

// The run ends once its total passes this many seconds.
inline constexpr double kRunSeconds = 100.0;

// Prints one line, as printf would, to standard output (fd 1) or standard error (fd 2): what
// printf would return. The line goes to the descriptor at once, in one piece (WriteWholeLine),
// so that every line reaches a file or a pipe as it is printed, and a run stopped by a signal
// keeps each line whole. The first line that cannot be written is kept for EndRun, and from
// then on nothing more is printed: -1. The run is to end at once.
int PrintLine(int fd, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool OutputFailed();

// Forgets a kept failure: each run starts with it, and EndRun ends with it.
void ResetOutput();

// Closes the transport and ends the run: its exit status. After a run whose lines were all
// written, writes "Finished:Total Time = %f \n" to standard error and gives 0. After a line
// that could not be written, that line or the final one, writes "<program>: cannot write
// <standard output or standard error>: <the system's reason>" to standard error instead (where
// it can still go) and gives kOutputFailed.
int EndRun(const char* program, float total);

inline constexpr int kOutputFailed = 1;

}  // namespace nettools
