#include "discovery/volumes.h"

#include <gtest/gtest.h>

#include "support/case_name.h"

#include <cctype>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "device/device_test_support.h"
#include "platform/ioctl_codes.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

using palvoro::testsupport::caseName;



using devtest::Bytes;
using devtest::makeRecord;

std::string lettersOf(const DriveRecord& r) { return std::string(r.volumeLetters, strnlen(r.volumeLetters, 32)); }

// A desktop with a system disk (C: and E:, E: listed first), a USB stick, a disk that
// detection skipped, an optical drive and a network share. CD-ROM device numbers are
// counted apart from disk numbers, so the optical drive's number can equal a listed
// disk's: the table below holds a record with that number.
constexpr const char* kDesktop = R"({
  "drives": [
    {"number": 0, "identity": {"model": "VHT SYSTEM DISK", "serial": "S0", "sectors": 4000000}},
    {"number": 1, "transport": "usb-sat", "identity": {"model": "USB STICK", "serial": "S1", "sectors": 200000}},
    {"number": 2, "identity": {"model": "SKIPPED DISK", "serial": "S2", "sectors": 200000}},
    {"number": 3, "transport": "optical", "identity": {"sectors": 200000}}
  ],
  "volumes": [
    {"letter": "E", "drive": 0, "partition": 2, "start": 2000000, "sectors": 1000000},
    {"letter": "C", "drive": 0, "partition": 1, "start": 2048, "sectors": 1000000},
    {"letter": "B", "drive": 1, "partition": 2, "type": "removable", "start": 100000, "sectors": 50000},
    {"letter": "F", "drive": 1, "partition": 1, "type": "removable", "start": 2048, "sectors": 50000},
    {"letter": "G", "drive": 2, "start": 2048, "sectors": 50000},
    {"letter": "D", "drive": 3, "type": "cdrom", "start": 1, "sectors": 1000},
    {"letter": "Z", "type": "network", "sizeBytes": 1000000}
  ]
})";

DriveTable desktopTable() {
  DriveTable t;
  t.records = {makeRecord(0), makeRecord(1), makeRecord(3)};
  return t;
}

struct MapCase {
  const char* name;
  int index;
  const char* letters;
};

const MapCase kMapCases[] = {
    {"letters in letter order, not partition order", 0, "CE"},
    {"a removable volume is mapped, B: never looked at", 1, "F"},
    {"a CD-ROM whose number equals a listed drive's is not mapped", 2, ""},
};

class MapVolumes : public testing::TestWithParam<MapCase> {};

TEST_P(MapVolumes, AssignsEachFixedOrRemovableLetterToItsDrive) {
  sim::SimPlatform platform(sim::loadMachine(kDesktop));
  DriveTable table = desktopTable();
  mapVolumes(platform, table);
  const MapCase& c = GetParam();
  const DriveRecord& r = table.records[c.index];
  EXPECT_EQ(lettersOf(r), c.letters);
  EXPECT_EQ(r.volumeCount, static_cast<int32_t>(std::strlen(c.letters)));
}

INSTANTIATE_TEST_SUITE_P(Desktop, MapVolumes, testing::ValuesIn(kMapCases),
                         caseName<MapCase>);

TEST(MapVolumesTable, LettersOfSkippedDrivesAndNetworkSharesGoNowhere) {
  sim::SimPlatform platform(sim::loadMachine(kDesktop));
  DriveTable table = desktopTable();
  mapVolumes(platform, table);
  // G: lies on drive 2, which detection skipped; Z: is a network share.
  for (int i = 0; i < table.driveCount(); ++i) {
    EXPECT_EQ(lettersOf(table.records[i]).find_first_of("GZDB"), std::string::npos) << i;
  }
}

