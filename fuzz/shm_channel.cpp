// A shared-memory channel opened over what a corrupt or hostile peer left behind: its name
// entry, its mutex's lock file, the namespace lock and the backing file "SharedFile%d", each
// planted as the input says (any bytes, a well-formed entry naming some file, a link, a folder,
// a pipe; held by a live peer or not). Then both ends open the channel as the block and the
// plug-in do and copy through it; once both are closed, no descriptor of theirs may stay open but
// the idle lock files that the layer keeps for the next copies, never more than its bound
// (descriptors kept per input end a long run with "Too many open files"). Run as root, the peer's
// link and entry can name a file of another user's; that file must come out untouched.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "DataTransfer.h"
#include "FuzzTarget.h"
#include "filemap_test_hook.h"
#include "msgbox_test_hook.h"
#include "testsupport/Files.h"

namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 65534;
constexpr int kMostPlants = 6;
constexpr int kMostCopies = 3;
const std::string kVictimText = "another user's file, never to be touched";

// Descriptors the live peer holds its locks through, closed at the end of each input.
class PeerLocks {
 public:
  ~PeerLocks() {
    for (int fd : fds_) ::close(fd);
  }
  void Hold(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    fds_.push_back(fd);
    ::flock(fd, LOCK_SH | LOCK_NB);  // shared: a live holder, never a peer that blocks for ever
  }

 private:
  std::vector<int> fds_;
};

// An entry as the layer writes one: the file's path, a NUL, its device and inode.
std::string EntryNaming(const fs::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return file.string();
  return file.string() + '\0' + std::to_string(st.st_dev) + ' ' + std::to_string(st.st_ino);
}

// `holdable`: a live peer's shared lock there means a mapping in use. On the mutex's lock file or
// the namespace lock it would be a peer that holds them for ever, for which waiting is right.
void Plant(kyte::fuzz::FuzzInput& in, const fs::path& place, bool holdable, const fs::path& backing,
           const fs::path& victim, PeerLocks& locks) {
  std::error_code error;
  fs::remove_all(place, error);
  switch (in.Below(6)) {
    case 0:  // any bytes, any permissions
      kyte::fuzz::WriteFile(place, in.Text());
      ::chmod(place.c_str(), in.Take<std::uint16_t>() & 0777);
      break;
    case 1: {  // a well-formed entry naming the backing file, or the victim, with bytes after it
      const std::string entry = EntryNaming(in.Bool() ? backing : victim);
      kyte::fuzz::WriteFile(place, entry + in.Text());
      break;
    }
    case 2:
      fs::create_symlink(in.Bool() ? victim : backing, place, error);
      break;
    case 3:
      fs::create_directory(place, error);
      break;
    case 4:
      ::mkfifo(place.c_str(), 0600);
      break;
    default:  // a file of the peer's size
      kyte::fuzz::WriteFile(place, std::string(in.Below(2 * CDataTransfer::kViewSize), '\0'));
      break;
  }
  if (holdable && in.Bool()) locks.Hold(place);  // share-locked as a live mapping's holder has it
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path& scratch = kyte::fuzz::FreshScratch("shm_channel");
  kyte::fuzz::FuzzInput in(data, size);

  // The namespace keeps its folder open once used, so each input gets a folder of its own name.
  static unsigned serial = 0;
  const fs::path objects = scratch / ("objects" + std::to_string(++serial));
  ::mkdir(objects.c_str(), in.Bool() ? 0700 : (in.Take<std::uint16_t>() & 0777));
  ::setenv("KYTE_OBJECT_NAMESPACE", objects.c_str(), 1);

  const fs::path victim = scratch / "victim";
  kyte::fuzz::WriteFile(victim, kVictimText);
  const bool root = ::geteuid() == 0;
  if (root) ::chown(victim.c_str(), kOtherUser, kOtherUser);

  const std::int32_t id = static_cast<std::int32_t>(in.Below(3));
  const fs::path backing = scratch / ("SharedFile" + std::to_string(id));
  const fs::path places[] = {objects / ("map.SharedMap" + std::to_string(id)),
                             objects / ("mutex.SharedMutex" + std::to_string(id)),
                             objects / ".namespace.lock", backing};
  // Once both ends have closed, the layer keeps open only the namespace folder it opened last and
  // its idle lock files: any other descriptor more than before is one that the input left behind.
  static bool holdsANamespace = false;
  const auto descriptorsBeyondIdle = [] {
    return kyte::testsupport::OpenDescriptors() - static_cast<int>(filemap_test::IdleMutexFiles());
  };
  const int descriptorsBefore = descriptorsBeyondIdle();
  {
    PeerLocks locks;
    const std::uint32_t plants = in.Below(kMostPlants + 1);
    for (std::uint32_t i = 0; i < plants; ++i) {
      const std::uint32_t which = in.Below(std::size(places));
      Plant(in, places[which], which == 0 || which == 3, backing, victim, locks);
    }

    // Both ends of the channel, closed before the peer's locks go.
    const std::int32_t count = static_cast<std::int32_t>(in.Below(CDataTransfer::kMaxCount + 8));
    CDataTransfer block(count, id);
    CDataTransfer plugin(in.Bool() ? count : static_cast<std::int32_t>(in.Below(600)), id);
    const std::uint32_t copies = in.Below(kMostCopies + 1);
    for (std::uint32_t i = 0; i < copies; ++i) {
      for (double& value : block.Data()) value = in.Take<double>();
      block.Write();
      plugin.Read();
      plugin.Write();
      block.Read();
    }
  }
  std::error_code error;
  const bool opened = kyte::testsupport::DescriptorsOn(fs::canonical(objects, error)) > 0;
  const int allowed = descriptorsBefore + (opened && !holdsANamespace ? 1 : 0);
  holdsANamespace = holdsANamespace || opened;
  if (descriptorsBeyondIdle() > allowed)
    kyte::fuzz::Abort("descriptors left open after both ends of the channel closed");
  if (filemap_test::IdleMutexFiles() > filemap_test::kMostIdleMutexFiles)
    kyte::fuzz::Abort("more idle lock files kept than the layer's bound");

  msgbox_test::TakeMessageBoxTexts();  // the message box keeps what it showed
  if (root && kyte::fuzz::ReadWholeFile(victim) != kVictimText)
    kyte::fuzz::Abort("another user's file was changed through the channel");
  return 0;
}
