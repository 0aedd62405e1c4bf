// The SMART driver and miniport requests: their records byte by byte, the device byte
// rules of each path, and the ATA pass-through fallbacks of the driver path.

#include "device/smart_transport.h"

#include <gtest/gtest.h>

#include "support/case_name.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "device/device_test_support.h"
#include "device/drive_requests.h"

namespace palvoro {
namespace {

using palvoro::testsupport::caseName;

using namespace devtest;
using Kind = SimRequest::Kind;


Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// A page whose every byte tells where it came from.
sim::Page patternPage(uint8_t seed) {
  sim::Page page{};
  for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(seed + 7 * i);
  return page;
}
Bytes bytesOf(const sim::Page& page) { return Bytes(page.begin(), page.end()); }

// An ATA/SATA drive behind a controller with the SMART driver.
sim::SimDrive ataDrive(int number) {
  sim::SimDrive d = makeDrive({.number = number, .model = "VHT DRIVE " + std::to_string(10 + number)});
  d.transport = sim::Transport::Ata;
  sim::applyTransportDefaults(d);
  return d;
}

sim::SimDrive dualUnitAtaDrive(int number) {
  sim::SimDrive d = makeDualUnitDrive(number, 1'000'000, 2'000'000);
  d.transport = sim::Transport::Ata;
  sim::applyTransportDefaults(d);
  return d;
}

// The SMART path handle of `drive`, and a clean log.
struct SmartRig {
  SmartRig(sim::SimMachine machine, int drive, bool miniport) : platform(std::move(machine)) {
    handle = openSmartPath(platform, drive, miniport);
    platform.clearLog();
  }
  ~SmartRig() {
    if (handle != INVALID_HANDLE_VALUE) platform.closeHandle(handle);
  }
  std::vector<SimRequest> ioctls() const {
    std::vector<SimRequest> out;
    for (const SimRequest& r : platform.log()) {
      if (r.kind == Kind::Ioctl) out.push_back(r);
    }
    return out;
  }
  sim::SimPlatform platform;
  Handle handle = INVALID_HANDLE_VALUE;
};

constexpr uint32_t kRcv = 0x0007C088;       // SMART_RCV_DRIVE_DATA
constexpr uint32_t kSend = 0x0007C084;      // SMART_SEND_DRIVE_COMMAND
constexpr uint32_t kVersion = 0x00074080;   // SMART_GET_VERSION
constexpr uint32_t kMiniport = 0x0004D008;  // IOCTL_SCSI_MINIPORT
constexpr uint32_t kAtaPassThrough = 0x0004D02C;

using Call = std::function<bool(Platform&, Handle)>;

// ---------------------------------------------------------------------------------
// The SMART driver request.

// SENDCMDINPARAMS: cBufferSize (4, little-endian), IDEREGS (features, count, LBA low,
// mid, high, device, command, reserved), bDriveNumber, 3 reserved, 16 reserved.
const Bytes kData512 = {0x00, 0x02, 0x00, 0x00};
const Bytes kNoData = {0x00, 0x00, 0x00, 0x00};
const Bytes kReserved19(19, 0x00);
const Bytes kReserved16(16, 0x00);

struct DriverCase {
  const char* name;
  Call call;
  uint32_t code;
  Bytes input;
  uint32_t outSize;
  bool ok;
};

class SmartDriverRequestTest : public ::testing::TestWithParam<DriverCase> {};

// Drive 3 holds two units; every operation addresses unit 2 with drive number 3.
TEST_P(SmartDriverRequestTest, SendCmdInParamsByteByByte) {
  const DriverCase& c = GetParam();
  SmartRig rig(machineWith({dualUnitAtaDrive(3)}), 3, false);
  ASSERT_NE(rig.handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(c.call(rig.platform, rig.handle), c.ok);

  const std::vector<SimRequest> requests = rig.ioctls();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].code, c.code);
  EXPECT_EQ(requests[0].inSize, 32u);
  EXPECT_EQ(hex(requests[0].input), hex(c.input));
  EXPECT_EQ(requests[0].outSize, c.outSize);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, SmartDriverRequestTest,
    ::testing::Values(
        DriverCase{"Identify",
                   [](Platform& p, Handle h) {
                     uint8_t out[kSmartBufferSize];
                     return smartIdentify(p, h, false, 0xEC, 2, out);
                   },
                   kRcv, cat({kData512, {0x00, 0x01, 0x01, 0x00, 0x00, 0xA2, 0xEC, 0x00}, {0x00}, kReserved19}), 528,
                   true},
        // The command byte is the caller's; this driver receives nothing but ECh.
        DriverCase{"IdentifyWithCallersCommand",
                   [](Platform& p, Handle h) {
                     uint8_t out[kSmartBufferSize];
                     return smartIdentify(p, h, false, 0xA1, 0, out);
                   },
                   kRcv, cat({kData512, {0x00, 0x01, 0x01, 0x00, 0x00, 0xA0, 0xA1, 0x00}, {0x00}, kReserved19}), 528,
                   false},
        DriverCase{"ReadData",
                   [](Platform& p, Handle h) {
                     uint8_t out[kSmartBufferSize];
                     return smartReadData(p, h, false, 3, 2, out);
                   },
                   kRcv, cat({kData512, {0xD0, 0x01, 0x01, 0x4F, 0xC2, 0xA2, 0xB0, 0x00}, {0x00}, kReserved19}), 528,
                   true},
        DriverCase{"ReadThresholds",
                   [](Platform& p, Handle h) {
                     uint8_t out[kSmartBufferSize];
                     return smartReadThresholds(p, h, false, 3, 2, out);
                   },
                   kRcv, cat({kData512, {0xD1, 0x01, 0x01, 0x4F, 0xC2, 0xA2, 0xB0, 0x00}, {0x00}, kReserved19}), 528,
                   true},
        DriverCase{"EnableOperations", [](Platform& p, Handle h) { return smartEnableOperations(p, h, false, 2); },
                   kSend, cat({kNoData, {0xD8, 0x01, 0x01, 0x4F, 0xC2, 0xA2, 0xB0, 0x00}, {0x00}, kReserved19}), 16,
                   true},
        // Header plus the 8 returned IDEREGS.
        DriverCase{"ReturnStatus",
                   [](Platform& p, Handle h) {
                     return smartReturnStatusTri(p, h, false, 3, 2) == SmartReturnStatus::Healthy;
                   },
                   kSend,
                   cat({kNoData, {0xDA, 0x01, 0x01, 0x4F, 0xC2, 0xA2, 0xB0, 0x00}, {0x00}, kReserved19}), 24, true},
        // The sub-command goes into count and LBA low; the drive number into bDriveNumber.
        DriverCase{"ExecuteOffline",
                   [](Platform& p, Handle h) { return smartExecuteOffline(p, h, false, 3, 2, 0x01); }, kSend,
                   cat({kNoData, {0xD4, 0x01, 0x01, 0x4F, 0xC2, 0xA2, 0xB0, 0x00}, {0x03, 0x00, 0x00, 0x00},
                        kReserved16}),
                   16, true},
        DriverCase{"ExecuteOfflineAbort",
                   [](Platform& p, Handle h) { return smartExecuteOffline(p, h, false, 3, 0, 0x7F); }, kSend,
                   cat({kNoData, {0xD4, 0x7F, 0x7F, 0x4F, 0xC2, 0xA0, 0xB0, 0x00}, {0x03, 0x00, 0x00, 0x00},
                        kReserved16}),
                   16, true}),
    caseName<DriverCase>);

TEST(SmartExecuteOfflineTest, DriveNumberByteIsTheLowByte) {
  SmartRig rig(machineWith({ataDrive(2)}), 2, false);
  // 0x102 is not a drive number anyone passes; it shows that only the low byte travels.
  EXPECT_TRUE(smartExecuteOffline(rig.platform, rig.handle, false, 0x102, 0, 0x00));
  const std::vector<SimRequest> requests = rig.platform.ioctls(kSend);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].input[12], 0x02);
  EXPECT_EQ(requests[0].input[13], 0x00);
}

