#include "testsupport/CapturedOutput.h"

#include <filesystem>

#include "testsupport/Subprocess.h"

namespace kyte::testsupport {

CommandRun RunCommand(const std::string& command) {
  Subprocess shell({"/bin/sh", "-c", command}, std::filesystem::current_path());
  shell.CloseInput();
  CommandRun run;
  run.status = shell.Wait();
  run.out = shell.Stdout();
  run.err = shell.Stderr();
  return run;
}

}  // namespace kyte::testsupport
