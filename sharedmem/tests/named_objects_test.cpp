// The file-mapping layer's named mutexes and mappings, called directly: several handles on one
// mutex in one process, a handle closed while it owns its mutex (a forked child holding a copy
// of its descriptor or not), idle lock files across a fork, a mapping and a mutex of one name, a
// holder letting go of its mapping, and a mapping that nobody holds any more. channel_peer is the
// other process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "filemap.h"
#include "filemap_test_hook.h"
#include "support/ChannelSandbox.h"
#include "testsupport/Files.h"
#include "testsupport/Subprocess.h"

using cosim_test::ChannelSandbox;
using namespace kyte::testsupport;

namespace {

class NamedObjectsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The namespace folder stays open from its first use: opened before the count.
    ASSERT_EQ(CloseHandle(CreateMutexA(nullptr, FALSE, "OpensTheNamespace")), TRUE);
    filemap_test::CloseIdleMutexFiles();
    before = OpenDescriptors();
  }
  // Descriptors open beyond those at the start, once the idle lock files that the layer keeps for
  // reuse (never more than its bound) are closed.
  int DescriptorsLeft() const {
    EXPECT_LE(filemap_test::IdleMutexFiles(), filemap_test::kMostIdleMutexFiles);
    filemap_test::CloseIdleMutexFiles();
    return OpenDescriptors() - before;
  }
  std::unique_ptr<Subprocess> StartPeer() {
    return std::make_unique<Subprocess>(std::vector<std::string>{CHANNEL_PEER}, sandbox.dir());
  }

  ChannelSandbox sandbox;
  int before = 0;  // descriptors open when the case starts
};

// A child forked from this process, without exec, so that it holds a copy of each of its
// descriptors. It runs `body`, whose text the test reads, and then waits to be killed.
class ForkedChild {
 public:
  explicit ForkedChild(const std::function<std::string()>& body) {
    int ends[2];
    if (::pipe(ends) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ends[0]);
      const std::string said = body();
      if (::write(ends[1], said.data(), said.size()) < 0) ::_exit(1);
      ::close(ends[1]);
      for (;;) ::pause();
    }
    ::close(ends[1]);
    said_ = ends[0];
  }
  ~ForkedChild() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (said_ >= 0) ::close(said_);
  }
  bool Started() const { return pid_ > 0 && said_ >= 0; }
  // What `body` returned; empty when nothing came within 20 s.
  std::string Said() {
    std::string text;
    char buffer[256];
    pollfd wait{said_, POLLIN, 0};
    while (::poll(&wait, 1, 20000) == 1) {
      ssize_t n = ::read(said_, buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }
  void Kill() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int said_ = -1;
};

// A mapping of one view named `name` over the new file `file`, made as the channel's first
// opener makes it; the file's handle is closed again.
HANDLE NewMapping(const std::string& file, const std::string& name) {
  HANDLE handle =
      CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(handle, INVALID_HANDLE_VALUE) << file;
  HANDLE mapping = CreateFileMappingA(handle, nullptr, PAGE_READWRITE, 0, 4096, name.c_str());
  EXPECT_NE(mapping, nullptr) << name;
  CloseHandle(handle);
  return mapping;
}

// Whether OpenFileMappingA joins a mapping `name`; the handle is closed again.
bool Joins(const std::string& name) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, TRUE, name.c_str());
  if (mapping == nullptr) return false;
  CloseHandle(mapping);
  return true;
}

