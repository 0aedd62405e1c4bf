#pragma once
// SMART commands and the first-unit IDENTIFY of drives on an ATA or SATA controller,
// through the SMART driver interface (SMART_RCV_DRIVE_DATA / SMART_SEND_DRIVE_COMMAND)
// or, for a user without administrator rights, through the SCSI port's miniport SMART
// interface (IOCTL_SCSI_MINIPORT, signature "SCSIDISK"). On the driver path READ DATA,
// READ THRESHOLDS and RETURN STATUS fall back to ATA pass-through on the same handle.
//
// Every operation takes a handle from openSmartPath (device/drive_requests.h); the
// handle is a SCSI port handle when miniportMode is set.

#include <cstdint>

#include "device/device_status.h"
#include "platform/platform.h"

namespace palvoro {

// What a data operation hands back, on both paths: the 16-byte SENDCMDOUTPARAMS header
// followed by the 512 data bytes.
inline constexpr uint32_t kSmartBufferSize = 528;

// IDENTIFY (the caller gives the command byte; detection passes ECh) of `unit`. On the
// miniport path an empty model (byte 54 of the IDENTIFY data zero) counts as failure.
[[nodiscard]] bool smartIdentify(Platform& platform, Handle handle, bool miniportMode, uint8_t command, uint8_t unit,
                                 uint8_t (&out)[kSmartBufferSize]);
// SMART READ DATA (the attribute page). Driver path: device A0h OR unit, with an ATA
// pass-through retry on the same unit; miniport path: device A0h OR drive number.
[[nodiscard]] bool smartReadData(Platform& platform, Handle handle, bool miniportMode, int driveNumber, uint8_t unit,
                                 uint8_t (&out)[kSmartBufferSize]);
// SMART READ THRESHOLDS. Driver path: device A0h OR unit, with an ATA pass-through retry
// whose device byte is A0h OR drive number; miniport path: device A0h OR unit.
[[nodiscard]] bool smartReadThresholds(Platform& platform, Handle handle, bool miniportMode, int driveNumber,
                                       uint8_t unit, uint8_t (&out)[kSmartBufferSize]);
// SMART READ LOG of page 0 of log `address` on the driver path (device A0h OR unit), with
// an ATA pass-through retry. The miniport has no log request: false without sending.
[[nodiscard]] bool smartReadLog(Platform& platform, Handle handle, bool miniportMode, uint8_t unit, uint8_t address,
                                uint8_t (&out)[kSmartBufferSize]);
// SMART ENABLE OPERATIONS; the request's own result.
[[nodiscard]] bool smartEnableOperations(Platform& platform, Handle handle, bool miniportMode, uint8_t unit);
// SMART RETURN STATUS: 1 healthy, 0 threshold exceeded, -1 undetermined.
[[nodiscard]] SmartReturnStatus smartReturnStatusTri(Platform& platform, Handle handle, bool miniportMode,
                                                     int driveNumber, uint8_t unit);
// SMART EXECUTE OFF-LINE IMMEDIATE with `subcommand` (in both count and LBA low); the
// request's own result.
[[nodiscard]] bool smartExecuteOffline(Platform& platform, Handle handle, bool miniportMode, int driveNumber,
                                       uint8_t unit, uint8_t subcommand);
// The SMART version query on a handle of its own: the bIDEDeviceMap byte (0 when the
// request fails), or -1 when the drive does not open.
[[nodiscard]] int smartVersion(Platform& platform, int driveNumber, bool miniportMode);

}  // namespace palvoro
