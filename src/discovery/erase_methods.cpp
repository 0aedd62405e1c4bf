#include "discovery/erase_methods.h"

#include <algorithm>

#include "device/drive_handle.h"
#include "platform/win_types.h"

namespace palvoro {
namespace {

std::string sectorsText(uint64_t sectors) { return std::to_string(sectors) + (sectors == 1 ? " sector" : " sectors"); }

}  // namespace

const std::vector<PurgeMethod>& listedPurgeMethods() {
  // Physical erasure of every block first, then the cryptographic one, then the drive's own
  // overwrite, then the erases older drives have. The program's overwrite is never a Purge.
  static const std::vector<PurgeMethod> order = {
      PurgeMethod::Overwrite,         PurgeMethod::SanitizeBlock, PurgeMethod::SanitizeCrypto,
      PurgeMethod::SanitizeOverwrite, PurgeMethod::FormatCrypto,  PurgeMethod::Format,
      PurgeMethod::SecurityEraseEnhanced, PurgeMethod::SecurityErase,
  };
  return order;
}

const MethodSupport* DriveEraseMethods::find(PurgeMethod method) const {
  for (const MethodSupport& support : methods) {
    if (support.method == method) return &support;
  }
  return nullptr;
}

std::unique_ptr<PurgeDevice> purgeDeviceOf(Platform& platform, Handle handle, const DriveRecord& record,
                                           uint8_t raidMemberSelect) {
  if (record.hiddenSectors != 0) {
    return refusingPurgeDevice("a drive with a second unit is erased by its own two-step overwrite");
  }
  switch (record.driveClass) {
    case kDriveClassNvme:
      return nvmePurgeDevice(platform, handle);
    case kDriveClassAta:
      return ataPurgeDevice(platform, handle, {AtaRoute::Kind::PassThrough, record.primaryUnit, kCarrierNone, 0});
    case kDriveClassUsb:
    case kDriveClassFireWire:
      if (record.ataTunnel != kCarrierNone) {
        return ataPurgeDevice(platform, handle, {AtaRoute::Kind::Carrier, 0, carrierOf(record.ataTunnel), raidMemberSelect});
      }
      return scsiPurgeDevice(platform, handle);
    case kDriveClassScsi:
    case kDriveClassOther:
      return scsiPurgeDevice(platform, handle);
    case kDriveClassRaid:
      return refusingPurgeDevice("the enclosure's drives are erased by their own commands only one at a time, "
                                 "each taken out of the enclosure");
    default:
      return refusingPurgeDevice("no command of the drive's own reaches it");
  }
}

PurgeMethod strongestPurge(const std::vector<MethodSupport>& methods) {
  for (const PurgeMethod method : listedPurgeMethods()) {
    if (method == PurgeMethod::Overwrite) continue;
    for (const MethodSupport& support : methods) {
      if (support.method == method && support.offered) return method;
    }
  }
  return PurgeMethod::Overwrite;
}

DriveEraseMethods eraseMethodsOf(Platform& platform, const DriveRecord& record, uint8_t raidMemberSelect) {
  DriveEraseMethods result;
  DriveHandle drive(platform);
  std::vector<MethodSupport> own;
  if (drive.openShared(physicalDrivePath(record.physicalDriveNumber), GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING)) {
    const std::unique_ptr<PurgeDevice> device = purgeDeviceOf(platform, drive.handle(), record, raidMemberSelect);
    own = device->methods();
    result.hidden = device->hiddenAreas();
    result.worldWideName = device->worldWideName();
    drive.close();
  } else {
    own = refusingPurgeDevice("the drive did not open")->methods();
  }
  for (const PurgeMethod method : listedPurgeMethods()) {
    if (method == PurgeMethod::Overwrite) {
      result.methods.push_back({method, true, "", 0});
      continue;
    }
    const auto it = std::find_if(own.begin(), own.end(), [method](const MethodSupport& s) { return s.method == method; });
    result.methods.push_back(it != own.end() ? *it : MethodSupport{method, false, "the drive has no such command", 0});
  }
  result.defaultMethod = strongestPurge(result.methods);
  return result;
}

std::string hiddenAreaWarning(const HiddenAreas& hidden) {
  if (hidden.hpaSectors() == 0 && hidden.dcoHiddenSectors() == 0) return "";
  std::string text = "The drive hides ";
  if (hidden.hpaSectors() != 0) text += sectorsText(hidden.hpaSectors()) + " in a Host Protected Area";
  if (hidden.dcoHiddenSectors() != 0) {
    text += std::string(hidden.hpaSectors() != 0 ? " and " : "") + sectorsText(hidden.dcoHiddenSectors()) +
            " behind a Device Configuration Overlay";
  }
  return text + ". An overwrite reaches a Host Protected Area only when it is lifted for the run; the drive's own "
                "sanitize and format reach every hidden sector.";
}

std::optional<HiddenAreas> hiddenAreasOf(Platform& platform, const DriveRecord& record, uint8_t raidMemberSelect) {
  const bool ata = record.driveClass == kDriveClassAta ||
                   ((record.driveClass == kDriveClassUsb || record.driveClass == kDriveClassFireWire) &&
                    record.ataTunnel != kCarrierNone);
  if (!ata || record.hiddenSectors != 0) return std::nullopt;
  DriveHandle drive(platform);
  if (!drive.openShared(physicalDrivePath(record.physicalDriveNumber), GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING)) {
    return std::nullopt;
  }
  std::optional<HiddenAreas> hidden = purgeDeviceOf(platform, drive.handle(), record, raidMemberSelect)->hiddenAreas();
  drive.close();
  return hidden;
}

std::string hiddenAreaText(const std::optional<HiddenAreas>& hidden) {
  if (!hidden || (!hidden->hpaKnown && !hidden->dcoKnown)) return "Not reported";
  const auto part = [](bool known, uint64_t sectors) {
    return !known ? std::string("not reported") : sectors == 0 ? std::string("none") : sectorsText(sectors);
  };
  return "Host Protected Area: " + part(hidden->hpaKnown, hidden->hpaSectors()) +
         "; Device Configuration Overlay: " + part(hidden->dcoKnown, hidden->dcoHiddenSectors());
}

}  // namespace palvoro