TEST_F(NamedObjectsTest, HandlesOnOneMutexInOneProcessExcludeEachOtherAndCloseApart) {
  // The lock files that earlier handles left idle serve one new handle each.
  HANDLE earlier[] = {CreateMutexA(nullptr, FALSE, "SharedMutex7"),
                      CreateMutexA(nullptr, FALSE, "SharedMutex7")};
  for (HANDLE handle : earlier) ASSERT_EQ(CloseHandle(handle), TRUE);
  ASSERT_EQ(filemap_test::IdleMutexFiles(), 2u);

  HANDLE owner = CreateMutexA(nullptr, TRUE, "SharedMutex7");
  ASSERT_NE(owner, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  HANDLE second = CreateMutexA(nullptr, TRUE, "SharedMutex7");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);  // owned through the first: handed back unowned
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
  EXPECT_EQ(ReleaseMutex(second), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);

  HANDLE third = CreateMutexA(nullptr, FALSE, "SharedMutex7");
  ASSERT_NE(third, nullptr);
  auto wait =
      std::async(std::launch::async, [third] { return WaitForSingleObject(third, INFINITE); });
  // Closing a handle that does not own the mutex leaves the owner owning and the waiter waiting.
  EXPECT_EQ(CloseHandle(second), TRUE);
  EXPECT_EQ(wait.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  EXPECT_EQ(ReleaseMutex(owner), TRUE);
  ASSERT_EQ(wait.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(wait.get(), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(owner, 0), WAIT_TIMEOUT);  // the waiter's now

  EXPECT_EQ(CloseHandle(owner), TRUE);
  EXPECT_EQ(CloseHandle(third), TRUE);
  EXPECT_EQ(DescriptorsLeft(), 0);
}

TEST_F(NamedObjectsTest, AMutexOwnedWhenItsLastHandleClosesGoesToTheWaitingPeer) {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, "SharedMutex7");
  ASSERT_NE(mutex, nullptr);
  ASSERT_EQ(GetLastError(), ERROR_SUCCESS);
  auto peer = StartPeer();
  peer->Send("hold SharedMutex7");  // waits for it
  peer->Drain(200);
  EXPECT_EQ(peer->Stdout(), "");        // still waiting
  EXPECT_EQ(CloseHandle(mutex), TRUE);  // owned, never released
  EXPECT_EQ(peer->ReadLine(), "held");
  // The peer's pipes count too: only the lock file is looked for, beyond the idle one kept.
  filemap_test::CloseIdleMutexFiles();
  EXPECT_EQ(DescriptorsOn(std::filesystem::canonical(sandbox.objects() / "mutex.SharedMutex7")), 0);

  HANDLE again = CreateMutexA(nullptr, TRUE, "SharedMutex7");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);  // the peer has it
  EXPECT_EQ(CloseHandle(again), TRUE);
}

// With flock the lock belongs to the open file description, which a forked child shares: closing
// the descriptor alone would leave the mutex owned until the child ends.
TEST_F(NamedObjectsTest, AnOwningHandleClosedWhileAForkedChildHoldsItsDescriptorReleasesTheMutex) {
  HANDLE owner = CreateMutexA(nullptr, TRUE, "SharedMutex7");
  ASSERT_NE(owner, nullptr);
  ASSERT_EQ(GetLastError(), ERROR_SUCCESS);
  ForkedChild child([] { return std::string("forked"); });
  ASSERT_TRUE(child.Started());
  ASSERT_EQ(child.Said(), "forked");
  EXPECT_EQ(CloseHandle(owner), TRUE);

  auto peer = StartPeer();
  EXPECT_EQ(peer->Ask("hold SharedMutex7"), "held");  // while the child lives
  HANDLE again = CreateMutexA(nullptr, TRUE, "SharedMutex7");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);  // the peer's, not this process's
  EXPECT_EQ(CloseHandle(again), TRUE);
}

// A child forked without exec neither keeps the idle lock files of its parent nor uses them: a
// shared description would make the two ends own the mutex at once, and the parent killed
// mid-copy would leave it owned until the child ends.
TEST_F(NamedObjectsTest, IdleLockFilesStayWithTheProcessThatOpenedThem) {
  ASSERT_EQ(CloseHandle(CreateMutexA(nullptr, TRUE, "SharedMutex7")), TRUE);
  ASSERT_EQ(filemap_test::IdleMutexFiles(), 1u);  // the parent keeps it for the next copy
  const std::filesystem::path lockFile =
      std::filesystem::canonical(sandbox.objects() / "mutex.SharedMutex7");
  ForkedChild child([&] {
    std::string said = std::to_string(DescriptorsOn(lockFile));
    HANDLE mine = CreateMutexA(nullptr, TRUE, "SharedMutex7");
    said += mine != nullptr && GetLastError() == ERROR_SUCCESS ? " owned" : " not owned";
    return said;  // and the child goes on owning it
  });
  ASSERT_TRUE(child.Started());
  EXPECT_EQ(child.Said(), "0 owned");

  HANDLE parent = CreateMutexA(nullptr, TRUE, "SharedMutex7");
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);  // the child owns it
  child.Kill();
  EXPECT_EQ(WaitForSingleObject(parent, 20000), WAIT_OBJECT_0);  // released with the child
  EXPECT_EQ(CloseHandle(parent), TRUE);
}

