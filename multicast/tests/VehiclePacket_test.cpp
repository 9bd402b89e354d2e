#include "multicast/VehiclePacket.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "multicast/MulticastTransport_test_hook.h"
#include "multicast/VehicleRecord.h"
#include "support/CLibraryRandom.h"
#include "testsupport/GroupPeer.h"

namespace {

using namespace kyte::testsupport;

// A transport that is never opened: SendRecord encodes and sends nowhere.
int Encode(VehicleRecord& record) {
  CMulticastTransport<VehicleRecord> transport;
  return transport.SendRecord(&record);
}

std::vector<std::uint8_t> Wire(const VehicleRecord& record) {
  std::vector<std::uint8_t> bytes(kPacketSize);
  ImageToWire(record.PacketImage, bytes.data());
  return bytes;
}

struct Case {
  const char* what;
  float longitude, latitude, altitude;
  std::string name;
  const char* tag;  // copied into the image's tag place when set
  double east, north;
  float pitch, heading, interval;
  // Expected.
  double originLongitude, originLatitude;               // NaN: not checked
  std::vector<std::pair<int, std::int64_t>> wireInt32;  // wire offset, big-endian int32
  std::vector<std::pair<int, float>> wireFloat;         // wire offset, big-endian float
  std::vector<std::pair<int, std::string>> wireBytes;   // wire offset, exact bytes
  double decodedEast, decodedNorth, decodedAltitude, decodedPitch, decodedHeading;  // NaN: skip
  double tolerance;
};

constexpr double kSkip = std::numeric_limits<double>::quiet_NaN();

TEST(VehiclePacket, EncodesAndDecodesTheDocumentedNumbers) {
  const Case cases[] = {
      {"reference position",
       -122.0634f,
       37.981523f,
       5000.0f,
       "v",
       nullptr,
       0,
       0,
       0,
       0,
       0,
       569539950,
       1258109550,
       {{wire::kAltitude, 134576}, {wire::kLongitude, 569539950}, {wire::kLatitude, 1258109550}},
       {},
       {},
       0.0,
       0.0,
       4999.997,
       kSkip,
       kSkip,
       0.0005},
      {"1000 ft east at T 0.5",
       -122.0634f,
       37.981523f,
       5000.0f,
       "v",
       nullptr,
       1000,
       0,
       0,
       0,
       0.5f,
       kSkip,
       kSkip,
       {{wire::kLongitude, 569539950 + 46567}},
       {{wire::kLongitudeRate, 93134.0f},
        {wire::kLongitudeAccel, 186268.0f},
        {wire::kLatitudeRate, 0.0f}},
       {},
       999.99,
       0.0,
       kSkip,
       kSkip,
       kSkip,
       0.005},
      {"heading 90, pitch 10",
       -122.0634f,
       37.981523f,
       5000.0f,
       "v",
       nullptr,
       0,
       0,
       10,
       90,
       0,
       kSkip,
       kSkip,
       {{wire::kHeading, -16383}, {wire::kPitch, 1820}},
       {},
       {},
       kSkip,
       kSkip,
       kSkip,
       9.99756,
       -89.9945,
       0.00005},
      {"longitude 100",
       100.0f,
       0.0f,
       0.0f,
       "v",
       nullptr,
       0,
       0,
       0,
       0,
       0,
       -1542455296,
       kSkip,
       {{wire::kLongitude, -1542455296}},
       {},
       {{wire::kLongitude, "\xA4\x10\x00\x00"}},
       0.0,
       kSkip,
       kSkip,
       kSkip,
       kSkip,
       0.0},
      {"interval 0 sends no rates",
       -122.0634f,
       37.981523f,
       5000.0f,
       "v",
       nullptr,
       500,
       300,
       5,
       45,
       0,
       kSkip,
       kSkip,
       {},
       {{wire::kLongitudeRate, 0},
        {wire::kLatitudeRate, 0},
        {wire::kAltitudeRate, 0},
        {wire::kLongitudeAccel, 0},
        {wire::kLatitudeAccel, 0},
        {wire::kAltitudeAccel, 0},
        {wire::kPitchRate, 0},
        {wire::kRollRate, 0},
        {wire::kHeadingRate, 0}},
       {},
       kSkip,
       kSkip,
       kSkip,
       kSkip,
       kSkip,
       0.0},
      {"name abc, tag none",
       0,
       0,
       0,
       "abc",
       "none",
       0,
       0,
       0,
       0,
       0,
       kSkip,
       kSkip,
       {{wire::kFixed56, -1},
        {wire::kFixed88, 0x7FFE07FF},
        {wire::kVehicleId, 77},
        {wire::kCraftType, 12}},
       {},
       {{wire::kName, std::string("abc") + std::string(29, '\0')},
        {wire::kTag, "none"},
        {wire::kReserved40, "baenon"},
        {wire::kFixed46, std::string("\x00\x14", 2)},
        {wire::kState, "\x7F"}},
       kSkip,
       kSkip,
       kSkip,
       kSkip,
       kSkip,
       0.0},
      {"40-character name",
       0,
       0,
       0,
       std::string("0123456789abcdefghijklmnopqrstuvwxyzABCD"),
       nullptr,
       0,
       0,
       0,
       0,
       0,
       kSkip,
       kSkip,
       {},
       {},
       {{wire::kName, std::string("0123456789abcdefghijklmnopqrstu") + std::string(1, '\0')}},
       kSkip,
       kSkip,
       kSkip,
       kSkip,
       kSkip,
       0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VehicleRecord record{};
    ASSERT_EQ(MulticastInitRecord(&record, c.name.c_str(), 77, 12, &c.longitude, &c.latitude,
                                  &c.altitude),
              1);
    if (c.tag) std::memcpy(record.PacketImage + kImageTag, c.tag, 4);
    if (!std::isnan(c.originLongitude)) {
      EXPECT_EQ(record.dOriginLongitude, c.originLongitude);
    }
    if (!std::isnan(c.originLatitude)) {
      EXPECT_EQ(record.dOriginLatitude, c.originLatitude);
    }
    record.dEast = c.east;
    record.dNorth = c.north;
    record.fPitch = c.pitch;
    record.fHeading = c.heading;
    record.fSendInterval = c.interval;
    ASSERT_EQ(Encode(record), 0);
    const std::vector<std::uint8_t> wire = Wire(record);
    for (const auto& [offset, value] : c.wireInt32) {
      EXPECT_EQ(Int32At(wire, offset), value) << "wire offset " << offset;
    }
    for (const auto& [offset, value] : c.wireFloat) {
      EXPECT_EQ(FloatAt(wire, offset), value) << "wire offset " << offset;
    }
    for (const auto& [offset, bytes] : c.wireBytes) {
      EXPECT_EQ(std::string(wire.begin() + offset, wire.begin() + offset + bytes.size()), bytes)
          << "wire offset " << offset;
    }

    // Back through the wire into a record with the same origins.
    std::uint8_t image[kPacketSize];
    WireToImage(wire.data(), image);
    VehicleRecord received{};
    received.dOriginLongitude = record.dOriginLongitude;
    received.dOriginLatitude = record.dOriginLatitude;
    static VehicleRecord* seen;
    seen = nullptr;
    CMulticastTransport<VehicleRecord>::Decode(
        [](VehicleRecord* p) {
          seen = p;
          return 5;
        },
        &received, image);
    EXPECT_EQ(seen, &received);
    const auto near = [&](double actual, double expected, const char* field) {
      if (!std::isnan(expected)) {
        EXPECT_NEAR(actual, expected, c.tolerance) << field;
      }
    };
    near(received.dEast, c.decodedEast, "east");
    near(received.dNorth, c.decodedNorth, "north");
    near(received.fAltitude, c.decodedAltitude, "altitude");
    near(received.fPitch, c.decodedPitch, "pitch");
    near(received.fHeading, c.decodedHeading, "heading");
    EXPECT_EQ(received.byState, record.byState);
    // Every field but the name's shadow bytes comes back as the sender's image held it.
    EXPECT_EQ(std::memcmp(image, record.PacketImage, 294), 0);
    EXPECT_EQ(std::memcmp(image + 300, record.PacketImage + 300, 4), 0);
  }
}

TEST(VehiclePacket, RatesDifferenceAgainstThePreviousPacket) {
  VehicleRecord record{};
  const float lon = -122.0634f, lat = 37.981523f, alt = 5000.0f;
  MulticastInitRecord(&record, "r", 1, 1, &lon, &lat, &alt);
  record.dNorth = 250;
  record.fSendInterval = 0.5f;
  Encode(record);
  const std::int32_t lat1 = GetImageInt32(record.PacketImage, wire::kLatitude);
  EXPECT_EQ(lat1 - 1258109550, 6728);
  EXPECT_EQ(GetImageFloat(record.PacketImage, wire::kLatitudeRate), 13456.0f);
  EXPECT_EQ(GetImageFloat(record.PacketImage, wire::kLatitudeAccel), 26912.0f);
  // Same place again: rate back to 0, its change -13456 / 0.5.
  Encode(record);
  EXPECT_EQ(GetImageFloat(record.PacketImage, wire::kLatitudeRate), 0.0f);
  EXPECT_EQ(GetImageFloat(record.PacketImage, wire::kLatitudeAccel), -26912.0f);
  // A NaN interval counts as no interval.
  record.fSendInterval = std::numeric_limits<float>::quiet_NaN();
  record.dNorth = 0;
  Encode(record);
  EXPECT_EQ(GetImageFloat(record.PacketImage, wire::kLatitudeRate), 0.0f);
}

TEST(VehiclePacket, CodesOfAnyValueAreDefined) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    std::int32_t code;
  } cases[] = {
      {2752512000.0, -1542455296},  // above 2^31: low 32 bits
      {-0.999, 0},                  // toward zero
      {-1.5, -1},
      {4294967296.0 * 3 + 7.9, 7},  // beyond 32 bits
      {std::numeric_limits<double>::quiet_NaN(), 0},
      {inf, 0},
      {-inf, 0},
      {1e30, 0},                       // beyond 64 bits
      {-9223372036854775808.0, 0},     // -2^63: low 32 bits 0
      {9223372036854774784.0, -1024},  // 2^63 - 1024, the largest double below 2^63
  };
  for (const auto& c : cases) EXPECT_EQ(MakeCode(c.value), c.code) << c.value;
}

