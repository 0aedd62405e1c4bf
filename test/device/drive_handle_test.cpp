#include "device/drive_handle.h"

#include <gtest/gtest.h>

#include "support/case_name.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "device/device_test_support.h"

namespace palvoro {
namespace {

using palvoro::testsupport::caseName;

using namespace devtest;
using Kind = SimRequest::Kind;


// Drive 0 with volumes D: and E:, drive 1 with the system volume C:.
sim::SimMachine twoVolumeMachine(uint32_t osMajor = 10) {
  DriveOptions second;
  second.number = 1;
  sim::SimMachine m = machineWith({makeDrive({}), makeDrive(second)},
                                  {makeVolume('C', 1, 1, 2048, 900'000), makeVolume('D', 0, 1, 2048, 400'000),
                                   makeVolume('E', 0, 2, 402'048, 500'000)});
  m.osMajor = osMajor;
  return m;
}

std::vector<Handle> freshVolumeSlots(size_t n = kVolumeHandleSlots) {
  return std::vector<Handle>(n, INVALID_HANDLE_VALUE);
}

// ---------------------------------------------------------------------------------
// Opening and closing.

struct OpenCase {
  const char* name;
  uint32_t access;
  uint32_t flags;
  uint32_t disposition;
};

class DriveHandleOpenTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(DriveHandleOpenTest, OpenSharedAsksForReadWriteSharing) {
  const OpenCase& c = GetParam();
  Rig rig(twoVolumeMachine());
  ASSERT_TRUE(rig.drive.openShared(kDrive0, c.access, c.flags, c.disposition));
  const std::vector<SimRequest> log = rig.platform.log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].kind, Kind::Open);
  EXPECT_EQ(log[0].path, kDrive0);
  EXPECT_EQ(log[0].access, c.access);
  EXPECT_EQ(log[0].shareMode, 3u);
  EXPECT_EQ(log[0].disposition, c.disposition);
  EXPECT_EQ(log[0].flags, c.flags);
  EXPECT_EQ(rig.drive.handle(), log[0].handle);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, DriveHandleOpenTest,
    ::testing::Values(OpenCase{"TestRun", 0xC0000000u, 0xA0000000u, 3},  // read+write, write-through+no-buffering
                      OpenCase{"DetectionRead", 0x80000000u, 0, 3},      // read only, no flags
                      OpenCase{"OwnHandleCommands", 0xC0000000u, 0, 3}),
    caseName<OpenCase>);

TEST(DriveHandleTest, OpenExclusiveCreatesTheFileWithShareZeroAndOpenAlways) {
  TempFile file("exclusive");
  Rig rig(twoVolumeMachine());
  ASSERT_TRUE(rig.drive.openExclusive(file.path(), GENERIC_WRITE, 0));
  const std::vector<SimRequest> opens = rig.ofKind(Kind::Open);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].path, file.path());
  EXPECT_EQ(opens[0].shareMode, 0u);
  EXPECT_EQ(opens[0].disposition, 4u);  // OPEN_ALWAYS
  EXPECT_TRUE(std::filesystem::exists(file.path()));
}

TEST(DriveHandleTest, OpenExclusiveOfADriveInUseFailsAndStaysClosed) {
  Rig rig(twoVolumeMachine());
  ASSERT_TRUE(rig.openDrive());
  DriveHandle other(rig.platform);
  EXPECT_FALSE(other.openExclusive(kDrive0, kReadWrite, 0));
  EXPECT_EQ(other.handle(), -1);
  EXPECT_EQ(rig.platform.lastError(), ERROR_SHARING_VIOLATION);
}

TEST(DriveHandleTest, FailedOpenLeavesHandleClosed) {
  Rig rig(twoVolumeMachine());
  EXPECT_FALSE(rig.drive.openShared("\\\\.\\PhysicalDrive7", kReadWrite, 0, OPEN_EXISTING));
  EXPECT_FALSE(rig.drive.isOpen());
  EXPECT_EQ(rig.drive.handle(), -1);
  EXPECT_EQ(rig.platform.openHandleCount(), 0u);
}

