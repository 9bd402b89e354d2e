// cobridge in the S-function host on a workstation shared with another local user (uid 65534),
// who was there first: its directory, entries, links and locks in the named-object namespace or
// its links and files where the block keeps its backing files. The test runs in a private mount
// namespace, each case with a tmpfs of its own on /dev/shm, so the machine's /dev/shm is never
// touched.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "testsupport/Files.h"
#include "testsupport/Subprocess.h"
#include "testsupport/TempDir.h"

namespace {

using namespace kyte::testsupport;

const std::string kOurs = "/dev/shm/kyte-objects-0";  // the namespace root's block looks for
const std::string kShared = "/dev/shm/shared";        // a directory open to all, sticky

struct Case {
  const char* what;
  std::vector<std::string> plants;     // what the other user does first; "{private}" is our file
  const char* report;                  // the channel's reports on standard error
  const char* namespaceDir = nullptr;  // KYTE_OBJECT_NAMESPACE, when set
  bool inShared = false;               // the block runs in kShared instead of a private directory
};

class OtherUser : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) {
      GTEST_SKIP() << "needs root to play another local user (uid 65534) in a private mount "
                      "namespace";
    }
    if (::unshare(CLONE_NEWNS) != 0) {
      GTEST_SKIP() << "cannot make a private mount namespace: " << std::strerror(errno);
    }
    ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    if (const char* previous = std::getenv("KYTE_OBJECT_NAMESPACE")) previous_ = previous;
  }
  void TearDown() override {
    if (previous_) {
      ::setenv("KYTE_OBJECT_NAMESPACE", previous_->c_str(), 1);
    } else {
      ::unsetenv("KYTE_OBJECT_NAMESPACE");
    }
  }

  std::optional<std::string> previous_;
};

// A tmpfs of its own on /dev/shm, for as long as it lives.
class FreshShm {
 public:
  FreshShm() {
    mounted_ =
        ::mount("tmpfs", "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777,size=4m") == 0;
    EXPECT_TRUE(mounted_) << std::strerror(errno);
  }
  ~FreshShm() {
    if (mounted_) ::umount2("/dev/shm", MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  bool mounted_ = false;
};

std::string WithPrivate(std::string plant, const std::string& privateFile) {
  for (std::size_t at; (at = plant.find("{private}")) != std::string::npos;) {
    plant.replace(at, 9, privateFile);
  }
  return plant;
}

// The process's exit status; a process still running after `seconds` is killed and counts as
// hung.
int WaitAtMost(Subprocess& process, int seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (process.Drain(100)) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "still running after " << seconds << " s";
      process.Kill(SIGKILL);
      break;
    }
  }
  return process.Wait();
}

const std::string kOpenFailure =
    "status: error: cobridge:: Error encountered while opening the connection.\nArguments "
    "were:\niIDKYTE = 3,iSizeToKYTE = 25,iIDMATLAB = 4,iSizeToMATLAB = 16 \n\n";

// The block starts after the other user's plants and stops by itself with its open failure; our
// private file, and every file the other user made, stay as they were.
void ExpectRefused(const Case& c) {
  SCOPED_TRACE(c.what);
  FreshShm shm;
  ASSERT_TRUE(shm.mounted());
  TempDir work("kyte-work");
  const std::string privateFile = (work.path() / "private").string();
  { std::ofstream(privateFile, std::ios::binary) << std::string(5000, 'p'); }
  std::filesystem::create_directory(kShared);
  std::filesystem::permissions(kShared, std::filesystem::perms(01777));

  Subprocess other({OTHER_USER}, "/");
  ASSERT_EQ(other.ReadLine(), "uid 65534");
  for (const std::string& plant : c.plants) {
    ASSERT_EQ(other.Ask(WithPrivate(plant, privateFile)), "ok") << plant;
  }
  std::vector<std::pair<std::filesystem::path, std::string>> theirs;
  for (const auto& entry : std::filesystem::recursive_directory_iterator("/dev/shm")) {
    if (entry.is_regular_file()) theirs.emplace_back(entry.path(), ReadFile(entry.path()));
  }

  if (c.namespaceDir != nullptr) {
    ::setenv("KYTE_OBJECT_NAMESPACE", c.namespaceDir, 1);
  } else {
    ::unsetenv("KYTE_OBJECT_NAMESPACE");
  }
  Subprocess block({SFUNHOST, COBRIDGE, "-p", "3", "-p", "25", "-p", "4", "-p", "16", "-p", "0",
                    "-s", "5", "-u", "1"},
                   c.inShared ? std::filesystem::path(kShared) : work.path());
  EXPECT_EQ(WaitAtMost(block, 20), 1);
  EXPECT_EQ(block.Stdout(), kOpenFailure);  // not a step ran, so nothing of theirs was output
  EXPECT_EQ(block.Stderr(), c.report);

  EXPECT_TRUE(ReadFile(privateFile) == std::string(5000, 'p')) << "our private file changed";
  for (const auto& [path, bytes] : theirs) {
    EXPECT_TRUE(ReadFile(path) == bytes) << path << " changed";
  }
}

