#include "IdleLockFiles.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <utility>

#include "filemap_test_hook.h"

namespace filemap_detail {

namespace {

std::atomic<unsigned> forkGeneration{0};
IdleLockFiles* forkWatched = nullptr;  // the layer's one set of idle descriptors

}  // namespace

unsigned ForkGeneration() { return forkGeneration.load(std::memory_order_relaxed); }

IdleLockFiles::IdleLockFiles() {
  forkWatched = this;
  // A child forked without exec would otherwise hold copies of the idle descriptors: its handles
  // would share their locks with the parent's, and the parent dying mid-copy would leave the
  // mutex owned until the child ends.
  ::pthread_atfork(&IdleLockFiles::ForkPrepare, &IdleLockFiles::ForkParent,
                   &IdleLockFiles::ForkChild);
}

IdleLockFiles::~IdleLockFiles() {
  CloseAllLocked();
  forkWatched = nullptr;
}

int IdleLockFiles::Take(std::uint64_t space, const std::string& name) {
  std::lock_guard<std::mutex> guard(lock_);
  if (space != space_) return -1;
  auto it = std::find_if(entries_.rbegin(), entries_.rend(),
                         [&](const Entry& entry) { return entry.name == name; });
  if (it == entries_.rend()) return -1;
  int fd = it->fd;
  entries_.erase(std::next(it).base());
  return fd;
}

void IdleLockFiles::Keep(std::uint64_t space, std::string name, int fd) {
  std::lock_guard<std::mutex> guard(lock_);
  if (space != space_) {
    CloseAllLocked();  // the namespace changed: its predecessor's lock files serve nobody
    space_ = space;
  }
  entries_.push_back(Entry{std::move(name), fd});
  if (entries_.size() > filemap_test::kMostIdleMutexFiles) {
    ::close(entries_.front().fd);
    entries_.erase(entries_.begin());
  }
}

std::size_t IdleLockFiles::Count() {
  std::lock_guard<std::mutex> guard(lock_);
  return entries_.size();
}

void IdleLockFiles::CloseAll() {
  std::lock_guard<std::mutex> guard(lock_);
  CloseAllLocked();
}

void IdleLockFiles::CloseAllLocked() {
  for (const Entry& entry : entries_) ::close(entry.fd);
  entries_.clear();
}

// Locked across fork, so that the child finds the list whole.
void IdleLockFiles::ForkPrepare() {
  if (forkWatched != nullptr) forkWatched->lock_.lock();
}
void IdleLockFiles::ForkParent() {
  if (forkWatched != nullptr) forkWatched->lock_.unlock();
}
void IdleLockFiles::ForkChild() {
  forkGeneration.fetch_add(1, std::memory_order_relaxed);
  if (forkWatched == nullptr) return;
  forkWatched->CloseAllLocked();
  forkWatched->lock_.unlock();
}

}  // namespace filemap_detail
