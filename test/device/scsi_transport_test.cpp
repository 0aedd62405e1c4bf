// SCSI pass-through: the request records, every command block byte by byte (SCSI
// commands, SAT ATA PASS-THROUGH (12) and (16), the bridge vendor block), the success
// rules, and the carriers' SMART operations, against bridges of every kind.

#include "device/scsi_transport.h"

#include <gtest/gtest.h>

#include "support/case_name.h"

#include <array>
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
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;


constexpr uint32_t kScsiPassThrough = 0x0004D004;
constexpr uint32_t kBridgeCapabilities = 0x221400;
constexpr uint32_t kBridgeSignature = 0x221404;

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
Bytes le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
Bytes padTo16(Bytes cdb) {
  cdb.resize(16, 0x00);
  return cdb;
}

// The first 72 bytes of a request with a sense area: SCSI_PASS_THROUGH (Length 2Ch,
// ScsiStatus, PathId, TargetId, Lun, CdbLength, SenseInfoLength 16h (22), DataIn, 3 bytes
// padding, DataTransferLength, TimeOutValue 14h (20), DataBufferOffset 48h (72),
// SenseInfoOffset 30h (48), the CDB in 16 bytes), the total allocation size, 24 bytes of
// sense.
Bytes senseRequestHeader(const Bytes& cdb, uint8_t dataIn, uint32_t transfer) {
  return cat({{0x2C, 0x00, 0x00, 0x00, 0x00, 0x00, static_cast<uint8_t>(cdb.size()), 0x16, dataIn, 0x00, 0x00, 0x00},
              le32(transfer),
              {0x14, 0x00, 0x00, 0x00, 0x48, 0x00, 0x00, 0x00, 0x30, 0x00, 0x00, 0x00},
              padTo16(cdb),
              le32(72 + transfer),
              Bytes(24, 0x00)});
}