constexpr const char* kRefusedTwice =
    "CreateFileMapping - Permission denied\nCreateFileMapping - Permission denied\n";

TEST_F(OtherUser, TheirNamespaceIsNeverOurs) {
  const Case cases[] = {
      {"their namespace, open to all, with live entries naming our private file",
       {"mkdir " + kOurs + " 777", "write " + kOurs + "/map.SharedMap3 {private}",
        "write " + kOurs + "/map.SharedMap4 {private}", "lock sh " + kOurs + "/map.SharedMap3",
        "lock sh " + kOurs + "/map.SharedMap4"},
       kRefusedTwice},
      {"their namespace with entries that are links to our private file",
       {"mkdir " + kOurs + " 777", "symlink {private} " + kOurs + "/map.SharedMap3",
        "symlink {private} " + kOurs + "/map.SharedMap4"},
       kRefusedTwice},
      {"their namespace with live entries naming backing files of theirs that hold 666",
       {"mkdir " + kOurs + " 777", "doubles /dev/shm/theirs3 666", "doubles /dev/shm/theirs4 666",
        "write " + kOurs + "/map.SharedMap3 /dev/shm/theirs3",
        "write " + kOurs + "/map.SharedMap4 /dev/shm/theirs4",
        "lock sh " + kOurs + "/map.SharedMap3", "lock sh " + kOurs + "/map.SharedMap4"},
       kRefusedTwice},
      {"their namespace with its lock and the mutex files locked",
       {"mkdir " + kOurs + " 777", "lock ex " + kOurs + "/.namespace.lock",
        "lock ex " + kOurs + "/mutex.SharedMutex3", "lock ex " + kOurs + "/mutex.SharedMutex4"},
       kRefusedTwice},
      {"their namespace, closed to others", {"mkdir " + kOurs + " 700"}, kRefusedTwice},
      {"a link in our namespace's place, to a directory of theirs",
       {"mkdir /dev/shm/theirs 777", "symlink /dev/shm/theirs " + kOurs},
       "CreateFileMapping - Too many levels of symbolic links\n"
       "CreateFileMapping - Too many levels of symbolic links\n"},
      {"their directory named by KYTE_OBJECT_NAMESPACE",
       {"mkdir /dev/shm/theirs 700"},
       kRefusedTwice,
       "/dev/shm/theirs"},
  };
  for (const Case& c : cases) ExpectRefused(c);
}

TEST_F(OtherUser, TheirLinksAndFilesInASharedDirectoryAreNeverOurBackingFiles) {
  const Case cases[] = {
      {"links to our private file in the backing files' places",
       {"symlink {private} " + kShared + "/SharedFile3",
        "symlink {private} " + kShared + "/SharedFile4"},
       // Not followed: in a sticky directory the kernel refuses another user's link to an
       // opener that may create, before the link could fail as a link.
       "CreateFile - Permission denied\nCreateFile - Permission denied\n",
       nullptr,
       true},
      {"backing files of theirs that hold 666",
       {"doubles " + kShared + "/SharedFile3 666", "doubles " + kShared + "/SharedFile4 666"},
       "CreateFile - Permission denied\nCreateFile - Permission denied\n",
       nullptr,
       true},
  };
  for (const Case& c : cases) ExpectRefused(c);
}

}  // namespace
