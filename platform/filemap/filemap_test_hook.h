// Test hook of the file-mapping layer: fault injection and the texts of the message box.
#pragma once

#include <string>
#include <vector>

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

// Texts shown in message boxes since the last call, oldest first.
std::vector<std::string> TakeMessageBoxTexts();

}  // namespace filemap_test
