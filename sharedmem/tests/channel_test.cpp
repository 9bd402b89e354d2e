// The channel and its table across two processes: this test process is one end, channel_peer
// the other.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "ConnectionTable.h"
#include "DataTransfer.h"
#include "filemap_test_hook.h"
#include "msgbox_test_hook.h"
#include "support/ChannelSandbox.h"
#include "testsupport/CapturedOutput.h"
#include "testsupport/Files.h"
#include "testsupport/Subprocess.h"

using cosim_test::ChannelSandbox;
using namespace kyte::testsupport;

namespace {

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { msgbox_test::TakeMessageBoxTexts(); }
  void TearDown() override {
    CloseAllConnections();
    filemap_test::ClearFaults();
  }
  std::unique_ptr<Subprocess> StartPeer(const std::filesystem::path& dir) {
    return std::make_unique<Subprocess>(std::vector<std::string>{CHANNEL_PEER}, dir);
  }
  static std::string Values(std::initializer_list<const char*> values) {
    std::string joined;
    for (const char* v : values) joined += (joined.empty() ? "" : " ") + std::string(v);
    return joined;
  }

  ChannelSandbox sandbox;
};

std::vector<double> FileDoubles(const std::filesystem::path& path) {
  std::string bytes = ReadFile(path);
  std::vector<double> values(bytes.size() / sizeof(double));
  std::memcpy(values.data(), bytes.data(), values.size() * sizeof(double));
  return values;
}

TEST_F(ChannelTest, FirstOpenerCreatesTheFileWithAZeroedMapping) {
  std::filesystem::path file = sandbox.dir() / "SharedFile3";
  std::filesystem::create_directories(sandbox.dir());
  { std::ofstream(file) << "stale content from an earlier run"; }
  ASSERT_EQ(OpenConnection(3, 25), 0);
  EXPECT_EQ(std::filesystem::file_size(file), 4096u);
  EXPECT_EQ(FileDoubles(file), std::vector<double>(512, 0.0));
  EXPECT_TRUE(msgbox_test::TakeMessageBoxTexts().empty());
}

TEST_F(ChannelTest, SecondOpenerInTheSameDirectoryAttachesSilently) {
  ASSERT_EQ(OpenConnection(3, 25), 0);
  auto peer = StartPeer(sandbox.dir());
  ASSERT_EQ(peer->Ask("open 3 25"), "0");

  for (int i = 0; i < 25; ++i) SetConnectionValue(0, i, 0.5 * i - 3.0);
  WriteConnection(0);
  ASSERT_EQ(peer->Ask("read 0"), "ok");
  EXPECT_EQ(peer->Ask("get 0 0 4"), Values({"-3", "-2.5", "-2", "-1.5"}));
  EXPECT_EQ(peer->Ask("get 0 24 1"), "9");

  ASSERT_EQ(peer->Ask("set 0 1 3.141592653589793"), "ok");
  ASSERT_EQ(peer->Ask("write 0"), "ok");
  ReadConnection(0);
  EXPECT_EQ(GetConnectionValue(0, 1), 3.141592653589793);
  EXPECT_EQ(GetConnectionValue(0, 2), -2.0);  // the whole count travels, as the peer last read it

  EXPECT_EQ(peer->Wait(), 0);
  EXPECT_EQ(peer->Stderr(), "");  // the already-mapped outcome is not reported
}

TEST_F(ChannelTest, OpenerInAnotherDirectoryMeetsTheMappingThroughItsName) {
  ASSERT_EQ(OpenConnection(3, 25), 0);
  SetConnectionValue(0, 0, 42.0);
  WriteConnection(0);

  std::filesystem::path other = sandbox.Subdir("elsewhere");
  auto peer = StartPeer(other);
  ASSERT_EQ(peer->Ask("open 3 25"), "0");
  EXPECT_TRUE(std::filesystem::exists(other / "SharedFile3"));  // a file of its own ...
  ASSERT_EQ(peer->Ask("read 0"), "ok");
  EXPECT_EQ(peer->Ask("get 0 0 1"), "42");  // ... but the first opener's mapping

  ASSERT_EQ(peer->Ask("set 0 24 -7.25"), "ok");
  ASSERT_EQ(peer->Ask("write 0"), "ok");
  ReadConnection(0);
  EXPECT_EQ(GetConnectionValue(0, 24), -7.25);
  EXPECT_EQ(peer->Wait(), 0);
  EXPECT_EQ(peer->Stderr(), "");
}

