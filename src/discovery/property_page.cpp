#include "discovery/property_page.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "device/drive_handle.h"
#include "discovery/erase_methods.h"
#include "discovery/raid_status.h"
#include "resources/string_table.h"

namespace palvoro {
namespace {

constexpr const char* kBusNames[] = {"UNKNOWN", "SCSI", "ATAPI", "ATA",   "FireWire", "SSA",
                                     "FIBRE",   "USB",  "RAID",  "iSCSI", "SAS",      "SATA"};
constexpr const char* kNotFound = "Not Found";

// A record's text field, never read past its buffer even when the terminator is missing.
template <size_t N>
std::string fieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

[[nodiscard]] bool isEnclosure(const DriveRecord& record) { return record.driveClass == kDriveClassRaid; }

std::string healthText(const DriveRecord& record) {
  if (!isEnclosure(record)) return record.smartHealthy == 1 ? "Good" : "Warning";
  if (record.raidState == kRaidRebuilding) {
    char text[64];
    std::snprintf(text, sizeof text, "%s (%d%% completed)", raidStateName(kRaidRebuilding),
                  static_cast<int>(record.raidRebuildPercent));
    return text;
  }
  return raidStateName(record.raidState);
}

std::string capacityText(const DriveRecord& record) {
  // In floating point: sectors times sector size can pass 2^64 on a nonsense record.
  const double bytes = static_cast<double>(record.identifiedSectors) * static_cast<double>(record.sectorSize);
  char text[64];
  std::snprintf(text, sizeof text, "%0.2f GB", bytes / 1e9);
  return text;
}

[[nodiscard]] bool validIndex(const DriveTable& table, int index) {
  return index >= 0 && index < table.driveCount();
}

}  // namespace

const char* busTypeName(int32_t busType) {
  constexpr int32_t kCount = static_cast<int32_t>(sizeof kBusNames / sizeof kBusNames[0]);
  if (busType == kBusMakerSata) return kBusNames[kBusSata];
  if (busType == kBusNvme) return "NVMe";
  return busType >= 0 && busType < kCount ? kBusNames[busType] : kBusNames[kBusUnknown];
}

std::string propertySheetTitle(int index) {
  char text[128];
  std::snprintf(text, sizeof text, "%s %d %s", loadString(kStrDrive), index + 1, loadString(kStrProperties));
  return text;
}

std::string memberSerialText(const char (&serial)[21]) {
  std::string text;
  for (char c : fieldText(serial)) {
    if (c != ' ') text.push_back(c);
  }
  return text.empty() ? kNotFound : text;
}

std::optional<PropertyPage> propertyPageFields(Platform& platform, const DriveTable& table, int index) {
  if (!validIndex(table, index)) return std::nullopt;
  const DriveRecord& record = table.records[index];
  PropertyPage page;
  page.sheetTitle = propertySheetTitle(index);
  page.drive = "#" + std::to_string(index + 1);
  page.deviceType = busTypeName(record.busType);
  if (isEnclosure(record)) page.deviceType = "RAID-" + page.deviceType;
  page.capacity = capacityText(record);
  page.firmwareRevision = fieldText(record.firmwareRevision);
  page.healthStatus = healthText(record);
  const std::string serial = fieldText(record.serialNumber);
  size_t first = 0;
  while (first < serial.size() && std::isspace(static_cast<unsigned char>(serial[first])) != 0) ++first;
  page.serialNumber = serial.substr(first);
  page.raidRowsVisible = isEnclosure(record);
  if (page.raidRowsVisible) {
    page.raidSetting = raidLevelName(record.raidLevel);
    page.memberSerialA = memberSerialText(record.memberSerialA);
    page.memberSerialB = memberSerialText(record.memberSerialB);
  }
  page.volumes = volumeRows(platform, record);
  return page;
}

std::optional<PropertyPage> openPropertyPage(Platform& platform, Prompter& prompter, DriveTable& table, int index) {
  if (!validIndex(table, index)) return std::nullopt;
  DriveRecord& record = table.records[index];
  if (isEnclosure(record)) {
    DriveHandle status(platform);
    const std::string path = fieldText(record.devicePath);
    // No interface was found at detection: an empty path cannot open, and is not handed
    // to the file system at all.
    if (path.empty() || !status.openShared(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING)) {
      prompter.ask(loadString(kStrRaidStatusUnavailable), platform.productTitle(), PromptIcon::Warning, PromptButtons::Ok,
                   PromptAnswer::Ok, PromptPurpose::information());
      record.raidState = kRaidStatusUnknown;
    } else {
      // A page that does not come back leaves the status detection found.
      (void)readRaidStatus(platform, status.handle(), record);
    }
  }
  mapVolumes(platform, table);
  std::optional<PropertyPage> page = propertyPageFields(platform, table, index);
  if (page) page->hiddenAreas = hiddenAreaText(hiddenAreasOf(platform, record, kRaidMemberA));
  return page;
}

}  // namespace palvoro