// The south pole's latitude code gives a longitude factor of exactly 0, where every east offset
// lands on the origin's longitude; the north pole's rounds to a factor just above 0, where an
// offset moves the code (cut to 32 bits). The rates stay finite at both.
TEST(VehiclePacket, AtThePolesTheEastOffsetIsDefined) {
  const struct {
    float lat;
    bool factorZero;
  } poles[] = {{-90.0f, true}, {90.0f, false}};
  for (const auto& pole : poles) {
    SCOPED_TRACE(pole.lat);
    VehicleRecord record{};
    const float lon = 10.0f, alt = 0.0f;
    MulticastInitRecord(&record, "pole", 1, 1, &lon, &pole.lat, &alt);
    for (double east : {0.0, 1000.0, -1e9}) {
      record.dEast = east;
      record.fSendInterval = 0.05f;
      Encode(record);
      const std::int32_t code = GetImageInt32(record.PacketImage, wire::kLongitude);
      const double factor = LongitudeFactor(GetImageInt32(record.PacketImage, wire::kLatitude));
      EXPECT_EQ(factor == 0.0, pole.factorZero) << factor;
      EXPECT_LT(factor, 1e-9);
      EXPECT_EQ(code == static_cast<std::int32_t>(record.dOriginLongitude),
                pole.factorZero || east == 0.0)
          << east;
      EXPECT_TRUE(std::isfinite(GetImageFloat(record.PacketImage, wire::kLongitudeRate)));
    }
  }
  EXPECT_EQ(LongitudeFactor(0), 0.0);  // latitude -90
}

