#pragma once
// An independent member of the multicast group for the tests, on plain sockets: it receives
// what the code under test sends and sends packets built from the wire format alone.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace rawpeer {

using Packet = std::array<std::uint8_t, 304>;

inline std::uint32_t WireU32(const Packet& p, std::size_t offset) {
  return std::uint32_t{p[offset]} << 24 | std::uint32_t{p[offset + 1]} << 16 |
         std::uint32_t{p[offset + 2]} << 8 | std::uint32_t{p[offset + 3]};
}
inline std::int32_t WireI32(const Packet& p, std::size_t offset) {
  return static_cast<std::int32_t>(WireU32(p, offset));
}
inline float WireFloat(const Packet& p, std::size_t offset) {
  const std::uint32_t u = WireU32(p, offset);
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}
inline void PutWireU32(Packet& p, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

class Peer {
 public:
  Peer() {
    fd_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (fd_ < 0) throw std::runtime_error("socket");
    const int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(2267);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      throw std::runtime_error("bind");
    }
    ip_mreq join{};
    join.imr_multiaddr.s_addr = inet_addr("224.0.5.20");
    join.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
    if (setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0) {
      throw std::runtime_error("join");
    }
    in_addr loopback{htonl(INADDR_LOOPBACK)};
    setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback);
  }
  ~Peer() { close(fd_); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // The next 304-byte datagram, waiting at most timeout_ms; other sizes are skipped.
  std::optional<Packet> Receive(int timeout_ms = 1000) {
    for (;;) {
      pollfd pfd{fd_, POLLIN, 0};
      if (poll(&pfd, 1, timeout_ms) <= 0) return std::nullopt;
      Packet packet{};
      if (recv(fd_, packet.data(), packet.size(), 0) == static_cast<ssize_t>(packet.size())) {
        return packet;
      }
    }
  }

  void Send(const Packet& packet) {
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(2267);
    group.sin_addr.s_addr = inet_addr("224.0.5.20");
    if (sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&group),
               sizeof group) != static_cast<ssize_t>(packet.size())) {
      throw std::runtime_error("sendto");
    }
  }

 private:
  int fd_ = -1;
};

}  // namespace rawpeer
