// The test-tool record builds the same packet as VehicleRecord: codes, rates, decoding and the
// bytes that InitRecord leaves alone.
#include "VehicleRecordD.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>

#include "multicast/MulticastTransport.h"
#include "multicast/MulticastTransport_test_hook.h"
#include "multicast/VehiclePacket.h"
#include "multicast/VehicleRecord.h"

namespace {

const float kLongitude = -122.366f;
const float kLatitude = 37.613f;
const float kAltitude = 15000.0f;

VehicleRecordD InitAtDroneStart() {
  VehicleRecordD record{};
  EXPECT_EQ(CMulticastTransport<VehicleRecordD>::InitRecord(&record, "707_Drone", 1234, 0,
                                                            &kLongitude, &kLatitude, &kAltitude),
            1);
  return record;
}

VehicleRecordD decoded;
int Keep(VehicleRecordD* record) {
  decoded = *record;
  return 42;
}

// Decodes the record's image into a record that shares its reference position.
VehicleRecordD DecodeAtSameOrigin(const VehicleRecordD& sent) {
  decoded = {};
  VehicleRecordD receiver{};
  receiver.dOriginLongitude = sent.dOriginLongitude;
  receiver.dOriginLatitude = sent.dOriginLatitude;
  receiver.iRandomId = -5;
  EXPECT_EQ(CMulticastTransport<VehicleRecordD>::Decode(Keep, &receiver, sent.PacketImage), 42);
  EXPECT_EQ(decoded.iRandomId, -5);  // Decode leaves the fields it does not convert
  return decoded;
}

TEST(VehicleRecordD, InitRecordAtTheDronesStart) {
  const VehicleRecordD record = InitAtDroneStart();
  EXPECT_EQ(record.dOriginLongitude, 566565300.0);
  EXPECT_EQ(record.dOriginLatitude, 1254486825.0);
  EXPECT_EQ(record.dAltitude, 15000.0);
  EXPECT_EQ(record.byState, 127);
  EXPECT_EQ(GetImageInt32(record.PacketImage, wire::kAltitude), 403728);
  EXPECT_EQ(GetImageInt32(record.PacketImage, wire::kInstanceId), record.iRandomId);
  EXPECT_EQ(GetImageInt32(record.PacketImage, wire::kVehicleId), 1234);

  const VehicleRecordD back = DecodeAtSameOrigin(record);
  EXPECT_EQ(back.dEast, 0.0);
  EXPECT_EQ(back.dNorth, 0.0);
  EXPECT_EQ(back.dAltitude, 14999.991573539392);  // a double, not the float 14999.991

  // Without a callback the packet is still decoded, and nothing is called.
  VehicleRecordD receiver{};
  EXPECT_EQ(CMulticastTransport<VehicleRecordD>::Decode(nullptr, &receiver, record.PacketImage), 0);
  EXPECT_EQ(receiver.dAltitude, 14999.991573539392);
}

// One send from the reference position, all previous rates 0.
struct SendCase {
  const char* what;
  double east, north, roll, heading;
  float interval;
  int field;          // wire offset of the code that changes
  std::int32_t rise;  // its change from the value InitRecord put there
  float rate, accel;  // the rate fields beside it (latitude only)
  std::function<double(const VehicleRecordD&)> decodedValue;
  double expectedDecoded;
};

TEST(VehicleRecordD, SendRecordCodesRatesAndDecoding) {
  const SendCase cases[] = {
      {"roll 8", 0, 0, 8, 0, 0.5f, wire::kRoll, 1456, 0, 0,
       [](const VehicleRecordD& r) { return r.dRoll; }, 7.998},
      {"heading 30", 0, 0, 0, 30, 0.5f, wire::kHeading, -5461, 0, 0,
       [](const VehicleRecordD& r) { return r.dHeading; }, -29.998},
      {"500 feet east", 500, 0, 0, 0, 0.5f, wire::kLongitude, 23119, 0, 0,
       [](const VehicleRecordD& r) { return r.dEast; }, 499.98},
      {"250 feet north over 0.5 s", 0, 250, 0, 0, 0.5f, wire::kLatitude, 6728, 13456, 26912,
       [](const VehicleRecordD& r) { return r.dNorth; }, 249.97},
  };
  CMulticastTransport<VehicleRecordD>
      noGroups;  // never opened: SendPacket has no endpoint to send to
  for (const SendCase& c : cases) {
    SCOPED_TRACE(c.what);
    VehicleRecordD record = InitAtDroneStart();
    const std::int32_t before = GetImageInt32(record.PacketImage, c.field);
    record.dEast = c.east;
    record.dNorth = c.north;
    record.dAltitude = 15000.0;
    record.dRoll = c.roll;
    record.dHeading = c.heading;
    record.byState = 100;
    record.fSendInterval = c.interval;
    EXPECT_EQ(noGroups.SendRecord(&record), 0);
    EXPECT_EQ(GetImageInt32(record.PacketImage, c.field) - before, c.rise);
    EXPECT_EQ(GetImageFloat(record.PacketImage, wire::kLatitudeRate), c.rate);
    EXPECT_EQ(GetImageFloat(record.PacketImage, wire::kLatitudeAccel), c.accel);
    EXPECT_EQ(GetImageByte(record.PacketImage, wire::kState), 100);
    EXPECT_EQ(record.fSendInterval, c.interval);  // resetting it is the caller's business
    const VehicleRecordD back = DecodeAtSameOrigin(record);
    EXPECT_NEAR(c.decodedValue(back), c.expectedDecoded, 0.005);
    EXPECT_EQ(back.byState, 100);
    EXPECT_NEAR(back.dAltitude, 14999.99, 0.005);
  }
}

TEST(VehicleRecordD, FreshRecordLeavesTagAndReservedBytesZero) {
  VehicleRecordD record = InitAtDroneStart();
  record.fSendInterval = 0.032f;
  CMulticastTransport<VehicleRecordD> noGroups;
  ASSERT_EQ(noGroups.SendRecord(&record), 0);
  std::uint8_t packet[kPacketSize];
  ImageToWire(record.PacketImage, packet);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(packet[wire::kTag + i], 0) << i;
  for (int i : {0, 1, 2, 3, 168, 169}) EXPECT_EQ(packet[i], 0) << i;
  for (int i = wire::kReserved176; i < kPacketSize; ++i) EXPECT_EQ(packet[i], 0) << i;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(packet + wire::kName)), "707_Drone");
}

