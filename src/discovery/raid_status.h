#pragma once
// The maker's two-drive USB RAID enclosure: its RAID level, state and rebuild progress,
// read through the status interface its own driver publishes (RECEIVE DIAGNOSTIC RESULTS
// page 82h), and its two members' SMART verdicts, read through the enclosure with T10 SAT
// ATA PASS-THROUGH (12) and the enclosure's per-member result block.

#include <cstdint>

#include "discovery/drive_record.h"
#include "discovery/smart_verdict.h"
#include "platform/platform.h"

namespace palvoro {

// `raidState` as the status page reports it (bits 0..3 of byte 4), plus 8.
enum RaidState : int32_t {
  kRaidHealthy = 0,
  kRaidNotConfigured = 1,
  kRaidUnknownSetting = 2,
  kRaidSettingMismatched = 3,
  kRaidBad = 4,
  kRaidDegraded = 5,
  kRaidRebuilding = 6,
  kRaidRebuildingFailed = 7,
  kRaidStatusUnknown = 8,  // the status interface could not be opened
};

// `raidLevel`: the page's level code (bits 6..7 of byte 4) plus one; 0 before any read.
enum RaidLevel : int32_t {
  kRaidLevelUnknown = 0,
  kRaidLevel0 = 1,
  kRaidLevel1 = 2,
};

inline constexpr uint8_t kRaidStatusPage = 0x82;   // RECEIVE DIAGNOSTIC RESULTS page
inline constexpr uint16_t kRaidStatusBytes = 8;    // allocation length asked for
inline constexpr uint8_t kRaidSerialPageBytes = 20;  // VPD 80h bytes asked of the status interface

// The name of a state ("Healthy" .. "Unknown"); "Unknown" for states 9 to 15 and anything
// else outside the table.
const char* raidStateName(int32_t state);
// The name of a level: "Unknown", "RAID 0", "RAID 1"; "Unknown" outside the table
// (level codes 2 and 3 give 3 and 4, which have no name).
const char* raidLevelName(int32_t level);

// Reads the status page through `handle` (the status interface). When the page comes back
// with page code 82h, fills raidState, raidLevel and raidRebuildPercent and returns true;
// otherwise returns false and leaves the record as it was.
[[nodiscard]] bool readRaidStatus(Platform& platform, Handle handle, DriveRecord& record);

// Finds each published status interface's enclosure in the table by the serial number
// the interface reports (VPD 80h, compared ignoring case with serialNumber, first match in
// table order), stores the interface path in devicePath and reads the status for it.
// Interfaces that do not open, do not report a serial, or match no record are passed over.
void scanRaidInterfaces(Platform& platform, DriveTable& table);

// The SMART RETURN STATUS a member's result block shows, with the ERR bit of the status
// clear: LBA mid 4Fh and LBA high C2h healthy, F4h and 2Ch threshold exceeded; anything
// else no verdict. The block holds the member's last returned registers from byte 0:
// error, count, LBA low, LBA mid, LBA high, device, status.
SmartStatus memberResultStatus(const uint8_t (&block)[512]);

// Asks both members for SMART RETURN STATUS through the enclosure (`handle` open for
// reading and writing) and sets smartStatus and smartHealthy (drive A), memberBSmartStatus
// and raidMemberBHealthy (drive B) and smartAvailable. A member without a verdict counts
// as failing. When the command to drive A fails, only smartAvailable := 0 is set.
void readMemberSmart(Platform& platform, Handle handle, DriveRecord& record);

}  // namespace palvoro
