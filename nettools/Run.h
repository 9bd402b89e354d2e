#pragma once
// The frame every network test program runs in: open the group, count the run time from
// tick-count differences, close the group and report the total.

#include <cstdint>

namespace nettools {

// Makes standard output line-buffered, as it is on a terminal, also when it goes to a file or a
// pipe: every line reaches it as it is printed, so a run stopped by a signal keeps each line it
// printed and a reader down a pipe sees them at once. Standard error is unbuffered already.
// Called first in main, before anything is printed.
void LineBufferOutput();

// Opens the process-wide transport on the simulator's group through a writable copy of its
// address, which the transport cuts in place. The result is not acted upon: without a transport
// the program still runs its 100 seconds.
void OpenGroup();

// total + milliseconds × 0.001, formed in double and stored in single precision.
float AddMilliseconds(float total, uint32_t milliseconds);

// The run ends once its total passes this many seconds.
inline constexpr double kRunSeconds = 100.0;

// Closes the transport and writes "Finished:Total Time = %f \n" to standard error.
void CloseGroup(float total);

}  // namespace nettools
