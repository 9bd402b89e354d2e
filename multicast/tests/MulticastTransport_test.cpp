#include "multicast/MulticastTransport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "multicast/VehicleRecord.h"
#include "netguard.h"
#include "platform/sockets/sockets_test_hook.h"
#include "testsupport/CapturedOutput.h"
#include "testsupport/GroupPeer.h"
#include "testsupport/Tolerances.h"

namespace {

using namespace kyte::testsupport;

constexpr std::uint16_t kPort = 2267;
const char* const kGroup = "224.0.5.20";

// Writable copies of address strings, as MulticastOpen cuts them in place.
struct Addresses {
  explicit Addresses(std::vector<std::string> strings) : text(std::move(strings)) {
    for (std::string& s : text) pointers.push_back(s.data());
  }
  char** data() { return pointers.data(); }
  std::int32_t count() const { return static_cast<std::int32_t>(pointers.size()); }
  std::vector<std::string> text;
  std::vector<char*> pointers;
};

// What the callback saw: the names of the packets, in order, and the record it was given.
struct Seen {
  std::vector<std::string> names;
  std::vector<VehicleRecord*> records;
  std::vector<VehicleRecord> copies;
  int nestedPollResult = -2;
  bool pollFromInside = false;
};
Seen* g_seen = nullptr;

int Collect(VehicleRecord* pRecord) {
  g_seen->names.emplace_back(reinterpret_cast<const char*>(pRecord->PacketImage + kImageName));
  g_seen->records.push_back(pRecord);
  g_seen->copies.push_back(*pRecord);
  if (g_seen->pollFromInside) g_seen->nestedPollResult = MulticastPoll(Collect, pRecord);
  return 0;
}

std::vector<std::uint8_t> PacketNamed(const std::string& name) {
  VehicleRecord record{};
  const float lon = -122.0634f, lat = 37.981523f, alt = 5000.0f;
  MulticastInitRecord(&record, name.c_str(), 9, 3, &lon, &lat, &alt);
  std::vector<std::uint8_t> wire(kPacketSize);
  ImageToWire(record.PacketImage, wire.data());
  return wire;
}

class Transport : public testing::Test {
 protected:
  void SetUp() override {
    g_seen = &seen;
    sockets = sockets_test::OpenSockets();
    events = sockets_test::OpenEvents();
  }
  void TearDown() override {
    EXPECT_EQ(MulticastClose<VehicleRecord>(), 0);
    EXPECT_EQ(sockets_test::OpenSockets(), sockets);
    EXPECT_EQ(sockets_test::OpenEvents(), events);
    EXPECT_EQ(sockets_test::PendingReceives(), 0);
    g_seen = nullptr;
  }
  int Open(std::vector<std::string> strings) {
    Addresses addresses(std::move(strings));
    return MulticastOpen<VehicleRecord>(addresses.count(), addresses.data());
  }
  // Polls until `count` packets have been seen or a second has passed.
  void PollFor(std::size_t count) {
    for (int i = 0; i < 1000 && seen.names.size() < count; ++i) {
      EXPECT_EQ(MulticastPoll(Collect, &receiver), 1);
      if (seen.names.size() < count) usleep(1000);
    }
  }