// The 44 bytes of the request without sense area: SenseInfoLength 0, DataBufferOffset
// 2Ch (44), SenseInfoOffset 0.
Bytes plainRequestHeader(const Bytes& cdb, uint8_t dataIn, uint32_t transfer) {
  return cat({{0x2C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, dataIn, 0x00, 0x00, 0x00},
              le32(transfer),
              {0x14, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
              cdb});
}

sim::SimDrive bridgeDrive(sim::Transport transport, int number = 0, uint64_t sectors = 1'000'000) {
  sim::SimDrive d = makeDrive({.number = number, .sectors = sectors, .model = "VHT BRIDGED 42"});
  d.transport = transport;
  sim::applyTransportDefaults(d);
  return d;
}

sim::Page patternPage(uint8_t seed) {
  sim::Page page{};
  for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(seed + 5 * i);
  return page;
}
Bytes bytesOf(const sim::Page& page) { return Bytes(page.begin(), page.end()); }
// IDENTIFY words as the drive sends them, little-endian.
Bytes identifyBytes(const sim::IdentifyWords& words) {
  Bytes b;
  for (uint16_t w : words) {
    b.push_back(static_cast<uint8_t>(w));
    b.push_back(static_cast<uint8_t>(w >> 8));
  }
  return b;
}

// Drive 0 of `machine`, opened as detection opens it.
struct ScsiRig {
  explicit ScsiRig(sim::SimMachine machine) : platform(std::move(machine)) {
    handle = platform.createFile(kDrive0, kReadWrite, kShareReadWrite, OPEN_EXISTING, 0);
    platform.clearLog();
  }
  ~ScsiRig() {
    if (handle != INVALID_HANDLE_VALUE) platform.closeHandle(handle);
  }
  std::vector<SimRequest> scsi() const { return platform.ioctls(kScsiPassThrough); }
  std::vector<SimRequest> requests() const { return platform.log(); }
  sim::SimDrive& drive() { return platform.drive(0); }
  sim::SimPlatform platform;
  Handle handle = INVALID_HANDLE_VALUE;
};

using Call = std::function<int(Platform&, Handle)>;

// IDENTIFY DEVICE (ECh) of device A0h, one sector in.
constexpr AtaRegisters kIdentifyA0{.count = 1, .device = 0xA0, .command = 0xEC};

// ---------------------------------------------------------------------------------
// Requests with a sense area: SCSI commands and ATA PASS-THROUGH (12).

struct SenseCase {
  const char* name;
  sim::Transport transport;
  Call call;
  Bytes cdb;         // CdbLength is its size
  uint8_t dataIn;
  uint32_t transfer;
  int result;        // -1: not asserted (the bytes are the point)
};

class SenseRequestTest : public ::testing::TestWithParam<SenseCase> {};

TEST_P(SenseRequestTest, RecordAndCommandBlockByteByByte) {
  const SenseCase& c = GetParam();
  sim::SimMachine m = machineWith({bridgeDrive(c.transport)});
  m.drives[0].scsi.diagnostic[0x82] = {0x82, 0x00, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04};
  ScsiRig rig(std::move(m));
  const int result = c.call(rig.platform, rig.handle);
  if (c.result >= 0) {
    EXPECT_EQ(result, c.result);
  }

  const std::vector<SimRequest> sent = rig.scsi();
  ASSERT_EQ(sent.size(), 1u);
  // The whole allocation goes in and comes back.
  EXPECT_EQ(sent[0].inSize, 72 + c.transfer);
  EXPECT_EQ(sent[0].outSize, 72 + c.transfer);
  EXPECT_EQ(hex(slice(sent[0].input, 0, 72)), hex(senseRequestHeader(c.cdb, c.dataIn, c.transfer)));
}

uint8_t g_buffer[2048];

INSTANTIATE_TEST_SUITE_P(
    Commands, SenseRequestTest,
    ::testing::Values(
        SenseCase{"Inquiry", sim::Transport::Scsi,
                  [](Platform& p, Handle h) {
                    uint8_t out[74];
                    return static_cast<int>(scsiInquiry(p, h, out));
                  },
                  {0x12, 0x00, 0x00, 0x00, 0x4A, 0x00}, 1, 74, 1},
        SenseCase{"InquiryVpd80", sim::Transport::Scsi,
                  [](Platform& p, Handle h) { return static_cast<int>(scsiInquiryVpd(p, h, 0x80, 70, g_buffer)); },
                  {0x12, 0x01, 0x80, 0x00, 0x46, 0x00}, 1, 70, 1},
        SenseCase{"InquiryVpd01", sim::Transport::Raid,
                  [](Platform& p, Handle h) { return static_cast<int>(scsiInquiryVpd(p, h, 0x01, 20, g_buffer)); },
                  {0x12, 0x01, 0x01, 0x00, 0x14, 0x00}, 1, 20, 1},
        SenseCase{"ReceiveDiagnostic", sim::Transport::Scsi,
                  [](Platform& p, Handle h) {
                    return static_cast<int>(scsiReceiveDiagnostic(p, h, 0x82, 8, g_buffer));
                  },
                  {0x1C, 0x01, 0x82, 0x00, 0x08, 0x00}, 1, 8, 1},
        // The allocation length is two bytes, most significant first.
        SenseCase{"ReceiveDiagnosticLong", sim::Transport::Scsi,
                  [](Platform& p, Handle h) {
                    return static_cast<int>(scsiReceiveDiagnostic(p, h, 0x82, 0x0120, g_buffer));
                  },
                  {0x1C, 0x01, 0x82, 0x01, 0x20, 0x00}, 1, 0x0120, 1},
        SenseCase{"ReadCapacity10", sim::Transport::Scsi,
                  [](Platform& p, Handle h) {
                    uint32_t lba = 0, size = 0;
                    return static_cast<int>(scsiReadCapacity10(p, h, &lba, &size));
                  },
                  {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 8, 1},
        // Service action 10h; allocation length 12 in byte 13.
        SenseCase{"ReadCapacity16", sim::Transport::Scsi,
                  [](Platform& p, Handle h) {
                    uint64_t lba = 0;
                    return static_cast<int>(scsiReadCapacity16(p, h, &lba));
                  },
                  {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0, 0}, 1, 12, 1},
        // IDENTIFY DEVICE, direction 1 with data: protocol 4 (byte 1 = 08h), T_DIR,
        // BYT_BLOK, T_LENGTH 2 (byte 2 = 0Eh).
        SenseCase{"Sat12DataIn", sim::Transport::UsbSat,
                  [](Platform& p, Handle h) {
                    return satPassThrough12(p, h, kIdentifyA0, CarrierDirection::In, g_buffer);
                  },
                  {0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00, 0x00}, 1, 512, 1},
        // Two sectors: 1024 bytes.
        SenseCase{"Sat12DataInTwoSectors", sim::Transport::UsbSat,
                  [](Platform& p, Handle h) {
                    return satPassThrough12(p, h, {.count = 2, .device = 0xA0, .command = 0x20}, CarrierDirection::In,
                                            g_buffer);
                  },
                  {0xA1, 0x08, 0x0E, 0x00, 0x02, 0x00, 0x00, 0x00, 0xA0, 0x20, 0x00, 0x00}, 1, 1024, -1},
        // Direction 2 with data: protocol 4, no T_DIR, no BYT_BLOK (byte 2 = 02h), DataIn 2.
        SenseCase{"Sat12Direction2Data", sim::Transport::UsbSat,
                  [](Platform& p, Handle h) {
                    const AtaRegisters every{.features = 0x11, .count = 1, .lbaLow = 0x22, .lbaMid = 0x33,
                                             .lbaHigh = 0x44, .device = 0xA0, .command = 0xEC};
                    return satPassThrough12(p, h, every, CarrierDirection::Unspecified, g_buffer);
                  },
                  {0xA1, 0x08, 0x02, 0x11, 0x01, 0x22, 0x33, 0x44, 0xA0, 0xEC, 0x00, 0x00}, 2, 512, -1},
        // Direction 0 with data: protocol 5 PIO out (0Ah), BYT_BLOK and T_LENGTH (06h),
        // DataIn 0.
        SenseCase{"Sat12Direction0Data", sim::Transport::UsbSat,
                  [](Platform& p, Handle h) {
                    const AtaRegisters writeLog{.features = 0xD6, .count = 1, .lbaLow = 0xE0, .lbaMid = 0x4F,
                                                .lbaHigh = 0xC2, .device = 0xA0, .command = 0xB0};
                    return satPassThrough12(p, h, writeLog, CarrierDirection::Out, g_buffer);
                  },
                  {0xA1, 0x0A, 0x06, 0xD6, 0x01, 0xE0, 0x4F, 0xC2, 0xA0, 0xB0, 0x00, 0x00}, 0, 512, -1},
        // Direction 6 with data: protocol 6 DMA (0Ch), 06h, DataIn 0.
        SenseCase{"Sat12Direction6Data", sim::Transport::UsbSat,
                  [](Platform& p, Handle h) {
                    const AtaRegisters trim{.features = 0x01, .count = 1, .command = 0x06};
                    return satPassThrough12(p, h, trim, CarrierDirection::DmaOut, g_buffer);
                  },
                  {0xA1, 0x0C, 0x06, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00}, 0, 512, -1},
        // Without data: protocol 3 (06h); byte 2 keeps T_DIR and BYT_BLOK by direction.
        SenseCase{"Sat12NoDataDirection1", sim::Transport::UsbSat,
                  [](Platform& p, Handle h) {
                    const AtaRegisters enable{.features = 0xD8, .lbaMid = 0x4F, .lbaHigh = 0xC2, .device = 0xA0,
                                              .command = 0xB0};
                    return satPassThrough12(p, h, enable, CarrierDirection::In, nullptr);
                  },
                  {0xA1, 0x06, 0x0C, 0xD8, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0, 0x00, 0x00}, 1, 0, 1},
        SenseCase{"Sat12NoDataDirection0", sim::Transport::UsbSat,
                  [](Platform& p, Handle h) {
                    const AtaRegisters offline{.features = 0xD4, .lbaLow = 0x01, .lbaMid = 0x4F, .lbaHigh = 0xC2,
                                               .device = 0xA0, .command = 0xB0};
                    return satPassThrough12(p, h, offline, CarrierDirection::Out, nullptr);
                  },
                  {0xA1, 0x06, 0x04, 0xD4, 0x00, 0x01, 0x4F, 0xC2, 0xA0, 0xB0, 0x00, 0x00}, 0, 0, 1},
        SenseCase{"Sat12NoDataDirection2", sim::Transport::UsbSat,
                  [](Platform& p, Handle h) {
                    return satPassThrough12(p, h, {.command = 0x90}, CarrierDirection::Unspecified, nullptr);
                  },
                  {0xA1, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x90, 0x00, 0x00}, 2, 0, 1},
        SenseCase{"Sat12NoDataDirection6", sim::Transport::UsbSat,
                  [](Platform& p, Handle h) {
                    const AtaRegisters status{.features = 0xDA, .lbaMid = 0x4F, .lbaHigh = 0xC2, .device = 0xA0,
                                              .command = 0xB0};
                    return satPassThrough12(p, h, status, CarrierDirection::DmaOut, nullptr);
                  },
                  {0xA1, 0x06, 0x04, 0xDA, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0, 0x00, 0x00}, 0, 0, 1},
        SenseCase{"MemberProbeA", sim::Transport::Raid,
                  [](Platform& p, Handle h) {
                    uint8_t block[512];
                    return static_cast<int>(satMemberProbe(p, h, 0, block));
                  },
                  {0xA1, 0x1E, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0x00, 0x00, 0x00}, 1, 512, 1},
        SenseCase{"MemberProbeB", sim::Transport::Raid,
                  [](Platform& p, Handle h) {
                    uint8_t block[512];
                    return static_cast<int>(satMemberProbe(p, h, 7, block));
                  },
                  {0xA1, 0x1E, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xB0, 0x00, 0x00, 0x00}, 1, 512, 1}),
    caseName<SenseCase>);

// Byte 1 and byte 2 of ATA PASS-THROUGH (12), field by field (SAT: byte 1 bits 7:5
// MULTIPLE_COUNT, 4:1 PROTOCOL, 0 reserved; byte 2 bits 7:6 OFF_LINE, 5 CK_COND, 4
// reserved, 3 T_DIR, 2 BYT_BLOK, 1:0 T_LENGTH).
struct Sat12FlagsCase {
  const char* name;
  CarrierDirection direction;
  bool data;
  int protocol;
  int tDir;
  int bytBlok;
  int tLength;
  uint8_t dataIn;
};

class Sat12FlagsTest : public ::testing::TestWithParam<Sat12FlagsCase> {};

TEST_P(Sat12FlagsTest, Bytes1And2BitByBit) {
  const Sat12FlagsCase& c = GetParam();
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbSat)}));
  const AtaRegisters identify{.count = static_cast<uint8_t>(c.data ? 1 : 0), .device = 0xA0, .command = 0xEC};
  (void)satPassThrough12(rig.platform, rig.handle, identify, c.direction, c.data ? g_buffer : nullptr);
  const std::vector<SimRequest> sent = rig.scsi();
  ASSERT_EQ(sent.size(), 1u);
  const uint8_t b1 = sent[0].input[28 + 1];
  const uint8_t b2 = sent[0].input[28 + 2];
  EXPECT_EQ(b1 >> 5, 0) << "MULTIPLE_COUNT";
  EXPECT_EQ((b1 >> 1) & 0x0F, c.protocol) << "PROTOCOL";
  EXPECT_EQ(b1 & 0x01, 0) << "reserved bit 0";
  EXPECT_EQ(b2 >> 6, 0) << "OFF_LINE";
  EXPECT_EQ((b2 >> 5) & 1, 0) << "CK_COND";
  EXPECT_EQ((b2 >> 4) & 1, 0) << "bit 4";
  EXPECT_EQ((b2 >> 3) & 1, c.tDir) << "T_DIR";
  EXPECT_EQ((b2 >> 2) & 1, c.bytBlok) << "BYT_BLOK";
  EXPECT_EQ(b2 & 0x03, c.tLength) << "T_LENGTH";
  EXPECT_EQ(sent[0].input[8], c.dataIn) << "DataIn";
}

