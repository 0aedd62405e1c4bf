#include "platform/linux/scsi_ata.h"

namespace palvoro::real {

std::array<uint8_t, 16> ataPassThrough16(const AtaRegisters& current, const AtaRegisters* previous,
                                         AtaTransfer transfer, bool checkCondition) {
  // Every data command here states its length in blocks of the count register (BYT_BLOK,
  // T_LENGTH 2); T_DIR marks data from the device.
  constexpr uint8_t kBlocksOfCount = kSatLengthInBlocks | kSatLengthInCount;
  SatProtocol protocol = SatProtocol::NonData;
  uint8_t flags = checkCondition ? kSatCheckCondition : 0x00;
  switch (transfer) {
    case AtaTransfer::PioIn: protocol = SatProtocol::PioIn; flags |= kSatFromDevice | kBlocksOfCount; break;
    case AtaTransfer::PioOut: protocol = SatProtocol::PioOut; flags |= kBlocksOfCount; break;
    case AtaTransfer::DmaIn: protocol = SatProtocol::Dma; flags |= kSatFromDevice | kBlocksOfCount; break;
    case AtaTransfer::DmaOut: protocol = SatProtocol::Dma; flags |= kBlocksOfCount; break;
    case AtaTransfer::None: break;
  }
  AtaRegisters48 registers{.current = current};
  if (previous != nullptr) registers.previous = *previous;
  return ataPassThrough16Cdb(registers, protocol, flags, previous != nullptr);
}

}  // namespace palvoro::real
