#include "discovery/probe.h"

#include <cstring>
#include <string>

#include "device/ata_command.h"
#include "device/nvme_transport.h"
#include "device/scsi_transport.h"
#include "device/smart_transport.h"
#include "discovery/dual_unit.h"
#include "discovery/idema_capacity.h"
#include "discovery/identify.h"
#include "discovery/inquiry_identity.h"
#include "discovery/nvme_identity.h"
#include "discovery/raid_status.h"
#include "discovery/smart_verdict.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"
#include "protocol/byte_order.h"
#include "protocol/nvme_command.h"

namespace palvoro {
namespace {

constexpr uint32_t kWwnMakerNaaOui = 0x5000CCA;  // NAA 5, organisation identifier 000CCAh

bool contains(const char* text, const char* part) { return std::strstr(text, part) != nullptr; }

void copyText(char* field, size_t fieldSize, const uint8_t* src, size_t length) {
  // An explicit length into a zero-terminated buffer: an embedded zero ends the text.
  size_t n = 0;
  while (n < length && n + 1 < fieldSize && src[n] != 0) {
    field[n] = static_cast<char>(src[n]);
    ++n;
  }
  field[n] = '\0';
}

// The text at byte 5 of a RAID member page, at most 20 characters.
void memberSerial(const ProbeEnvironment& env, Handle handle, uint8_t page, char (&field)[21]) {
  uint8_t reply[26] = {};
  field[0] = '\0';
  if (!scsiInquiryVpd(env.platform, handle, page, sizeof reply, reply)) return;
  copyText(field, sizeof field, reply + 5, 20);
  keepPrintable(field, sizeof field);
}

[[nodiscard]] bool raidEnclosurePages(const ProbeEnvironment& env, Handle handle, uint8_t (&page)[11]) {
  std::memset(page, 0, sizeof page);
  return scsiInquiryVpd(env.platform, handle, 0x00, sizeof page, page);
}

AttributeVerdict judgeAttributes(const ProbeEnvironment& env, int driveNumber, Handle handle, int carrier,
                                 uint8_t unit) {
  if (env.judgeAttributes == nullptr) return AttributeVerdict::NotJudged;
  return env.judgeAttributes(env.platform, driveNumber, handle, carrier, unit, env.miniportMode, env.raidMemberSelect);
}

ProbeOutcome ataPath(const ProbeEnvironment& env, Handle handle, int driveNumber, DriveRecord& r,
                     const uint8_t (&identifyCopy)[512]) {
  uint8_t reply[512];
  std::memcpy(reply, identifyCopy, sizeof reply);
  const uint16_t rotation = parseIdentify(env.platform, handle, reply, r);
  r.identifiedSectors = r.totalSectors;
  if (deviceSignatureIsBridge(env.platform, handle, DiagnosticCarrier::Ata)) return ProbeOutcome::Skipped;
  r.isMakerSsd = rotation == 1 && contains(r.model, "VHT VHS") ? 1 : 0;
  // The rule measures bytes and the excess comes back in the drive's own sectors: a 4Kn
  // count taken as 512-byte units gave an excess the drive does not have, which the tests
  // then took for a second unit to verify and erase.
  r.hiddenSectors = idemaExcessSectors(r.totalSectors, r.sectorSize);
  dualUnitCheck(env.platform, handle, driveNumber, r, identifyCopy, rotation, env.compliance, env.miniportMode);
  // The world wide name leads with NAA 5 and the maker's organisation identifier.
  if (identifyWwnNaaAndOui(identifyCopy) == kWwnMakerNaaOui) r.originMark = 3;
  r.driveClass = kDriveClassAta;
  r.physicalDriveNumber = driveNumber;
  if (r.sectorSize == 0) r.sectorSize = 512;
  if (contains(r.model, "VH") && (identifyWord(identifyCopy, 133) & 0x0400) != 0) r.busType = kBusMakerSata;
  detectionSmart(env, handle, identifyCopy, r);
  return ProbeOutcome::Accepted;
}

ProbeOutcome raidPath(const ProbeEnvironment& env, Handle handle, DriveRecord& r) {
  uint8_t pages[11];
  // Read again for this path's own copy; a read that fails now leaves the page zeroed,
  // which is the enclosure's own peripheral type.
  (void)raidEnclosurePages(env, handle, pages);
  if ((pages[0] & 0x1F) != 0) return ProbeOutcome::Rejected;
  uint8_t inquiry[kInquiryBytes] = {};
  // A failed INQUIRY leaves the zeros, which the identity reads as blank texts.
  (void)scsiInquiry(env.platform, handle, inquiry);
  r.busType = adapterBusType(env.platform, handle);
  r.driveClass = kDriveClassRaid;
  r.ataTunnel = kCarrierSat12;
  inquiryIdentity(env.platform, handle, inquiry, InquiryForm::Enclosure, r);
  readCapacity(env.platform, env.prompter, handle, r);
  // As on every other path: a failed READ CAPACITY leaves no block length.
  if (r.sectorSize == 0) r.sectorSize = 512;
  memberSerial(env, handle, 0x01, r.memberSerialA);
  memberSerial(env, handle, 0x02, r.memberSerialB);
  readMemberSmart(env.platform, handle, r);
  return ProbeOutcome::Accepted;
}

// How both bridge paths begin: a bridge that also answers as a SAT bridge is left to the
// SAT path; otherwise its IDENTIFY is parsed into the record, and `kept` holds the data as
// the bridge sent it (parsing changes it) for the SMART check.
bool parseBridgeIdentify(const ProbeEnvironment& env, Handle handle, DriveRecord& r, uint8_t (&identify)[512],
                         uint8_t (&kept)[512]) {
  if (deviceSignatureIsBridge(env.platform, handle, DiagnosticCarrier::Sat)) return false;
  std::memcpy(kept, identify, sizeof kept);
  parseIdentify(env.platform, handle, identify, r);
  return true;
}

ProbeOutcome makerBridgePath(const ProbeEnvironment& env, Handle handle, DriveRecord& r, uint8_t (&identify)[512]) {
  uint8_t kept[512];
  if (!parseBridgeIdentify(env, handle, r, identify, kept)) return ProbeOutcome::Skipped;
  detectionSmart(env, handle, kept, r);
  uint8_t page[96] = {};
  if (scsiInquiryVpd(env.platform, handle, 0xC3, sizeof page, page) && loadBe16(page + 10) == 0x25F3) {
    r.originMark = 2;
  }
  uint8_t inquiry[kInquiryBytes] = {};
  // A failed INQUIRY leaves the zeros, which the identity reads as blank texts.
  (void)scsiInquiry(env.platform, handle, inquiry);
  r.busType = adapterBusType(env.platform, handle);
  // The carrier stays the one the bridge answered IDENTIFY on: a bridge that only takes
  // the vendor command block would fail every later ATA PASS-THROUGH (12).
  r.driveClass = r.busType == kBusFireWire ? kDriveClassFireWire : kDriveClassUsb;
  inquiryIdentity(env.platform, handle, inquiry, InquiryForm::Enclosure, r);
  readCapacity(env.platform, env.prompter, handle, r);
  if (r.sectorSize == 0) r.sectorSize = 512;
  return ProbeOutcome::Accepted;
}

ProbeOutcome otherBridgePath(const ProbeEnvironment& env, Handle handle, DriveRecord& r, uint8_t (&identify)[512]) {
  uint8_t kept[512];
  if (!parseBridgeIdentify(env, handle, r, identify, kept)) return ProbeOutcome::Skipped;
  r.identifiedSectors = r.totalSectors;
  r.driveClass = kDriveClassUsb;
  detectionSmart(env, handle, kept, r);
  uint8_t inquiry[kInquiryBytes] = {};
  if (scsiInquiry(env.platform, handle, inquiry)) readCapacity(env.platform, env.prompter, handle, r);
  if (r.sectorSize == 0) r.sectorSize = 512;
  return ProbeOutcome::Accepted;
}

// The texts the maker's bridges keep in their INQUIRY data: trimmed of white space, then
// made printable as every drive text is.
void trimBoth(char* text) {
  size_t start = 0;
  while (text[start] != '\0' && std::strchr(" \t\r\n\v\f", text[start]) != nullptr) ++start;
  if (start > 0) std::memmove(text, text + start, std::strlen(text + start) + 1);
  size_t n = std::strlen(text);
  while (n > 0 && std::strchr(" \t\r\n\v\f", text[n - 1]) != nullptr) text[--n] = '\0';
  keepPrintable(text, n);
}

void trimEnd(char* text) {
  size_t n = std::strlen(text);
  while (n > 0 && std::strchr(" \t\r\n\v\f", text[n - 1]) != nullptr) text[--n] = '\0';
  keepPrintable(text, n);
}

ProbeOutcome scsiPath(const ProbeEnvironment& env, Handle handle, DriveRecord& r) {
  uint8_t inquiry[kInquiryBytes] = {};
  if (!scsiInquiry(env.platform, handle, inquiry)) return ProbeOutcome::Rejected;
  if (deviceSignatureIsBridge(env.platform, handle, DiagnosticCarrier::Sat)) return ProbeOutcome::Skipped;
  if ((inquiry[0] & 0x1F) != 0) return ProbeOutcome::Rejected;
  copyText(r.model, sizeof r.model, inquiry + 58, 16);
  trimBoth(r.model);
  r.busType = adapterBusType(env.platform, handle);
  if (contains(r.model, "VH") && !contains(r.model, "CR") && (r.busType == kBusFireWire || r.busType == kBusUsb)) {
    copyText(r.serialNumber, sizeof r.serialNumber, inquiry + 40, 18);
    trimBoth(r.serialNumber);
    copyText(r.firmwareRevision, sizeof r.firmwareRevision, inquiry + 36, 4);
    trimEnd(r.firmwareRevision);
    r.driveClass = r.busType == kBusFireWire ? kDriveClassFireWire : kDriveClassUsb;
  } else {
    inquiryIdentity(env.platform, handle, inquiry, InquiryForm::GenericScsi, r);
    switch (r.busType) {
      case kBusScsi: r.driveClass = kDriveClassScsi; break;
      case kBusFireWire: r.driveClass = kDriveClassFireWire; break;
      case kBusUsb: r.driveClass = kDriveClassUsb; break;
      default: r.driveClass = kDriveClassOther; break;
    }
  }
  readCapacity(env.platform, env.prompter, handle, r);
  // A failed READ CAPACITY leaves no block length; every later transfer would then move
  // zero bytes and look like success.
  if (r.sectorSize == 0) r.sectorSize = 512;
  return ProbeOutcome::Accepted;
}

ProbeOutcome nvmePath(const ProbeEnvironment& env, Handle handle, int driveNumber, DriveRecord& r,
                      NvmeIdentifyPage controller) {
  r.driveClass = kDriveClassNvme;
  r.busType = kBusNvme;
  r.physicalDriveNumber = driveNumber;
  nvmeControllerIdentity(controller, r);
  uint8_t ns[kNvmeIdentifyBytes] = {};
  NvmeNamespaceFormat format;
  if (nvmeIdentifyNamespace(env.platform, handle, ns)) format = nvmeNamespaceFormat(NvmeIdentifyPage(ns, sizeof ns));
  if (format.sectorSize != 0) {
    r.totalSectors = format.sectors;
    r.sectorSize = static_cast<int32_t>(format.sectorSize);
  } else {
    // A namespace that does not say its format is measured the way every disk can be.
    readCapacity(env.platform, env.prompter, handle, r);
    if (r.sectorSize == 0) r.sectorSize = 512;
  }
  r.identifiedSectors = r.totalSectors;
  // The health verdict at detection is the critical-warning byte alone (byte 0 of the
  // SMART / Health Information log); the SMART window reads the whole log.
  uint8_t health[kNvmeHealthLogBytes] = {};
  if (nvmeGetLogPage(env.platform, handle, kNvmeLogHealth, sizeof health, health)) {
    r.smartAvailable = 1;
    r.smartHealthy = health[0] == 0 ? 1 : 0;
  }
  return ProbeOutcome::Accepted;
}

}  // namespace

int adapterBusType(Platform& platform, Handle handle) {
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageAdapterProperty;
  query.QueryType = PropertyStandardQuery;
  uint8_t reply[512] = {};
  uint32_t returned = 0;
  if (!platform.deviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, reply, sizeof reply,
                                &returned)) {
    return -1;
  }
  return reply[kAdapterDescriptorBusTypeOffset];
}

