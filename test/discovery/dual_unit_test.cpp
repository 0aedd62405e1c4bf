#include "discovery/dual_unit.h"

#include <gtest/gtest.h>

#include "support/case_name.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "device/smart_transport.h"
#include "discovery/compliance_table.h"
#include "discovery/identify.h"
#include "platform/ioctl_codes.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

using palvoro::testsupport::caseName;


// The dual-unit drive under test is drive 1; drive 0 is an ordinary drive, so a request
// sent to the wrong drive number lands somewhere visible.
constexpr int kDrive = 1;
constexpr const char* kDrivePath = "\\\\.\\PhysicalDrive1";
// What the probe's IDEMA rule left in hiddenSectors, when a test does not care.
constexpr uint64_t kProbeHidden = 4242;

// A model of the embedded table's 2.5-inch 7 mm, 1 TB, 16 GB row, and one it does not list.
const std::string kListedModel = "VHT VHH7S100516A2B10K1JP";
const std::string kUnlistedModel = "VHT VHN7S100516A2B10K1JP";

struct UnitIdentity {
  std::string model;
  std::string serial;
  std::string firmware;
  uint64_t sectors = 0;
  uint16_t rotationRate = 7200;
  bool trim = false;
  uint16_t word106 = 0x4000;
  uint32_t logicalSectorWords = 0;
};

sim::IdentifyWords identifyOf(const UnitIdentity& identity) {
  sim::IdentityDescription id;
  id.model = identity.model;
  id.serial = identity.serial;
  id.firmware = identity.firmware;
  id.sectors = identity.sectors;
  id.rotationRate = identity.rotationRate;
  id.trim = identity.trim;
  id.word106 = identity.word106;
  id.logicalSectorWords = identity.logicalSectorWords;
  return sim::makeIdentify(id);
}

sim::SimUnit unitOf(const UnitIdentity& identity) {
  sim::SimUnit unit;
  unit.identify = identifyOf(identity);
  unit.media = sim::SimMedia(identity.sectors, 512);
  return unit;
}

// An ATA drive on a SATA controller with unit 0 and, when given, unit 2.
sim::SimDrive ataDrive(const UnitIdentity& unit0, const std::optional<UnitIdentity>& unit2, bool vendorSwitch = true) {
  sim::SimDrive d;
  d.number = kDrive;
  d.transport = sim::Transport::Ata;
  d.ata.units[0] = unitOf(unit0);
  if (unit2) d.ata.units[2] = unitOf(*unit2);
  d.ata.sctVendorSwitch = vendorSwitch;
  sim::applyTransportDefaults(d);
  return d;
}

sim::SimMachine machineWith(sim::SimDrive drive) {
  sim::SimDrive other;
  other.number = 0;
  other.transport = sim::Transport::Ata;
  other.ata.units[0] = unitOf({"ACME 7K1000", "ACME0001", "A100", 1'000'000, 7200});
  other.ata.sctVendorSwitch = true;
  sim::applyTransportDefaults(other);
  sim::SimMachine m;
  m.name = "dual-unit";
  m.drives = {other, std::move(drive)};
  return m;
}

// One ATA-path probe of drive 1 up to the dual-unit check: the first IDENTIFY through the
// SMART driver, a copy kept before parsing, the parse, the IDEMA value in hiddenSectors.
class Probe {
 public:
  explicit Probe(sim::SimDrive drive) : platform(machineWith(std::move(drive))) {}
  ~Probe() {
    if (handle != INVALID_HANDLE_VALUE) platform.closeHandle(handle);
  }

  void readFirst(uint64_t hiddenBefore = kProbeHidden) {
    handle = platform.createFile(kDrivePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 OPEN_EXISTING, 0);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    uint8_t buffer[kSmartBufferSize];
    ASSERT_TRUE(smartIdentify(platform, handle, false, 0xEC, 0, buffer));
    uint8_t reply[kIdentifyBytes];
    std::memcpy(reply, buffer + 16, kIdentifyBytes);
    std::memcpy(firstReply, reply, kIdentifyBytes);
    std::memset(&record, 0, sizeof record);
    record.busType = kBusSata;
    firstRotationRate = parseIdentify(platform, handle, reply, record);
    record.identifiedSectors = record.totalSectors;
    record.hiddenSectors = hiddenBefore;
    platform.clearLog();
  }

