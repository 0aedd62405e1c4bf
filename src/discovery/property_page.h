#pragma once
// What the drive property page ("General", shown alone in a property sheet) displays for
// one drive of the table, without any widget: the sheet title, the text of every field,
// which RAID rows show, and the volume list. openPropertyPage also does what the page
// does when it opens: it refreshes the enclosure's RAID status and every drive's letters.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "discovery/drive_record.h"
#include "discovery/volumes.h"
#include "platform/platform.h"
#include "platform/prompter.h"

namespace palvoro {

struct PropertyPage {
  std::string sheetTitle;        // "Drive 1 Properties"
  std::string drive;             // "#1"
  std::string deviceType;        // bus name, "RAID-USB" for the enclosure
  std::string capacity;          // "%0.2f GB", decimal gigabytes
  std::string firmwareRevision;
  std::string healthStatus;
  std::string serialNumber;      // without leading white space
  bool raidRowsVisible = false;  // RAID Setting and both member serials; enclosure only
  std::string raidSetting;       // enclosure: level name
  std::string memberSerialA;     // enclosure: spaces removed, or "Not Found"
  std::string memberSerialB;
  std::vector<VolumeRow> volumes;
  // What the drive hides from the host (an ATA drive's HPA and DCO), read when the page
  // opens; "" from propertyPageFields, which talks to no drive.
  std::string hiddenAreas;
};

// The name of a bus type: "UNKNOWN", "SCSI", ... "SATA" for 0..11, "SATA" for 83, and
// "UNKNOWN" for anything else (-1 after a failed bus query included).
const char* busTypeName(int32_t busType);

// The property sheet's title for table index `index`: string 232, index + 1, string 233.
std::string propertySheetTitle(int index);

// A member serial as the page shows it: every space removed, "Not Found" when nothing is
// left. `serial` is one of the record's 21-byte member serial fields.
std::string memberSerialText(const char (&serial)[21]);

// The page's texts for record `index` as the table holds it now, volume rows included.
// Does not talk to any drive. Nothing for an index outside the table.
[[nodiscard]] std::optional<PropertyPage> propertyPageFields(Platform& platform, const DriveTable& table, int index);

// Opens the page for record `index`: for the RAID enclosure, reads its status through
// devicePath (when that does not open, tells the user string 124 and sets raidState to 8),
// then maps every drive's volumes and returns the page's texts. Nothing for an index
// outside the table.
[[nodiscard]] std::optional<PropertyPage> openPropertyPage(Platform& platform, Prompter& prompter, DriveTable& table,
                                                           int index);

}  // namespace palvoro
