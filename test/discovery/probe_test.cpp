// The probe and the detection run over small simulated machines, one per branch: each
// case checks every field its branch writes, and rejected or skipped devices leave no
// trace in the table.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "discovery/compliance_table.h"
#include "discovery/detection.h"
#include "discovery/idema_capacity.h"
#include "discovery/probe.h"
#include "platform/ioctl_codes.h"
#include "platform/sim/sim_platform.h"
#include "smart/smart_pages.h"

namespace palvoro {
namespace {

class SilentPrompter : public Prompter {
 public:
  PromptAnswer ask(const std::string& text, const std::string&, PromptIcon, PromptButtons, PromptAnswer,
                   PromptPurpose) override {
    texts.push_back(text);
    return PromptAnswer::Ok;
  }
  std::vector<std::string> texts;
};

struct Detected {
  DriveTable table{};
  int lastAccepted = 0;
  std::vector<std::string> messages;
};

Detected detect(const std::string& json, bool miniport = false,
                SmartAttributeJudge judge = &judgeSmartAttributes) {
  sim::SimPlatform platform(sim::loadMachine(json));
  SilentPrompter prompter;
  ProbeEnvironment env{platform, prompter, miniport, nullptr, 0xA0, judge};
  Detected d;
  d.lastAccepted = detectDrives(env, d.table);
  d.messages = prompter.texts;
  EXPECT_EQ(platform.openHandleCount(), 0u) << "detection leaves no handle open";
  return d;
}

// What one accepted drive must look like.
struct Expected {
  int driveClass;
  int busType;
  int ataTunnel;
  const char* model;
  const char* serial;
  const char* firmware;
  uint64_t totalSectors;
  uint64_t identifiedSectors;
  uint64_t hiddenSectors;
  int sectorSize;
  int smartAvailable;
  int smartHealthy;
  int originMark;
  int isMakerSsd;
};

struct BranchCase {
  const char* name;
  const char* drive;  // one drive description, number 0
  Expected expected;
};

const BranchCase kBranches[] = {
    {"MakerSataDrive",
     R"({"number": 0, "identity": {"model": "VHT VH7SAB200", "serial": "VH7K0042", "firmware": "A5C0",
         "sectors": 3907029168, "wwn": "0x5000CCA012345678", "word133": "0x0400"}})",
     {1, 83, 0, "VHT VH7SAB200", "VH7K0042", "A5C0", 3907029168ull, 3907029168ull, (3907029168ull - 97696368ull) % 1953504ull,
      512, 1, 1, 3, 0}},
    {"OtherMakersSataDrive",
     R"({"number": 0, "identity": {"model": "Kestrel KS500", "serial": "K1", "firmware": "R1", "sectors": 500118192,
         "rotationRate": 1, "wwn": "0x5001B44012345678"}})",
     {1, 11, 0, "Kestrel KS500", "K1", "R1", 500118192ull, 500118192ull, (500118192ull - 97696368ull) % 1953504ull, 512, 1,
      1, 0, 0}},
    {"MakersSolidStateDrive",
     R"({"number": 0, "identity": {"model": "VHT VHS256G", "serial": "S1", "firmware": "F1", "sectors": 500118192,
         "rotationRate": 1}})",
     {1, 11, 0, "VHT VHS256G", "S1", "F1", 500118192ull, 500118192ull, (500118192ull - 97696368ull) % 1953504ull, 512, 1,
      1, 0, 1}},
    {"SmallDriveHasNoHiddenSectors",
     R"({"number": 0, "identity": {"model": "OLD40", "serial": "O1", "firmware": "F", "sectors": 78165360}})",
     {1, 11, 0, "OLD40", "O1", "F", 78165360ull, 78165360ull, 0, 512, 1, 1, 0, 0}},
    {"ThresholdExceeded",
     R"({"number": 0, "identity": {"model": "SICK", "serial": "X", "firmware": "F", "sectors": 1000},
         "smart": {"reportExceeded": true}})",
     {1, 11, 0, "SICK", "X", "F", 1000, 1000, 0, 512, 1, 0, 0, 0}},
    {"NoSmartFeatureSet",
     R"({"number": 0, "identity": {"model": "PLAIN", "serial": "P", "firmware": "F", "sectors": 1000, "smart": false}})",
     {1, 11, 0, "PLAIN", "P", "F", 1000, 1000, 0, 512, 0, 0, 0, 0}},
    // Only the pass-through's answer can fail it: its attributes pass.
    {"StatusFallsBackToPassThrough",
     R"({"number": 0, "identity": {"model": "QUIRKY", "serial": "Q", "firmware": "F", "sectors": 1000},
         "smartDriver": {"failsReturnStatus": true},
         "smart": {"reportExceeded": true,
                   "attributes": [{"id": 5, "flags": 51, "value": 100, "worst": 46, "threshold": 45}]}})",
     {1, 11, 0, "QUIRKY", "Q", "F", 1000, 1000, 0, 512, 1, 0, 0, 0}},
    {"OtherUsbBridge",
     R"({"number": 0, "transport": "usb-sat", "identity": {"model": "INNER DRIVE", "serial": "IN1", "firmware": "I1",
         "sectors": 1953525168}})",
     {2, 7, 2, "INNER DRIVE", "IN1", "I1", 1953525168ull, 1953525168ull, 0, 512, 1, 1, 0, 0}},
    {"HpBridgeWithVendorBlock",
     R"({"number": 0, "transport": "usb-atacb", "identity": {"model": "INNER", "serial": "IN2", "firmware": "I2",
         "sectors": 976773168},
         "inquiry": {"vendor": "HP", "product": "Portable Drive", "revision": "0107", "text": {"40": "HPSERIAL0001    "}}})",
     {2, 7, 1, "HP Portable Drive", "HPSERIAL0001", "0107", 976773168ull, 976773168ull, 0, 512, 1, 1, 0, 0}},
    {"MakersFireWireEnclosure",
     R"({"number": 0, "transport": "firewire", "identity": {"model": "VHT VH7K", "serial": "FW1", "firmware": "F",
         "sectors": 1953525168},
         "inquiry": {"vendor": "VH", "product": "External FW", "revision": "0200", "text": {"40": "FWSERIAL"}},
         "vpd": {"0xC3": {"hex": "00 C3 00 5C 00 00 00 00 00 00 25 F3"}}})",
     {3, 4, 2, "VH External FW", "FWSERIAL", "0200", 1953525168ull, 1953525168ull, 0, 512, 1, 1, 2, 0}},
    {"PlainScsiAboveTwoTerabytes",
     R"({"number": 0, "transport": "scsi", "identity": {"sectors": 11721045168},
         "inquiry": {"vendor": "SEAGATE", "product": "ST6000NM0034", "revision": "E005", "text": {"36": "Z4D0A1B2"}}})",
     {4, 1, 0, "SEAGATE ST6000NM0034", "Z4D0A1B2", "E005", 11721045168ull, 11721045168ull, 0, 512, 0, 0, 0, 0}},
    {"MakersUsbEnclosureWithoutAtaCarrier",
     R"({"number": 0, "transport": "scsi", "busType": 7, "identity": {"sectors": 1000000},
         "inquiry": {"vendor": "Generic", "product": "USB", "text": {"36": "0314", "40": "  ENCSERIAL12  ", "58": " VH Book 1TB  "}}})",
     {2, 7, 0, "VH Book 1TB", "ENCSERIAL12", "0314", 1000000, 1000000, 0, 512, 0, 0, 0, 0}},
    {"NvmeDriveWithFourKilobyteBlocks",
     R"({"number": 0, "transport": "nvme", "identity": {"model": "Sabik NV2 1TB  ", "serial": "SBK0001",
         "firmware": "3B2QGXA7", "sectors": 244190646}, "sectorSize": 4096})",
     {7, 17, 0, "Sabik NV2 1TB", "SBK0001", "3B2QGXA7", 244190646ull, 244190646ull, 0, 4096, 1, 1, 0, 0}},
    {"NvmeDriveWithCriticalWarning",
     R"({"number": 0, "transport": "nvme", "identity": {"model": "Sabik NV1", "serial": "S2", "firmware": "F",
         "sectors": 1000000}, "nvme": {"health": {"criticalWarning": 2}}})",
     {7, 17, 0, "Sabik NV1", "S2", "F", 1000000, 1000000, 0, 512, 1, 0, 0, 0}},
};