TEST(SmartExecuteOfflineTest, StartsTheSelfTestOfTheAddressedUnit) {
  SmartRig rig(machineWith({dualUnitAtaDrive(0)}), 0, false);
  EXPECT_TRUE(smartExecuteOffline(rig.platform, rig.handle, false, 0, 2, 0x02));
  EXPECT_TRUE(rig.platform.drive(0).ata.units.at(2).selfTest.running);
  EXPECT_EQ(rig.platform.drive(0).ata.units.at(2).selfTest.subcommand, 0x02);
  EXPECT_FALSE(rig.platform.drive(0).ata.units.at(0).selfTest.running);
  // A second start while the test runs is refused by the drive.
  EXPECT_FALSE(smartExecuteOffline(rig.platform, rig.handle, false, 0, 2, 0x02));
}

TEST(SmartEnableOperationsTest, IsTheRequestsResult) {
  {
    SmartRig rig(machineWith({ataDrive(0)}), 0, false);
    rig.platform.drive(0).ata.units.at(0).smart.enabled = false;
    EXPECT_TRUE(smartEnableOperations(rig.platform, rig.handle, false, 0));
    EXPECT_TRUE(rig.platform.drive(0).ata.units.at(0).smart.enabled);
  }
  {
    SmartRig rig(machineWith({ataDrive(0)}), 0, false);
    sim::SimFault f;
    f.ioctl = kSend;
    rig.platform.injectFault(f);
    EXPECT_FALSE(smartEnableOperations(rig.platform, rig.handle, false, 0));
    // No pass-through retry for ENABLE.
    EXPECT_TRUE(rig.platform.ioctls(kAtaPassThrough).empty());
  }
}