  void check(const ComplianceTable* table) {
    dualUnitCheck(platform, handle, kDrive, record, firstReply, firstRotationRate, table, false);
    platform.closeHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }

  void run(const ComplianceTable* table, uint64_t hiddenBefore = kProbeHidden) {
    readFirst(hiddenBefore);
    check(table);
  }

  // The drive commands of the check in order: "ATA EC A2", "ATA SCT 1", "SMART EC A0", ...
  std::vector<std::string> commands() const {
    std::vector<std::string> out;
    char line[48];
    for (const sim::SimRequest& r : platform.log()) {
      if (r.kind != sim::SimRequest::Kind::Ioctl) continue;
      if (r.code == IOCTL_ATA_PASS_THROUGH && r.input.size() >= 40) {
        const uint8_t command = r.input[32 + 6];
        const uint8_t device = r.input[32 + 5];
        if (command == 0xB0 && r.input[32] == 0xD6 && r.input.size() >= 43) {
          const unsigned action = r.input[40] | (r.input[41] << 8);
          std::snprintf(line, sizeof line, "ATA SCT %04X %u", action, r.input[42]);
        } else {
          std::snprintf(line, sizeof line, "ATA %02X %02X", command, device);
        }
      } else if (r.code == SMART_RCV_DRIVE_DATA && r.input.size() >= 13) {
        std::snprintf(line, sizeof line, "SMART %02X %02X", r.input[4 + 6], r.input[4 + 5]);
      } else {
        std::snprintf(line, sizeof line, "IOCTL %08X", r.code);
      }
      out.push_back(std::string(line) + (r.ok ? "" : " failed"));
    }
    return out;
  }

  sim::SimPlatform platform;
  Handle handle = INVALID_HANDLE_VALUE;
  uint8_t firstReply[kIdentifyBytes] = {};
  uint16_t firstRotationRate = 0;
  DriveRecord record{};
};

class DualUnitTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(loadComplianceTable(table)); }
  ComplianceTable table;
};

// ---------------------------------------------------------------------------------
// Drives without a second unit.