class ProbeBranch : public ::testing::TestWithParam<BranchCase> {};

TEST_P(ProbeBranch, FillsEveryFieldItsBranchWrites) {
  const BranchCase& c = GetParam();
  const Detected d = detect(std::string(R"({"drives": [)") + c.drive + "]}");
  ASSERT_EQ(d.table.driveCount(), 1);
  const DriveRecord& r = d.table.records[0];
  const Expected& e = c.expected;
  EXPECT_EQ(r.physicalDriveNumber, 0);
  EXPECT_EQ(r.driveClass, e.driveClass);
  EXPECT_EQ(r.busType, e.busType);
  EXPECT_EQ(r.ataTunnel, e.ataTunnel);
  EXPECT_STREQ(r.model, e.model);
  EXPECT_STREQ(r.serialNumber, e.serial);
  EXPECT_STREQ(r.firmwareRevision, e.firmware);
  EXPECT_EQ(r.totalSectors, e.totalSectors);
  EXPECT_EQ(r.identifiedSectors, e.identifiedSectors);
  EXPECT_EQ(r.hiddenSectors, e.hiddenSectors);
  EXPECT_EQ(r.sectorSize, e.sectorSize);
  EXPECT_EQ(r.smartAvailable, e.smartAvailable);
  EXPECT_EQ(r.smartHealthy, e.smartHealthy);
  EXPECT_EQ(r.originMark, e.originMark);
  EXPECT_EQ(r.isMakerSsd, e.isMakerSsd);
  EXPECT_EQ(r.primaryUnit, 0);
  EXPECT_EQ(r.secondaryUnit, 0);
  EXPECT_TRUE(d.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Branches, ProbeBranch, ::testing::ValuesIn(kBranches),
                         [](const ::testing::TestParamInfo<BranchCase>& param) { return std::string(param.param.name); });

// An NVMe controller whose pages do not all arrive: without Identify Controller the disk is
// taken from the driver's SCSI translation; without Identify Namespace its capacity comes
// from READ CAPACITY; without the health log it has no SMART verdict.
TEST(Probe, NvmeDriveWhosePagesDoNotArrive) {
  const std::string json = R"({"drives": [{"number": 0, "transport": "nvme",
      "identity": {"model": "Sabik NV2", "serial": "SBK9", "firmware": "2.1", "sectors": 3000000}}]})";
  const struct {
    const char* name;
    uint32_t property, dataType, value;
    int driveClass;
    const char* model;
    int smartAvailable;
  } cases[] = {
      {"identify controller", 49, 1, 1, kDriveClassOther, "NVMe Sabik NV2", 0},
      {"identify namespace", 50, 1, 0, kDriveClassNvme, "Sabik NV2", 1},
      {"health log", 49, 2, 2, kDriveClassNvme, "Sabik NV2", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimPlatform platform(sim::loadMachine(json));
    sim::SimFault fault;
    fault.ioctl = IOCTL_STORAGE_QUERY_PROPERTY;
    fault.property = c.property;
    fault.nvmeDataType = c.dataType;
    fault.nvmeValue = c.value;
    platform.injectFault(fault);
    SilentPrompter prompter;
    ProbeEnvironment env{platform, prompter, false, nullptr, 0xA0, &judgeSmartAttributes};
    DriveTable table{};
    detectDrives(env, table);
    ASSERT_EQ(table.driveCount(), 1);
    const DriveRecord& r = table.records[0];
    EXPECT_EQ(r.driveClass, c.driveClass);
    EXPECT_EQ(r.busType, kBusNvme);
    EXPECT_STREQ(r.model, c.model);
    EXPECT_EQ(r.totalSectors, 3000000u);
    EXPECT_EQ(r.sectorSize, 512);
    EXPECT_EQ(r.smartAvailable, c.smartAvailable);
    EXPECT_TRUE(prompter.texts.empty());
  }
}