// ---------------------------------------------------------------------------------
// Data pages on the driver path, and the fallback to ATA pass-through.

TEST(SmartReadDataTest, DriverPathDeliversHeaderThenPage) {
  sim::SimMachine m = machineWith({dualUnitAtaDrive(0)});
  m.drives[0].ata.units.at(0).smart.dataPage = patternPage(0x10);
  m.drives[0].ata.units.at(2).smart.dataPage = patternPage(0x20);
  SmartRig rig(std::move(m), 0, false);
  uint8_t out[kSmartBufferSize];
  ASSERT_TRUE(smartReadData(rig.platform, rig.handle, false, 0, 2, out));
  EXPECT_EQ(hex(out, 4), hex({0x00, 0x02, 0x00, 0x00}));  // cBufferSize as the driver returns it
  EXPECT_EQ(Bytes(out + 16, out + 528), bytesOf(patternPage(0x20)));
  EXPECT_TRUE(rig.platform.ioctls(kAtaPassThrough).empty());
}

TEST(SmartReadDataTest, RejectedReceiveFallsBackToPassThroughInTheSameLayout) {
  sim::SimMachine m = machineWith({dualUnitAtaDrive(1)});
  m.drives[0].smartDriver.rejectsReceive = true;
  m.drives[0].ata.units.at(0).smart.dataPage = patternPage(0x10);
  m.drives[0].ata.units.at(2).smart.dataPage = patternPage(0x20);
  SmartRig rig(std::move(m), 1, false);
  uint8_t out[kSmartBufferSize];
  std::memset(out, 0xEE, sizeof out);
  ASSERT_TRUE(smartReadData(rig.platform, rig.handle, false, 1, 2, out));
  EXPECT_EQ(Bytes(out, out + 16), Bytes(16, 0x00));
  EXPECT_EQ(Bytes(out + 16, out + 528), bytesOf(patternPage(0x20)));

  const std::vector<SimRequest> requests = rig.ioctls();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].code, kRcv);
  EXPECT_FALSE(requests[0].ok);
  EXPECT_EQ(requests[1].code, kAtaPassThrough);
  // The task file of the retry: B0 D0, count 01, LBA 01/4F/C2, the same unit (A2h).
  EXPECT_EQ(hex(slice(requests[1].input, 32, 8)), hex({0xD0, 0x01, 0x01, 0x4F, 0xC2, 0xA2, 0xB0, 0x00}));
  EXPECT_EQ(requests[1].outSize, 552u);
}

TEST(SmartReadDataTest, FailsWhenTheFallbackFailsToo) {
  sim::SimMachine m = machineWith({ataDrive(0)});
  m.drives[0].smartDriver.rejectsReceive = true;
  m.drives[0].ataPassThrough = false;
  SmartRig rig(std::move(m), 0, false);
  uint8_t out[kSmartBufferSize];
  EXPECT_FALSE(smartReadData(rig.platform, rig.handle, false, 0, 0, out));
  EXPECT_EQ(rig.platform.ioctls(kAtaPassThrough).size(), 1u);
}

