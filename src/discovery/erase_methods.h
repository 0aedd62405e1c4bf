#pragma once
// Which erase methods a drive offers, asked of the drive each time (its security state
// changes), through the one purge device of its protocol and route; and the areas it hides
// from the host.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/purge.h"
#include "discovery/drive_record.h"
#include "platform/platform.h"

namespace palvoro {

// Every method of a drive, the overwrite first, each offered or not and why.
struct DriveEraseMethods {
  std::vector<MethodSupport> methods;
  PurgeMethod defaultMethod = PurgeMethod::Overwrite;  // the strongest Purge offered
  std::optional<HiddenAreas> hidden;
  std::string worldWideName;  // "" when the drive reports none
  [[nodiscard]] const MethodSupport* find(PurgeMethod method) const;
};

// The order methods are listed in, which is also their order of strength.
const std::vector<PurgeMethod>& listedPurgeMethods();

// The purge device of `record`'s drive over `handle` (which stays the caller's): NVMe,
// an ATA drive on its controller or behind a bridge that carries its commands, or SCSI;
// a device that refuses everything, with the reason, for the rest (the RAID enclosure, a
// drive with a second unit, a bridge that carries nothing).
std::unique_ptr<PurgeDevice> purgeDeviceOf(Platform& platform, Handle handle, const DriveRecord& record,
                                           uint8_t raidMemberSelect);

// Asks the drive now. A drive that does not open offers the overwrite alone, every other
// method refused with that reason.
DriveEraseMethods eraseMethodsOf(Platform& platform, const DriveRecord& record, uint8_t raidMemberSelect);

// Only the hidden areas: nothing for a drive that has none to ask about (not ATA) or does
// not open.
std::optional<HiddenAreas> hiddenAreasOf(Platform& platform, const DriveRecord& record, uint8_t raidMemberSelect);

// The strongest Purge among the offered methods, or Overwrite when none is offered.
// Physical erasure of every block comes before the cryptographic one, which trusts the
// drive's encryption; both before an overwrite by the drive, which may miss retired blocks.
[[nodiscard]] PurgeMethod strongestPurge(const std::vector<MethodSupport>& methods);

// The warning shown before an erase of a drive with hidden sectors; "" when it has none.
std::string hiddenAreaWarning(const HiddenAreas& hidden);
// One line for the property page and info: "None", "HPA: 1,000 sectors; DCO: none", ...
std::string hiddenAreaText(const std::optional<HiddenAreas>& hidden);

}  // namespace palvoro