// A drive that does not answer IDENTIFY for unit 2 keeps the IDEMA excess, which the tests
// take for a second unit: the 10 TB drive's, in its own sectors, whichever their size.
TEST(Probe, TheExcessLeftByAFailedUnit2IdentifyIsInTheDrivesOwnSectors) {
  const struct {
    const char* name;
    const char* identity;
    uint64_t sectors;
    int sectorSize;
    uint64_t hidden;
  } cases[] = {
      {"FourKn", R"("sectors": 2441609216, "word106": "0x5000", "logicalSectorWords": 2048)", 2'441'609'216, 4096,
       214'946},
      {"FiveTwelveE", R"("sectors": 19532873728, "word106": "0x6003")", 19'532'873'728, 512, 1'719'568},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimPlatform platform(sim::loadMachine(
        std::string(R"({"drives": [{"number": 0, "identity": {"model": "Kestrel KH10T", "serial": "KH1", )") +
        R"("firmware": "F1", )" + c.identity + "}}]}"));
    sim::SimFault fault;
    fault.ioctl = IOCTL_ATA_PASS_THROUGH;
    fault.command = 0xEC;
    platform.injectFault(fault);
    SilentPrompter prompter;
    ProbeEnvironment env{platform, prompter, false, nullptr, 0xA0, &judgeSmartAttributes};
    DriveTable table{};
    detectDrives(env, table);
    ASSERT_EQ(table.driveCount(), 1);
    EXPECT_EQ(table.records[0].totalSectors, c.sectors);
    EXPECT_EQ(table.records[0].sectorSize, c.sectorSize);
    EXPECT_EQ(table.records[0].hiddenSectors, c.hidden);
  }
}