TEST(SmartReadDataTest, DriveErrorOnTheFallbackIsAFailure) {
  sim::SimMachine m = machineWith({ataDrive(0)});
  m.drives[0].smartDriver.rejectsReceive = true;
  SmartRig rig(std::move(m), 0, false);
  sim::SimFault f;
  f.kind = sim::SimFault::Kind::AtaError;
  f.ioctl = kAtaPassThrough;
  rig.platform.injectFault(f);
  uint8_t out[kSmartBufferSize];
  EXPECT_FALSE(smartReadData(rig.platform, rig.handle, false, 0, 0, out));
}

// The thresholds retry names the device by drive number, not by unit: drive 1 with unit
// 2 asks device A1h, which is unit 0 of the dual-unit drive.
TEST(SmartReadThresholdsTest, FallbackAddressesA0OrDriveNumber) {
  sim::SimMachine m = machineWith({dualUnitAtaDrive(1)});
  m.drives[0].smartDriver.rejectsReceive = true;
  m.drives[0].ata.units.at(0).smart.thresholdPage = patternPage(0x30);
  m.drives[0].ata.units.at(2).smart.thresholdPage = patternPage(0x40);
  SmartRig rig(std::move(m), 1, false);
  uint8_t out[kSmartBufferSize];
  ASSERT_TRUE(smartReadThresholds(rig.platform, rig.handle, false, 1, 2, out));
  EXPECT_EQ(Bytes(out, out + 16), Bytes(16, 0x00));
  EXPECT_EQ(Bytes(out + 16, out + 528), bytesOf(patternPage(0x30)));
  const std::vector<SimRequest> retry = rig.platform.ioctls(kAtaPassThrough);
  ASSERT_EQ(retry.size(), 1u);
  EXPECT_EQ(hex(slice(retry[0].input, 32, 8)), hex({0xD1, 0x01, 0x01, 0x4F, 0xC2, 0xA1, 0xB0, 0x00}));
}

TEST(SmartReadThresholdsTest, DriverPathUsesTheUnit) {
  sim::SimMachine m = machineWith({dualUnitAtaDrive(1)});
  m.drives[0].ata.units.at(0).smart.thresholdPage = patternPage(0x30);
  m.drives[0].ata.units.at(2).smart.thresholdPage = patternPage(0x40);
  SmartRig rig(std::move(m), 1, false);
  uint8_t out[kSmartBufferSize];
  ASSERT_TRUE(smartReadThresholds(rig.platform, rig.handle, false, 1, 2, out));
  EXPECT_EQ(Bytes(out + 16, out + 528), bytesOf(patternPage(0x40)));
  EXPECT_TRUE(rig.platform.ioctls(kAtaPassThrough).empty());
}

// The pass-through READ THRESHOLDS needs the 4Fh/C2h key back.
TEST(SmartReadThresholdsTest, FallbackWithoutSignatureFails) {
  sim::SimMachine m = machineWith({ataDrive(0)});
  m.drives[0].smartDriver.rejectsReceive = true;
  SmartRig rig(std::move(m), 0, false);
  sim::SimFault f;
  f.kind = sim::SimFault::Kind::Registers;
  f.ioctl = kAtaPassThrough;
  f.lbaMid = 0x00;
  f.lbaHigh = 0x00;
  rig.platform.injectFault(f);
  uint8_t out[kSmartBufferSize];
  EXPECT_FALSE(smartReadThresholds(rig.platform, rig.handle, false, 0, 0, out));
}

// ---------------------------------------------------------------------------------
// RETURN STATUS on the driver path: its own answer first, pass-through when that says
// nothing.

struct StatusCase {
  const char* name;
  bool exceeded;             // what the drive's attributes say
  bool driverFails;          // the driver refuses RETURN STATUS
  bool passThrough;          // ATA pass-through reaches the drive
  int forcedMid;             // registers the driver path returns instead, or -1
  int forcedHigh;
  int result;
  size_t passThroughRequests;
};

class SmartReturnStatusDriverTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(SmartReturnStatusDriverTest, ResultAndRetry) {
  const StatusCase& c = GetParam();
  sim::SimMachine m = machineWith({dualUnitAtaDrive(0)});
  m.drives[0].ata.units.at(2).smart.reportExceeded = c.exceeded;
  m.drives[0].smartDriver.failsReturnStatus = c.driverFails;
  m.drives[0].ataPassThrough = c.passThrough;
  SmartRig rig(std::move(m), 0, false);
  if (c.forcedMid >= 0) {
    sim::SimFault f;
    f.kind = sim::SimFault::Kind::Registers;
    f.ioctl = kSend;
    f.lbaMid = static_cast<uint8_t>(c.forcedMid);
    f.lbaHigh = static_cast<uint8_t>(c.forcedHigh);
    rig.platform.injectFault(f);
  }
  EXPECT_EQ(static_cast<int>(smartReturnStatusTri(rig.platform, rig.handle, false, 0, 2)), c.result);
  const std::vector<SimRequest> retry = rig.platform.ioctls(kAtaPassThrough);
  ASSERT_EQ(retry.size(), c.passThroughRequests);
  if (!retry.empty()) {
    // B0 DA, count 0, LBA 00/4F/C2, device A0h OR the same unit; no data.
    EXPECT_EQ(hex(slice(retry[0].input, 32, 8)), hex({0xDA, 0x00, 0x00, 0x4F, 0xC2, 0xA2, 0xB0, 0x00}));
    EXPECT_EQ(retry[0].inSize, 40u);
    EXPECT_EQ(retry[0].outSize, 40u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SmartReturnStatusDriverTest,
    ::testing::Values(StatusCase{"Healthy", false, false, true, -1, -1, 1, 0},
                      // F4h/2Ch is an answer: no retry.
                      StatusCase{"ThresholdExceeded", true, false, true, -1, -1, 0, 0},
                      StatusCase{"DriverFailsDriveHealthy", false, true, true, -1, -1, 1, 1},
                      // The drive's own F4h/2Ch counts on the retry too.
                      StatusCase{"DriverFailsDriveExceeded", true, true, true, -1, -1, 0, 1},
                      StatusCase{"DriverFailsNoPassThrough", false, true, false, -1, -1, -1, 1},
                      StatusCase{"OtherRegistersRetried", false, false, true, 0x12, 0x34, 1, 1},
                      StatusCase{"HalfKeyRetried", false, false, true, 0x4F, 0x2C, 1, 1},
                      StatusCase{"OtherRegistersNoPassThrough", false, false, false, 0x00, 0x00, -1, 1}),
    caseName<StatusCase>);

// ---------------------------------------------------------------------------------
// The miniport request.

// SRB_IO_CONTROL: HeaderLength 28, "SCSIDISK", Timeout 10000 (2710h), ControlCode,
// ReturnCode 0, Length.
Bytes srbHeader(uint8_t code, uint16_t length) {
  return {0x1C, 0x00, 0x00, 0x00, 'S',  'C',  'S',  'I',  'D',  'I',
          'S',  'K',  0x10, 0x27, 0x00, 0x00, code, 0x05, 0x1B, 0x00,
          0x00, 0x00, 0x00, 0x00, static_cast<uint8_t>(length & 0xFF), static_cast<uint8_t>(length >> 8), 0x00, 0x00};
}

struct MiniportCase {
  const char* name;
  Call call;
  Bytes input;
  uint32_t outSize;
};

class SmartMiniportRequestTest : public ::testing::TestWithParam<MiniportCase> {};

// Physical drives 2 and 3 sit on SCSI port 1; the operations name drive 3 and unit 2.
TEST_P(SmartMiniportRequestTest, HeaderAndParamsByteByByte) {
  const MiniportCase& c = GetParam();
  SmartRig rig(machineWith({ataDrive(2), ataDrive(3)}), 3, true);
  ASSERT_NE(rig.handle, INVALID_HANDLE_VALUE);
  c.call(rig.platform, rig.handle);
  const std::vector<SimRequest> requests = rig.ioctls();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].code, kMiniport);
  EXPECT_EQ(requests[0].path, "\\\\.\\Scsi1:");
  EXPECT_EQ(requests[0].inSize, c.input.size());
  EXPECT_EQ(hex(requests[0].input), hex(c.input));
  EXPECT_EQ(requests[0].outSize, c.outSize);
  EXPECT_TRUE(requests[0].ok);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, SmartMiniportRequestTest,
    ::testing::Values(
        // Length 529 (211h): 16-byte header, 512 data, 1.
        MiniportCase{"Identify",
                     [](Platform& p, Handle h) {
                       uint8_t out[kSmartBufferSize];
                       return smartIdentify(p, h, true, 0xEC, 2, out);
                     },
                     cat({srbHeader(0x01, 529), kData512, {0x00, 0x01, 0x01, 0x00, 0x00, 0xA2, 0xEC, 0x00}, {0x00},
                          kReserved19}),
                     557},
        // READ DATA names the device by drive number: A0h OR 3.
        MiniportCase{"ReadData",
                     [](Platform& p, Handle h) {
                       uint8_t out[kSmartBufferSize];
                       return smartReadData(p, h, true, 3, 2, out);
                     },
                     cat({srbHeader(0x02, 529), kData512, {0xD0, 0x01, 0x01, 0x4F, 0xC2, 0xA3, 0xB0, 0x00}, {0x00},
                          kReserved19}),
                     557},
        MiniportCase{"ReadThresholds",
                     [](Platform& p, Handle h) {
                       uint8_t out[kSmartBufferSize];
                       return smartReadThresholds(p, h, true, 3, 2, out);
                     },
                     cat({srbHeader(0x03, 529), kData512, {0xD1, 0x01, 0x01, 0x4F, 0xC2, 0xA2, 0xB0, 0x00}, {0x00},
                          kReserved19}),
                     557},
        // Length 17: the 16-byte header and 1.
        MiniportCase{"EnableOperations",
                     [](Platform& p, Handle h) { return smartEnableOperations(p, h, true, 2); },
                     cat({srbHeader(0x04, 17), kNoData, {0xD8, 0x01, 0x01, 0x4F, 0xC2, 0xA2, 0xB0, 0x00}, {0x00},
                          kReserved19}),
                     44},
        MiniportCase{"ReturnStatus",
                     [](Platform& p, Handle h) {
                       return smartReturnStatusTri(p, h, true, 3, 2) == SmartReturnStatus::Healthy;
                     },
                     cat({srbHeader(0x06, 17), kNoData, {0xDA, 0x01, 0x01, 0x4F, 0xC2, 0xA3, 0xB0, 0x00}, {0x00},
                          kReserved19}),
                     44},
        // bDriveNumber stays 0 on this path.
        MiniportCase{"ExecuteOffline",
                     [](Platform& p, Handle h) { return smartExecuteOffline(p, h, true, 3, 2, 0x01); },
                     cat({srbHeader(0x09, 17), kNoData, {0xD4, 0x01, 0x01, 0x4F, 0xC2, 0xA2, 0xB0, 0x00}, {0x00},
                          kReserved19}),
                     44}),
    caseName<MiniportCase>);

