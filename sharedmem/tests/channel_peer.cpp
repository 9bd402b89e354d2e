// The other end of a channel, in a process of its own. Reads one command per line from standard
// input and answers each with one line on standard output:
//   open ID COUNT      -> table index          set INDEX ELEMENT VALUE -> ok
//   write INDEX        -> ok                   read INDEX              -> ok
//   get INDEX FIRST N  -> N values             close                   -> ok
//   hold MUTEXNAME     -> held (owns the named mutex until the process ends)
//   limit FILES        -> ok (the process may hold at most FILES descriptors from now on)
#include <sys/resource.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "ConnectionTable.h"
#include "filemap.h"

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    std::ostringstream reply;
    if (command == "open") {
      int id = 0, count = 0;
      in >> id >> count;
      reply << OpenConnection(id, count);
    } else if (command == "set") {
      int index = 0, element = 0;
      double value = 0.0;
      in >> index >> element >> value;
      SetConnectionValue(index, element, value);
      reply << "ok";
    } else if (command == "write" || command == "read") {
      int index = 0;
      in >> index;
      command == "write" ? WriteConnection(index) : ReadConnection(index);
      reply << "ok";
    } else if (command == "get") {
      int index = 0, first = 0, n = 0;
      in >> index >> first >> n;
      reply.precision(17);
      for (int i = first; i < first + n; ++i) {
        reply << (i > first ? " " : "") << GetConnectionValue(index, i);
      }
    } else if (command == "close") {
      CloseAllConnections();
      reply << "ok";
    } else if (command == "hold") {
      std::string name;
      in >> name;
      HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
      bool owned = mutex != nullptr && (GetLastError() != ERROR_ALREADY_EXISTS ||
                                        WaitForSingleObject(mutex, INFINITE) == WAIT_OBJECT_0);
      reply << (owned ? "held" : "failed");
    } else if (command == "limit") {
      rlim_t files = 0;
      in >> files;
      const struct rlimit limit = {files, files};
      reply << (::setrlimit(RLIMIT_NOFILE, &limit) == 0 ? "ok" : "failed");
    } else {
      reply << "unknown command";
    }
    std::cout << reply.str() << std::endl;
  }
  CloseAllConnections();  // the table leaves its channels alone at exit
  return 0;
}
