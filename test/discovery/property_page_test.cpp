#include "discovery/property_page.h"

#include <gtest/gtest.h>

#include "support/case_name.h"

#include <cctype>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "device/device_test_support.h"
#include "discovery/raid_status.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

using palvoro::testsupport::caseName;



using devtest::RecordingPrompter;

const char* const kString124 =
    "Cannot get RAID status from Nodrik device. The driver may not be installed properly. Check for any warning "
    "sign on the Nodrik device in Device Manager and possibly re-install the Nodrik device driver provided on the "
    "Nodrik CD.";

template <size_t N>
void put(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

// A SATA system disk at 0 with C: and E:, a USB disk at 2 with F:, and the RAID enclosure
// at 1 whose status page and driver the test chooses.
sim::SimMachine machine(const std::string& statusPage, bool statusInterface) {
  return sim::loadMachine(R"({
    "drives": [
      {"number": 0, "identity": {"model": "VHT SATA DISK", "serial": "WD-123", "sectors": 4000000}},
      {"number": 1, "transport": "raid",
       "identity": {"model": "VHT MEMBER", "serial": "MEMBER-A", "sectors": 1000000},
       "memberB": {"identity": {"model": "VHT MEMBER", "serial": "MEMBER-B", "sectors": 1000000}},
       "inquiry": {"text": {"40": "NDK0001"}}, "vpd": {"0x80": {"serial": "NDK0001"}},
       "diagnostic": {"0x82": {"hex": ")" + statusPage + R"("}},
       "statusInterface": )" + (statusInterface ? "true" : "false") + R"(},
      {"number": 2, "transport": "usb-sat", "identity": {"model": "USB DISK", "serial": "U1", "sectors": 400000}}
    ],
    "volumes": [
      {"letter": "C", "drive": 0, "partition": 1, "start": 2048, "sectors": 2097152, "label": "System"},
      {"letter": "E", "drive": 0, "partition": 2, "start": 3000000, "sectors": 524288, "label": "Data"},
      {"letter": "F", "drive": 2, "partition": 1, "type": "removable", "start": 2048, "sectors": 204800,
       "label": "Stick"}
    ]
  })");
}

// The table as detection leaves it: letters not mapped yet, then the status scan.
DriveTable detectedTable(sim::SimPlatform& p) {
  DriveTable t;
  t.records.resize(3);
  DriveRecord& sata = t.records[0];
  sata = devtest::makeRecord(0);
  sata.busType = kBusSata;
  sata.smartAvailable = 1;
  sata.smartHealthy = 1;
  sata.identifiedSectors = 1953525168;
  put(sata.serialNumber, "     WD-WX123");
  put(sata.firmwareRevision, "01.01A01");

  DriveRecord& raid = t.records[1];
  raid = devtest::makeRecord(1);
  raid.driveClass = kDriveClassRaid;
  raid.busType = kBusUsb;
  raid.ataTunnel = 2;
  raid.identifiedSectors = 3907029168;
  put(raid.serialNumber, "NDK0001");
  put(raid.firmwareRevision, "0100");
  put(raid.memberSerialA, "MEMBER-A");
  put(raid.memberSerialB, "MEMBER-B");

  DriveRecord& usb = t.records[2];
  usb = devtest::makeRecord(2);
  usb.driveClass = kDriveClassUsb;
  usb.busType = kBusUsb;
  usb.identifiedSectors = 400000;
  put(usb.serialNumber, "U1");
  scanRaidInterfaces(p, t);
  return t;
}

// ---- names and titles ----

TEST(PropertySheetTitle, DriveNumberIsTheIndexPlusOne) {
  EXPECT_EQ(propertySheetTitle(0), "Drive 1 Properties");
  EXPECT_EQ(propertySheetTitle(7), "Drive 8 Properties");
}

TEST(BusTypeName, NamesTheTwelveBusTypesAnd83) {
  const struct {
    int32_t busType;
    const char* name;
  } cases[] = {{0, "UNKNOWN"}, {1, "SCSI"}, {2, "ATAPI"},  {3, "ATA"},      {4, "FireWire"},  {5, "SSA"},
               {6, "FIBRE"},   {7, "USB"},  {8, "RAID"},   {9, "iSCSI"},    {10, "SAS"},      {11, "SATA"},
               {83, "SATA"},   {12, "UNKNOWN"}, {82, "UNKNOWN"}, {84, "UNKNOWN"}, {-1, "UNKNOWN"},
               {INT32_MIN, "UNKNOWN"}};
  for (const auto& c : cases) EXPECT_STREQ(busTypeName(c.busType), c.name) << c.busType;
}