// Both records' transports in one program: for the same state, float-exact so that both records
// hold it alike, the two build the same image byte for byte, and each decodes the other's.
TEST(VehicleRecordD, BuildsTheImageOfVehicleRecord) {
  struct State {
    double east, north;
    float altitude, pitch, roll, heading, interval;
  };
  const State states[] = {
      {0, 0, 15000, 0, 0, 0, 0},
      {1000.5, -250.25, 1234.5f, 10, -8.25f, 90, 0.05f},
      {-3e6, 4e5, -40.75f, -45.5f, 179.5f, -179.5f, 0.5f},
  };
  multicast_test::ScopedCalendarTime second(1796963347);
  VehicleRecord single{};
  VehicleRecordD twin{};
  ASSERT_EQ(MulticastInitRecord(&single, "707_Drone", 1234, 3, &kLongitude, &kLatitude, &kAltitude),
            1);
  ASSERT_EQ(MulticastInitRecord(&twin, "707_Drone", 1234, 3, &kLongitude, &kLatitude, &kAltitude),
            1);
  EXPECT_EQ(std::memcmp(single.PacketImage, twin.PacketImage, kPacketSize), 0);
  CMulticastTransport<VehicleRecord> singleGroups;
  CMulticastTransport<VehicleRecordD> twinGroups;
  for (const State& s : states) {
    SCOPED_TRACE(s.east);
    single.dEast = twin.dEast = s.east;
    single.dNorth = twin.dNorth = s.north;
    single.fAltitude = s.altitude;
    twin.dAltitude = s.altitude;
    single.fPitch = s.pitch;
    twin.dPitch = s.pitch;
    single.fRoll = s.roll;
    twin.dRoll = s.roll;
    single.fHeading = s.heading;
    twin.dHeading = s.heading;
    single.fSendInterval = twin.fSendInterval = s.interval;
    ASSERT_EQ(singleGroups.SendRecord(&single), 0);
    ASSERT_EQ(twinGroups.SendRecord(&twin), 0);
    EXPECT_EQ(std::memcmp(single.PacketImage, twin.PacketImage, kPacketSize), 0);

    VehicleRecord singleBack = single;
    VehicleRecordD twinBack = twin;
    CMulticastTransport<VehicleRecord>::Decode(nullptr, &singleBack, twin.PacketImage);
    CMulticastTransport<VehicleRecordD>::Decode(nullptr, &twinBack, single.PacketImage);
    EXPECT_EQ(singleBack.dEast, twinBack.dEast);
    EXPECT_EQ(singleBack.dNorth, twinBack.dNorth);
    EXPECT_EQ(singleBack.fAltitude, static_cast<float>(twinBack.dAltitude));
    EXPECT_EQ(singleBack.fHeading, static_cast<float>(twinBack.dHeading));
  }
}

}  // namespace
