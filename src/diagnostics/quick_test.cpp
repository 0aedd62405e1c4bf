#include "diagnostics/quick_test.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "device/drive_handle.h"
#include "device/drive_requests.h"
#include "device/nvme_transport.h"
#include "discovery/nvme_identity.h"
#include "platform/records.h"
#include "protocol/byte_order.h"
#include "protocol/nvme_command.h"
#include "resources/string_table.h"
#include "smart/nvme_logs.h"
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
                              run.raidMemberSelect(), buffer, run.driveNumber, run.drive().primaryUnit);
}

bool sendSelfTest(TestRun& run, DriveHandle& handle, uint8_t subcommand) {
  return startSelfTest(run.platform(), handle.handle(), run.drive(), run.startup().miniportMode != 0,
                       run.raidMemberSelect(), run.drive().primaryUnit, subcommand);
}

// The start's failure path: the code's message without a prefix, and the run ends failed.
void failStart(TestRun& run, int code) {
  run.showTestError(code);
  run.setProgress(0);
  run.values().testError = code;
  run.endFailed();
}

// The end of a self-test that passed (failure 0) or failed with that TestError code.
void finishSelfTest(TestRun& run, int failure) {
  if (failure != 0) {
    run.showStage(loadString(kStrTestStoppedWithErrors));
    run.values().testError = failure;
    run.values().testState = kTestStateFail;
    run.events().activity(RunActivity::Failure);
  } else {
    run.showStage(loadString(kStrTestCompleted));
    run.values().testState = kTestStatePass;
    run.events().activity(RunActivity::Success);
  }
  run.schedule().disarm(kTimerSelfTest);
  if (run.drive().hiddenSectors != 0) run.schedule().disarm(kTimerSecondUnitVerify);
  run.relabelClose();
}

// The self-test log (06h): the operation in progress and its completion, then the
// newest result entry.
constexpr size_t kLogOperation = 0;      // bits 3:0: 0 none, 1 short, 2 extended
constexpr size_t kLogCompletion = 1;     // bits 6:0: percent done
constexpr size_t kLogNewestEntry = 4;
constexpr size_t kEntrySegment = 1;
constexpr size_t kEntryValidInfo = 2;    // bit 1: the failing LBA is valid
constexpr size_t kEntryFailingLba = 16;
constexpr uint8_t kResultUnused = 0xF;
// The NVMe short self-test takes at most two minutes.
constexpr int kNvmeShortTestMinutes = 2;

void nvmeOpen(TestRun& run, DriveHandle& handle) {
  handle.attach(openNvmeDrive(run.platform(), run.drive().physicalDriveNumber));
}

// A poll that has nothing to judge: the drive did not open, or its self-test state did
// not arrive. Returns the error shown.
int pollFailure(TestRun& run, const DriveHandle& handle) {
  if (!handle.isOpen()) {
    run.showTestError(kTestErrorNoDrive);
    return kTestErrorNoDrive;
  }
  run.setProgress(0);
  run.showTestError(kTestErrorReadSmart);
  return kTestErrorReadSmart;
}

void nvmeQuickTestPoll(TestRun& run) {
  int failure = 0;
  {
    DriveHandle handle(run.platform());
    nvmeOpen(run, handle);
    uint8_t log[kNvmeSelfTestLogBytes] = {};
    if (!handle.isOpen() || !nvmeGetLogPage(run.platform(), handle.handle(), kNvmeLogSelfTest, sizeof log, log)) {
      failure = pollFailure(run, handle);
    } else if ((log[kLogOperation] & 0x0F) != 0) {
      const int percent = std::min(log[kLogCompletion] & 0x7F, 99);
      if (percent > run.progressPosition()) run.setProgress(percent);
      return;
    } else {
      const uint8_t* entry = log + kLogNewestEntry;
      const int result = entry[0] & 0x0F;
      if (result == 0) {
        run.setProgress(100);
      } else {
        const int segment = entry[kEntrySegment];
        char prefix[320];
        int n = std::snprintf(prefix, sizeof prefix,
                              "%s on drive %d did not complete!\nStatus code = %02d (%s), Failed Segment = %d (%s)\n",
                              "Quick Test", run.shownDriveNumber(), result,
                              result == kResultUnused ? "No result recorded" : nvmeSelfTestResultWord(result),
                              segment, nvmeSelfTestSegmentWord(segment));
        if ((entry[kEntryValidInfo] & 0x02) != 0 && n > 0 && static_cast<size_t>(n) < sizeof prefix) {
          const uint64_t lba = loadLe64(entry + kEntryFailingLba);
          std::snprintf(prefix + n, sizeof prefix - static_cast<size_t>(n), "Failing LBA = %llu\n",
                        static_cast<unsigned long long>(lba));
        }
        run.showTestError(kTestErrorSelfTestIncomplete, prefix);
        run.setProgress(0);
        failure = kTestErrorSelfTestIncomplete;
      }
    }
  }
  finishSelfTest(run, failure);
}

}  // namespace

