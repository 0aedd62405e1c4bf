#include "smart/smart_pages.h"

#include <cstring>

#include "device/scsi_transport.h"
#include "protocol/ata_commands.h"
#include "protocol/byte_order.h"

namespace palvoro {
namespace {

// Entry bytes: data page 0 ID, 1..2 flags (little-endian), 3 current, 4 worst;
// threshold page 0 ID, 1 threshold.
constexpr size_t kEntryId = 0;
constexpr size_t kEntryFlags = 1;
constexpr size_t kEntryCurrent = 3;
constexpr size_t kEntryWorst = 4;
constexpr size_t kEntryRaw = 5;  // six bytes
constexpr size_t kEntryRawBytes = 6;
constexpr size_t kEntryThreshold = 1;

constexpr uint8_t kUnitSecond = 2;

size_t entryOffset(int index) {
  return kSmartFirstEntryOffset + static_cast<size_t>(index) * kSmartEntryBytes;
}

[[nodiscard]] bool validIndex(int index) { return index >= 0 && index < kSmartEntryCount; }

// The carriers only exist on the USB and FireWire buses; everything else is reached
// through the SMART driver.
[[nodiscard]] bool usesCarrier(const DriveRecord& record) {
  return record.busType == kBusUsb || record.busType == kBusFireWire;
}

// SMART READ DATA then READ THRESHOLDS over a carrier, each page at byte 0 of its
// buffer. The thresholds are asked for only when the data arrived.
[[nodiscard]] bool readCarrierPages(Platform& platform, Handle handle, AtaCarrier carrier, uint8_t device,
                                    uint8_t (&data)[kSmartBufferSize], uint8_t (&thresholds)[kSmartBufferSize]) {
  uint8_t page[kSmartPageBytes] = {};
  if (carrierSmartRead(platform, handle, carrier, kSmartReadData, device, page) == 0) return false;
  std::memcpy(data + kCarrierPageOffset, page, sizeof page);
  std::memset(page, 0, sizeof page);
  if (carrierSmartRead(platform, handle, carrier, kSmartReadThresholds, device, page) == 0) return false;
  std::memcpy(thresholds + kCarrierPageOffset, page, sizeof page);
  return true;
}

// The same over the SMART driver or miniport path, each page behind the 16-byte header.
[[nodiscard]] bool readDriverPages(Platform& platform, Handle handle, bool miniportMode, int driveNumber, uint8_t unit,
                                   uint8_t (&data)[kSmartBufferSize], uint8_t (&thresholds)[kSmartBufferSize]) {
  if (!smartReadData(platform, handle, miniportMode, driveNumber, unit, data)) return false;
  return smartReadThresholds(platform, handle, miniportMode, driveNumber, unit, thresholds);
}

// True when an entry that the window lists (ID not 0) has failed.
[[nodiscard]] bool listedEntryFailed(SmartPage data, SmartPage thresholds) {
  for (int i = 0; i < kSmartEntryCount; ++i) {
    const SmartAttribute attribute = smartAttribute(data, i);
    if (attribute.id == 0) continue;
    if (attributeFailed(attribute, smartThreshold(thresholds, i))) return true;
  }
  return false;
}

// RAID states in which a failing enclosure still marks its row: 0 and 6 (rebuilding).
// In the other states the row keeps what the RAID status put there.
[[nodiscard]] bool raidStateShowsSmart(int32_t raidState) { return raidState == 0 || raidState == 6; }

}  // namespace

SmartAttribute smartAttribute(SmartPage page, int index) {
  SmartAttribute attribute;
  if (!validIndex(index)) return attribute;
  const size_t at = entryOffset(index);
  attribute.id = page[at + kEntryId];
  attribute.flags = loadLe16(page.data() + at + kEntryFlags);
  attribute.current = page[at + kEntryCurrent];
  attribute.worst = page[at + kEntryWorst];
  attribute.raw = loadLe(page.data() + at + kEntryRaw, kEntryRawBytes);
  return attribute;
}

SmartThreshold smartThreshold(SmartPage page, int index) {
  SmartThreshold threshold;
  if (!validIndex(index)) return threshold;
  const size_t at = entryOffset(index);
  threshold.id = page[at + kEntryId];
  threshold.threshold = page[at + kEntryThreshold];
  return threshold;
}

SmartPage smartPageAt(const uint8_t (&buffer)[kSmartBufferSize], uint32_t offset) {
  // Only the two offsets the paths use fit a whole page; anything else reads the driver
  // layout rather than past the buffer.
  static_assert(kDriverPageOffset + kSmartPageBytes == kSmartBufferSize);
  const uint32_t start = offset == kCarrierPageOffset ? kCarrierPageOffset : kDriverPageOffset;
  return SmartPage(buffer + start, kSmartPageBytes);
}

bool attributeFailed(const SmartAttribute& attribute, const SmartThreshold& threshold) {
  if (!attribute.preFailure()) return false;
  return threshold.threshold >= attribute.current || threshold.threshold >= attribute.worst;
}

int firstFailedAttribute(SmartPage data, SmartPage thresholds) {
  for (int i = 0; i < kSmartEntryCount; ++i) {
    if (attributeFailed(smartAttribute(data, i), smartThreshold(thresholds, i))) return i;
  }
  return -1;
}

AttributeVerdict judgeSmartAttributes(Platform& platform, int driveNumber, Handle handle, int carrier, uint8_t unit,
                                      bool miniportMode, uint8_t raidMemberSelect) {
  switch (checkSmartAttributes(platform, driveNumber, handle, carrier, unit, miniportMode, raidMemberSelect)) {
    case kSmartCheckPassed:
      return AttributeVerdict::Passed;
    case kSmartCheckFailed:
      return AttributeVerdict::Failed;
    default:
      return AttributeVerdict::NotJudged;
  }
}

SmartCheckResult checkSmartAttributes(Platform& platform, int driveNumber, Handle handle, int carrier, uint8_t unit,
                                      bool miniportMode, uint8_t raidMemberSelect) {
  uint8_t data[kSmartBufferSize] = {};
  uint8_t thresholds[kSmartBufferSize] = {};
  uint32_t offset = kDriverPageOffset;
  bool read = false;
  if (carrier < 0) {
    read = readDriverPages(platform, handle, miniportMode, driveNumber, unit, data, thresholds);
  } else {
    read = readCarrierPages(platform, handle, carrierOf(carrier), raidMemberSelect, data, thresholds);
    offset = kCarrierPageOffset;
  }
  if (!read) return kSmartCheckUnreadable;
  return firstFailedAttribute(smartPageAt(data, offset), smartPageAt(thresholds, offset)) < 0
             ? kSmartCheckPassed
             : kSmartCheckFailed;
}

bool readSmartPages(Platform& platform, Handle handle, DriveRecord& record, bool miniportMode,
                    uint8_t raidMemberSelect, SmartPages& pages) {
  pages.secondUnitRead = false;
  if (usesCarrier(record)) {
    pages.pageOffset = kCarrierPageOffset;
    return readCarrierPages(platform, handle, carrierOf(record.ataTunnel), raidMemberSelect, pages.data,
                            pages.thresholds);
  }

  pages.pageOffset = kDriverPageOffset;
  const bool firstRead = readDriverPages(platform, handle, miniportMode, record.physicalDriveNumber,
                                         record.primaryUnit, pages.data, pages.thresholds);
  // The cache-flash unit of a dual-unit drive is listed as well; it is asked even when
  // the first unit did not answer, since the two units fail independently.
  if (record.primaryUnit == kUnitSecond &&
      readDriverPages(platform, handle, miniportMode, record.physicalDriveNumber, record.secondaryUnit,
                      pages.secondData, pages.secondThresholds)) {
    record.originMark = 1;
    pages.secondUnitRead = true;
  }
  return firstRead;
}

bool readSmartDataForTest(Platform& platform, Handle handle, const DriveRecord& record, bool miniportMode,
                          uint8_t raidMemberSelect, uint8_t (&buffer)[kSmartBufferSize], int driveNumber,
                          uint8_t unit) {
  if (record.driveClass == kDriveClassAta) {
    return smartReadData(platform, handle, miniportMode, driveNumber, unit, buffer);
  }
  if (record.busType != kBusUsb) return false;
  // The self-test poll reads its fields at the driver path's offsets, so the carrier's
  // page is moved behind a header-sized gap.
  uint8_t page[kSmartPageBytes] = {};
  const AtaCarrier carrier = carrierOf(record.ataTunnel);
  if (!carrierSmartRead(platform, handle, carrier, kSmartReadData, raidMemberSelect, page)) return false;
  std::memcpy(buffer + kDriverPageOffset, page, sizeof page);
  return true;
}

bool startSelfTest(Platform& platform, Handle handle, const DriveRecord& record, bool miniportMode,
                   uint8_t raidMemberSelect, uint8_t unit, uint8_t subcommand) {
  if (record.driveClass == kDriveClassAta) {
    const int driveNumber = handle == INVALID_HANDLE_VALUE ? 0 : record.physicalDriveNumber;
    return smartExecuteOffline(platform, handle, miniportMode, driveNumber, unit, subcommand);
  }
  if (record.busType != kBusUsb) return false;
  const AtaCarrier carrier = carrierOf(record.ataTunnel);
  return carrierSmartExecuteOffline(platform, handle, carrier, raidMemberSelect, subcommand);
}

SmartVerdict smartDialogVerdict(const DriveRecord& record, const SmartPages& pages, uint8_t raidMemberSelect) {
  SmartVerdict verdict;
  verdict.anyFailed = listedEntryFailed(pages.dataPage(), pages.thresholdPage());
  if (pages.secondUnitRead && !verdict.anyFailed) {
    verdict.anyFailed = listedEntryFailed(pages.secondDataPage(), pages.secondThresholdPage());
  }
  const bool enclosure = record.driveClass == kDriveClassRaid;
  // The shown unit's or member's own answer at detection stands: the attributes the window
  // read can fail the drive, never pass one that said it is failing.
  const auto ownStatus = static_cast<SmartStatus>(enclosure && raidMemberSelect == kRaidMemberB
                                                      ? record.memberBSmartStatus
                                                      : record.smartStatus);
  const int32_t unitVerdict =
      smartHealthyOf(ownStatus, verdict.anyFailed ? AttributeVerdict::Failed : AttributeVerdict::Passed);

  verdict.smartHealthy = record.smartHealthy;
  verdict.raidMemberBHealthy = record.raidMemberBHealthy;
  if (enclosure) {
    if (raidMemberSelect == kRaidMemberB) {
      verdict.raidMemberBHealthy = unitVerdict;
    } else {
      verdict.smartHealthy = unitVerdict;
    }
    verdict.passing = verdict.smartHealthy == 1 && verdict.raidMemberBHealthy == 1;
  } else {
    verdict.smartHealthy = unitVerdict;
    verdict.passing = unitVerdict == 1;
  }

  if (verdict.passing) {
    verdict.row = SmartRowChange::Pass;
    verdict.smartColumnText = " PASS";
    verdict.image = kRowImagePass;
    verdict.textColour = kPassBlue;
  } else if (enclosure && !raidStateShowsSmart(record.raidState)) {
    verdict.row = SmartRowChange::Unchanged;
  } else {
    verdict.row = SmartRowChange::Fail;
    verdict.smartColumnText = " FAIL";
    verdict.image = kRowImageFail;
    verdict.textColour = kFailRed;
  }
  return verdict;
}

void applySmartVerdict(DriveRecord& record, const SmartVerdict& verdict) {
  record.smartHealthy = verdict.smartHealthy;
  record.raidMemberBHealthy = verdict.raidMemberBHealthy;
}

}  // namespace palvoro
