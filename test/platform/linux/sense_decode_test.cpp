// Sense data in every layout the kernels write, read into the ATA registers: each case
// is decoded from a heap copy of exactly its length, so a read past the end is caught
// by the sanitizer builds.

#include <gtest/gtest.h>

#include <memory>

#include "linux_rig.h"
#include "protocol/sense.h"

namespace palvoro::real::test {
namespace {

struct SenseCase {
  const char* name;
  Bytes sense;
  bool present;
  uint8_t key, asc, ascq;
  bool hasRegisters;
  bool extended;
  // error, count, LBA low, mid, high, device, status
  Bytes registers;
  Bytes upper;  // count, LBA low, mid, high of a 48-bit return
};

const SenseCase kCases[] = {
    {"LabDescriptorReturnStatus", kLabReturnStatusGood, true, 0x1, 0x00, 0x1D, true, false,
     {0x00, 0x00, 0x00, 0x4F, 0xC2, 0x00, 0x50}, {0, 0, 0, 0}},
    // ATA Status Return descriptor with EXTEND: every upper byte distinct from its lower one.
    {"Descriptor48BitExtend",
     {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 0x0E, 0x09, 0x0C, 0x01, 0x04, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0,
      0x40, 0x51},
     true, 0x1, 0x00, 0x1D, true, true, {0x04, 0x34, 0x78, 0xBC, 0xF0, 0x40, 0x51}, {0x12, 0x56, 0x9A, 0xDE}},
    // An information descriptor (00h) comes first; the 09h one follows it.
    {"DescriptorAfterInformationDescriptor",
     {0x72, 0x03, 0x11, 0x04, 0, 0, 0, 0x1A, 0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0, 0, 0x03, 0xE8,
      0x09, 0x0C, 0x00, 0x40, 0, 0x01, 0, 0xE8, 0, 0x03, 0, 0x00, 0xE0, 0x51},
     true, 0x3, 0x11, 0x04, true, false, {0x40, 0x01, 0xE8, 0x03, 0x00, 0xE0, 0x51}, {0, 0, 0, 0}},
    // SAT fixed format: error, status, device, count in bytes 3-6, LBA in bytes 9-11.
    {"SatFixedFormat",
     {0x70, 0x00, 0x01, 0x00, 0x50, 0x40, 0x00, 0x0A, 0x00, 0x00, 0x4F, 0xC2, 0x00, 0x1D, 0, 0, 0, 0},
     true, 0x1, 0x00, 0x1D, true, false, {0x00, 0x00, 0x00, 0x4F, 0xC2, 0x40, 0x50}, {0, 0, 0, 0}},
    {"LibataFixedBadSector", kLabBadSectorPio, true, 0xB, 0x00, 0x00, true, false,
     {0x04, 0x01, 0xE8, 0x00, 0x00, 0xE0, 0x41}, {0, 0, 0, 0}},
    {"LibataFixedReadDmaExt", kLabBadSectorDmaExt, true, 0xB, 0x00, 0x00, true, true,
     {0x04, 0x01, 0xE8, 0x00, 0x00, 0x40, 0x41}, {0, 0, 0, 0}},
    // Cut after the registers of bytes 8-11: the LBA bytes are not there to read.
    {"LibataFixedCutShort", Bytes(kLabBadSectorPio.begin(), kLabBadSectorPio.begin() + 12), true, 0xB, 0x00, 0x00,
     true, false, {0x04, 0x01, 0x00, 0x00, 0x00, 0xE0, 0x41}, {0, 0, 0, 0}},
    {"IllegalRequestWithoutRegisters", kLabIllegalRequest, true, 0x5, 0x20, 0x00, false, false, {}, {}},
    {"UnitAttention", {0x70, 0x00, 0x06, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x29, 0x00, 0, 0, 0, 0}, true, 0x6, 0x29,
     0x00, false, false, {}, {}},
    // A SCSI READ (10) error from the lab's libata: VALID set, the LBA in the information
    // field, no registers.
    {"ScsiReadErrorWithLba", {0xF0, 0x00, 0x0B, 0x00, 0x00, 0x03, 0xE8, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true,
     0xB, 0x00, 0x00, false, false, {}, {}},
    // The header claims a 14-byte descriptor; only 6 of its bytes arrived.
    {"DescriptorTruncated", Bytes(kLabReturnStatusGood.begin(), kLabReturnStatusGood.begin() + 14), true, 0x1,
     0x00, 0x1D, false, false, {}, {}},
    {"DescriptorWithoutItsHeader", {0x72, 0x01, 0x00, 0x1D, 0x00}, false, 0, 0, 0, false, false, {}, {}},
    {"UnknownResponseCode", {0x7F, 0x00, 0x05, 0, 0x50, 0, 0, 0x0A, 0, 0x50, 0, 0, 0x20, 0, 0, 0, 0, 0}, false, 0,
     0, 0, false, false, {}, {}},
    {"Empty", {}, false, 0, 0, 0, false, false, {}, {}},
};

TEST(LinuxSenseTest, EveryLayoutDecodes) {
  for (const SenseCase& c : kCases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[c.sense.size() + 1]);
    std::copy(c.sense.begin(), c.sense.end(), exact.get());
    const Sense s = decodeSense(c.sense.empty() ? nullptr : exact.get(), c.sense.size());
    EXPECT_EQ(s.present, c.present);
    EXPECT_EQ(s.key, c.key);
    EXPECT_EQ(s.asc, c.asc);
    EXPECT_EQ(s.ascq, c.ascq);
    EXPECT_EQ(s.hasRegisters, c.hasRegisters);
    if (!c.hasRegisters) continue;
    EXPECT_EQ(s.extended, c.extended);
    const AtaRegisters& r = s.registers;
    EXPECT_EQ(hex({r.features, r.count, r.lbaLow, r.lbaMid, r.lbaHigh, r.device, r.command}), hex(c.registers));
    if (c.extended && s.descriptor) {
      EXPECT_EQ(hex({s.upper.count, s.upper.lbaLow, s.upper.lbaMid, s.upper.lbaHigh}), hex(c.upper));
    }
  }
}

}  // namespace
}  // namespace palvoro::real::test
