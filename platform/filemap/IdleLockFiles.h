// The descriptors of mutex lock files that no handle uses, kept for the next handle of the same
// name: a copy under a named mutex then costs its two flock calls and no open, check and close
// of the lock file. Internal to the file-mapping layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace filemap_detail {

// How many forks this process is away from the one that loaded the layer: a descriptor opened
// in an earlier generation shares its open file description, and so its lock, with the parent.
unsigned ForkGeneration();

class IdleLockFiles {
 public:
  IdleLockFiles();  // a forked child drops what it inherited
  ~IdleLockFiles();
  IdleLockFiles(const IdleLockFiles&) = delete;
  IdleLockFiles& operator=(const IdleLockFiles&) = delete;

  // An idle descriptor of the lock file `name` in the namespace numbered `space`, no longer
  // kept; -1 when there is none.
  int Take(std::uint64_t space, const std::string& name);
  // Keeps the unlocked descriptor `fd` of `name` for a later Take; the oldest beyond the bound is
  // closed, and so are those of another namespace.
  void Keep(std::uint64_t space, std::string name, int fd);
  std::size_t Count();
  void CloseAll();

 private:
  struct Entry {
    std::string name;
    int fd;
  };
  void CloseAllLocked();
  static void ForkPrepare();
  static void ForkParent();
  static void ForkChild();

  std::mutex lock_;
  std::uint64_t space_ = 0;
  std::vector<Entry> entries_;  // oldest first
};

}  // namespace filemap_detail