TEST(DriveHandleTest, ReopenClosesTheFirstHandle) {
  Rig rig(twoVolumeMachine());
  ASSERT_TRUE(rig.openDrive());
  const Handle first = rig.drive.handle();
  ASSERT_TRUE(rig.drive.openShared("\\\\.\\PhysicalDrive1", kReadWrite, 0, OPEN_EXISTING));
  const std::vector<SimRequest> log = rig.platform.log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1].kind, Kind::Close);
  EXPECT_EQ(log[1].handle, first);
  EXPECT_EQ(log[2].kind, Kind::Open);
  EXPECT_EQ(rig.platform.openHandleCount(), 1u);
}

TEST(DriveHandleTest, CloseOfAClosedHandleDoesNothing) {
  Rig rig(twoVolumeMachine());
  std::vector<Handle> volumes = freshVolumeSlots(3);
  rig.drive.close();
  rig.drive.close(volumes, 3);
  EXPECT_EQ(rig.drive.handle(), -1);
  EXPECT_TRUE(rig.platform.log().empty());
}

TEST(DriveHandleTest, DestructorClosesAndAttachedHandlesAreOwned) {
  sim::SimPlatform platform(twoVolumeMachine());
  const Handle raw = platform.createFile(kDrive0, kReadWrite, kShareReadWrite, OPEN_EXISTING, 0);
  ASSERT_NE(raw, -1);
  {
    DriveHandle d(platform);
    EXPECT_EQ(d.handle(), -1);
    d.attach(raw);
    EXPECT_TRUE(d.isOpen());
  }
  EXPECT_EQ(platform.openHandleCount(), 0u);
  const std::vector<SimRequest> log = platform.log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().kind, Kind::Close);
  EXPECT_EQ(log.back().handle, raw);
  EXPECT_TRUE(log.back().ok);
}

struct CloseCase {
  const char* name;
  std::array<bool, 3> open;   // which of the three slots hold a volume handle
  int volumeCount;
  std::array<bool, 3> closed; // which of them close() must close
};

class DriveHandleCloseTest : public ::testing::TestWithParam<CloseCase> {};

// close() closes the first volumeCount entries that are not -1, and only those.
TEST_P(DriveHandleCloseTest, ClosesOnlyOpenEntriesWithinTheCount) {
  const CloseCase& c = GetParam();
  sim::SimMachine m = twoVolumeMachine();
  m.volumes.push_back(makeVolume('F', 0, 3, 902'048, 10'000));
  Rig rig(std::move(m));
  ASSERT_TRUE(rig.openDrive());
  std::vector<Handle> volumes = freshVolumeSlots(3);
  const char letters[] = {'D', 'E', 'F'};
  for (size_t i = 0; i < 3; ++i) {
    if (!c.open[i]) continue;
    volumes[i] = rig.platform.createFile(std::string("\\\\.\\") + letters[i] + ":", kReadWrite, kShareReadWrite,
                                         OPEN_EXISTING, 0);
    ASSERT_NE(volumes[i], -1);
  }
  const std::vector<Handle> before = volumes;
  rig.platform.clearLog();

  rig.drive.close(volumes, c.volumeCount);

  EXPECT_EQ(rig.drive.handle(), -1);
  std::vector<Handle> closedHandles;
  for (const SimRequest& r : rig.ofKind(Kind::Close)) {
    EXPECT_TRUE(r.ok) << "closed a handle that was not open: " << r.handle;
    closedHandles.push_back(r.handle);
  }
  size_t expectedCloses = 1;  // the drive
  size_t stillOpen = 0;
  for (size_t i = 0; i < 3; ++i) {
    if (c.closed[i]) {
      ++expectedCloses;
      EXPECT_EQ(volumes[i], -1) << "slot " << i;
      EXPECT_NE(std::find(closedHandles.begin(), closedHandles.end(), before[i]), closedHandles.end());
    } else {
      EXPECT_EQ(volumes[i], before[i]) << "slot " << i;
      if (c.open[i]) ++stillOpen;
    }
  }
  EXPECT_EQ(closedHandles.size(), expectedCloses);
  EXPECT_EQ(rig.platform.openHandleCount(), stillOpen);
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, DriveHandleCloseTest,
    ::testing::Values(CloseCase{"AllOpen", {true, true, true}, 3, {true, true, true}},
                      CloseCase{"GapInTheMiddle", {true, false, true}, 3, {true, false, true}},
                      CloseCase{"CountSmallerThanOpen", {true, true, true}, 2, {true, true, false}},
                      CloseCase{"CountZeroLeavesVolumes", {true, true, true}, 0, {false, false, false}}),
    caseName<CloseCase>);

