// The SMART reads against the simulated machine: which path each drive takes, where the
// page lands in the buffer, and that the threshold page is never asked for after the
// data page failed.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/device_test_support.h"
#include "device/drive_requests.h"
#include "device/scsi_transport.h"
#include "platform/ioctl_codes.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_platform.h"
#include "smart/smart_pages.h"
#include "smart/smart_test_support.h"

namespace palvoro {
namespace {

using devtest::Bytes;
using sim::SimAttribute;

// A pre-failure attribute whose worst value reached its threshold, and healthy ones.
const std::vector<SimAttribute> kHealthy = {{0x01, 0x000B, 100, 100, 0, 16},
                                            {0x05, 0x0033, 100, 100, 0, 36},
                                            {0x09, 0x0032, 98, 98, 1234, 0}};
const std::vector<SimAttribute> kWorstAtThreshold = {{0x01, 0x000B, 100, 100, 0, 16},
                                                     {0x05, 0x0033, 100, 45, 0, 45},
                                                     {0x09, 0x0032, 98, 98, 1234, 0}};
// Advisory attribute far below its threshold: not a failure.
const std::vector<SimAttribute> kAdvisoryBelow = {{0x05, 0x0033, 100, 100, 0, 36},
                                                  {0xC2, 0x0022, 20, 20, 45, 50}};

sim::SimDrive driveWith(sim::Transport transport, const std::vector<SimAttribute>& attributes, int number = 0) {
  devtest::DriveOptions options;
  options.number = number;
  sim::SimDrive d = devtest::makeDrive(options);
  d.transport = transport;
  d.ata.units[0].smart.attributes = attributes;
  sim::applyTransportDefaults(d);
  return d;
}

DriveRecord recordFor(int32_t driveClass, int32_t busType, int32_t ataTunnel, int number = 0) {
  DriveRecord r = devtest::makeRecord(number);
  r.driveClass = driveClass;
  r.busType = busType;
  r.ataTunnel = ataTunnel;
  r.smartHealthy = 1;
  r.raidMemberBHealthy = 1;
  return r;
}

// A platform over one machine with a handle on physical drive 0, opened the way the
// SMART path opens it.
struct SmartRig {
  explicit SmartRig(std::vector<sim::SimDrive> drives, bool administrator = true)
      : platform(machine(std::move(drives), administrator)) {}
  ~SmartRig() {
    if (handle != INVALID_HANDLE_VALUE) platform.closeHandle(handle);
  }
  static sim::SimMachine machine(std::vector<sim::SimDrive> drives, bool administrator) {
    sim::SimMachine m = devtest::machineWith(std::move(drives));
    m.administrator = administrator;
    return m;
  }
  Handle open(int number = 0, bool miniportMode = false) {
    handle = openSmartPath(platform, number, miniportMode);
    return handle;
  }

  // The SMART sub-command (features) of every SMART command the machine received, on
  // whichever request carried it, oldest first. Failed requests count too.
  std::vector<uint8_t> smartFeatures() const {
    std::vector<uint8_t> features;
    for (const sim::SimRequest& r : platform.log()) {
      if (r.kind != sim::SimRequest::Kind::Ioctl) continue;
      const Bytes& in = r.input;
      auto take = [&](size_t featuresAt, size_t commandAt) {
        if (in.size() > commandAt && in[commandAt] == 0xB0) features.push_back(in[featuresAt]);
      };
      if (r.code == SMART_RCV_DRIVE_DATA || r.code == SMART_SEND_DRIVE_COMMAND) {
        take(4, 10);  // SENDCMDINPARAMS.irDriveRegs
      } else if (r.code == IOCTL_ATA_PASS_THROUGH) {
        take(32, 38);  // ATA_PASS_THROUGH_EX.CurrentTaskFile
      } else if (r.code == IOCTL_SCSI_MINIPORT) {
        take(28 + 4, 28 + 10);  // behind SRB_IO_CONTROL
      } else if (r.code == IOCTL_SCSI_PASS_THROUGH && in.size() >= 44) {
        const size_t cdb = 28;
        if (in[cdb] == 0xA1) {
          take(cdb + 3, cdb + 9);  // ATA PASS-THROUGH (12)
        } else if (in[cdb] == 0x85) {
          take(cdb + 4, cdb + 14);  // ATA PASS-THROUGH (16)
        } else if (in[cdb + 3] == 0xBE) {
          take(cdb + 6, cdb + 12);  // the bridge's ATA command block
        }
      }
    }
    return features;
  }
  size_t requestsOf(uint32_t code) const { return platform.ioctls(code).size(); }

