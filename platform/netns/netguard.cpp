#include "netguard.h"

#include <ifaddrs.h>
#include <net/if.h>

#include <cstdio>
#include <cstdlib>

namespace netns {

std::string FirstNonLoopbackInterfaceUp() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return "(getifaddrs failed)";
  std::string found;
  for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if ((it->ifa_flags & IFF_UP) && !(it->ifa_flags & IFF_LOOPBACK)) {
      found = it->ifa_name ? it->ifa_name : "?";
      break;
    }
  }
  freeifaddrs(list);
  return found;
}

void RequireLoopbackOnly(const char* who) {
  const std::string other = FirstNonLoopbackInterfaceUp();
  if (!other.empty()) {
    std::fprintf(stderr,
                 "%s: interface %s is up; network tests run only inside a private namespace "
                 "with loopback alone (platform/netns/run-in-netns)\n",
                 who, other.c_str());
    std::exit(1);
  }
}

}  // namespace netns