TEST(MemberSerialText, EverySpaceGoesAndNothingLeftIsNotFound) {
  const struct {
    std::string stored;
    const char* shown;
  } cases[] = {
      {"", "Not Found"},
      {"                    ", "Not Found"},
      {"WD-WCAV12345678", "WD-WCAV12345678"},
      {"  WD WCAV 1234  ", "WDWCAV1234"},
      {"\tX", "\tX"},  // only the space character goes
  };
  for (const auto& c : cases) {
    char field[21];
    put(field, c.stored);
    EXPECT_EQ(memberSerialText(field), c.shown) << '"' << c.stored << '"';
  }
  char full[21];
  std::memset(full, 'A', sizeof full);  // no terminator: read no further than the field
  EXPECT_EQ(memberSerialText(full), std::string(21, 'A'));
}

// ---- ordinary drives ----

struct OrdinaryCase {
  const char* name;
  int32_t busType;
  int32_t smartHealthy;
  uint64_t sectors;
  int32_t sectorSize;
  const char* deviceType;
  const char* health;
  const char* capacity;
};

const OrdinaryCase kOrdinaryCases[] = {
    {"SATA adapter", kBusSata, 1, 1953525168, 512, "SATA", "Good", "1000.20 GB"},
    {"ATA adapter", kBusAta, 1, 1953525168, 512, "ATA", "Good", "1000.20 GB"},
    {"maker's drive with word 133 bit 10", kBusMakerSata, 1, 1953525168, 512, "SATA", "Good", "1000.20 GB"},
    {"failing SMART", kBusSata, 0, 1953525168, 512, "SATA", "Warning", "1000.20 GB"},
    {"a failed bus query", -1, 1, 1953525168, 512, "UNKNOWN", "Good", "1000.20 GB"},
    {"4096-byte sectors", kBusSata, 1, 244190646, 4096, "SATA", "Good", "1000.20 GB"},
    {"decimal gigabytes rounded to two places", kBusSata, 1, 976773168, 512, "SATA", "Good", "500.11 GB"},
};

class OrdinaryDrivePage : public testing::TestWithParam<OrdinaryCase> {};

TEST_P(OrdinaryDrivePage, ShowsIdentityAndHealthWithoutRaidRows) {
  const OrdinaryCase& c = GetParam();
  sim::SimPlatform p(machine("82 00 00 04 40 00 00 00", true));
  DriveTable t = detectedTable(p);
  DriveRecord& r = t.records[0];
  r.busType = c.busType;
  r.smartHealthy = c.smartHealthy;
  r.identifiedSectors = c.sectors;
  r.sectorSize = c.sectorSize;
  RecordingPrompter prompter;
  const std::optional<PropertyPage> page = openPropertyPage(p, prompter, t, 0);
  ASSERT_TRUE(page.has_value());
  EXPECT_EQ(page->sheetTitle, "Drive 1 Properties");
  EXPECT_EQ(page->drive, "#1");
  EXPECT_EQ(page->deviceType, c.deviceType);
  EXPECT_EQ(page->capacity, c.capacity);
  EXPECT_EQ(page->firmwareRevision, "01.01A01");
  EXPECT_EQ(page->healthStatus, c.health);
  EXPECT_EQ(page->serialNumber, "WD-WX123");
  EXPECT_FALSE(page->raidRowsVisible);
  EXPECT_EQ(page->raidSetting, "");
  EXPECT_EQ(page->memberSerialA, "");
  EXPECT_EQ(page->memberSerialB, "");
  EXPECT_TRUE(prompter.prompts.empty());
}

INSTANTIATE_TEST_SUITE_P(Drives, OrdinaryDrivePage, testing::ValuesIn(kOrdinaryCases),
                         caseName<OrdinaryCase>);

TEST(OrdinaryDrivePageSerial, OnlyLeadingWhiteSpaceGoes) {
  sim::SimPlatform p(machine("82 00 00 04 40 00 00 00", true));
  DriveTable t = detectedTable(p);
  put(t.records[0].serialNumber, " \t WD 123  ");
  const std::optional<PropertyPage> page = propertyPageFields(p, t, 0);
  ASSERT_TRUE(page.has_value());
  EXPECT_EQ(page->serialNumber, "WD 123  ");
}

// ---- the RAID enclosure ----

struct EnclosureCase {
  const char* name;
  const char* page;
  const char* health;
  const char* setting;
};