TEST(Probe, RaidEnclosureTakesItsIdentityFromTheEnclosure) {
  const Detected d = detect(R"({"drives": [{"number": 0, "transport": "raid",
      "identity": {"model": "VHT VH7K2", "serial": "MEMBERA01", "firmware": "A1", "sectors": 3907029168},
      "memberB": {"identity": {"model": "VHT VH7K2", "serial": "MEMBERB02", "firmware": "A1", "sectors": 3907029168}},
      "inquiry": {"vendor": "VH", "product": "Nodrik Duo", "revision": "0210", "text": {"40": "ENCLOSURE0001"}},
      "diagnostic": {"0x82": {"hex": "82 00 00 04 40 00 00 00"}}}]})");
  ASSERT_EQ(d.table.driveCount(), 1);
  const DriveRecord& r = d.table.records[0];
  EXPECT_EQ(r.driveClass, 6);
  EXPECT_EQ(r.busType, 7);
  EXPECT_EQ(r.ataTunnel, 2);
  EXPECT_STREQ(r.model, "VH Nodrik Duo");
  EXPECT_STREQ(r.serialNumber, "ENCLOSURE0001");
  EXPECT_STREQ(r.firmwareRevision, "0210");
  EXPECT_STREQ(r.memberSerialA, "MEMBERA01");
  EXPECT_STREQ(r.memberSerialB, "MEMBERB02");
  EXPECT_EQ(r.totalSectors, 3907029168ull);
}

// Texts an enclosure and its members report with control characters and bytes outside
// ASCII: each such byte is stored as '?', in place; the blanks around a text still go.
TEST(Probe, EnclosureTextsKeepOnlyPrintableAscii) {
  const Detected d = detect(R"({"drives": [{"number": 0, "transport": "raid",
      "identity": {"model": "VHT VH7K2", "serial": "MEMBERA01", "firmware": "A1", "sectors": 3907029168},
      "memberB": {"identity": {"model": "VHT VH7K2", "serial": "MEMBERB02", "firmware": "A1", "sectors": 3907029168}},
      "inquiry": {"vendor": "VH", "product": "Duo\u001b[2J<b>", "revision": "02\u0007\r",
                  "text": {"40": "ENC\u001b]0;x\u0007"}},
      "vpd": {"0x01": {"hex": "00 01 00 10 00 20 4D 1B FF 07 C3 41 0D 20 20"},
              "0x02": {"hex": "00 02 00 10 00 42 7F 80 9B 00 58"}},
      "diagnostic": {"0x82": {"hex": "82 00 00 04 40 00 00 00"}}}]})");
  ASSERT_EQ(d.table.driveCount(), 1);
  const DriveRecord& r = d.table.records[0];
  EXPECT_STREQ(r.model, "VH Duo?[2J<b>");
  EXPECT_STREQ(r.serialNumber, "ENC?]0;x?");
  EXPECT_STREQ(r.firmwareRevision, "02?");
  EXPECT_STREQ(r.memberSerialA, " M????A?  ");
  EXPECT_STREQ(r.memberSerialB, "B???");
}

