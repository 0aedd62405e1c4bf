#pragma once
// What the SMART window reads from a drive, kept apart from how the window shows it: the
// SMART pages of the shown unit (or RAID member) and, for the RAID enclosure, the
// member's own model and serial number.

#include <cstdint>
#include <string>

#include "discovery/drive_record.h"
#include "platform/platform.h"
#include "smart/smart_pages.h"

namespace palvoro {

enum class SmartWindowRead {
  Read,             // the pages arrived
  DriverNotOpened,  // the SMART path of the drive did not open; nothing was read
  PagesNotRead,     // the path opened (the member identity may be there) but the pages did not arrive
};

struct SmartWindowData {
  SmartPages pages;
  // The enclosure member's IDENTIFY DEVICE, parsed; empty when the drive is no enclosure
  // or the member did not answer.
  bool memberIdentified = false;
  std::string memberModel;
  std::string memberSerial;
};

// Opens the drive's SMART path, reads the member identity (RAID enclosure only, member
// `device`: A0h or B0h) and the SMART pages, and closes the path again.
SmartWindowRead readSmartWindowData(Platform& platform, DriveRecord& drive, bool miniportMode, uint8_t device,
                                    SmartWindowData& out);

}  // namespace palvoro