TEST(MapVolumesTable, ARefreshForgetsLettersThatAreGone) {
  sim::SimPlatform platform(sim::loadMachine(kDesktop));
  DriveTable table = desktopTable();
  // What an earlier run left: more letters than the drive has now, and a long count.
  table.records[0] = makeRecord(0, "CEHIJKLMNOP");
  table.records[2] = makeRecord(3, "D");
  mapVolumes(platform, table);
  EXPECT_EQ(lettersOf(table.records[0]), "CE");
  EXPECT_EQ(table.records[0].volumeCount, 2);
  EXPECT_TRUE(std::all_of(table.records[0].volumeLetters + 2, table.records[0].volumeLetters + 32,
                          [](char c) { return c == '\0'; }));
  EXPECT_EQ(lettersOf(table.records[2]), "");
  EXPECT_EQ(table.records[2].volumeCount, 0);
}

TEST(MapVolumesTable, TwoRecordsOfOneNumberGiveTheLettersToTheFirst) {
  sim::SimPlatform platform(sim::loadMachine(kDesktop));
  DriveTable table = desktopTable();
  table.records[2] = makeRecord(0);
  mapVolumes(platform, table);
  EXPECT_EQ(lettersOf(table.records[0]), "CE");
  EXPECT_EQ(lettersOf(table.records[2]), "");
}

TEST(MapVolumesTable, EachVolumeIsOpenedSharedForReadingAndWritingAndClosed) {
  sim::SimPlatform platform(sim::loadMachine(kDesktop));
  DriveTable table = desktopTable();
  mapVolumes(platform, table);
  std::vector<std::string> opened;
  for (const sim::SimRequest& r : platform.log()) {
    if (r.kind != sim::SimRequest::Kind::Open) continue;
    opened.push_back(r.path);
    EXPECT_EQ(r.access, GENERIC_READ | GENERIC_WRITE) << r.path;
    EXPECT_EQ(r.shareMode, FILE_SHARE_READ | FILE_SHARE_WRITE) << r.path;
    EXPECT_EQ(r.disposition, OPEN_EXISTING) << r.path;
  }
  // Fixed and removable volumes from C: up, in letter order; no CD-ROM, share or B:.
  const std::vector<std::string> expected = {"\\\\.\\C:", "\\\\.\\E:", "\\\\.\\F:", "\\\\.\\G:"};
  EXPECT_EQ(opened, expected);
  EXPECT_EQ(platform.ioctls(IOCTL_STORAGE_GET_DEVICE_NUMBER).size(), 4u);
  EXPECT_EQ(platform.openHandleCount(), 0u);
}

TEST(MapVolumesTable, AVolumeThatDoesNotOpenIsAssignedToNoDrive) {
  // Without administrator rights a volume does not open for reading and writing.
  sim::SimMachine m = sim::loadMachine(kDesktop);
  m.administrator = false;
  sim::SimPlatform platform(std::move(m));
  DriveTable table = desktopTable();
  table.records[0] = makeRecord(0, "CE");
  mapVolumes(platform, table);
  EXPECT_EQ(lettersOf(table.records[0]), "");
  EXPECT_EQ(table.records[0].volumeCount, 0);
}

TEST(MapVolumesTable, ALockedVolumeIsLeftOutAndTheOthersStay) {
  sim::SimPlatform platform(sim::loadMachine(kDesktop));
  platform.volume('C').locked = true;
  DriveTable table = desktopTable();
  mapVolumes(platform, table);
  EXPECT_EQ(lettersOf(table.records[0]), "E");
}

// ---- partitionCheck ----

// Sector 0 as a test writes it: zeros except the bytes given.
struct SectorByte {
  size_t at;
  uint8_t value;
};

struct PartitionCase {
  const char* name;
  std::vector<SectorByte> sector0;
  uint32_t sectorSize;
  bool unreadable;
  bool windowsOnThisDrive;
  int expected;
};