  Seen seen;
  VehicleRecord receiver{};
  int sockets = 0;
  int events = 0;
};

TEST_F(Transport, OpensOnTheGroupAndReceivesItsOwnPacket) {
  ASSERT_EQ(Open({"224.0.5.20:2267"}), 0);
  EXPECT_EQ(sockets_test::OpenSockets(), sockets + 1);
  EXPECT_EQ(sockets_test::PendingReceives(), 1);
  EXPECT_EQ(MulticastPoll(Collect, &receiver), 1);  // nothing yet
  EXPECT_TRUE(seen.names.empty());

  VehicleRecord sender{};
  const float lon = -122.0634f, lat = 37.981523f, alt = 5000.0f;
  MulticastInitRecord(&sender, "self", 1, 2, &lon, &lat, &alt);
  sender.dEast = 1000;
  sender.fSendInterval = 0.5f;
  EXPECT_EQ(MulticastSendRecord(&sender), 0);
  receiver.dOriginLongitude = sender.dOriginLongitude;
  receiver.dOriginLatitude = sender.dOriginLatitude;
  PollFor(1);
  ASSERT_EQ(seen.names, std::vector<std::string>{"self"});
  EXPECT_NEAR(seen.copies[0].dEast, 999.99, 0.005);
  EXPECT_EQ(sockets_test::PendingReceives(), 1);  // posted again
}

TEST_F(Transport, AnInterfacePartBindsThatInterface) {
  GroupPeer other(kPort, {kGroup});
  ASSERT_EQ(Open({"224.0.5.20:2267,127.0.0.1"}), 0);
  VehicleRecord sender{};
  const float zero = 0.0f;
  MulticastInitRecord(&sender, "lo", 1, 1, &zero, &zero, &zero);
  ASSERT_EQ(MulticastSendRecord(&sender), 0);
  Datagram got;
  ASSERT_TRUE(other.Receive(got));
  EXPECT_EQ(got.group, kGroup);
  other.Send(kGroup, kPort, PacketNamed("to lo"));
  PollFor(2);  // its own packet, then the peer's
  EXPECT_EQ(seen.names, (std::vector<std::string>{"lo", "to lo"}));
  EXPECT_EQ(MulticastClose<VehicleRecord>(), 0);

  // An address of no interface here cannot be bound.
  EXPECT_EQ(Open({"224.0.5.20:2267,192.0.2.1"}), 8);
  EXPECT_EQ(sockets_test::OpenSockets(), sockets);
}

// A second interface, so that one interface can be told from any: one end of a veth pair with an
// address of its own and multicast on. It is made only inside the test's private namespace,
// after the guard found loopback alone there, and removed with its peer at the end.
constexpr char kLink[] = "kytelink0";
constexpr char kLinkAddress[] = "198.51.100.1";

class SecondInterface : public Transport {
 protected:
  void SetUp() override {
    Transport::SetUp();
    if (!netns::InPrivateNetworkNamespace()) GTEST_SKIP() << "not in a private namespace";
    const CommandRun made = RunCommand(
        "ip link add kytelink0 type veth peer name kytelink1 && "
        "ip addr add 198.51.100.1/24 dev kytelink0 && ip link set kytelink0 multicast on && "
        "ip link set kytelink0 up && ip link set kytelink1 up");
    linkMade = made.status == 0;
    if (!linkMade) GTEST_SKIP() << "no veth interface here: " << made.err;
  }
  void TearDown() override {
    Transport::TearDown();
    if (linkMade) {
      EXPECT_EQ(RunCommand("ip link del kytelink0").status, 0);
    }
  }

  bool linkMade = false;
};

TEST_F(SecondInterface, AnInterfacePartJoinsAndSendsOnThatInterfaceAlone) {
  GroupPeer onLoopback(kPort, {kGroup});
  GroupPeer onLink(kPort, {kGroup}, kLinkAddress);
  ASSERT_EQ(Open({std::string("224.0.5.20:2267,") + kLinkAddress}), 0);
  VehicleRecord sender{};
  const float zero = 0.0f;
  MulticastInitRecord(&sender, "link", 1, 1, &zero, &zero, &zero);
  ASSERT_EQ(MulticastSendRecord(&sender), 0);
  Datagram got;
  ASSERT_TRUE(onLink.Receive(got));
  EXPECT_EQ(got.interface, kLink);  // sent through the link, not along the route on loopback

  // Of a packet on each interface, only the one on the link is received.
  onLoopback.Send(kGroup, kPort, PacketNamed("on loopback"));
  onLink.Send(kGroup, kPort, PacketNamed("on link"));
  PollFor(3);
  EXPECT_EQ(seen.names, (std::vector<std::string>{"link", "on link"}));
}

TEST_F(SecondInterface, GetsocknameReportsTheBoundInterface) {
  WSADATA data{};
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  const SOCKET s =
      WSASocketA(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                 WSA_FLAG_OVERLAPPED | WSA_FLAG_MULTIPOINT_C_LEAF | WSA_FLAG_MULTIPOINT_D_LEAF);
  ASSERT_NE(s, INVALID_SOCKET);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(kPort);
  ASSERT_EQ(inet_pton(AF_INET, kLinkAddress, &local.sin_addr), 1);
  EXPECT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
  sockaddr_in name{};
  int length = sizeof name;
  EXPECT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&name), &length), 0);
  EXPECT_EQ(length, static_cast<int>(sizeof name));
  EXPECT_EQ(name.sin_family, AF_INET);
  EXPECT_EQ(name.sin_addr.s_addr, local.sin_addr.s_addr);
  EXPECT_EQ(name.sin_port, local.sin_port);
  EXPECT_EQ(closesocket(s), 0);
  EXPECT_EQ(WSACleanup(), 0);
}

