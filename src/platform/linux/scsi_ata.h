#pragma once
// ATA commands carried in SCSI on Linux: the ATA PASS-THROUGH (16) block for the
// IDE registers of a request, with the SAT protocol and flags libata expects for each
// way a command moves its data. The block's layout and the sense data the answer brings
// are the protocol layer's.

#include <array>
#include <cstdint>

#include "protocol/ata_registers.h"
#include "protocol/scsi_cdb.h"
#include "protocol/sense.h"

namespace palvoro::real {

// How a command moves its data: which SAT protocol, and the direction.
enum class AtaTransfer : uint8_t { None, PioIn, PioOut, DmaIn, DmaOut };

// ATA PASS-THROUGH (16). `previous` carries the upper register bytes of a 48-bit command
// (nullptr for a 28-bit one). `checkCondition` asks for the registers back even on success.
std::array<uint8_t, 16> ataPassThrough16(const AtaRegisters& current, const AtaRegisters* previous,
                                         AtaTransfer transfer, bool checkCondition);

}  // namespace palvoro::real