const PartitionCase kPartitionCases[] = {
    {"blank sector 0", {}, 512, false, false, 0},
    {"MBR signature with an empty table", {{510, 0x55}, {511, 0xAA}}, 512, false, false, 2},
    {"signature bytes swapped", {{510, 0xAA}, {511, 0x55}}, 512, false, false, 0},
    {"entry 1 active at cylinder 0 head 1 sector 1", {{446, 0x80}, {447, 1}, {448, 1}, {449, 0}}, 512, false, false,
     2},
    {"entry 1 inactive at cylinder 0 head 1 sector 1", {{446, 0x00}, {447, 1}, {448, 1}, {449, 0}}, 512, false, false,
     2},
    {"entry 1 with a bad boot indicator", {{446, 0x7F}, {447, 1}, {448, 1}, {449, 0}}, 512, false, false, 0},
    {"entry 1 at head 0", {{446, 0x80}, {447, 0}, {448, 1}, {449, 0}}, 512, false, false, 0},
    {"entry 1 at sector 2", {{446, 0x80}, {447, 1}, {448, 2}, {449, 0}}, 512, false, false, 0},
    {"entry 1 at cylinder 1", {{446, 0x80}, {447, 1}, {448, 1}, {449, 1}}, 512, false, false, 0},
    {"entry 2 alone at cylinder 0 head 1 sector 1", {{462, 0x80}, {463, 1}, {464, 1}, {465, 0}}, 512, false, false,
     0},
    {"unreadable sector 0 counts as blank", {{510, 0x55}, {511, 0xAA}}, 512, true, false, 0},
    {"the system drive", {}, 512, false, true, 1},
    {"the system drive wins over its partition table", {{510, 0x55}, {511, 0xAA}}, 512, false, true, 1},
    {"4096-byte sectors: the signature is still found", {{510, 0x55}, {511, 0xAA}}, 4096, false, false, 2},
    {"4096-byte sectors: blank", {}, 4096, false, false, 0},
};

class PartitionCheckCases : public testing::TestWithParam<PartitionCase> {};

TEST_P(PartitionCheckCases, ReadsTheSystemDriveAndSectorZero) {
  const PartitionCase& c = GetParam();
  devtest::DriveOptions options;
  options.number = 4;
  sim::SimDrive drive = devtest::makeDrive(options);
  drive.disk() = sim::SimMedia(1'000'000, c.sectorSize);
  // The Windows directory lies on drive 4 or on drive 0.
  sim::SimDrive other = devtest::makeDrive({});
  sim::SimMachine m = devtest::machineWith({drive, other}, {devtest::makeVolume('C', c.windowsOnThisDrive ? 4 : 0, 1, 2048, 10000)});
  sim::SimPlatform platform(std::move(m));
  // Sector 0 exactly as the case gives it, replacing the table the simulator wrote.
  Bytes sector(c.sectorSize, 0);
  for (const SectorByte& b : c.sector0) sector[b.at] = b.value;
  ASSERT_TRUE(platform.drive(4).disk().write(0, 1, sector.data()));
  if (c.unreadable) platform.drive(4).disk().markUnreadable(0);

  DriveRecord record = makeRecord(4);
  record.sectorSize = static_cast<int32_t>(c.sectorSize);
  EXPECT_EQ(partitionCheck(platform, record), c.expected);
  EXPECT_EQ(platform.openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sector0, PartitionCheckCases, testing::ValuesIn(kPartitionCases),
                         caseName<PartitionCase>);

TEST(PartitionCheck, SectorZeroIsReadSharedForReadingOnly) {
  sim::SimPlatform platform(devtest::machineWith({devtest::makeDrive({})}));
  (void)partitionCheck(platform, makeRecord(0));
  std::vector<sim::SimRequest> opens;
  std::vector<sim::SimRequest> reads;
  for (const sim::SimRequest& r : platform.log()) {
    if (r.kind == sim::SimRequest::Kind::Open && r.path == devtest::kDrive0) opens.push_back(r);
    if (r.kind == sim::SimRequest::Kind::Read) reads.push_back(r);
  }
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].access, GENERIC_READ);
  EXPECT_EQ(opens[0].shareMode, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].position, 0u);
  EXPECT_EQ(reads[0].outSize, 512u);
}

