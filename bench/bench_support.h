#pragma once
// What every benchmark drives a test with: a progress view that shows nothing, a
// prompter that always gives the same answer, and the one drive a test runs on.

#include <cstdint>
#include <string>

#include "app/app_context.h"
#include "diagnostics/run_clock.h"
#include "diagnostics/run_events.h"
#include "platform/prompter.h"
#include "platform/sim/sim_platform.h"

namespace palvoro::bench {

using NullView = UnwatchedRunEvents;

class FixedPrompter : public Prompter {
 public:
  explicit FixedPrompter(PromptAnswer answer) : m_answer(answer) {}
  PromptAnswer ask(const std::string&, const std::string&, PromptIcon, PromptButtons, PromptAnswer,
                   PromptPurpose) override {
    return m_answer;
  }

 private:
  PromptAnswer m_answer;
};

// Makes drive 0 of `context` the only and selected entry of its table: a plain SATA
// drive of `sectors` 512-byte sectors, as detection would have found it. The program
// is told it runs on Vista or later.
inline void useOneSataDrive(AppContext& context, uint64_t sectors) {
  context.startup().osIsVistaOrLater = 1;
  context.driveTable().records.assign(1, DriveRecord{});
  DriveRecord& record = context.driveTable().records[0];
  record.physicalDriveNumber = 0;
  record.driveClass = kDriveClassAta;
  record.busType = kBusSata;
  record.totalSectors = sectors;
  record.identifiedSectors = sectors;
  record.sectorSize = 512;
  context.driveTable().selectedDrive = 0;
}

// A machine of one plain drive 0 of `sectors` 512-byte sectors, named `model`.
inline sim::SimMachine oneDriveMachine(const std::string& model, uint64_t sectors) {
  sim::IdentityDescription identity;
  identity.model = model;
  identity.serial = "B1";
  identity.firmware = "F1";
  identity.sectors = sectors;
  sim::SimDrive drive;
  drive.number = 0;
  drive.ata.units[0].identify = sim::makeIdentify(identity);
  drive.ata.units[0].media = sim::SimMedia(sectors, 512);
  sim::SimMachine machine;
  machine.drives.push_back(std::move(drive));
  return machine;
}

// One drive on a simulated machine, ready for a run: the platform with its request log
// off, a prompter that always gives `answer`, the context with the drive selected, and the
// view and clock a run takes.
struct OneDriveBench {
  OneDriveBench(sim::SimMachine machine, uint64_t sectors, PromptAnswer answer)
      : platform(std::move(machine)), prompter(answer), context(platform, prompter) {
    platform.setLogging(false);
    useOneSataDrive(context, sectors);
  }

  sim::SimPlatform platform;
  FixedPrompter prompter;
  AppContext context;
  NullView view;
  SystemTestClock clock;
};

}  // namespace palvoro::bench
