#include "GroupPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace peer {

namespace {

sockaddr_in GroupAddress() {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(2267);
  address.sin_addr.s_addr = inet_addr("224.0.5.20");
  return address;
}

}  // namespace

GroupPeer::GroupPeer() {
  socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (socket_ < 0) throw std::runtime_error("socket");
  int on = 1;
  ::setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(2267);
  if (::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
    throw std::runtime_error("bind");
  ip_mreq membership{};
  membership.imr_multiaddr.s_addr = inet_addr("224.0.5.20");
  membership.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
  if (::setsockopt(socket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0)
    throw std::runtime_error("IP_ADD_MEMBERSHIP");
}

GroupPeer::~GroupPeer() { ::close(socket_); }

std::optional<Packet> GroupPeer::Receive(int timeoutMs) {
  pollfd waiting{socket_, POLLIN, 0};
  if (::poll(&waiting, 1, timeoutMs) != 1) return std::nullopt;
  Packet packet(2048);
  const ssize_t length = ::recv(socket_, packet.data(), packet.size(), 0);
  if (length < 0) return std::nullopt;
  packet.resize(static_cast<std::size_t>(length));
  return packet;
}

void GroupPeer::Send(const Packet& packet) {
  const sockaddr_in group = GroupAddress();
  if (::sendto(socket_, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&group),
               sizeof group) != static_cast<ssize_t>(packet.size()))
    throw std::runtime_error("sendto");
}

std::int32_t Int32At(const Packet& packet, std::size_t offset) {
  const std::uint32_t value = std::uint32_t{packet.at(offset)} << 24 |
                              std::uint32_t{packet.at(offset + 1)} << 16 |
                              std::uint32_t{packet.at(offset + 2)} << 8 | packet.at(offset + 3);
  return static_cast<std::int32_t>(value);
}

float FloatAt(const Packet& packet, std::size_t offset) {
  const std::int32_t bits = Int32At(packet, offset);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void PutInt32(Packet& packet, std::size_t offset, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i)
    packet.at(offset + i) = static_cast<std::uint8_t>(bits >> (24 - 8 * i));
}

std::string TextAt(const Packet& packet, std::size_t offset, std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size && packet.at(offset + i) != 0; ++i)
    text += static_cast<char>(packet.at(offset + i));
  return text;
}

}  // namespace peer