TEST(PartitionCheck, AWindowsDirectoryWithoutAVolumeStillReadsSectorZero) {
  sim::SimMachine m = devtest::machineWith({devtest::makeDrive({})});
  m.windowsDirectory = "W:\\Windows";
  sim::SimPlatform platform(std::move(m));
  Bytes sector(512, 0);
  sector[510] = 0x55;
  sector[511] = 0xAA;
  ASSERT_TRUE(platform.drive(0).disk().write(0, 1, sector.data()));
  EXPECT_EQ(partitionCheck(platform, makeRecord(0)), 2);
}

TEST(PartitionCheck, ADriveThatIsGoneCountsAsBlank) {
  sim::SimPlatform platform(devtest::machineWith({devtest::makeDrive({})}));
  EXPECT_EQ(partitionCheck(platform, makeRecord(7)), 0);
}

// ---- volumeRows ----

// A system disk with two volumes and a card reader whose slot is empty.
constexpr const char* kRowsMachine = R"({
  "drives": [
    {"number": 0, "identity": {"model": "VHT SYSTEM DISK", "serial": "S0", "sectors": 2000000000}},
    {"number": 1, "transport": "usb-sat", "identity": {"model": "CARD READER", "serial": "S1", "sectors": 200000}},
    {"number": 2, "identity": {"model": "4K DISK", "serial": "S2", "sectors": 1000000}, "sectorSize": 4096}
  ],
  "volumes": [
    {"letter": "C", "drive": 0, "partition": 1, "start": 2048, "sectors": 2097152, "label": "System"},
    {"letter": "E", "drive": 0, "partition": 2, "start": 3000000, "sectors": 976562500, "fileSystem": "exFAT"},
    {"letter": "F", "drive": 1, "partition": 1, "type": "removable", "start": 2048, "sectors": 1000,
     "mediaPresent": false},
    {"letter": "H", "drive": 2, "partition": 1, "start": 256, "sectors": 393216, "label": "Backup"}
  ]
})";

struct RowsCase {
  const char* name;
  int drive;
  const char* letters;
  std::vector<VolumeRow> rows;
};

const RowsCase kRowsCases[] = {
    // 2097152 x 512 = 2^30 bytes; 976562500 x 512 = 500e9 bytes = 465.66 x 2^30.
    {"label and root, binary gigabytes", 0, "CE", {{"System (C:\\)", "1.00 GB"}, {" (E:\\)", "465.66 GB"}}},
    {"a letter without volume information gets no row", 1, "F", {}},
    {"sizes count the drive's own sector size", 2, "H", {{"Backup (H:\\)", "1.50 GB"}}},
    {"a drive with no letters has no rows", 0, "", {}},
};

class VolumeRows : public testing::TestWithParam<RowsCase> {};

TEST_P(VolumeRows, ListsTheRecordsLetters) {
  sim::SimPlatform platform(sim::loadMachine(kRowsMachine));
  const RowsCase& c = GetParam();
  const std::vector<VolumeRow> rows = volumeRows(platform, makeRecord(c.drive, c.letters));
  ASSERT_EQ(rows.size(), c.rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].text, c.rows[i].text) << i;
    EXPECT_EQ(rows[i].capacity, c.rows[i].capacity) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Machine, VolumeRows, testing::ValuesIn(kRowsCases),
                         caseName<RowsCase>);

TEST(VolumeRowsBounds, ACountBeyondTheFieldReadsAtMost31Letters) {
  sim::SimPlatform platform(sim::loadMachine(kRowsMachine));
  DriveRecord r = makeRecord(0);
  std::memset(r.volumeLetters, 'C', sizeof r.volumeLetters);  // no terminator left
  r.volumeCount = 1000;
  EXPECT_EQ(volumeRows(platform, r).size(), 31u);
  r.volumeCount = -5;
  EXPECT_TRUE(volumeRows(platform, r).empty());
}

}  // namespace
}  // namespace palvoro