const EnclosureCase kEnclosureCases[] = {
    {"rebuilding at 42 percent", "82 00 00 04 06 2A 00 00", "Rebuilding (42% completed)", "RAID 0"},
    {"byte 4 = 41h", "82 00 00 04 41 00 00 00", "Not Configured", "RAID 1"},
    {"healthy RAID 1", "82 00 00 04 40 00 00 00", "Healthy", "RAID 1"},
    {"degraded RAID 1", "82 00 00 04 45 00 00 00", "Degraded", "RAID 1"},
    {"rebuilding done", "82 00 00 04 46 64 00 00", "Rebuilding (100% completed)", "RAID 1"},
    {"rebuilding failed keeps its percent to itself", "82 00 00 04 47 2A 00 00", "Rebuilding Failed", "RAID 1"},
    {"state 12 and level code 2 have no names", "82 00 00 04 8C 00 00 00", "Unknown", "Unknown"},
};

class EnclosurePage : public testing::TestWithParam<EnclosureCase> {};

TEST_P(EnclosurePage, ShowsTheRaidStateLevelAndMembers) {
  const EnclosureCase& c = GetParam();
  sim::SimPlatform p(machine(c.page, true));
  DriveTable t = detectedTable(p);
  RecordingPrompter prompter;
  const std::optional<PropertyPage> page = openPropertyPage(p, prompter, t, 1);
  ASSERT_TRUE(page.has_value());
  EXPECT_EQ(page->sheetTitle, "Drive 2 Properties");
  EXPECT_EQ(page->drive, "#2");
  EXPECT_EQ(page->deviceType, "RAID-USB");
  EXPECT_EQ(page->capacity, "2000.40 GB");
  EXPECT_EQ(page->firmwareRevision, "0100");
  EXPECT_EQ(page->healthStatus, c.health);
  EXPECT_EQ(page->serialNumber, "NDK0001");
  EXPECT_TRUE(page->raidRowsVisible);
  EXPECT_EQ(page->raidSetting, c.setting);
  EXPECT_EQ(page->memberSerialA, "MEMBER-A");
  EXPECT_EQ(page->memberSerialB, "MEMBER-B");
  EXPECT_TRUE(prompter.prompts.empty());
  EXPECT_EQ(p.openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(States, EnclosurePage, testing::ValuesIn(kEnclosureCases),
                         caseName<EnclosureCase>);

TEST(EnclosurePageRefresh, OpeningThePageReadsTheStatusAgain) {
  sim::SimPlatform p(machine("82 00 00 04 41 00 00 00", true));
  DriveTable t = detectedTable(p);
  EXPECT_EQ(t.records[1].raidState, 1);
  p.drive(1).scsi.diagnostic[0x82] = {0x82, 0x00, 0x00, 0x04, 0x46, 0x0C, 0x00, 0x00};
  RecordingPrompter prompter;
  EXPECT_EQ(openPropertyPage(p, prompter, t, 1)->healthStatus, "Rebuilding (12% completed)");
  // A page that no longer carries code 82h leaves what the last read found.
  p.drive(1).scsi.diagnostic[0x82] = {0x00, 0x00, 0x00, 0x04, 0x44, 0x00, 0x00, 0x00};
  EXPECT_EQ(openPropertyPage(p, prompter, t, 1)->healthStatus, "Rebuilding (12% completed)");
  EXPECT_TRUE(prompter.prompts.empty());
}

TEST(EnclosurePageRefresh, TheStatusInterfaceIsOpenedSharedForReadingAndWriting) {
  sim::SimPlatform p(machine("82 00 00 04 41 00 00 00", true));
  DriveTable t = detectedTable(p);
  p.clearLog();
  RecordingPrompter prompter;
  (void)openPropertyPage(p, prompter, t, 1);
  const std::vector<sim::SimRequest> log = p.log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0].kind, sim::SimRequest::Kind::Open);
  EXPECT_EQ(log[0].path, sim::SimMachine::statusInterfacePath(p.drive(1)));
  EXPECT_EQ(log[0].access, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(log[0].shareMode, FILE_SHARE_READ | FILE_SHARE_WRITE);
  EXPECT_EQ(p.openHandleCount(), 0u);
}

TEST(EnclosureWithoutDriver, EachOpeningTellsTheUserOnceAndShowsUnknown) {
  sim::SimPlatform p(machine("82 00 00 04 41 00 00 00", false));
  DriveTable t = detectedTable(p);
  EXPECT_EQ(t.records[1].devicePath[0], '\0');
  RecordingPrompter prompter;
  for (size_t opening = 1; opening <= 2; ++opening) {
    const std::optional<PropertyPage> page = openPropertyPage(p, prompter, t, 1);
    ASSERT_TRUE(page.has_value());
    ASSERT_EQ(prompter.prompts.size(), opening);
    const devtest::Prompt& box = prompter.prompts.back();
    EXPECT_EQ(box.text, kString124);
    EXPECT_EQ(box.caption, "PALVORO for Windows");
    EXPECT_EQ(box.icon, PromptIcon::Warning);
    EXPECT_EQ(box.buttons, PromptButtons::Ok);
    EXPECT_EQ(page->healthStatus, "Unknown");
    EXPECT_EQ(page->raidSetting, "Unknown");
    EXPECT_EQ(t.records[1].raidState, 8);
  }
}

TEST(EnclosureWithoutDriver, ADriverGoneSinceDetectionShowsUnknownAndKeepsTheLevel) {
  sim::SimPlatform p(machine("82 00 00 04 41 00 00 00", true));
  DriveTable t = detectedTable(p);
  ASSERT_NE(t.records[1].devicePath[0], '\0');
  p.drive(1).statusInterface = false;
  RecordingPrompter prompter;
  const std::optional<PropertyPage> page = openPropertyPage(p, prompter, t, 1);
  ASSERT_TRUE(page.has_value());
  ASSERT_EQ(prompter.prompts.size(), 1u);
  EXPECT_EQ(prompter.prompts[0].text, kString124);
  EXPECT_EQ(page->healthStatus, "Unknown");
  EXPECT_EQ(page->raidSetting, "RAID 1");
}

TEST(EnclosureMembers, ASerialOfSpacesOnlyIsNotFound) {
  sim::SimPlatform p(machine("82 00 00 04 40 00 00 00", true));
  DriveTable t = detectedTable(p);
  put(t.records[1].memberSerialA, "                    ");
  put(t.records[1].memberSerialB, " MB 12 ");
  RecordingPrompter prompter;
  const std::optional<PropertyPage> page = openPropertyPage(p, prompter, t, 1);
  ASSERT_TRUE(page.has_value());
  EXPECT_EQ(page->memberSerialA, "Not Found");
  EXPECT_EQ(page->memberSerialB, "MB12");
}

// ---- volumes and the table ----

TEST(PropertyPageVolumes, OpeningThePageMapsEveryDrivesLetters) {
  sim::SimPlatform p(machine("82 00 00 04 40 00 00 00", true));
  DriveTable t = detectedTable(p);
  RecordingPrompter prompter;
  const std::optional<PropertyPage> page = openPropertyPage(p, prompter, t, 0);
  ASSERT_TRUE(page.has_value());
  ASSERT_EQ(page->volumes.size(), 2u);
  EXPECT_EQ(page->volumes[0].text, "System (C:\\)");
  EXPECT_EQ(page->volumes[0].capacity, "1.00 GB");
  EXPECT_EQ(page->volumes[1].text, "Data (E:\\)");
  EXPECT_EQ(page->volumes[1].capacity, "0.25 GB");
  // The other drives' letters are refreshed too.
  EXPECT_EQ(std::string(t.records[2].volumeLetters), "F");
  EXPECT_EQ(t.records[2].volumeCount, 1);
  EXPECT_EQ(t.records[1].volumeCount, 0);
}

TEST(PropertyPageVolumes, TheEnclosureWithoutLettersHasAnEmptyList) {
  sim::SimPlatform p(machine("82 00 00 04 40 00 00 00", true));
  DriveTable t = detectedTable(p);
  RecordingPrompter prompter;
  EXPECT_TRUE(openPropertyPage(p, prompter, t, 1)->volumes.empty());
}

TEST(PropertyPageTable, AnIndexOutsideTheTableOpensNothing) {
  sim::SimPlatform p(machine("82 00 00 04 40 00 00 00", true));
  DriveTable t = detectedTable(p);
  p.clearLog();
  RecordingPrompter prompter;
  for (int index : {-1, 3, 8, 1000}) {
    EXPECT_FALSE(openPropertyPage(p, prompter, t, index).has_value()) << index;
    EXPECT_FALSE(propertyPageFields(p, t, index).has_value()) << index;
  }
  EXPECT_TRUE(prompter.prompts.empty());
  EXPECT_TRUE(p.log().empty());
}

}  // namespace
}  // namespace palvoro
