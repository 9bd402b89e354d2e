// A datagram from anyone on the group, as netwatch receives it: sent to the group by a plain
// socket, taken by the transport's poll (cut or padded to a packet), decoded into netwatch's
// record and printed as netwatch's line.
#include <chrono>
#include <cstdint>
#include <string>

#include "FuzzTarget.h"
#include "NetWatch.h"
#include "Run.h"
#include "multicast/MulticastTransport.h"
#include "testsupport/GroupPeer.h"

namespace {

// Longer than a packet, so that the transport's cut of a long datagram is reached too.
constexpr std::size_t kLongestDatagram = kPacketSize + 64;

int received = 0;

int CountAndPrint(VehicleRecordD* record) {
  ++received;
  return netwatch::PrintVehicle(record);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  netwatch::SetReferencePosition(netwatch::receiver);
  nettools::OpenGroup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kyte::testsupport::GroupPeer sender;
  const std::size_t length = size < kLongestDatagram ? size : kLongestDatagram;
  sender.Send(kyte::testsupport::Packet(data, data + length));
  // Loopback hands the datagram over within the send; the wait only covers a slow machine.
  received = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (received == 0 && std::chrono::steady_clock::now() < until)
    MulticastPoll(CountAndPrint, &netwatch::receiver);
  if (received != 1)
    kyte::fuzz::Abort("one datagram sent, " + std::to_string(received) + " printed");
  return 0;
}
