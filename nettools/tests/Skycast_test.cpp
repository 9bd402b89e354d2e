// The drones and netwatch against skycast, the MATLAB side of the group, loaded from its own
// library with its own transport: a drone's packet decodes in skycast, and a packet that
// skycast sends prints in netwatch.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "DroneFleet.h"
#include "NetWatch.h"
#include "Run.h"
#include "WatchLines.h"
#include "mexhost.h"
#include "multicast/MulticastTransport.h"
#include "testsupport/GroupPeer.h"
#include "testsupport/Tolerances.h"

namespace {

using namespace kyte::testsupport;

namespace mexhost = kyte::mexhost;

class WithSkycast : public ::testing::Test {
 protected:
  void SetUp() override {
    nettools::OpenGroup();
    // Connection 1 at the drones' start: skycast decodes what it receives relative to it.
    const auto opened = Call(1, 1, {3, -122.366, 37.613, 5000});
    ASSERT_TRUE(opened.ok) << opened.error;
  }
  void TearDown() override {
    Call(0, 4);
    MulticastClose<VehicleRecordD>();
  }

  // An operation that takes no argument.
  mexhost::CallResult Call(int nlhs, double operation) {
    const mexhost::ArrayPtr op = mexhost::Scalar(operation);
    return skycast_.Call(nlhs, {op.get()});
  }
  // Operation 1 or 2 on connection `id` with its vector.
  mexhost::CallResult Call(double operation, double id, std::initializer_list<double> vector) {
    const mexhost::ArrayPtr op = mexhost::Scalar(operation);
    const mexhost::ArrayPtr connection = mexhost::Scalar(id);
    const mexhost::ArrayPtr values = mexhost::Row(vector);
    return skycast_.Call(0, {op.get(), connection.get(), values.get()});
  }

  // skycast's next received vehicle (its 55 values), polling for at most two seconds.
  std::vector<double> Receive() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < until) {
      const auto received = Call(1, 3);
      EXPECT_TRUE(received.ok) << received.error;
      if (!received.ok) break;
      std::vector<double> column = mexhost::Values(received.outputs[0].get());
      if (!column.empty()) return column;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return {};
  }

 private:
  mexhost::MexLibrary skycast_{SKYCAST_LIBRARY};
};

TEST_F(WithSkycast, DronePacketsDecodeInSkycast) {
  dronefleet::drones = {};
  dronefleet::SetUp();
  drones::sendFlag = 1;
  dronefleet::FlyFormation(0.0);

  // The formation at heading 0 from the drones' start, in feet east, north and altitude.
  struct Expected {
    double east, north, altitude;
  };
  const Expected fleet[] = {{0, 0, 15000},           {99.03, 50, 14986.08},
                            {-99.03, 50, 15013.92},  {-99.03, -100, 15013.92},
                            {29.71, -150, 14993.04}, {-29.71, -150, 15006.96},
                            {99.03, -100, 14986.08}};
  for (const Expected& drone : fleet) {
    const std::vector<double> column = Receive();
    ASSERT_EQ(column.size(), 55u);
    SCOPED_TRACE(drone.east);
    EXPECT_EQ(column[11], 566565300.0);  // skycast's reference position
    EXPECT_EQ(column[12], 1254486825.0);
    EXPECT_NEAR(column[13], drone.east, kDecodedFeetTolerance);
    EXPECT_NEAR(column[14], drone.north, kDecodedFeetTolerance);
    EXPECT_NEAR(column[15], drone.altitude, kDecodedFeetTolerance);
    EXPECT_EQ(column[19], 0.0);             // pitch
    EXPECT_NEAR(column[20], 7.998, 0.001);  // roll 8, as 1456 angle codes
    EXPECT_EQ(column[21], 0.0);             // heading
    EXPECT_EQ(column[25], 100.0);           // state
  }
}

TEST_F(WithSkycast, SkycastPacketsPrintInNetwatch) {
  netwatch::receiver = {};
  netwatch::SetReferencePosition(netwatch::receiver);
  GroupPeer group;
  // 100 feet north, 5000 feet, roll -2, pitch 10, heading 90, state 7.
  const auto sent = Call(2, 1, {100, 0, 5000, -2, 10, 90, 0, 0, 0, 7});
  ASSERT_TRUE(sent.ok) << sent.error;
  const auto packet = group.Receive(1000);
  ASSERT_TRUE(packet);
  const std::string id = std::to_string(Int32At(*packet, 48));
  EXPECT_EQ(watchlines::PollLines(1),
            id + " " + id + "    0 1e+02 5000.0 10.0 -2.0 -90.0 airhost_01 none\n");
}

}  // namespace