TEST_F(DualUnitTest, SingleUnitDriveAnswersTheSameAndHidesNothing) {
  Probe p(ataDrive({kListedModel, "S1", "02A1", 1'055'273'136, 7200}, std::nullopt));
  p.run(&table);
  EXPECT_EQ(p.record.hiddenSectors, 0u);
  EXPECT_EQ(p.record.totalSectors, 1'055'273'136u);
  EXPECT_EQ(p.record.identifiedSectors, 1'055'273'136u);
  EXPECT_EQ(p.record.primaryUnit, 0);
  EXPECT_EQ(p.record.secondaryUnit, 0);
  EXPECT_EQ(p.commands(), (std::vector<std::string>{"ATA EC A2"}));
}

TEST_F(DualUnitTest, UnitTwoReportingTheSameIdentifyHidesNothing) {
  const UnitIdentity same{kListedModel, "S1", "02A1", 976'773'168, 7200};
  Probe p(ataDrive(same, same));
  p.run(&table, 0);
  EXPECT_EQ(p.record.hiddenSectors, 0u);
  EXPECT_EQ(p.record.totalSectors, 976'773'168u);
  EXPECT_EQ(p.record.primaryUnit, 0);
  EXPECT_EQ(p.record.secondaryUnit, 0);
}

TEST_F(DualUnitTest, FailingSecondIdentifyKeepsWhatTheProbeGave) {
  Probe p(ataDrive({kListedModel, "S1", "02A1", 1'055'273'136, 7200},
                   UnitIdentity{"VHT CACHE", "S2", "02A1", 31'273'136, 1}));
  p.readFirst();
  sim::SimFault fault;
  fault.drive = kDrive;
  fault.ioctl = IOCTL_ATA_PASS_THROUGH;
  fault.command = 0xEC;
  p.platform.injectFault(fault);
  p.check(&table);
  EXPECT_EQ(p.record.hiddenSectors, kProbeHidden);
  EXPECT_EQ(p.record.totalSectors, 1'055'273'136u);
  EXPECT_EQ(p.record.identifiedSectors, 1'055'273'136u);
  EXPECT_EQ(p.record.primaryUnit, 0);
  EXPECT_EQ(p.record.secondaryUnit, 0);
  EXPECT_STREQ(p.record.model, kListedModel.c_str());
  EXPECT_EQ(p.commands(), (std::vector<std::string>{"ATA EC A2 failed"}));
}

// ---------------------------------------------------------------------------------
// A rotating first unit with a distinct second unit.

struct RotatingCase {
  const char* name;
  std::string model;
  std::string firmware;
  uint64_t first;           // C1
  uint64_t second;          // S
  uint16_t firstRotation;
  uint64_t hiddenBefore;    // what the IDEMA rule gave
  uint64_t totalSectors;
  uint64_t hiddenSectors;
  uint8_t primaryUnit;
  uint8_t secondaryUnit;
};

class RotatingFirstUnitTest : public DualUnitTest, public ::testing::WithParamInterface<RotatingCase> {};

TEST_P(RotatingFirstUnitTest, SplitsListedDrivesOnly) {
  const RotatingCase& c = GetParam();
  Probe p(ataDrive({c.model, "S1", c.firmware, c.first, c.firstRotation},
                   UnitIdentity{"VHT CACHE UNIT", "S2", c.firmware, c.second, 1}));
  p.run(&table, c.hiddenBefore);
  EXPECT_EQ(p.record.totalSectors, c.totalSectors);
  EXPECT_EQ(p.record.identifiedSectors, c.first);
  EXPECT_EQ(p.record.hiddenSectors, c.hiddenSectors);
  EXPECT_EQ(p.record.primaryUnit, c.primaryUnit);
  EXPECT_EQ(p.record.secondaryUnit, c.secondaryUnit);
  // The second unit's texts are not the drive's.
  EXPECT_STREQ(p.record.model, c.model.c_str());
  EXPECT_STREQ(p.record.serialNumber, "S1");
  // Nothing but the one IDENTIFY of unit 2 reaches the drive.
  EXPECT_EQ(p.commands(), (std::vector<std::string>{"ATA EC A2"}));
}

// 976,773,168 = 97,696,368 + 1,953,504 x 450, the standard 500 GB count.
// 1,055,273,136 - 31,273,136 = 1,024,000,000 = 2048 x 500,000.
// 976,773,168 - 16,773,168 = 960,000,000 = 2048 x 468,750.
// 976,773,168 - 15,645,104 = 961,128,064, not a multiple of 2048.
INSTANTIATE_TEST_SUITE_P(
    Cases, RotatingFirstUnitTest,
    ::testing::Values(
        RotatingCase{"Firmware02AlignedRestIsTheFirstUnit", kListedModel, "02A1", 1'055'273'136, 31'273'136, 7200, 7,
                     1'024'000'000, 31'273'136, 0, 2},
        RotatingCase{"Firmware02AlignedRestBeatsStandardCapacity", kListedModel, "02A1", 976'773'168, 16'773'168,
                     7200, 0, 960'000'000, 16'773'168, 0, 2},
        RotatingCase{"Firmware02UnalignedStandardCapacityKept", kListedModel, "02A1", 976'773'168, 15'645'104, 5400,
                     0, 976'773'168, 15'645'104, 0, 2},
        RotatingCase{"StandardCapacityKept", kListedModel, "01A1", 976'773'168, 31'273'136, 7200, 0, 976'773'168,
                     31'273'136, 0, 2},
        RotatingCase{"OtherCountLosesTheSecondUnit", kListedModel, "01A1", 1'000'000'000, 31'273'136, 7200, 7,
                     968'726'864, 31'273'136, 0, 2},
        RotatingCase{"Firmware2IsNot02", kListedModel, "2A1", 976'773'168, 16'773'168, 7200, 0, 976'773'168,
                     16'773'168, 0, 2},
        // An empty second unit still leaves the drive marked as having one.
        RotatingCase{"EmptySecondUnitCountsAsOne", kListedModel, "01A1", 976'773'168, 0, 7200, 0, 976'773'168, 1, 0,
                     2},
        // A count below the 50 GB base is never a standard capacity, even where the rule's
        // arithmetic wrapped around 2^64 would land on it exactly (20,244,656 does).
        RotatingCase{"BelowTheIdemaBase", kListedModel, "01A1", 20'244'656, 15'645'104, 7200, 3, 4'599'552,
                     15'645'104, 0, 2},
        // A second unit larger than the first cannot be taken out of it.
        RotatingCase{"SecondUnitLargerThanFirst", kListedModel, "02A1", 1'000'000'000, 1'200'000'000, 7200, 7,
                     1'000'000'000, 1'200'000'000, 0, 2},
        RotatingCase{"UnlistedModelKeepsTheIdemaRule", kUnlistedModel, "02A1", 1'055'273'136, 31'273'136, 7200,
                     kProbeHidden, 1'055'273'136, kProbeHidden, 0, 0},
        RotatingCase{"OtherMakerKeepsTheIdemaRule", "ACME 7K1000 HYBRID", "02A1", 1'055'273'136, 31'273'136, 7200,
                     kProbeHidden, 1'055'273'136, kProbeHidden, 0, 0},
        // A listed drive that reports no rotation rate is neither split way, but is still
        // marked as having sectors outside the tested unit.
        RotatingCase{"ListedWithoutRotationRate", kListedModel, "01A1", 976'773'168, 31'273'136, 0, 0,
                     976'773'168, 1, 0, 0}),
    caseName<RotatingCase>);

TEST_F(DualUnitTest, NoTableSplitsNoRotatingDrive) {
  Probe p(ataDrive({kListedModel, "S1", "02A1", 1'055'273'136, 7200},
                   UnitIdentity{"VHT CACHE", "S2", "02A1", 31'273'136, 1}));
  p.run(nullptr);
  EXPECT_EQ(p.record.totalSectors, 1'055'273'136u);
  EXPECT_EQ(p.record.hiddenSectors, kProbeHidden);
  EXPECT_EQ(p.record.secondaryUnit, 0);
}

// ---------------------------------------------------------------------------------
// The split itself.

struct AdjustCase {
  const char* name;
  const char* firmware;
  uint64_t total;
  uint64_t second;
  uint64_t expectedTotal;
};

class AdjustForSecondUnitTest : public ::testing::TestWithParam<AdjustCase> {};

TEST_P(AdjustForSecondUnitTest, TakesTheSecondUnitOutUnlessAlreadyOut) {
  const AdjustCase& c = GetParam();
  DriveRecord record{};
  std::strcpy(record.firmwareRevision, c.firmware);
  record.totalSectors = c.total;
  record.identifiedSectors = 5;
  record.primaryUnit = 2;
  adjustForSecondUnit(record, c.second);
  EXPECT_EQ(record.totalSectors, c.expectedTotal);
  EXPECT_EQ(record.hiddenSectors, c.second);
  EXPECT_EQ(record.primaryUnit, 0);
  EXPECT_EQ(record.secondaryUnit, 2);
  EXPECT_EQ(record.identifiedSectors, 5u);
}

// 1,953,525,168 = 97,696,368 + 1,953,504 x 950, the standard 1 TB count.
INSTANTIATE_TEST_SUITE_P(
    Cases, AdjustForSecondUnitTest,
    ::testing::Values(AdjustCase{"StandardTerabyteKept", "01A1", 1'953'525'168, 62'529'200, 1'953'525'168},
                      AdjustCase{"OneAboveStandardLosesUnit", "01A1", 1'953'525'169, 62'529'200, 1'890'995'969},
                      AdjustCase{"OneBelowStandardLosesUnit", "01A1", 1'953'525'167, 62'529'200, 1'890'995'967},
                      AdjustCase{"FiftyGigabyteBaseKept", "01A1", 97'696'368, 15'645'104, 97'696'368},
                      // 1,953,525,168 - 110,325,168 = 1,843,200,000 = 2048 x 900,000.
                      AdjustCase{"Firmware02AlignedOnStandardTerabyte", "02", 1'953'525'168, 110'325'168,
                                 1'843'200'000},
                      AdjustCase{"Firmware01SameCountsKept", "01", 1'953'525'168, 110'325'168, 1'953'525'168},
                      AdjustCase{"Firmware02OneOffAlignmentKept", "02", 1'953'525'168, 110'325'169, 1'953'525'168},
                      // Equal counts leave nothing of the first unit.
                      AdjustCase{"Firmware02EqualCounts", "02B", 62'529'200, 62'529'200, 0},
                      AdjustCase{"SecondLargerKeepsCount", "01", 62'529'200, 62'529'201, 62'529'200}),
    caseName<AdjustCase>);

// ---------------------------------------------------------------------------------
// A solid-state first unit in front of a rotating second one.

TEST_F(DualUnitTest, SolidStateFirstUnitPutsTheRotatingUnitFirst) {
  struct Case {
    const char* name;
    std::string model;
    uint64_t first;
    uint64_t second;
    uint64_t total;
    uint64_t hidden;
    uint64_t identified;
  };
  const Case cases[] = {
      {"UnlistedFirstLarger", kUnlistedModel, 250'069'680, 200'000'000, 200'000'000, 50'069'680, 250'069'680},
      {"UnlistedFirstSmaller", kUnlistedModel, 62'529'200, 1'953'525'168, 1'953'525'168, 62'529'200, 62'529'200},
      {"OtherMaker", "ACME SSHD 1000", 62'529'200, 1'953'525'168, 1'953'525'168, 62'529'200, 62'529'200},
      {"Listed", kListedModel, 62'529'200, 1'953'525'168, 1'953'525'168, 62'529'200, 62'529'200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Probe p(ataDrive({c.model, "SSD1", "01A1", c.first, 1},
                     UnitIdentity{"VHT HDD UNIT", "HDD2", "01B1", c.second, 5400}));
    p.run(&table);
    EXPECT_EQ(p.record.primaryUnit, 2);
    EXPECT_EQ(p.record.secondaryUnit, 0);
    EXPECT_EQ(p.record.totalSectors, c.total);
    EXPECT_EQ(p.record.hiddenSectors, c.hidden);
    EXPECT_EQ(p.record.identifiedSectors, c.identified);
    // Different counts need no re-read: the texts stay the first unit's, no SCT command.
    EXPECT_STREQ(p.record.model, c.model.c_str());
    EXPECT_STREQ(p.record.serialNumber, "SSD1");
    EXPECT_EQ(p.commands(), (std::vector<std::string>{"ATA EC A2"}));
  }
}

TEST_F(DualUnitTest, SolidStateBehindRotatingUnitIsNotSwapped) {
  // Unlisted: only a solid-state FIRST unit changes anything.
  Probe p(ataDrive({kUnlistedModel, "HDD1", "01A1", 1'953'525'168, 7200},
                   UnitIdentity{"VHT SSD", "SSD2", "01", 62'529'200, 1}));
  p.run(&table);
  EXPECT_EQ(p.record.primaryUnit, 0);
  EXPECT_EQ(p.record.secondaryUnit, 0);
  EXPECT_EQ(p.record.totalSectors, 1'953'525'168u);
  EXPECT_EQ(p.record.hiddenSectors, kProbeHidden);
}

// Both units report 1,000,000,000 sectors; with the vendor switch on, unit 0 reports the
// whole drive and unit 2 the rotating part, with its own identity and 4096-byte sectors.
sim::SimDrive hidingDrive(const std::string& model, bool vendorSwitch = true) {
  const UnitIdentity ssd{model, "SSD1", "01A1", 1'000'000'000, 1};
  const UnitIdentity hdd{"VHT HDD UNIT", "HDD2", "01B1", 1'000'000'000, 5400, true};
  sim::SimDrive d = ataDrive(ssd, hdd, vendorSwitch);
  d.ata.units[0].identifySwitched = identifyOf({model, "SSD1S", "01A1", 1'031'273'136, 1});
  d.ata.units[2].identifySwitched =
      identifyOf({"VHT VHH7S100516A-HDD", "HDD2S", "02C1", 1'000'000'000, 5400, true, 0x7000, 2048});
  return d;
}

TEST_F(DualUnitTest, EqualCountsAreReReadBetweenTheTwoSctCommands) {
  for (const std::string& model : {kUnlistedModel, kListedModel}) {
    SCOPED_TRACE(model);
    Probe p(hidingDrive(model));
    p.run(&table);
    EXPECT_EQ(p.commands(), (std::vector<std::string>{"ATA EC A2", "ATA SCT C013 1", "SMART EC A0", "ATA EC A2",
                                                      "ATA SCT C013 0"}));
    EXPECT_FALSE(p.platform.drive(kDrive).ata.switched);
    EXPECT_FALSE(p.platform.drive(0).ata.switched);
    EXPECT_EQ(p.record.primaryUnit, 2);
    EXPECT_EQ(p.record.secondaryUnit, 0);
    EXPECT_EQ(p.record.totalSectors, 1'000'000'000u);
    EXPECT_EQ(p.record.hiddenSectors, 31'273'136u);
    // The capacity shown stays what the drive first reported.
    EXPECT_EQ(p.record.identifiedSectors, 1'000'000'000u);
    // Texts and sector size of the unit the tests work on, as the switched drive reports it.
    EXPECT_STREQ(p.record.model, "VHT VHH7S100516A-HDD");
    EXPECT_STREQ(p.record.serialNumber, "HDD2S");
    EXPECT_STREQ(p.record.firmwareRevision, "02C1");
    EXPECT_EQ(p.record.sectorSize, 4096);
    // The flags come from unit 0's re-read, a solid-state unit's: none.
    EXPECT_EQ(p.record.hybridFlags, 0u);
    EXPECT_EQ(p.platform.openHandleCount(), 0u);
  }
}

TEST_F(DualUnitTest, FailedReReadStillTurnsTheSwitchOff) {
  Probe p(hidingDrive(kUnlistedModel));
  p.readFirst();
  sim::SimFault fault;
  fault.drive = kDrive;
  fault.ioctl = SMART_RCV_DRIVE_DATA;
  p.platform.injectFault(fault);
  p.check(&table);
  EXPECT_EQ(p.commands(), (std::vector<std::string>{"ATA EC A2", "ATA SCT C013 1", "SMART EC A0 failed",
                                                    "ATA EC A2", "ATA SCT C013 0"}));
  EXPECT_FALSE(p.platform.drive(kDrive).ata.switched);
  // Unit 0 keeps its first count; unit 2's switched count and texts are taken.
  EXPECT_EQ(p.record.totalSectors, 1'000'000'000u);
  EXPECT_EQ(p.record.hiddenSectors, 1'000'000'000u);
  EXPECT_EQ(p.record.primaryUnit, 2);
  EXPECT_STREQ(p.record.serialNumber, "HDD2S");
  EXPECT_EQ(p.platform.openHandleCount(), 0u);
}

TEST_F(DualUnitTest, DriveRefusingTheSwitchKeepsItsEqualCounts) {
  Probe p(hidingDrive(kUnlistedModel, false));
  p.run(&table);
  EXPECT_EQ(p.commands(), (std::vector<std::string>{"ATA EC A2", "ATA SCT C013 1", "SMART EC A0", "ATA EC A2",
                                                    "ATA SCT C013 0"}));
  EXPECT_EQ(p.record.primaryUnit, 2);
  EXPECT_EQ(p.record.secondaryUnit, 0);
  EXPECT_EQ(p.record.totalSectors, 1'000'000'000u);
  EXPECT_EQ(p.record.hiddenSectors, 1'000'000'000u);
  // The unswitched unit 2 answered the re-read.
  EXPECT_STREQ(p.record.serialNumber, "HDD2");
  EXPECT_EQ(p.record.sectorSize, 512);
}

}  // namespace
}  // namespace palvoro
