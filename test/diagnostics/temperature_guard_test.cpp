// The temperature guard of a walk, on the simulated machine's clock: a drive made hot in
// the middle of a scan or an erase pauses the walk at its critical limit and resumes it
// below its warning limit, while a drive that reports no temperature, or a run with the
// guard off, never pauses; Cancel ends a pause at once; and what the walk finds is what a
// walk without a pause finds.

#include "diagnostics/temperature_guard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "diagnostics/scan_test_support.h"
#include "diagnostics/sector_loop.h"
#include "platform/ioctl_codes.h"

namespace palvoro {
namespace {

using diagtest::EventCall;

// 200 requests of 1 MiB, four at a time, a second each on the drive's clock: the walk takes
// about 50 s, so the guard reads at its start and about 30 s in.
constexpr uint64_t kSectors = 409'600;
// Unreadable, past where the drive is made hot.
constexpr uint64_t kBadSector = 300'000;
// The read after which the drive is hot: about 25 s in, before the second reading.
constexpr int kHotAfterReads = 100;

enum class Drive {
  Ata,           // SCT status; limits 60 °C (maximum operating) and 65 °C (over limit)
  AtaAttributes, // no SCT: attribute 194, and the default limits 55 and 60 °C
  AtaSilent,     // no SCT, no pass-through for the statistics, no attribute 194: no reading
  Nvme,          // health log; WCTEMP 70 °C, CCTEMP 75 °C
};

struct Case {
  const char* name;
  Drive drive;
  int type;                     // kLoopReadScan or kLoopWriteZeros
  bool guard;
  std::optional<int> hot;       // the temperature the drive is made to reach
  bool cancelOnPause;
  // Expected.
  uint32_t pauses;
  uint64_t pausedSeconds;
  std::vector<std::string> stages;  // the guard's words, in order
  int code;
};

const Case kCases[] = {
    {"AtaPausesAtOverLimitAndResumesBelowMaximumOperating", Drive::Ata, kLoopReadScan, true, 75, false, 1, 40,
     {"Paused: the drive is at 75 °C, above its critical limit of 65 °C; resuming below 60 °C.",
      "Resumed: the drive has cooled to 55 °C, below 60 °C."},
     kTestErrorRead},
    {"NvmePausesAtCctempAndResumesBelowWctemp", Drive::Nvme, kLoopReadScan, true, 80, false, 1, 30,
     {"Paused: the drive is at 80 °C, above its critical limit of 75 °C; resuming below 70 °C.",
      "Resumed: the drive has cooled to 65 °C, below 70 °C."},
     kTestErrorRead},
    {"EraseAtItsCriticalLimitPauses", Drive::Ata, kLoopWriteZeros, true, 65, false, 1, 20,
     {"Paused: the drive is at 65 °C, at its critical limit of 65 °C; resuming below 60 °C.",
      "Resumed: the drive has cooled to 55 °C, below 60 °C."},
     kTestErrorNone},
    {"WithoutSctAttribute194AndTheDefaultLimitsServe", Drive::AtaAttributes, kLoopReadScan, true, 75, false, 1, 50,
     {"Paused: the drive is at 75 °C, above its critical limit of 60 °C; resuming below 55 °C.",
      "Resumed: the drive has cooled to 50 °C, below 55 °C."},
     kTestErrorRead},
    {"BelowCriticalGoesOn", Drive::Ata, kLoopReadScan, true, 64, false, 0, 0, {}, kTestErrorRead},
    {"NoTemperatureReportedNeverPauses", Drive::AtaSilent, kLoopReadScan, true, 90, false, 0, 0, {},
     kTestErrorRead},
    {"GuardOffNeverPauses", Drive::Ata, kLoopReadScan, false, 90, false, 0, 0, {}, kTestErrorRead},
    {"CancelWhilePausedStopsAtOnce", Drive::Ata, kLoopReadScan, true, 90, true, 1, 0,
     {"Paused: the drive is at 90 °C, above its critical limit of 65 °C; resuming below 60 °C."},
     kTestErrorStopped},
};

class TemperatureGuardTest : public scantest::ScanTest {
 protected:
  void loadDrive(Drive kind, int32_t testKind) {
    sim::SimMachine machine = scantest::oneDrive(kSectors);
    sim::SimDrive& drive = machine.drives[0];
    DriveRecord record = scantest::driveRecord(kSectors);
    if (kind == Drive::AtaSilent || kind == Drive::AtaAttributes) {
      sim::IdentityDescription identity;
      identity.model = "VARN NO SCT";
      identity.sectors = kSectors;
      identity.sct = false;
      drive.ata.units[0].identify = sim::makeIdentify(identity);
    }
    if (kind == Drive::AtaSilent) drive.ataPassThrough = false;
    if (kind == Drive::AtaAttributes) drive.ata.units[0].smart.attributes.push_back({194, 0x22, 100, 100, 40, 0});
    if (kind == Drive::Nvme) {
      drive.transport = sim::Transport::Nvme;
      sim::applyTransportDefaults(drive);
      drive.nvme->warningTemperatureKelvin = 343;
      drive.nvme->criticalTemperatureKelvin = 348;
      record.driveClass = kDriveClassNvme;
      record.busType = kBusNvme;
    }
    drive.queue = {4, 1 << 20, 1'000'000, 0, false};
    // Five degrees every ten seconds of rest.
    drive.thermal = sim::SimThermal{40, 40, 0, 30, 40, 0};
    drive.ata.units[0].media.markUnreadable(kBadSector, kBadSector + 2);
    load(std::move(machine), record, testKind);
  }