INSTANTIATE_TEST_SUITE_P(Directions, Sat12FlagsTest,
                         ::testing::Values(Sat12FlagsCase{"In1", CarrierDirection::In, true, 4, 1, 1, 2, 1},
                                           Sat12FlagsCase{"In2", CarrierDirection::Unspecified, true, 4, 0, 0, 2, 2},
                                           Sat12FlagsCase{"Out0", CarrierDirection::Out, true, 5, 0, 1, 2, 0},
                                           Sat12FlagsCase{"Dma6", CarrierDirection::DmaOut, true, 6, 0, 1, 2, 0},
                                           Sat12FlagsCase{"NoData1", CarrierDirection::In, false, 3, 1, 1, 0, 1},
                                           Sat12FlagsCase{"NoData0", CarrierDirection::Out, false, 3, 0, 1, 0, 0},
                                           Sat12FlagsCase{"NoData2", CarrierDirection::Unspecified, false, 3, 0, 0, 0,
                                                          2},
                                           Sat12FlagsCase{"NoData6", CarrierDirection::DmaOut, false, 3, 0, 1, 0, 0}),
                         caseName<Sat12FlagsCase>);

TEST(Sat12Test, DmaOutCopiesTheCallersDataIntoTheRequest) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbSat)}));
  uint8_t block[512];
  for (int i = 0; i < 512; ++i) block[i] = static_cast<uint8_t>(i * 3 + 1);
  (void)satPassThrough12(rig.platform, rig.handle, {.features = 0x01, .count = 1, .command = 0x06},
                         CarrierDirection::DmaOut, block);
  const std::vector<SimRequest> sent = rig.scsi();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(slice(sent[0].input, 72, 512), Bytes(block, block + 512));
}

TEST(Sat12Test, IdentifyDataArrives) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbSat)}));
  uint8_t reply[512] = {};
  ASSERT_TRUE(satPassThrough12(rig.platform, rig.handle, kIdentifyA0, CarrierDirection::In, reply));
  EXPECT_EQ(Bytes(reply, reply + 512), identifyBytes(rig.drive().ata.units.at(0).identify));
}

// The returned count includes the 72-byte header: a command naming one sector must bring
// back more than 512 bytes, even when it moves none.
TEST(Sat12Test, ReturnedCountMustExceedTheSectorBytes) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbSat)}));
  // SMART ENABLE with count 1 and no data: the bridge completes it, but only the
  // structure comes back.
  const AtaRegisters enableCount1{.features = 0xD8, .count = 1, .lbaLow = 1, .lbaMid = 0x4F, .lbaHigh = 0xC2,
                                  .device = 0xA0, .command = 0xB0};
  EXPECT_FALSE(satPassThrough12(rig.platform, rig.handle, enableCount1, CarrierDirection::In, nullptr));
  ASSERT_EQ(rig.scsi().size(), 1u);
  EXPECT_TRUE(rig.scsi()[0].ok);
  const AtaRegisters enable{.features = 0xD8, .lbaMid = 0x4F, .lbaHigh = 0xC2, .device = 0xA0, .command = 0xB0};
  EXPECT_TRUE(satPassThrough12(rig.platform, rig.handle, enable, CarrierDirection::In, nullptr));
}

TEST(Sat12Test, CheckConditionFails) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbSat)}));
  rig.drive().ata.units.at(0).smart.enabled = false;
  uint8_t page[512];
  const AtaRegisters readData{.features = 0xD0, .count = 1, .lbaMid = 0x4F, .lbaHigh = 0xC2, .device = 0xA0,
                              .command = 0xB0};
  EXPECT_FALSE(satPassThrough12(rig.platform, rig.handle, readData, CarrierDirection::In, page));
}

TEST(Sat12Test, FailedCallFails) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbSat)}));
  sim::SimFault f;
  f.ioctl = kScsiPassThrough;
  rig.platform.injectFault(f);
  uint8_t page[512];
  EXPECT_FALSE(satPassThrough12(rig.platform, rig.handle, kIdentifyA0, CarrierDirection::In, page));
}

// ---------------------------------------------------------------------------------
// SCSI command results.

TEST(ScsiCommandTest, InquiryReturns74Bytes) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::Scsi)}));
  uint8_t out[74];
  ASSERT_TRUE(scsiInquiry(rig.platform, rig.handle, out));
  const std::vector<uint8_t>& inquiry = rig.drive().scsi.inquiry;
  ASSERT_GE(inquiry.size(), 74u);
  EXPECT_EQ(Bytes(out, out + 74), Bytes(inquiry.begin(), inquiry.begin() + 74));
}

TEST(ScsiCommandTest, VpdSerialPage) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::Scsi)}));
  uint8_t out[70] = {};
  ASSERT_TRUE(scsiInquiryVpd(rig.platform, rig.handle, 0x80, sizeof out, out));
  EXPECT_EQ(out[1], 0x80);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out + 4), out[3]), "SN42");
  EXPECT_FALSE(scsiInquiryVpd(rig.platform, rig.handle, 0x83, sizeof out, out)) << "a page the device lacks";
}

