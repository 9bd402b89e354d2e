#include "filemap.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <variant>

#include "IdleLockFiles.h"
#include "filemap_test_hook.h"
#include "support/FaultCountdown.h"

namespace {

thread_local DWORD tlsLastError = ERROR_SUCCESS;

// Win32 codes for the errno values this layer meets; others keep their errno in a private range.
constexpr DWORD kErrnoCodeBase = 0x20000000u;
struct ErrnoCode {
  int err;
  DWORD code;
};
constexpr ErrnoCode kErrnoCodes[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},      {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES}, {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EACCES, ERROR_ACCESS_DENIED},       {EPERM, ERROR_ACCESS_DENIED},
    {EROFS, ERROR_ACCESS_DENIED},        {EISDIR, ERROR_ACCESS_DENIED},
    {EBADF, ERROR_INVALID_HANDLE},       {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EEXIST, ERROR_FILE_EXISTS},         {EINVAL, ERROR_INVALID_PARAMETER},
    {ENOSPC, ERROR_DISK_FULL},           {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
};

DWORD CodeOfErrno(int err) {
  for (const ErrnoCode& e : kErrnoCodes) {
    if (e.err == err) return e.code;
  }
  return kErrnoCodeBase | static_cast<DWORD>(err);
}

void FailWithErrno() { tlsLastError = CodeOfErrno(errno); }

std::string TextOfCode(DWORD code) {
  switch (code) {
    case ERROR_SUCCESS:
      return "Success";
    case ERROR_ALREADY_EXISTS:
      return "The named object already exists.";
    case ERROR_NOT_OWNER:
      return "The mutex is not owned by the caller.";
    case ERROR_INVALID_ADDRESS:
      return "The address is not the start of a mapped view.";
    case ERROR_FILE_INVALID:
      return "An empty file cannot be mapped.";
    case ERROR_USER_MAPPED_FILE:
      return "The file cannot be replaced while a mapping of it is open.";
    default:
      break;
  }
  for (const ErrnoCode& e : kErrnoCodes) {
    if (e.code == code) return std::strerror(e.err);
  }
  if ((code & kErrnoCodeBase) != 0) return std::strerror(static_cast<int>(code & ~kErrnoCodeBase));
  return "Unknown error " + std::to_string(code);
}

// Descriptor that closes itself.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~Fd() { reset(); }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

bool Flock(int fd, int op) {
  while (::flock(fd, op) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// The directory of the user's named objects, held open from its first use; `serial` tells the
// namespaces that a process opens apart.
struct Namespace {
  std::string path;
  Fd dir;
  std::uint64_t serial = 0;
};

// Each holder of a mapping keeps a shared lock on the name entry (the mapping is alive while the
// entry is locked) and on its own description of the backing file (the file is mapped).
struct MappingObject {
  MappingObject() = default;
  MappingObject(const MappingObject&) = delete;
  MappingObject& operator=(const MappingObject&) = delete;
  ~MappingObject();

  Fd entry;
  Fd file;
  std::uint64_t size = 0;
  bool writable = false;
  std::shared_ptr<const Namespace> space;  // once it holds the mapping
};

struct FileObject {
  Fd fd;
  bool writable = false;
};
struct MappingHandle {
  std::shared_ptr<MappingObject> mapping;
};
// A mutex handle holds an open of the mutex's lock file of its own while it is open: two handles
// on one open file would not exclude each other. Closed, the handle leaves it idle for the next
// handle of that name (see CloseHandle), or closes it when another thread was still using it.
struct MutexObject {
  MutexObject(Fd file, int owned, std::uint64_t spaceSerial, std::string lockName)
      : fd(std::move(file)), ownCount(owned), space(spaceSerial), name(std::move(lockName)) {}
  MutexObject(MutexObject&& other) noexcept
      : fd(std::move(other.fd)),
        ownCount(std::exchange(other.ownCount, 0)),
        space(other.space),
        name(std::move(other.name)),
        generation(other.generation) {}
  MutexObject& operator=(MutexObject&&) = delete;
  ~MutexObject() { Unlock(); }

  // Closing a handle releases the mutex: unlocked before the descriptor goes, so that no copy of
  // it (a child forked meanwhile) keeps it owned. A handle that a forked child inherited owns
  // nothing of its own there: the lock it shares is the parent's.
  void Unlock() {
    if (fd.valid() && ownCount > 0 && generation == filemap_detail::ForkGeneration()) {
      Flock(fd.get(), LOCK_UN);
    }
    ownCount = 0;
  }

  Fd fd;
  int ownCount = 0;
  std::uint64_t space;  // the namespace's serial
  std::string name;     // of the lock file in it
  unsigned generation = filemap_detail::ForkGeneration();
};
using Object = std::variant<FileObject, MappingHandle, MutexObject>;

struct View {
  std::shared_ptr<MappingObject> mapping;
  std::size_t length;
};

constexpr std::size_t kFaultCalls =
    static_cast<std::size_t>(filemap_test::Call::WaitForSingleObject) + 1;

struct State {
  std::mutex lock;
  std::unordered_map<std::uintptr_t, std::shared_ptr<Object>> handles;
  std::uintptr_t nextHandle = 4;
  std::unordered_map<const void*, View> views;
  FaultTable<filemap_test::Call, kFaultCalls, DWORD> faults;
  std::string namespaceFor;  // environment value the cached namespace belongs to
  std::shared_ptr<const Namespace> space;
  std::uint64_t namespacesOpened = 0;
  filemap_detail::IdleLockFiles idleLockFiles;
};

State& state() {
  static State s;
  return s;
}

bool Faulted(filemap_test::Call call) {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  DWORD error = ERROR_SUCCESS;
  if (!s.faults.Falls(call, error)) return false;
  tlsLastError = error;
  return true;
}

HANDLE AddHandle(Object&& object) {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  std::uintptr_t value = s.nextHandle;
  s.nextHandle += 4;
  s.handles.emplace(value, std::make_shared<Object>(std::move(object)));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> FindHandle(HANDLE handle) {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  auto it = s.handles.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == s.handles.end()) return nullptr;
  return it->second;
}

// The object of kind T that `handle` names, kept alive by the pointer; null, with
// ERROR_INVALID_HANDLE as the last error, when the handle names no object of that kind.
template <class T>
std::shared_ptr<T> ObjectOf(HANDLE handle) {
  std::shared_ptr<Object> object = FindHandle(handle);
  T* ofKind = object ? std::get_if<T>(object.get()) : nullptr;
  if (ofKind == nullptr) {
    tlsLastError = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  return std::shared_ptr<T>(std::move(object), ofKind);
}

// A regular file of this user's.
bool OwnFile(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_uid == ::geteuid(); }

bool RefuseUnless(bool accepted) {
  if (!accepted) tlsLastError = ERROR_ACCESS_DENIED;
  return accepted;
}

// The namespace holds the entries and locks that lead every opener to an object, so whoever can
// write there decides what a mapping lies over and who owns a mutex. It is taken only when it is
// a directory of this user's that nobody else may enter; a link in its place is not followed.
std::shared_ptr<const Namespace> OpenNamespace(const std::string& path, std::uint64_t serial) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    FailWithErrno();
    return nullptr;
  }
  // Not O_DIRECTORY, so that a link fails as a link; whether it is a directory is asked below.
  Fd dir(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (!dir.valid() || ::fstat(dir.get(), &st) != 0) {
    FailWithErrno();
    return nullptr;
  }
  if (!S_ISDIR(st.st_mode)) {
    tlsLastError = CodeOfErrno(ENOTDIR);
    return nullptr;
  }
  if (!RefuseUnless(st.st_uid == ::geteuid() && (st.st_mode & 077) == 0)) return nullptr;
  return std::make_shared<const Namespace>(Namespace{path, std::move(dir), serial});
}

// The namespace, opened on first use and held open: every object is opened relative to it.
std::shared_ptr<const Namespace> CurrentNamespace() {
  const char* env = std::getenv("KYTE_OBJECT_NAMESPACE");
  std::string key = env != nullptr ? env : "";
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.space && s.namespaceFor == key) return s.space;
  std::string path = key;
  if (path.empty()) {
    struct stat st {};
    const char* base = (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode)) ? "/dev/shm" : "/tmp";
    path = std::string(base) + "/kyte-objects-" + std::to_string(::getuid());
  }
  std::shared_ptr<const Namespace> space = OpenNamespace(path, ++s.namespacesOpened);
  if (!space) return nullptr;
  s.namespaceFor = key;
  s.space = space;
  return space;
}

// The namespace's file `name`, read-write, created when `create` is set; a link is not followed
// and a file that is not this user's is refused.
Fd OpenInNamespace(const Namespace& space, const std::string& name, bool create) {
  Fd fd(::openat(space.dir.get(), name.c_str(),
                 O_RDWR | O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT : 0), 0600));
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
    FailWithErrno();
    return Fd();
  }
  if (!RefuseUnless(OwnFile(st))) return Fd();
  return fd;
}

