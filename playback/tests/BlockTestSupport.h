// What the playback block tests share: a private directory and parameters for a block driven by
// the host.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mexhost.h"
#include "sfunhost.h"
#include "testsupport/BlockParams.h"
#include "testsupport/CapturedOutput.h"
#include "testsupport/TempDirTest.h"

namespace playback_test {

using kyte::mexhost::ArrayPtr;
using kyte::testsupport::ParseParams;
using kyte::testsupport::TempDirTest;

inline ArrayPtr Text(const std::string& text) { return kyte::mexhost::Char(text); }
inline ArrayPtr Number(double value) { return kyte::mexhost::Scalar(value); }

template <typename... Arrays>
std::vector<ArrayPtr> Params(Arrays... params) {
  std::vector<ArrayPtr> list;
  (list.push_back(std::move(params)), ...);
  return list;
}

// Shell words that run the S-function host as a local user who is not root (uid and gid 65534,
// no groups) in a directory that user may enter but not write to: `dir`/locked, made here.
// Empty, with the reason in *why, where that cannot be arranged.
inline std::string HostAsOtherUser(const std::filesystem::path& dir, std::string* why) {
  if (::geteuid() != 0) {
    *why = "needs root to run the host as a user who is not root (uid 65534)";
    return {};
  }
  const std::string prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  if (kyte::testsupport::RunCommand(prefix + SFUNHOST_PATH " --help").status != 0) {
    *why = "cannot run " SFUNHOST_PATH " as uid 65534 through setpriv";
    return {};
  }
  constexpr auto kReadable = static_cast<std::filesystem::perms>(0755);
  std::filesystem::permissions(dir, kReadable);
  std::filesystem::create_directory(dir / "locked");
  std::filesystem::permissions(dir / "locked", kReadable);
  return prefix + SFUNHOST_PATH " ";
}

}  // namespace playback_test
