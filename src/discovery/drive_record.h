#pragma once
// The drive table: what detection learned of every drive, read by every other subsystem.
// Fields keep the order, widths (including the terminator) and types the rest of the
// system relies on; strings are single-byte and zero-terminated.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace palvoro {

// How a drive is reached (`driveClass`).
enum DriveClass : int32_t {
  kDriveClassNone = 0,      // empty table entry
  kDriveClassAta = 1,       // answers IDENTIFY DEVICE through the SMART driver interface
  kDriveClassUsb = 2,       // ATA drive behind a USB bridge, or SCSI-reached drive on USB
  kDriveClassFireWire = 3,  // drive on the FireWire bus
  kDriveClassScsi = 4,      // drive on a SCSI bus
  kDriveClassOther = 5,     // drive on any other bus
  kDriveClassRaid = 6,      // the two-drive RAID enclosure
  kDriveClassNvme = 7,      // NVMe controller namespace: Identify, log pages, Device Self-test
};

// Storage bus types as the operating system numbers them (`busType`), plus 83.
enum BusType : int32_t {
  kBusUnknown = 0,
  kBusScsi = 1,
  kBusAtapi = 2,
  kBusAta = 3,
  kBusFireWire = 4,
  kBusSsa = 5,
  kBusFibre = 6,
  kBusUsb = 7,
  kBusRaid = 8,
  kBusIscsi = 9,
  kBusSas = 10,
  kBusSata = 11,
  kBusNvme = 17,
  kBusMakerSata = 83,  // maker's ATA drive whose IDENTIFY word 133 has bit 10 set
};

// `hybridFlags` bits.
inline constexpr uint32_t kHybridTrimRotating = 0x1;    // rotating drive that supports TRIM
inline constexpr uint32_t kHybridLogCapability = 0x2;   // capability bit of the IDENTIFY data log
inline constexpr uint32_t kHybridSanitizeReady = 0x4;   // bit 0 or 1, and word 59 bits 12 and 14

struct DriveRecord {
  int32_t physicalDriveNumber;  // N of "\\.\PhysicalDriveN"
  int32_t driveClass;           // DriveClass
  int32_t busType;              // BusType; -1 when the bus query failed
  int32_t ataTunnel;            // 0 none, 1 bridge ATA command block, 2 ATA PASS-THROUGH(12)
  int32_t volumeCount;          // letters in volumeLetters
  int32_t raidState;            // RAID enclosure state 0..7; 8 when its interface failed
  int32_t raidRebuildPercent;   // rebuild progress, meaningful in state 6
  int32_t originMark;           // 0 none, 1 SMART window, 2 bridge page C3h, 3 WWN OUI 000CCAh
  char model[82];               // at most 40 characters
  char serialNumber[65];        // at most 20 characters
  char firmwareRevision[12];    // at most 8 characters
  uint64_t totalSectors;        // capacity the tests work on
  uint64_t identifiedSectors;   // capacity as identified, shown as the drive's capacity
  uint64_t hiddenSectors;       // sectors beyond totalSectors
  uint8_t primaryUnit;          // unit selector (0 or 2) of the first unit
  uint8_t secondaryUnit;        // unit selector (0 or 2) of the second unit
  uint8_t smartStatus;          // SmartStatus: the drive's own answer (every unit's; member A's)
  uint8_t memberBSmartStatus;   // SmartStatus: RAID enclosure, member B's own answer
  int32_t smartAvailable;       // 1 when SMART is usable
  int32_t smartHealthy;         // 1 good, 0 failing
  int32_t raidMemberBHealthy;   // RAID enclosure: verdict of drive B
  int32_t isMakerSsd;           // the maker's own solid-state drive
  uint32_t hybridFlags;         // kHybrid* bits
  uint16_t vendorWord;          // IDENTIFY word 133
  uint16_t raidLevel;           // 1 RAID 0, 2 RAID 1, 0 unknown
  char memberSerialA[21];       // RAID enclosure: serial of drive A
  char memberSerialB[21];       // RAID enclosure: serial of drive B
  char volumeLetters[32];       // letters C..Z of the drive's volumes, in letter order
  char devicePath[256];         // RAID enclosure: path of its status interface
  int32_t sectorSize;           // bytes per sector
};

static_assert(offsetof(DriveRecord, model) == 32);
static_assert(offsetof(DriveRecord, serialNumber) == 114);
static_assert(offsetof(DriveRecord, firmwareRevision) == 179);
static_assert(offsetof(DriveRecord, totalSectors) == 192);
static_assert(offsetof(DriveRecord, primaryUnit) == 216);
static_assert(offsetof(DriveRecord, smartStatus) == 218);
static_assert(offsetof(DriveRecord, memberBSmartStatus) == 219);
static_assert(offsetof(DriveRecord, smartAvailable) == 220);
static_assert(offsetof(DriveRecord, hybridFlags) == 236);
static_assert(offsetof(DriveRecord, memberSerialA) == 244);
static_assert(offsetof(DriveRecord, volumeLetters) == 286);
static_assert(offsetof(DriveRecord, devicePath) == 318);
static_assert(offsetof(DriveRecord, sectorSize) == 576);
static_assert(sizeof(DriveRecord) == 584);

// The drives detection listed, as many as the machine has: a server or a test bench holds
// dozens. Records stay the fixed 584-byte layout above; only the table grows.
struct DriveTable {
  std::vector<DriveRecord> records;  // one per listed drive, in ascending drive number
  int32_t selectedDrive = 0;         // index of the record the user acted on
  std::set<int> virtualDisks;        // drive numbers of virtual disks, which detection skips

  // How many drives are listed (the display numbers run 1 .. driveCount()).
  int driveCount() const { return static_cast<int>(records.size()); }
};

// Empties the table and its marks, as each detection run starts.
void clearDriveTable(DriveTable& table);

// Whether a reported sector size is one transfers can be built on: a power of two from
// 512 to 65,536 bytes. Anything else (0, 520, 16 MiB) would make byte lengths wrap or
// round to nothing.
[[nodiscard]] constexpr bool usableSectorSize(int32_t sectorSize) {
  return sectorSize >= 512 && sectorSize <= 65536 && (sectorSize & (sectorSize - 1)) == 0;
}

// A text field of the record (model, serial, firmware) up to its first NUL, without the
// blanks drives pad it with.
std::string trimmedField(const char* field, size_t size);

// What a byte of a drive's text that is not printable ASCII becomes.
inline constexpr char kUnprintableDriveChar = '?';

// Makes the text in `field` (up to its first NUL, never past `size`) printable ASCII: every
// other byte becomes kUnprintableDriveChar. Every text a device reports (model, serial,
// firmware, vendor, product, revision, member serials) passes through here as it is
// stored, so nothing past discovery meets a control character or a byte that is not UTF-8.
// The fields are ASCII by their standards (ATA, SCSI, NVMe); a byte outside that is
// marked rather than dropped, so the text keeps its length and two serials that differ
// only there stay different.
void keepPrintable(char* field, size_t size);

}  // namespace palvoro
