#pragma once
// An independent peer on the simulator's group, written with plain sockets and not through the
// transport: receives and sends whole datagrams and reads their fields at wire offsets.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace peer {

using Packet = std::vector<std::uint8_t>;

class GroupPeer {
 public:
  GroupPeer();  // joins 224.0.5.20, bound to port 2267 with address reuse, as the transport is
  ~GroupPeer();
  GroupPeer(const GroupPeer&) = delete;
  GroupPeer& operator=(const GroupPeer&) = delete;

  // The next datagram, waiting at most timeoutMs for it.
  std::optional<Packet> Receive(int timeoutMs);
  void Send(const Packet& packet);

 private:
  int socket_ = -1;
};

// Big-endian fields at wire offsets.
std::int32_t Int32At(const Packet& packet, std::size_t offset);
float FloatAt(const Packet& packet, std::size_t offset);
void PutInt32(Packet& packet, std::size_t offset, std::int32_t value);
// Characters from offset up to the first NUL, at most size of them.
std::string TextAt(const Packet& packet, std::size_t offset, std::size_t size);

}  // namespace peer