TEST(VehiclePacket, InitRecordLeavesTheUnsetPlacesAlone) {
  VehicleRecord record{};
  std::memset(record.PacketImage, 0xEE, kPacketSize);
  const float lon = 1.0f, lat = 2.0f, alt = 3.0f;
  MulticastInitRecord(&record, "x", 1, 2, &lon, &lat, &alt);
  const std::vector<std::uint8_t> wire = Wire(record);
  for (int w : {0, 1, 2, 3, 168, 169}) EXPECT_EQ(wire[w], 0xEE) << w;
  for (int w = 176; w < kPacketSize; ++w) EXPECT_EQ(wire[w], 0xEE) << w;
  EXPECT_EQ(std::string(wire.begin() + wire::kTag, wire.begin() + wire::kTag + 4),
            std::string(4, '\xEE'));
  EXPECT_EQ(GetImageInt32(record.PacketImage, wire::kInstanceId), record.iRandomId);
  EXPECT_EQ(record.byState, 127);
}

TEST(VehiclePacket, RandomIdIsTheFirstDrawAfterSeedingWithTheTime) {
  // The C library's generator seeded with the time.
  const auto firstDraw = [](std::time_t seconds) {
    return CLibraryRandom(static_cast<std::uint32_t>(seconds)).Next();
  };
  const std::time_t before = std::time(nullptr);
  const std::int32_t id = CMulticastTransport<VehicleRecord>::MakeRandomId();
  const std::time_t after = std::time(nullptr);
  EXPECT_TRUE(id == firstDraw(before) || id == firstDraw(after)) << id;
}

TEST(VehiclePacket, RandomIdsOfChosenTimes) {
  const struct {
    std::time_t seconds;
    std::int32_t id;
  } cases[] = {
      {0, 38},
      {1, 41},
      {1796963347, 2},   // top bit of the state set: a mask of 0xFFFF would give 32770
      {2147483647, 35},  // ... and 32803 here
      {(std::time_t{1} << 32) + 1, 41},  // only the time's low 32 bits seed the generator
  };
  for (const auto& c : cases) {
    multicast_test::ScopedCalendarTime at(c.seconds);
    EXPECT_EQ(CMulticastTransport<VehicleRecord>::MakeRandomId(), c.id) << c.seconds;
  }
}

}  // namespace