TEST(ScsiCommandTest, ReceiveDiagnosticPage) {
  sim::SimMachine m = machineWith({bridgeDrive(sim::Transport::Raid)});
  m.drives[0].scsi.diagnostic[0x82] = {0x82, 0x00, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04};
  ScsiRig rig(std::move(m));
  uint8_t out[8] = {};
  ASSERT_TRUE(scsiReceiveDiagnostic(rig.platform, rig.handle, 0x82, 8, out));
  EXPECT_EQ(hex(out, 8), hex({0x82, 0x00, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04}));
  EXPECT_FALSE(scsiReceiveDiagnostic(rig.platform, rig.handle, 0x83, 8, out));
}

struct CapacityCase {
  const char* name;
  uint64_t sectors;
  uint32_t lba10;
  uint64_t lba16;
};

class ReadCapacityTest : public ::testing::TestWithParam<CapacityCase> {};

// The big-endian replies come back in host order.
TEST_P(ReadCapacityTest, LastLbaInHostOrder) {
  const CapacityCase& c = GetParam();
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::Scsi, 0, c.sectors)}));
  uint32_t lba = 0, size = 0;
  ASSERT_TRUE(scsiReadCapacity10(rig.platform, rig.handle, &lba, &size));
  EXPECT_EQ(lba, c.lba10);
  EXPECT_EQ(size, 512u);
  uint64_t lba64 = 0;
  ASSERT_TRUE(scsiReadCapacity16(rig.platform, rig.handle, &lba64));
  EXPECT_EQ(lba64, c.lba16);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ReadCapacityTest,
                         ::testing::Values(CapacityCase{"Small", 0x00123457, 0x00123456u, 0x00123456ull},
                                           CapacityCase{"DistinctBytes", 0x12345679, 0x12345678u, 0x12345678ull},
                                           // Above 2 TB the (10) reply saturates.
                                           CapacityCase{"Above2TB", 0x1'2345'6789ull, 0xFFFFFFFFu,
                                                        0x1'2345'6788ull}),
                         caseName<CapacityCase>);

TEST(ReadCapacityTest, FailureIsReported) {
  sim::SimMachine m = machineWith({bridgeDrive(sim::Transport::Optical)});
  ScsiRig rig(std::move(m));
  uint32_t lba = 7, size = 7;
  EXPECT_FALSE(scsiReadCapacity10(rig.platform, rig.handle, &lba, &size));
  rig.drive().scsi.readCapacity16Fails = true;
  uint64_t lba64 = 7;
  EXPECT_FALSE(scsiReadCapacity16(rig.platform, rig.handle, &lba64));
}

// ---------------------------------------------------------------------------------
// ATA PASS-THROUGH (16).

struct Sat16Case {
  const char* name;
  Call call;
  Bytes cdb;
  uint8_t dataIn;
  uint32_t transfer;
  uint32_t inSize;
  uint32_t outSize;
};

class Sat16RequestTest : public ::testing::TestWithParam<Sat16Case> {};

TEST_P(Sat16RequestTest, RecordAndCommandBlockByteByByte) {
  const Sat16Case& c = GetParam();
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbSat)}));
  c.call(rig.platform, rig.handle);
  const std::vector<SimRequest> sent = rig.scsi();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].inSize, c.inSize);
  EXPECT_EQ(sent[0].outSize, c.outSize);
  EXPECT_EQ(hex(slice(sent[0].input, 0, 44)), hex(plainRequestHeader(c.cdb, c.dataIn, c.transfer)));
}

// A distinct value in every register; the high-order device and command (FFh) are not
// sent.
const AtaRegisters48 g_registers{
    .current = {.features = 0x11, .count = 0x21, .lbaLow = 0x31, .lbaMid = 0x32, .lbaHigh = 0x33, .device = 0xE5,
                .command = 0x77},
    .previous = {.features = 0x12, .count = 0x22, .lbaLow = 0x34, .lbaMid = 0x35, .lbaHigh = 0x36, .device = 0xFF,
                 .command = 0xFF}};

INSTANTIATE_TEST_SUITE_P(
    Operations, Sat16RequestTest,
    ::testing::Values(
        // READ LOG EXT, log 30h page 3: protocol 4 + EXTEND (09h), 0Eh; count 7:0 in
        // byte 6, LBA 7:0 in byte 8, LBA 15:8 in byte 10, command in byte 14.
        Sat16Case{"ReadLogExt",
                  [](Platform& p, Handle h) {
                    uint8_t page[512];
                    return static_cast<int>(satReadIdentifyDataLog(p, h, page));
                  },
                  {0x85, 0x09, 0x0E, 0x00, 0x00, 0x00, 0x01, 0x00, 0x30, 0x00, 0x03, 0x00, 0x00, 0x00, 0x2F, 0x00},
                  1, 512, 44, 556},
        // DATA SET MANAGEMENT: protocol 11 UDMA out + EXTEND (17h), 06h; features 7:0
        // in byte 4, count 7:0 in byte 6.
        Sat16Case{"DataSetManagementTrim",
                  [](Platform& p, Handle h) {
                    uint8_t block[512] = {};
                    return static_cast<int>(satDataSetManagement(p, h, 0x06, block));
                  },
                  {0x85, 0x17, 0x06, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00},
                  0, 512, 556, 44},
        Sat16Case{"DataSetManagementXl",
                  [](Platform& p, Handle h) {
                    uint8_t block[512] = {};
                    return static_cast<int>(satDataSetManagement(p, h, 0x07, block));
                  },
                  {0x85, 0x17, 0x06, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x00},
                  0, 512, 556, 44},
        // Every register in its place.
        Sat16Case{"RegisterPlacesDataIn",
                  [](Platform& p, Handle h) {
                    return satPassThrough16(p, h, g_registers, Sat16Protocol::PioIn, 0, g_buffer, 512);
                  },
                  {0x85, 0x08, 0x0E, 0x12, 0x11, 0x22, 0x21, 0x34, 0x31, 0x35, 0x32, 0x36, 0x33, 0xE5, 0x77, 0x00},
                  1, 512, 44, 556},
        Sat16Case{"RegisterPlacesDataOut",
                  [](Platform& p, Handle h) {
                    return satPassThrough16(p, h, g_registers, Sat16Protocol::UdmaOut, 1, g_buffer, 1024);
                  },
                  {0x85, 0x17, 0x06, 0x12, 0x11, 0x22, 0x21, 0x34, 0x31, 0x35, 0x32, 0x36, 0x33, 0xE5, 0x77, 0x00},
                  0, 1024, 1068, 44},
        // Without a data buffer both lengths are 44.
        Sat16Case{"NoData",
                  [](Platform& p, Handle h) {
                    return satPassThrough16(p, h, g_registers, Sat16Protocol::PioIn, 1, nullptr, 512);
                  },
                  {0x85, 0x09, 0x0E, 0x12, 0x11, 0x22, 0x21, 0x34, 0x31, 0x35, 0x32, 0x36, 0x33, 0xE5, 0x77, 0x00},
                  1, 0, 44, 44}),
    caseName<Sat16Case>);

