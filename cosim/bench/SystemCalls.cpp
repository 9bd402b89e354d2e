#include "SystemCalls.h"

#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cosim_bench {

namespace {

// Marks the start and the end of the work: the work itself never asks for its parent.
void Marker() { ::syscall(SYS_getppid); }

// Counts the system calls that the stopped, traced child `child` enters between its two markers;
// `ended` tells whether the child has ended (and been waited for) meanwhile.
long CountBetweenMarkers(pid_t child, bool& ended) {
  if (::ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL) != 0) {
    return -1;
  }
  long calls = 0;
  int markers = 0;
  int signal = 0;
  int status = 0;
  while (markers < 2 && ::ptrace(PTRACE_SYSCALL, child, nullptr, signal) == 0 &&
         ::waitpid(child, &status, 0) == child) {
    if (!WIFSTOPPED(status)) {
      ended = true;
      break;
    }
    signal = 0;
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {  // a signal, handed on
      signal = WSTOPSIG(status);
      continue;
    }
    __ptrace_syscall_info info{};
    if (::ptrace(PTRACE_GET_SYSCALL_INFO, child, sizeof info, &info) <= 0) return -1;
    if (info.op != PTRACE_SYSCALL_INFO_ENTRY) continue;
    if (info.entry.nr == SYS_getppid) {
      ++markers;
    } else if (markers == 1) {
      ++calls;
    }
  }
  return markers == 2 ? calls : -1;
}

}  // namespace

long SystemCallsOf(const std::function<void()>& prepare, const std::function<void()>& work) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    prepare();
    if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(1);
    ::raise(SIGSTOP);
    Marker();
    work();
    Marker();
    ::_exit(0);
  }
  int status = 0;
  long calls = -1;
  bool ended = false;
  if (::waitpid(child, &status, 0) == child) {
    if (WIFSTOPPED(status)) {
      calls = CountBetweenMarkers(child, ended);
    } else {
      ended = true;
    }
  }
  if (!ended) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  return calls;
}

}  // namespace cosim_bench