TEST_F(Transport, AnIndependentPeerReadsTheWireAndIsDecoded) {
  GroupPeer other(kPort, {kGroup});
  ASSERT_EQ(Open({"224.0.5.20:2267"}), 0);

  VehicleRecord sender{};
  const float lon = 100.0f, lat = 37.981523f, alt = 5000.0f;
  MulticastInitRecord(&sender, "abc", 0x01020304, 0x0A0B0C0D, &lon, &lat, &alt);
  std::memcpy(sender.PacketImage + kImageTag, "none", 4);
  sender.fHeading = 90.0f;
  sender.byState = 5;
  ASSERT_EQ(MulticastSendRecord(&sender), 0);
  Datagram got;
  ASSERT_TRUE(other.Receive(got));
  ASSERT_EQ(got.bytes.size(), 304u);
  const auto at = [&](int offset, std::size_t size) {
    return std::string(got.bytes.begin() + offset, got.bytes.begin() + offset + size);
  };
  EXPECT_EQ(at(4, 32), std::string("abc") + std::string(29, '\0'));
  EXPECT_EQ(at(36, 4), "none");
  EXPECT_EQ(at(40, 6), "baenon");
  EXPECT_EQ(at(46, 2), std::string("\x00\x14", 2));
  EXPECT_EQ(at(52, 4), "\x01\x02\x03\x04");
  EXPECT_EQ(at(56, 4), "\xFF\xFF\xFF\xFF");
  EXPECT_EQ(at(76, 4), "\x0A\x0B\x0C\x0D");
  EXPECT_EQ(at(80, 1), "\x05");
  EXPECT_EQ(at(88, 4), "\x7F\xFE\x07\xFF");
  EXPECT_EQ(at(100, 4), std::string("\xA4\x10\x00\x00", 4));
  EXPECT_EQ(at(144, 4), "\xFF\xFF\xC0\x01");  // heading 90 goes out as -16383
  // The transport hears its own packet too; drain it.
  PollFor(1);
  seen = Seen{};

  // A packet written by hand, big-endian, decoded by the transport.
  std::vector<std::uint8_t> packet(kPacketSize, 0);
  const auto put32 = [&](int offset, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) packet[offset + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
  };
  std::memcpy(packet.data() + 4, "peer", 4);
  put32(104, 1258109550u + 6728u);  // 250 ft north
  put32(108, 134576u);              // 5000 ft
  put32(136, 1820u);                // pitch 10
  packet[80] = 9;
  receiver.dOriginLongitude = 0;
  receiver.dOriginLatitude = 1258109550;
  other.Send(kGroup, kPort, packet);
  PollFor(1);
  ASSERT_EQ(seen.names, std::vector<std::string>{"peer"});
  EXPECT_NEAR(seen.copies[0].dNorth, 250.0, kDecodedFeetTolerance);
  EXPECT_NEAR(seen.copies[0].fAltitude, 4999.997, 0.0005);
  EXPECT_NEAR(seen.copies[0].fPitch, 9.99756, 0.00005);
  EXPECT_EQ(seen.copies[0].byState, 9);
}