// Two ends that open a channel at the same instant, as a simulator and a model started together
// do, must meet: neither may take the other's open in progress for a mapping that is not there.
TEST_F(ChannelTest, EndsThatOpenAtTheSameInstantMeet) {
  auto first = StartPeer(sandbox.dir());
  auto second = StartPeer(sandbox.dir());
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    first->Send("open 3 25");
    second->Send("open 3 25");
    ASSERT_EQ(first->ReadLine(), "0");
    ASSERT_EQ(second->ReadLine(), "0");
    ASSERT_EQ(first->Ask("set 0 0 " + std::to_string(round)), "ok");
    ASSERT_EQ(first->Ask("write 0"), "ok");
    ASSERT_EQ(second->Ask("read 0"), "ok");
    ASSERT_EQ(second->Ask("get 0 0 1"), std::to_string(round));
    ASSERT_EQ(first->Ask("close"), "ok");
    ASSERT_EQ(second->Ask("close"), "ok");
  }
  EXPECT_EQ(first->Wait(), 0);
  EXPECT_EQ(second->Wait(), 0);
  EXPECT_EQ(first->Stderr() + second->Stderr(), "");
}

TEST_F(ChannelTest, AfterBothEndsCloseTheFileStaysAndANewOpenReadsZeros) {
  ASSERT_EQ(OpenConnection(3, 25), 0);
  auto peer = StartPeer(sandbox.dir());
  ASSERT_EQ(peer->Ask("open 3 25"), "0");
  SetConnectionValue(0, 5, 99.0);
  WriteConnection(0);
  CloseAllConnections();
  ASSERT_EQ(peer->Ask("close"), "ok");
  EXPECT_EQ(FileDoubles(sandbox.dir() / "SharedFile3")[5], 99.0);  // on disk, for good

  // The mapping went with its last holder: the next opener empties the file and starts afresh.
  auto again = StartPeer(sandbox.dir());
  ASSERT_EQ(again->Ask("open 3 25"), "0");
  ASSERT_EQ(again->Ask("read 0"), "ok");
  std::string zeros = "0";
  for (int i = 1; i < 25; ++i) zeros += " 0";
  EXPECT_EQ(again->Ask("get 0 0 25"), zeros);
  EXPECT_EQ(again->Stderr(), "");
}