TEST(SmartMiniportTest, DataArrivesBehindTheSixteenByteHeader) {
  sim::SimMachine m = machineWith({ataDrive(0)});
  m.drives[0].ata.units.at(0).smart.dataPage = patternPage(0x50);
  m.drives[0].ata.units.at(0).smart.thresholdPage = patternPage(0x60);
  SmartRig rig(std::move(m), 0, true);
  uint8_t out[kSmartBufferSize];
  ASSERT_TRUE(smartReadData(rig.platform, rig.handle, true, 0, 0, out));
  EXPECT_EQ(hex(out, 4), hex({0x00, 0x02, 0x00, 0x00}));
  EXPECT_EQ(Bytes(out + 16, out + 528), bytesOf(patternPage(0x50)));
  ASSERT_TRUE(smartReadThresholds(rig.platform, rig.handle, true, 0, 0, out));
  EXPECT_EQ(Bytes(out + 16, out + 528), bytesOf(patternPage(0x60)));
}

TEST(SmartMiniportTest, FailedReadIsNotRetried) {
  sim::SimMachine m = machineWith({ataDrive(0)});
  m.drives[0].ata.units.at(0).smart.enabled = false;
  SmartRig rig(std::move(m), 0, true);
  uint8_t out[kSmartBufferSize];
  EXPECT_FALSE(smartReadData(rig.platform, rig.handle, true, 0, 0, out));
  EXPECT_FALSE(smartReadThresholds(rig.platform, rig.handle, true, 0, 0, out));
  EXPECT_EQ(rig.ioctls().size(), 2u);
  EXPECT_TRUE(rig.platform.ioctls(kAtaPassThrough).empty());
}

