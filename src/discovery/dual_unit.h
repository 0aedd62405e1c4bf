#pragma once
// The maker's dual-unit drives. Some of its ATA drives answer IDENTIFY DEVICE a second
// time, differently, for unit select 2 (device register A2h): a rotating drive with a
// smaller second unit (the hybrid models of the compliance table), or a solid-state unit
// in front of a rotating one. The check below decides whether a drive has a second unit,
// which unit the tests work on (`primaryUnit`, `secondaryUnit`) and how many sectors lie
// outside the tested unit (`hiddenSectors`), which the tests take as the size of the
// second unit.

#include <cstdint>

#include "discovery/compliance_table.h"
#include "discovery/drive_record.h"
#include "discovery/identify.h"
#include "platform/platform.h"

namespace palvoro {

// Runs on the ATA path of the probe, after the first IDENTIFY reply has been parsed into
// `record` and `hiddenSectors` set from the IDEMA rule.
//   handle             the probe's open drive, for ATA pass-through
//   driveNumber        N of "\\.\PhysicalDriveN": the SCT switch and the SMART re-read
//                      open the drive's SMART path themselves
//   firstReply         the first IDENTIFY reply as the drive sent it, before parsing
//                      swapped its strings
//   firstRotationRate  what parsing the first reply returned (word 217)
//   table              the compliance table; null or empty matches nothing
// May change `totalSectors`, `identifiedSectors`, `hiddenSectors`, `primaryUnit`,
// `secondaryUnit` and, for a solid-state-first drive whose units report the same count,
// the identity texts, `sectorSize` and `hybridFlags`.
void dualUnitCheck(Platform& platform, Handle handle, int driveNumber, DriveRecord& record,
                   const uint8_t (&firstReply)[kIdentifyBytes], uint16_t firstRotationRate,
                   const ComplianceTable* table, bool miniportMode);

// The capacity split of a matched rotating drive whose second unit has
// `secondUnitSectors` sectors: unit 0 is tested, unit 2 is the second unit.
void adjustForSecondUnit(DriveRecord& record, uint64_t secondUnitSectors);

}  // namespace palvoro