// A device that fails READ CAPACITY is still listed, with the message, one sector and
// 512-byte sectors: never a sector size of 0 that would show a zero capacity and make
// every later transfer move nothing.
TEST(Probe, FailedReadCapacityLeavesOneSectorOf512Bytes) {
  const struct {
    const char* name;
    const char* drive;
  } cases[] = {
      {"PlainScsi", R"({"number": 0, "transport": "scsi", "identity": {"sectors": 1000000},
          "readCapacityFails": true,
          "inquiry": {"vendor": "SEAGATE", "product": "ST1000", "revision": "E005", "text": {"36": "Z4D0"}}})"},
      {"RaidEnclosure", R"({"number": 0, "transport": "raid", "readCapacityFails": true,
          "identity": {"model": "VHT VH7K2", "serial": "MEMBERA01", "firmware": "A1", "sectors": 3907029168},
          "memberB": {"identity": {"model": "VHT VH7K2", "serial": "MEMBERB02", "firmware": "A1", "sectors": 3907029168}},
          "inquiry": {"vendor": "VH", "product": "Nodrik Duo", "revision": "0210", "text": {"40": "ENCLOSURE0001"}},
          "diagnostic": {"0x82": {"hex": "82 00 00 04 40 00 00 00"}}})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Detected d = detect(std::string(R"({"drives": [)") + c.drive + "]}");
    ASSERT_EQ(d.table.driveCount(), 1);
    EXPECT_EQ(d.messages, std::vector<std::string>{"ReadCapacity failed!"});
    EXPECT_EQ(d.table.records[0].sectorSize, 512);
    EXPECT_EQ(d.table.records[0].totalSectors, 1u);
  }
}

// A bridge answers SMART only through the attribute check; a detection handed none
// cannot judge the drive, and never calls it healthy.
TEST(Probe, WithoutAnAttributeCheckABridgedDriveIsNotJudgedHealthy) {
  const char* bridge = R"({"drives": [{"number": 0, "transport": "usb-sat",
      "identity": {"model": "INNER DRIVE", "serial": "IN1", "firmware": "I1", "sectors": 1953525168}}]})";
  const Detected judged = detect(bridge);
  const Detected unjudged = detect(bridge, false, nullptr);
  ASSERT_EQ(judged.table.driveCount(), 1);
  ASSERT_EQ(unjudged.table.driveCount(), 1);
  EXPECT_EQ(judged.table.records[0].smartHealthy, 1);
  EXPECT_EQ(unjudged.table.records[0].smartAvailable, 1);
  EXPECT_EQ(unjudged.table.records[0].smartHealthy, 0);
}

struct RefusedCase {
  const char* name;
  const char* drive;
};

const RefusedCase kRefused[] = {
    {"OpticalDrive", R"({"number": 0, "transport": "optical", "identity": {"sectors": 1}})"},
    {"AtaBridgeSignature", R"({"number": 0, "identity": {"sectors": 1000, "model": "BR"}, "bridgeSignature": true})"},
    {"SatBridgeSignature",
     R"({"number": 0, "transport": "usb-sat", "identity": {"sectors": 1000, "model": "BR"}, "bridgeSignature": true})"},
    {"VirtualDisk", R"({"number": 0, "identity": {"sectors": 1000, "model": "VIRT"}, "virtual": true})"},
};

TEST(Probe, RejectedAndSkippedDevicesLeaveNoTrace) {
  for (const RefusedCase& c : kRefused) {
    SCOPED_TRACE(c.name);
    const Detected d = detect(std::string(R"({"drives": [)") + c.drive +
                              R"(, {"number": 1, "identity": {"sectors": 2000, "model": "NEXT", "serial": "N"}}]})");
    ASSERT_EQ(d.table.driveCount(), 1);
    EXPECT_EQ(d.table.records[0].physicalDriveNumber, 1);
    EXPECT_STREQ(d.table.records[0].model, "NEXT");
  }
}