TEST(SmartMiniportTest, IdentifyReturnsTheIdentifyData) {
  SmartRig rig(machineWith({ataDrive(0)}), 0, true);
  uint8_t out[kSmartBufferSize];
  ASSERT_TRUE(smartIdentify(rig.platform, rig.handle, true, 0xEC, 0, out));
  // Word 27 onwards: "VHT DRIVE 10" with the two bytes of each word swapped.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out + 16 + 54), 12), "HV TRDVI E01");
}

// An empty model (byte 54 zero) means no drive answered, even though the request succeeded.
TEST(SmartMiniportTest, IdentifyWithEmptyModelFails) {
  sim::SimMachine m = machineWith({ataDrive(0)});
  for (int w = 27; w <= 46; ++w) m.drives[0].ata.units.at(0).identify[static_cast<size_t>(w)] = 0;
  SmartRig rig(std::move(m), 0, true);
  uint8_t out[kSmartBufferSize];
  EXPECT_FALSE(smartIdentify(rig.platform, rig.handle, true, 0xEC, 0, out));
  const std::vector<SimRequest> requests = rig.ioctls();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].ok);
}

// Only byte 54 decides: a model whose first character is blank but not zero counts.
TEST(SmartMiniportTest, IdentifyModelByteIsTheFirstOnly) {
  sim::SimMachine m = machineWith({ataDrive(0)});
  auto& words = m.drives[0].ata.units.at(0).identify;
  for (int w = 27; w <= 46; ++w) words[static_cast<size_t>(w)] = 0;
  words[27] = 0x0001;  // little-endian: byte 54 = 01h, byte 55 = 00h
  SmartRig rig(std::move(m), 0, true);
  uint8_t out[kSmartBufferSize];
  EXPECT_TRUE(smartIdentify(rig.platform, rig.handle, true, 0xEC, 0, out));
}

TEST(SmartMiniportTest, DriverPathIdentifyIsTheRequestAlone) {
  sim::SimMachine m = machineWith({ataDrive(0)});
  for (int w = 27; w <= 46; ++w) m.drives[0].ata.units.at(0).identify[static_cast<size_t>(w)] = 0;
  SmartRig rig(std::move(m), 0, false);
  uint8_t out[kSmartBufferSize];
  EXPECT_TRUE(smartIdentify(rig.platform, rig.handle, false, 0xEC, 0, out));
}

struct MiniportStatusCase {
  const char* name;
  bool exceeded;
  bool smartEnabled;
  int result;
};

class SmartReturnStatusMiniportTest : public ::testing::TestWithParam<MiniportStatusCase> {};

TEST_P(SmartReturnStatusMiniportTest, ResultFromTheRequestAndTheLastError) {
  const MiniportStatusCase& c = GetParam();
  sim::SimMachine m = machineWith({ataDrive(0)});
  m.drives[0].ata.units.at(0).smart.reportExceeded = c.exceeded;
  m.drives[0].ata.units.at(0).smart.enabled = c.smartEnabled;
  SmartRig rig(std::move(m), 0, true);
  rig.platform.setLastError(ERROR_ACCESS_DENIED);  // left over from something earlier
  EXPECT_EQ(static_cast<int>(smartReturnStatusTri(rig.platform, rig.handle, true, 0, 0)), c.result);
  EXPECT_EQ(rig.ioctls().size(), 1u) << "the miniport path has no fallback";
}

INSTANTIATE_TEST_SUITE_P(Answers, SmartReturnStatusMiniportTest,
                         ::testing::Values(MiniportStatusCase{"Healthy", false, true, 1},
                                           // Failed without an error code.
                                           MiniportStatusCase{"ThresholdExceeded", true, true, 0},
                                           // Failed with ERROR_IO_DEVICE.
                                           MiniportStatusCase{"DriveRefuses", false, false, -1}),
                         caseName<MiniportStatusCase>);

// ---------------------------------------------------------------------------------
// The version query and the port a non-administrator reaches.