// The namespace and the name in it of the object `name` of `kind`, or nullptr. Object names may
// hold any character; the file name escapes all but a safe set.
std::shared_ptr<const Namespace> ObjectFile(const char* kind, LPCSTR name, std::string& fileName) {
  if (name == nullptr || *name == '\0') {
    tlsLastError = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  fileName = std::string(kind) + ".";
  for (const char* p = name; *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
        c == '-' || c == '.') {
      fileName += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      fileName += hex;
    }
  }
  return CurrentNamespace();
}

// Serialises the creation and opening of mappings machine-wide, so that looking for a live
// mapping and becoming its holder is one step.
class NamespaceLock {
 public:
  explicit NamespaceLock(const Namespace& space)
      : fd_(OpenInNamespace(space, ".namespace.lock", true)) {
    if (fd_.valid() && !Flock(fd_.get(), LOCK_EX)) {
      FailWithErrno();
      fd_.reset();
    }
  }
  bool held() const { return fd_.valid(); }

 private:
  Fd fd_;  // closing it releases the lock
};

// A live mapping's entry is share-locked by its holders, so an exclusive try-lock fails; when it
// succeeds the entry is free and stays locked by the caller.
enum class Entry { kLive, kFree, kError };
Entry ProbeEntry(int entry) {
  if (Flock(entry, LOCK_EX | LOCK_NB)) return Entry::kFree;
  if (errno == EWOULDBLOCK) return Entry::kLive;
  FailWithErrno();
  return Entry::kError;
}

