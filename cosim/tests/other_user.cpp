// Another local user on the same machine: started as root, it becomes uid and gid 65534 and then
// plants what it is told, one command per line, answering "ok" or "error TEXT":
//   mkdir PATH MODE        (octal; the mode is set after creation, whatever the umask)
//   symlink TARGET PATH
//   write PATH TEXT        (the rest of the line)
//   doubles PATH VALUE     (4096 bytes: 512 copies of VALUE)
//   lock sh|ex PATH        (created when missing; the lock is held until the process ends)
// The first line it writes is "uid 65534" once it runs as that user.
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uid_t kOther = 65534;

bool Run(const std::string& command, std::istringstream& in) {
  std::string path;
  if (command == "mkdir") {
    std::string mode;
    in >> path >> mode;
    mode_t bits = static_cast<mode_t>(std::stoul(mode, nullptr, 8));
    return ::mkdir(path.c_str(), bits) == 0 && ::chmod(path.c_str(), bits) == 0;
  }
  if (command == "symlink") {
    std::string target;
    in >> target >> path;
    return ::symlink(target.c_str(), path.c_str()) == 0;
  }
  if (command == "write") {
    std::string text;
    in >> path;
    std::getline(in >> std::ws, text);
    std::ofstream out(path, std::ios::binary);
    return static_cast<bool>(out << text);
  }
  if (command == "doubles") {
    double value = 0.0;
    in >> path >> value;
    std::vector<double> values(512, value);
    std::ofstream out(path, std::ios::binary);
    return static_cast<bool>(out.write(reinterpret_cast<const char*>(values.data()), 4096));
  }
  if (command == "lock") {
    std::string kind;
    in >> kind >> path;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0666);  // left open: it holds the lock
    return fd >= 0 && ::flock(fd, kind == "ex" ? LOCK_EX : LOCK_SH) == 0;
  }
  errno = EINVAL;
  return false;
}

}  // namespace

int main() {
  if (::setgroups(0, nullptr) != 0 || ::setgid(kOther) != 0 || ::setuid(kOther) != 0) {
    std::cout << "error cannot become uid " << kOther << ": " << std::strerror(errno) << std::endl;
    return 1;
  }
  ::umask(0);
  std::cout << "uid " << ::getuid() << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    errno = 0;
    bool done = Run(command, in);
    std::cout << (done ? std::string("ok") : "error " + std::string(std::strerror(errno)))
              << std::endl;
  }
  return 0;
}
