#include "discovery/dual_unit.h"

#include <cstring>
#include <string_view>

#include "device/ata_command.h"
#include "device/drive_requests.h"
#include "device/smart_transport.h"
#include "discovery/idema_capacity.h"
#include "platform/scoped_handle.h"
#include "protocol/ata_commands.h"

namespace palvoro {
namespace {

// 2048 sectors of 512 bytes: 1 MiB.
constexpr uint64_t kAlignmentMask = 2048 - 1;

constexpr uint8_t kSwitchOn = 1;
constexpr uint8_t kSwitchOff = 0;

std::string_view modelOf(const DriveRecord& record) {
  const void* end = std::memchr(record.model, 0, sizeof record.model);
  const size_t length = end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - record.model)
                                       : sizeof record.model;
  return {record.model, length};
}

// IDENTIFY DEVICE of unit 0 through the SMART driver interface (the miniport path for a
// user without rights), the way the probe first read it. The 512 data bytes follow the
// 16-byte output header.
[[nodiscard]] bool smartIdentifyUnit0(Platform& platform, int driveNumber, bool miniportMode,
                                      uint8_t (&reply)[kIdentifyBytes]) {
  ScopedHandle smartPath(platform, openSmartPath(platform, driveNumber, miniportMode));
  if (!smartPath.valid()) return false;
  uint8_t buffer[kSmartBufferSize];
  if (!smartIdentify(platform, smartPath.get(), miniportMode, kAtaIdentifyDevice, 0, buffer)) return false;
  std::memcpy(reply, buffer + kSendCmdOutHeaderSize, kIdentifyBytes);
  return true;
}

// The first unit is solid state and the rotating second unit is the one the tests work
// on; the first unit's sectors lie before it. `firstSectors` and `secondSectors` are the
// counts the two units reported.
void splitSolidStateFirst(Platform& platform, Handle handle, int driveNumber, DriveRecord& record,
                          uint64_t firstSectors, uint64_t secondSectors, bool miniportMode) {
  record.primaryUnit = 2;
  record.secondaryUnit = 0;

  if (firstSectors == secondSectors) {
    // Both units report the same count while the drive hides its real split; with the
    // maker's SCT switch on they report their own sizes. The switch is turned off again
    // whatever the reads gave, and a read that fails leaves what the first reads gave.
    (void)sctVendorSwitch(platform, driveNumber, miniportMode, kSwitchOn);

    uint8_t first[kIdentifyBytes] = {};
    if (smartIdentifyUnit0(platform, driveNumber, miniportMode, first)) {
      parseIdentify(platform, handle, first, record);
      firstSectors = record.totalSectors;
    }

    // The record ends up with the texts and sector size of the unit the tests work on,
    // and that unit's count.
    uint8_t second[kIdentifyBytes] = {};
    if (ataIdentifyUnit2(platform, handle, second)) {
      DriveRecord unit2{};
      parseIdentifyReply(second, unit2, false);
      std::memcpy(record.model, unit2.model, sizeof record.model);
      std::memcpy(record.serialNumber, unit2.serialNumber, sizeof record.serialNumber);
      std::memcpy(record.firmwareRevision, unit2.firmwareRevision, sizeof record.firmwareRevision);
      record.sectorSize = unit2.sectorSize;
      secondSectors = unit2.totalSectors;
    }

    (void)sctVendorSwitch(platform, driveNumber, miniportMode, kSwitchOff);
  }

  // The tests start at sector hiddenSectors when unit 2 comes first. A first unit that
  // reports more than the second reports the whole drive, the solid-state part being the
  // difference; otherwise it reports its own size.
  record.totalSectors = secondSectors;
  record.hiddenSectors = firstSectors > secondSectors ? firstSectors - secondSectors : firstSectors;
}

}  // namespace

void dualUnitCheck(Platform& platform, Handle handle, int driveNumber, DriveRecord& record,
                   const uint8_t (&firstReply)[kIdentifyBytes], uint16_t firstRotationRate,
                   const ComplianceTable* table, bool miniportMode) {
  // A drive that does not answer for unit 2 has no second unit; it keeps what the IDEMA
  // rule gave.
  uint8_t second[kIdentifyBytes] = {};
  if (!ataIdentifyUnit2(platform, handle, second)) return;

  // A drive without a second unit ignores the unit select and answers the same again.
  if (std::memcmp(second, firstReply, kIdentifyBytes) == 0) {
    record.hiddenSectors = 0;
    return;
  }

  // Only the second unit's count and rotation rate are wanted; its texts are dropped.
  DriveRecord unit2{};
  const uint16_t secondRotationRate = parseIdentifyReply(second, unit2, false);
  const uint64_t firstSectors = record.totalSectors;
  const uint64_t secondSectors = unit2.totalSectors;
  const bool solidStateFirst = firstRotationRate == 1 && secondRotationRate > 1;

  if (complianceMatch(table, modelOf(record))) {
    record.identifiedSectors = firstSectors;
    if (firstRotationRate > 1) {
      adjustForSecondUnit(record, secondSectors);
    } else if (solidStateFirst) {
      splitSolidStateFirst(platform, handle, driveNumber, record, firstSectors, secondSectors, miniportMode);
    }
    // A listed hybrid drive always has its second unit verified and erased, which the
    // tests do for a drive whose hiddenSectors is not 0.
    if (record.hiddenSectors == 0) record.hiddenSectors = 1;
  } else if (solidStateFirst) {
    splitSolidStateFirst(platform, handle, driveNumber, record, firstSectors, secondSectors, miniportMode);
  }
}

void adjustForSecondUnit(DriveRecord& record, uint64_t secondUnitSectors) {
  record.hiddenSectors = secondUnitSectors;
  record.primaryUnit = 0;
  record.secondaryUnit = 2;

  const uint64_t total = record.totalSectors;
  // A second unit larger than the whole count cannot lie inside it: there is nothing
  // sensible to take away, and a wrapped count would send the tests past the drive's end.
  if (secondUnitSectors > total) return;

  // Firmware 02 reports the whole drive; when taking the second unit away leaves a count
  // aligned to 1 MiB, that is the first unit.
  if (std::strncmp(record.firmwareRevision, "02", 2) == 0) {
    const uint64_t rest = total - secondUnitSectors;
    if ((rest & ~kAlignmentMask) == rest) {
      record.totalSectors = rest;
      return;
    }
  }

  // A first unit that reports exactly a standard capacity already leaves the second unit
  // out. Counts below the 50 GB base are never one: the rule does not reach below it.
  if (isIdemaCapacity(total, record.sectorSize)) return;
  record.totalSectors = total - secondUnitSectors;
}

}  // namespace palvoro