// What each machine's drive numbers give: every number the machine has is probed, in
// ascending order, however many and however sparse; virtual disks are skipped wherever
// they sit.
TEST(Detection, EveryDriveNumberTheMachineHasIsListedInOrder) {
  struct Case {
    const char* name;
    std::vector<int> numbers;
    std::vector<int> virtualDisks;
    std::vector<int> listed;
  };
  std::vector<int> forty(40);
  for (int n = 0; n < 40; ++n) forty[n] = 39 - n;  // described in reverse
  std::vector<int> fortyListed(forty.rbegin(), forty.rend());
  const Case cases[] = {
      {"GapsLeaveNoGapInTheTable", {0, 3}, {}, {0, 3}},
      {"MoreDrivesThanAnyFixedTable", forty, {}, fortyListed},
      {"SparseAndLargeNumbers", {255, 40, 3, 0}, {}, {0, 3, 40, 255}},
      {"VirtualDisksAboveAndBelow32", {1, 2, 33, 40}, {2, 40}, {1, 33}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string json = R"({"drives": [)";
    for (const int n : c.numbers) {
      const bool isVirtual = std::find(c.virtualDisks.begin(), c.virtualDisks.end(), n) != c.virtualDisks.end();
      json += (n == c.numbers.front() ? "" : ",") + std::string(R"({"number": )") + std::to_string(n) +
              R"(, "identity": {"sectors": 1000, "model": "D)" + std::to_string(n) + R"(", "serial": "S)" +
              std::to_string(n) + "\"}" + (isVirtual ? R"(, "virtual": true)" : "") + "}";
    }
    const Detected d = detect(json + "]}");
    std::vector<int> listed;
    for (const DriveRecord& r : d.table.records) {
      listed.push_back(r.physicalDriveNumber);
      EXPECT_EQ(std::string(r.model), "D" + std::to_string(r.physicalDriveNumber));
    }
    EXPECT_EQ(listed, c.listed);
    EXPECT_EQ(d.lastAccepted, 1);
  }
}

TEST(Detection, ARescanStartsFromNothing) {
  sim::SimPlatform platform(sim::loadMachine(R"({"drives": [
      {"number": 0, "identity": {"sectors": 1000, "model": "ZERO"}},
      {"number": 1, "identity": {"sectors": 1000, "model": "ONE", "serial": "S1"}}]})"));
  SilentPrompter prompter;
  ProbeEnvironment env{platform, prompter, false, nullptr, 0xA0, &judgeSmartAttributes};
  DriveTable table{};
  detectDrives(env, table);
  ASSERT_EQ(table.driveCount(), 2);
  table.records[1].volumeCount = 5;
  platform.drive(0).present = false;
  detectDrives(env, table);
  ASSERT_EQ(table.driveCount(), 1);
  EXPECT_STREQ(table.records[0].model, "ONE");
  EXPECT_EQ(table.records[0].volumeCount, 0);
}

TEST(Detection, EnclosureStatusIsReadEvenWhenAnOrdinaryDriveComesLast) {
  const Detected d = detect(R"({"drives": [
      {"number": 0, "transport": "raid", "identity": {"sectors": 1000, "serial": "RSN"},
       "inquiry": {"vendor": "VH", "product": "Duo", "text": {"40": "ENC42"}},
       "vpd": {"0x80": {"serial": "ENC42"}},
       "diagnostic": {"0x82": {"hex": "82 00 00 04 46 2A 00 00"}}},
      {"number": 31, "identity": {"sectors": 1000, "model": "LAST"}}]})");
  ASSERT_EQ(d.table.driveCount(), 2);
  EXPECT_EQ(d.lastAccepted, 1);
  const DriveRecord& raid = d.table.records[0];
  EXPECT_NE(std::string(raid.devicePath), "");
  EXPECT_EQ(raid.raidState, 6);
  EXPECT_EQ(raid.raidRebuildPercent, 42);
  EXPECT_EQ(raid.raidLevel, 2);
}

TEST(Detection, WithoutRightsTheMiniportPathFindsTheAtaDrives) {
  const Detected d = detect(R"({"administrator": false, "drives": [
      {"number": 0, "identity": {"sectors": 1000, "model": "PORT ZERO", "serial": "Z"}}]})",
                            true);
  // Every even pair of drive numbers opens the same port and reaches the same target:
  // the drive is listed once.
  ASSERT_EQ(d.table.driveCount(), 1);
  EXPECT_STREQ(d.table.records[0].model, "PORT ZERO");
  EXPECT_EQ(d.table.records[0].driveClass, 1);
}


TEST(Detection, AdministratorCheckFollowsTheToken) {
  sim::SimPlatform admin(sim::loadMachine(R"({"administrator": true})"));
  sim::SimPlatform user(sim::loadMachine(R"({"administrator": false})"));
  EXPECT_EQ(checkAdministrator(admin), 1);
  EXPECT_EQ(checkAdministrator(user), 0);
}

// The verdict at detection from the drive's own SMART RETURN STATUS and its attributes:
// a status of threshold exceeded fails whatever the attributes show, an attribute at its
// threshold fails a drive that calls itself healthy, and a drive without a status passes
// only on attributes that were read and passed.
enum class StatusAnswer { Healthy, Exceeded, None };
enum class Attributes { Pass, AtThreshold, Unreadable };