bool deviceSignatureIsBridge(Platform& platform, Handle handle, DiagnosticCarrier carrier) {
  if (carrier == DiagnosticCarrier::Ata) return ataDiagnosticSignatureIsBridge(platform, handle, 0);
  if (satPassThrough12(platform, handle, {.command = 0x90}, CarrierDirection::Unspecified, nullptr) == 0) return false;
  uint8_t block[512] = {};
  if (!satMemberProbe(platform, handle, 0, block)) return false;
  return block[3] == 0xCD && block[4] == 0xAB;
}

void detectionSmart(const ProbeEnvironment& env, Handle handle, const uint8_t (&identify)[512], DriveRecord& r) {
  r.vendorWord = identifyWord(identify, 133);
  r.smartAvailable = 0;
  r.smartStatus = kSmartStatusNone;
  if (!identifySmartSupported(identify)) return;
  if (r.driveClass == kDriveClassAta) {
    // The unit's own status, then its attributes: the list says what the SMART window
    // will, and an attribute at its threshold fails a drive that calls itself healthy.
    const auto verdict = [&](uint8_t unit, SmartStatus& status) {
      status = smartStatusOf(smartReturnStatusTri(env.platform, handle, env.miniportMode, r.physicalDriveNumber, unit));
      return smartHealthyOf(status, judgeAttributes(env, r.physicalDriveNumber, handle, -1, unit));
    };
    if (!smartEnableOperations(env.platform, handle, env.miniportMode, r.primaryUnit)) return;
    r.smartAvailable = 1;
    SmartStatus first = kSmartStatusNone;
    r.smartHealthy = verdict(r.primaryUnit, first);
    r.smartStatus = first;
    if (r.primaryUnit == 2 && r.smartHealthy == 1 &&
        smartEnableOperations(env.platform, handle, env.miniportMode, r.secondaryUnit)) {
      SmartStatus second = kSmartStatusNone;
      r.smartHealthy = verdict(r.secondaryUnit, second);
      r.smartStatus = combinedSmartStatus(first, second);
    }
    return;
  }
  if ((r.busType == kBusUsb || r.busType == kBusFireWire) &&
      carrierSmartEnable(env.platform, handle, carrierOf(r.ataTunnel), env.raidMemberSelect) != 0) {
    r.smartAvailable = 1;
    r.smartHealthy =
        smartHealthyOf(kSmartStatusNone, judgeAttributes(env, r.physicalDriveNumber, handle, r.ataTunnel, r.primaryUnit));
  }
}

