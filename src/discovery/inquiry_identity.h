#pragma once
// Identity and capacity of a drive that answers SCSI commands rather than ATA ones (SPC,
// SBC): model, serial number and firmware texts from standard INQUIRY data and the unit
// serial number page (VPD 80h), and the sector count from READ CAPACITY (10)/(16).

#include <cstddef>
#include <cstdint>

#include "discovery/drive_record.h"
#include "platform/platform.h"
#include "platform/prompter.h"

namespace palvoro {

inline constexpr size_t kInquiryBytes = 74;        // standard INQUIRY data asked for
inline constexpr uint8_t kVpdUnitSerialNumber = 0x80;
inline constexpr size_t kVpdSerialPageBytes = 70;  // asked for when reading the serial page

// Which bytes of an INQUIRY reply hold the identity.
enum class InquiryForm {
  GenericScsi,  // vendor and product, VPD 80h serial, vendor exceptions by bus type
  Enclosure,    // the maker's RAID enclosure and the maker's and HP's USB bridges
};

// Fills `model`, `serialNumber` and `firmwareRevision` from `inquiry`. The generic form
// also reads VPD page 80h on `handle` (a page that cannot be read leaves the serial empty)
// and applies the vendor exceptions of `record.busType`, which must already be set.
void inquiryIdentity(Platform& platform, Handle handle, const uint8_t (&inquiry)[kInquiryBytes],
                     InquiryForm form, DriveRecord& record);

// The same without a drive: `serialPage` is the VPD 80h reply (kVpdSerialPageBytes bytes,
// zero-filled beyond what the device returned), or null when the page could not be read.
void inquiryIdentityFromReplies(const uint8_t (&inquiry)[kInquiryBytes], InquiryForm form,
                                const uint8_t* serialPage, DriveRecord& record);

// Fills `totalSectors`, `identifiedSectors` and `sectorSize` from READ CAPACITY (10), or
// (16) when (10) reports FFFFFFFFh (above 2 TB). A failed command is reported to the user
// ("ReadCapacity failed!" / "ReadCapacity16 failed!") and counts as last LBA 0, so the drive
// is still entered, with 1 sector. sectorSize is the block length of (10), 0 when it failed.
void readCapacity(Platform& platform, Prompter& prompter, Handle handle, DriveRecord& record);

}  // namespace palvoro