// Byte 1 and byte 2 of ATA PASS-THROUGH (16) for each protocol and EXTEND.
struct Sat16FlagsCase {
  const char* name;
  Sat16Protocol selector;
  int extend;
  int protocol;
  int tDir;
  int bytBlok;
  int tLength;
};

class Sat16FlagsTest : public ::testing::TestWithParam<Sat16FlagsCase> {};

TEST_P(Sat16FlagsTest, Bytes1And2BitByBit) {
  const Sat16FlagsCase& c = GetParam();
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbSat)}));
  (void)satPassThrough16(rig.platform, rig.handle, AtaRegisters48{}, c.selector, c.extend, g_buffer, 512);
  const std::vector<SimRequest> sent = rig.scsi();
  ASSERT_EQ(sent.size(), 1u);
  const uint8_t b1 = sent[0].input[28 + 1];
  const uint8_t b2 = sent[0].input[28 + 2];
  EXPECT_EQ(b1 >> 5, 0) << "MULTIPLE_COUNT";
  EXPECT_EQ((b1 >> 1) & 0x0F, c.protocol) << "PROTOCOL";
  EXPECT_EQ(b1 & 0x01, c.extend) << "EXTEND";
  EXPECT_EQ(b2 >> 5, 0) << "OFF_LINE, CK_COND";
  EXPECT_EQ((b2 >> 4) & 1, 0) << "bit 4";
  EXPECT_EQ((b2 >> 3) & 1, c.tDir) << "T_DIR";
  EXPECT_EQ((b2 >> 2) & 1, c.bytBlok) << "BYT_BLOK";
  EXPECT_EQ(b2 & 0x03, c.tLength) << "T_LENGTH";
}

INSTANTIATE_TEST_SUITE_P(Selectors, Sat16FlagsTest,
                         ::testing::Values(Sat16FlagsCase{"PioInExtended", Sat16Protocol::PioIn, 1, 4, 1, 1, 2},
                                           Sat16FlagsCase{"PioIn", Sat16Protocol::PioIn, 0, 4, 1, 1, 2},
                                           Sat16FlagsCase{"UdmaOutExtended", Sat16Protocol::UdmaOut, 1, 11, 0, 1, 2},
                                           Sat16FlagsCase{"UdmaOut", Sat16Protocol::UdmaOut, 0, 11, 0, 1, 2}),
                         caseName<Sat16FlagsCase>);

TEST(Sat16Test, OtherProtocolSelectorsSendNothing) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbSat)}));
  for (int selector : {0, 2, 3, 5, 6, 11, -1}) {
    CaptureStdout();
    EXPECT_EQ(satPassThrough16(rig.platform, rig.handle, AtaRegisters48{}, static_cast<Sat16Protocol>(selector), 1,
                               g_buffer, 512),
              0)
        << selector;
    EXPECT_EQ(GetCapturedStdout(), "PassThru_SAT_16: invalid protocol\n") << selector;
  }
  EXPECT_TRUE(rig.requests().empty());
}

TEST(Sat16Test, ReadLogExtDeliversThePage) {
  sim::SimMachine m = machineWith({bridgeDrive(sim::Transport::UsbSat)});
  const sim::Page page = sim::makeCapabilitiesPage(0x0004'0000'0000'0000ull);
  m.drives[0].ata.units.at(0).identifyLogPage3 = page;
  ScsiRig rig(std::move(m));
  uint8_t out[512] = {};
  ASSERT_TRUE(satReadIdentifyDataLog(rig.platform, rig.handle, out));
  EXPECT_EQ(Bytes(out, out + 512), bytesOf(page));
}

// A drive without the log answers CHECK CONDITION: a failure, but not a failed call.
TEST(Sat16Test, CheckConditionFailsQuietly) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbSat)}));
  uint8_t out[512] = {};
  CaptureStdout();
  EXPECT_FALSE(satReadIdentifyDataLog(rig.platform, rig.handle, out));
  EXPECT_EQ(GetCapturedStdout(), "");
}

TEST(Sat16Test, FailedCallIsReported) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbSat)}));
  sim::SimFault f;
  f.ioctl = kScsiPassThrough;
  f.error = 1117;
  rig.platform.injectFault(f);
  uint8_t out[512] = {};
  CaptureStdout();
  EXPECT_FALSE(satReadIdentifyDataLog(rig.platform, rig.handle, out));
  EXPECT_EQ(GetCapturedStdout(), "error sending IOCTL (1117)\n");
  uint8_t block[512] = {};
  CaptureStdout();
  EXPECT_EQ(satDataSetManagement(rig.platform, rig.handle, 0x06, block), DriveRequestError::Trim);
  EXPECT_EQ(GetCapturedStdout(), "error sending IOCTL (1117)\n");
}

TEST(Sat16Test, DataSetManagementTrimsTheRanges) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbSat)}));
  sim::SimMedia& media = rig.drive().disk();
  putSector(media, 0x1234, 0x5A);
  putSector(media, 0x1235, 0x5A);
  // One entry: LBA 1234h, 1 sector.
  uint8_t block[512] = {};
  block[0] = 0x34;
  block[1] = 0x12;
  block[6] = 0x01;
  EXPECT_EQ(satDataSetManagement(rig.platform, rig.handle, 0x06, block), DriveRequestError::None);
  EXPECT_EQ(slice(rig.scsi().at(0).input, 44, 512), Bytes(block, block + 512));
  EXPECT_EQ(sectorOf(media, 0x1234), Bytes(512, 0x00));
  EXPECT_EQ(sectorOf(media, 0x1235), Bytes(512, 0x5A));
}

TEST(Sat16Test, DriveRefusingTrimGives21) {
  sim::SimDrive d = makeDrive({.trim = false, .model = "VHT NO TRIM 01"});
  d.transport = sim::Transport::UsbSat;
  sim::applyTransportDefaults(d);
  ScsiRig rig(machineWith({d}));
  uint8_t block[512] = {};
  block[6] = 0x01;
  EXPECT_EQ(satDataSetManagement(rig.platform, rig.handle, 0x06, block), DriveRequestError::Trim);
}

