#include "device/drive_requests.h"

#include <gtest/gtest.h>

#include "support/case_name.h"

#include <string>
#include <vector>

#include "device/device_test_support.h"

namespace palvoro {
namespace {

using palvoro::testsupport::caseName;

using namespace devtest;
using Kind = SimRequest::Kind;


// ---------------------------------------------------------------------------------
// The SMART path name.

struct PathCase {
  int drive;
  bool miniport;
  const char* path;
};

TEST(SmartPathNameTest, PhysicalDriveOrScsiPortOfTheDrivePair) {
  const PathCase cases[] = {
      {0, false, "\\\\.\\PhysicalDrive0"}, {1, false, "\\\\.\\PhysicalDrive1"},
      {2, false, "\\\\.\\PhysicalDrive2"}, {3, false, "\\\\.\\PhysicalDrive3"},
      {4, false, "\\\\.\\PhysicalDrive4"}, {12, false, "\\\\.\\PhysicalDrive12"},
      {0, true, "\\\\.\\Scsi0:"},          {1, true, "\\\\.\\Scsi0:"},
      {2, true, "\\\\.\\Scsi1:"},          {3, true, "\\\\.\\Scsi1:"},
      {4, true, "\\\\.\\Scsi0:"},          {6, true, "\\\\.\\Scsi1:"},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(smartPathName(c.drive, c.miniport), c.path) << c.drive << (c.miniport ? " miniport" : "");
  }
}

// ---------------------------------------------------------------------------------
// Disk properties and the partition table.

// Drive 0 with D: and E:, whose sector 0 carries boot code in front of the table.
sim::SimMachine layoutMachine() {
  DriveOptions second;
  second.number = 1;
  sim::SimMachine m = machineWith({makeDrive({}), makeDrive(second)},
                                  {makeVolume('C', 1, 1, 2048, 900'000), makeVolume('D', 0, 1, 2048, 400'000),
                                   makeVolume('E', 0, 2, 402'048, 500'000)});
  const Bytes boot(512, 0xEB);
  m.drives[0].disk().write(0, 1, boot.data());
  return m;
}

TEST(UpdateDiskPropertiesTest, ReadsLayoutThenUpdatesAndWaits) {
  Rig rig(layoutMachine());
  RecordingPrompter prompter;
  EXPECT_TRUE(updateDiskProperties(rig.platform, prompter, 0, false));
  EXPECT_TRUE(prompter.prompts.empty());
  EXPECT_EQ(rig.platform.clockMs(), 1000u);
  EXPECT_EQ(rig.platform.openHandleCount(), 0u);

  const std::vector<SimRequest> log = rig.platform.log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].kind, Kind::Open);
  EXPECT_EQ(log[0].path, kDrive0);
  EXPECT_EQ(log[0].access, kReadWrite);
  EXPECT_EQ(log[0].shareMode, kShareReadWrite);
  EXPECT_EQ(log[0].disposition, OPEN_EXISTING);
  EXPECT_EQ(log[0].flags, 0xA0000000u);  // write-through, no buffering
  EXPECT_EQ(log[1].code, 0x0007400Cu);   // IOCTL_DISK_GET_DRIVE_LAYOUT
  EXPECT_EQ(log[1].inSize, 0u);
  EXPECT_EQ(log[1].outSize, 260u);
  EXPECT_EQ(log[2].code, 0x00070140u);   // IOCTL_DISK_UPDATE_PROPERTIES
  EXPECT_EQ(log[2].inSize, 0u);
  EXPECT_EQ(log[2].outSize, 0u);
  EXPECT_EQ(log[3].kind, Kind::Close);
  EXPECT_EQ(log[3].handle, log[0].handle);
}

TEST(UpdateDiskPropertiesTest, LayoutFailureIsIgnoredUpdateFailureIsReturned) {
  {
    Rig rig(layoutMachine());
    sim::SimFault f;
    f.ioctl = IOCTL_DISK_GET_DRIVE_LAYOUT;
    rig.platform.injectFault(f);
    RecordingPrompter prompter;
    EXPECT_TRUE(updateDiskProperties(rig.platform, prompter, 0, false));
    EXPECT_EQ(rig.platform.ioctls(IOCTL_DISK_UPDATE_PROPERTIES).size(), 1u);
  }
  {
    Rig rig(layoutMachine());
    sim::SimFault f;
    f.ioctl = IOCTL_DISK_UPDATE_PROPERTIES;
    rig.platform.injectFault(f);
    RecordingPrompter prompter;
    EXPECT_FALSE(updateDiskProperties(rig.platform, prompter, 0, false));
    EXPECT_TRUE(prompter.prompts.empty());
    EXPECT_EQ(rig.platform.openHandleCount(), 0u);
  }
}

struct OpenFailureCase {
  const char* name;
  int drive;
  bool miniport;
  const char* path;
};