struct VerdictCase {
  const char* name;
  StatusAnswer status;
  Attributes attributes;
  int32_t healthy;
  uint8_t smartStatus;
};

const VerdictCase kVerdicts[] = {
    {"HealthyPassing", StatusAnswer::Healthy, Attributes::Pass, 1, kSmartStatusHealthy},
    {"HealthyWithAttributeAtThreshold", StatusAnswer::Healthy, Attributes::AtThreshold, 0, kSmartStatusHealthy},
    {"HealthyUnreadableAttributes", StatusAnswer::Healthy, Attributes::Unreadable, 1, kSmartStatusHealthy},
    {"ExceededPassingAttributes", StatusAnswer::Exceeded, Attributes::Pass, 0, kSmartStatusExceeded},
    {"ExceededWithAttributeAtThreshold", StatusAnswer::Exceeded, Attributes::AtThreshold, 0, kSmartStatusExceeded},
    {"ExceededUnreadableAttributes", StatusAnswer::Exceeded, Attributes::Unreadable, 0, kSmartStatusExceeded},
    {"NoStatusPassingAttributes", StatusAnswer::None, Attributes::Pass, 1, kSmartStatusNone},
    {"NoStatusAttributeAtThreshold", StatusAnswer::None, Attributes::AtThreshold, 0, kSmartStatusNone},
    {"NoStatusUnreadableAttributes", StatusAnswer::None, Attributes::Unreadable, 0, kSmartStatusNone},
};

class DetectionVerdict : public testing::TestWithParam<VerdictCase> {};

TEST_P(DetectionVerdict, DecidesFromTheStatusAndTheAttributes) {
  const VerdictCase& c = GetParam();
  const std::string worst = c.attributes == Attributes::AtThreshold ? "45" : "46";
  const std::string exceeded = c.status == StatusAnswer::Exceeded ? "true" : "false";
  sim::SimPlatform platform(sim::loadMachine(R"({"drives": [
      {"number": 0, "identity": {"sectors": 1000, "model": "Q"}, "smartDriver": {"failsReturnStatus": true},
       "smart": {"reportExceeded": )" + exceeded + R"(, "attributes": [{"id": 5, "flags": 51, "value": 100,
       "worst": )" + worst + R"(, "threshold": 45}]}}]})"));
  if (c.status == StatusAnswer::None) {
    sim::SimFault noPassThroughStatus;
    noPassThroughStatus.kind = sim::SimFault::Kind::FailRequest;
    noPassThroughStatus.ioctl = 0x0004D02C;
    noPassThroughStatus.command = 0xB0;
    noPassThroughStatus.features = 0xDA;
    platform.injectFault(noPassThroughStatus);
  }
  if (c.attributes == Attributes::Unreadable) {
    sim::SimFault noData;
    noData.command = 0xB0;
    noData.features = 0xD0;
    platform.injectFault(noData);
  }
  SilentPrompter prompter;
  ProbeEnvironment env{platform, prompter, false, nullptr, 0xA0, &judgeSmartAttributes};
  DriveTable table{};
  detectDrives(env, table);
  ASSERT_EQ(table.driveCount(), 1);
  EXPECT_EQ(table.records[0].smartAvailable, 1);
  EXPECT_EQ(table.records[0].smartHealthy, c.healthy);
  EXPECT_EQ(table.records[0].smartStatus, c.smartStatus);
}

INSTANTIATE_TEST_SUITE_P(StatusAndAttributes, DetectionVerdict, testing::ValuesIn(kVerdicts),
                         [](const testing::TestParamInfo<VerdictCase>& param) { return std::string(param.param.name); });

