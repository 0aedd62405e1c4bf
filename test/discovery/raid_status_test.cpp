#include "discovery/raid_status.h"

#include <gtest/gtest.h>

#include "support/case_name.h"

#include <cctype>
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

// What a RAID enclosure description says; every field has the value of a healthy box.
struct Enclosure {
  int number = 1;
  std::string serial = "NDK0001";          // INQUIRY bytes 40.. and VPD 80h of the status interface
  std::string statusPage = "82 00 00 04 00 00 00 00";
  bool statusInterface = true;
  std::string memberA = R"({"model": "VHT MEMBER", "serial": "MEMBER-A", "sectors": 1000000})";
  std::string memberB = R"({"model": "VHT MEMBER", "serial": "MEMBER-B", "sectors": 1000000})";
  std::string memberASmart = "{}";
  std::string memberBSmart = "{}";
};

std::string enclosureJson(const Enclosure& e) {
  return R"({"number": )" + std::to_string(e.number) + R"(, "transport": "raid", "identity": )" + e.memberA +
         R"(, "smart": )" + e.memberASmart + R"(, "memberB": {"identity": )" + e.memberB + R"(, "smart": )" +
         e.memberBSmart + R"(}, "inquiry": {"text": {"40": ")" + e.serial + R"("}}, "vpd": {"0x80": {"serial": ")" +
         e.serial + R"("}}, "diagnostic": {"0x82": {"hex": ")" + e.statusPage + R"("}}, "statusInterface": )" +
         (e.statusInterface ? "true" : "false") + "}";
}

// An ordinary SATA drive at 0 and the enclosures given.
sim::SimMachine machineOf(const std::vector<Enclosure>& enclosures) {
  std::string json =
      R"({"drives": [{"number": 0, "identity": {"model": "VHT SATA DISK", "serial": "WD-123", "sectors": 1000000}})";
  for (const Enclosure& e : enclosures) json += ", " + enclosureJson(e);
  json += "]}";
  return sim::loadMachine(json);
}

// An enclosure's record as detection leaves it before the status scan.
DriveRecord enclosureRecord(int number, const std::string& serial) {
  DriveRecord r = devtest::makeRecord(number);
  r.driveClass = kDriveClassRaid;
  r.busType = kBusUsb;
  r.ataTunnel = 2;
  std::strncpy(r.serialNumber, serial.c_str(), sizeof r.serialNumber - 1);
  return r;
}

DriveRecord sataRecord(const std::string& serial) {
  DriveRecord r = devtest::makeRecord(0);
  std::strncpy(r.serialNumber, serial.c_str(), sizeof r.serialNumber - 1);
  return r;
}

std::string pathOf(const DriveRecord& r) { return std::string(r.devicePath, strnlen(r.devicePath, 256)); }

