#include "diagnostics/quick_test.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "device/drive_handle.h"
#include "device/drive_requests.h"
#include "resources/string_table.h"
#include "smart/smart_pages.h"

namespace palvoro {
namespace {

// Fields of the SMART data page (T13 ACS, SMART READ DATA) the self-test is followed by.
constexpr size_t kExecutionStatusByte = 363;  // high nibble status, low nibble tenths to go
constexpr size_t kCapabilityByte = 367;
constexpr size_t kCheckpointByte = 371;
// Recommended polling minutes sit at 371 + subcommand: 372 short, 374 conveyance.
constexpr size_t kPollingMinutesBase = 371;

constexpr int kStatusInProgress = 15;

// Every path of readSmartDataForTest puts the page behind the driver's 16-byte header.
uint8_t pageByte(const uint8_t (&buffer)[kSmartBufferSize], size_t offset) {
  return buffer[kDriverPageOffset + offset];
}

// The SMART opener's handle of the run's drive, closed when it goes out of scope.
void openSmart(TestRun& run, DriveHandle& handle) {
  handle.attach(openSmartPath(run.platform(), run.drive().physicalDriveNumber,
                              run.startup().miniportMode != 0));
}

bool readData(TestRun& run, DriveHandle& handle, uint8_t (&buffer)[kSmartBufferSize]) {
  return readSmartDataForTest(run.platform(), handle.handle(), run.drive(), run.startup().miniportMode != 0,
                              run.raidMemberSelect(), buffer, run.driveNumber, run.drive().primaryUnit) != 0;
}

bool sendSelfTest(TestRun& run, DriveHandle& handle, uint8_t subcommand) {
  return startSelfTest(run.platform(), handle.handle(), run.drive(), run.startup().miniportMode != 0,
                       run.raidMemberSelect(), run.drive().primaryUnit, subcommand) != 0;
}

// The start's failure path: the code's message without a prefix, and the run ends failed.
void failStart(TestRun& run, int code) {
  run.showTestError(code);
  run.setProgress(0);
  run.values().testError = code;
  run.endFailed();
}

}  // namespace

const char* selfTestStatusWord(int status) {
  static constexpr const char* kWords[] = {
      "No error or no test ever run",
      "Aborted by host",
      "Interrupted by hard or soft reset",
      "Fatal or unknown error",
      "Unknown failed test element",
      "Failed electrical test element",
      "Failed servo and/or seek test element",
      "Failed read test element",
      "Failed test element damaged by handling",
  };
  if (status >= 0 && status < static_cast<int>(std::size(kWords))) return kWords[status];
  if (status == kStatusInProgress) return "Test in progress";
  return "Unknown";
}

const char* selfTestCheckpointWord(int checkpoint) {
  // The maker's checkpoints 40h..48h; 48h names the attribute test a second time.
  static constexpr const char* kWords[] = {
      "SMART Attribute Test", "Error Log Test",       "Reserved File Test",
      "Write/Read/Compare Test", "Servo Test - Quick", "Servo Test - Extended",
      "Scan Test - Quick",    "Scan Test - Extended", "SMART Attribute Test",
  };
  constexpr int kFirst = 0x40;
  const int index = checkpoint - kFirst;
  if (checkpoint >= kFirst && index < static_cast<int>(std::size(kWords))) return kWords[index];
  return "Unknown Test";
}

int quickTestProbeAndStart(TestRun& run, uint8_t subcommand) {
  run.startTime = run.clock().nowSeconds();
  run.driveNumber = run.drive().physicalDriveNumber;

  DriveHandle handle(run.platform());
  openSmart(run, handle);
  if (!handle.isOpen()) {
    failStart(run, kTestErrorNoDrive);
    return kTestErrorNoDrive;
  }
  uint8_t buffer[kSmartBufferSize] = {};
  const bool read = readData(run, handle, buffer);
  if (subcommand == kSelfTestProbeOnly) return read ? pageByte(buffer, kCapabilityByte) : 0;

  int result = 0;
  if (!read) {
    result = kTestErrorReadSmart;
  } else {
    uint8_t used = subcommand;
    if (used == kSelfTestShort && (pageByte(buffer, kCapabilityByte) & kCapabilityConveyance) != 0) {
      used = kSelfTestConveyance;
    }
    bool started = sendSelfTest(run, handle, used);
    if (!started && used == kSelfTestConveyance) {
      used = kSelfTestShort;
      started = sendSelfTest(run, handle, used);
    }
    if (started) {
      run.view().armTimer(kTimerSelfTest, 1000);
      char line[64];
      std::snprintf(line, sizeof line, "Estimated Time: %d minute(s)",
                    pageByte(buffer, std::min<size_t>(kPollingMinutesBase + used, kSmartPageBytes - 1)));
      run.view().setText(kCtlEstimate, line);
    } else {
      result = kTestErrorSelfTestStart;
    }
  }
  handle.close();
  if (result != 0) failStart(run, result);
  return result;
}

void quickTestPoll(TestRun& run) {
  ProgressView& view = run.view();
  int failure = 0;
  {
    DriveHandle handle(run.platform());
    openSmart(run, handle);
    uint8_t buffer[kSmartBufferSize] = {};
    if (!handle.isOpen()) {
      run.showTestError(kTestErrorNoDrive);
      failure = kTestErrorNoDrive;
    } else if (!readData(run, handle, buffer)) {
      run.setProgress(0);
      run.showTestError(kTestErrorReadSmart);
      failure = kTestErrorReadSmart;
    } else {
      const uint8_t execution = pageByte(buffer, kExecutionStatusByte);
      const uint8_t capability = pageByte(buffer, kCapabilityByte);
      const int status = execution >> 4;
      run.tenthsDone = (10 - (execution & 0x0F)) & 0x0F;
      if (execution == 0) {
        if ((capability & kCapabilityAnySelfTest) != 0) run.setProgress(100);
      } else if (status == kStatusInProgress) {
        if (run.tenthsDone * 10 > run.progressPosition()) {
          run.tenthsDone = std::min(run.tenthsDone, 9);
          run.setProgress(run.tenthsDone * 10);
        }
        return;
      } else if ((capability & kCapabilityAnySelfTest) != 0) {
        const uint8_t checkpoint = pageByte(buffer, kCheckpointByte);
        char prefix[256];
        std::snprintf(prefix, sizeof prefix,
                      "%s on drive %d did not complete!\nStatus code = %02d (%s), Failure Checkpoint = %02d (%s)\n",
                      "Quick Test", run.shownDriveNumber(), status, selfTestStatusWord(status),
                      checkpoint, selfTestCheckpointWord(checkpoint));
        run.showTestError(kTestErrorSelfTestIncomplete, prefix);
        run.setProgress(0);
        failure = kTestErrorSelfTestIncomplete;
      } else {
        // A drive that does not report self-tests at all: nothing to judge yet.
        return;
      }
    }
  }

  if (failure != 0) {
    view.setText(kCtlStatus, loadString(kStrTestStoppedWithErrors));
    run.values().testError = failure;
    run.values().testState = kTestStateFail;
    view.setIcon(kCtlActivityIcon, kIconFailure);
  } else {
    view.setText(kCtlStatus, loadString(kStrTestCompleted));
    run.values().testState = kTestStatePass;
    view.setIcon(kCtlActivityIcon, kIconSuccess);
  }
  view.disarmTimer(kTimerSelfTest);
  if (run.drive().hiddenSectors != 0) view.disarmTimer(kTimerSecondUnitVerify);
  run.relabelClose();
  run.resetActivityIcon();
}

void quickTestAbort(TestRun& run) {
  run.setProgress(0);
  const DriveRecord& drive = run.drive();
  const int32_t kind = run.values().testKind.load();
  const bool selfTestRuns =
      kind == kTestKindQuick || (kind == kTestKindExtended && drive.driveClass == kDriveClassRaid);
  if (drive.smartAvailable == 0 || !selfTestRuns) return;

  DriveHandle handle(run.platform());
  openSmart(run, handle);
  const bool stopped = handle.isOpen() && sendSelfTest(run, handle, kSelfTestAbort);
  handle.close();
  run.view().setText(kCtlStatus, stopped ? "Test suspended!\n" : "Failed to stop test!\n");
}

}  // namespace palvoro
