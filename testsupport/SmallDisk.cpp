#include "testsupport/SmallDisk.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <system_error>

namespace kyte::testsupport {

namespace {

bool WriteProcFile(const char* name, const std::string& text) {
  const int fd = ::open(name, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return ::close(fd) == 0 && written;
}

// A mount namespace of the process's own, in which it may mount.
bool PrivateMountNamespace() {
  const uid_t uid = ::geteuid();
  const gid_t gid = ::getegid();
  if (uid == 0) return ::unshare(CLONE_NEWNS) == 0;
  return ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 &&
         WriteProcFile("/proc/self/setgroups", "deny") &&
         WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
         WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
}

}  // namespace

bool MountSmallDisk(std::uint64_t bytes, const std::filesystem::path& dir) {
  std::error_code error;
  const std::filesystem::path target = std::filesystem::absolute(dir, error);
  const bool entered = std::filesystem::equivalent(target, ".", error);
  const std::string options = "size=" + std::to_string(bytes);
  return !error && PrivateMountNamespace() &&
         ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         ::mount("tmpfs", target.c_str(), "tmpfs", 0, options.c_str()) == 0 &&
         (!entered || ::chdir(target.c_str()) == 0);
}

std::string OnSmallDisk(std::uint64_t bytes, const std::vector<std::string>& files,
                        const std::string& dir, const std::string& listing) {
  std::string script = "mount -t tmpfs -o size=" + std::to_string(bytes) + " kyte-small " + dir;
  for (const std::string& file : files) script += " && cp \"" + file + "\" " + dir + "/";
  script += " && cd " + dir;
  script += listing.empty()
                ? " && exec \"$0\" \"$@\""
                : " || exit 125; \"$0\" \"$@\"; s=$?; ls -A >\"../" + listing + "\"; exit $s";
  const char* unshare = ::geteuid() == 0 ? "unshare -m" : "unshare -r -m";
  return "mkdir -p " + dir + " && " + unshare + " --propagation private sh -c '" + script + "' ";
}

}  // namespace kyte::testsupport
