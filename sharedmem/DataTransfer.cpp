#include "DataTransfer.h"

#include <cstdio>
#include <cstring>

#include "msgbox.h"

namespace {

// Opens of the shared objects that may start over; the last one reports as any failure does.
constexpr int kOpenAttempts = 3;

std::string Named(const char* format, std::int32_t id) {
  char name[32];
  std::snprintf(name, sizeof name, format, static_cast<int>(id));
  return name;
}

}  // namespace

CDataTransfer::CDataTransfer(std::int32_t count, std::int32_t id) {
  strFileName = Named("SharedFile%d", id);
  strMapName = Named("SharedMap%d", id);
  strMutexName = Named("SharedMutex%d", id);

  // A count beyond the view would copy past its end, a count below 1 has nothing to map:
  // such a channel gets no shared objects at all and leaves any existing file alone.
  if (count < 1 || count > kMaxCount) {
    SetLastError(ERROR_INVALID_PARAMETER);
    ReportError("CreateFileMapping");
    return;
  }
  vecData.assign(static_cast<std::size_t>(count), 0.0);
  dwDataSize = 8u * static_cast<std::uint32_t>(count);
  dwMapSize = (dwDataSize / kViewSize + (dwDataSize % kViewSize != 0 ? 1u : 0u)) * kViewSize;

  for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
    SharedFile file = CreateSharedFile(strFileName);
    if (file.outcome == FileOutcome::kNoHandle) return;
    if (file.outcome == FileOutcome::kHandle) {
      hFile = file.handle;
      hMapping = CreateSharedMapping(hFile, strMapName);
      break;
    }
    // The holders of the mapping that made the file "already mapped" may all have closed it
    // since (a third end that stops while two start): the file is free then, and the open
    // starts over, so that the two still meet.
    hMapping = OpenSharedMapping(strMapName, attempt == kOpenAttempts);
    if (hMapping != nullptr || GetLastError() != ERROR_FILE_NOT_FOUND) break;
  }
  if (hMapping != nullptr) pView = MapSharedView(hMapping);
}

CDataTransfer::~CDataTransfer() {
  if (pView != nullptr && !UnmapViewOfFile(pView)) ReportError("Could not unmap view of file.");
  if (hMapping != nullptr) CloseHandle(hMapping);
  if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
}

CDataTransfer::SharedFile CDataTransfer::CreateSharedFile(const std::string& fileName) {
  HANDLE file = CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) return {FileOutcome::kHandle, file};
  if (GetLastError() == ERROR_USER_MAPPED_FILE) return {FileOutcome::kAlreadyMapped, nullptr};
  ReportError("CreateFile");
  return {FileOutcome::kNoHandle, INVALID_HANDLE_VALUE};
}

HANDLE CDataTransfer::CreateSharedMapping(HANDLE file, const std::string& mapName) {
  // An existing mapping of that name, over whichever file, comes back: both ends meet here.
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, dwMapSize, mapName.c_str());
  if (mapping == nullptr) ReportError("CreateFileMapping");
  return mapping;
}

HANDLE CDataTransfer::OpenSharedMapping(const std::string& mapName, bool lastAttempt) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, TRUE, mapName.c_str());
  if (mapping == nullptr && (lastAttempt || GetLastError() != ERROR_FILE_NOT_FOUND)) {
    ReportError("CreateFileMapping");
  }
  return mapping;
}

void* CDataTransfer::MapSharedView(HANDLE mapping) {
  void* view = MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kViewSize);
  if (view == nullptr) ReportError("MapViewOfFile");
  return view;
}

HANDLE CDataTransfer::AcquireMutex() {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, strMutexName.c_str());
  if (mutex == nullptr) {
    ReportError("CreateMutex");
    return nullptr;
  }
  // Created unowned when the other end holds it: wait for our turn.
  if (GetLastError() == ERROR_ALREADY_EXISTS &&
      WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0) {
    ReportError("WaitForSingleObject");
    CloseHandle(mutex);
    return nullptr;
  }
  return mutex;
}

void CDataTransfer::ReleaseMutexHandle(HANDLE mutex) {
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

void CDataTransfer::Read() {
  if (pView == nullptr) return;
  HANDLE mutex = AcquireMutex();
  if (mutex == nullptr) return;  // never copy without the lock
  std::memcpy(vecData.data(), pView, dwDataSize);
  ReleaseMutexHandle(mutex);
}

void CDataTransfer::Write() {
  if (pView == nullptr) return;
  HANDLE mutex = AcquireMutex();
  if (mutex == nullptr) return;
  std::memcpy(pView, vecData.data(), dwDataSize);
  ReleaseMutexHandle(mutex);
}

void CDataTransfer::ReportError(const std::string& operation) {
  char* systemText = nullptr;
  FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, GetLastError(), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<LPSTR>(&systemText), 0, nullptr);
  std::string text = operation + " - " + (systemText != nullptr ? systemText : "");
  AfxMessageBox(text.c_str(), MB_ICONEXCLAMATION, 0);
  std::fprintf(stderr, "%s", text.c_str());
  LocalFree(systemText);
}
