#include "smart/smart_window_read.h"

#include "device/drive_requests.h"
#include "device/scsi_transport.h"
#include "discovery/identify.h"
#include "platform/scoped_handle.h"
#include "protocol/ata_commands.h"

namespace palvoro {
namespace {


// The member's IDENTIFY DEVICE through the enclosure's carrier.
void readMemberIdentity(Platform& platform, Handle handle, const DriveRecord& drive, uint8_t device,
                        SmartWindowData& out) {
  uint8_t identify[kIdentifyBytes] = {};
  const AtaRegisters identifyMember{.count = 1, .device = device, .command = kAtaIdentifyDevice};
  const AtaCarrier carrier = carrierOf(drive.ataTunnel);
  if (carrierCommand(platform, handle, carrier, identifyMember, CarrierDirection::In, identify) == 0) {
    return;
  }
  // Parsed into a scratch record: the enclosure's own entry keeps its identity.
  DriveRecord member{};
  member.busType = drive.busType;
  parseIdentifyReply(identify, member, false);
  out.memberIdentified = true;
  out.memberModel = member.model;
  out.memberSerial = member.serialNumber;
}

}  // namespace

SmartWindowRead readSmartWindowData(Platform& platform, DriveRecord& drive, bool miniportMode, uint8_t device,
                                    SmartWindowData& out) {
  ScopedHandle handle(platform, openSmartPath(platform, drive.physicalDriveNumber, miniportMode));
  if (!handle.valid()) return SmartWindowRead::DriverNotOpened;
  if (drive.driveClass == kDriveClassRaid) readMemberIdentity(platform, handle.get(), drive, device, out);
  if (!readSmartPages(platform, handle.get(), drive, miniportMode, device, out.pages)) {
    return SmartWindowRead::PagesNotRead;
  }
  return SmartWindowRead::Read;
}

}  // namespace palvoro
