// netwatch's line for each packet, and its 100-second poll loop through an injected tick count.
#include "NetWatch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "DroneFleet.h"
#include "Run.h"
#include "WatchLines.h"
#include "clocks_test_hook.h"
#include "multicast/MulticastTransport.h"
#include "multicast/VehiclePacket.h"
#include "platform/sockets/sockets_test_hook.h"
#include "testsupport/CapturedOutput.h"
#include "testsupport/GroupPeer.h"

namespace {

using namespace kyte::testsupport;

using watchlines::PollLines;

class Watching : public ::testing::Test {
 protected:
  void SetUp() override {
    netwatch::receiver = {};
    netwatch::SetReferencePosition(netwatch::receiver);
    nettools::OpenGroup();
  }
  void TearDown() override { MulticastClose<VehicleRecordD>(); }
};

TEST_F(Watching, FleetPacketsPrintTheirIdentifiersNamesAndDecodedState) {
  dronefleet::drones = {};
  dronefleet::SetUp();
  drones::sendFlag = 1;
  dronefleet::FlyFormation(0.0);
  // The formation at heading 0, east and north relative to the drones' start.
  EXPECT_EQ(PollLines(7),
            "1234 1234    0    0 15000.0  0.0  8.0  0.0 707_Drone \n"
            "7125 7125 1e+02 5e+01 14986.1  0.0  8.0  0.0 F18_Drone \n"
            "5423 5423 -1e+02 5e+01 15013.9  0.0  8.0  0.0 F16_Drone \n"
            "9821 9821 -1e+02 -1e+02 15013.9  0.0  8.0  0.0 F15_Drone \n"
            "6243 6243 3e+01 -2e+02 14993.0  0.0  8.0  0.0 F22_Drone \n"
            "5678 5678 -3e+01 -2e+02 15006.9  0.0  8.0  0.0 F23_Drone \n"
            "3498 3498 1e+02 -1e+02 14986.1  0.0  8.0  0.0 F117_Drone \n");
}

// One significant digit: offsets of 9.5 feet and more print in exponent notation.
TEST(PrintVehicle, OffsetsKeepOneSignificantDigit) {
  struct Case {
    double offset;
    const char* printed;
  };
  const Case cases[] = {{0.0, "   0"},       {9.4, "   9"},      {9.5, "1e+01"},
                        {-9.5, "-1e+01"},    {-0.3, "-0.3"},     {99.03, "1e+02"},
                        {-150.03, "-2e+02"}, {12345.6, "1e+04"}, {-2.5e6, "-2e+06"}};
  VehicleRecordD record{};
  PutImageInt32(record.PacketImage, wire::kInstanceId, -17);
  PutImageInt32(record.PacketImage, wire::kVehicleId, 2147483647);
  std::memcpy(record.PacketImage + kImageName, "x", 2);
  std::memcpy(record.PacketImage + kImageTag, "tg\0\0", 4);
  record.dAltitude = -12.25;
  record.dPitch = 359.96;
  record.dRoll = -0.04;
  record.dHeading = 7;
  for (const Case& c : cases) {
    record.dEast = c.offset;
    record.dNorth = c.offset;
    int result = 0;
    const std::string line = CaptureStdout([&] { result = netwatch::PrintVehicle(&record); });
    EXPECT_EQ(line, std::string("-17 2147483647 ") + c.printed + " " + c.printed +
                        " -12.2 360.0 -0.0  7.0 x tg\n");
    EXPECT_EQ(result, static_cast<int>(line.size()));  // what the print returned
  }
}

// Whatever a sender puts in the name and tag, the line is one line without a control byte; a
// control byte shows as \xNN and every other byte, backslash included, as it is.
TEST(PrintVehicle, ControlBytesOfTheNameAndTagPrintAsEscapes) {
  std::string wholeName;
  for (int i = 0; i < 32; ++i) wholeName += "\\x1B";
  const struct {
    std::string name, tag;  // the fields' bytes; a field shorter than its size ends in NULs
    std::string printed;    // what follows the heading
  } cases[] = {
      {"\x1B[2J\x1B[H", "tg", "\\x1B[2J\\x1B[H tg"},
      {"ring\a", "\r\n", "ring\\x07 \\x0D\\x0A"},
      {"\x01\x1F\x20\x7E\x7F", "\x80\x9F\xA0\xFF", "\\x01\\x1F ~\\x7F \\x80\\x9F\xA0\xFF"},
      {"C:\\x41\\", "\t", "C:\\x41\\ \\x09"},
      {std::string(32, '\x1B'), "\x1B\x1B\x1B\x1B", wholeName + " \\x1B\\x1B\\x1B\\x1B"},  // no NUL
  };
  VehicleRecordD record{};
  for (const auto& c : cases) {
    std::memset(record.PacketImage + kImageName, 0, 32);
    std::memset(record.PacketImage + kImageTag, 0, 4);
    std::memcpy(record.PacketImage + kImageName, c.name.data(), c.name.size());
    std::memcpy(record.PacketImage + kImageTag, c.tag.data(), c.tag.size());
    int result = 0;
    const std::string line = CaptureStdout([&] { result = netwatch::PrintVehicle(&record); });
    EXPECT_EQ(line, "0 0    0    0  0.0  0.0  0.0  0.0 " + c.printed + "\n") << c.name;
    EXPECT_EQ(result, static_cast<int>(line.size()));
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
      const auto byte = static_cast<unsigned char>(line[i]);
      EXPECT_FALSE(byte < 0x20 || (byte >= 0x7F && byte <= 0x9F)) << c.name << " at " << i;
    }
  }
}