class UpdateDiskPropertiesOpenFailureTest : public ::testing::TestWithParam<OpenFailureCase> {};

TEST_P(UpdateDiskPropertiesOpenFailureTest, TellsTheUserAndReturnsZero) {
  const OpenFailureCase& c = GetParam();
  Rig rig(layoutMachine());
  RecordingPrompter prompter;
  EXPECT_FALSE(updateDiskProperties(rig.platform, prompter, c.drive, c.miniport));
  ASSERT_EQ(prompter.prompts.size(), 1u);
  EXPECT_EQ(prompter.prompts[0].text, "Failed to update disk property!");
  EXPECT_EQ(prompter.prompts[0].caption, "PALVORO for Windows");
  EXPECT_EQ(prompter.prompts[0].buttons, PromptButtons::Ok);
  const std::vector<SimRequest> log = rig.platform.log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].path, c.path);
  EXPECT_EQ(log[0].flags, 0xA0000000u);
  EXPECT_EQ(rig.platform.clockMs(), 0u);
}

// The machine's only drive sits on SCSI port 0, so port 1 (drives 2, 3, 6, ...) does not
// open; neither does a drive that is not there.
INSTANTIATE_TEST_SUITE_P(Names, UpdateDiskPropertiesOpenFailureTest,
                         ::testing::Values(OpenFailureCase{"NoSuchDrive", 5, false, "\\\\.\\PhysicalDrive5"},
                                           OpenFailureCase{"MiniportPort1Drive2", 2, true, "\\\\.\\Scsi1:"},
                                           OpenFailureCase{"MiniportPort1Drive7", 7, true, "\\\\.\\Scsi1:"}),
                         caseName<OpenFailureCase>);

TEST(DeleteDriveLayoutTest, RemovesThePartitionTableAndItsVolumes) {
  Rig rig(layoutMachine());
  const Bytes before = sectorOf(rig.platform.drive(0).disk(), 0);
  ASSERT_EQ(before[510], 0x55);
  ASSERT_EQ(before[511], 0xAA);

  EXPECT_TRUE(deleteDriveLayout(rig.platform, 0));

  const Bytes after = sectorOf(rig.platform.drive(0).disk(), 0);
  EXPECT_TRUE(allZero(slice(after, 446, 66), 0)) << hex(slice(after, 446, 66));
  EXPECT_EQ(slice(after, 0, 440), Bytes(440, 0xEB));
  const std::vector<SimRequest> log = rig.platform.log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].path, kDrive0);
  EXPECT_EQ(log[0].access, kReadWrite);
  EXPECT_EQ(log[0].flags, 0xA0000000u);
  EXPECT_EQ(log[1].code, 0x0007C100u);  // IOCTL_DISK_DELETE_DRIVE_LAYOUT
  EXPECT_EQ(log[1].inSize, 0u);
  EXPECT_EQ(log[1].outSize, 0u);
  EXPECT_EQ(log[2].kind, Kind::Close);

  RecordingPrompter prompter;
  EXPECT_TRUE(updateDiskProperties(rig.platform, prompter, 0, false));
  EXPECT_EQ(rig.platform.logicalDrives(), 1u << 2);  // C: alone remains
  EXPECT_TRUE(rig.platform.volume('D').removed);
  EXPECT_TRUE(rig.platform.volume('E').removed);
  EXPECT_FALSE(rig.platform.volume('C').removed);
}

TEST(DeleteDriveLayoutTest, NeedsWriteAccessToTheDrive) {
  sim::SimMachine m = layoutMachine();
  m.administrator = false;  // raw drives open for reading and writing only to administrators
  Rig rig(std::move(m));
  EXPECT_FALSE(deleteDriveLayout(rig.platform, 0));
  EXPECT_FALSE(deleteDriveLayout(rig.platform, 7));
  const Bytes mbr = sectorOf(rig.platform.drive(0).disk(), 0);
  EXPECT_EQ(mbr[510], 0x55);
  EXPECT_EQ(mbr[511], 0xAA);
  EXPECT_FALSE(rig.platform.volume('D').removed);
  EXPECT_TRUE(rig.platform.ioctls(IOCTL_DISK_DELETE_DRIVE_LAYOUT).empty());
}

// ---------------------------------------------------------------------------------
// Dismounting the fixed volumes, and the system drive.