TEST_F(Transport, JoinsInReverseSendsAndPollsInTheOrderOfTheStrings) {
  const std::vector<std::string> groups = {"224.0.5.21", "224.0.5.22", "224.0.5.23"};
  GroupPeer other(kPort, groups);
  {
    // Joins go C, B, A: the third join (A) fails, leaving C and B armed.
    sockets_test::ScopedFaults faults;
    faults.Fail(sockets_test::Call::kWSAJoinLeaf, WSAENETDOWN, 2);
    ASSERT_EQ(Open({groups[0] + ":2267", groups[1] + ":2267", groups[2] + ":2267"}), 11);
    VehicleRecord sender{};
    const float zero = 0.0f;
    MulticastInitRecord(&sender, "x", 1, 1, &zero, &zero, &zero);
    EXPECT_EQ(MulticastSendRecord(&sender), 0);  // the armed endpoints still send, B then C
    for (int i : {1, 2}) {
      Datagram got;
      ASSERT_TRUE(other.Receive(got));
      EXPECT_EQ(got.group, groups[i]);
    }
    Datagram got;
    EXPECT_FALSE(other.Receive(got, 100));
  }
  ASSERT_EQ(Open({groups[0] + ":2267", groups[1] + ":2267", groups[2] + ":2267"}), 0);
  VehicleRecord sender{};
  const float zero = 0.0f;
  MulticastInitRecord(&sender, "x", 1, 1, &zero, &zero, &zero);
  ASSERT_EQ(MulticastSendRecord(&sender), 0);
  std::vector<std::string> order;
  for (int i = 0; i < 3; ++i) {
    Datagram got;
    ASSERT_TRUE(other.Receive(got));
    order.push_back(got.group);
  }
  EXPECT_EQ(order, groups);
  PollFor(3);  // each endpoint heard its own group
  seen = Seen{};

  // Sent C, B, A by the peer; polled A, B, C.
  for (int i = 2; i >= 0; --i) other.Send(groups[i], kPort, PacketNamed("to" + groups[i]));
  usleep(20000);
  EXPECT_EQ(MulticastPoll(Collect, &receiver), 1);
  EXPECT_EQ(seen.names, (std::vector<std::string>{"to224.0.5.21", "to224.0.5.22", "to224.0.5.23"}));
}

