#include "service/self_test_start.h"

#include "device/drive_requests.h"
#include "device/nvme_transport.h"
#include "platform/scoped_handle.h"
#include "protocol/ata_commands.h"
#include "protocol/nvme_command.h"
#include "smart/smart_pages.h"

namespace palvoro {

SelfTestStart startShortSelfTest(Session& session, const DriveRecord& drive) {
  Platform& platform = session.platform();
  if (drive.driveClass == kDriveClassNvme) {
    ScopedHandle handle(platform, openNvmeDrive(platform, drive.physicalDriveNumber));
    if (!handle.valid()) return SelfTestStart::NoDrive;
    return nvmeDeviceSelfTest(platform, handle.get(), kNvmeSelfTestShort).succeeded() ? SelfTestStart::Started
                                                                                      : SelfTestStart::Refused;
  }
  const bool ataPath = drive.driveClass == kDriveClassAta || drive.driveClass == kDriveClassUsb ||
                       drive.driveClass == kDriveClassFireWire;
  if (!ataPath || drive.smartAvailable == 0) return SelfTestStart::NotOffered;
  const bool miniport = session.startup().miniportMode != 0;
  ScopedHandle handle(platform, openSmartPath(platform, drive.physicalDriveNumber, miniport));
  if (!handle.valid()) return SelfTestStart::NoDrive;
  return startSelfTest(platform, handle.get(), drive, miniport, session.raidMemberSelect(), drive.primaryUnit,
                       kSelfTestShort)
             ? SelfTestStart::Started
             : SelfTestStart::Refused;
}

const char* selfTestStartText(SelfTestStart start) {
  switch (start) {
    case SelfTestStart::Started: return "started";
    case SelfTestStart::NotOffered: return "not offered";
    case SelfTestStart::NoDrive: return "drive not opened";
    case SelfTestStart::Refused: return "refused";
  }
  return "refused";
}

}  // namespace palvoro
