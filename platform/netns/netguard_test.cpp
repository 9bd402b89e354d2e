#include "netguard.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

// The harness itself: inside run-in-netns only loopback is up, and the multicast route is on lo.
TEST(NetGuard, OnlyLoopbackInsideTheNamespace) {
  EXPECT_EQ(netns::FirstNonLoopbackInterfaceUp(), "");
  EXPECT_TRUE(netns::InPrivateNetworkNamespace());
}

TEST(NetGuard, MulticastRouteGoesToLoopback) {
  ASSERT_EQ(std::system("ip route get 224.0.5.20 | grep -q 'dev lo'"), 0);
}