TEST_F(NamedObjectsTest, AMappingAndAMutexOfOneNameLiveApart) {
  HANDLE mapping = NewMapping("SharedFile7", "Shared7");
  HANDLE mutex = CreateMutexA(nullptr, TRUE, "Shared7");
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);  // no mutex of that name yet
  HANDLE other = CreateMutexA(nullptr, FALSE, "Shared7");
  ASSERT_NE(other, nullptr);

  EXPECT_EQ(CloseHandle(mapping), TRUE);  // the mapping goes, the mutex stays owned
  EXPECT_FALSE(Joins("Shared7"));
  EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_TIMEOUT);

  mapping = NewMapping("SharedFile7", "Shared7");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);  // a new mapping
  EXPECT_EQ(CloseHandle(mutex), TRUE);       // the mutex goes, the mapping stays
  EXPECT_TRUE(Joins("Shared7"));
  EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_OBJECT_0);

  EXPECT_EQ(CloseHandle(other), TRUE);
  EXPECT_EQ(CloseHandle(mapping), TRUE);
  EXPECT_EQ(DescriptorsLeft(), 0);
}

// Openers look at a mapping's entry and file with the namespace locked: a holder lets go of both
// under that lock as well, or an opener could find the file free while the entry still shows
// the mapping alive, empty the file and leave the next opener a mapping of no size.
TEST_F(NamedObjectsTest, AHolderLetsGoOfItsMappingWithTheNamespaceLocked) {
  auto holder = StartPeer();
  ASSERT_EQ(holder->Ask("open 6 25"), "0");
  const int namespaceLock =
      ::open((sandbox.objects() / ".namespace.lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(namespaceLock, 0);
  ASSERT_EQ(::flock(namespaceLock, LOCK_EX), 0);  // as an opener holds it
  holder->Send("close");
  holder->Drain(200);
  EXPECT_EQ(holder->Stdout(), "0\n");  // still closing
  const int file = ::open((sandbox.dir() / "SharedFile6").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(file, 0);
  EXPECT_NE(::flock(file, LOCK_EX | LOCK_NB), 0);  // the holder has not let go of the file
  ::close(file);
  ::close(namespaceLock);
  EXPECT_EQ(holder->ReadLine(), "ok");
  EXPECT_FALSE(Joins("SharedMap6"));
}

// The entry stays in the namespace after the last holder, closing or dying, let go; opening the
// name must not take it for a mapping (the next opener of a channel creates a new one).
TEST_F(NamedObjectsTest, AMappingNobodyHoldsIsNotFoundThoughItsEntryRemains) {
  const auto expectGone = [&](const std::string& name) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(std::filesystem::exists(sandbox.objects() / ("map." + name)));
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_WRITE, TRUE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  };

  // Closed by its creator in this process, view first.
  HANDLE mapping = NewMapping("SharedFile5", "SharedMap5");
  void* view = MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 4096);
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(Joins("SharedMap5"));
  EXPECT_EQ(UnmapViewOfFile(view), TRUE);
  EXPECT_EQ(CloseHandle(mapping), TRUE);
  expectGone("SharedMap5");

  // Closed by a peer that created it.
  auto closing = StartPeer();
  ASSERT_EQ(closing->Ask("open 6 25"), "0");
  ASSERT_TRUE(Joins("SharedMap6"));
  ASSERT_EQ(closing->Ask("close"), "ok");
  expectGone("SharedMap6");
  EXPECT_EQ(closing->Wait(), 0);

  // Left by a peer that created it and died without closing anything.
  auto dying = StartPeer();
  ASSERT_EQ(dying->Ask("open 7 25"), "0");
  ASSERT_TRUE(Joins("SharedMap7"));
  dying->Kill(SIGKILL);
  EXPECT_EQ(dying->Wait(), 128 + SIGKILL);
  expectGone("SharedMap7");

  EXPECT_EQ(DescriptorsLeft(), 0);  // nothing of the stale entries kept open
}

}  // namespace
