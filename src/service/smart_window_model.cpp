#include "service/smart_window_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "device/nvme_transport.h"
#include "device/scsi_transport.h"
#include "platform/scoped_handle.h"
#include "resources/string_table.h"
#include "smart/attribute_names.h"
#include "smart/smart_window_read.h"

namespace palvoro {
namespace {

// Cut markers of a RAID member's identity: the maker's model prefix and serial prefix.
constexpr const char* kMemberModelMarker = "VHT ";
constexpr const char* kMemberSerialMarker = "VH-";

std::string decimal(int value) { return std::to_string(value); }

// The listed rows of one unit's pages, in page order.
void appendUnitRows(SmartPage data, SmartPage thresholds, int selector, SmartUnit unit,
                    std::vector<SmartAttributeRow>& rows) {
  for (int i = 0; i < kSmartEntryCount; ++i) {
    const SmartAttribute attribute = smartAttribute(data, i);
    if (attribute.id == 0) continue;
    const SmartThreshold threshold = smartThreshold(thresholds, i);
    SmartAttributeRow row;
    row.unit = unit;
    row.id = attribute.id;
    row.current = attribute.current;
    row.worst = attribute.worst;
    row.threshold = threshold.threshold;
    row.raw = attribute.raw;
    row.warranty = attribute.preFailure();
    row.failed = attributeFailed(attribute, threshold);
    row.image = row.failed ? kRowImageFail : kRowImagePass;
    row.cells = {attributeName(attribute.id, selector), smartIdText(attribute.id), decimal(attribute.current),
                 decimal(threshold.threshold), decimal(attribute.worst), decimal(attribute.preFailure() ? 1 : 0)};
    if (row.failed) row.valueColour = kColourRed;
    rows.push_back(std::move(row));
  }
}

}  // namespace

std::vector<SmartListColumn> smartListColumns(int clientWidth) {
  int used = 0;
  for (int width : kSmartColumnWidths) used += width;
  return {
      {"Attribute Name", kSmartColumnWidths[0], ""},
      {"ID", kSmartColumnWidths[1], ""},
      {"Value", kSmartColumnWidths[2], loadString(kStrTipAttributeValue)},
      {"Threshold", kSmartColumnWidths[3], loadString(kStrTipThreshold)},
      {"Worst", kSmartColumnWidths[4], loadString(kStrTipWorst)},
      {"Warranty", std::max(0, clientWidth - used), loadString(kStrTipWarranty)},
  };
}

std::vector<SmartListColumn> nvmeHealthColumns(int clientWidth) {
  return {{"Health Information", kSmartColumnWidths[0], ""},
          {"Value", std::max(0, clientWidth - kSmartColumnWidths[0]), ""}};
}

bool smartWindowShowsNvmeHealth(const DriveRecord& record) { return record.driveClass == kDriveClassNvme; }

const char* smartIntroText(const DriveRecord& record) {
  if (smartWindowShowsNvmeHealth(record)) {
    return "An NVMe drive reports its health in the SMART / Health Information log: wear, spare capacity, "
           "temperature and error counts. A critical warning means the drive is failing or has protected "
           "itself; back up its data.";
  }
  return "S.M.A.R.T. (Self-Monitoring, Analysis and Reporting Technology) monitors selected drive performance and "
         "calibration characteristics and predicts imminent drive failure. Each monitored characteristic is called "
         "Attribute.";
}

std::vector<SmartAttributeRow> nvmeHealthListRows(const NvmeHealth& health) {
  std::vector<SmartAttributeRow> rows;
  for (const NvmeHealthRow& field : nvmeHealthRows(health)) {
    SmartAttributeRow row;
    row.failed = field.failed;
    row.image = field.failed ? kRowImageFail : kRowImagePass;
    row.cells = {field.name, field.value};
    row.valueColumn = 1;
    if (field.failed) row.valueColour = kColourRed;
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string smartIdText(uint8_t id) {
  char text[8];
  std::snprintf(text, sizeof text, "%2X", static_cast<unsigned>(id));
  return text;
}

std::vector<SmartAttributeRow> smartAttributeRows(const SmartPages& pages, int originMark) {
  std::vector<SmartAttributeRow> rows;
  appendUnitRows(pages.dataPage(), pages.thresholdPage(), originMark, SmartUnit::First, rows);
  if (pages.secondUnitRead) {
    appendUnitRows(pages.secondDataPage(), pages.secondThresholdPage(), kNamesCacheFlash, SmartUnit::Second, rows);
  }
  return rows;
}

std::string smartDriveLabel(const DriveRecord& record) {
  return "Physical Drive " + decimal(record.physicalDriveNumber + 1) + ":";
}

std::string driveIdentityLine(const DriveRecord& record) {
  return std::string("Model: ") + record.model + "    Serial: " + record.serialNumber;
}

std::string cutThrough(const std::string& text, const std::string& marker) {
  const size_t at = text.find(marker);
  return at == std::string::npos ? text : text.substr(at + marker.size());
}

std::string memberIdentityLine(const std::string& model, const std::string& serial) {
  return "Model/Sn: " + cutThrough(model, kMemberModelMarker) + " / " + cutThrough(serial, kMemberSerialMarker);
}

bool smartMemberBoxShown(const DriveRecord& record) { return record.driveClass == kDriveClassRaid; }

uint8_t raidMemberDevice(int memberIndex) { return memberIndex == 1 ? kRaidMemberB : kRaidMemberA; }

std::optional<ListCell> smartVerdictCell(const SmartVerdict& verdict) {
  switch (verdict.row) {
    case SmartRowChange::Pass:
      return ListCell{" PASS", kImagePass, kColourBlue, ""};
    case SmartRowChange::Fail:
      return ListCell{" FAIL", kImageFail, kColourRed, ""};
    case SmartRowChange::Unchanged:
      break;
  }
  return std::nullopt;
}

SmartWindowModel::SmartWindowModel(Session& context, int driveIndex) : m_context(context), m_driveIndex(driveIndex) {}

void SmartWindowModel::tell(const char* message) {
  m_context.prompter().ask(message, m_context.platform().productTitle(), PromptIcon::Warning, PromptButtons::Ok, PromptAnswer::Ok,
                           PromptPurpose::information());
}

SmartFillOutcome SmartWindowModel::fillNvme(DriveRecord& drive) {
  ScopedHandle handle(m_context.platform(), openNvmeDrive(m_context.platform(), drive.physicalDriveNumber));
  if (!handle.valid()) {
    tell(kMsgSmartDriverNotOpened);
    return SmartFillOutcome::DriverNotOpened;
  }
  m_identityLine = driveIdentityLine(drive);
  const std::optional<NvmeHealth> health = readNvmeHealth(m_context.platform(), handle.get());
  if (!health) {
    tell(kMsgSmartInfoNotRead);
    return SmartFillOutcome::PagesNotRead;
  }
  m_nvmeHealth = health;
  m_rows = nvmeHealthListRows(*health);
  m_lastFailed.reset();
  const SmartVerdict verdict = nvmeHealthVerdict(*health);
  applySmartVerdict(drive, verdict);
  m_verdict = verdict;
  if (auto cell = smartVerdictCell(verdict)) m_mainListCell = std::move(cell);
  return SmartFillOutcome::Filled;
}

SmartFillOutcome SmartWindowModel::fill(int memberIndex) {
  const uint8_t device = raidMemberDevice(memberIndex);
  m_context.setRaidMemberSelect(device);
  DriveRecord& drive = record();
  if (smartWindowShowsNvmeHealth(drive)) return fillNvme(drive);
  const bool miniportMode = m_context.startup().miniportMode != 0;

  SmartWindowData data;
  const SmartWindowRead read = readSmartWindowData(m_context.platform(), drive, miniportMode, device, data);
  if (read == SmartWindowRead::DriverNotOpened) {
    tell(kMsgSmartDriverNotOpened);
    return SmartFillOutcome::DriverNotOpened;
  }
  if (drive.driveClass != kDriveClassRaid) {
    m_identityLine = driveIdentityLine(drive);
  } else {
    m_identityLine = data.memberIdentified ? memberIdentityLine(data.memberModel, data.memberSerial) : "";
  }
  if (read == SmartWindowRead::PagesNotRead) {
    tell(kMsgSmartInfoNotRead);
    return SmartFillOutcome::PagesNotRead;
  }
  const SmartPages& pages = data.pages;

  m_rows = smartAttributeRows(pages, drive.originMark);
  // Rows are listed second unit first; the last failed one listed is remembered.
  m_lastFailed.reset();
  for (const SmartUnit unit : {SmartUnit::Second, SmartUnit::First}) {
    for (const SmartAttributeRow& row : m_rows) {
      if (row.unit == unit && row.failed) m_lastFailed = std::make_pair(row.id, row.current);
    }
  }

  const SmartVerdict verdict = smartDialogVerdict(drive, pages, device);
  applySmartVerdict(drive, verdict);
  m_verdict = verdict;
  if (auto cell = smartVerdictCell(verdict)) m_mainListCell = std::move(cell);
  return SmartFillOutcome::Filled;
}

}  // namespace palvoro