// TRIM of a USB drive goes over ATA PASS-THROUGH (16), never over ATA pass-through.
TEST(Sat16Test, TrimRangeOfAUsbDriveUsesTheSixteenByteBlock) {
  sim::SimMachine m = machineWith({bridgeDrive(sim::Transport::UsbSat, 1, 0x2000'0000ull)});
  m.drives[0].ata.dsmXl = true;
  sim::SimPlatform platform(std::move(m));
  const TrimTarget target = makeTrimTarget(1, false, 0, true);
  EXPECT_EQ(trimRange(platform, target, 0x1000, 65ull * 61440), DriveRequestError::None);
  const std::vector<SimRequest> sent = platform.ioctls(kScsiPassThrough);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].input[28], 0x85);
  EXPECT_EQ(sent[0].input[28 + 14], 0x06);
  // Entry 0 of block 0: LBA 1000h, F000h sectors; block 1 holds the 65th entry.
  EXPECT_EQ(hex(slice(sent[0].input, 44, 8)), hex({0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0}));
  EXPECT_EQ(hex(slice(sent[1].input, 44, 8)), hex({0x00, 0x10, 0x3C, 0x00, 0x00, 0x00, 0x00, 0xF0}));
  EXPECT_TRUE(platform.ioctls(0x0004D02C).empty());
  EXPECT_EQ(platform.openHandleCount(), 0u);

  EXPECT_EQ(trimRangeXl(platform, target, 0x10, 0x20), DriveRequestError::None);
  const std::vector<SimRequest> xl = platform.ioctls(kScsiPassThrough);
  ASSERT_EQ(xl.size(), 3u);
  EXPECT_EQ(xl[2].input[28 + 14], 0x07);
  EXPECT_EQ(hex(slice(xl[2].input, 44, 16)),
            hex({0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST(Sat16Test, TrimRangeOfAUsbDriveReports21OnRefusal) {
  sim::SimPlatform platform(machineWith({bridgeDrive(sim::Transport::UsbSat, 0)}));
  sim::SimFault f;
  f.ioctl = kScsiPassThrough;
  platform.injectFault(f);
  CaptureStdout();
  EXPECT_EQ(trimRange(platform, makeTrimTarget(0, false, 0, true), 0, 8), DriveRequestError::Trim);
  GetCapturedStdout();
}

// ---------------------------------------------------------------------------------
// The bridge vendor command block.

struct AtacbCase {
  const char* name;
  bool capabilitiesFail;
  bool supported;
  bool signatureFails;
  std::array<uint8_t, 2> bridgeSignature;
  std::vector<uint32_t> codes;   // control codes in the order sent
  std::array<uint8_t, 2> sent;   // bytes 0 and 1 of the block
  int result;
  const char* printed;
};

class AtacbSignatureTest : public ::testing::TestWithParam<AtacbCase> {};

TEST_P(AtacbSignatureTest, CapabilityAndSignatureRequests) {
  const AtacbCase& c = GetParam();
  sim::SimMachine m = machineWith({bridgeDrive(sim::Transport::UsbAtacb)});
  m.drives[0].scsi.atacbDriver.capabilitiesFail = c.capabilitiesFail;
  m.drives[0].scsi.atacbDriver.supported = c.supported;
  m.drives[0].scsi.atacbDriver.signatureFails = c.signatureFails;
  m.drives[0].scsi.atacbDriver.signature = c.bridgeSignature;
  ScsiRig rig(std::move(m));
  uint8_t reply[512] = {};
  CaptureStdout();
  EXPECT_EQ(atacbCommand(rig.platform, rig.handle, kIdentifyA0, CarrierDirection::In, reply), c.result);
  EXPECT_EQ(GetCapturedStdout(), c.printed);

  const std::vector<SimRequest> log = rig.requests();
  ASSERT_EQ(log.size(), c.codes.size());
  for (size_t i = 0; i < log.size(); ++i) EXPECT_EQ(log[i].code, c.codes[i]) << i;
  if (!log.empty()) {
    EXPECT_EQ(log[0].inSize, 0u);
    EXPECT_EQ(log[0].outSize, 512u);
  }
  if (log.size() == 3) {
    EXPECT_EQ(log[1].inSize, 0u);
    EXPECT_EQ(log[1].outSize, 2u);
  }
  if (log.back().code == kScsiPassThrough) {
    EXPECT_EQ(log.back().input[28], c.sent[0]);
    EXPECT_EQ(log.back().input[29], c.sent[1]);
  }
}

const std::array<uint8_t, 2> kDollars = {0x24, 0x24};
const std::array<uint8_t, 2> kNamed = {0xC5, 0x5A};

INSTANTIATE_TEST_SUITE_P(
    Bridges, AtacbSignatureTest,
    ::testing::Values(
        AtacbCase{"NamedSignature", false, true, false, kNamed,
                  {kBridgeCapabilities, kBridgeSignature, kScsiPassThrough}, kNamed, 1, ""},
        // A failing capability request still drives the bridge, with 24h 24h.
        AtacbCase{"CapabilitiesFail", true, true, false, kDollars, {kBridgeCapabilities, kScsiPassThrough},
                  kDollars, 1, ""},
        AtacbCase{"CapabilitiesFailNamedBridge", true, true, false, kNamed, {kBridgeCapabilities, kScsiPassThrough},
                  kDollars, 0, ""},
        AtacbCase{"SignatureFails", false, true, true, kDollars,
                  {kBridgeCapabilities, kBridgeSignature, kScsiPassThrough}, kDollars, 1, ""},
        AtacbCase{"NotSupported", false, false, false, kNamed, {kBridgeCapabilities}, kNamed, 0,
                  "  TPP device does not support ATACB\n"}),
    caseName<AtacbCase>);

struct AtacbBlockCase {
  const char* name;
  Call call;
  Bytes cdb;
  uint8_t dataIn;
  uint32_t transfer;
  int result;
};

class AtacbBlockTest : public ::testing::TestWithParam<AtacbBlockCase> {};

TEST_P(AtacbBlockTest, CommandBlockByteByByte) {
  const AtacbBlockCase& c = GetParam();
  sim::SimMachine m = machineWith({bridgeDrive(sim::Transport::UsbAtacb)});
  m.drives[0].scsi.atacbDriver.signature = kNamed;
  ScsiRig rig(std::move(m));
  const int result = c.call(rig.platform, rig.handle);
  if (c.result >= 0) {
    EXPECT_EQ(result, c.result);
  }
  const std::vector<SimRequest> sent = rig.scsi();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].inSize, 72 + c.transfer);
  EXPECT_EQ(sent[0].outSize, 72 + c.transfer);
  EXPECT_EQ(hex(slice(sent[0].input, 0, 72)), hex(senseRequestHeader(c.cdb, c.dataIn, c.transfer)));
}

// Bytes 0-1 signature, 3 BEh, 4 block count, 6-12 features, count, LBA low, mid, high,
// device, command.
INSTANTIATE_TEST_SUITE_P(
    Commands, AtacbBlockTest,
    ::testing::Values(
        AtacbBlockCase{"Identify",
                       [](Platform& p, Handle h) {
                         return atacbCommand(p, h, kIdentifyA0, CarrierDirection::In, g_buffer);
                       },
                       {0xC5, 0x5A, 0x00, 0xBE, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00, 0x00,
                        0x00},
                       1, 512, 1},
        AtacbBlockCase{"EveryRegister",
                       [](Platform& p, Handle h) {
                         const AtaRegisters every{.features = 0x11, .count = 2, .lbaLow = 0x33, .lbaMid = 0x44,
                                                  .lbaHigh = 0x55, .device = 0xE0, .command = 0x20};
                         return atacbCommand(p, h, every, CarrierDirection::In, g_buffer);
                       },
                       {0xC5, 0x5A, 0x00, 0xBE, 0x02, 0x00, 0x11, 0x02, 0x33, 0x44, 0x55, 0xE0, 0x20, 0x00, 0x00,
                        0x00},
                       1, 1024, -1},
        AtacbBlockCase{"SmartEnable",
                       [](Platform& p, Handle h) { return carrierSmartEnable(p, h, kCarrierAtacb, 0xA0); },
                       {0xC5, 0x5A, 0x00, 0xBE, 0x00, 0x00, 0xD8, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0, 0x00, 0x00,
                        0x00},
                       1, 0, 1},
        AtacbBlockCase{"SmartReadData",
                       [](Platform& p, Handle h) {
                         uint8_t page[512];
                         return carrierSmartRead(p, h, kCarrierAtacb, 0xD0, 0xA0, page);
                       },
                       {0xC5, 0x5A, 0x00, 0xBE, 0x01, 0x00, 0xD0, 0x01, 0x00, 0x4F, 0xC2, 0xA0, 0xB0, 0x00, 0x00,
                        0x00},
                       1, 512, 1},
        AtacbBlockCase{"SmartReadThresholds",
                       [](Platform& p, Handle h) {
                         uint8_t page[512];
                         return carrierSmartRead(p, h, kCarrierAtacb, 0xD1, 0xA0, page);
                       },
                       {0xC5, 0x5A, 0x00, 0xBE, 0x01, 0x00, 0xD1, 0x01, 0x00, 0x4F, 0xC2, 0xA0, 0xB0, 0x00, 0x00,
                        0x00},
                       1, 512, 1},
        // Direction 0, sub-command in LBA low.
        AtacbBlockCase{"SmartExecuteOffline",
                       [](Platform& p, Handle h) {
                         return carrierSmartExecuteOffline(p, h, kCarrierAtacb, 0xA0, 0x01);
                       },
                       {0xC5, 0x5A, 0x00, 0xBE, 0x00, 0x00, 0xD4, 0x00, 0x01, 0x4F, 0xC2, 0xA0, 0xB0, 0x00, 0x00,
                        0x00},
                       0, 0, 1}),
    caseName<AtacbBlockCase>);

TEST(AtacbTest, DataArrives) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbAtacb)}));
  rig.drive().ata.units.at(0).smart.dataPage = patternPage(0x70);
  uint8_t page[512] = {};
  ASSERT_TRUE(carrierSmartRead(rig.platform, rig.handle, kCarrierAtacb, 0xD0, 0xA0, page));
  EXPECT_EQ(Bytes(page, page + 512), bytesOf(patternPage(0x70)));
}

