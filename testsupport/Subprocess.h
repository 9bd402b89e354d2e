// A child process with pipes on its standard input, output and error, started in a chosen
// working directory: a peer that a test talks to line by line, or a command whose output and
// status it checks.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kyte::testsupport {

class Subprocess {
 public:
  Subprocess(const std::vector<std::string>& argv, const std::filesystem::path& workDir);
  ~Subprocess();  // kills a child that is still running
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  void Send(const std::string& line);  // one line to the child's standard input
  void CloseInput();
  // Next line of standard output without its line break; throws when the child ends first or
  // nothing comes within the time-out.
  std::string ReadLine(int timeoutMs = 20000);
  // Sends `command` and returns the reply line.
  std::string Ask(const std::string& command);
  // Collects output for up to `timeoutMs`; false once the child has closed its outputs.
  bool Drain(int timeoutMs);
  void Kill(int signal);
  // Waits for the end; returns the exit status, or 128 + signal number. Drains both outputs.
  int Wait();
  const std::string& Stdout() const { return out_; }  // complete once Wait has returned
  const std::string& Stderr() const { return err_; }
  pid_t pid() const { return pid_; }

 private:
  void Pump(int timeoutMs);

  pid_t pid_ = -1;
  int in_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  std::string out_;
  std::string err_;
  std::size_t consumed_ = 0;  // of out_, by ReadLine
  int status_ = -1;
};

}  // namespace kyte::testsupport
