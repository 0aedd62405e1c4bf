// TRIM (DATA SET MANAGEMENT 06h and XL 07h) as sent by trimRange and trimRangeXl.

#include <gtest/gtest.h>

#include "support/case_name.h"

#include <string>
#include <vector>

#include "device/device_test_support.h"
#include "device/drive_requests.h"

namespace palvoro {
namespace {

using palvoro::testsupport::caseName;

using namespace devtest;


// The 512-byte range lists of the DATA SET MANAGEMENT requests, in the order sent.
std::vector<Bytes> blocksSent(const Rig& rig) {
  std::vector<Bytes> blocks;
  for (const SimRequest& r : rig.ata()) {
    EXPECT_EQ(r.inSize, 552u);
    blocks.push_back(slice(r.input, 40, 512));
  }
  return blocks;
}

Bytes entry(const Bytes& block, size_t index) { return slice(block, 8 * index, 8); }

// ---------------------------------------------------------------------------------
// How a range is cut into entries of F000h sectors and blocks of 64 entries.

struct SplitCase {
  const char* name;
  uint64_t start;
  uint64_t count;
  size_t blocks;
  size_t entriesInLast;   // non-empty entries of the last block
  Bytes firstEntry;       // entry 0 of block 0
  Bytes lastEntry;        // the last non-empty entry of the last block
};

class TrimSplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(TrimSplitTest, RangeBecomesEntriesAndBlocks) {
  const SplitCase& c = GetParam();
  Rig rig(machineWith({makeDrive({.sectors = 0x2000'0000'0000ull})}));
  EXPECT_EQ(trimRange(rig.platform, makeTrimTarget(0, false, 0), c.start, c.count), DriveRequestError::None);
  const std::vector<Bytes> blocks = blocksSent(rig);
  ASSERT_EQ(blocks.size(), c.blocks);
  EXPECT_EQ(hex(entry(blocks.front(), 0)), hex(c.firstEntry));
  for (size_t b = 0; b + 1 < blocks.size(); ++b) {
    for (size_t e = 0; e < 64; ++e) EXPECT_NE(entry(blocks[b], e), Bytes(8, 0)) << "block " << b << " entry " << e;
  }
  const Bytes& last = blocks.back();
  EXPECT_EQ(hex(entry(last, c.entriesInLast - 1)), hex(c.lastEntry));
  EXPECT_TRUE(allZero(last, 8 * c.entriesInLast)) << "entries after the last one are not zero";
  EXPECT_EQ(rig.platform.openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, TrimSplitTest,
    ::testing::Values(
        SplitCase{"OneSector", 0x1234, 1, 1, 1, {0x34, 0x12, 0, 0, 0, 0, 0x01, 0x00}, {0x34, 0x12, 0, 0, 0, 0, 0x01, 0x00}},
        SplitCase{"OneFullEntry", 0, 61440, 1, 1, {0, 0, 0, 0, 0, 0, 0x00, 0xF0}, {0, 0, 0, 0, 0, 0, 0x00, 0xF0}},
        // F005h sectors from 1000h: F000h, then 5 from 10000h.
        SplitCase{"EntryAndRemainder", 0x1000, 61445, 1, 2, {0x00, 0x10, 0, 0, 0, 0, 0x00, 0xF0},
                  {0x00, 0x00, 0x01, 0, 0, 0, 0x05, 0x00}},
        // 64 x F000h = 3C0000h sectors: one full block, no empty second one. Entry 63
        // starts at 63 x F000h = 3B1000h.
        SplitCase{"ExactlyOneFullBlock", 0, 64ull * 61440, 1, 64, {0, 0, 0, 0, 0, 0, 0x00, 0xF0},
                  {0x00, 0x10, 0x3B, 0, 0, 0, 0x00, 0xF0}},
        SplitCase{"OneSectorOverAFullBlock", 0, 64ull * 61440 + 1, 2, 1, {0, 0, 0, 0, 0, 0, 0x00, 0xF0},
                  {0x00, 0x00, 0x3C, 0, 0, 0, 0x01, 0x00}},
        SplitCase{"SixtyFiveEntries", 0, 65ull * 61440, 2, 1, {0, 0, 0, 0, 0, 0, 0x00, 0xF0},
                  {0x00, 0x00, 0x3C, 0, 0, 0, 0x00, 0xF0}},
        // Two full blocks and 3 sectors: 128 x F000h = 780000h.
        SplitCase{"ThreeBlocks", 0, 128ull * 61440 + 3, 3, 1, {0, 0, 0, 0, 0, 0, 0x00, 0xF0},
                  {0x00, 0x00, 0x78, 0, 0, 0, 0x03, 0x00}},
        // The high word of the start goes to bytes 4 and 5.
        SplitCase{"StartAboveFourGiBSectors", 0x1234'5678'9ABCull, 10, 1, 1,
                  {0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12, 0x0A, 0x00}, {0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12, 0x0A, 0x00}},
        // Crossing 2^32: FFFFF000h for F000h sectors, then 1000h sectors from 1_0000E000h.
        SplitCase{"CrossingFourGiBSectors", 0xFFFF'F000ull, 61440 + 0x1000, 1, 2,
                  {0x00, 0xF0, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xF0}, {0x00, 0xE0, 0x00, 0x00, 0x01, 0x00, 0x00, 0x10}}),
    caseName<SplitCase>);

// ---------------------------------------------------------------------------------
// Nothing to do, no drive, a refused block.

TEST(TrimTest, ZeroSectorsSendNothingAndReturn4) {
  Rig rig(machineWith({makeDrive({})}));
  EXPECT_EQ(trimRange(rig.platform, makeTrimTarget(0, false, 0), 100, 0), DriveRequestError::NoDrive);
  EXPECT_EQ(trimRangeXl(rig.platform, makeTrimTarget(0, false, 0), 100, 0), DriveRequestError::NoDrive);
  EXPECT_TRUE(rig.ata().empty());
  EXPECT_EQ(rig.platform.openHandleCount(), 0u);
}

TEST(TrimTest, DriveThatDoesNotOpenReturns4) {
  Rig rig(machineWith({makeDrive({})}));
  EXPECT_EQ(trimRange(rig.platform, makeTrimTarget(3, false, 0), 0, 8), DriveRequestError::NoDrive);
  EXPECT_EQ(trimRangeXl(rig.platform, makeTrimTarget(3, false, 0), 0, 8), DriveRequestError::NoDrive);
  // Without administrator rights the SMART path is the SCSI port; drive 2's port has no
  // drive behind it.
  EXPECT_EQ(trimRange(rig.platform, makeTrimTarget(2, true, 0), 0, 8), DriveRequestError::NoDrive);
  EXPECT_TRUE(rig.ata().empty());
}

TEST(TrimTest, OwnHandleOpenedAndClosed) {
  Rig rig(machineWith({makeDrive({})}));
  ASSERT_EQ(trimRange(rig.platform, makeTrimTarget(0, false, 0), 0, 8), DriveRequestError::None);
  const std::vector<SimRequest> log = rig.platform.log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].kind, SimRequest::Kind::Open);
  EXPECT_EQ(log[0].path, kDrive0);
  EXPECT_EQ(log[0].access, kReadWrite);
  EXPECT_EQ(log[0].shareMode, kShareReadWrite);
  EXPECT_EQ(log[0].disposition, OPEN_EXISTING);
  EXPECT_EQ(log[0].flags, 0u);
  EXPECT_EQ(log[2].kind, SimRequest::Kind::Close);
}

TEST(TrimTest, FirstRefusedBlockEndsTheWalkWith21) {
  // The media ends 10 sectors into the second block's range, so the drive refuses that
  // block; the third is never sent.
  constexpr uint64_t kBlock = 64ull * 61440;
  Rig rig(machineWith({makeDrive({.sectors = kBlock + 10})}));
  sim::SimMedia& disk = rig.platform.drive(0).disk();
  putSector(disk, 5, 0x5A);
  EXPECT_EQ(trimRange(rig.platform, makeTrimTarget(0, false, 0), 0, 2 * kBlock + 7), DriveRequestError::Trim);
  const std::vector<SimRequest> ata = rig.ata();
  ASSERT_EQ(ata.size(), 2u);
  EXPECT_TRUE(ata[0].ok);
  EXPECT_FALSE(disk.anyData(5, 1));  // the first block went through
  EXPECT_EQ(rig.platform.openHandleCount(), 0u);
}

TEST(TrimTest, FailingRequestEndsTheWalkWith21) {
  Rig rig(machineWith({makeDrive({.sectors = 20'000'000})}));
  sim::SimFault f;
  f.ioctl = IOCTL_ATA_PASS_THROUGH;
  rig.platform.injectFault(f);
  EXPECT_EQ(trimRange(rig.platform, makeTrimTarget(0, false, 0), 0, 3ull * 64 * 61440), DriveRequestError::Trim);
  EXPECT_EQ(rig.ata().size(), 1u);
}

// ---------------------------------------------------------------------------------
// What the drive does with it.

TEST(TrimTest, TrimmedSectorsReadZeroAndNeighboursKeepTheirData) {
  constexpr uint64_t kStart = 1000;
  constexpr uint64_t kCount = 64ull * 61440 + 3;  // two blocks
  Rig rig(machineWith({makeDrive({.sectors = 5'000'000})}));
  sim::SimMedia& disk = rig.platform.drive(0).disk();
  const uint64_t inside[] = {kStart, kStart + 61439, kStart + 61440, kStart + 64ull * 61440, kStart + kCount - 1};
  for (uint64_t lba : inside) putSector(disk, lba, 0x77);
  putSector(disk, kStart - 1, 0x11);
  putSector(disk, kStart + kCount, 0x22);

  ASSERT_EQ(trimRange(rig.platform, makeTrimTarget(0, false, 0), kStart, kCount), DriveRequestError::None);

  for (uint64_t lba : inside) EXPECT_EQ(sectorOf(disk, lba), Bytes(512, 0)) << lba;
  EXPECT_EQ(sectorOf(disk, kStart - 1), Bytes(512, 0x11));
  EXPECT_EQ(sectorOf(disk, kStart + kCount), Bytes(512, 0x22));
}

TEST(TrimTest, UnitSelectsTheMediaOfADualUnitDrive) {
  Rig rig(machineWith({makeDualUnitDrive(0, 2'000'000, 1'000'000)}));
  sim::SimMedia& first = rig.platform.drive(0).ata.units[0].media;
  sim::SimMedia& second = rig.platform.drive(0).ata.units[2].media;
  putSector(first, 50, 0x01);
  putSector(second, 50, 0x02);
  ASSERT_EQ(trimRange(rig.platform, makeTrimTarget(0, false, 2), 0, 100), DriveRequestError::None);
  EXPECT_FALSE(second.anyData(50, 1));
  EXPECT_EQ(sectorOf(first, 50), Bytes(512, 0x01));
}

// ---------------------------------------------------------------------------------
// DATA SET MANAGEMENT XL: one block, one 16-byte entry.

struct XlCase {
  const char* name;
  uint64_t start;
  uint64_t count;
  Bytes entry;  // 64-bit start, 64-bit count, low word first
};

class TrimXlTest : public ::testing::TestWithParam<XlCase> {};

TEST_P(TrimXlTest, OneSixteenByteEntry) {
  const XlCase& c = GetParam();
  Rig rig(machineWith({makeDrive({.sectors = 0x2000'0000'0000ull, .dsmXl = true})}));
  EXPECT_EQ(trimRangeXl(rig.platform, makeTrimTarget(0, false, 0), c.start, c.count), DriveRequestError::None);
  const std::vector<Bytes> blocks = blocksSent(rig);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(hex(slice(blocks[0], 0, 16)), hex(c.entry));
  EXPECT_TRUE(allZero(blocks[0], 16));
  EXPECT_EQ(rig.ata()[0].input[38], 0x07);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, TrimXlTest,
    ::testing::Values(
        XlCase{"Small", 0x10, 8, {0x10, 0, 0, 0, 0, 0, 0, 0, 0x08, 0, 0, 0, 0, 0, 0, 0}},
        // No cutting into F000h pieces: 200,000 = 30D40h sectors in one entry.
        XlCase{"LargerThanAnEntryOfTheShortForm", 0x1'0000'0010ull, 200'000,
               {0x10, 0, 0, 0, 0x01, 0, 0, 0, 0x40, 0x0D, 0x03, 0, 0, 0, 0, 0}},
        XlCase{"WholeDriveWord", 0, 0xFFFF'FFFFull,
               {0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}}),
    caseName<XlCase>);

TEST(TrimXlTest, TrimsTheRangeOnTheMedia) {
  Rig rig(machineWith({makeDrive({.dsmXl = true})}));
  sim::SimMedia& disk = rig.platform.drive(0).disk();
  putSector(disk, 99, 0x11);
  putSector(disk, 100, 0x77);
  putSector(disk, 199'999 + 100, 0x77);
  putSector(disk, 200'000 + 100, 0x22);
  ASSERT_EQ(trimRangeXl(rig.platform, makeTrimTarget(0, false, 0), 100, 200'000), DriveRequestError::None);
  EXPECT_FALSE(disk.anyData(100, 200'000));
  EXPECT_EQ(sectorOf(disk, 99), Bytes(512, 0x11));
  EXPECT_EQ(sectorOf(disk, 200'100), Bytes(512, 0x22));
}

TEST(TrimXlTest, DriveWithoutXlRefusesWith21) {
  Rig rig(machineWith({makeDrive({})}));
  EXPECT_EQ(trimRangeXl(rig.platform, makeTrimTarget(0, false, 0), 0, 8), DriveRequestError::Trim);
  EXPECT_EQ(rig.ata().size(), 1u);
}

}  // namespace
}  // namespace palvoro
