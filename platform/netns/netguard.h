#pragma once

#include <string>

namespace netns {

// Empty when every interface that is up is a loopback interface, else the name of the first one
// that is not. Network tests and benchmarks call this before they send or receive anything.
std::string FirstNonLoopbackInterfaceUp();

// True when this process's network namespace is not that of process 1 (the machine's or the
// container's) or, where that one cannot be read, not that of the parent process, which for a
// test under run-in-netns is its caller; false also when neither can be read. A test adds an
// interface only then.
bool InPrivateNetworkNamespace();

// Prints why and exits with status 1 when an interface other than loopback is up.
void RequireLoopbackOnly(const char* who);

}  // namespace netns