std::string FdLink(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool FilePathOf(int fd, std::string& path) {
  char target[PATH_MAX];
  ssize_t n = ::readlink(FdLink(fd).c_str(), target, sizeof target - 1);
  if (n < 0) {
    FailWithErrno();
    return false;
  }
  path.assign(target, static_cast<std::size_t>(n));
  return true;
}

// A description of its own of the very file that `fd` holds, whatever has become of its path.
Fd Reopen(int fd, bool writable) {
  Fd file(::open(FdLink(fd).c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC));
  if (!file.valid()) FailWithErrno();
  return file;
}

// An entry records the path of the file that its mapping lies over, for openers in other
// directories, and the file's identity, so that no other file put at that path is taken for it.
std::string EntryRecord(const std::string& path, const struct stat& st) {
  return path + '\0' + std::to_string(st.st_dev) + ' ' + std::to_string(st.st_ino);
}

// The file that an entry records, when it is still that very file and this user's own; a link
// at the path is not followed, and nothing is opened for reading or writing before the checks.
Fd OpenRecordedFile(const char* record, std::size_t length, bool writable) {
  const char* end = static_cast<const char*>(std::memchr(record, '\0', length));
  std::uintmax_t dev = 0, ino = 0;
  char extra = 0;
  std::string identity = end != nullptr ? std::string(end + 1, record + length) : "";
  if (!RefuseUnless(end != nullptr &&
                    std::sscanf(identity.c_str(), "%ju %ju%c", &dev, &ino, &extra) == 2)) {
    return Fd();
  }
  Fd place(::open(record, O_PATH | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!place.valid() || ::fstat(place.get(), &st) != 0) {
    FailWithErrno();
    return Fd();
  }
  if (!RefuseUnless(OwnFile(st) && static_cast<std::uintmax_t>(st.st_dev) == dev &&
                    static_cast<std::uintmax_t>(st.st_ino) == ino)) {
    return Fd();
  }
  return Reopen(place.get(), writable);
}

// Becomes a holder of the live mapping whose entry is `entry`.
std::shared_ptr<MappingObject> JoinMapping(Fd entry, bool writable) {
  char buffer[PATH_MAX + 64];
  ssize_t n = ::pread(entry.get(), buffer, sizeof buffer - 1, 0);
  if (n <= 0) {
    if (n == 0) errno = ENOENT;
    FailWithErrno();
    return nullptr;
  }
  buffer[n] = '\0';
  auto mapping = std::make_shared<MappingObject>();
  mapping->file = OpenRecordedFile(buffer, static_cast<std::size_t>(n), writable);
  if (!mapping->file.valid()) return nullptr;
  struct stat st {};
  if (!Flock(mapping->file.get(), LOCK_SH) || ::fstat(mapping->file.get(), &st) != 0 ||
      !Flock(entry.get(), LOCK_SH)) {
    FailWithErrno();
    return nullptr;
  }
  mapping->entry = std::move(entry);
  mapping->size = static_cast<std::uint64_t>(st.st_size);
  mapping->writable = writable;
  return mapping;
}

// Becomes the first holder of a new mapping over `fileFd`, recorded under the locked `entry`.
std::shared_ptr<MappingObject> StartMapping(Fd entry, int fileFd, std::uint64_t size,
                                            bool writable) {
  std::string path;
  if (!FilePathOf(fileFd, path)) return nullptr;
  auto mapping = std::make_shared<MappingObject>();
  // A description of our own, so that the lock lives with the mapping, not with the file handle.
  mapping->file = Reopen(fileFd, writable);
  if (!mapping->file.valid()) return nullptr;
  struct stat st {};
  if (!Flock(mapping->file.get(), LOCK_SH) || ::fstat(mapping->file.get(), &st) != 0) {
    FailWithErrno();
    return nullptr;
  }
  std::uint64_t fileSize = static_cast<std::uint64_t>(st.st_size);
  if (size == 0) {
    if (fileSize == 0) {
      tlsLastError = ERROR_FILE_INVALID;
      return nullptr;
    }
    size = fileSize;
  } else if (size > fileSize) {
    if (!writable) {
      tlsLastError = ERROR_ACCESS_DENIED;
      return nullptr;
    }
    if (::ftruncate(mapping->file.get(), static_cast<off_t>(size)) != 0) {
      FailWithErrno();
      return nullptr;
    }
  }
  std::string record = EntryRecord(path, st);
  if (::ftruncate(entry.get(), 0) != 0 ||
      ::pwrite(entry.get(), record.data(), record.size(), 0) !=
          static_cast<ssize_t>(record.size()) ||
      !Flock(entry.get(), LOCK_SH)) {  // exclusive to shared, still under the namespace lock
    FailWithErrno();
    return nullptr;
  }
  mapping->entry = std::move(entry);
  mapping->size = size;
  mapping->writable = writable;
  return mapping;
}

// A holder lets go of the entry and the file as one step, with the namespace locked as openers
// look at both, and the entry first: an opener that found the file free while the entry was still
// held would empty the file under a mapping that others then join, one of no size.
MappingObject::~MappingObject() {
  std::optional<NamespaceLock> namespaceLock;
  if (space) namespaceLock.emplace(*space);  // let go of all the same when it cannot be had
  entry.reset();
  file.reset();
}

// A handle to `mapping` of the namespace `space` with `error` as the last error, or nullptr when
// there is no mapping.
HANDLE MappingHandleOf(std::shared_ptr<MappingObject> mapping,
                       const std::shared_ptr<const Namespace>& space, DWORD error) {
  if (!mapping) return nullptr;
  mapping->space = space;
  HANDLE handle = AddHandle(MappingHandle{std::move(mapping)});
  tlsLastError = error;
  return handle;
}

// Opens the entry of mapping `name` (made when `create` is set) with the namespace locked, finds
// whether a live mapping holds it and hands both, with the namespace, to `use`, which makes the
// handle while the namespace stays locked. Null when the entry cannot be had or probed.
template <class Use>
HANDLE WithMappingEntry(LPCSTR name, bool create, Use use) {
  std::string entryName;
  std::shared_ptr<const Namespace> space = ObjectFile("map", name, entryName);
  if (!space) return nullptr;
  NamespaceLock namespaceLock(*space);
  if (!namespaceLock.held()) return nullptr;
  Fd entry = OpenInNamespace(*space, entryName, create);
  if (!entry.valid()) return nullptr;
  Entry probe = ProbeEntry(entry.get());
  if (probe == Entry::kError) return nullptr;
  return use(space, std::move(entry), probe);
}

}  // namespace

DWORD GetLastError() { return tlsLastError; }
void SetLastError(DWORD error) { tlsLastError = error; }

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD /*share*/, LPSECURITY_ATTRIBUTES /*security*/,
                   DWORD disposition, DWORD /*attributes*/, HANDLE /*templateFile*/) {
  if (Faulted(filemap_test::Call::CreateFile)) return INVALID_HANDLE_VALUE;
  if (name == nullptr || (disposition != CREATE_ALWAYS && disposition != OPEN_EXISTING)) {
    tlsLastError = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  bool readable = (access & GENERIC_READ) != 0;
  bool writable = (access & GENERIC_WRITE) != 0;
  // A link at the name is not followed: in a shared directory it may be anybody's.
  int mode = readable && writable ? O_RDWR : writable ? O_WRONLY : O_RDONLY;
  int flags = O_CLOEXEC | O_NOFOLLOW | mode;
  bool existed = ::access(name, F_OK) == 0;
  if (disposition == CREATE_ALWAYS) flags |= O_CREAT;
  Fd fd(::open(name, flags, 0666));
  if (!fd.valid()) {
    FailWithErrno();
    return INVALID_HANDLE_VALUE;
  }
  if (disposition == CREATE_ALWAYS) {
    // Emptied only when it is the user's own file under this one name: another user's file would
    // let its owner read and feed the channel, and a second name (a hard link put there) would
    // empty a file that lives elsewhere.
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
      FailWithErrno();
      return INVALID_HANDLE_VALUE;
    }
    if (!RefuseUnless(OwnFile(st) && st.st_nlink == 1)) return INVALID_HANDLE_VALUE;
    // Mapping holders share-lock the file, always with the namespace locked: it may be emptied
    // only when nobody maps it. The check and the emptying are made with the namespace locked
    // too, so that another opener's check in progress is never taken for a mapping (two ends
    // that start at the same instant would each find the other's lock and no mapping). Where
    // the namespace cannot be had, the mapping calls report why.
    std::optional<NamespaceLock> namespaceLock;
    if (std::shared_ptr<const Namespace> space = CurrentNamespace()) namespaceLock.emplace(*space);
    if (!Flock(fd.get(), LOCK_EX | LOCK_NB)) {
      if (errno == EWOULDBLOCK) {
        tlsLastError = ERROR_USER_MAPPED_FILE;
      } else {
        FailWithErrno();
      }
      return INVALID_HANDLE_VALUE;
    }
    if (!writable) {
      tlsLastError = ERROR_ACCESS_DENIED;
      return INVALID_HANDLE_VALUE;
    }
    if (::ftruncate(fd.get(), 0) != 0) {
      FailWithErrno();
      return INVALID_HANDLE_VALUE;
    }
    Flock(fd.get(), LOCK_UN);
  }
  HANDLE handle = AddHandle(FileObject{std::move(fd), writable});
  tlsLastError = (disposition == CREATE_ALWAYS && existed) ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
  return handle;
}

HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES /*security*/, DWORD protect,
                          DWORD sizeHigh, DWORD sizeLow, LPCSTR name) {
  if (Faulted(filemap_test::Call::CreateFileMapping)) return nullptr;
  std::shared_ptr<FileObject> fileObject = ObjectOf<FileObject>(file);
  if (!fileObject) return nullptr;
  if (protect != PAGE_READWRITE && protect != PAGE_READONLY) {
    tlsLastError = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  bool writable = protect == PAGE_READWRITE;
  if (writable && !fileObject->writable) {
    tlsLastError = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  std::uint64_t size = (static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow;
  return WithMappingEntry(name, true, [&](const auto& space, Fd entry, Entry probe) {
    if (probe == Entry::kLive) {
      return MappingHandleOf(JoinMapping(std::move(entry), writable), space, ERROR_ALREADY_EXISTS);
    }
    return MappingHandleOf(StartMapping(std::move(entry), fileObject->fd.get(), size, writable),
                           space, ERROR_SUCCESS);
  });
}

HANDLE OpenFileMappingA(DWORD access, BOOL /*inheritHandle*/, LPCSTR name) {
  if (Faulted(filemap_test::Call::OpenFileMapping)) return nullptr;
  return WithMappingEntry(name, false, [access](const auto& space, Fd entry, Entry probe) {
    if (probe == Entry::kFree) {
      tlsLastError = ERROR_FILE_NOT_FOUND;  // nobody holds it: the mapping is gone
      return HANDLE{nullptr};
    }
    return MappingHandleOf(JoinMapping(std::move(entry), (access & FILE_MAP_WRITE) != 0), space,
                           ERROR_SUCCESS);
  });
}

LPVOID MapViewOfFile(HANDLE mappingHandle, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                     SIZE_T bytes) {
  if (Faulted(filemap_test::Call::MapViewOfFile)) return nullptr;
  std::shared_ptr<MappingHandle> handle = ObjectOf<MappingHandle>(mappingHandle);
  if (!handle) return nullptr;
  const std::shared_ptr<MappingObject>& mapping = handle->mapping;
  bool write = (access & FILE_MAP_WRITE) != 0;
  std::uint64_t offset = (static_cast<std::uint64_t>(offsetHigh) << 32) | offsetLow;
  if ((write && !mapping->writable) || offset > mapping->size || bytes > mapping->size - offset) {
    tlsLastError = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  if (bytes == 0) bytes = static_cast<SIZE_T>(mapping->size - offset);
  if (bytes == 0 || offset % static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) != 0) {
    tlsLastError = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  void* view = ::mmap(nullptr, bytes, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED,
                      mapping->file.get(), static_cast<off_t>(offset));
  if (view == MAP_FAILED) {
    FailWithErrno();
    return nullptr;
  }
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  s.views.emplace(view, View{mapping, bytes});
  tlsLastError = ERROR_SUCCESS;
  return view;
}

BOOL UnmapViewOfFile(LPCVOID view) {
  if (Faulted(filemap_test::Call::UnmapViewOfFile)) return FALSE;
  View found;
  {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    auto it = s.views.find(view);
    if (it == s.views.end()) {
      tlsLastError = ERROR_INVALID_ADDRESS;
      return FALSE;
    }
    found = std::move(it->second);
    s.views.erase(it);
  }
  ::munmap(const_cast<void*>(view), found.length);
  return TRUE;  // the mapping goes with its last view or handle
}

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES /*security*/, BOOL initialOwner, LPCSTR name) {
  if (Faulted(filemap_test::Call::CreateMutex)) return nullptr;
  std::string fileName;
  std::shared_ptr<const Namespace> space = ObjectFile("mutex", name, fileName);
  if (!space) return nullptr;
  // An idle descriptor was checked when it was opened, and it is still that file.
  Fd lockFile(state().idleLockFiles.Take(space->serial, fileName));
  if (!lockFile.valid()) lockFile = OpenInNamespace(*space, fileName, true);
  if (!lockFile.valid()) return nullptr;
  int owned = 0;
  DWORD error = ERROR_SUCCESS;
  if (initialOwner) {
    if (Flock(lockFile.get(), LOCK_EX | LOCK_NB)) {
      owned = 1;
    } else if (errno == EWOULDBLOCK) {
      error = ERROR_ALREADY_EXISTS;  // someone owns it: handed back unowned
    } else {
      FailWithErrno();
      return nullptr;
    }
  }
  HANDLE handle =
      AddHandle(MutexObject{std::move(lockFile), owned, space->serial, std::move(fileName)});
  tlsLastError = error;
  return handle;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  if (Faulted(filemap_test::Call::WaitForSingleObject)) return WAIT_FAILED;
  std::shared_ptr<MutexObject> mutex = ObjectOf<MutexObject>(handle);
  if (!mutex) return WAIT_FAILED;
  if (mutex->ownCount > 0) {
    ++mutex->ownCount;
    return WAIT_OBJECT_0;
  }
  if (milliseconds == INFINITE) {
    if (!Flock(mutex->fd.get(), LOCK_EX)) {
      FailWithErrno();
      return WAIT_FAILED;
    }
  } else {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!Flock(mutex->fd.get(), LOCK_EX | LOCK_NB)) {
      if (errno != EWOULDBLOCK) {
        FailWithErrno();
        return WAIT_FAILED;
      }
      if (std::chrono::steady_clock::now() >= deadline) return WAIT_TIMEOUT;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  mutex->ownCount = 1;
  return WAIT_OBJECT_0;
}

BOOL ReleaseMutex(HANDLE handle) {
  std::shared_ptr<MutexObject> mutex = ObjectOf<MutexObject>(handle);
  if (!mutex) return FALSE;
  if (mutex->ownCount == 0) {
    tlsLastError = ERROR_NOT_OWNER;
    return FALSE;
  }
  if (--mutex->ownCount == 0) Flock(mutex->fd.get(), LOCK_UN);
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<Object> object;
  {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    auto it = s.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == s.handles.end()) {
      tlsLastError = ERROR_INVALID_HANDLE;
      return FALSE;
    }
    object = std::move(it->second);
    s.handles.erase(it);
  }
  // A mutex's lock file stays open, unlocked, for the next handle of the name, unless another
  // thread still waits on the handle or it came through a fork.
  MutexObject* mutex = std::get_if<MutexObject>(object.get());
  if (mutex != nullptr && object.use_count() == 1 && mutex->fd.valid() &&
      mutex->generation == filemap_detail::ForkGeneration()) {
    mutex->Unlock();
    state().idleLockFiles.Keep(mutex->space, std::move(mutex->name), mutex->fd.release());
  }
  return TRUE;  // other descriptors close, and their locks go, with the last reference
}

DWORD FormatMessageA(DWORD flags, LPCVOID /*source*/, DWORD messageId, DWORD /*languageId*/,
                     LPSTR buffer, DWORD size, void* /*arguments*/) {
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr) {
    tlsLastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  std::string text = TextOfCode(messageId) + "\n";
  if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
    char* storage = static_cast<char*>(std::malloc(text.size() + 1));
    if (storage == nullptr) {
      tlsLastError = ERROR_NOT_ENOUGH_MEMORY;
      return 0;
    }
    std::memcpy(storage, text.c_str(), text.size() + 1);
    *reinterpret_cast<char**>(buffer) = storage;
  } else {
    if (size <= text.size()) {
      tlsLastError = ERROR_INVALID_PARAMETER;
      return 0;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
  }
  return static_cast<DWORD>(text.size());
}

HLOCAL LocalFree(HLOCAL memory) {
  std::free(memory);
  return nullptr;
}

namespace filemap_test {
void FailNext(Call call, DWORD error, int times) {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  s.faults.Fail(call, error, 0, std::max(times, 0));  // a count below 1 fails no call
}
void ClearFaults() {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  s.faults.Clear();
}
std::size_t IdleMutexFiles() { return state().idleLockFiles.Count(); }
void CloseIdleMutexFiles() { state().idleLockFiles.CloseAll(); }
}  // namespace filemap_test
