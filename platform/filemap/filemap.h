// File mapping, named mutexes, system error texts: the Win32 calls the shared-memory channel
// uses, on POSIX.
//
// Named objects (mappings and mutexes) live in one machine-wide namespace, a directory shared by
// every process of the user, so that openers in any working directory meet through a name. A
// mapping is an mmap of its backing file and exists as long as some process holds a handle or a
// view of it; every holder keeps a shared flock on the mapping's name entry and on the backing
// file, so a holder that dies lets go of both. A named mutex is an exclusive flock on a lock file
// named after it, released by the kernel when its holder dies.
//
// Handles belong to the process that opened them and are never inherited by child processes.
// Mutex ownership is counted per handle, not per thread.
//
// The namespace directory is /dev/shm/kyte-objects-<uid> (/tmp when there is no /dev/shm). Tests
// give a process and its children a private namespace with the environment variable
// KYTE_OBJECT_NAMESPACE, the path of the directory to use. The namespace is the user's alone: a
// directory that is a link, belongs to someone else or lets group or others in is refused
// (ERROR_ACCESS_DENIED), and so are entries, lock files and backing files that are links or not
// the user's own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32_types.h"

using HLOCAL = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPSTR = char*;
using LPCSTR = const char*;
using SIZE_T = std::size_t;
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

// Access, sharing, disposition and attribute words of CreateFileA.
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

// Page protections and view access.
constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD FILE_MAP_WRITE = 0x0002;
constexpr DWORD FILE_MAP_READ = 0x0004;

// Waits.
constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

// Error codes this layer reports through GetLastError.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_NOT_OWNER = 288;
constexpr DWORD ERROR_INVALID_ADDRESS = 487;
constexpr DWORD ERROR_FILE_INVALID = 1006;
constexpr DWORD ERROR_USER_MAPPED_FILE = 1224;

// FormatMessageA.
constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x0100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x0200;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
constexpr DWORD LANG_NEUTRAL = 0x00;
constexpr DWORD SUBLANG_DEFAULT = 0x01;
constexpr DWORD MAKELANGID(DWORD primary, DWORD sub) { return (sub << 10) | primary; }

DWORD GetLastError();
void SetLastError(DWORD error);

// CREATE_ALWAYS empties an existing file, and fails with ERROR_USER_MAPPED_FILE while a live
// mapping lies over it; it empties only a regular file of the user's own with no other name
// (else ERROR_ACCESS_DENIED). A link at the name is never followed. Supports CREATE_ALWAYS and
// OPEN_EXISTING.
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD attributes, HANDLE templateFile);

// A named mapping that already exists is handed back (ERROR_ALREADY_EXISTS), whatever file it
// lies over; a new one extends the file to the requested size (0: the file's size, which must not
// be 0). Returns nullptr on failure.
HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect,
                          DWORD sizeHigh, DWORD sizeLow, LPCSTR name);
HANDLE OpenFileMappingA(DWORD access, BOOL inheritHandle, LPCSTR name);
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes);
BOOL UnmapViewOfFile(LPCVOID view);

// Initial ownership is granted when nobody owns the mutex; otherwise the handle is returned
// unowned with ERROR_ALREADY_EXISTS. Returns nullptr on failure.
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL ReleaseMutex(HANDLE mutex);
BOOL CloseHandle(HANDLE handle);

// System text of an error code (the C library's text where one exists), ending with a line
// break. With FORMAT_MESSAGE_ALLOCATE_BUFFER, `buffer` is a char** that receives storage to free
// with LocalFree. Returns the length of the text, 0 on failure.
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                     DWORD size, void* arguments);
HLOCAL LocalFree(HLOCAL memory);
