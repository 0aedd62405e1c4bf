#pragma once
// Drive letters and the physical drives they lie on: which letters belong to each drive of
// the table, whether a drive may hold partitions (asked before an erase), and the volume
// rows of the drive property page.

#include <string>
#include <vector>

#include "discovery/drive_record.h"
#include "platform/platform.h"

namespace palvoro {

// The most letters a record can hold: volumeLetters keeps a terminator after them.
inline constexpr int kMaxVolumeLetters = static_cast<int>(sizeof(DriveRecord::volumeLetters)) - 1;

// Refills volumeLetters and volumeCount of every listed record from the present
// fixed and removable volumes C: to Z:, in letter order. A letter whose volume does not
// open or does not tell its device number, or whose device number matches no record,
// belongs to no drive.
void mapVolumes(Platform& platform, DriveTable& table);

// What partitionCheck found.
enum PartitionCheck : int {
  kNoPartitions = 0,       // sector 0 blank or unreadable: nothing to lose
  kSystemDrive = 1,        // holds the Windows directory: must never be erased
  kPartitionsMayExist = 2, // an MBR signature or a first partition entry
};

// Whether `record`'s drive holds the Windows directory, else whether its sector 0 looks
// like a partition table.
[[nodiscard]] int partitionCheck(Platform& platform, const DriveRecord& record);

// One row of the property page's volume list.
struct VolumeRow {
  std::string text;      // "label (C:\)"; "label (/home)" where volumes are known by mount point
  std::string capacity;  // "%0.2f GB" in 2^30-byte units; empty when the size is unknown
};

// The rows for `record`'s letters, in its letter order. A letter whose volume information
// cannot be read gets no row.
std::vector<VolumeRow> volumeRows(Platform& platform, const DriveRecord& record);

}  // namespace palvoro
