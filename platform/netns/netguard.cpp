#include "netguard.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool InPrivateNetworkNamespace() {
  struct stat own {};
  struct stat other {};
  if (::stat("/proc/self/ns/net", &own) != 0) return false;
  // Process 1's namespace is out of a user's reach; run-in-netns execs, so its caller's is next.
  const std::string parent = "/proc/" + std::to_string(::getppid()) + "/ns/net";
  if (::stat("/proc/1/ns/net", &other) != 0 && ::stat(parent.c_str(), &other) != 0) return false;
  return own.st_dev != other.st_dev || own.st_ino != other.st_ino;
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
