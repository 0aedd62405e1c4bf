// Throughput of the extended scan's ordered pass and of a full erase against the depth of a
// modelled device's queue: a fast solid-state drive (each request 100 us of its own, a
// 2,000 MB/s link, 1 MiB at most in one piece). The times are the simulated drive's, so
// the figures say what the walk makes of a device, not how fast this machine runs the
// simulator. Prints them, and fails when the deepest queue reaches less than 90% of
// the link.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "app/app_context.h"
#include "bench_support.h"
#include "diagnostics/run.h"
#include "diagnostics/sector_loop.h"
#include "platform/sim/sim_platform.h"

using namespace palvoro;

namespace {

constexpr uint64_t kSectors = 8 * 2'097'152;  // 8 GiB of 512-byte sectors
constexpr uint64_t kLinkMegabytesPerSecond = 2000;

sim::SimMachine machine(uint32_t depth) {
  sim::SimMachine m = bench::oneDriveMachine("VARN QUEUE 8G", kSectors);
  sim::SimQueueModel& queue = m.drives[0].queue;
  queue.depth = depth;
  queue.maxTransferBytes = 1 << 20;
  queue.requestMicroseconds = 100;
  queue.megabytesPerSecond = kLinkMegabytesPerSecond;
  return m;
}

// MB/s on the drive's clock for one walk of the whole drive, and whether it succeeded.
std::pair<double, bool> walk(uint32_t depth, int type) {
  bench::OneDriveBench rig(machine(depth), kSectors, PromptAnswer::No);
  AppContext& context = rig.context;
  sim::SimPlatform& platform = rig.platform;
  context.testRun().testKind = type == kLoopWriteZeros ? kTestKindErase : kTestKindExtended;
  context.testRun().testState = kTestStateRunning;
  TestRun run(context.testRunEnvironment(), rig.view, rig.clock);
  run.begin();
  const uint64_t began = platform.monotonicMicroseconds();
  const int result = sectorLoop(run, rangePlan(run, type, TestRange{0, kSectors}));
  const uint64_t took = platform.monotonicMicroseconds() - began;
  return {static_cast<double>(kSectors) * 512 / static_cast<double>(took), result == 0};
}

}  // namespace

int main() {
  std::printf("a modelled drive of 8 GiB: 100 us a request, %llu MB/s link, 1 MiB a request at most\n",
              static_cast<unsigned long long>(kLinkMegabytesPerSecond));
  std::printf("  depth   scan MB/s   erase MB/s   (drive's clock)\n");
  bool ok = true;
  double deepest = 0;
  for (const uint32_t depth : {1u, 2u, 4u, 8u, 16u, 32u}) {
    const auto [scan, scanOk] = walk(depth, kLoopReadScan);
    const auto [erase, eraseOk] = walk(depth, kLoopWriteZeros);
    std::printf("  %5u   %9.0f   %10.0f%s\n", depth, scan, erase, scanOk && eraseOk ? "" : "  FAILED");
    ok = ok && scanOk && eraseOk;
    deepest = std::min(scan, erase);
  }
  std::printf("  deepest queue against the link: %.1f%% (target at least 90%%)\n",
              100.0 * deepest / static_cast<double>(kLinkMegabytesPerSecond));
  if (!ok || deepest < 0.9 * static_cast<double>(kLinkMegabytesPerSecond)) {
    std::printf("TARGET MISSED\n");
    return 1;
  }
  return 0;
}
