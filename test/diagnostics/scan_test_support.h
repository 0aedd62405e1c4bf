#pragma once
// What the scan, cable, random read and second-unit tests share: a simulated machine
// with one drive (optionally a dual-unit one) and its volumes, the drive's record as
// detection would fill it, a test run over both, and the block transfers the drive saw.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "diagnostics/diagnostics_test_support.h"
#include "diagnostics/run.h"
#include "platform/sim/sim_platform.h"

namespace palvoro::scantest {

inline constexpr const char* kDrive0 = "\\\\.\\PhysicalDrive0";

inline sim::SimUnit simUnit(uint64_t sectors) {
  sim::IdentityDescription identity;
  identity.model = "VARN SCAN";
  identity.serial = "S1";
  identity.firmware = "F1";
  identity.sectors = sectors;
  identity.trim = true;
  sim::SimUnit unit;
  unit.identify = sim::makeIdentify(identity);
  unit.media = sim::SimMedia(sectors, 512);
  return unit;
}

// Drive 0 of `sectors` sectors; a second unit (unit 2) when `unit2Sectors` is not 0.
inline sim::SimMachine oneDrive(uint64_t sectors, uint64_t unit2Sectors = 0) {
  sim::SimMachine machine;
  sim::SimDrive drive;
  drive.number = 0;
  drive.ata.units[0] = simUnit(sectors);
  if (unit2Sectors != 0) drive.ata.units[2] = simUnit(unit2Sectors);
  machine.drives.push_back(std::move(drive));
  return machine;
}

inline void addVolume(sim::SimMachine& machine, char letter, uint64_t start, uint64_t sectors) {
  sim::SimVolume volume;
  volume.letter = letter;
  volume.drive = 0;
  volume.startSector = start;
  volume.sectorCount = sectors;
  machine.volumes.push_back(volume);
}

// The record detection gives an ordinary drive 0 of `sectors` sectors.
inline DriveRecord driveRecord(uint64_t sectors) {
  DriveRecord record{};
  record.physicalDriveNumber = 0;
  record.driveClass = kDriveClassAta;
  record.busType = kBusSata;
  record.totalSectors = sectors;
  record.identifiedSectors = sectors;
  record.sectorSize = 512;
  return record;
}

// A transfer as the drive saw it, in sectors.
struct Transfer {
  uint64_t first = 0;
  uint64_t sectors = 0;
  bool operator==(const Transfer&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Transfer& t) {
  return out << "{" << t.first << ", " << t.sectors << "}";
}

class ScanTest : public ::testing::Test {
 protected:
  // A Vista-or-later machine with `record` selected, and a run of `kind` begun on it.
  void load(sim::SimMachine machine, const DriveRecord& record, int32_t kind = kTestKindQuick) {
    run.reset();
    context.reset();
    platform = std::make_unique<sim::SimPlatform>(std::move(machine));
    context = std::make_unique<AppContext>(*platform, prompter);
    context->startup().osIsVistaOrLater = 1;
    context->driveTable().records = {record};
    context->driveTable().selectedDrive = 0;
    values().testKind = kind;
    values().testState = kTestStateRunning;
    values().testError = kTestErrorNone;
    run = std::make_unique<TestRun>(context->testRunEnvironment(), *view, clock);
    run->begin();
    view->clear();
    platform->clearLog();
  }

  TestRunValues& values() { return context->testRun(); }
  sim::SimMedia& media(int unit = 0) { return platform->drive(0).ata.units.at(unit).media; }

  // The reads (or writes) the drive received, tried or not, oldest first.
  std::vector<Transfer> transfers(sim::SimRequest::Kind kind = sim::SimRequest::Kind::Read) const {
    std::vector<Transfer> out;
    for (const sim::SimRequest& r : platform->log()) {
      if (r.kind == kind && r.path == kDrive0) out.push_back({r.position / 512, r.outSize / 512});
    }
    return out;
  }
  // Only the transfers of more than one sector: the blocks, without the recorder's reads.
  std::vector<Transfer> blocks(sim::SimRequest::Kind kind = sim::SimRequest::Kind::Read) const {
    std::vector<Transfer> out;
    for (const Transfer& t : transfers(kind)) {
      if (t.sectors > 1) out.push_back(t);
    }
    return out;
  }

  diagtest::RecordingPrompter prompter;
  std::unique_ptr<diagtest::RecordingRunEvents> view = std::make_unique<diagtest::RecordingRunEvents>();
  diagtest::ManualClock clock;
  std::unique_ptr<sim::SimPlatform> platform;
  std::unique_ptr<AppContext> context;
  std::unique_ptr<TestRun> run;
};

}  // namespace palvoro::scantest
