#pragma once
// SCSI pass-through for drives that ATA pass-through cannot reach (USB and FireWire
// bridges, plain SCSI, the RAID enclosure): the SCSI commands the system reads identity
// and capacity with, and the two ATA carriers wrapped in SCSI command blocks, T10 SAT
// ATA PASS-THROUGH (12)/(16) and the USB bridge's vendor ATA command block (ATACB).

#include <cstdint>

#include "device/ata_command.h"
#include "device/device_status.h"
#include "platform/platform.h"
#include "protocol/sense.h"

namespace palvoro {

// The request with a sense area: SCSI_PASS_THROUGH (44), the 32-bit allocation size,
// 24 bytes of sense; the data follows at this offset.
inline constexpr uint32_t kScsiSenseRequestHeader = 72;

// The RAID enclosure's members, as the device byte of carrier commands.
inline constexpr uint8_t kRaidMemberA = 0xA0, kRaidMemberB = 0xB0;

// The block that carries a drive's ATA commands, numbered as a drive record's ataTunnel
// keeps it.
enum AtaCarrier : int32_t {
  kCarrierNone = 0,   // none found: no ATA command reaches the drive
  kCarrierAtacb = 1,  // the bridge's vendor ATA command block
  kCarrierSat12 = 2,  // ATA PASS-THROUGH (12)
};

// The carrier a record's ataTunnel names. A number no carrier has stays as it is, and
// every carrier command refuses it without sending.
constexpr AtaCarrier carrierOf(int32_t ataTunnel) { return static_cast<AtaCarrier>(ataTunnel); }

// Which way the data of an ATA PASS-THROUGH (12) or vendor-block command moves. Each
// value is also the DataIn byte of the SCSI request, except that DmaOut goes as SCSI
// data-out in the (12) block.
enum class CarrierDirection : uint8_t {
  Out = 0,          // PIO data-out
  In = 1,           // PIO data-in
  Unspecified = 2,  // PIO data-in with T_DIR and BYT_BLOK clear, SCSI direction unspecified
  DmaOut = 6,       // DMA data-out
};

// The transfers ATA PASS-THROUGH (16) is used for; the numbers are the system's own.
enum class Sat16Protocol : int {
  PioIn = 1,    // PIO data-in
  UdmaOut = 4,  // UDMA data-out
  PioOut = 7,   // PIO data-out (an SCT command to the drive's command log)
  NonData = 8,  // no transfer (SANITIZE, SET MAX ADDRESS EXT)
};

// How long a carrier command may take unless the caller says: enough for any command that
// returns at once.
inline constexpr uint32_t kCarrierTimeoutSeconds = 20;
// How a SCSI command sent with a sense area ended.
struct ScsiOutcome {
  bool delivered = false;  // the request reached the device and came back
  uint8_t status = 0;      // SCSI status: 0 GOOD, 2 CHECK CONDITION
  Sense sense;             // what came back with a status other than GOOD
  uint32_t lastError = 0;  // the platform's error, when not delivered
  [[nodiscard]] bool good() const { return delivered && status == 0; }
};
// Which way a command's data moves; each value is the DataIn byte of the request.
enum class ScsiData : uint8_t { Out = 0, In = 1, None = 2 };
// Any command of up to 16 bytes with `length` bytes of data in `direction` (none for
// None), allowed `timeoutSeconds`. Data in is copied to `data` only on GOOD. A malformed
// call (no CDB, data with None) is refused unsent.
[[nodiscard]] ScsiOutcome scsiCommand(Platform& platform, Handle handle, const uint8_t* cdb, uint8_t cdbLength,
                                      ScsiData direction, uint8_t* data, uint32_t length, uint32_t timeoutSeconds);

// INQUIRY, 74 bytes of standard data.
[[nodiscard]] bool scsiInquiry(Platform& platform, Handle handle, uint8_t (&out)[74]);
// INQUIRY of a vital product data page; `out` has `length` bytes.
[[nodiscard]] bool scsiInquiryVpd(Platform& platform, Handle handle, uint8_t page, uint8_t length, uint8_t* out);
// RECEIVE DIAGNOSTIC RESULTS of `page` (page code valid); `out` has `length` bytes, the
// allocation length asked for.
[[nodiscard]] bool scsiReceiveDiagnostic(Platform& platform, Handle handle, uint8_t page, uint16_t length,
                                         uint8_t* out);
// READ CAPACITY (10): last LBA and block length in host order.
[[nodiscard]] bool scsiReadCapacity10(Platform& platform, Handle handle, uint32_t* lastLba, uint32_t* blockLength);
// READ CAPACITY (16): the 64-bit last LBA in host order.
[[nodiscard]] bool scsiReadCapacity16(Platform& platform, Handle handle, uint64_t* lastLba);

// ATA PASS-THROUGH (12). With `data`, count x 512 bytes move in `direction`; without,
// the command is non-data. True on success.
[[nodiscard]] bool satPassThrough12(Platform& platform, Handle handle, const AtaRegisters& registers,
                                    CarrierDirection direction, uint8_t* data,
                                    uint32_t timeoutSeconds = kCarrierTimeoutSeconds);
// ATA PASS-THROUGH (16) of `registers`, EXTEND set when `extend` is odd. A protocol other
// than the two named is refused without sending. True on success.
[[nodiscard]] bool satPassThrough16(Platform& platform, Handle handle, const AtaRegisters48& registers,
                                    Sat16Protocol protocol, int extend, uint8_t* data, uint32_t length,
                                    uint32_t timeoutSeconds = kCarrierTimeoutSeconds);
// The bridge vendor ATA command block. True on success.
[[nodiscard]] bool atacbCommand(Platform& platform, Handle handle, const AtaRegisters& registers,
                                CarrierDirection direction, uint8_t* data,
                                uint32_t timeoutSeconds = kCarrierTimeoutSeconds);
// One ATA command over the drive's carrier; kCarrierNone and numbers no carrier has fail
// without sending. True on success.
[[nodiscard]] bool carrierCommand(Platform& platform, Handle handle, AtaCarrier carrier, const AtaRegisters& registers,
                                  CarrierDirection direction, uint8_t* data);
// SMART over a carrier; `device` is the RAID member select byte (A0h or B0h), `feature`
// of the read D0h (attribute data) or D1h (thresholds). True on success.
[[nodiscard]] bool carrierSmartEnable(Platform& platform, Handle handle, AtaCarrier carrier, uint8_t device);
[[nodiscard]] bool carrierSmartRead(Platform& platform, Handle handle, AtaCarrier carrier, uint8_t feature,
                                    uint8_t device, uint8_t (&out)[512]);
[[nodiscard]] bool carrierSmartExecuteOffline(Platform& platform, Handle handle, AtaCarrier carrier, uint8_t device,
                                              uint8_t subcommand);
// The drive's logs over a carrier: SMART READ LOG of page 0 of `address` over either
// carrier; SMART WRITE LOG of an SCT command to E0h and READ LOG EXT of one page over the
// SAT carrier only, as ATA PASS-THROUGH (16) (the vendor block has no 48-bit command, and
// neither it nor the (12) block is used for PIO data-out here). True on success.
[[nodiscard]] bool carrierSmartReadLog(Platform& platform, Handle handle, AtaCarrier carrier, uint8_t device,
                                       uint8_t address, uint8_t (&out)[512]);
[[nodiscard]] bool carrierSctCommand(Platform& platform, Handle handle, AtaCarrier carrier, uint8_t device,
                                     const uint8_t (&command)[512]);
[[nodiscard]] bool carrierReadLogExt(Platform& platform, Handle handle, AtaCarrier carrier, uint8_t device,
                                     uint8_t address, uint16_t page, uint8_t (&out)[512]);
// Finds the carrier a bridge takes: kCarrierSat12 when IDENTIFY DEVICE passes over ATA
// PASS-THROUGH (12) (SMART is then enabled the same way), kCarrierAtacb when it passes
// over the vendor block, else kCarrierNone. `identify` receives the IDENTIFY data.
[[nodiscard]] AtaCarrier probeCarrier(Platform& platform, Handle handle, uint8_t device, uint8_t (&identify)[512]);
// The result block of a RAID enclosure member (non-zero `member` is B): ATA
// PASS-THROUGH (12) asking for the response of the member's last command, whose
// returned registers the enclosure puts at the start of the 512 bytes. A failed call is
// reported on the standard output.
[[nodiscard]] bool satMemberProbe(Platform& platform, Handle handle, int member, uint8_t (&block)[512]);
// READ LOG EXT of the IDENTIFY DEVICE data log, page 3, over ATA PASS-THROUGH (16).
[[nodiscard]] bool satReadIdentifyDataLog(Platform& platform, Handle handle, uint8_t (&page)[512]);
// DATA SET MANAGEMENT (06h TRIM or 07h XL) of one 512-byte block over ATA
// PASS-THROUGH (16): None, or Trim when the bridge or the drive refuses it.
[[nodiscard]] DriveRequestError satDataSetManagement(Platform& platform, Handle handle, uint8_t opcode,
                                                     const uint8_t (&block)[512]);

}  // namespace palvoro
