#pragma once
// The probe of one opened drive: decides whether it is entered in the drive table, how
// the system reaches it afterwards (driveClass, ataTunnel, busType), whether it is the
// maker's drive, solid-state drive or RAID enclosure, and its SMART state now.

#include <cstdint>

#include "discovery/drive_record.h"
#include "discovery/smart_verdict.h"
#include "platform/platform.h"
#include "platform/prompter.h"

namespace palvoro {

class ComplianceTable;

// What the probe needs of the program run.
// How the pre-failure SMART attributes of the drive (or its `unit`) stand against their
// thresholds, read over the SMART driver (carrier -1) or a SCSI carrier. Detection judges a
// drive by them together with its own SMART RETURN STATUS (smartHealthyOf), and bridges
// answer only through them. The SMART layer sits above this one, so whoever runs detection
// hands it in (smart/judgeSmartAttributes).
using SmartAttributeJudge = AttributeVerdict (*)(Platform& platform, int driveNumber, Handle handle, int carrier,
                                                 uint8_t unit, bool miniportMode, uint8_t raidMemberSelect);

struct ProbeEnvironment {
  Platform& platform;
  Prompter& prompter;                       // READ CAPACITY failures are told to the user
  bool miniportMode = false;                // the user is not an administrator
  const ComplianceTable* compliance = nullptr;
  uint8_t raidMemberSelect = 0xA0;          // device byte of carrier commands
  // Without one no attribute is judged: a drive without a status of its own is then never
  // a PASS.
  SmartAttributeJudge judgeAttributes;
};

enum class ProbeOutcome { Accepted, Rejected, Skipped };

// Which carrier EXECUTE DEVICE DIAGNOSTIC travels over.
enum class DiagnosticCarrier { Ata, Sat };

// The adapter's bus type byte from the storage property query, or -1.
[[nodiscard]] int adapterBusType(Platform& platform, Handle handle);
// True when the device answers EXECUTE DEVICE DIAGNOSTIC with the CDh/ABh signature of a
// bridge: such a device is not a drive.
[[nodiscard]] bool deviceSignatureIsBridge(Platform& platform, Handle handle, DiagnosticCarrier carrier);
// Classifies and identifies the drive behind `handle` into `record` (all zero on entry).
// `driveNumber` is N of "\\.\PhysicalDriveN".
ProbeOutcome probeDrive(const ProbeEnvironment& env, Handle handle, int driveNumber, DriveRecord& record);
// The SMART state at detection: vendorWord, smartAvailable, smartHealthy. `identify` is
// the drive's IDENTIFY reply.
void detectionSmart(const ProbeEnvironment& env, Handle handle, const uint8_t (&identify)[512], DriveRecord& record);

}  // namespace palvoro
