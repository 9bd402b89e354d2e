#include "MATLAB2Network.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "clocks_test_hook.h"
#include "platform/sockets/sockets_test_hook.h"
#include "testsupport/GroupPeer.h"
#include "testsupport/Tolerances.h"

namespace {

using namespace kyte::testsupport;

// Every test starts and ends with the library's process-wide objects at their load state.
class NetworkVehicle : public ::testing::Test {
 protected:
  void SetUp() override { CMATLAB2Network().Close(); }
  void TearDown() override { CMATLAB2Network().Close(); }

  GroupPeer peer;
};

std::string WireName(const Packet& p) {
  return std::string(reinterpret_cast<const char*>(&p[4]), 32).c_str();
}

// A packet as another member of the group would send it.
Packet PeerPacket(std::uint32_t uSequence, std::int32_t iLatitude) {
  Packet p(kWirePacketSize);
  std::memcpy(&p[4], "peer", 4);
  PutUint32(p, 52, uSequence);
  PutUint32(p, 104, static_cast<std::uint32_t>(iLatitude));
  p[80] = 9;
  return p;
}

std::uint32_t ImageU32(const VehicleRecord& record, std::size_t offset) {
  std::uint32_t u = 0;
  for (int i = 3; i >= 0; --i) u = u << 8 | record.PacketImage[offset + i];
  return u;
}
constexpr std::size_t kImageVehicleId = 248;  // wire bytes 52 to 55

TEST_F(NetworkVehicle, DefaultNamesIdentifiersAndTagReachTheWire) {
  clocks_test::ClockHooks hooks;
  hooks.tickCount = [] { return 0x12345u; };
  clocks_test::ScopedClocks clocks(hooks);

  CMATLAB2Network vehicles[3];
  for (auto& vehicle : vehicles) {
    ASSERT_TRUE(vehicle.InitVehicle(3, -122.0634, 37.981523, 5000.0, nullptr));
    ASSERT_TRUE(vehicle.Send());
  }
  EXPECT_EQ(bConnected, 1);
  EXPECT_EQ(iVehicleCount, 3);
  for (const char* name : {"airhost_01", "airhost_02", "airhost_03"}) {
    auto packet = peer.ReceivePacket();
    ASSERT_TRUE(packet);
    EXPECT_EQ(WireName(*packet), name);
    EXPECT_EQ(0, std::memcmp(&(*packet)[36], "none", 4));
    for (std::size_t i = 176; i < 304; ++i) ASSERT_EQ((*packet)[i], 0) << "wire byte " << i;
    if (std::string(name) == "airhost_03") {
      EXPECT_EQ(Uint32At(*packet, 52), 0x4503u);
      EXPECT_EQ(Uint32At(*packet, 48), 0x4503u);
    }
  }

  // A close starts the numbering again; a given name goes out whole beside the tag.
  vehicles[0].Close();
  EXPECT_EQ(iVehicleCount, 0);
  ASSERT_TRUE(vehicles[1].InitVehicle(0, 0.0, 0.0, 0.0, nullptr));
  ASSERT_TRUE(vehicles[2].InitVehicle(0, 0.0, 0.0, 0.0, "abcdef"));
  ASSERT_TRUE(vehicles[1].Send());
  ASSERT_TRUE(vehicles[2].Send());
  auto first = peer.ReceivePacket();
  auto second = peer.ReceivePacket();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(WireName(*first), "airhost_01");
  EXPECT_EQ(WireName(*second), "abcdef");
  EXPECT_EQ(0, std::memcmp(&(*second)[36], "none", 4));
  EXPECT_EQ(Uint32At(*second, 52), 0x4502u);
}

TEST_F(NetworkVehicle, SendGateOpensOncePerPeriodAndDropsTheExcess) {
  struct Case {
    double dStep;
    std::vector<bool> opens;
  };
  const Case cases[] = {
      {0.05, {true, true, true, true, true, true}},
      {0.02, {false, false, true, false, false, true}},
      {0.03, {false, true, false, true, false, true}},
      {0.1, {true, true, true, true, true, true}},
  };
  for (const auto& c : cases) {
    CMATLAB2Network vehicle;
    std::vector<bool> opens;
    for (std::size_t i = 0; i < c.opens.size(); ++i) opens.push_back(vehicle.IsTimeToSend(c.dStep));
    EXPECT_EQ(opens, c.opens) << "step " << c.dStep;
  }
}

TEST_F(NetworkVehicle, SendIntervalIsTheTimeBetweenReadings) {
  std::int64_t now = 1'000'000'000;
  clocks_test::ClockHooks hooks;
  hooks.counter = clocks_test::CounterReading(now);
  clocks_test::ScopedClocks clocks(hooks);
  CMATLAB2Network vehicle;
  EXPECT_EQ(vehicle.GetSendInterval(), 0.0);
  now += 250'000'000;
  EXPECT_EQ(vehicle.GetSendInterval(), 0.25);
  now += 60'000'000;
  EXPECT_DOUBLE_EQ(vehicle.GetSendInterval(), 0.06);
}

TEST_F(NetworkVehicle, CloseOnAClosedTransportOpensNothingAndStillResets) {
  ReceivedQueue.emplace_back();
  iVehicleCount = 2;
  CMATLAB2Network vehicle;
  vehicle.bFirstReading = 0;
  vehicle.Close();
  EXPECT_EQ(bConnected, 0);
  EXPECT_TRUE(ReceivedQueue.empty());
  EXPECT_EQ(iVehicleCount, 0);
  EXPECT_EQ(vehicle.bFirstReading, 1);
}

TEST_F(NetworkVehicle, SendOnAClosedTransportOpensItFirst) {
  CMATLAB2Network vehicle;  // never initialised: a zeroed record is sent
  ASSERT_EQ(bConnected, 0);
  EXPECT_TRUE(vehicle.Send());
  EXPECT_EQ(bConnected, 1);
  EXPECT_TRUE(peer.ReceivePacket());
}

TEST_F(NetworkVehicle, FailedOpenIsRetriedAndFailedSendKeepsTheTransport) {
  CMATLAB2Network vehicle;
  {
    sockets_test::ScopedFaults faults;
    faults.Fail(sockets_test::Call::kBind);
    EXPECT_FALSE(vehicle.InitVehicle(2, -122.0634, 37.981523, 5000.0, "late"));
  }
  EXPECT_EQ(bConnected, 0);
  EXPECT_EQ(iVehicleCount, 1);
  EXPECT_EQ(vehicle.Vehicle.dOriginLongitude, 569539950.0);  // filled although not connected
  {
    sockets_test::ScopedFaults faults;
    faults.Fail(sockets_test::Call::kSendto);
    EXPECT_FALSE(vehicle.Send());  // opens now, then the send fails
    EXPECT_EQ(bConnected, 1);
  }
  EXPECT_FALSE(peer.ReceivePacket(0));
  EXPECT_TRUE(vehicle.Send());
  auto packet = peer.ReceivePacket();
  ASSERT_TRUE(packet);
  EXPECT_EQ(WireName(*packet), "late");
}

TEST_F(NetworkVehicle, ReceivedRecordsQueueOldestFirstRelativeToTheReference) {
  CMATLAB2Network receiver;
  ASSERT_TRUE(receiver.InitVehicle(1, -122.0634, 37.981523, 5000.0, "self"));
  receiver.ReceiveStates();
  EXPECT_TRUE(ReceivedQueue.empty());

  for (std::uint32_t u = 1; u <= 3; ++u) peer.Send(PeerPacket(u, 1258109550 + 2691));
  receiver.ReceiveStates();
  ASSERT_EQ(ReceivedQueue.size(), 3u);
  std::uint32_t uExpected = 1;
  for (const VehicleRecord& record : ReceivedQueue) {
    EXPECT_EQ(ImageU32(record, kImageVehicleId), uExpected++);
    EXPECT_EQ(record.dOriginLatitude, 1258109550.0);
    EXPECT_NEAR(record.dNorth, 100.0, kDecodedFeetTolerance);
    EXPECT_EQ(record.byState, 9);
    EXPECT_EQ(record.afExtra[0], 0.0f);  // undecoded fields are not the polling vehicle's
  }
}

TEST_F(NetworkVehicle, FloodOfPacketsKeepsOnlyTheNewestRecords) {
  CMATLAB2Network receiver;
  constexpr std::uint32_t kPackets = 100'000;
  constexpr std::uint32_t kBurst = 50;  // well within the socket's receive buffer
  for (std::uint32_t u = 1; u <= kPackets; ++u) {
    peer.Send(PeerPacket(u, 0));
    if (u % kBurst == 0) {
      receiver.ReceiveStates();
      ASSERT_LE(ReceivedQueue.size(), kReceivedQueueLimit);
    }
  }
  ASSERT_EQ(ReceivedQueue.size(), kReceivedQueueLimit);
  EXPECT_EQ(ImageU32(ReceivedQueue.back(), kImageVehicleId), kPackets);
  std::uint32_t uPrevious = 0;
  for (const VehicleRecord& record : ReceivedQueue) {
    const std::uint32_t u = ImageU32(record, kImageVehicleId);
    ASSERT_GT(u, uPrevious);
    uPrevious = u;
  }
  EXPECT_EQ(ImageU32(ReceivedQueue.front(), kImageVehicleId), kPackets - kReceivedQueueLimit + 1);
}

}  // namespace
