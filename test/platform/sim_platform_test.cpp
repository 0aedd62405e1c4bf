// The simulated operating system: opening by name, rights and sharing, sector transfers,
// volumes and the partition table, plain files, the request log.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

#include "platform/ioctl_codes.h"
#include "platform/records.h"
#include "sim_test_support.h"

namespace palvoro::sim::testing {
namespace {

SimMachine machineWithVolumes(uint32_t osMajor = 10) {
  SimMachine m = oneDriveMachine(1000000);
  m.osMajor = osMajor;
  SimVolume c;
  c.letter = 'C';
  c.drive = 0;
  c.partitionNumber = 1;
  c.startSector = 2048;
  c.sectorCount = 400000;
  SimVolume d = c;
  d.letter = 'D';
  d.partitionNumber = 2;
  d.startSector = 402048;
  d.sectorCount = 500000;
  SimVolume net;
  net.letter = 'Z';
  net.driveType = DRIVE_REMOTE;
  m.volumes = {c, d, net};
  return m;
}

Handle openVolume(SimPlatform& p, char letter, uint32_t share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
  return p.createFile(std::string("\\\\.\\") + letter + ":", GENERIC_READ | GENERIC_WRITE, share, OPEN_EXISTING, 0);
}

bool ioctl(SimPlatform& p, Handle h, uint32_t code, void* out = nullptr, uint32_t outSize = 0) {
  uint32_t returned = 0;
  return p.deviceIoControl(h, code, nullptr, 0, out, outSize, &returned);
}

TEST(SimPlatformOpen, NamesRightsAndSharing) {
  SimMachine m = oneDriveMachine();
  SimPlatform p(std::move(m));
  EXPECT_EQ(openDrive(p, 1), INVALID_HANDLE_VALUE);
  EXPECT_EQ(p.lastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(p.createFile("\\\\.\\PhysicalDrive0x", GENERIC_READ, 3, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(p.createFile("\\\\.\\Q:", GENERIC_READ, 3, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);

  // Names are not case sensitive.
  const Handle exclusive = p.createFile("\\\\.\\physicaldrive0", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(openDrive(p), INVALID_HANDLE_VALUE);
  EXPECT_EQ(p.lastError(), ERROR_SHARING_VIOLATION);
  EXPECT_TRUE(p.closeHandle(exclusive));
  EXPECT_FALSE(p.closeHandle(exclusive));
  EXPECT_EQ(p.lastError(), ERROR_INVALID_HANDLE);
  EXPECT_NE(openDrive(p), INVALID_HANDLE_VALUE);
}

TEST(SimPlatformOpen, WithoutAdministratorRightsOnlyQueriesOpen) {
  SimMachine m = oneDriveMachine();
  m.administrator = false;
  SimPlatform p(std::move(m));
  EXPECT_FALSE(p.userIsAdministrator());
  EXPECT_EQ(openDrive(p, 0, GENERIC_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(p.lastError(), ERROR_ACCESS_DENIED);
  EXPECT_NE(openDrive(p, 0, 0), INVALID_HANDLE_VALUE);
}

TEST(SimPlatformTransfer, SectorsMoveOnlyAlignedAndWithinTheDisk) {
  SimMachine m = oneDriveMachine(100);
  m.drives[0].ata.units[0].media.markUnreadable(50);
  m.drives[0].ata.units[0].media.markUnwritable(60);
  SimPlatform p(std::move(m));
  const Handle h = openDrive(p);
  std::vector<uint8_t> buf(1024, 0xC3);
  uint32_t done = 0;

  struct Case {
    int64_t position;
    uint32_t size;
    bool write;
    uint32_t error;
  };
  const Case cases[] = {
      {0, 1024, true, 0},
      {0, 1024, false, 0},
      {1, 512, false, ERROR_INVALID_PARAMETER},
      {0, 100, false, ERROR_INVALID_PARAMETER},
      {99 * 512, 1024, false, ERROR_SECTOR_NOT_FOUND},
      {100 * 512, 512, true, ERROR_SECTOR_NOT_FOUND},
      {99 * 512, 512, false, 0},
      {49 * 512, 1024, false, ERROR_CRC},
      {59 * 512, 1024, true, ERROR_WRITE_FAULT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    int32_t high = 0;
    ASSERT_NE(p.setFilePointer(h, static_cast<int32_t>(c.position), &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    const bool ok = c.write ? p.writeFile(h, buf.data(), c.size, &done) : p.readFile(h, buf.data(), c.size, &done);
    EXPECT_EQ(ok, c.error == 0);
    if (c.error != 0) {
      EXPECT_EQ(p.lastError(), c.error);
      EXPECT_EQ(done, 0u);
    } else {
      EXPECT_EQ(done, c.size);
    }
  }
  // What was written reads back, and the position moved past it.
  int32_t high = 0;
  p.setFilePointer(h, 512, &high, FILE_BEGIN);
  std::vector<uint8_t> back(512);
  ASSERT_TRUE(p.readFile(h, back.data(), 512, &done));
  EXPECT_EQ(back[0], 0xC3);
  EXPECT_EQ(p.setFilePointer(h, 0, &high, FILE_CURRENT), 1024u);
  EXPECT_EQ(p.setFilePointer(h, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(p.lastError(), ERROR_NEGATIVE_SEEK);
  high = 0;
  EXPECT_EQ(p.setFilePointer(h, 0, &high, FILE_END), 100u * 512);
  // Writing zeros frees the sparse sector again.
  std::vector<uint8_t> zeros(512, 0);
  p.setFilePointer(h, 0, nullptr, FILE_BEGIN);
  ASSERT_TRUE(p.writeFile(h, zeros.data(), 512, &done));
  EXPECT_FALSE(p.drive(0).disk().anyData(0, 1));
  EXPECT_TRUE(p.drive(0).disk().anyData(1, 1));
}

TEST(SimPlatformTransfer, PositionsAboveFourGigabytesUseTheHighPart) {
  SimPlatform p(oneDriveMachine(0x1000000000ull));
  const Handle h = openDrive(p);
  int32_t high = 0x10;
  EXPECT_EQ(p.setFilePointer(h, static_cast<int32_t>(0xFFFFFE00u), &high, FILE_BEGIN), 0xFFFFFE00u);
  EXPECT_EQ(high, 0x10);
  EXPECT_EQ(p.lastError(), ERROR_SUCCESS);
  EXPECT_EQ(p.log().back().position, 0x10FFFFFE00ull);
  // A position whose low part is FFFFFFFFh is success with last error 0.
  high = 0;
  EXPECT_EQ(p.setFilePointer(h, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(p.lastError(), ERROR_SUCCESS);
}

TEST(SimPlatformVolumes, WritesIntoAMountedVolumeNeedItLockedFromVistaOn) {
  for (uint32_t major : {5u, 6u, 10u}) {
    SCOPED_TRACE(major);
    SimPlatform p(machineWithVolumes(major));
    const Handle drive = openDrive(p);
    std::vector<uint8_t> data(512, 1);
    uint32_t done = 0;
    p.setFilePointer(drive, 3000 * 512, nullptr, FILE_BEGIN);
    EXPECT_EQ(p.writeFile(drive, data.data(), 512, &done), major < 6);
    const Handle c = openVolume(p, 'C');
    ASSERT_TRUE(ioctl(p, c, FSCTL_LOCK_VOLUME));
    ASSERT_TRUE(ioctl(p, c, FSCTL_DISMOUNT_VOLUME));
    EXPECT_TRUE(p.volume('C').locked);
    EXPECT_FALSE(p.volume('C').mounted);
    p.setFilePointer(drive, 3000 * 512, nullptr, FILE_BEGIN);
    EXPECT_TRUE(p.writeFile(drive, data.data(), 512, &done));
    // Sector 1000 lies before every volume.
    p.setFilePointer(drive, 1000 * 512, nullptr, FILE_BEGIN);
    EXPECT_TRUE(p.writeFile(drive, data.data(), 512, &done));
    p.closeHandle(c);
    EXPECT_FALSE(p.volume('C').locked);
  }
}

TEST(SimPlatformVolumes, LockFailsWhileTheVolumeIsInUse) {
  SimMachine m = machineWithVolumes();
  m.volumes[1].openFiles = 2;
  SimPlatform p(std::move(m));
  const Handle c = openVolume(p, 'C');
  const Handle c2 = openVolume(p, 'C');
  EXPECT_FALSE(ioctl(p, c, FSCTL_LOCK_VOLUME));
  EXPECT_EQ(p.lastError(), ERROR_ACCESS_DENIED);
  p.closeHandle(c2);
  EXPECT_TRUE(ioctl(p, c, FSCTL_LOCK_VOLUME));
  // A locked volume does not open a second time.
  EXPECT_EQ(openVolume(p, 'C'), INVALID_HANDLE_VALUE);

  const Handle d = openVolume(p, 'D');
  ASSERT_NE(d, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ioctl(p, d, FSCTL_LOCK_VOLUME));
  EXPECT_TRUE(ioctl(p, d, FSCTL_DISMOUNT_VOLUME));  // a forced dismount still happens
  EXPECT_FALSE(p.volume('D').mounted);
  // Nobody can open it without sharing while programs hold files on it.
  EXPECT_EQ(openVolume(p, 'D', 0), INVALID_HANDLE_VALUE);
}

TEST(SimPlatformVolumes, DeviceNumbersDriveTypesAndTheWindowsDirectory) {
  SimPlatform p(machineWithVolumes());
  EXPECT_EQ(p.logicalDrives(), (1u << 2) | (1u << 3) | (1u << 25));
  EXPECT_EQ(p.driveType("C:\\"), DRIVE_FIXED);
  EXPECT_EQ(p.driveType("Z:\\"), DRIVE_REMOTE);
  EXPECT_EQ(p.driveType("Q:\\"), DRIVE_NO_ROOT_DIR);
  EXPECT_EQ(p.windowsDirectory(), "C:\\Windows");
  EXPECT_EQ(p.version() & 0xFF, 10u);

  STORAGE_DEVICE_NUMBER number{};
  const Handle d = p.createFile("\\\\.\\D:", 0, 3, OPEN_EXISTING, 0);
  ASSERT_TRUE(ioctl(p, d, IOCTL_STORAGE_GET_DEVICE_NUMBER, &number, sizeof number));
  EXPECT_EQ(number.DeviceType, 7u);
  EXPECT_EQ(number.DeviceNumber, 0u);
  EXPECT_EQ(number.PartitionNumber, 2u);
  EXPECT_FALSE(ioctl(p, d, IOCTL_STORAGE_GET_DEVICE_NUMBER, &number, 11));
  EXPECT_EQ(p.lastError(), ERROR_INSUFFICIENT_BUFFER);
  const Handle z = p.createFile("\\\\.\\Z:", 0, 3, OPEN_EXISTING, 0);
  EXPECT_FALSE(ioctl(p, z, IOCTL_STORAGE_GET_DEVICE_NUMBER, &number, sizeof number));
}

TEST(SimPlatformVolumes, PartitionTableIsRealAndDeletingItRemovesTheVolumes) {
  SimPlatform p(machineWithVolumes());
  const Handle h = openDrive(p);
  std::vector<uint8_t> mbr(512);
  uint32_t done = 0;
  ASSERT_TRUE(p.readFile(h, mbr.data(), 512, &done));
  EXPECT_EQ(mbr[510], 0x55);
  EXPECT_EQ(mbr[511], 0xAA);
  EXPECT_EQ(mbr[446 + 4], 0x07);                        // NTFS
  EXPECT_EQ(mbr[446 + 8] | (mbr[446 + 9] << 8), 2048);  // first sector of C:

  std::vector<uint8_t> layout(260);
  ASSERT_TRUE(ioctl(p, h, IOCTL_DISK_GET_DRIVE_LAYOUT, layout.data(), 260));
  EXPECT_EQ(layout[0], 4);                                 // PartitionCount
  EXPECT_EQ(layout[8 + 32 + 16] | (layout[8 + 32 + 17] << 8) | (layout[8 + 32 + 18] << 16), 402048);  // HiddenSectors
  EXPECT_EQ(layout[8 + 32 + 20], 2);                       // PartitionNumber
  EXPECT_FALSE(ioctl(p, h, IOCTL_DISK_GET_DRIVE_LAYOUT, layout.data(), 135));

  const Handle readOnly = openDrive(p, 0, GENERIC_READ);
  EXPECT_FALSE(ioctl(p, readOnly, IOCTL_DISK_DELETE_DRIVE_LAYOUT));
  EXPECT_EQ(p.lastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(ioctl(p, h, IOCTL_DISK_DELETE_DRIVE_LAYOUT));
  ASSERT_TRUE(ioctl(p, h, IOCTL_DISK_UPDATE_PROPERTIES));
  EXPECT_TRUE(p.volume('C').removed);
  EXPECT_EQ(p.logicalDrives(), 1u << 25);
  ASSERT_TRUE(ioctl(p, h, IOCTL_DISK_GET_DRIVE_LAYOUT, layout.data(), 260));
  EXPECT_EQ(layout[0], 0);
}

TEST(SimPlatformFiles, PlainPathsReachTheRealFileSystem) {
  char dir[] = "/tmp/palvoro-sim-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/page.htm";
  SimPlatform p(oneDriveMachine());
  EXPECT_EQ(p.createFile(path, GENERIC_READ, 0, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(p.lastError(), ERROR_FILE_NOT_FOUND);
  const Handle h = p.createFile(path, GENERIC_WRITE, 0, OPEN_ALWAYS, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  uint32_t done = 0;
  ASSERT_TRUE(p.writeFile(h, "hello\r\n", 7, &done));
  EXPECT_EQ(done, 7u);
  uint32_t returned = 0;
  EXPECT_FALSE(p.deviceIoControl(h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned));
  EXPECT_EQ(p.lastError(), ERROR_INVALID_FUNCTION);
  p.closeHandle(h);
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "hello\r\n");
  const Handle r = p.createFile(path, GENERIC_READ, 0, OPEN_EXISTING, 0);
  char back[16] = {};
  ASSERT_TRUE(p.readFile(r, back, sizeof back, &done));
  EXPECT_EQ(done, 7u);  // end of file: success with the bytes there were
  p.closeHandle(r);
  EXPECT_EQ(p.openHandleCount(), 0u);
  std::remove(path.c_str());
  rmdir(dir);
}

TEST(SimPlatformLog, RecordsEveryRequestWithItsBytes) {
  SimPlatform p(oneDriveMachine());
  const Handle h = openDrive(p);
  RawAta raw(1, 0, {0xDA, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0});
  sendRaw(p, h, raw, 40, 40);
  p.closeHandle(h);
  const auto log = p.log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].kind, SimRequest::Kind::Open);
  EXPECT_EQ(log[0].path, "\\\\.\\PhysicalDrive0");
  EXPECT_EQ(log[0].shareMode, 3u);
  EXPECT_EQ(log[1].code, 0x0004D02Cu);
  ASSERT_EQ(log[1].input.size(), 40u);
  EXPECT_EQ(log[1].input[38], 0xB0);  // the record as sent, not as returned
  EXPECT_EQ(log[2].kind, SimRequest::Kind::Close);
  p.clearLog();
  p.setLogging(false);
  openDrive(p);
  EXPECT_TRUE(p.log().empty());
  p.sleep(1500);
  EXPECT_EQ(p.clockMs(), 1500u);
}

}  // namespace
}  // namespace palvoro::sim::testing

namespace palvoro::sim::testing {
namespace {

TEST(SimPlatformInterfaces, DiskAndRaidStatusInterfacesOpenToTheirDrives) {
  SimMachine m = loadMachine(R"({"drives": [
    {"number": 0, "identity": {"sectors": 1000}},
    {"number": 1, "identity": {"sectors": 1000}, "virtual": true},
    {"number": 2, "transport": "raid", "identity": {"sectors": 1000, "serial": "RAIDSN"}},
    {"number": 3, "transport": "raid", "identity": {"sectors": 1000}, "statusInterface": false},
    {"number": 4, "transport": "optical", "identity": {"sectors": 1000}}]})");
  SimPlatform p(std::move(m));
  const auto disks = p.deviceInterfaces("{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
  ASSERT_EQ(disks.size(), 4u);
  EXPECT_EQ(disks[1].find("acronisvbus") != std::string::npos, true);
  EXPECT_EQ(disks[0].find("acronisvbus"), std::string::npos);
  const auto raid = p.deviceInterfaces(GUID_RAID_STATUS_INTERFACE);
  ASSERT_EQ(raid.size(), 1u);
  EXPECT_TRUE(p.deviceInterfaces("{00000000-0000-0000-0000-000000000000}").empty());

  const Handle virt = p.createFile(disks[1], GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  ASSERT_NE(virt, INVALID_HANDLE_VALUE);
  STORAGE_DEVICE_NUMBER number{};
  uint32_t returned = 0;
  ASSERT_TRUE(p.deviceIoControl(virt, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, 12, &returned));
  EXPECT_EQ(number.DeviceNumber, 1u);
  const Handle status = p.createFile(raid[0], GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  ASSERT_TRUE(p.deviceIoControl(status, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, 12, &returned));
  EXPECT_EQ(number.DeviceNumber, 2u);
  EXPECT_EQ(p.createFile("\\\\?\\nothing#here", GENERIC_READ, 3, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
}

TEST(SimPlatformInterfaces, VolumeInformationAndSpace) {
  SimMachine m = loadMachine(R"({"drives": [{"number": 0, "identity": {"sectors": 4000000}}],
    "volumes": [{"letter": "C", "drive": 0, "start": 2048, "sectors": 2097152, "label": "System", "freeBytes": 1000},
                {"letter": "F", "type": "cdrom", "mediaPresent": false},
                {"letter": "N", "type": "network", "sizeBytes": 5000000000, "freeBytes": 9000000000, "fileSystem": "SMB"}]})");
  SimPlatform p(std::move(m));
  std::string label;
  std::string fs;
  ASSERT_TRUE(p.volumeInformation("C:\\", &label, &fs));
  EXPECT_EQ(label, "System");
  EXPECT_EQ(fs, "NTFS");
  EXPECT_FALSE(p.volumeInformation("F:\\", &label, &fs));
  EXPECT_EQ(p.lastError(), ERROR_NOT_READY);
  uint64_t total = 0;
  uint64_t free = 0;
  ASSERT_TRUE(p.diskSpace("C:\\", &total, &free));
  EXPECT_EQ(total, 2097152ull * 512);
  EXPECT_EQ(free, 1000u);
  ASSERT_TRUE(p.diskSpace("N:\\", &total, &free));
  EXPECT_EQ(total, 5000000000ull);
  EXPECT_EQ(free, 5000000000ull);  // never more free than there is
  EXPECT_FALSE(p.diskSpace("Q:\\", &total, &free));
}

}  // namespace
}  // namespace palvoro::sim::testing
