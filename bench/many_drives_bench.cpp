// Eight drives of a modelled machine given the extended test at once, through the bench
// engine palvoro-cli and the Bench window run on: when the last of them has ended, on the
// machine's clock, against the longest of the same tests run alone. The drives are of four
// kinds (SATA SSDs, rotating SATA disks behind their own links, NVMe drives, USB drives
// with a slow bridge), each with its own queue, so the figure says whether the engine lets
// drives work side by side or makes them wait on one another: drives taken one after
// another would take the sum of their times, here more than twice the longest. Prints the
// figures and the wall time this computer took, and fails when the bench takes more than a
// quarter longer than its longest drive (a drive's time begins when it is first used, and
// the threads reach their drives a moment apart).

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/startup.h"
#include "bench_support.h"
#include "discovery/detection.h"
#include "platform/sim/sim_platform.h"
#include "service/bench.h"

using namespace palvoro;

namespace {

constexpr uint64_t kGiBSectors = 2'097'152;

struct Kind {
  const char* transport;
  const char* model;
  uint64_t gib;
  uint32_t depth;
  uint32_t requestMicroseconds;
  uint32_t megabytesPerSecond;
  bool rotational;
};

// Two of each kind: small enough that the whole benchmark reads 200 GiB of simulated
// media in a few seconds of this computer's time.
constexpr Kind kKinds[] = {
    {"ata", "BENCH SATA SSD", 8, 32, 80, 550, false},
    {"ata", "BENCH SATA HDD", 6, 1, 8000, 250, true},
    {"nvme", "BENCH NVME", 16, 32, 20, 3000, false},
    {"usb-sat", "BENCH USB", 4, 1, 300, 400, false},
};

std::string machineDescription() {
  std::string drives;
  for (int i = 0; i < 8; ++i) {
    const Kind& k = kKinds[i % 4];
    char drive[512];
    std::snprintf(drive, sizeof drive,
                  R"({"number": %d, "transport": "%s", "identity": {"model": "%s %d", "serial": "BENCH%04d",
                  "firmware": "B1", "sectors": %llu}, "queue": {"depth": %u, "maxTransferKiB": 1024,
                  "requestMicroseconds": %u, "megabytesPerSecond": %u, "rotational": %s}})",
                  i, k.transport, k.model, i, i, static_cast<unsigned long long>(k.gib * kGiBSectors), k.depth,
                  k.requestMicroseconds, k.megabytesPerSecond, k.rotational ? "true" : "false");
    drives += (i == 0 ? "" : ",\n") + std::string(drive);
  }
  return R"({"name": "bench of eight", "drives": [)" + drives + "]}";
}

struct Timing {
  uint64_t simulatedMicroseconds = 0;
  double wallSeconds = 0;
  bool allPassed = true;
};

// The extended test on the drives at `indexes` of a fresh machine, all at once.
Timing runTogether(const std::vector<int>& indexes) {
  sim::SimPlatform platform(sim::loadMachine(machineDescription()));
  platform.setLogging(false);
  bench::FixedPrompter prompter(PromptAnswer::No);
  AppContext context(platform, prompter);
  runStartupChecks(context);
  detectDrives(context.probeEnvironment(), context.driveTable());
  std::vector<std::unique_ptr<BenchDrive>> drives;
  const auto now = [] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  };
  for (const int index : indexes) {
    RunRequest request;
    request.driveIndex = index;
    request.identity = driveInstanceAt(platform, context.driveTable().records[index].physicalDriveNumber);
    request.kind = kTestKindExtended;
    drives.push_back(std::make_unique<BenchDrive>(request, 512, now, BenchAnswers{}, nullptr));
  }
  context.makeRoomForRuns(drives.size());
  SystemTestClock clock;
  RunService service(context, clock);
  std::atomic<bool> stop{false};
  const uint64_t began = platform.monotonicMicroseconds();
  const auto wallBegan = std::chrono::steady_clock::now();
  runBench(service, drives, clock, std::chrono::milliseconds(20), stop, {});
  Timing timing;
  timing.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBegan).count();
  timing.simulatedMicroseconds = platform.monotonicMicroseconds() - began;
  for (const auto& drive : drives) timing.allPassed = timing.allPassed && drive->outcome.state == kTestStatePass;
  return timing;
}

}  // namespace

int main() {
  std::printf("the extended test on eight modelled drives (machine's clock; this computer's wall time beside it)\n");
  std::printf("  drive  kind              alone s   wall s\n");
  uint64_t longest = 0;
  bool ok = true;
  for (int i = 0; i < 8; ++i) {
    const Timing alone = runTogether({i});
    longest = std::max(longest, alone.simulatedMicroseconds);
    ok = ok && alone.allPassed;
    std::printf("  %5d  %-16s %8.2f %8.2f%s\n", i + 1, kKinds[i % 4].model, alone.simulatedMicroseconds / 1e6,
                alone.wallSeconds, alone.allPassed ? "" : "  FAILED");
  }
  const Timing together = runTogether({0, 1, 2, 3, 4, 5, 6, 7});
  ok = ok && together.allPassed;
  const double ratio = static_cast<double>(together.simulatedMicroseconds) / static_cast<double>(longest);
  std::printf("  all eight at once: %.2f s against the longest alone %.2f s: %.3f (target at most 1.25); wall %.2f s%s\n",
              together.simulatedMicroseconds / 1e6, longest / 1e6, ratio, together.wallSeconds,
              together.allPassed ? "" : "  FAILED");
  if (!ok || ratio > 1.25) {
    std::printf("TARGET MISSED\n");
    return 1;
  }
  return 0;
}
