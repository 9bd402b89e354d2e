// skycast's send operation through the in-process MEX host against a raw sendto of one 304-byte
// datagram to the group, in the same run. Run it inside the loopback-only namespace:
//   platform/netns/run-in-netns build/bench/skycast_bench
// Target: the send operation within 2 times the raw send.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "mexhost.h"
#include "netguard.h"

namespace {

namespace mexhost = kyte::mexhost;

std::unique_ptr<mexhost::MexLibrary> skycast;

void RawSendto(benchmark::State& state) {
  const int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in group{};
  group.sin_family = AF_INET;
  group.sin_port = htons(2267);
  group.sin_addr.s_addr = inet_addr("224.0.5.20");
  std::array<unsigned char, 304> packet{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(sendto(fd, packet.data(), packet.size(), 0,
                                    reinterpret_cast<sockaddr*>(&group), sizeof group));
  }
  close(fd);
}
BENCHMARK(RawSendto);

void SkycastSend(benchmark::State& state) {
  const auto two = mexhost::Scalar(2);
  const auto id = mexhost::Scalar(1);
  const auto vector = mexhost::Row({100, 200, 6000, 10, 5, 90, 1, 2, 3, 126});
  for (auto _ : state) {
    const auto result = skycast->Call(0, {two.get(), id.get(), vector.get()});
    if (!result.ok) state.SkipWithError(result.error.c_str());
  }
}
BENCHMARK(SkycastSend);

// Prints the ratio of each benchmark's time to the raw send's once all have run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (times_.count("RawSendto") && times_.count("SkycastSend")) {
      std::printf("SkycastSend / RawSendto = %.2f (target: at most 2)\n",
                  times_["SkycastSend"] / times_["RawSendto"]);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  netns::RequireLoopbackOnly(argv[0]);
  benchmark::Initialize(&argc, argv);
  skycast = std::make_unique<mexhost::MexLibrary>(SKYCAST_LIBRARY);
  // Both benchmarks send to the same members: skycast's own joined socket stays open.
  const auto one = mexhost::Scalar(1);
  const auto craft = mexhost::Scalar(3);
  if (!skycast->Call(0, {one.get(), one.get(), craft.get()}).ok) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto four = mexhost::Scalar(4);
  skycast->Call(0, {four.get()});
  skycast.reset();
  benchmark::Shutdown();
  return 0;
}
