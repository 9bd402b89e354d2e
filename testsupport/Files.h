// Whole files read and written, the names in a directory and the descriptors open on a file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace kyte::testsupport {

// The whole content of a file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);

// Creates or empties the file and writes `bytes`.
void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// The names of the entries of directory `dir`.
std::set<std::string> FilesIn(const std::filesystem::path& dir);

// Descriptors of this process open on `path` (a canonical path).
int DescriptorsOn(const std::filesystem::path& path);
// Descriptors this process has open.
int OpenDescriptors();

}  // namespace kyte::testsupport
