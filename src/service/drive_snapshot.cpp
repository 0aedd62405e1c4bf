#include "service/drive_snapshot.h"

#include "device/nvme_transport.h"
#include "platform/scoped_handle.h"
#include "service/smart_window_model.h"
#include "smart/nvme_health.h"
#include "smart/smart_window_read.h"

namespace palvoro {
namespace {

// Self-test results that mean the drive failed it, not that it was stopped: ATA execution
// status 3..8 (fatal, unknown, electrical, servo, read, handling damage); NVMe results 5..7
// (fatal, unknown failed segment, failed segments).
bool ataSelfTestFailed(uint8_t status) { return status >= 3 && status <= 8; }
bool nvmeSelfTestFailed(uint8_t result) { return result >= 5 && result <= 7; }

bool readAta(Session& session, const DriveRecord& record, StoredSnapshot& snapshot) {
  DriveRecord drive = record;
  SmartWindowData data;
  if (readSmartWindowData(session.platform(), drive, session.startup().miniportMode != 0, session.raidMemberSelect(),
                          data) != SmartWindowRead::Read) {
    return false;
  }
  for (const SmartAttributeRow& row : smartAttributeRows(data.pages, record.originMark)) {
    if (row.unit != SmartUnit::First) continue;
    snapshot.attributes.push_back({row.id, row.cells.empty() ? std::string() : row.cells[0], row.current, row.worst,
                                   row.threshold, row.raw});
  }
  snapshot.health = smartDialogVerdict(record, data.pages, session.raidMemberSelect()).passing ? "PASS" : "FAIL";
  return !snapshot.attributes.empty();
}

bool readNvme(Session& session, const DriveRecord& record, StoredSnapshot& snapshot) {
  ScopedHandle handle(session.platform(), openNvmeDrive(session.platform(), record.physicalDriveNumber));
  if (!handle.valid()) return false;
  const std::optional<NvmeHealth> health = readNvmeHealth(session.platform(), handle.get());
  if (!health) return false;
  const auto counter = [](const NvmeCounter& c) { return c.fits64() ? c.low : UINT64_MAX; };
  StoredNvmeHealth h;
  h.percentageUsed = health->percentageUsed;
  h.availableSpare = health->availableSpare;
  h.mediaErrors = counter(health->mediaErrors);
  h.temperatureC = health->temperatureKelvin == 0 ? 0 : NvmeHealth::celsius(health->temperatureKelvin);
  h.powerOnHours = counter(health->powerOnHours);
  h.unsafeShutdowns = counter(health->unsafeShutdowns);
  snapshot.nvme = h;
  snapshot.health = health->passing() ? "PASS" : "FAIL";
  snapshot.errorCount = counter(health->errorLogEntries);
  return true;
}

}  // namespace

void summarizeDriveLogs(const DriveLogs& logs, StoredSnapshot& snapshot) {
  if (logs.selfTests && !logs.selfTests->entries.empty()) {
    const SelfTestLogEntry& t = logs.selfTests->entries.front();
    snapshot.lastSelfTest =
        StoredSelfTest{t.lifetimeHours, selfTestName(t.test), selfTestStatusText(t.status), ataSelfTestFailed(t.status)};
  }
  if (logs.nvmeSelfTests && !logs.nvmeSelfTests->entries.empty()) {
    const NvmeSelfTestEntry& t = logs.nvmeSelfTests->entries.front();
    snapshot.lastSelfTest = StoredSelfTest{t.powerOnHours, nvmeSelfTestCodeText(t.code),
                                           nvmeSelfTestResultText(t.result, t.segment), nvmeSelfTestFailed(t.result)};
  }
  // The NVMe health log's count is the controller's lifetime count; an ATA drive's is in its
  // error logs, the comprehensive one counting past what the summary keeps.
  if (!snapshot.errorCount) {
    if (logs.comprehensiveErrors) snapshot.errorCount = logs.comprehensiveErrors->deviceErrorCount;
    else if (logs.summaryErrors) snapshot.errorCount = logs.summaryErrors->deviceErrorCount;
  }
}

std::optional<StoredSnapshot> readDriveSnapshot(Session& session, const DriveRecord& drive, const DriveLogs* logs) {
  StoredSnapshot snapshot;
  snapshot.taken = utcTimeText();
  const bool nvme = drive.driveClass == kDriveClassNvme;
  if (nvme ? !readNvme(session, drive, snapshot) : (drive.smartAvailable == 0 || !readAta(session, drive, snapshot))) {
    return std::nullopt;
  }
  if (logs != nullptr) {
    summarizeDriveLogs(*logs, snapshot);
  } else if (driveLogsReachable(drive)) {
    summarizeDriveLogs(readDriveLogs(session.platform(), drive, session.startup().miniportMode != 0,
                                     session.raidMemberSelect()),
                       snapshot);
  }
  return snapshot;
}

}  // namespace palvoro
