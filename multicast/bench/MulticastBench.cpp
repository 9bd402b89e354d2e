// Encode and decode of one record, and the transport's send plus poll on loopback against a
// raw sendto/recvfrom pair in the same run. Run inside the loopback-only namespace:
//   platform/netns/run-in-netns build/bench/MulticastBench
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "multicast/VehicleRecord.h"
#include "netguard.h"

namespace {

constexpr int kBatch = 32;  // datagrams per round trip, well inside the receive buffer
const char* const kGroup = "224.0.5.20";
constexpr std::uint16_t kPort = 2267;

VehicleRecord MakeRecord() {
  VehicleRecord record{};
  const float lon = -122.0634f, lat = 37.981523f, alt = 5000.0f;
  MulticastInitRecord(&record, "bench", 1, 2, &lon, &lat, &alt);
  record.dEast = 1000;
  record.dNorth = 250;
  record.fHeading = 90;
  record.fSendInterval = 0.05f;
  return record;
}

bool OpenGroup(benchmark::State& state) {
  char address[] = "224.0.5.20:2267";
  char* addresses[] = {address};
  if (MulticastOpen<VehicleRecord>(1, addresses) == 0) return true;
  state.SkipWithError("MulticastOpen failed");
  return false;
}

int g_received = 0;
int Count(VehicleRecord*) {
  ++g_received;
  return 0;
}

void BM_Encode(benchmark::State& state) {
  VehicleRecord record = MakeRecord();
  std::uint8_t wire[kPacketSize];
  for (auto _ : state) {
    record.dEast += 1.0;
    EncodeImage(record.PacketImage, record.dOriginLongitude, record.dOriginLatitude,
                VehicleState{record.dEast, record.dNorth, record.fAltitude, record.fPitch,
                             record.fRoll, record.fHeading, record.byState},
                record.fSendInterval);
    ImageToWire(record.PacketImage, wire);
    benchmark::DoNotOptimize(wire);
  }
}
BENCHMARK(BM_Encode);

void BM_Decode(benchmark::State& state) {
  VehicleRecord record = MakeRecord();
  std::uint8_t wire[kPacketSize];
  std::uint8_t image[kPacketSize];
  ImageToWire(record.PacketImage, wire);
  VehicleRecord receiver = record;
  for (auto _ : state) {
    WireToImage(wire, image);
    CMulticastTransport<VehicleRecord>::Decode(Count, &receiver, image);
    benchmark::DoNotOptimize(receiver);
  }
}
BENCHMARK(BM_Decode);

void BM_TransportSendPoll(benchmark::State& state) {
  if (!OpenGroup(state)) return;
  VehicleRecord record = MakeRecord();
  VehicleRecord receiver = record;
  for (auto _ : state) {
    g_received = 0;
    for (int i = 0; i < kBatch; ++i) MulticastSendRecord(&record);
    while (g_received < kBatch) MulticastPoll(Count, &receiver);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  MulticastClose<VehicleRecord>();
}
BENCHMARK(BM_TransportSendPoll);

void BM_RawSendRecv(benchmark::State& state) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(kPort);
  ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
  ip_mreq request{};
  inet_pton(AF_INET, kGroup, &request.imr_multiaddr);
  ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request);
  sockaddr_in group = local;
  group.sin_addr = request.imr_multiaddr;
  std::uint8_t packet[kPacketSize] = {};
  std::uint8_t buffer[kPacketSize];
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      ::sendto(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&group), sizeof group);
    }
    int received = 0;
    while (received < kBatch) {
      sockaddr_in from{};
      socklen_t fromLength = sizeof from;
      if (::recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                     &fromLength) > 0) {
        ++received;
      }
    }
    benchmark::DoNotOptimize(buffer);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  ::close(fd);
}
BENCHMARK(BM_RawSendRecv);

// One poll draining datagrams that are already waiting; the sends are not timed.
void BM_PollDrain(benchmark::State& state) {
  if (!OpenGroup(state)) return;
  VehicleRecord record = MakeRecord();
  VehicleRecord receiver = record;
  std::int64_t polled = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < kBatch; ++i) MulticastSendRecord(&record);
    usleep(200);
    g_received = 0;
    state.ResumeTiming();
    MulticastPoll(Count, &receiver);
    polled += g_received;
  }
  state.SetItemsProcessed(polled);
  MulticastClose<VehicleRecord>();
}
BENCHMARK(BM_PollDrain);

// Keeps each benchmark's items per second for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto it = run.counters.find("items_per_second");
      if (it != run.counters.end()) rates[run.benchmark_name()] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  netns::RequireLoopbackOnly(argc > 0 ? argv[0] : "MulticastBench");
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double transport = reporter.rates["BM_TransportSendPoll"];
  const double raw = reporter.rates["BM_RawSendRecv"];
  const double drain = reporter.rates["BM_PollDrain"];
  if (transport > 0 && raw > 0) {
    std::printf("send+poll time, transport / raw pair: %.2f (target at most 1.5)\n",
                raw / transport);
  }
  if (drain > 0) {
    std::printf("one poll drains %.0f packets per second (target at least 100000)\n", drain);
  }
  return 0;
}