// C: and D: on drive 0, E: on drive 1, F: removable, G: a network share, H: a fixed
// volume whose partition is gone, I: a CD, and a fixed B: below C:.
sim::SimMachine volumeZoo(const std::string& windowsDirectory) {
  DriveOptions second;
  second.number = 1;
  DriveOptions stick;
  stick.number = 2;
  sim::SimMachine m = machineWith(
      {makeDrive({}), makeDrive(second), makeDrive(stick)},
      {makeVolume('B', 2, 2, 300'000, 1000), makeVolume('C', 0, 1, 2048, 400'000),
       makeVolume('D', 0, 2, 402'048, 500'000), makeVolume('E', 1, 1, 2048, 900'000),
       makeVolume('F', 2, 1, 2048, 200'000, DRIVE_REMOVABLE), makeVolume('G', -1, 1, 0, 0, DRIVE_REMOTE),
       makeVolume('H', 1, 3, 950'000, 10'000), makeVolume('I', -1, 1, 0, 0, DRIVE_CDROM)});
  m.volumes[6].removed = true;
  m.windowsDirectory = windowsDirectory;
  return m;
}

struct SystemDriveCase {
  const char* name;
  const char* windowsDirectory;
  bool administrator;
  int expected;
  const char* opened;  // the name opened, or "" when nothing is
};

class SystemDriveNumberTest : public ::testing::TestWithParam<SystemDriveCase> {};

TEST_P(SystemDriveNumberTest, DeviceNumberOfTheWindowsVolume) {
  const SystemDriveCase& c = GetParam();
  sim::SimMachine m = volumeZoo(c.windowsDirectory);
  m.administrator = c.administrator;
  Rig rig(std::move(m));
  EXPECT_EQ(systemDriveNumber(rig.platform), c.expected);
  const std::vector<SimRequest> opens = rig.ofKind(Kind::Open);
  if (*c.opened == '\0') {
    EXPECT_TRUE(opens.empty());
  } else {
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].path, c.opened);
  }
  for (const SimRequest& r : rig.platform.ioctls(IOCTL_STORAGE_GET_DEVICE_NUMBER)) EXPECT_EQ(r.outSize, 12u);
  EXPECT_EQ(rig.platform.openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Systems, SystemDriveNumberTest,
    ::testing::Values(SystemDriveCase{"OnDrive0", "C:\\Windows", true, 0, "\\\\.\\C:"},
                      SystemDriveCase{"OnDrive1", "E:\\Windows", true, 1, "\\\\.\\E:"},
                      SystemDriveCase{"WithoutAdministratorRights", "E:\\Windows", false, 1, "\\\\.\\E:"},
                      SystemDriveCase{"VolumeMissing", "Q:\\Windows", true, -1, "\\\\.\\Q:"},
                      SystemDriveCase{"VolumeWithoutDisk", "G:\\Windows", true, -1, "\\\\.\\G:"},
                      SystemDriveCase{"NoDirectory", "", true, -1, ""}),
    caseName<SystemDriveCase>);

// ---------------------------------------------------------------------------------
// The maker's SCT switch.

struct SctCase {
  const char* name;
  int drive;
  bool vendorSwitch;     // the drive accepts action C013h
  bool startsSwitched;
  uint8_t function;
  bool failRequest;
  int expected;
  bool switchedAfter;
};

class SctVendorSwitchTest : public ::testing::TestWithParam<SctCase> {};

TEST_P(SctVendorSwitchTest, SwitchesAndReportsAsTheDriveAnswers) {
  const SctCase& c = GetParam();
  DriveOptions options;
  options.sctVendorSwitch = c.vendorSwitch;
  sim::SimMachine m = machineWith({makeDrive(options)});
  m.drives[0].ata.switched = c.startsSwitched;
  Rig rig(std::move(m));
  if (c.failRequest) {
    sim::SimFault f;
    f.ioctl = IOCTL_ATA_PASS_THROUGH;
    rig.platform.injectFault(f);
  }
  EXPECT_EQ(static_cast<int>(sctVendorSwitch(rig.platform, c.drive, false, c.function)), c.expected);
  EXPECT_EQ(rig.platform.drive(0).ata.switched, c.switchedAfter);
  EXPECT_EQ(rig.platform.openHandleCount(), 0u);
  const std::vector<SimRequest> opens = rig.ofKind(Kind::Open);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].access, kReadWrite);
  EXPECT_EQ(opens[0].shareMode, kShareReadWrite);
  EXPECT_EQ(opens[0].disposition, OPEN_EXISTING);
  EXPECT_EQ(opens[0].flags, 0u);
  EXPECT_EQ(rig.ata().size(), c.drive == 0 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SctVendorSwitchTest,
    ::testing::Values(SctCase{"SwitchOn", 0, true, false, 1, false, 0, true},
                      SctCase{"SwitchOff", 0, true, true, 0, false, 0, false},
                      SctCase{"NoSuchDrive", 3, true, false, 1, false, 4, false},
                      SctCase{"RequestFails", 0, true, false, 1, true, 4, false},
                      SctCase{"DriveWithoutVendorAction", 0, false, false, 1, false, 4, false}),
    caseName<SctCase>);

}  // namespace
}  // namespace palvoro
