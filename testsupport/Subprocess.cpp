#include "testsupport/Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <stdexcept>

extern char** environ;

namespace kyte::testsupport {

Subprocess::Subprocess(const std::vector<std::string>& argv, const std::filesystem::path& workDir) {
  int inPipe[2], outPipe[2], errPipe[2];
  if (::pipe2(inPipe, O_CLOEXEC) != 0 || ::pipe2(outPipe, O_CLOEXEC) != 0 ||
      ::pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // The test ignores SIGPIPE (below) for its writes to a child that has ended; the child gets
  // the default back, as a shell would give it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  int rc = ::posix_spawn(&pid_, args[0], &actions, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(inPipe[0]);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  in_ = inPipe[1];
  outFd_ = outPipe[0];
  errFd_ = errPipe[0];
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  ::signal(SIGPIPE, SIG_IGN);
}

Subprocess::~Subprocess() {
  if (status_ < 0 && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    Wait();
  }
  for (int fd : {in_, outFd_, errFd_}) {
    if (fd >= 0) ::close(fd);
  }
}

void Subprocess::Send(const std::string& line) {
  std::string data = line + "\n";
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(in_, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("child's input is closed");
    done += static_cast<std::size_t>(n);
  }
}

void Subprocess::CloseInput() {
  if (in_ >= 0) ::close(in_);
  in_ = -1;
}

// Moves whatever is available (or arrives within the time-out) from the child's outputs.
void Subprocess::Pump(int timeoutMs) {
  pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  int n = ::poll(fds, 2, timeoutMs);
  if (n <= 0) return;
  char buffer[65536];
  for (int i = 0; i < 2; ++i) {
    if (fds[i].revents == 0 || fds[i].fd < 0) continue;
    ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
    if (got > 0) {
      (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0) {
      ::close(fds[i].fd);
      (i == 0 ? outFd_ : errFd_) = -1;
    }
  }
}

std::string Subprocess::ReadLine(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool pumpedAtDeadline = false;
  for (;;) {
    std::size_t eol = out_.find('\n', consumed_);
    if (eol != std::string::npos) {
      std::string line = out_.substr(consumed_, eol - consumed_);
      consumed_ = eol + 1;
      return line;
    }
    if (outFd_ < 0) throw std::runtime_error("child ended; stderr: " + err_);
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    // What the child has written by the deadline is read once more before giving up, so that
    // a time-out of 0 still takes a line that is waiting in the pipe.
    if (left <= 0 && pumpedAtDeadline)
      throw std::runtime_error("no line from child; stderr: " + err_);
    pumpedAtDeadline = left <= 0;
    Pump(static_cast<int>(std::max<std::int64_t>(left, 0)));
  }
}

std::string Subprocess::Ask(const std::string& command) {
  Send(command);
  return ReadLine();
}

bool Subprocess::Drain(int timeoutMs) {
  Pump(timeoutMs);
  return outFd_ >= 0 || errFd_ >= 0;
}

void Subprocess::Kill(int signal) {
  if (status_ < 0) ::kill(pid_, signal);
}

int Subprocess::Wait() {
  if (status_ >= 0) return status_;
  CloseInput();
  while (outFd_ >= 0 || errFd_ >= 0) Pump(1000);
  int raw = 0;
  while (::waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
  }
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return status_;
}

}  // namespace kyte::testsupport
