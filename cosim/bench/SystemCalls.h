// The system calls that a piece of work makes, every one that enters the kernel whatever code
// makes it (the layer's own, the C library's, the loaded plug-in's copy of the layer), counted by
// tracing a forked child that does the work. Nothing is counted in the calling process.
#pragma once

#include <functional>

namespace cosim_bench {

// The system calls that `work` makes in a child forked from this process, after `prepare` has run
// there untraced (so that the work is measured in its steady state); -1 when the child cannot be
// traced.
long SystemCallsOf(const std::function<void()>& prepare, const std::function<void()>& work);

}  // namespace cosim_bench