TEST_F(ChannelTest, ReaderWithALargerCountSeesWhatTheViewHoldsBeyondTheWriter) {
  auto peer = StartPeer(sandbox.dir());
  ASSERT_EQ(peer->Ask("open 4 16"), "0");
  for (int i = 0; i < 16; ++i)
    ASSERT_EQ(peer->Ask("set 0 " + std::to_string(i) + " " + std::to_string(i + 1)), "ok");
  ASSERT_EQ(peer->Ask("write 0"), "ok");

  ASSERT_EQ(OpenConnection(4, 25), 0);
  ReadConnection(0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(GetConnectionValue(0, i), i + 1.0) << i;
  for (int i = 16; i < 25; ++i) EXPECT_EQ(GetConnectionValue(0, i), 0.0) << i;
}

TEST_F(ChannelTest, EveryAllowedCountMapsOneFullViewAndTheLargestFillsIt) {
  const struct { int id, count; } cases[] = {{11, 1}, {12, 25}, {13, 512}};
  for (const auto& c : cases) {
    ASSERT_GE(OpenConnection(c.id, c.count), 0) << c.count;
    EXPECT_EQ(std::filesystem::file_size(sandbox.dir() / ("SharedFile" + std::to_string(c.id))),
              4096u)
        << c.count;
  }
  for (int i = 0; i < 512; ++i) SetConnectionValue(2, i, i * 0.25);
  WriteConnection(2);
  std::vector<double> view = FileDoubles(sandbox.dir() / "SharedFile13");
  ASSERT_EQ(view.size(), 512u);
  for (int i = 0; i < 512; ++i) EXPECT_EQ(view[i], i * 0.25) << i;
}

TEST_F(ChannelTest, TableIndicesAndTheirLimits) {
  EXPECT_EQ(OpenConnection(3, 25), 0);
  EXPECT_EQ(OpenConnection(4, 16), 1);
  CloseAllConnections();
  EXPECT_EQ(OpenConnection(3, 25), 0);
  EXPECT_EQ(OpenConnection(4, 16), 1);

  // Indices that name no channel, and elements beyond a channel's count, are left alone.
  EXPECT_EQ(GetConnectionValue(-1, 0), -1.0);
  EXPECT_EQ(GetConnectionValue(2, 0), -1.0);
  ReadConnection(-1);
  WriteConnection(5);
  SetConnectionValue(7, 0, 1.0);
  SetConnectionValue(1, 16, 5.0);
  SetConnectionValue(1, -1, 5.0);
  EXPECT_EQ(GetConnectionValue(1, 16), -1.0);
  EXPECT_EQ(GetConnectionValue(1, -1), -1.0);
  EXPECT_EQ(GetConnectionValue(1, 15), 0.0);

  // Element access is local: nothing reaches the view before the next write.
  SetConnectionValue(1, 3, 8.5);
  EXPECT_EQ(GetConnectionValue(1, 3), 8.5);
  EXPECT_EQ(FileDoubles(sandbox.dir() / "SharedFile4")[3], 0.0);
  WriteConnection(1);
  EXPECT_EQ(FileDoubles(sandbox.dir() / "SharedFile4")[3], 8.5);
  ReadConnection(1);  // and a read replaces the local vector by the view
  EXPECT_EQ(GetConnectionValue(1, 3), 8.5);
  EXPECT_TRUE(msgbox_test::TakeMessageBoxTexts().empty());
}

TEST_F(ChannelTest, CountsOutsideOneTo512OpenNothing) {
  std::filesystem::path file = sandbox.dir() / "SharedFile3";
  { std::ofstream(file) << "kept"; }
  for (int count : {0, -5, 513}) {
    std::string err = CaptureStderr([&] { EXPECT_EQ(OpenConnection(3, count), -1) << count; });
    EXPECT_EQ(err, "CreateFileMapping - Invalid argument\n") << count;
    EXPECT_EQ(msgbox_test::TakeMessageBoxTexts(), std::vector<std::string>{err});
  }
  EXPECT_EQ(ReadFile(file), "kept");
  EXPECT_EQ(OpenConnection(3, 1), 0);  // nothing was kept in the table
}

TEST_F(ChannelTest, PlatformFailuresAreReportedAndTheChannelIsRefused) {
  const struct {
    filemap_test::Call call;
    DWORD error;
    const char* report;
  } cases[] = {
      {filemap_test::Call::CreateFile, ERROR_ACCESS_DENIED, "CreateFile - Permission denied\n"},
      {filemap_test::Call::CreateFileMapping, ERROR_DISK_FULL,
       "CreateFileMapping - No space left on device\n"},
      {filemap_test::Call::MapViewOfFile, ERROR_NOT_ENOUGH_MEMORY,
       "MapViewOfFile - Cannot allocate memory\n"},
  };
  for (const auto& c : cases) {
    filemap_test::FailNext(c.call, c.error);
    EXPECT_EQ(CaptureStderr([&] { EXPECT_EQ(OpenConnection(3, 25), -1) << c.report; }), c.report);
    EXPECT_EQ(msgbox_test::TakeMessageBoxTexts(), std::vector<std::string>{c.report});
  }
  // Each refused channel let go of what it held: the file can be emptied and mapped again.
  EXPECT_EQ(OpenConnection(3, 25), 0);
}

// CreateFile finds the file mapped, and the mapping is gone when it is opened: its holders
// closed in between. The open starts over, a few times at most, and then reports the failure of
// the open as "CreateFileMapping"; other failures of the open are reported at once.
TEST_F(ChannelTest, AnOpenWhoseMappingWentInBetweenStartsOver) {
  using filemap_test::Call;
  const struct {
    const char* what;
    bool holder;  // a live end holds the mapping
    Call call;
    DWORD error;
    int times;
    const char* report;  // empty: the channel opens
  } cases[] = {
      {"the holders closed between the file and the mapping", false, Call::CreateFile,
       ERROR_USER_MAPPED_FILE, 1, ""},
      {"the mapping gone once, a holder there again", true, Call::OpenFileMapping,
       ERROR_FILE_NOT_FOUND, 1, ""},
      {"a mapping gone at every attempt", false, Call::CreateFile, ERROR_USER_MAPPED_FILE, 3,
       "CreateFileMapping - No such file or directory\n"},
      {"a mapping that cannot be opened", true, Call::OpenFileMapping, ERROR_ACCESS_DENIED, 1,
       "CreateFileMapping - Permission denied\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.holder) {
      ASSERT_EQ(OpenConnection(3, 25), 0);
    }
    filemap_test::FailNext(c.call, c.error, c.times);
    std::int32_t index = -1;
    EXPECT_EQ(CaptureStderr([&] { index = OpenConnection(3, 25); }), c.report);
    EXPECT_EQ(msgbox_test::TakeMessageBoxTexts().size(), *c.report != '\0' ? 1u : 0u);
    if (*c.report == '\0') {
      // Its mapping is the channel's: another end meets it there.
      ASSERT_EQ(index, c.holder ? 1 : 0);
      auto peer = StartPeer(sandbox.dir());
      ASSERT_EQ(peer->Ask("open 3 25"), "0");
      SetConnectionValue(index, 0, 7.5);
      WriteConnection(index);
      ASSERT_EQ(peer->Ask("read 0"), "ok");
      EXPECT_EQ(peer->Ask("get 0 0 1"), "7.5");
      EXPECT_EQ(peer->Wait(), 0);
      EXPECT_EQ(peer->Stderr(), "");
    } else {
      EXPECT_EQ(index, -1);
    }
    CloseAllConnections();
    filemap_test::ClearFaults();
  }
}

// As when a model is started again and again beside a simulator: two ends start while a third,
// which holds the channel, stops. However their opens fall around its close, the two meet.
TEST_F(ChannelTest, TwoEndsThatStartWhileAThirdStopsMeet) {
  auto stopping = StartPeer(sandbox.dir());
  auto first = StartPeer(sandbox.dir());
  auto second = StartPeer(sandbox.dir());
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string frame = std::to_string(round);
    ASSERT_EQ(stopping->Ask("open 3 25"), "0");
    first->Send("open 3 25");
    stopping->Send("close");
    second->Send("open 3 25");
    ASSERT_EQ(first->ReadLine(), "0");
    ASSERT_EQ(second->ReadLine(), "0");
    ASSERT_EQ(stopping->ReadLine(), "ok");
    // A frame each way.
    ASSERT_EQ(first->Ask("set 0 0 " + frame), "ok");
    ASSERT_EQ(first->Ask("write 0"), "ok");
    ASSERT_EQ(second->Ask("read 0"), "ok");
    ASSERT_EQ(second->Ask("get 0 0 1"), frame);
    ASSERT_EQ(second->Ask("set 0 1 -" + frame), "ok");
    ASSERT_EQ(second->Ask("write 0"), "ok");
    ASSERT_EQ(first->Ask("read 0"), "ok");
    ASSERT_EQ(first->Ask("get 0 1 1"), "-" + frame);
    ASSERT_EQ(first->Ask("close"), "ok");
    ASSERT_EQ(second->Ask("close"), "ok");
  }
  for (auto* end : {stopping.get(), first.get(), second.get()}) {
    end->CloseInput();
    EXPECT_EQ(end->Wait(), 0);
    EXPECT_EQ(end->Stderr(), "");
  }
}