// The excess is measured in bytes and given in the drive's own sectors. The 10 TB drive
// holds 19,532,873,728 units of 512 bytes: under the 10,000 GB figure (19,535,061,168) and
// the 9,999 GB one, 1,719,568 units (880,418,816 bytes) over 9,998 GB, in 512-byte and in
// 4096-byte sectors alike; taken as 512-byte units its 4Kn count gave 1,661,552.
TEST(Probe, IdemaRuleMeasuresBytes) {
  struct Case {
    const char* name;
    int32_t sectorSize;
    uint64_t totalSectors;
    uint64_t excess;
    bool standard;
  };
  const Case cases[] = {
      {"FiftyGigabyteBase", 512, 97'696'368, 0, true},
      {"ThreeGigabytesAnd17Over", 512, 97'696'368 + 1'953'504 * 3 + 17, 17, false},
      {"BelowTheBase", 512, 97'696'367, 0, false},
      {"Empty", 512, 0, 0, false},
      {"TenTerabyte512e", 512, 19'532'873'728, 1'719'568, false},
      {"TenTerabyte4Kn", 4096, 2'441'609'216, 214'946, false},
      {"Terabyte4KnExactly", 4096, 244'190'646, 0, true},
      {"Terabyte4KnAndOneSector", 4096, 244'190'647, 1, false},
      {"BelowTheBase4Kn", 4096, 12'212'045, 0, false},
      // 1,583,312 units over: 49,478 and a half sectors, and half a sector is not one.
      {"PartSectorRoundsDown", 16384, 1'000'000'000, 49'478, false},
      {"BytesPastTwoTo64DoNotWrap", 4096, UINT64_MAX, 41'469, false},
      {"UnreportedSizeIs512", 0, 97'696'368 + 1'953'504 * 3 + 17, 17, false},
      {"SizeNotIn512ByteUnits", 520, 19'532'873'728, 0, false},
      {"SizeNotIn512ByteUnitsIsNeverStandard", 520, 97'696'368, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(idemaExcessSectors(c.totalSectors, c.sectorSize), c.excess);
    EXPECT_EQ(isIdemaCapacity(c.totalSectors, c.sectorSize), c.standard);
  }
}

}  // namespace
}  // namespace palvoro

namespace palvoro {
namespace {

// The built-in showcase machine is what users first see: every drive must come out as
// its description means it.
TEST(Showcase, EveryProbePathComesOutAsDescribed) {
  sim::SimPlatform platform(sim::builtinMachine("showcase"));
  SilentPrompter prompter;
  ComplianceTable compliance;
  ASSERT_TRUE(loadComplianceTable(compliance));
  ProbeEnvironment env{platform, prompter, false, &compliance, 0xA0, &judgeSmartAttributes};
  DriveTable table{};
  detectDrives(env, table);
  ASSERT_EQ(table.driveCount(), 8);
  struct Row {
    int number;
    int driveClass;
    int busType;
    int ataTunnel;
    const char* model;
  };
  const Row rows[] = {{0, 1, 83, 0, "VHT VH7SAB200"},  {1, 1, 11, 0, "VHT VHH7S100516AB2C3D1"},
                      {2, 1, 11, 0, "VHT VHS512G"},    {4, 2, 7, 2, "Kestrel KX1000"},
                      {6, 7, 17, 0, "Sabik NV2 1TB"},  {7, 3, 4, 2, "VH FireWire 800"},
                      {9, 4, 1, 0, "SEAGATE ST6000NM0034"}, {10, 6, 7, 2, "VH Nodrik Duo"}};
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    const DriveRecord& r = table.records[i];
    EXPECT_EQ(r.physicalDriveNumber, rows[i].number);
    EXPECT_EQ(r.driveClass, rows[i].driveClass);
    EXPECT_EQ(r.busType, rows[i].busType);
    EXPECT_EQ(r.ataTunnel, rows[i].ataTunnel);
    EXPECT_STREQ(r.model, rows[i].model);
  }
  const DriveRecord& hybrid = table.records[1];
  EXPECT_EQ(hybrid.primaryUnit, 0);
  EXPECT_EQ(hybrid.secondaryUnit, 2);
  EXPECT_EQ(hybrid.totalSectors, 1953525168ull);  // a standard capacity keeps its count
  EXPECT_EQ(hybrid.hiddenSectors, 31273136ull);   // the 16 GB cache unit
  EXPECT_EQ(hybrid.hybridFlags, 0x7u);            // TRIM, log capability, sanitize ready
  EXPECT_EQ(table.records[0].originMark, 3);
  EXPECT_EQ(table.records[2].isMakerSsd, 1);
  EXPECT_EQ(table.records[5].originMark, 2);
  EXPECT_EQ(table.records[7].raidState, 6);
  EXPECT_EQ(table.records[7].raidRebuildPercent, 42);
  EXPECT_STREQ(table.records[7].memberSerialB, "VHRAIDB0002");
  EXPECT_TRUE(prompter.texts.empty());
}

}  // namespace
}  // namespace palvoro