// Opens drive N's status interface, as detection and the property page do.
Handle openStatus(sim::SimPlatform& p, int number) {
  return p.createFile(sim::SimMachine::statusInterfacePath(*p.machine().findDrive(number)),
                      GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
}

std::vector<Bytes> cdbsOf(const sim::SimPlatform& p, size_t length) {
  std::vector<Bytes> out;
  for (const sim::SimRequest& r : p.ioctls(IOCTL_SCSI_PASS_THROUGH)) out.push_back(devtest::slice(r.input, 28, length));
  return out;
}

// ---- names ----

struct NameCase {
  int32_t value;
  const char* name;
};

TEST(RaidNames, StatesByNumberAndUnknownOutsideTheTable) {
  const NameCase cases[] = {{0, "Healthy"},   {1, "Not Configured"}, {2, "Unknown Setting"},
                            {3, "Setting Mismatched"}, {4, "Bad"},   {5, "Degraded"},
                            {6, "Rebuilding"}, {7, "Rebuilding Failed"}, {8, "Unknown"},
                            {9, "Unknown"},   {15, "Unknown"},       {-1, "Unknown"},
                            {1 << 30, "Unknown"}};
  for (const NameCase& c : cases) EXPECT_STREQ(raidStateName(c.value), c.name) << c.value;
}

TEST(RaidNames, LevelsByNumberAndUnknownOutsideTheTable) {
  const NameCase cases[] = {{0, "Unknown"}, {1, "RAID 0"}, {2, "RAID 1"},
                            {3, "Unknown"}, {4, "Unknown"}, {-1, "Unknown"}, {65535, "Unknown"}};
  for (const NameCase& c : cases) EXPECT_STREQ(raidLevelName(c.value), c.name) << c.value;
}

// ---- readRaidStatus ----

struct StatusCase {
  const char* name;
  const char* page;  // as the enclosure answers; "" for no page 82h at all
  int result;
  int32_t state;
  uint16_t level;
  int32_t percent;
};

// Before each read the record holds state 5, level 2, 77 percent.
const StatusCase kStatusCases[] = {
    {"rebuilding RAID 0 at 42 percent", "82 00 00 04 06 2A 00 00", 1, 6, 1, 42},
    {"byte 4 = 41h: RAID 1, not configured", "82 00 00 04 41 00 00 00", 1, 1, 2, 0},
    {"healthy RAID 1", "82 00 00 04 40 00 00 00", 1, 0, 2, 0},
    {"bits 4 and 5 are not part of the state", "82 00 00 04 73 00 00 00", 1, 3, 2, 0},
    {"level code 3 and state 15 have no names", "82 00 00 04 CF 64 00 00", 1, 15, 4, 100},
    {"a page code other than 82h changes nothing", "83 00 00 04 41 00 00 00", 0, 5, 2, 77},
    {"a zero page changes nothing", "00 00 00 00 41 00 00 00", 0, 5, 2, 77},
    {"no status page changes nothing", "", 0, 5, 2, 77},
};

class ReadRaidStatus : public testing::TestWithParam<StatusCase> {};

TEST_P(ReadRaidStatus, FillsStateLevelAndProgressFromPage82h) {
  const StatusCase& c = GetParam();
  Enclosure e;
  e.statusPage = *c.page != '\0' ? c.page : "83";
  sim::SimMachine m = machineOf({e});
  if (*c.page == '\0') m.findDrive(1)->scsi.diagnostic.clear();
  sim::SimPlatform p(std::move(m));
  DriveRecord r = enclosureRecord(1, "NDK0001");
  r.raidState = 5;
  r.raidLevel = 2;
  r.raidRebuildPercent = 77;
  const Handle h = openStatus(p, 1);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(readRaidStatus(p, h, r), c.result);
  p.closeHandle(h);
  EXPECT_EQ(r.raidState, c.state);
  EXPECT_EQ(r.raidLevel, c.level);
  EXPECT_EQ(r.raidRebuildPercent, c.percent);
}

INSTANTIATE_TEST_SUITE_P(Pages, ReadRaidStatus, testing::ValuesIn(kStatusCases),
                         caseName<StatusCase>);

TEST(ReadRaidStatusRequest, AsksForPage82hWithEightBytes) {
  sim::SimPlatform p(machineOf({Enclosure{}}));
  DriveRecord r = enclosureRecord(1, "NDK0001");
  const Handle h = openStatus(p, 1);
  (void)readRaidStatus(p, h, r);
  p.closeHandle(h);
  const std::vector<Bytes> cdbs = cdbsOf(p, 6);
  ASSERT_EQ(cdbs.size(), 1u);
  // RECEIVE DIAGNOSTIC RESULTS, PCV set, page 82h, allocation length 8.
  EXPECT_EQ(devtest::hex(cdbs[0]), devtest::hex(Bytes{0x1C, 0x01, 0x82, 0x00, 0x08, 0x00}));
}

// ---- scanRaidInterfaces ----

TEST(ScanRaidInterfaces, MatchesTheInterfaceSerialIgnoringCaseAndReadsTheStatus) {
  Enclosure e;
  e.serial = "  ndk0001 ";  // the interface pads its serial and writes it in lower case
  e.statusPage = "82 00 00 04 46 11 00 00";
  sim::SimPlatform p(machineOf({e}));
  DriveTable t;
  t.records.resize(2);
  t.records[0] = sataRecord("WD-123");
  t.records[1] = enclosureRecord(1, "NDK0001");
  scanRaidInterfaces(p, t);
  EXPECT_EQ(pathOf(t.records[1]), "\\\\?\\usb#vid_2e0a&pid_5200#raid1#{57edcd85-0281-4893-a224-6719f892b1a4}");
  EXPECT_EQ(t.records[1].raidState, 6);
  EXPECT_EQ(t.records[1].raidLevel, 2);
  EXPECT_EQ(t.records[1].raidRebuildPercent, 0x11);
  EXPECT_EQ(pathOf(t.records[0]), "");
  EXPECT_EQ(t.records[0].raidLevel, 0);
  EXPECT_EQ(p.openHandleCount(), 0u);
}

TEST(ScanRaidInterfaces, AsksTheInterfaceForVpd80hWithTwentyBytes) {
  sim::SimPlatform p(machineOf({Enclosure{}}));
  DriveTable t;
  t.records.resize(1);
  t.records[0] = enclosureRecord(1, "NDK0001");
  scanRaidInterfaces(p, t);
  const std::vector<Bytes> cdbs = cdbsOf(p, 6);
  ASSERT_EQ(cdbs.size(), 2u);
  EXPECT_EQ(devtest::hex(cdbs[0]), devtest::hex(Bytes{0x12, 0x01, 0x80, 0x00, 0x14, 0x00}));
  EXPECT_EQ(cdbs[1][0], 0x1C);
  for (const sim::SimRequest& r : p.log()) {
    if (r.kind != sim::SimRequest::Kind::Open) continue;
    EXPECT_EQ(r.access, GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(r.shareMode, FILE_SHARE_READ | FILE_SHARE_WRITE);
  }
}

struct ScanCase {
  const char* name;
  std::vector<Enclosure> enclosures;
  std::vector<std::string> recordSerials;  // record i is drive i's (0 the SATA drive)
  std::vector<std::string> paths;          // expected devicePath of each record
};

const std::string kPath1 = "\\\\?\\usb#vid_2e0a&pid_5200#raid1#{57edcd85-0281-4893-a224-6719f892b1a4}";
const std::string kPath2 = "\\\\?\\usb#vid_2e0a&pid_5200#raid2#{57edcd85-0281-4893-a224-6719f892b1a4}";

Enclosure enclosureAt(int number, const std::string& serial, bool statusInterface = true) {
  Enclosure e;
  e.number = number;
  e.serial = serial;
  e.statusInterface = statusInterface;
  return e;
}

const ScanCase kScanCases[] = {
    {"nothing matches: every path stays empty", {enclosureAt(1, "NDK0001")}, {"WD-123", "OTHER"}, {"", ""}},
    {"no driver: no interface, no path", {enclosureAt(1, "NDK0001", false)}, {"WD-123", "NDK0001"}, {"", ""}},
    {"two enclosures each find their own record",
     {enclosureAt(1, "NDK0001"), enclosureAt(2, "NDK0002")},
     {"WD-123", "ndk0001", "NDK0002"},
     {"", kPath1, kPath2}},
    {"the first record of a serial in table order wins",
     {enclosureAt(1, "NDK0001")},
     {"WD-123", "NDK0001", "NDK0001"},
     {"", kPath1, ""}},
    {"a serial that only starts alike does not match", {enclosureAt(1, "NDK0001")}, {"WD-123", "NDK00012"}, {"", ""}},
    {"only the first 16 characters of a long serial are sent",
     {enclosureAt(1, "NDK0123456789ABCDEF")},
     {"WD-123", "NDK0123456789ABC"},
     {"", kPath1}},
};

class ScanRaidInterfacesCases : public testing::TestWithParam<ScanCase> {};

TEST_P(ScanRaidInterfacesCases, StoresThePathOfTheMatchingRecord) {
  const ScanCase& c = GetParam();
  sim::SimPlatform p(machineOf(c.enclosures));
  DriveTable t;
  t.records.resize(c.recordSerials.size());
  for (size_t i = 0; i < c.recordSerials.size(); ++i) {
    t.records[i] = i == 0 ? sataRecord(c.recordSerials[i]) : enclosureRecord(static_cast<int>(i), c.recordSerials[i]);
  }
  scanRaidInterfaces(p, t);
  for (size_t i = 0; i < c.paths.size(); ++i) EXPECT_EQ(pathOf(t.records[i]), c.paths[i]) << i;
  EXPECT_EQ(p.openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Tables, ScanRaidInterfacesCases, testing::ValuesIn(kScanCases),
                         caseName<ScanCase>);

TEST(ScanRaidInterfaces, AnInterfaceWithoutASerialMatchesNoBlankRecord) {
  // A drive without a serial number must not be taken for the enclosure.
  Enclosure e;
  e.serial = "    ";
  sim::SimPlatform p(machineOf({e}));
  DriveTable t;
  t.records.resize(2);
  t.records[0] = sataRecord("");
  t.records[1] = enclosureRecord(1, "");
  scanRaidInterfaces(p, t);
  EXPECT_EQ(pathOf(t.records[0]), "");
  EXPECT_EQ(pathOf(t.records[1]), "");
  EXPECT_EQ(t.records[0].raidLevel, 0);
}

TEST(ScanRaidInterfaces, ASerialPageWithAnotherPageCodeIsNotRead) {
  sim::SimMachine m = machineOf({Enclosure{}});
  // Byte 1 says 81h, the text would match.
  m.findDrive(1)->scsi.vpd[0x80] = {0x00, 0x81, 0x00, 0x07, 'N', 'D', 'K', '0', '0', '0', '1'};
  sim::SimPlatform p(std::move(m));
  DriveTable t;
  t.records.resize(1);
  t.records[0] = enclosureRecord(1, "NDK0001");
  scanRaidInterfaces(p, t);
  EXPECT_EQ(pathOf(t.records[0]), "");
}

TEST(ScanRaidInterfaces, AnInterfaceThatDoesNotOpenIsPassedOver) {
  sim::SimPlatform p(machineOf({enclosureAt(1, "NDK0001"), enclosureAt(2, "NDK0002")}));
  // Another program holds enclosure 1 open without sharing.
  const Handle held = p.createFile(physicalDrivePath(1), GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  DriveTable t;
  t.records.resize(2);
  t.records[0] = enclosureRecord(1, "NDK0001");
  t.records[1] = enclosureRecord(2, "NDK0002");
  scanRaidInterfaces(p, t);
  EXPECT_EQ(pathOf(t.records[0]), "");
  EXPECT_EQ(pathOf(t.records[1]), kPath2);
  p.closeHandle(held);
  EXPECT_EQ(p.openHandleCount(), 0u);
}

// ---- readMemberSmart ----

TEST(MemberResultBlock, TheKeyOrTheExceededAnswerWithoutErrIsTheMembersVerdict) {
  struct Case {
    const char* name;
    std::vector<uint8_t> head;  // bytes 0..6: error, count, LBA low, mid, high, device, status
    SmartStatus status;
  };
  const Case cases[] = {
      {"key returned, status 50h", {0x00, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0x50}, kSmartStatusHealthy},
      {"key returned with count 1 (member B)", {0x00, 0x01, 0x00, 0x4F, 0xC2, 0xA0, 0x50}, kSmartStatusHealthy},
      {"threshold exceeded: F4h 2Ch", {0x00, 0x00, 0x00, 0xF4, 0x2C, 0xA0, 0x50}, kSmartStatusExceeded},
      {"aborted: ERR with the key still in place", {0x04, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0x51}, kSmartStatusNone},
      {"aborted: ERR with F4h 2Ch", {0x04, 0x00, 0x00, 0xF4, 0x2C, 0xA0, 0x51}, kSmartStatusNone},
      {"4Fh in byte 1 and C2h in byte 3 is not the key", {0x00, 0x4F, 0x00, 0xC2, 0x00, 0xA0, 0x50}, kSmartStatusNone},
      {"an empty block", {0, 0, 0, 0, 0, 0, 0}, kSmartStatusNone},
  };
  for (const Case& c : cases) {
    uint8_t block[512] = {};
    std::memcpy(block, c.head.data(), c.head.size());
    EXPECT_EQ(memberResultStatus(block), c.status) << c.name;
  }
}

struct MemberCase {
  const char* name;
  std::string smartA;
  std::string smartB;
  bool failCommandToA;
  int32_t available;
  int32_t healthyA;
  int32_t healthyB;
};

// Before each read the record says available, both healthy: 1, 1, 1.
const MemberCase kMemberCases[] = {
    {"both healthy", "{}", "{}", false, 1, 1, 1},
    {"member B exceeded", "{}", R"({"reportExceeded": true})", false, 1, 1, 0},
    {"member A exceeded", R"({"reportExceeded": true})", "{}", false, 1, 0, 1},
    {"both exceeded", R"({"reportExceeded": true})", R"({"reportExceeded": true})", false, 1, 0, 0},
    {"member B refuses the command: only its verdict is 0", "{}", R"({"enabled": false})", false, 1, 1, 0},
    {"a failed command to drive A: not available, verdicts untouched", "{}", "{}", true, 0, 1, 1},
    {"member A refuses the command: not available", R"({"enabled": false})", "{}", false, 0, 1, 1},
};

class ReadMemberSmart : public testing::TestWithParam<MemberCase> {};

TEST_P(ReadMemberSmart, SetsBothVerdictsFromTheResultBlocks) {
  const MemberCase& c = GetParam();
  Enclosure e;
  e.memberASmart = c.smartA;
  e.memberBSmart = c.smartB;
  sim::SimPlatform p(machineOf({e}));
  if (c.failCommandToA) {
    sim::SimFault f;
    f.kind = sim::SimFault::Kind::AtaError;
    f.drive = 1;
    f.ioctl = IOCTL_SCSI_PASS_THROUGH;
    f.remaining = 1;
    p.injectFault(f);
  }
  DriveRecord r = enclosureRecord(1, "NDK0001");
  r.smartAvailable = 1;
  r.smartHealthy = 1;
  r.raidMemberBHealthy = 1;
  const Handle h = p.createFile(physicalDrivePath(1), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  readMemberSmart(p, h, r);
  p.closeHandle(h);
  EXPECT_EQ(r.smartAvailable, c.available);
  EXPECT_EQ(r.smartHealthy, c.healthyA);
  EXPECT_EQ(r.raidMemberBHealthy, c.healthyB);
}

INSTANTIATE_TEST_SUITE_P(Members, ReadMemberSmart, testing::ValuesIn(kMemberCases),
                         caseName<MemberCase>);

TEST(ReadMemberSmartRequests, ReturnStatusThenResultBlockForEachMember) {
  sim::SimPlatform p(machineOf({Enclosure{}}));
  DriveRecord r = enclosureRecord(1, "NDK0001");
  const Handle h = p.createFile(physicalDrivePath(1), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  readMemberSmart(p, h, r);
  p.closeHandle(h);
  // ATA PASS-THROUGH (12): non-data SMART RETURN STATUS (features DAh, LBA mid/high
  // 4Fh/C2h, command B0h) to device A0h, count 0; then protocol 15 with T_DIR, BYT_BLOK and
  // T_LENGTH 2 for member A's registers; the same for device B0h with count 1.
  const std::vector<Bytes> expected = {
      {0xA1, 0x06, 0x00, 0xDA, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0, 0x00, 0x00},
      {0xA1, 0x1E, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0x00, 0x00, 0x00},
      {0xA1, 0x06, 0x00, 0xDA, 0x01, 0x00, 0x4F, 0xC2, 0xB0, 0xB0, 0x00, 0x00},
      {0xA1, 0x1E, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xB0, 0x00, 0x00, 0x00},
  };
  const std::vector<Bytes> cdbs = cdbsOf(p, 12);
  ASSERT_EQ(cdbs.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(devtest::hex(cdbs[i]), devtest::hex(expected[i])) << i;
}

TEST(ReadMemberSmartRequests, AFailedCommandToDriveASendsNothingMore) {
  sim::SimPlatform p(machineOf({Enclosure{}}));
  sim::SimFault f;
  f.kind = sim::SimFault::Kind::FailRequest;
  f.drive = 1;
  f.ioctl = IOCTL_SCSI_PASS_THROUGH;
  f.remaining = 1;
  p.injectFault(f);
  DriveRecord r = enclosureRecord(1, "NDK0001");
  const Handle h = p.createFile(physicalDrivePath(1), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  r.smartAvailable = 1;
  readMemberSmart(p, h, r);
  p.closeHandle(h);
  EXPECT_EQ(r.smartAvailable, 0);
  EXPECT_EQ(p.ioctls(IOCTL_SCSI_PASS_THROUGH).size(), 1u);
}

}  // namespace
}  // namespace palvoro
