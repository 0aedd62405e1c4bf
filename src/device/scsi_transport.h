#pragma once
// SCSI pass-through for drives that ATA pass-through cannot reach (USB and FireWire
// bridges, plain SCSI, the RAID enclosure): the SCSI commands the system reads identity
// and capacity with, and the two ATA carriers wrapped in SCSI command blocks, T10 SAT
// ATA PASS-THROUGH (12)/(16) and the USB bridge's vendor ATA command block (ATACB).
//
// Carrier numbers (a drive's ataTunnel): 0 none, 1 ATACB, 2 ATA PASS-THROUGH (12).
// Directions of the (12) block and ATACB: 1 data in, 6 data out (DMA), 0 and 2 the
// variants described at satPassThrough12.

#include <cstdint>

#include "platform/platform.h"

namespace palvoro {

// The request with a sense area: SCSI_PASS_THROUGH (44), the 32-bit allocation size,
// 24 bytes of sense; the data follows at this offset.
inline constexpr uint32_t kScsiSenseRequestHeader = 72;

// The RAID enclosure's members, as the device byte of carrier commands.
inline constexpr uint8_t kRaidMemberA = 0xA0, kRaidMemberB = 0xB0;

// Carrier numbers.
inline constexpr int kCarrierNone = 0;
inline constexpr int kCarrierAtacb = 1;
inline constexpr int kCarrierSat12 = 2;

// INQUIRY, 74 bytes of standard data.
bool scsiInquiry(Platform& platform, Handle handle, uint8_t (&out)[74]);
// INQUIRY of a vital product data page; `out` has `length` bytes.
bool scsiInquiryVpd(Platform& platform, Handle handle, uint8_t page, uint8_t length, uint8_t* out);
// RECEIVE DIAGNOSTIC RESULTS of `page` (page code valid); `out` has `length` bytes, the
// allocation length asked for.
bool scsiReceiveDiagnostic(Platform& platform, Handle handle, uint8_t page, uint16_t length, uint8_t* out);
// READ CAPACITY (10): last LBA and block length in host order.
bool scsiReadCapacity10(Platform& platform, Handle handle, uint32_t* lastLba, uint32_t* blockLength);
// READ CAPACITY (16): the 64-bit last LBA in host order.
bool scsiReadCapacity16(Platform& platform, Handle handle, uint64_t* lastLba);

// ATA PASS-THROUGH (12). With `data`, count x 512 bytes move in the direction given;
// without, the command is non-data. 1 on success, 0 otherwise.
int satPassThrough12(Platform& platform, Handle handle, uint8_t features, uint8_t count, uint8_t lbaLow,
                     uint8_t lbaMid, uint8_t lbaHigh, uint8_t device, uint8_t command, int direction,
                     uint8_t* data);
// ATA PASS-THROUGH (16) with the register record (0 device, 1/2 features 7:0/15:8,
// 3/4 count 7:0/15:8, 5..10 LBA 7:0 .. 47:40, 13 command). Protocol selector 1 is PIO
// data-in, 4 UDMA data-out; any other is refused without sending. 1 on success, else 0.
int satPassThrough16(Platform& platform, Handle handle, const uint8_t (&registers)[16], int protocolSelector,
                     int extend, uint8_t* data, uint32_t length);
// The bridge vendor ATA command block. 1 on success, 0 otherwise.
int atacbCommand(Platform& platform, Handle handle, uint8_t features, uint8_t count, uint8_t lbaLow,
                 uint8_t lbaMid, uint8_t lbaHigh, uint8_t device, uint8_t command, int direction, uint8_t* data);
// One ATA command over the drive's carrier (1 ATACB, 2 ATA PASS-THROUGH (12)); any
// other carrier fails without sending. 1 on success, 0 otherwise.
int carrierCommand(Platform& platform, Handle handle, int carrier, uint8_t features, uint8_t count,
                   uint8_t lbaLow, uint8_t lbaMid, uint8_t lbaHigh, uint8_t device, uint8_t command, int direction,
                   uint8_t* data);
// SMART over a carrier; `device` is the RAID member select byte (A0h or B0h), `feature`
// of the read D0h (attribute data) or D1h (thresholds). 1 on success, 0 otherwise.
int carrierSmartEnable(Platform& platform, Handle handle, int carrier, uint8_t device);
int carrierSmartRead(Platform& platform, Handle handle, int carrier, uint8_t feature, uint8_t device,
                     uint8_t (&out)[512]);
int carrierSmartExecuteOffline(Platform& platform, Handle handle, int carrier, uint8_t device, uint8_t subcommand);
// Finds the carrier a bridge takes: 2 when IDENTIFY DEVICE passes over ATA PASS-THROUGH
// (12) (SMART is then enabled the same way), 1 when it passes over ATACB, else 0.
// `identify` receives the IDENTIFY data.
int probeCarrier(Platform& platform, Handle handle, uint8_t device, uint8_t (&identify)[512]);
// The result block of a RAID enclosure member (non-zero `member` is B): ATA
// PASS-THROUGH (12) asking for the response of the member's last command, whose
// returned registers the enclosure puts at the start of the 512 bytes. A failed call is
// reported on the standard output.
bool satMemberProbe(Platform& platform, Handle handle, int member, uint8_t (&block)[512]);
// READ LOG EXT of the IDENTIFY DEVICE data log, page 3, over ATA PASS-THROUGH (16).
bool satReadIdentifyDataLog(Platform& platform, Handle handle, uint8_t (&page)[512]);
// DATA SET MANAGEMENT (06h TRIM or 07h XL) of one 512-byte block over ATA
// PASS-THROUGH (16): 0, or 21 on failure.
int satDataSetManagement(Platform& platform, Handle handle, uint8_t opcode, const uint8_t (&block)[512]);

}  // namespace palvoro