TEST_F(ChannelTest, FailedUnmapIsReportedAndTheDestructorCarriesOn) {
  ASSERT_EQ(OpenConnection(3, 25), 0);
  std::filesystem::path file = std::filesystem::canonical(sandbox.dir() / "SharedFile3");
  int whileOpen = DescriptorsOn(file);  // the channel's file handle and the mapping's own
  filemap_test::FailNext(filemap_test::Call::UnmapViewOfFile, ERROR_INVALID_ADDRESS);
  std::string err = CaptureStderr([] { CloseAllConnections(); });
  EXPECT_EQ(err.rfind("Could not unmap view of file. - ", 0), 0u) << err;
  EXPECT_EQ(err.back(), '\n');
  // The file handle went; the view that is still mapped keeps the mapping's.
  EXPECT_EQ(DescriptorsOn(file), whileOpen - 1);
  EXPECT_EQ(OpenConnection(4, 16), 0);
}

TEST_F(ChannelTest, NoCopyWithoutTheMutex) {
  ASSERT_EQ(OpenConnection(3, 25), 0);
  SetConnectionValue(0, 0, 1.0);
  WriteConnection(0);
  SetConnectionValue(0, 0, 2.0);
  const struct {
    filemap_test::Call call;
    const char* report;
  } cases[] = {{filemap_test::Call::CreateMutex, "CreateMutex - Permission denied\n"}};
  for (const auto& c : cases) {
    filemap_test::FailNext(c.call, ERROR_ACCESS_DENIED);
    EXPECT_EQ(CaptureStderr([] { WriteConnection(0); }), c.report);
    EXPECT_EQ(FileDoubles(sandbox.dir() / "SharedFile3")[0], 1.0);
    filemap_test::FailNext(c.call, ERROR_ACCESS_DENIED);
    EXPECT_EQ(CaptureStderr([] { ReadConnection(0); }), c.report);
    EXPECT_EQ(GetConnectionValue(0, 0), 2.0);
  }

  // Created while the peer owns it, the mutex must be waited for; a failed wait copies nothing.
  auto peer = StartPeer(sandbox.dir());
  ASSERT_EQ(peer->Ask("hold SharedMutex3"), "held");
  filemap_test::FailNext(filemap_test::Call::WaitForSingleObject, ERROR_ACCESS_DENIED);
  EXPECT_EQ(CaptureStderr([] { WriteConnection(0); }), "WaitForSingleObject - Permission denied\n");
  EXPECT_EQ(FileDoubles(sandbox.dir() / "SharedFile3")[0], 1.0);
}