// A packet as skycast sends it, written byte by byte by an independent peer: tag "none".
Packet SkycastPacket(const std::string& name) {
  Packet packet(304, 0);
  std::memcpy(packet.data() + 4, name.data(), std::min<std::size_t>(name.size(), 32));
  std::memcpy(packet.data() + 36, "none", 4);
  PutInt32(packet, 48, 21987);               // instance id
  PutInt32(packet, 52, 7);                   // vehicle id
  PutInt32(packet, 100, 566565300);          // at the drones' start
  PutInt32(packet, 104, 1254486825 + 2691);  // 100 feet north
  PutInt32(packet, 108, 134576);             // 5000 feet
  PutInt32(packet, 136, 1820);               // pitch 10
  PutInt32(packet, 140, -364);               // roll -2
  PutInt32(packet, 144, -16383);             // heading 90, negated
  return packet;
}

TEST_F(Watching, PacketsFromOtherSendersPrintTheirTagAndWholeName) {
  GroupPeer group;
  group.Send(SkycastPacket("abc"));
  group.Send(SkycastPacket("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"));  // 32 characters, no NUL
  EXPECT_EQ(PollLines(2),
            "21987 7    0 1e+02 5000.0 10.0 -2.0 -90.0 abc none\n"
            "21987 7    0 1e+02 5000.0 10.0 -2.0 -90.0 ABCDEFGHIJKLMNOPQRSTUVWXYZ012345 none\n");
}

}  // namespace

namespace {

// A 100-second run over a tick count that advances 16 ms per reading, from just before the
// wrap: its exit status.
int WatchWithTicks(const std::function<void(int reading)>& onReading) {
  netwatch::receiver = {};
  netwatch::SetReferencePosition(netwatch::receiver);
  std::uint32_t now = 0xFFFFFF00u;
  int reading = 0;
  clocks_test::ClockHooks hooks;
  hooks.tickCount = [&] {
    onReading(reading++);
    return now += 16;
  };
  clocks_test::ScopedClocks scope(hooks);
  return netwatch::Watch();
}

Output WatchOverTicks(const std::function<void(int reading)>& onReading) {
  return Capture([&] { EXPECT_EQ(WatchWithTicks(onReading), 0); });
}

TEST(WatchLoop, QuietGroupPrintsOnlyTheFinalLine) {
  const Output run = WatchOverTicks([](int) {});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Finished:Total Time = 100.011673 \n");
}

// Without a group the loop still runs its 100 seconds, and prints no vehicle line.
TEST(WatchLoop, GroupThatCannotBeJoinedPrintsOnlyTheFinalLine) {
  GroupPeer group;
  sockets_test::ScopedFaults faults;
  faults.Fail(sockets_test::Call::kWSAJoinLeaf);
  const Output run = WatchOverTicks([&](int reading) {
    if (reading == 100) group.Send(SkycastPacket("abc"));
  });
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Finished:Total Time = 100.011673 \n");
  EXPECT_EQ(sockets_test::OpenSockets(), 0);
}

TEST(WatchLoop, PacketsArePrintedWhileTheLoopRuns) {
  GroupPeer group;
  const Output run = WatchOverTicks([&](int reading) {
    if (reading != 100 && reading != 6000) return;
    group.Send(SkycastPacket("abc"));
    ASSERT_TRUE(group.Receive(1000));  // delivered to every member of the group
  });
  const std::string line = "21987 7    0 1e+02 5000.0 10.0 -2.0 -90.0 abc none\n";
  EXPECT_EQ(run.out, line + line);
  EXPECT_EQ(run.err, "Finished:Total Time = 100.011673 \n");
}

// The first line that cannot be written ends the run at once: the group closed, one line naming
// the reason on standard error in place of the final line, and a failure status. The same for
// the final line itself.
TEST(WatchLoop, ALineThatCannotBeWrittenEndsTheRunAtOnce) {
  GroupPeer group;
  int last = 0;
  auto sendAt100 = [&](int reading) {
    last = reading;
    if (reading != 100 && reading != 200) return;
    group.Send(SkycastPacket("abc"));
    ASSERT_TRUE(group.Receive(1000));
  };
  int status = 0;
  std::string err;
  {
    const RedirectedOutput full(STDOUT_FILENO, "/dev/full");
    err = CaptureStderr([&] { status = WatchWithTicks(sendAt100); });
  }
  EXPECT_EQ(status, nettools::kOutputFailed);
  EXPECT_EQ(err, "netwatch: cannot write standard output: No space left on device\n");
  EXPECT_EQ(last, 100);  // no reading after the poll that failed
  EXPECT_EQ(sockets_test::OpenSockets(), 0);

  // Every vehicle line written, then the final line that cannot be.
  std::string out;
  {
    const RedirectedOutput full(STDERR_FILENO, "/dev/full");
    out = CaptureStdout([&] { status = WatchWithTicks(sendAt100); });
  }
  EXPECT_EQ(status, nettools::kOutputFailed);
  const std::string line = "21987 7    0 1e+02 5000.0 10.0 -2.0 -90.0 abc none\n";
  EXPECT_EQ(out, line + line);
  EXPECT_EQ(sockets_test::OpenSockets(), 0);
}

}  // namespace
