// Test hook of the file-mapping layer: fault injection and the idle lock files.
#pragma once

#include <cstddef>

#include "filemap.h"

namespace filemap_test {

enum class Call {
  CreateFile,
  CreateFileMapping,
  OpenFileMapping,
  MapViewOfFile,
  UnmapViewOfFile,
  CreateMutex,
  WaitForSingleObject,
};

// The next `times` calls of `call` fail with `error` and change nothing.
void FailNext(Call call, DWORD error, int times = 1);
void ClearFaults();

// The idle lock-file descriptors that the layer keeps for the next handle of a mutex name: at
// most kMostIdleMutexFiles, how many it keeps now, and closing them (as if never opened).
constexpr std::size_t kMostIdleMutexFiles = 8;
std::size_t IdleMutexFiles();
void CloseIdleMutexFiles();

}  // namespace filemap_test
