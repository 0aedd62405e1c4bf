#pragma once
// The detection run: fills the drive table from the machine's physical drives.

#include "discovery/drive_record.h"
#include "discovery/probe.h"
#include "platform/platform.h"

namespace palvoro {

// 1 when the process token lists the built-in Administrators group, else 0.
int checkAdministrator(Platform& platform);
// Marks in table.virtualDisk every disk whose device interface path names "acronisvbus".
// Device numbers outside the table's 32 entries are passed over.
void markVirtualDisks(Platform& platform, DriveTable& table);
// Zeroes the table, probes physical drive numbers 0 to 31 and appends each accepted
// drive, sets driveCount, then reads the RAID enclosures' status. At most kMaxDrives
// drives are kept: probing stops once the table is full. Returns whether the last drive
// number probed was accepted.
int detectDrives(const ProbeEnvironment& env, DriveTable& table);
// The name a drive number opens with: the physical drive, or the SCSI port of the
// miniport path for a user without administrator rights.
std::string detectionDeviceName(int driveNumber, bool miniportMode);

}  // namespace palvoro
