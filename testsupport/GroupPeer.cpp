#include "testsupport/GroupPeer.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kyte::testsupport {

namespace {

sockaddr_in Address(const std::string& host, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    throw std::runtime_error("bad address " + host);
  }
  return address;
}

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

GroupPeer::GroupPeer() : GroupPeer(kGroupPort, {kGroupAddress}) {}

GroupPeer::GroupPeer(std::uint16_t port, const std::vector<std::string>& groups,
                     const std::string& interfaceAddress) {
  fd_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  Check(fd_ >= 0, "socket");
  const int on = 1;
  Check(setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0, "SO_REUSEADDR");
  Check(setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) == 0, "IP_PKTINFO");
  sockaddr_in local = Address("0.0.0.0", port);
  Check(bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0, "bind");
  // One interface both ways: loopback, unless the test gave its namespace another.
  const in_addr iface = Address(interfaceAddress, 0).sin_addr;
  Check(setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &iface, sizeof iface) == 0, "IP_MULTICAST_IF");
  for (const std::string& group : groups) {
    ip_mreq request{};
    request.imr_multiaddr = Address(group, port).sin_addr;
    request.imr_interface = iface;
    Check(setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0,
          "IP_ADD_MEMBERSHIP");
  }
}

GroupPeer::~GroupPeer() {
  if (fd_ >= 0) close(fd_);
}

void GroupPeer::Send(const Packet& bytes) { Send(kGroupAddress, kGroupPort, bytes); }

void GroupPeer::Send(const std::string& group, std::uint16_t port, const Packet& bytes) {
  const sockaddr_in to = Address(group, port);
  const ssize_t sent =
      sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  Check(sent == static_cast<ssize_t>(bytes.size()), "sendto");
}

bool GroupPeer::Receive(Datagram& datagram, int timeoutMs) {
  pollfd waiting{fd_, POLLIN, 0};
  if (poll(&waiting, 1, timeoutMs) <= 0) return false;
  std::uint8_t buffer[2048];
  alignas(cmsghdr) char control[256];
  iovec io{buffer, sizeof buffer};
  msghdr message{};
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t got = recvmsg(fd_, &message, 0);
  Check(got >= 0, "recvmsg");
  datagram.bytes.assign(buffer, buffer + got);
  datagram.group.clear();
  datagram.interface.clear();
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
      in_pktinfo info{};
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      char text[INET_ADDRSTRLEN];
      inet_ntop(AF_INET, &info.ipi_addr, text, sizeof text);
      datagram.group = text;
      char name[IF_NAMESIZE] = "";
      datagram.interface = if_indextoname(info.ipi_ifindex, name) ? name : "";
    }
  }
  return true;
}

std::optional<Packet> GroupPeer::Receive(int timeoutMs) {
  Datagram datagram;
  if (!Receive(datagram, timeoutMs)) return std::nullopt;
  return std::move(datagram.bytes);
}

std::optional<Packet> GroupPeer::ReceivePacket(int timeoutMs) {
  for (;;) {
    std::optional<Packet> packet = Receive(timeoutMs);
    if (!packet || packet->size() == kWirePacketSize) return packet;
  }
}

std::uint32_t Uint32At(const Packet& packet, std::size_t offset) {
  return std::uint32_t{packet.at(offset)} << 24 | std::uint32_t{packet.at(offset + 1)} << 16 |
         std::uint32_t{packet.at(offset + 2)} << 8 | std::uint32_t{packet.at(offset + 3)};
}

std::int32_t Int32At(const Packet& packet, std::size_t offset) {
  return static_cast<std::int32_t>(Uint32At(packet, offset));
}

float FloatAt(const Packet& packet, std::size_t offset) {
  const std::uint32_t bits = Uint32At(packet, offset);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void PutUint32(Packet& packet, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    packet.at(offset + i) = static_cast<std::uint8_t>(value >> (24 - 8 * i));
  }
}

void PutInt32(Packet& packet, std::size_t offset, std::int32_t value) {
  PutUint32(packet, offset, static_cast<std::uint32_t>(value));
}

std::string TextAt(const Packet& packet, std::size_t offset, std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size && packet.at(offset + i) != 0; ++i) {
    text += static_cast<char>(packet.at(offset + i));
  }
  return text;
}

}  // namespace kyte::testsupport