const char* nvmeSelfTestResultWord(int result) {
  const char* name = nvmeSelfTestResultName(result);
  return name != nullptr ? name : "Unknown";
}

const char* nvmeSelfTestSegmentWord(int segment) {
  static constexpr const char* kWords[] = {
      "RAM Check", "NVM Integrity", "Data Integrity", "Media Check", "Drive-specific Test", "SMART / Health Check",
  };
  if (segment >= 1 && segment <= static_cast<int>(std::size(kWords))) return kWords[segment - 1];
  return "Unknown Segment";
}

NvmeQuickStart nvmeQuickTestStart(TestRun& run) {
  run.startTime = run.clock().nowSeconds();
  run.driveNumber = run.drive().physicalDriveNumber;
  DriveHandle handle(run.platform());
  nvmeOpen(run, handle);
  if (!handle.isOpen()) {
    failStart(run, kTestErrorNoDrive);
    return NvmeQuickStart::Failed;
  }
  uint8_t controller[kNvmeIdentifyBytes] = {};
  if (!nvmeIdentifyController(run.platform(), handle.handle(), controller)) {
    handle.close();
    failStart(run, kTestErrorReadSmart);
    return NvmeQuickStart::Failed;
  }
  if (!nvmeControllerFields(NvmeIdentifyPage(controller, sizeof controller)).selfTest()) {
    return NvmeQuickStart::NoSelfTest;
  }
  const bool started = nvmeDeviceSelfTest(run.platform(), handle.handle(), kNvmeSelfTestShort).succeeded();
  handle.close();
  if (!started) {
    failStart(run, kTestErrorSelfTestStart);
    return NvmeQuickStart::Failed;
  }
  run.schedule().arm(kTimerSelfTest);
  run.showEstimatedMinutes(kNvmeShortTestMinutes);
  return NvmeQuickStart::Started;
}

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
      run.schedule().arm(kTimerSelfTest);
      run.showEstimatedMinutes(pageByte(buffer, std::min<size_t>(kPollingMinutesBase + used, kSmartPageBytes - 1)));
    } else {
      result = kTestErrorSelfTestStart;
    }
  }
  handle.close();
  if (result != 0) failStart(run, result);
  return result;
}

void quickTestPoll(TestRun& run) {
  if (run.drive().driveClass == kDriveClassNvme) {
    nvmeQuickTestPoll(run);
    return;
  }
  int failure = 0;
  {
    DriveHandle handle(run.platform());
    openSmart(run, handle);
    uint8_t buffer[kSmartBufferSize] = {};
    if (!handle.isOpen() || !readData(run, handle, buffer)) {
      failure = pollFailure(run, handle);
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

  finishSelfTest(run, failure);
}

void quickTestAbort(TestRun& run) {
  run.setProgress(0);
  const DriveRecord& drive = run.drive();
  const int32_t kind = run.values().testKind.load();
  const bool selfTestRuns =
      kind == kTestKindQuick || (kind == kTestKindExtended && drive.driveClass == kDriveClassRaid);
  if (drive.driveClass == kDriveClassNvme && kind == kTestKindQuick) {
    DriveHandle handle(run.platform());
    nvmeOpen(run, handle);
    const bool stopped =
        handle.isOpen() && nvmeDeviceSelfTest(run.platform(), handle.handle(), kNvmeSelfTestAbort).succeeded();
    handle.close();
    run.showStage(stopped ? "Test suspended!\n" : "Failed to stop test!\n");
    return;
  }
  if (drive.smartAvailable == 0 || !selfTestRuns) return;

  DriveHandle handle(run.platform());
  openSmart(run, handle);
  const bool stopped = handle.isOpen() && sendSelfTest(run, handle, kSelfTestAbort);
  handle.close();
  run.showStage(stopped ? "Test suspended!\n" : "Failed to stop test!\n");
}

}  // namespace palvoro
