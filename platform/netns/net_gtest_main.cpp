// main() for tests that send or receive: refuses to start outside a loopback-only namespace.
#include <gtest/gtest.h>

#include "netguard.h"

int main(int argc, char** argv) {
  netns::RequireLoopbackOnly(argc > 0 ? argv[0] : "test");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
