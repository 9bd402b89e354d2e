#pragma once
// An independent multicast peer on plain BSD sockets, written apart from the transport and its
// sockets layer.

#include <cstdint>
#include <string>
#include <vector>

namespace peer {

struct Datagram {
  std::vector<std::uint8_t> bytes;
  std::string group;  // destination address, dotted
};

class Peer {
 public:
  // Bound to `port` on every interface, member of each group.
  Peer(std::uint16_t port, const std::vector<std::string>& groups);
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  void Send(const std::string& group, std::uint16_t port, const std::vector<std::uint8_t>& bytes);
  // Waits up to `timeoutMs` for one datagram; false when none came.
  bool Receive(Datagram& datagram, int timeoutMs = 2000);

 private:
  int fd_ = -1;
};

}  // namespace peer