TEST(SmartVersionTest, DriverRequestReturnsTheDeviceMap) {
  sim::SimMachine m = machineWith({ataDrive(1)});
  m.drives[0].smartDriver.deviceMap = 0x05;
  sim::SimPlatform platform(std::move(m));
  EXPECT_EQ(smartVersion(platform, 1, false), 0x05);
  const std::vector<SimRequest> log = platform.log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].kind, Kind::Open);
  EXPECT_EQ(log[0].path, "\\\\.\\PhysicalDrive1");
  EXPECT_EQ(log[0].access, kReadWrite);
  EXPECT_EQ(log[0].shareMode, kShareReadWrite);
  EXPECT_EQ(log[0].disposition, OPEN_EXISTING);
  EXPECT_EQ(log[0].flags, 0u);
  EXPECT_EQ(log[1].code, kVersion);
  EXPECT_EQ(log[1].inSize, 0u);
  EXPECT_EQ(log[1].outSize, 24u);
  EXPECT_EQ(log[2].kind, Kind::Close);
  EXPECT_EQ(platform.openHandleCount(), 0u);
}

TEST(SmartVersionTest, FailedRequestGivesAnEmptyMap) {
  sim::SimMachine m = machineWith({ataDrive(0)});
  m.drives[0].smartDriver.present = false;
  sim::SimPlatform platform(std::move(m));
  EXPECT_EQ(smartVersion(platform, 0, false), 0);
  EXPECT_EQ(platform.openHandleCount(), 0u);
}

TEST(SmartVersionTest, OpenFailureGivesMinusOne) {
  sim::SimPlatform platform(machineWith({ataDrive(0)}));
  EXPECT_EQ(smartVersion(platform, 6, false), -1);
  EXPECT_EQ(smartVersion(platform, 2, true), -1);  // no drive on port 1
  EXPECT_TRUE(platform.ioctls(kVersion).empty());
  EXPECT_TRUE(platform.ioctls(kMiniport).empty());
}

TEST(SmartVersionTest, MiniportRequestByteByByte) {
  sim::SimPlatform platform(machineWith({ataDrive(0), ataDrive(1)}));
  EXPECT_EQ(smartVersion(platform, 0, true), 0x03);  // two targets on port 0
  const std::vector<SimRequest> requests = platform.ioctls(kMiniport);
  ASSERT_EQ(requests.size(), 1u);
  // Length 24: the GETVERSIONINPARAMS that comes back.
  EXPECT_EQ(hex(requests[0].input), hex(srbHeader(0x00, 24)));
  EXPECT_EQ(requests[0].inSize, 28u);
  EXPECT_EQ(requests[0].outSize, 52u);
  EXPECT_EQ(platform.openHandleCount(), 0u);
}

// Only bit 1 of the drive number picks the port: drives 2 and 3 on port 1, drive 4 on
// port 0 again.
TEST(SmartVersionTest, PortOfEachDrive) {
  sim::SimPlatform platform(machineWith({ataDrive(0), ataDrive(1), ataDrive(2), ataDrive(3), ataDrive(4)}));
  const struct {
    int drive;
    const char* path;
    int map;
  } cases[] = {{2, "\\\\.\\Scsi1:", 0x03}, {3, "\\\\.\\Scsi1:", 0x03}, {4, "\\\\.\\Scsi0:", 0x07}};
  for (const auto& c : cases) {
    platform.clearLog();
    EXPECT_EQ(smartVersion(platform, c.drive, true), c.map) << c.drive;
    const std::vector<SimRequest> log = platform.log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].kind, Kind::Open);
    EXPECT_EQ(log[0].path, c.path) << c.drive;
  }
}

// A non-administrator reads drive 3's attributes through port 1.
TEST(SmartMiniportTest, NonAdministratorReachesDrive3ThroughPort1) {
  sim::SimMachine m = machineWith({ataDrive(2), ataDrive(3), ataDrive(4)});
  m.administrator = false;
  sim::SimPlatform platform(std::move(m));
  EXPECT_EQ(openSmartPath(platform, 3, false), INVALID_HANDLE_VALUE) << "raw drives need rights";
  const Handle h = openSmartPath(platform, 3, true);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  uint8_t out[kSmartBufferSize];
  EXPECT_TRUE(smartReadData(platform, h, true, 3, 0, out));
  EXPECT_EQ(platform.ioctls(kMiniport).at(0).path, "\\\\.\\Scsi1:");
  platform.closeHandle(h);
}

}  // namespace
}  // namespace palvoro
