// A small disk for tests of a full disk: a tmpfs of a given size in a mount namespace of its
// own, which a user who is not root gets inside a user namespace of its own that maps the user
// to root. The disk and what it holds are gone with the process that made it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kyte::testsupport {

// Lays a small disk of `bytes` bytes over directory `dir` for the calling process and makes it
// the current directory when `dir` was: what the process writes there lands on the small disk.
// The process must have one thread only (a death test's child, whose disk ends with it). False
// when the system refuses.
bool MountSmallDisk(std::uint64_t bytes, const std::filesystem::path& dir = ".");

// Shell words to put before a command: it then runs in directory `dir` of the current
// directory, covered by a small disk of `bytes` bytes that holds copies of `files` from the
// current directory. The command's output and status are its own. With a `listing`, the names
// the disk holds after the command are written, one a line, to that file of the current
// directory; the file is missing when the command did not run on the disk.
std::string OnSmallDisk(std::uint64_t bytes, const std::vector<std::string>& files = {},
                        const std::string& dir = "disk", const std::string& listing = "");

}  // namespace kyte::testsupport
