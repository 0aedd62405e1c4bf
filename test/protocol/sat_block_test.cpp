// The SAT ATA PASS-THROUGH blocks, byte by byte against T10 SAT's layout, and read back
// the way the write guard reads them: the 48-bit block interleaves the high-order and
// low-order bytes, where a swapped pair would send a command to the wrong sectors.

#include "protocol/scsi_cdb.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace palvoro {
namespace {

using Bytes = std::vector<uint8_t>;

struct BlockCase {
  const char* name;
  Bytes built;
  Bytes expected;
};

// READ VERIFY SECTORS EXT of 1234h sectors at LBA F0DE_BC9A_5678h: every register byte
// distinct, so any swap shows.
const AtaRegisters48 kReadVerifyExt{.current = {0x00, 0x34, 0x78, 0x9A, 0xBC, 0x40, 0x42},
                                    .previous = {0x00, 0x12, 0x56, 0xDE, 0xF0, 0x00, 0x00}};

template <size_t N>
Bytes bytesOf(const std::array<uint8_t, N>& block) {
  return Bytes(block.begin(), block.end());
}

TEST(SatBlockTest, BuildsEachBlockByteForByte) {
  const BlockCase cases[] = {
      {"Sat16NonData48BitWithCheckCondition",
       bytesOf(ataPassThrough16Cdb(kReadVerifyExt, SatProtocol::NonData, kSatCheckCondition, true)),
       {0x85, 0x07, 0x20, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0xDE, 0x9A, 0xF0, 0xBC, 0x40, 0x42, 0x00}},
      {"Sat16PioIn28BitIdentify",
       bytesOf(ataPassThrough16Cdb({.current = {.count = 1, .device = 0xA0, .command = 0xEC}}, SatProtocol::PioIn,
                                   kSatFromDevice | kSatLengthInBlocks | kSatLengthInCount, false)),
       {0x85, 0x08, 0x0E, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00}},
      {"Sat16UdmaOutTrim",
       bytesOf(ataPassThrough16Cdb({.current = {.features = 0x01, .count = 0x01, .command = 0x06}},
                                   SatProtocol::UdmaOut, kSatLengthInBlocks | kSatLengthInCount, true)),
       {0x85, 0x17, 0x06, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00}},
      {"Sat12SmartReadData",
       bytesOf(ataPassThrough12Cdb({0xD0, 0x01, 0x00, 0x4F, 0xC2, 0xA0, 0xB0}, SatProtocol::PioIn,
                                   kSatFromDevice | kSatLengthInBlocks | kSatLengthInCount)),
       {0xA1, 0x08, 0x0E, 0xD0, 0x01, 0x00, 0x4F, 0xC2, 0xA0, 0xB0, 0x00, 0x00}},
      {"Sat12ReturnResponseOfMemberB",
       bytesOf(ataPassThrough12Cdb({.device = 0xB0}, SatProtocol::ReturnResponse,
                                   kSatFromDevice | kSatLengthInBlocks | kSatLengthInCount)),
       {0xA1, 0x1E, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xB0, 0x00, 0x00, 0x00}},
      {"ReadCapacity16", bytesOf(readCapacity16Cdb()),
       {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x00}},
      {"ReceiveDiagnosticLongAllocation", bytesOf(receiveDiagnosticCdb(0x81, 0x0123)),
       {0x1C, 0x01, 0x81, 0x01, 0x23, 0x00}},
  };
  for (const BlockCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.built, c.expected);
  }
}

TEST(SatBlockTest, ReadsBackTheRegistersItCarries) {
  const auto sixteen = ataPassThrough16Cdb(kReadVerifyExt, SatProtocol::NonData, 0, true);
  const AtaRegisters48 back = registersOfPassThrough16(sixteen.data());
  const auto bytes = [](const AtaRegisters& r) {
    return Bytes{r.features, r.count, r.lbaLow, r.lbaMid, r.lbaHigh, r.device, r.command};
  };
  EXPECT_EQ(bytes(back.current), bytes(kReadVerifyExt.current));
  // The high-order set has no device or command of its own.
  EXPECT_EQ(bytes(back.previous), bytes(kReadVerifyExt.previous));

  const AtaRegisters smart{0xD5, 0x01, 0x06, 0x4F, 0xC2, 0xA0, 0xB0};
  EXPECT_EQ(bytes(registersOfPassThrough12(ataPassThrough12Cdb(smart, SatProtocol::PioIn, 0).data())), bytes(smart));
}

}  // namespace
}  // namespace palvoro
