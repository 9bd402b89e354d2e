// One shared-memory channel: up to 512 doubles carried in one direction between two processes,
// through a named file mapping over "SharedFile%d" and guarded by the named mutex "SharedMutex%d".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filemap.h"

class CDataTransfer {
 public:
  // The view is always this long, so a channel holds at most kMaxCount values.
  static constexpr std::uint32_t kViewSize = 4096;
  static constexpr std::int32_t kMaxCount = kViewSize / sizeof(double);

  CDataTransfer(std::int32_t count, std::int32_t id);
  virtual ~CDataTransfer();
  CDataTransfer(const CDataTransfer&) = delete;
  CDataTransfer& operator=(const CDataTransfer&) = delete;

  void Read();
  void Write();
  void ReportError(const std::string& operation);

  // A channel without a view carries nothing; Read and Write leave it alone.
  bool HasView() const { return pView != nullptr; }
  std::vector<double>& Data() { return vecData; }

 private:
  enum class FileOutcome { kHandle, kAlreadyMapped, kNoHandle };
  struct SharedFile {
    FileOutcome outcome;
    HANDLE handle;
  };

  SharedFile CreateSharedFile(const std::string& fileName);
  HANDLE CreateSharedMapping(HANDLE file, const std::string& mapName);
  // A mapping that is gone (ERROR_FILE_NOT_FOUND) is reported only at the last attempt.
  HANDLE OpenSharedMapping(const std::string& mapName, bool lastAttempt);
  void* MapSharedView(HANDLE mapping);
  // Creates or opens the channel's mutex and waits for it; nullptr when that failed (reported).
  HANDLE AcquireMutex();
  void ReleaseMutexHandle(HANDLE mutex);

  std::string strMutexName;
  std::string strFileName;
  std::string strMapName;
  HANDLE hMapping = nullptr;
  void* pView = nullptr;
  HANDLE hFile = INVALID_HANDLE_VALUE;
  std::uint32_t dwMapSize = 0;
  std::uint32_t dwDataSize = 0;
  std::vector<double> vecData;
};