TEST(AtacbTest, CountWithoutBufferFails) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbAtacb)}));
  EXPECT_FALSE(atacbCommand(rig.platform, rig.handle, kIdentifyA0, CarrierDirection::In, nullptr));
}

TEST(AtacbTest, DriveErrorFails) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbAtacb)}));
  rig.drive().ata.units.at(0).smart.enabled = false;
  uint8_t page[512];
  EXPECT_FALSE(carrierSmartRead(rig.platform, rig.handle, kCarrierAtacb, 0xD0, 0xA0, page));
}

TEST(AtacbTest, FailedCallIsReported) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbAtacb)}));
  sim::SimFault f;
  f.ioctl = kScsiPassThrough;
  f.error = 31;
  rig.platform.injectFault(f);
  CaptureStdout();
  EXPECT_FALSE(carrierSmartEnable(rig.platform, rig.handle, kCarrierAtacb, 0xA0));
  EXPECT_EQ(GetCapturedStdout(), "error sending IOCTL (31)\n");
}

// ---------------------------------------------------------------------------------
// Carriers and their SMART operations.

TEST(CarrierCommandTest, UnknownCarrierSendsNothing) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbSat)}));
  uint8_t page[512];
  for (int number : {0, 3, -1, 7}) {
    const AtaCarrier carrier = carrierOf(number);
    EXPECT_FALSE(carrierCommand(rig.platform, rig.handle, carrier, kIdentifyA0, CarrierDirection::In, page)) << carrier;
    EXPECT_FALSE(carrierSmartEnable(rig.platform, rig.handle, carrier, 0xA0)) << carrier;
    EXPECT_FALSE(carrierSmartRead(rig.platform, rig.handle, carrier, 0xD0, 0xA0, page)) << carrier;
    EXPECT_FALSE(carrierSmartExecuteOffline(rig.platform, rig.handle, carrier, 0xA0, 0x01)) << carrier;
  }
  EXPECT_TRUE(rig.requests().empty());
}

TEST(CarrierCommandTest, CarrierPicksTheBlock) {
  {
    ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbSat)}));
    EXPECT_TRUE(carrierSmartEnable(rig.platform, rig.handle, kCarrierSat12, 0xA0));
    ASSERT_EQ(rig.requests().size(), 1u);
    EXPECT_EQ(rig.scsi().at(0).input[28], 0xA1);
  }
  {
    ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbAtacb)}));
    EXPECT_TRUE(carrierSmartEnable(rig.platform, rig.handle, kCarrierAtacb, 0xA0));
    EXPECT_EQ(rig.scsi().size(), 1u);
    EXPECT_EQ(rig.platform.ioctls(kBridgeCapabilities).size(), 1u);
  }
}

struct CarrierSat12Case {
  const char* name;
  Call call;
  Bytes cdb;
  uint8_t dataIn;
  uint32_t transfer;
};

class CarrierSat12Test : public ::testing::TestWithParam<CarrierSat12Case> {};

TEST_P(CarrierSat12Test, SmartOperationBlocks) {
  const CarrierSat12Case& c = GetParam();
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::Raid)}));
  EXPECT_EQ(c.call(rig.platform, rig.handle), 1);
  const std::vector<SimRequest> sent = rig.scsi();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(hex(slice(sent[0].input, 0, 72)), hex(senseRequestHeader(c.cdb, c.dataIn, c.transfer)));
}

// On the RAID enclosure, device B0h addresses member B.
INSTANTIATE_TEST_SUITE_P(
    Operations, CarrierSat12Test,
    ::testing::Values(
        CarrierSat12Case{"Enable", [](Platform& p, Handle h) { return carrierSmartEnable(p, h, kCarrierSat12, 0xB0); },
                         {0xA1, 0x06, 0x0C, 0xD8, 0x00, 0x00, 0x4F, 0xC2, 0xB0, 0xB0, 0x00, 0x00}, 1, 0},
        CarrierSat12Case{"ReadData",
                         [](Platform& p, Handle h) {
                           uint8_t page[512];
                           return carrierSmartRead(p, h, kCarrierSat12, 0xD0, 0xB0, page);
                         },
                         {0xA1, 0x08, 0x0E, 0xD0, 0x01, 0x00, 0x4F, 0xC2, 0xB0, 0xB0, 0x00, 0x00}, 1, 512},
        CarrierSat12Case{"ReadThresholds",
                         [](Platform& p, Handle h) {
                           uint8_t page[512];
                           return carrierSmartRead(p, h, kCarrierSat12, 0xD1, 0xA0, page);
                         },
                         {0xA1, 0x08, 0x0E, 0xD1, 0x01, 0x00, 0x4F, 0xC2, 0xA0, 0xB0, 0x00, 0x00}, 1, 512},
        CarrierSat12Case{"ExecuteOffline",
                         [](Platform& p, Handle h) {
                           return carrierSmartExecuteOffline(p, h, kCarrierSat12, 0xB0, 0x02);
                         },
                         {0xA1, 0x06, 0x04, 0xD4, 0x00, 0x02, 0x4F, 0xC2, 0xB0, 0xB0, 0x00, 0x00}, 0, 0}),
    caseName<CarrierSat12Case>);

