#pragma once

#include <string>

namespace netns {

// Empty when every interface that is up is a loopback interface, else the name of the first one
// that is not. Network tests and benchmarks call this before they send or receive anything.
std::string FirstNonLoopbackInterfaceUp();

// Prints why and exits with status 1 when an interface other than loopback is up.
void RequireLoopbackOnly(const char* who);

}  // namespace netns