// ---------------------------------------------------------------------------------
// Positions, sector reads and writes.

class DriveHandleSeekTest : public ::testing::TestWithParam<uint64_t> {};

// The position goes as low part and high part; a low part of FFFFFFFFh is a position
// like any other because the last error stays 0.
TEST_P(DriveHandleSeekTest, SixtyFourBitPositionsReachTheDrive) {
  const uint64_t offset = GetParam();
  Rig rig(machineWith({makeDrive({.sectors = 1ull << 33})}));
  ASSERT_TRUE(rig.openDrive());
  int32_t high = static_cast<int32_t>(offset >> 32);
  const uint32_t low = rig.drive.seek(static_cast<uint32_t>(offset), &high);
  EXPECT_EQ(low, static_cast<uint32_t>(offset));
  EXPECT_EQ(high, static_cast<int32_t>(offset >> 32));
  EXPECT_EQ(rig.platform.lastError(), 0u);
  EXPECT_TRUE(rig.drive.seekTo(offset));
  const std::vector<SimRequest> seeks = rig.ofKind(Kind::Seek);
  ASSERT_EQ(seeks.size(), 2u);
  EXPECT_EQ(seeks[0].position, offset);
  EXPECT_EQ(seeks[1].position, offset);
}

INSTANTIATE_TEST_SUITE_P(Offsets, DriveHandleSeekTest,
                         ::testing::Values(0ull, 512ull, 0xFFFFFFFFull, 0x1'0000'0000ull, 0x1'FFFF'FFFFull,
                                           0x123'4567'8A00ull));