ProbeOutcome probeDrive(const ProbeEnvironment& env, Handle handle, int driveNumber, DriveRecord& r) {
  r.busType = adapterBusType(env.platform, handle);
  r.originMark = 0;
  if (r.busType == kBusNvme) {
    // A controller that does not answer Identify is still a disk: the SCSI path below
    // takes it from what the driver's translation reports.
    uint8_t controller[kNvmeIdentifyBytes] = {};
    if (nvmeIdentifyController(env.platform, handle, controller)) {
      return nvmePath(env, handle, driveNumber, r, NvmeIdentifyPage(controller, sizeof controller));
    }
  }
  uint8_t inquiry[kInquiryBytes] = {};
  // A failed INQUIRY leaves the zeros, which the identity reads as blank texts.
  (void)scsiInquiry(env.platform, handle, inquiry);
  char vendor[8];
  std::memcpy(vendor, inquiry + 8, sizeof vendor);

  uint8_t smartReply[kSmartBufferSize] = {};
  if (smartIdentify(env.platform, handle, env.miniportMode, 0xEC, 0, smartReply)) {
    uint8_t identifyCopy[512];
    std::memcpy(identifyCopy, smartReply + 16, sizeof identifyCopy);
    return ataPath(env, handle, driveNumber, r, identifyCopy);
  }

  const bool makerVendor = std::memcmp(vendor, "VH      ", 8) == 0;
  const bool hpVendor = std::memcmp(vendor, "HP      ", 8) == 0;
  if (makerVendor) {
    uint8_t pages[11];
    if (raidEnclosurePages(env, handle, pages) && pages[0] == 0 && pages[5] == 0x01 && pages[6] == 0x02) {
      return raidPath(env, handle, r);
    }
  }
  uint8_t identify[512] = {};
  if (makerVendor || hpVendor) {
    r.ataTunnel = probeCarrier(env.platform, handle, env.raidMemberSelect, identify);
    if (r.ataTunnel != 0) return makerBridgePath(env, handle, r, identify);
  }
  r.ataTunnel = probeCarrier(env.platform, handle, env.raidMemberSelect, identify);
  if (r.ataTunnel != 0) return otherBridgePath(env, handle, r, identify);
  return scsiPath(env, handle, r);
}

}  // namespace palvoro