TEST(CarrierSmartTest, MemberSelectReachesEachMember) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::Raid)}));
  rig.drive().ata.units.at(0).smart.dataPage = patternPage(0x01);
  rig.drive().memberB->units.at(0).smart.dataPage = patternPage(0x02);
  uint8_t page[512] = {};
  ASSERT_TRUE(carrierSmartRead(rig.platform, rig.handle, kCarrierSat12, 0xD0, kRaidMemberB, page));
  EXPECT_EQ(Bytes(page, page + 512), bytesOf(patternPage(0x02)));
  ASSERT_TRUE(carrierSmartRead(rig.platform, rig.handle, kCarrierSat12, 0xD0, kRaidMemberA, page));
  EXPECT_EQ(Bytes(page, page + 512), bytesOf(patternPage(0x01)));

  EXPECT_TRUE(carrierSmartExecuteOffline(rig.platform, rig.handle, kCarrierSat12, kRaidMemberB, 0x01));
  EXPECT_TRUE(rig.drive().memberB->units.at(0).selfTest.running);
  EXPECT_FALSE(rig.drive().ata.units.at(0).selfTest.running);
}

// ---------------------------------------------------------------------------------
// Finding a bridge's carrier.

struct ProbeCase {
  const char* name;
  sim::Transport transport;
  uint8_t device;
  AtaCarrier result;
  std::vector<Bytes> cdbs;   // the leading bytes of each SCSI block sent, in order
};

class ProbeCarrierTest : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(ProbeCarrierTest, TriesSatThenTheVendorBlock) {
  const ProbeCase& c = GetParam();
  ScsiRig rig(machineWith({bridgeDrive(c.transport)}));
  uint8_t identify[512] = {};
  EXPECT_EQ(probeCarrier(rig.platform, rig.handle, c.device, identify), c.result);
  const std::vector<SimRequest> sent = rig.scsi();
  ASSERT_EQ(sent.size(), c.cdbs.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(hex(slice(sent[i].input, 28, c.cdbs[i].size())), hex(c.cdbs[i])) << "block " << i;
  }
  if (c.result != kCarrierNone) {
    EXPECT_EQ(Bytes(identify, identify + 512), identifyBytes(rig.drive().ata.units.at(0).identify));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bridges, ProbeCarrierTest,
    ::testing::Values(
        // IDENTIFY over (12), then SMART ENABLE the same way.
        ProbeCase{"Sat",
                  sim::Transport::UsbSat,
                  0xA0,
                  kCarrierSat12,
                  {{0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00, 0x00},
                   {0xA1, 0x06, 0x0C, 0xD8, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0, 0x00, 0x00}}},
        ProbeCase{"SatMemberB",
                  sim::Transport::Raid,
                  0xB0,
                  kCarrierSat12,
                  {{0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xB0, 0xEC, 0x00, 0x00},
                   {0xA1, 0x06, 0x0C, 0xD8, 0x00, 0x00, 0x4F, 0xC2, 0xB0, 0xB0, 0x00, 0x00}}},
        // The vendor block always asks device A0h.
        ProbeCase{"Atacb",
                  sim::Transport::UsbAtacb,
                  0xB0,
                  kCarrierAtacb,
                  {{0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xB0, 0xEC, 0x00, 0x00},
                   {0x24, 0x24, 0x00, 0xBE, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00, 0x00, 0x00}}},
        ProbeCase{"Neither",
                  sim::Transport::Scsi,
                  0xA0,
                  kCarrierNone,
                  {{0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00, 0x00},
                   {0x24, 0x24, 0x00, 0xBE, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00, 0x00, 0x00}}}),
    caseName<ProbeCase>);

// Once IDENTIFY has passed over (12), the carrier is (12) whatever SMART ENABLE answers.
TEST(ProbeCarrierTest, SatCarrierStandsWhenSmartEnableFails) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbSat)}));
  sim::SimFault f;
  f.ioctl = kScsiPassThrough;
  f.command = 0xB0;
  f.features = 0xD8;
  rig.platform.injectFault(f);
  uint8_t identify[512] = {};
  EXPECT_EQ(probeCarrier(rig.platform, rig.handle, 0xA0, identify), kCarrierSat12);
  const std::vector<SimRequest> sent = rig.scsi();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_FALSE(sent[1].ok);
  EXPECT_TRUE(rig.platform.ioctls(kBridgeCapabilities).empty());
}

// ---------------------------------------------------------------------------------
// The RAID enclosure's member probe.

TEST(SatMemberProbeTest, ReturnsTheRegistersOfTheMembersLastCommand) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::Raid)}));
  rig.drive().memberB->units.at(0).smart.reportExceeded = true;
  // SMART RETURN STATUS to each member, then each member's result block.
  AtaRegisters status{.features = 0xDA, .lbaMid = 0x4F, .lbaHigh = 0xC2, .device = kRaidMemberA, .command = 0xB0};
  ASSERT_TRUE(satPassThrough12(rig.platform, rig.handle, status, CarrierDirection::In, nullptr));
  status.device = kRaidMemberB;
  ASSERT_TRUE(satPassThrough12(rig.platform, rig.handle, status, CarrierDirection::In, nullptr));
  uint8_t a[512] = {};
  uint8_t b[512] = {};
  ASSERT_TRUE(satMemberProbe(rig.platform, rig.handle, 0, a));
  ASSERT_TRUE(satMemberProbe(rig.platform, rig.handle, 1, b));
  EXPECT_EQ(a[3], 0x4F);
  EXPECT_EQ(a[4], 0xC2);
  EXPECT_EQ(b[3], 0xF4);
  EXPECT_EQ(b[4], 0x2C);
}

TEST(SatMemberProbeTest, FailedCallIsReported) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::Raid)}));
  sim::SimFault f;
  f.ioctl = kScsiPassThrough;
  f.error = 1167;
  rig.platform.injectFault(f);
  uint8_t block[512];
  CaptureStdout();
  EXPECT_FALSE(satMemberProbe(rig.platform, rig.handle, 0, block));
  EXPECT_EQ(GetCapturedStdout(), "error sending IOCTL (1167)\n");
}

TEST(SatMemberProbeTest, BridgeWithoutSatFailsQuietly) {
  ScsiRig rig(machineWith({bridgeDrive(sim::Transport::UsbAtacb)}));
  uint8_t block[512];
  CaptureStdout();
  EXPECT_FALSE(satMemberProbe(rig.platform, rig.handle, 0, block));
  EXPECT_EQ(GetCapturedStdout(), "");
}

}  // namespace
}  // namespace palvoro
