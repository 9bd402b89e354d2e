// An independent member of the simulator's multicast group for the tests, on plain BSD sockets
// and written apart from the transport and its sockets layer: it receives what the code under
// test sends and sends datagrams built from the wire format alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kyte::testsupport {

using Packet = std::vector<std::uint8_t>;

inline constexpr char kGroupAddress[] = "224.0.5.20";
inline constexpr std::uint16_t kGroupPort = 2267;
inline constexpr std::size_t kWirePacketSize = 304;

struct Datagram {
  Packet bytes;
  std::string group;      // the address it was sent to, dotted
  std::string interface;  // the name of the interface it came in on
};

class GroupPeer {
 public:
  // Member of 224.0.5.20, bound to port 2267 with address reuse, as the transport is.
  GroupPeer();
  // Bound to `port` with address reuse, member of each of `groups` on the interface whose address
  // is `interfaceAddress`, and sending through that interface.
  GroupPeer(std::uint16_t port, const std::vector<std::string>& groups,
            const std::string& interfaceAddress = "127.0.0.1");
  ~GroupPeer();
  GroupPeer(const GroupPeer&) = delete;
  GroupPeer& operator=(const GroupPeer&) = delete;

  void Send(const Packet& bytes);  // to 224.0.5.20:2267
  void Send(const std::string& group, std::uint16_t port, const Packet& bytes);

  // The next datagram, whole, waiting at most `timeoutMs` for it.
  std::optional<Packet> Receive(int timeoutMs = 2000);
  // The next datagram with the address it was sent to; false when none came in time.
  bool Receive(Datagram& datagram, int timeoutMs = 2000);
  // The next datagram of a packet's 304 bytes; datagrams of other sizes are passed over.
  std::optional<Packet> ReceivePacket(int timeoutMs = 2000);

 private:
  int fd_ = -1;
};

// Big-endian fields at wire offsets; an offset past the end throws std::out_of_range.
std::uint32_t Uint32At(const Packet& packet, std::size_t offset);
std::int32_t Int32At(const Packet& packet, std::size_t offset);
float FloatAt(const Packet& packet, std::size_t offset);
void PutUint32(Packet& packet, std::size_t offset, std::uint32_t value);
void PutInt32(Packet& packet, std::size_t offset, std::int32_t value);
// The characters from `offset` up to the first NUL, at most `size` of them.
std::string TextAt(const Packet& packet, std::size_t offset, std::size_t size);

}  // namespace kyte::testsupport
