#include "discovery/raid_status.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "device/drive_handle.h"
#include "device/scsi_transport.h"
#include "discovery/identify.h"
#include "protocol/ata_commands.h"

namespace palvoro {
namespace {

constexpr uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;

constexpr const char* kStateNames[] = {
    "Healthy",           // 0
    "Not Configured",    // 1
    "Unknown Setting",   // 2
    "Setting Mismatched", // 3
    "Bad",               // 4
    "Degraded",          // 5
    "Rebuilding",        // 6
    "Rebuilding Failed", // 7
    "Unknown",           // 8
};
constexpr const char* kLevelNames[] = {"Unknown", "RAID 0", "RAID 1"};
constexpr const char* kUnnamed = "Unknown";

// Status page 82h: byte 4 holds the state in bits 0..3 and the level code in bits 6..7,
// byte 5 the rebuild progress in percent.
constexpr size_t kStatusByte = 4;
constexpr size_t kRebuildByte = 5;

// VPD 80h: byte 1 the page code, the serial text from byte 4.
constexpr uint8_t kVpdSerialPage = 0x80;
constexpr size_t kVpdSerialTextAt = 4;

// SMART RETURN STATUS (T13 ACS): feature DAh, the key 4Fh/C2h in LBA mid/high, command B0h.
// A drive whose thresholds hold returns the key unchanged; F4h/2Ch means exceeded.
// Non-data: the SCSI data direction "unspecified".
constexpr CarrierDirection kNoData = CarrierDirection::Unspecified;

// Where the enclosure's result block keeps the registers: error, count, LBA low, LBA mid,
// LBA high, device, status from byte 0. The key is read back from LBA mid and high, the
// same bytes the bridge check reads the CDh/ABh signature from.
constexpr size_t kResultLbaMid = 3;
constexpr size_t kResultLbaHigh = 4;
constexpr size_t kResultStatus = 6;
constexpr uint8_t kStatusErr = 0x01;

[[nodiscard]] bool equalsIgnoringCase(const char* a, const char* b, size_t bSize) {
  const size_t bLength = strnlen(b, bSize);
  if (std::strlen(a) != bLength) return false;
  for (size_t i = 0; i < bLength; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

const char* raidStateName(int32_t state) {
  constexpr int32_t kCount = static_cast<int32_t>(sizeof kStateNames / sizeof kStateNames[0]);
  return state >= 0 && state < kCount ? kStateNames[state] : kUnnamed;
}

const char* raidLevelName(int32_t level) {
  constexpr int32_t kCount = static_cast<int32_t>(sizeof kLevelNames / sizeof kLevelNames[0]);
  return level >= 0 && level < kCount ? kLevelNames[level] : kUnnamed;
}

bool readRaidStatus(Platform& platform, Handle handle, DriveRecord& record) {
  uint8_t page[kRaidStatusBytes] = {};
  if (!scsiReceiveDiagnostic(platform, handle, kRaidStatusPage, kRaidStatusBytes, page)) return false;
  if (page[0] != kRaidStatusPage) return false;
  record.raidState = page[kStatusByte] & 0x0F;
  record.raidLevel = static_cast<uint16_t>(((page[kStatusByte] >> 6) & 0x03) + 1);
  record.raidRebuildPercent = page[kRebuildByte];
  return true;
}

void scanRaidInterfaces(Platform& platform, DriveTable& table) {
  for (const std::string& path : platform.deviceInterfaces(GUID_RAID_STATUS_INTERFACE)) {
    DriveHandle status(platform);
    if (!status.openShared(path, kReadWrite, 0, OPEN_EXISTING)) continue;
    uint8_t page[kRaidSerialPageBytes] = {};
    if (!scsiInquiryVpd(platform, status.handle(), kVpdSerialPage, kRaidSerialPageBytes, page) ||
        page[1] != kVpdSerialPage) {
      continue;
    }
    char serial[kRaidSerialPageBytes - kVpdSerialTextAt + 1];
    storeReplyText(page + kVpdSerialTextAt, sizeof page - kVpdSerialTextAt, sizeof serial - 1, TextTrim::Both,
                   serial, sizeof serial);
    // A blank serial would match the first record without one, which may be any drive.
    if (serial[0] == '\0') continue;
    for (DriveRecord& record : table.records) {
      if (!equalsIgnoringCase(serial, record.serialNumber, sizeof record.serialNumber)) continue;
      std::memset(record.devicePath, 0, sizeof record.devicePath);
      std::memcpy(record.devicePath, path.data(), std::min(path.size(), sizeof record.devicePath - 1));
      // A page that does not come back leaves the status detection found.
      (void)readRaidStatus(platform, status.handle(), record);
      break;
    }
  }
}

SmartStatus memberResultStatus(const uint8_t (&block)[512]) {
  if ((block[kResultStatus] & kStatusErr) != 0) return kSmartStatusNone;
  if (block[kResultLbaMid] == kSmartKeyMid && block[kResultLbaHigh] == kSmartKeyHigh) return kSmartStatusHealthy;
  if (block[kResultLbaMid] == kSmartExceededMid && block[kResultLbaHigh] == kSmartExceededHigh) return kSmartStatusExceeded;
  return kSmartStatusNone;
}

void readMemberSmart(Platform& platform, Handle handle, DriveRecord& record) {
  const AtaRegisters statusOfA{.features = kSmartReturnStatus, .lbaMid = kSmartKeyMid, .lbaHigh = kSmartKeyHigh,
                               .device = kRaidMemberA, .command = kAtaSmart};
  if (!satPassThrough12(platform, handle, statusOfA, kNoData, nullptr)) {
    record.smartAvailable = 0;
    return;
  }
  // A probe that fails leaves the block zeroed, which reads as no verdict.
  uint8_t block[512] = {};
  (void)satMemberProbe(platform, handle, 0, block);
  record.smartStatus = memberResultStatus(block);
  record.smartHealthy = smartHealthyOf(static_cast<SmartStatus>(record.smartStatus), AttributeVerdict::NotJudged);

  // Member B's command goes with count 1 and its outcome is left unchecked: a failure
  // shows in member B's result block, whose ERR bit or changed key makes the verdict 0.
  const AtaRegisters statusOfB{.features = kSmartReturnStatus, .count = 1, .lbaMid = kSmartKeyMid,
                               .lbaHigh = kSmartKeyHigh, .device = kRaidMemberB, .command = kAtaSmart};
  (void)satPassThrough12(platform, handle, statusOfB, kNoData, nullptr);
  std::memset(block, 0, sizeof block);
  (void)satMemberProbe(platform, handle, 1, block);
  record.memberBSmartStatus = memberResultStatus(block);
  record.raidMemberBHealthy =
      smartHealthyOf(static_cast<SmartStatus>(record.memberBSmartStatus), AttributeVerdict::NotJudged);

  record.smartAvailable = 1;
}

}  // namespace palvoro
