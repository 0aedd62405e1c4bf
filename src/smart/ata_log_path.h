#pragma once
// One way to a drive's ATA logs and SMART data: the SMART driver (with ATA pass-through
// where the driver has no request of its own) or a bridge's carrier. The drive's logs and
// its temperature are both read through it, so a drive is asked the same way whoever asks.

#include <cstdint>
#include <memory>

#include "discovery/drive_record.h"
#include "platform/platform.h"
#include "smart/log_ring.h"

namespace palvoro {

// Each call reads (or, for the SCT command, writes) one 512-byte page or fails.
class AtaLogPath {
 public:
  virtual ~AtaLogPath() = default;
  [[nodiscard]] virtual bool smartLog(uint8_t address, LogPage& page) = 0;
  [[nodiscard]] virtual bool extLog(uint8_t address, uint16_t pageNumber, LogPage& page) = 0;
  [[nodiscard]] virtual bool sctCommand(const LogPage& command) = 0;
  [[nodiscard]] virtual bool smartData(LogPage& page) = 0;
};

// Whether `drive` is reached through a bridge's carrier rather than the SMART driver.
[[nodiscard]] bool usesAtaCarrier(const DriveRecord& drive);

// The path to `drive` over `handle` (opened with openSmartPath): a USB or FireWire drive's
// carrier with `raidMemberSelect` as its device byte, else the SMART driver on unit
// `primaryUnit`. The handle stays the caller's.
std::unique_ptr<AtaLogPath> ataLogPathOf(Platform& platform, Handle handle, const DriveRecord& drive,
                                         bool miniportMode, uint8_t raidMemberSelect);

}  // namespace palvoro