  sim::SimPlatform platform;
  Handle handle = INVALID_HANDLE_VALUE;
};

sim::SimFault failSmart(uint8_t features, int drive = 0) {
  sim::SimFault f;
  f.kind = sim::SimFault::Kind::FailRequest;
  f.drive = drive;
  f.command = 0xB0;
  f.features = features;
  return f;
}

sim::SimFault failScsi(int remaining) {
  sim::SimFault f;
  f.kind = sim::SimFault::Kind::FailRequest;
  f.drive = 0;
  f.ioctl = IOCTL_SCSI_PASS_THROUGH;
  f.remaining = remaining;
  return f;
}

using Features = std::vector<uint8_t>;

// --- checkSmartAttributes ---

struct CheckCase {
  const char* name;
  sim::Transport transport;
  int carrier;
  std::vector<SimAttribute> attributes;
  int expected;
};

TEST(CheckSmartAttributes, VerdictOverEachPath) {
  const CheckCase cases[] = {
      {"driver path, healthy", sim::Transport::Ata, -1, kHealthy, 0},
      {"driver path, worst at threshold", sim::Transport::Ata, -1, kWorstAtThreshold, 2},
      {"driver path, advisory below threshold", sim::Transport::Ata, -1, kAdvisoryBelow, 0},
      {"SAT carrier, healthy", sim::Transport::UsbSat, kCarrierSat12, kHealthy, 0},
      {"SAT carrier, worst at threshold", sim::Transport::UsbSat, kCarrierSat12, kWorstAtThreshold, 2},
      {"ATACB carrier, healthy", sim::Transport::UsbAtacb, kCarrierAtacb, kHealthy, 0},
      {"ATACB carrier, worst at threshold", sim::Transport::UsbAtacb, kCarrierAtacb, kWorstAtThreshold, 2},
      {"FireWire SAT carrier, worst at threshold", sim::Transport::FireWire, kCarrierSat12, kWorstAtThreshold, 2},
      {"no carrier", sim::Transport::UsbSat, kCarrierNone, kHealthy, 3},
      {"carrier the bridge does not speak", sim::Transport::UsbAtacb, kCarrierSat12, kHealthy, 3},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    SmartRig rig({driveWith(c.transport, c.attributes)});
    const Handle h = rig.open();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(checkSmartAttributes(rig.platform, 0, h, c.carrier, 0, false, kRaidMemberA), c.expected);
  }
}

// Every entry of the pages reaches the rule: a pre-failure attribute in the last of the
// 30 entries fails the drive over both layouts.
TEST(CheckSmartAttributes, LastEntryOverBothLayouts) {
  std::vector<SimAttribute> thirty;
  for (int i = 0; i < 30; ++i) thirty.push_back({static_cast<uint8_t>(i + 1), 0x0033, 100, 100, 0, 10});
  thirty.back().value = 10;
  for (sim::Transport t : {sim::Transport::Ata, sim::Transport::UsbSat}) {
    SmartRig rig({driveWith(t, thirty)});
    const int carrier = t == sim::Transport::Ata ? -1 : kCarrierSat12;
    EXPECT_EQ(checkSmartAttributes(rig.platform, 0, rig.open(), carrier, 0, false, kRaidMemberA), 2);
  }
}

// Thresholds listed in another order than the attributes are paired by position.
TEST(CheckSmartAttributes, ThresholdsPairedByPositionOnTheDrive) {
  using namespace smarttest;
  sim::SimDrive d = driveWith(sim::Transport::Ata, kHealthy);
  const Page data = dataPage({Attr{0, 0x05, 0x0033, 100, 100}, Attr{1, 0x09, 0x0033, 50, 50}});
  // By ID, attribute 9 would meet threshold 60 and fail.
  const Page thresholds = thresholdPage({Thr{0, 0x09, 60}, Thr{1, 0x05, 10}});
  d.ata.units[0].smart.dataPage = data;
  d.ata.units[0].smart.thresholdPage = thresholds;
  SmartRig rig({d});
  EXPECT_EQ(checkSmartAttributes(rig.platform, 0, rig.open(), -1, 0, false, kRaidMemberA), 0);
}

TEST(CheckSmartAttributes, DataPageUnreadableOnTheDriverPath) {
  SmartRig rig({driveWith(sim::Transport::Ata, kWorstAtThreshold)});
  const Handle h = rig.open();
  // Both the driver request and its ATA pass-through retry fail.
  rig.platform.injectFault(failSmart(0xD0));
  rig.platform.clearLog();
  EXPECT_EQ(checkSmartAttributes(rig.platform, 0, h, -1, 0, false, kRaidMemberA), 3);
  EXPECT_EQ(rig.smartFeatures(), (Features{0xD0, 0xD0}));
}

TEST(CheckSmartAttributes, ThresholdPageUnreadableOnTheDriverPath) {
  SmartRig rig({driveWith(sim::Transport::Ata, kHealthy)});
  const Handle h = rig.open();
  rig.platform.injectFault(failSmart(0xD1));
  rig.platform.clearLog();
  EXPECT_EQ(checkSmartAttributes(rig.platform, 0, h, -1, 0, false, kRaidMemberA), 3);
  EXPECT_EQ(rig.smartFeatures(), (Features{0xD0, 0xD1, 0xD1}));
}

// A driver that refuses SMART_RCV_DRIVE_DATA: the pass-through retry delivers the pages
// in the same layout, so the verdict is still read at byte 16.
TEST(CheckSmartAttributes, DriverRefusingReceiveStillJudged) {
  sim::SimDrive d = driveWith(sim::Transport::Ata, kWorstAtThreshold);
  d.smartDriver.rejectsReceive = true;
  SmartRig rig({d});
  EXPECT_EQ(checkSmartAttributes(rig.platform, 0, rig.open(), -1, 0, false, kRaidMemberA), 2);
}

TEST(CheckSmartAttributes, DataPageUnreadableOverTheCarrier) {
  for (sim::Transport t : {sim::Transport::UsbSat, sim::Transport::UsbAtacb}) {
    SmartRig rig({driveWith(t, kWorstAtThreshold)});
    const Handle h = rig.open();
    rig.platform.injectFault(failScsi(-1));
    rig.platform.clearLog();
    const int carrier = t == sim::Transport::UsbSat ? kCarrierSat12 : kCarrierAtacb;
    EXPECT_EQ(checkSmartAttributes(rig.platform, 0, h, carrier, 0, false, kRaidMemberA), 3);
    EXPECT_EQ(rig.smartFeatures(), (Features{0xD0}));
    EXPECT_EQ(rig.requestsOf(IOCTL_SCSI_PASS_THROUGH), 1u);
  }
}

TEST(CheckSmartAttributes, CarrierAsksDataThenThresholds) {
  SmartRig rig({driveWith(sim::Transport::UsbSat, kHealthy)});
  const Handle h = rig.open();
  rig.platform.clearLog();
  EXPECT_EQ(checkSmartAttributes(rig.platform, 0, h, kCarrierSat12, 0, false, kRaidMemberA), 0);
  EXPECT_EQ(rig.smartFeatures(), (Features{0xD0, 0xD1}));
  // Nothing went the driver's way.
  EXPECT_EQ(rig.requestsOf(SMART_RCV_DRIVE_DATA), 0u);
}

// The RAID enclosure's members answer through one handle; the device byte picks one.
TEST(CheckSmartAttributes, RaidMembersByDeviceByte) {
  sim::SimDrive d = driveWith(sim::Transport::Raid, kHealthy);
  ASSERT_TRUE(d.memberB.has_value());
  d.memberB->units.at(0).smart.attributes = kWorstAtThreshold;
  SmartRig rig({d});
  const Handle h = rig.open();
  EXPECT_EQ(checkSmartAttributes(rig.platform, 0, h, kCarrierSat12, 0, false, kRaidMemberA), 0);
  EXPECT_EQ(checkSmartAttributes(rig.platform, 0, h, kCarrierSat12, 0, false, kRaidMemberB), 2);
}

// Without administrator rights the pages come through the SCSI port's miniport.
TEST(CheckSmartAttributes, MiniportPath) {
  SmartRig rig({driveWith(sim::Transport::Ata, kWorstAtThreshold)}, false);
  const Handle h = rig.open(0, true);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  rig.platform.clearLog();
  EXPECT_EQ(checkSmartAttributes(rig.platform, 0, h, -1, 0, true, kRaidMemberA), 2);
  EXPECT_EQ(rig.smartFeatures(), (Features{0xD0, 0xD1}));
  EXPECT_EQ(rig.requestsOf(IOCTL_SCSI_MINIPORT), 2u);
}

// The units of a dual-unit drive are judged separately.
TEST(CheckSmartAttributes, DualUnitDriveUnits) {
  sim::SimDrive d = devtest::makeDualUnitDrive(0, 1'000'000, 100'000);
  d.ata.units.at(0).smart.attributes = kHealthy;
  d.ata.units.at(2).smart.attributes = kWorstAtThreshold;
  SmartRig rig({d});
  const Handle h = rig.open();
  EXPECT_EQ(checkSmartAttributes(rig.platform, 0, h, -1, 0, false, kRaidMemberA), 0);
  EXPECT_EQ(checkSmartAttributes(rig.platform, 0, h, -1, 2, false, kRaidMemberA), 2);
}

// --- readSmartPages ---

TEST(ReadSmartPages, DriverPathPagesBehindTheHeader) {
  SmartRig rig({driveWith(sim::Transport::Ata, kWorstAtThreshold)});
  DriveRecord r = recordFor(kDriveClassAta, kBusSata, 0);
  SmartPages pages;
  ASSERT_TRUE(readSmartPages(rig.platform, rig.open(), r, false, kRaidMemberA, pages));
  EXPECT_EQ(pages.pageOffset, 16u);
  EXPECT_FALSE(pages.secondUnitRead);
  // Entry 1 (bytes 14..18 of the page): ID 5, flags 0033h, current 100, worst 45.
  EXPECT_EQ(pages.data[16 + 14], 0x05);
  EXPECT_EQ(pages.data[16 + 15], 0x33);
  EXPECT_EQ(pages.data[16 + 17], 100);
  EXPECT_EQ(pages.data[16 + 18], 45);
  EXPECT_EQ(pages.thresholds[16 + 14], 0x05);
  EXPECT_EQ(pages.thresholds[16 + 15], 45);
  EXPECT_EQ(r.originMark, 0);
  const SmartVerdict v = smartDialogVerdict(r, pages, kRaidMemberA);
  EXPECT_EQ(v.row, SmartRowChange::Fail);
}

TEST(ReadSmartPages, CarrierPagesAtByteZero) {
  struct Case {
    sim::Transport transport;
    int32_t driveClass;
    int32_t busType;
    int32_t tunnel;
  };
  const Case cases[] = {{sim::Transport::UsbSat, kDriveClassUsb, kBusUsb, kCarrierSat12},
                        {sim::Transport::UsbAtacb, kDriveClassUsb, kBusUsb, kCarrierAtacb},
                        {sim::Transport::FireWire, kDriveClassFireWire, kBusFireWire, kCarrierSat12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.transport));
    SmartRig rig({driveWith(c.transport, kWorstAtThreshold)});
    DriveRecord r = recordFor(c.driveClass, c.busType, c.tunnel);
    SmartPages pages;
    const Handle h = rig.open();
    rig.platform.clearLog();
    ASSERT_TRUE(readSmartPages(rig.platform, h, r, false, kRaidMemberA, pages));
    EXPECT_EQ(pages.pageOffset, 0u);
    EXPECT_EQ(pages.data[14], 0x05);
    EXPECT_EQ(pages.data[18], 45);
    EXPECT_EQ(pages.thresholds[15], 45);
    EXPECT_EQ(rig.requestsOf(SMART_RCV_DRIVE_DATA), 0u);
    EXPECT_EQ(smartDialogVerdict(r, pages, kRaidMemberA).row, SmartRowChange::Fail);
  }
}

TEST(ReadSmartPages, CarrierDataFailureReadsNoThresholds) {
  SmartRig rig({driveWith(sim::Transport::UsbSat, kHealthy)});
  DriveRecord r = recordFor(kDriveClassUsb, kBusUsb, kCarrierSat12);
  const Handle h = rig.open();
  rig.platform.injectFault(failScsi(-1));
  rig.platform.clearLog();
  SmartPages pages;
  EXPECT_FALSE(readSmartPages(rig.platform, h, r, false, kRaidMemberA, pages));
  EXPECT_EQ(rig.smartFeatures(), (Features{0xD0}));
}

TEST(ReadSmartPages, DriverDataFailureReadsNoThresholds) {
  SmartRig rig({driveWith(sim::Transport::Ata, kHealthy)});
  DriveRecord r = recordFor(kDriveClassAta, kBusSata, 0);
  const Handle h = rig.open();
  rig.platform.injectFault(failSmart(0xD0));
  rig.platform.clearLog();
  SmartPages pages;
  EXPECT_FALSE(readSmartPages(rig.platform, h, r, false, kRaidMemberA, pages));
  EXPECT_EQ(rig.smartFeatures(), (Features{0xD0, 0xD0}));
}

// The RAID enclosure is read through its carrier with the member the window chose.
TEST(ReadSmartPages, RaidEnclosureMemberB) {
  sim::SimDrive d = driveWith(sim::Transport::Raid, kHealthy);
  d.memberB->units.at(0).smart.attributes = kWorstAtThreshold;
  SmartRig rig({d});
  DriveRecord r = recordFor(kDriveClassRaid, kBusUsb, kCarrierSat12);
  r.raidState = 0;
  const Handle h = rig.open();
  SmartPages pages;
  ASSERT_TRUE(readSmartPages(rig.platform, h, r, false, kRaidMemberA, pages));
  SmartVerdict v = smartDialogVerdict(r, pages, kRaidMemberA);
  applySmartVerdict(r, v);
  EXPECT_EQ(v.row, SmartRowChange::Pass);
  ASSERT_TRUE(readSmartPages(rig.platform, h, r, false, kRaidMemberB, pages));
  v = smartDialogVerdict(r, pages, kRaidMemberB);
  applySmartVerdict(r, v);
  EXPECT_EQ(r.smartHealthy, 1);
  EXPECT_EQ(r.raidMemberBHealthy, 0);
  EXPECT_EQ(v.row, SmartRowChange::Fail);
}

// A dual-unit drive (first unit 2, second unit 0) whose second unit fails while the
// first passes: both are read, originMark becomes 1, and the window shows " FAIL".
TEST(ReadSmartPages, DualUnitSecondUnitFails) {
  sim::SimDrive d = devtest::makeDualUnitDrive(0, 1'000'000, 100'000);
  d.ata.units.at(2).smart.attributes = kHealthy;
  d.ata.units.at(0).smart.attributes = kWorstAtThreshold;
  SmartRig rig({d});
  DriveRecord r = recordFor(kDriveClassAta, kBusSata, 0);
  r.primaryUnit = 2;
  r.secondaryUnit = 0;
  const Handle h = rig.open();
  SmartPages pages;
  ASSERT_TRUE(readSmartPages(rig.platform, h, r, false, kRaidMemberA, pages));
  EXPECT_TRUE(pages.secondUnitRead);
  EXPECT_EQ(r.originMark, 1);
  // The first unit's page holds its own values, the second unit's the failing ones.
  EXPECT_EQ(pages.data[16 + 18], 100);
  EXPECT_EQ(pages.secondData[16 + 18], 45);
  const SmartVerdict v = smartDialogVerdict(r, pages, kRaidMemberA);
  EXPECT_TRUE(v.anyFailed);
  ASSERT_NE(v.smartColumnText, nullptr);
  EXPECT_STREQ(v.smartColumnText, " FAIL");
  EXPECT_EQ(v.smartHealthy, 0);
}

TEST(ReadSmartPages, DualUnitSecondUnitUnreadable) {
  sim::SimDrive d = devtest::makeDualUnitDrive(0, 1'000'000, 100'000);
  // The second unit (0) has SMART switched off and aborts its reads.
  d.ata.units.at(0).smart.enabled = false;
  d.ata.units.at(0).smart.attributes = kWorstAtThreshold;
  SmartRig rig({d});
  DriveRecord r = recordFor(kDriveClassAta, kBusSata, 0);
  r.primaryUnit = 2;
  r.secondaryUnit = 0;
  r.originMark = 3;
  const Handle h = rig.open();
  SmartPages pages;
  EXPECT_TRUE(readSmartPages(rig.platform, h, r, false, kRaidMemberA, pages));
  EXPECT_FALSE(pages.secondUnitRead);
  EXPECT_EQ(r.originMark, 3);
  EXPECT_EQ(smartDialogVerdict(r, pages, kRaidMemberA).row, SmartRowChange::Pass);
}

// The second unit is asked even when the first unit did not answer; the read still
// fails, since the first unit's pages are what the window lists first.
TEST(ReadSmartPages, DualUnitFirstUnitUnreadable) {
  sim::SimDrive d = devtest::makeDualUnitDrive(0, 1'000'000, 100'000);
  d.ata.units.at(2).smart.enabled = false;
  SmartRig rig({d});
  DriveRecord r = recordFor(kDriveClassAta, kBusSata, 0);
  r.primaryUnit = 2;
  r.secondaryUnit = 0;
  const Handle h = rig.open();
  SmartPages pages;
  EXPECT_FALSE(readSmartPages(rig.platform, h, r, false, kRaidMemberA, pages));
  EXPECT_TRUE(pages.secondUnitRead);
  EXPECT_EQ(r.originMark, 1);
}

TEST(ReadSmartPages, SingleUnitDriveReadsOneUnit) {
  SmartRig rig({driveWith(sim::Transport::Ata, kHealthy)});
  DriveRecord r = recordFor(kDriveClassAta, kBusSata, 0);
  const Handle h = rig.open();
  rig.platform.clearLog();
  SmartPages pages;
  ASSERT_TRUE(readSmartPages(rig.platform, h, r, false, kRaidMemberA, pages));
  EXPECT_EQ(rig.smartFeatures(), (Features{0xD0, 0xD1}));
  EXPECT_FALSE(pages.secondUnitRead);
  EXPECT_EQ(smartDialogVerdict(r, pages, kRaidMemberA).row, SmartRowChange::Pass);
}

// --- readSmartDataForTest and startSelfTest ---

TEST(ReadSmartDataForTest, PageAtByte16OnEveryPath) {
  struct Case {
    const char* name;
    sim::Transport transport;
    int32_t driveClass;
    int32_t busType;
    int32_t tunnel;
    int expected;
  };
  const Case cases[] = {
      {"ATA drive", sim::Transport::Ata, kDriveClassAta, kBusSata, 0, 1},
      {"USB over SAT", sim::Transport::UsbSat, kDriveClassUsb, kBusUsb, kCarrierSat12, 1},
      {"USB over ATACB", sim::Transport::UsbAtacb, kDriveClassUsb, kBusUsb, kCarrierAtacb, 1},
      {"FireWire is not served", sim::Transport::FireWire, kDriveClassFireWire, kBusFireWire, kCarrierSat12, 0},
      {"SCSI is not served", sim::Transport::Scsi, kDriveClassScsi, kBusScsi, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SmartRig rig({driveWith(c.transport, kWorstAtThreshold)});
    DriveRecord r = recordFor(c.driveClass, c.busType, c.tunnel);
    const Handle h = rig.open();
    rig.platform.clearLog();
    uint8_t buffer[528] = {};
    EXPECT_EQ(readSmartDataForTest(rig.platform, h, r, false, kRaidMemberA, buffer, 0, 0), c.expected);
    if (c.expected == 1) {
      EXPECT_EQ(buffer[16 + 14], 0x05);
      EXPECT_EQ(buffer[16 + 18], 45);
      EXPECT_EQ(rig.smartFeatures(), (Features{0xD0}));
    } else {
      EXPECT_TRUE(rig.platform.log().empty());
    }
  }
}

TEST(StartSelfTest, ChoosesThePathByClassAndBus) {
  struct Case {
    const char* name;
    sim::Transport transport;
    int32_t driveClass;
    int32_t busType;
    int32_t tunnel;
    int expected;
  };
  const Case cases[] = {
      {"ATA drive", sim::Transport::Ata, kDriveClassAta, kBusSata, 0, 1},
      {"USB over SAT", sim::Transport::UsbSat, kDriveClassUsb, kBusUsb, kCarrierSat12, 1},
      {"FireWire is not served", sim::Transport::FireWire, kDriveClassFireWire, kBusFireWire, kCarrierSat12, 0},
      {"other bus", sim::Transport::Scsi, kDriveClassOther, kBusSas, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SmartRig rig({driveWith(c.transport, kHealthy)});
    DriveRecord r = recordFor(c.driveClass, c.busType, c.tunnel);
    const Handle h = rig.open();
    rig.platform.clearLog();
    EXPECT_EQ(startSelfTest(rig.platform, h, r, false, kRaidMemberA, 0, 0x01), c.expected);
    EXPECT_EQ(rig.platform.drive(0).ata.units.at(0).selfTest.running, c.expected == 1);
    if (c.expected == 1) {
      EXPECT_EQ(rig.smartFeatures(), (Features{0xD4}));
    } else {
      EXPECT_TRUE(rig.platform.log().empty());
    }
  }
}

// The sub-command reaches the drive in LBA low on the carrier.
TEST(StartSelfTest, CarrierSendsTheSubcommandInLbaLow) {
  SmartRig rig({driveWith(sim::Transport::UsbSat, kHealthy)});
  DriveRecord r = recordFor(kDriveClassUsb, kBusUsb, kCarrierSat12);
  const Handle h = rig.open();
  rig.platform.clearLog();
  EXPECT_EQ(startSelfTest(rig.platform, h, r, false, kRaidMemberA, 0, 0x02), 1);
  const auto scsi = rig.platform.ioctls(IOCTL_SCSI_PASS_THROUGH);
  ASSERT_EQ(scsi.size(), 1u);
  // ATA PASS-THROUGH (12): bytes 3..9 features, count, LBA low, mid, high, device, command.
  const Bytes registers = devtest::slice(scsi[0].input, 28 + 3, 7);
  EXPECT_EQ(registers, (Bytes{0xD4, 0x00, 0x02, 0x4F, 0xC2, 0xA0, 0xB0})) << devtest::hex(registers);
  EXPECT_EQ(rig.platform.drive(0).ata.units.at(0).selfTest.subcommand, 0x02);
}

// With no open handle the ATA path still names drive 0, never the record's number.
TEST(StartSelfTest, InvalidHandleSendsDriveNumberZero) {
  SmartRig rig({driveWith(sim::Transport::Ata, kHealthy, 3)});
  DriveRecord r = recordFor(kDriveClassAta, kBusSata, 0, 3);
  EXPECT_EQ(startSelfTest(rig.platform, INVALID_HANDLE_VALUE, r, false, kRaidMemberA, 0, 0x01), 0);
  const auto sent = rig.platform.ioctls(SMART_SEND_DRIVE_COMMAND);
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_GE(sent[0].input.size(), 13u);
  EXPECT_EQ(sent[0].input[12], 0);  // SENDCMDINPARAMS.bDriveNumber
}

TEST(StartSelfTest, OpenHandleSendsTheDriveNumber) {
  SmartRig rig({driveWith(sim::Transport::Ata, kHealthy, 3)});
  DriveRecord r = recordFor(kDriveClassAta, kBusSata, 0, 3);
  const Handle h = rig.open(3);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  rig.platform.clearLog();
  EXPECT_EQ(startSelfTest(rig.platform, h, r, false, kRaidMemberA, 0, 0x01), 1);
  const auto sent = rig.platform.ioctls(SMART_SEND_DRIVE_COMMAND);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].input[12], 3);
}

}  // namespace
}  // namespace palvoro
