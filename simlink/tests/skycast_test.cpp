// skycast in the in-process host: the operations' paths under the sanitizers and the transport
// failures that a real host cannot provoke (the Octave run covers every message in Octave).

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "mexhost.h"
#include "platform/sockets/sockets_test_hook.h"
#include "testsupport/GroupPeer.h"
#include "testsupport/Tolerances.h"

namespace {

using namespace kyte::testsupport;

namespace mexhost = kyte::mexhost;

class Skycast : public ::testing::Test {
 protected:
  void SetUp() override {
    // Start from the load state whatever an earlier test left.
    Call(0, {Scalar(3)});
    Call(0, {Scalar(4)});
  }
  void TearDown() override {
    Call(0, {Scalar(3)});
    Call(0, {Scalar(4)});
  }

  const mxArray* Scalar(double value) { return Keep(mexhost::Scalar(value)); }
  const mxArray* Row(std::initializer_list<double> values) { return Keep(mexhost::Row(values)); }
  const mxArray* Keep(mexhost::ArrayPtr array) {
    kept_.push_back(std::move(array));
    return kept_.back().get();
  }
  mexhost::CallResult Call(int nlhs, std::initializer_list<const mxArray*> inputs) {
    return skycast_.Call(nlhs, inputs);
  }

  mexhost::MexLibrary skycast_{SKYCAST_LIBRARY};
  GroupPeer peer_;
  std::vector<mexhost::ArrayPtr> kept_;
};

TEST_F(Skycast, SendsAndReceivesThroughTheGroup) {
  ASSERT_TRUE(Call(0, {Scalar(1), Scalar(7), Row({3, -100, 40})}).ok);
  ASSERT_TRUE(
      Call(0, {Scalar(2), Scalar(7.9), Row({100, 0, 6000, -5, 10, 90, 1, 2, 3, 126.9})}).ok);
  auto packet = peer_.ReceivePacket();
  ASSERT_TRUE(packet);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&(*packet)[4])), "airhost_01");
  EXPECT_EQ(Int32At(*packet, 76), 3);
  EXPECT_EQ((*packet)[80], 126);
  EXPECT_EQ(Int32At(*packet, 104), 1277952000 + 2691);  // latitude 40, 100 ft north
  EXPECT_EQ(Int32At(*packet, 144), -16383);

  // The transport's own socket has received that packet too: it comes back decoded against
  // connection 7's reference position, then the queue is empty.
  auto first = Call(1, {Scalar(3)});
  ASSERT_TRUE(first.ok) << first.error;
  const auto column = mexhost::Values(first.outputs[0].get());
  ASSERT_EQ(column.size(), 55u);
  EXPECT_EQ(column[12], 1277952000.0);
  EXPECT_NEAR(column[14], 100.0, kDecodedFeetTolerance);
  EXPECT_EQ(column[15], static_cast<double>(static_cast<float>(161491 * 0.03715370639029097)));
  EXPECT_NEAR(column[21], -89.9945, 1e-4);
  EXPECT_EQ(column[25], 126.0);
  for (std::size_t i = 28; i < 55; ++i) EXPECT_EQ(column[i], 0.0) << "element " << i + 1;
  auto second = Call(0, {Scalar(3)});
  ASSERT_TRUE(second.ok);
  EXPECT_EQ(mxGetM(second.outputs[0].get()), 0u);
  EXPECT_EQ(mxGetN(second.outputs[0].get()), 1u);
}

TEST_F(Skycast, RefusesInputsThatAreNotRealDoubles) {
  const double re[] = {3}, im[] = {2};
  const double values[] = {1, 2};
  const struct {
    mexhost::ArrayPtr input;
    int iMode;
  } cases[] = {
      {mexhost::Complex(1, 1, re, im), 1},
      {mexhost::Numeric(mxSINGLE_CLASS, 1, 2, values), 2},
      {mexhost::Numeric(mxINT32_CLASS, 1, 1, values), 1},
      {mexhost::Char("ab"), 2},
  };
  ASSERT_TRUE(Call(0, {Scalar(1), Scalar(7), Scalar(3)}).ok);
  for (const auto& c : cases) {
    auto result = Call(0, {Scalar(c.iMode), Scalar(7), c.input.get()});
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "skycast:: Input vector must be full, real and of class double.\n");
  }
  // Ids and modes of any value are truncated without undefined behaviour.
  auto nan = Call(0, {Scalar(2), Scalar(NAN), Scalar(1)});
  EXPECT_EQ(nan.error, "skycast:: Unable to   find connection #-2147483648");
  auto huge = Call(0, {Scalar(1e300)});
  EXPECT_EQ(huge.error,
            "skycast:: Wrong number of inputs encoutered for the skycast MEX function mode "
            "selected: Mode Selected = -2147483648 Number of Inputs = 1 \n Please see the file "
            "'ReadMe.txt' for more information.\n");
}

TEST_F(Skycast, TransportFailuresAreReportedAndLeaveTheConnection) {
  {
    sockets_test::ScopedFaults faults;
    faults.Fail(sockets_test::Call::kBind, WSAEADDRINUSE, 0, 2);
    auto open = Call(0, {Scalar(1), Scalar(4), Scalar(1)});
    EXPECT_EQ(open.error, "skycast:: Error encountered while opening the connection.\n");
    auto transport = Call(0, {Scalar(5)});
    EXPECT_EQ(transport.error, "skycast:: Error encountered while opening the connection.\n");
  }
  {
    sockets_test::ScopedFaults faults;
    faults.Fail(sockets_test::Call::kSendto);
    auto send = Call(0, {Scalar(2), Scalar(4), Scalar(0)});  // connection 4 is still there
    EXPECT_EQ(send.error, "skycast:: Error encountered while sending data.\n");
  }
  EXPECT_TRUE(Call(0, {Scalar(2), Scalar(4), Scalar(0)}).ok);
  EXPECT_TRUE(peer_.ReceivePacket());
}

}  // namespace