TEST_F(Transport, OnePollDrainsWaitingDatagramsInOrderOfArrival) {
  GroupPeer other(kPort, {kGroup});
  ASSERT_EQ(Open({"224.0.5.20:2267"}), 0);
  for (const char* name : {"one", "two", "three"}) other.Send(kGroup, kPort, PacketNamed(name));
  usleep(20000);
  EXPECT_EQ(MulticastPoll(Collect, &receiver), 1);
  EXPECT_EQ(seen.names, (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(seen.records, (std::vector<VehicleRecord*>(3, &receiver)));
  EXPECT_EQ(MulticastPoll(Collect, &receiver), 1);
  EXPECT_EQ(seen.names.size(), 3u);
}

TEST_F(Transport, APollFromInsideTheCallbackReturnsZero) {
  GroupPeer other(kPort, {kGroup});
  ASSERT_EQ(Open({"224.0.5.20:2267"}), 0);
  other.Send(kGroup, kPort, PacketNamed("a"));
  other.Send(kGroup, kPort, PacketNamed("b"));
  seen.pollFromInside = true;
  usleep(20000);
  EXPECT_EQ(MulticastPoll(Collect, &receiver), 1);
  EXPECT_EQ(seen.nestedPollResult, 0);
  EXPECT_EQ(seen.names, (std::vector<std::string>{"a", "b"}));  // the outer poll went on
}

TEST_F(Transport, DatagramsOfOtherLengths) {
  GroupPeer other(kPort, {kGroup});
  ASSERT_EQ(Open({"224.0.5.20:2267"}), 0);
  other.Send(kGroup, kPort, PacketNamed("full"));
  other.Send(kGroup, kPort, std::vector<std::uint8_t>{0, 0, 0, 0, 's', 'h', 'o', 'r', 't'});
  // A longer one is read as its first 304 bytes, and the group stays heard.
  std::vector<std::uint8_t> longer = PacketNamed("long");
  longer.resize(400, 0xAB);
  other.Send(kGroup, kPort, longer);
  other.Send(kGroup, kPort, PacketNamed("after"));
  PollFor(4);
  ASSERT_EQ(seen.names, (std::vector<std::string>{"full", "short", "long", "after"}));
  std::uint8_t expected[kPacketSize];
  WireToImage(longer.data(), expected);
  EXPECT_EQ(std::memcmp(seen.copies[2].PacketImage, expected, kPacketSize), 0);

  // A shorter one shows nothing of the datagram before it: its missing bytes read as zero.
  const VehicleRecord& shortOne = seen.copies[1];
  EXPECT_EQ(GetImageInt32(shortOne.PacketImage, wire::kCraftType), 0);
  EXPECT_EQ(GetImageInt32(shortOne.PacketImage, wire::kAltitude), 0);
  EXPECT_EQ(GetImageInt32(shortOne.PacketImage, wire::kFixed88), 0);
  for (int i = 0; i < 294; ++i) {
    if (i < kImageName || i >= kImageName + 5) {
      EXPECT_EQ(shortOne.PacketImage[i], 0) << i;
    }
  }
}

TEST_F(Transport, OpeningAnOpenTransportAddsNothing) {
  CMulticastTransport<VehicleRecord> transport;
  Addresses first({"224.0.5.20:2267"});
  ASSERT_EQ(transport.Open(first.count(), first.data()), 0);
  Addresses second({"224.0.5.21:2267"});
  EXPECT_EQ(transport.Open(second.count(), second.data()), 0);
  EXPECT_EQ(sockets_test::OpenSockets(), sockets + 1);
  EXPECT_EQ(transport.Close(), 0);
}

TEST_F(Transport, CountsZeroAndNegative) {
  EXPECT_EQ(Open({}), 3);
  EXPECT_EQ(MulticastOpen<VehicleRecord>(0, nullptr), 3);
  ASSERT_EQ(Open({"224.0.5.20:2267"}), 0);  // may try again
  EXPECT_EQ(MulticastClose<VehicleRecord>(), 0);

  EXPECT_EQ(MulticastOpen<VehicleRecord>(-1, nullptr), 0);
  EXPECT_EQ(sockets_test::OpenSockets(), sockets);
  VehicleRecord record{};
  const float zero = 0.0f;
  MulticastInitRecord(&record, "n", 1, 1, &zero, &zero, &zero);
  EXPECT_EQ(MulticastSendRecord(&record), 0);
  EXPECT_EQ(MulticastPoll(Collect, &receiver), 1);
  EXPECT_TRUE(seen.names.empty());
}

TEST_F(Transport, AddressStringsThatDoNotConvert) {
  const struct {
    std::vector<std::string> strings;
    int code;
    int sockets;
  } cases[] = {
      {{"224.0.5.20:2267,not-an-address"}, 3, 0},
      {{"nonsense"}, 3, 0},
      {{"224.0.5.20:99999"}, 3, 0},
      {{"224.0.5.20:2267", "bad"}, 3, 0},            // the last one decides; earlier ones unjoined
      {{"bad", "224.0.5.20:2267"}, 0, 1},            // an earlier bad string is skipped
      {{",,224.0.5.20:2267,127.0.0.1,junk"}, 0, 1},  // leading commas, an interface, extra
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.strings.back());
    EXPECT_EQ(Open(c.strings), c.code);
    EXPECT_EQ(sockets_test::OpenSockets(), sockets + c.sockets);
    EXPECT_EQ(MulticastClose<VehicleRecord>(), 0);
    EXPECT_EQ(sockets_test::OpenSockets(), sockets);
    EXPECT_EQ(sockets_test::OpenEvents(), events);
  }
}

TEST_F(Transport, FaultsOfTheSocketsLayerGiveTheirCodes) {
  using sockets_test::Call;
  const struct {
    Call call;
    int code;
  } cases[] = {
      {Call::kWSAStartup, 4},   {Call::kWSASocketA, 13},         {Call::kSetsockopt, 7},
      {Call::kBind, 8},         {Call::kGetsockname, 9},         {Call::kWSAJoinLeaf, 11},
      {Call::kWSARecvFrom, -1}, {Call::kWSAStringToAddressA, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    {
      sockets_test::ScopedFaults faults;
      faults.Fail(c.call);
      EXPECT_EQ(Open({"224.0.5.20:2267"}), c.code);
      EXPECT_EQ(MulticastClose<VehicleRecord>(), 0);
    }
    EXPECT_EQ(sockets_test::OpenSockets(), sockets);
    EXPECT_EQ(sockets_test::PendingReceives(), 0);
  }
  {
    sockets_test::ScopedFaults faults;
    faults.ReportVersion(MAKEWORD(2, 2));
    EXPECT_EQ(Open({"224.0.5.20:2267"}), 4);
  }
  // A failed open leaves nothing open, and a new open replaces the failed transport.
  {
    sockets_test::ScopedFaults faults;
    faults.Fail(Call::kBind);
    EXPECT_EQ(Open({"224.0.5.20:2267"}), 8);
  }
  EXPECT_EQ(Open({"224.0.5.20:2267"}), 0);
  EXPECT_EQ(sockets_test::OpenSockets(), sockets + 1);
}

TEST_F(Transport, OnlyTheLastGroupsSendFailureIsReported) {
  ASSERT_EQ(Open({"224.0.5.21:2267", "224.0.5.22:2267"}), 0);
  VehicleRecord record{};
  const float zero = 0.0f;
  MulticastInitRecord(&record, "s", 1, 1, &zero, &zero, &zero);
  sockets_test::ScopedFaults faults;
  faults.Fail(sockets_test::Call::kSendto);
  EXPECT_EQ(MulticastSendRecord(&record), 0);
  faults.Fail(sockets_test::Call::kSendto, WSAENETDOWN, 1);
  EXPECT_EQ(MulticastSendRecord(&record), 15);
  EXPECT_EQ(MulticastSendRecord(&record), 0);  // nothing changed by a failed send
}

TEST_F(Transport, AReceiveThatCannotBePostedAgainStopsThePoll) {
  GroupPeer other(kPort, {kGroup});
  ASSERT_EQ(Open({"224.0.5.20:2267"}), 0);
  other.Send(kGroup, kPort, PacketNamed("a"));
  other.Send(kGroup, kPort, PacketNamed("b"));
  usleep(20000);
  {
    sockets_test::ScopedFaults faults;
    faults.Fail(sockets_test::Call::kWSARecvFrom);
    EXPECT_EQ(MulticastPoll(Collect, &receiver), 0);
  }
  EXPECT_EQ(seen.names, std::vector<std::string>{"a"});
  // The failed post is not taken for a completed one: the old packet is not decoded again.
  EXPECT_EQ(MulticastPoll(Collect, &receiver), 1);
  EXPECT_EQ(seen.names, std::vector<std::string>{"a"});
}

TEST_F(Transport, TheEntryPointsWithoutATransport) {
  VehicleRecord record{};
  const float zero = 0.0f;
  EXPECT_EQ(MulticastInitRecord(&record, "n", 1, 1, &zero, &zero, &zero), 1);
  EXPECT_EQ(MulticastSendRecord(&record), 15);
  EXPECT_EQ(MulticastPoll(Collect, &receiver), 0);
  EXPECT_EQ(MulticastClose<VehicleRecord>(), 0);
}

}  // namespace
