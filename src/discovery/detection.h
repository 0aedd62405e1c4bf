#pragma once
// The detection run: fills the drive table from the machine's physical drives.

#include <optional>

#include "discovery/drive_record.h"
#include "discovery/probe.h"
#include "platform/platform.h"

namespace palvoro {

// 1 when the process token lists the built-in Administrators group, else 0.
[[nodiscard]] int checkAdministrator(Platform& platform);
// Adds to table.virtualDisks the number of every disk whose device interface path names
// "acronisvbus".
void markVirtualDisks(Platform& platform, DriveTable& table);
// Empties the table, probes every physical drive number the platform lists, in ascending
// order, and appends each accepted drive, then reads the RAID enclosures' status. Returns
// whether the last drive number probed was accepted.
int detectDrives(const ProbeEnvironment& env, DriveTable& table);
// Probes the one drive at `driveNumber` as detection would, for a drive plugged in while
// others are busy (a re-scan would send its commands to them too): its record when it is
// accepted, else nothing. The RAID enclosures' status is not read.
[[nodiscard]] std::optional<DriveRecord> detectDrive(const ProbeEnvironment& env, int driveNumber);
// The name a drive number opens with: the physical drive, or the SCSI port of the
// miniport path for a user without administrator rights.
std::string detectionDeviceName(int driveNumber, bool miniportMode);

}  // namespace palvoro