TEST_F(ChannelTest, APeerKilledWhileHoldingTheMutexDoesNotBlockTheOtherEnd) {
  ASSERT_EQ(OpenConnection(3, 25), 0);
  auto peer = StartPeer(sandbox.dir());
  ASSERT_EQ(peer->Ask("hold SharedMutex3"), "held");

  SetConnectionValue(0, 0, 6.0);
  auto write = std::async(std::launch::async, [] { WriteConnection(0); });
  EXPECT_EQ(write.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  peer->Kill(SIGKILL);
  EXPECT_EQ(peer->Wait(), 128 + SIGKILL);
  ASSERT_EQ(write.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(FileDoubles(sandbox.dir() / "SharedFile3")[0], 6.0);
}

TEST_F(ChannelTest, AClosedChannelKeepsNoDescriptorWhateverIdsCameBefore) {
  // The first channel opens the namespace folder, which stays open.
  ASSERT_EQ(OpenConnection(0, 1), 0);
  WriteConnection(0);
  CloseAllConnections();
  filemap_test::CloseIdleMutexFiles();
  const int before = OpenDescriptors();
  for (int id = 1; id <= 1000; ++id) {
    ASSERT_EQ(OpenConnection(id, 1), 0) << id;
    SetConnectionValue(0, 0, id);
    WriteConnection(0);
    ReadConnection(0);
    ASSERT_EQ(GetConnectionValue(0, 0), id);
    CloseAllConnections();
  }
  // Beyond the idle lock files that the layer keeps for the next copies, of a bounded number.
  EXPECT_LE(OpenDescriptors(), before + static_cast<int>(filemap_test::kMostIdleMutexFiles));
  filemap_test::CloseIdleMutexFiles();
  EXPECT_LE(OpenDescriptors(), before);
  EXPECT_TRUE(msgbox_test::TakeMessageBoxTexts().empty());
}

TEST_F(ChannelTest, ChannelsInTurnBeyondTheDescriptorLimitAllOpenAndCopy) {
  auto peer = StartPeer(sandbox.dir());
  constexpr int kFiles = 64;
  ASSERT_EQ(peer->Ask("limit " + std::to_string(kFiles)), "ok");
  for (int id = 0; id < 3 * kFiles; ++id) {
    ASSERT_EQ(peer->Ask("open " + std::to_string(id) + " 4"), "0") << id;
    ASSERT_EQ(peer->Ask("set 0 3 " + std::to_string(id)), "ok");
    ASSERT_EQ(peer->Ask("write 0"), "ok");
    ASSERT_EQ(peer->Ask("read 0"), "ok");
    ASSERT_EQ(peer->Ask("get 0 3 1"), std::to_string(id));
    ASSERT_EQ(peer->Ask("close"), "ok");
  }
  peer->CloseInput();
  EXPECT_EQ(peer->Wait(), 0);
  EXPECT_EQ(peer->Stderr(), "");  // no "Too many open files" from any copy
}

// A fresh namespace and working directory in which a case plants what a link or another user
// may have left, a file of the user's outside the namespace that nothing may touch, and the
// descriptors the case holds while the channel opens.
struct Scene {
  Scene() { std::ofstream(victim, std::ios::binary) << kPrivate; }
  ~Scene() {
    for (int fd : held) ::close(fd);
  }
  std::filesystem::path Object(const char* name) const { return box.objects() / name; }
  void Link(const std::filesystem::path& at) const { std::filesystem::create_symlink(victim, at); }

  static inline const std::string kPrivate = std::string(5000, 'p');
  ChannelSandbox box;
  std::filesystem::path victim = box.dir() / "private";
  std::vector<int> held;
};

// What an entry records of the file its mapping lies over: the path and the identity of
// `identityOf`.
std::string Record(const std::filesystem::path& path, const std::filesystem::path& identityOf) {
  struct stat st {};
  EXPECT_EQ(::stat(identityOf.c_str(), &st), 0);
  return path.string() + '\0' + std::to_string(st.st_dev) + ' ' + std::to_string(st.st_ino);
}

// The entry of "SharedMap3" holding `record`, share-locked as the holders of a live mapping keep
// it.
void LiveEntry(Scene& scene, const std::string& record) {
  std::filesystem::path entry = scene.Object("map.SharedMap3");
  std::ofstream(entry, std::ios::binary) << record;
  ::chmod(entry.c_str(), 0600);
  int fd = ::open(entry.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_SH), 0);
  scene.held.push_back(fd);
}

struct PlantedCase {
  const char* what;
  std::function<void(Scene&)> plant;
  const char* report;  // what the channel reports
  bool opens;          // the channel opens, and the report comes with its first copy
};

// Each case: the channel's usual report, and the private file (or the planted one standing for
// it) stays byte for byte as it was.
void ExpectRefused(const PlantedCase& c) {
  SCOPED_TRACE(c.what);
  Scene scene;
  c.plant(scene);
  std::string before = ReadFile(scene.victim);
  msgbox_test::TakeMessageBoxTexts();
  std::int32_t index = -1;
  std::string err = CaptureStderr([&] {
    index = OpenConnection(3, 25);
    if (index >= 0) {
      SetConnectionValue(index, 0, 6.0);
      WriteConnection(index);
    }
  });
  EXPECT_EQ(index >= 0, c.opens);
  EXPECT_EQ(err, c.report);
  EXPECT_EQ(msgbox_test::TakeMessageBoxTexts(), std::vector<std::string>{err});
  EXPECT_TRUE(ReadFile(scene.victim) == before) << scene.victim << " changed";
  CloseAllConnections();
}

constexpr const char* kLinkedMapping = "CreateFileMapping - Too many levels of symbolic links\n";
constexpr const char* kRefusedMapping = "CreateFileMapping - Permission denied\n";

TEST_F(ChannelTest, NoLinkInTheNamespaceOrAtTheFileIsFollowed) {
  const PlantedCase cases[] = {
      {"namespace open to its group",
       [](Scene& s) {
         std::filesystem::permissions(s.box.objects(), std::filesystem::perms(0750));
       },
       kRefusedMapping, false},
      {"namespace named through a link",
       [](Scene& s) {
         std::filesystem::create_directory_symlink(s.box.objects(), s.box.dir() / "objects");
         ::setenv("KYTE_OBJECT_NAMESPACE", (s.box.dir() / "objects").c_str(), 1);
       },
       kLinkedMapping, false},
      {"namespace is a file",
       [](Scene& s) { ::setenv("KYTE_OBJECT_NAMESPACE", s.victim.c_str(), 1); },
       "CreateFileMapping - Not a directory\n", false},
      {"entry is a link", [](Scene& s) { s.Link(s.Object("map.SharedMap3")); }, kLinkedMapping,
       false},
      {"namespace lock is a link", [](Scene& s) { s.Link(s.Object(".namespace.lock")); },
       kLinkedMapping, false},
      {"mutex file is a link", [](Scene& s) { s.Link(s.Object("mutex.SharedMutex3")); },
       "CreateMutex - Too many levels of symbolic links\n", true},
      {"live entry: the private file's path with another file's identity",
       [](Scene& s) {
         std::ofstream(s.box.dir() / "other") << "other";
         LiveEntry(s, Record(s.victim, s.box.dir() / "other"));
       },
       kRefusedMapping, false},
      {"live entry: a link with the private file's identity",
       [](Scene& s) {
         s.Link(s.box.dir() / "link");
         LiveEntry(s, Record(s.box.dir() / "link", s.victim));
       },
       kRefusedMapping, false},
      {"live entry: a bare path", [](Scene& s) { LiveEntry(s, s.victim.string()); },
       kRefusedMapping, false},
      {"backing file is a link", [](Scene& s) { s.Link(s.box.dir() / "SharedFile3"); },
       "CreateFile - Too many levels of symbolic links\n", false},
      {"backing file is a second name of the private file",
       [](Scene& s) { std::filesystem::create_hard_link(s.victim, s.box.dir() / "SharedFile3"); },
       "CreateFile - Permission denied\n", false},
  };
  for (const PlantedCase& c : cases) ExpectRefused(c);
}

TEST_F(ChannelTest, ObjectsOfAnotherUserAreRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user (uid 65534)";
  constexpr uid_t kOther = 65534;
  const auto give = [](const std::filesystem::path& path) {
    ASSERT_EQ(::chown(path.c_str(), kOther, kOther), 0) << path;
  };
  const PlantedCase cases[] = {
      {"namespace of another user", [&](Scene& s) { give(s.box.objects()); }, kRefusedMapping,
       false},
      {"entry of another user",
       [&](Scene& s) {
         std::ofstream(s.Object("map.SharedMap3")) << "";
         give(s.Object("map.SharedMap3"));
       },
       kRefusedMapping, false},
      {"mutex file of another user",
       [&](Scene& s) {
         std::ofstream(s.Object("mutex.SharedMutex3")) << "";
         give(s.Object("mutex.SharedMutex3"));
       },
       "CreateMutex - Permission denied\n", true},
      {"live entry naming another user's file",
       [&](Scene& s) {
         give(s.victim);
         LiveEntry(s, Record(s.victim, s.victim));
       },
       kRefusedMapping, false},
      {"backing file of another user",
       [&](Scene& s) {
         std::filesystem::copy_file(s.victim, s.box.dir() / "SharedFile3");
         give(s.box.dir() / "SharedFile3");
         s.victim = s.box.dir() / "SharedFile3";
       },
       "CreateFile - Permission denied\n", false},
  };
  for (const PlantedCase& c : cases) ExpectRefused(c);
}

}  // namespace