TEST(DriveHandleTest, SeekFailureIsMinusOneWithLastError) {
  Rig rig(machineWith({makeDrive({})}));
  // Not open yet: the platform refuses the handle.
  EXPECT_FALSE(rig.drive.seekTo(512));
  ASSERT_TRUE(rig.openDrive());
  int32_t high = -1;  // before the beginning
  EXPECT_EQ(rig.drive.seek(0, &high), 0xFFFFFFFFu);
  EXPECT_NE(rig.platform.lastError(), 0u);
  EXPECT_FALSE(rig.drive.seekTo(0x8000'0000'0000'0000ull));
}

class DriveHandleSectorTest : public ::testing::TestWithParam<uint64_t> {};

TEST_P(DriveHandleSectorTest, WriteThenReadAtByteOffset) {
  const uint64_t lba = GetParam();
  Rig rig(machineWith({makeDrive({.sectors = 1ull << 33})}));
  ASSERT_TRUE(rig.openDrive());
  Bytes pattern(512);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7 + lba);
  ASSERT_TRUE(rig.drive.seekTo(lba * 512));
  ASSERT_TRUE(rig.drive.write(pattern.data(), 512));
  EXPECT_EQ(sectorOf(rig.platform.drive(0).disk(), lba), pattern);

  Bytes back(512, 0xEE);
  uint32_t got = 0;
  ASSERT_TRUE(rig.drive.seekTo(lba * 512));
  ASSERT_TRUE(rig.drive.read(back.data(), 512, &got));
  EXPECT_EQ(got, 512u);
  EXPECT_EQ(back, pattern);
}

// Sector 7FFFFFh ends just below 4 GiB, 800000h starts at it.
INSTANTIATE_TEST_SUITE_P(Lbas, DriveHandleSectorTest,
                         ::testing::Values(0ull, 7ull, 0x7FFFFFull, 0x800000ull, 0x1'0000'0001ull));

struct MountedWriteCase {
  const char* name;
  uint32_t osMajor;
  bool lockFirst;
  uint64_t lba;
  bool written;
};

class MountedVolumeWriteTest : public ::testing::TestWithParam<MountedWriteCase> {};

// From version 6 on, raw writes into a mounted volume are refused until the test has
// locked and dismounted it.
TEST_P(MountedVolumeWriteTest, WriteIntoVolume) {
  const MountedWriteCase& c = GetParam();
  Rig rig(twoVolumeMachine(c.osMajor));
  std::vector<Handle> volumes = freshVolumeSlots();
  if (c.lockFirst) {
    ASSERT_EQ(openDriveLocked(rig.drive, makeLockTarget(0, "DE"), volumes), DriveRequestError::None);
  } else {
    ASSERT_TRUE(rig.openDrive());
  }
  const Bytes data(512, 0xA5);
  ASSERT_TRUE(rig.drive.seekTo(c.lba * 512));
  EXPECT_EQ(rig.drive.write(data.data(), 512), c.written);
  if (c.written) {
    EXPECT_EQ(sectorOf(rig.platform.drive(0).disk(), c.lba), data);
  } else {
    EXPECT_EQ(rig.platform.lastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(rig.platform.drive(0).disk().anyData(c.lba, 1));
  }
  rig.drive.close(volumes, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, MountedVolumeWriteTest,
    ::testing::Values(MountedWriteCase{"Version5Unlocked", 5, false, 3000, true},
                      MountedWriteCase{"Version6Unlocked", 6, false, 3000, false},
                      MountedWriteCase{"Version10Unlocked", 10, false, 500'000, false},
                      MountedWriteCase{"Version10OutsideVolumes", 10, false, 100, true},
                      MountedWriteCase{"Version6Locked", 6, true, 3000, true},
                      MountedWriteCase{"Version10Locked", 10, true, 500'000, true}),
    caseName<MountedWriteCase>);

// ---------------------------------------------------------------------------------
// Result page lines.

struct LineCase {
  const char* name;
  std::string text;
};

class WriteLineTest : public ::testing::TestWithParam<LineCase> {};

// Every line ends in CR LF and is written whole in one write, however long.
TEST_P(WriteLineTest, WritesTextAndCrLf) {
  const LineCase& c = GetParam();
  TempFile file("line");
  Rig rig(machineWith({}));
  ASSERT_TRUE(rig.drive.openExclusive(file.path(), GENERIC_WRITE, 0));
  EXPECT_TRUE(rig.drive.writeLine(c.text));
  rig.drive.close();
  EXPECT_EQ(file.contents(), c.text + "\r\n");
  const std::vector<SimRequest> writes = rig.ofKind(Kind::Write);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].outSize, c.text.size() + 2);
}

INSTANTIATE_TEST_SUITE_P(Lines, WriteLineTest,
                         ::testing::Values(LineCase{"Empty", ""}, LineCase{"Short", "<td>PASS</td>"},
                                           LineCase{"FillsBufferExactly", std::string(510, 'x')},
                                           LineCase{"OneOverBuffer", std::string(511, 'y')},
                                           LineCase{"FarOverBuffer", std::string(1500, 'z')}),
                         caseName<LineCase>);

TEST(WriteLineTest, LinesFollowEachOther) {
  TempFile file("lines");
  Rig rig(machineWith({}));
  ASSERT_TRUE(rig.drive.openExclusive(file.path(), GENERIC_WRITE, 0));
  EXPECT_TRUE(rig.drive.writeLine("<html>"));
  EXPECT_TRUE(rig.drive.writeLine(""));
  EXPECT_TRUE(rig.drive.writeLine("</html>"));
  rig.drive.close();
  EXPECT_EQ(file.contents(), "<html>\r\n\r\n</html>\r\n");
}

TEST(WriteLineTest, FailsWhenNothingIsOpen) {
  Rig rig(machineWith({}));
  EXPECT_FALSE(rig.drive.writeLine("lost"));
}

// ---------------------------------------------------------------------------------
// READ VERIFY SECTORS EXT and SANITIZE through the open handle.

struct VerifyCase {
  const char* name;
  uint64_t lba;
  uint32_t count;
  int expected;
  bool sent;
};

class ReadVerifyTest : public ::testing::TestWithParam<VerifyCase> {};

// Drive of 1,000,000 sectors with sector 5000 unreadable.
TEST_P(ReadVerifyTest, VerifiesTheRangeTheDriveSees) {
  const VerifyCase& c = GetParam();
  sim::SimMachine m = machineWith({makeDrive({})});
  m.drives[0].disk().markUnreadable(5000);
  Rig rig(std::move(m));
  ASSERT_TRUE(rig.openDrive());
  EXPECT_EQ(static_cast<int>(rig.drive.readVerifyExt(0, c.lba, c.count)), c.expected);
  EXPECT_EQ(rig.ata().size(), c.sent ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, ReadVerifyTest,
    ::testing::Values(VerifyCase{"Clean", 0, 1, 0, true}, VerifyCase{"JustBeforeBad", 4999, 1, 0, true},
                      VerifyCase{"BadSector", 5000, 1, 1, true}, VerifyCase{"BadInsideRange", 4990, 20, 1, true},
                      VerifyCase{"FullCountAfterBad", 5001, 65536, 0, true},
                      VerifyCase{"FullCountOverBad", 0, 65536, 1, true},
                      VerifyCase{"LastSector", 999'999, 1, 0, true},
                      VerifyCase{"PastTheEnd", 999'999, 2, 1, true},
                      VerifyCase{"StartBeyondEnd", 1'000'000, 1, 1, true},
                      // Only the low 32 bits reach the drive: these verify LBA 10 and 5000.
                      VerifyCase{"HighBitsDroppedClean", 0x1'0000'000Aull, 1, 0, true},
                      VerifyCase{"HighBitsDroppedBad", 0x1'0000'1388ull, 1, 1, true},
                      VerifyCase{"CountZero", 0, 0, 1, false}, VerifyCase{"CountTooLarge", 0, 65537, 1, false}),
    caseName<VerifyCase>);

TEST(ReadVerifyTest, UnitSelectsTheMediaOfADualUnitDrive) {
  sim::SimMachine m = machineWith({makeDualUnitDrive(0, 2'000'000, 1'000'000)});
  m.drives[0].ata.units[2].media.markUnreadable(77);
  Rig rig(std::move(m));
  ASSERT_TRUE(rig.openDrive());
  EXPECT_EQ(rig.drive.readVerifyExt(2, 77, 1), AtaStatus::Failure);
  EXPECT_EQ(rig.drive.readVerifyExt(0, 77, 1), AtaStatus::Success);
  EXPECT_EQ(rig.drive.readVerifyExt(2, 1'500'000, 1), AtaStatus::Failure);  // beyond unit 2 only
  EXPECT_EQ(rig.drive.readVerifyExt(0, 1'500'000, 1), AtaStatus::Success);
}

TEST(SanitizeTest, BlockEraseWipesTheUnit) {
  Rig rig(machineWith({makeDrive({})}));
  sim::SimMedia& disk = rig.platform.drive(0).disk();
  putSector(disk, 0, 0x11);
  putSector(disk, 999'999, 0x22);
  disk.markUnreadable(42);
  ASSERT_TRUE(rig.openDrive());
  EXPECT_EQ(rig.drive.sanitizeBlockErase(0), AtaStatus::Success);
  EXPECT_EQ(disk.storedSectors(), 0u);
  EXPECT_TRUE(disk.unreadable().empty());
  EXPECT_EQ(rig.ata().size(), 2u);
}

TEST(SanitizeTest, SecondUnitEraseLeavesTheFirst) {
  Rig rig(machineWith({makeDualUnitDrive(0, 2'000'000, 1'000'000)}));
  putSector(rig.platform.drive(0).ata.units[0].media, 5, 0x11);
  putSector(rig.platform.drive(0).ata.units[2].media, 5, 0x22);
  ASSERT_TRUE(rig.openDrive());
  EXPECT_EQ(rig.drive.sanitizeBlockErase(2), AtaStatus::Success);
  EXPECT_EQ(rig.platform.drive(0).ata.units[2].media.storedSectors(), 0u);
  EXPECT_EQ(sectorOf(rig.platform.drive(0).ata.units[0].media, 5), Bytes(512, 0x11));
}

TEST(SanitizeTest, DriveWithoutSanitizeFailsAndKeepsData) {
  Rig rig(machineWith({makeDrive({.sanitize = false})}));
  putSector(rig.platform.drive(0).disk(), 9, 0x33);
  ASSERT_TRUE(rig.openDrive());
  EXPECT_EQ(rig.drive.sanitizeBlockErase(0), AtaStatus::Failure);
  EXPECT_EQ(rig.ata().size(), 1u);  // no status request after a refused erase
  EXPECT_EQ(sectorOf(rig.platform.drive(0).disk(), 9), Bytes(512, 0x33));
}

TEST(SanitizeTest, FailingStatusRequestFails) {
  Rig rig(machineWith({makeDrive({})}));
  ASSERT_TRUE(rig.openDrive());
  sim::SimFault f;
  f.kind = sim::SimFault::Kind::FailRequest;
  f.command = 0xB4;
  f.features = 0x00;  // SANITIZE STATUS EXT only
  rig.platform.injectFault(f);
  EXPECT_EQ(rig.drive.sanitizeBlockErase(0), AtaStatus::Failure);
  const std::vector<SimRequest> ata = rig.ata();
  ASSERT_EQ(ata.size(), 2u);
  EXPECT_TRUE(ata[0].ok);
  EXPECT_FALSE(ata[1].ok);
}

// ---------------------------------------------------------------------------------
// Locking the volumes of a drive before a write test.

TEST(OpenDriveLockedTest, LocksThenDismountsEachVolumeInOrder) {
  Rig rig(twoVolumeMachine());
  std::vector<Handle> volumes = freshVolumeSlots();
  int opened = -1;
  ASSERT_EQ(openDriveLocked(rig.drive, makeLockTarget(0, "DE"), volumes, &opened), DriveRequestError::None);
  EXPECT_EQ(opened, 2);
  EXPECT_TRUE(rig.drive.isOpen());

  const std::vector<SimRequest> log = rig.platform.log();
  ASSERT_EQ(log.size(), 7u);
  EXPECT_EQ(log[0].kind, Kind::Open);
  EXPECT_EQ(log[0].path, kDrive0);
  EXPECT_EQ(log[0].access, kReadWrite);
  EXPECT_EQ(log[0].shareMode, kShareReadWrite);
  EXPECT_EQ(log[0].disposition, OPEN_EXISTING);
  EXPECT_EQ(log[0].flags, 0u);
  const char* names[] = {"\\\\.\\D:", "\\\\.\\E:"};
  for (size_t v = 0; v < 2; ++v) {
    const SimRequest& open = log[1 + 3 * v];
    EXPECT_EQ(open.kind, Kind::Open);
    EXPECT_EQ(open.path, names[v]);
    EXPECT_EQ(open.access, kReadWrite);
    EXPECT_EQ(open.shareMode, kShareReadWrite);
    EXPECT_EQ(open.disposition, OPEN_EXISTING);
    EXPECT_EQ(open.flags, 0u);
    EXPECT_EQ(volumes[v], open.handle);
    EXPECT_EQ(log[2 + 3 * v].code, FSCTL_LOCK_VOLUME);
    EXPECT_EQ(log[2 + 3 * v].handle, open.handle);
    EXPECT_EQ(log[3 + 3 * v].code, FSCTL_DISMOUNT_VOLUME);
    EXPECT_EQ(log[3 + 3 * v].handle, open.handle);
  }
  EXPECT_EQ(volumes[2], -1);
  for (char letter : {'D', 'E'}) {
    EXPECT_TRUE(rig.platform.volume(letter).locked) << letter;
    EXPECT_FALSE(rig.platform.volume(letter).mounted) << letter;
  }
  EXPECT_TRUE(rig.platform.volume('C').mounted);
  EXPECT_FALSE(rig.platform.volume('C').locked);

  rig.drive.close(volumes, 2);
  EXPECT_EQ(rig.platform.openHandleCount(), 0u);
  EXPECT_FALSE(rig.platform.volume('D').locked);
  EXPECT_EQ(volumes[0], -1);
  EXPECT_EQ(volumes[1], -1);
}

TEST(OpenDriveLockedTest, MoreVolumesThanSlotsOpensNoVolume) {
  Rig rig(twoVolumeMachine());
  std::vector<Handle> volumes = freshVolumeSlots(1);
  int opened = -1;
  EXPECT_EQ(openDriveLocked(rig.drive, makeLockTarget(0, "DE"), volumes, &opened), DriveRequestError::TooManyVolumes);
  EXPECT_EQ(opened, 0);
  EXPECT_TRUE(rig.drive.isOpen());
  EXPECT_EQ(volumes[0], -1);
  const std::vector<SimRequest> opens = rig.ofKind(Kind::Open);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].path, kDrive0);
  EXPECT_TRUE(rig.ofKind(Kind::Ioctl).empty());
  EXPECT_EQ(rig.platform.openHandleCount(), 1u);
}

TEST(OpenDriveLockedTest, DriveThatDoesNotOpenIsError4) {
  Rig rig(twoVolumeMachine());
  std::vector<Handle> volumes = freshVolumeSlots();
  EXPECT_EQ(openDriveLocked(rig.drive, makeLockTarget(6, "DE"), volumes), DriveRequestError::NoDrive);
  EXPECT_FALSE(rig.drive.isOpen());
  const std::vector<SimRequest> opens = rig.ofKind(Kind::Open);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].path, "\\\\.\\PhysicalDrive6");
  EXPECT_EQ(rig.platform.openHandleCount(), 0u);
}

TEST(OpenDriveLockedTest, DriveWithoutVolumesOpensTheDriveAlone) {
  Rig rig(twoVolumeMachine());
  std::vector<Handle> volumes = freshVolumeSlots();
  EXPECT_EQ(openDriveLocked(rig.drive, makeLockTarget(0, ""), volumes), DriveRequestError::None);
  EXPECT_TRUE(rig.drive.isOpen());
  EXPECT_EQ(rig.platform.log().size(), 1u);
}

struct VolumeStateCase {
  const char* name;
  void (*arrange)(sim::SimPlatform&);
  int opened;
  bool secondHandle;  // whether E: got a handle
};

class OpenDriveLockedVolumeTest : public ::testing::TestWithParam<VolumeStateCase> {};

// Only volumes that opened are counted; one in use opens, cannot be locked, and still
// gets its dismount.
TEST_P(OpenDriveLockedVolumeTest, CountsOnlyVolumesThatOpened) {
  const VolumeStateCase& c = GetParam();
  Rig rig(twoVolumeMachine());
  c.arrange(rig.platform);
  rig.platform.clearLog();
  std::vector<Handle> volumes = freshVolumeSlots();
  int opened = -1;
  EXPECT_EQ(openDriveLocked(rig.drive, makeLockTarget(0, "DE"), volumes, &opened), DriveRequestError::None);
  EXPECT_EQ(opened, c.opened);
  EXPECT_NE(volumes[0], -1);
  EXPECT_EQ(volumes[1] != -1, c.secondHandle);
  size_t eRequests = 0;
  for (const SimRequest& r : rig.ofKind(Kind::Ioctl)) {
    if (r.path == "\\\\.\\E:") ++eRequests;
  }
  EXPECT_EQ(eRequests, c.secondHandle ? 2u : 0u);
  rig.drive.close(volumes, 2);
}

INSTANTIATE_TEST_SUITE_P(
    States, OpenDriveLockedVolumeTest,
    ::testing::Values(
        VolumeStateCase{"InUse", [](sim::SimPlatform& p) { p.volume('E').openFiles = 3; }, 2, true},
        VolumeStateCase{"Gone", [](sim::SimPlatform& p) { p.volume('E').removed = true; }, 1, false},
        VolumeStateCase{"LockedElsewhere",
                        [](sim::SimPlatform& p) {
                          const Handle h = p.createFile("\\\\.\\E:", kReadWrite, kShareReadWrite, OPEN_EXISTING, 0);
                          p.deviceIoControl(h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr);
                        },
                        1, false}),
    caseName<VolumeStateCase>);

TEST(OpenDriveLockedTest, VolumeInUseStaysUnlockedButDismounted) {
  Rig rig(twoVolumeMachine());
  rig.platform.volume('E').openFiles = 1;
  std::vector<Handle> volumes = freshVolumeSlots();
  ASSERT_EQ(openDriveLocked(rig.drive, makeLockTarget(0, "DE"), volumes), DriveRequestError::None);
  const std::vector<SimRequest> locks = rig.platform.ioctls(FSCTL_LOCK_VOLUME);
  ASSERT_EQ(locks.size(), 2u);
  EXPECT_TRUE(locks[0].ok);
  EXPECT_FALSE(locks[1].ok);
  EXPECT_EQ(rig.platform.ioctls(FSCTL_DISMOUNT_VOLUME).size(), 2u);
  EXPECT_FALSE(rig.platform.volume('E').locked);
  EXPECT_FALSE(rig.platform.volume('E').mounted);
  rig.drive.close(volumes, 2);
}

}  // namespace
}  // namespace palvoro