  // The guard's own words among the stages, and the stage after the last of them.
  std::vector<std::string> guardStages(std::string* after) const {
    std::vector<std::string> out;
    bool last = false;
    for (const EventCall& c : view->callsOf(EventCall::Kind::Stage)) {
      const std::string& line = c.stage.line;
      last = line.rfind("Paused:", 0) == 0 || line.rfind("Resumed:", 0) == 0;
      if (last) {
        out.push_back(line);
      } else if (after != nullptr && !out.empty() && after->empty()) {
        *after = line;
      }
    }
    return out;
  }
};

TEST_F(TemperatureGuardTest, PausesAtCriticalResumesBelowWarningAndFindsWhatAWalkWithoutPausesFinds) {
  for (const int type : {kLoopReadScan, kLoopWriteZeros}) {
    for (const Drive kind : {Drive::Ata, Drive::AtaAttributes, Drive::AtaSilent, Drive::Nvme}) {
      const auto ofThisWalk = [&](const Case& c) { return c.drive == kind && c.type == type; };
      if (std::none_of(std::begin(kCases), std::end(kCases), ofThisWalk)) continue;
      // The walk that never paused, for what every other one must find.
      loadDrive(kind, type == kLoopWriteZeros ? kTestKindErase : kTestKindExtended);
      const int referenceCode = sectorLoop(*run, rangePlan(*run, type, testRange(run->drive())));
      const std::vector<BadSector> reference = view->badSectors();
      ASSERT_EQ(reference.size(), type == kLoopReadScan ? 3u : 0u);
      ASSERT_EQ(values().temperature.pauses, 0u);

      for (const Case& c : kCases) {
        if (!ofThisWalk(c)) continue;
        SCOPED_TRACE(c.name);
        loadDrive(kind, type == kLoopWriteZeros ? kTestKindErase : kTestKindExtended);
        values().temperatureGuard = c.guard;
        run->showStage("Running Extended Test...");
        if (c.hot) {
          sim::SimFault hot;
          hot.kind = sim::SimFault::Kind::Temperature;
          hot.onRead = hot.onWrite = true;
          hot.skip = kHotAfterReads;
          hot.remaining = 1;
          hot.celsius = *c.hot;
          platform->injectFault(hot);
        }
        if (c.cancelOnPause) {
          view->onCall = [this](const EventCall& call) {
            if (call.kind == EventCall::Kind::Stage && call.stage.line.rfind("Paused:", 0) == 0) run->onCancel();
          };
        }
        const int code = sectorLoop(*run, rangePlan(*run, type, testRange(run->drive())));
        view->onCall = nullptr;

        EXPECT_EQ(code, c.code);
        const TemperatureWatch& watch = values().temperature;
        EXPECT_EQ(watch.pauses, c.pauses);
        EXPECT_EQ(watch.pausedSeconds, c.pausedSeconds);
        std::string after;
        EXPECT_EQ(guardStages(&after), c.stages);
        if (c.stages.size() == 2) {
          EXPECT_EQ(after, "Running Extended Test...");
        }
        // Off, the guard does not even ask; a drive with no reading has none to keep.
        if (!c.guard) {
          EXPECT_TRUE(platform->ioctls(SMART_RCV_DRIVE_DATA).empty());
        }
        EXPECT_EQ(watch.highestCelsius.has_value(), c.guard && kind != Drive::AtaSilent);
        if (c.cancelOnPause) {
          EXPECT_EQ(values().testState.load(), kTestStateAbort);
          // Cancel was seen before the first wait of the pause was over.
          EXPECT_LT(platform->clockMs(), kPausedStopMilliseconds + 1);
          continue;
        }
        EXPECT_EQ(code, referenceCode);
        EXPECT_EQ(view->badSectors(), reference);
        EXPECT_EQ(values().badSectorCount.load(), reference.size());
      }
    }
  }
}

}  // namespace
}  // namespace palvoro
