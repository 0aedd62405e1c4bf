// The transports other than ATA pass-through, from raw records written byte by byte:
// the SMART driver, the SCSI miniport, SCSI targets, SAT and vendor bridges, the RAID
// enclosure, and self-tests over simulated time.

#include <gtest/gtest.h>

#include <cstring>

#include "platform/ioctl_codes.h"
#include "platform/sim/sim_platform.h"
#include "sim_test_support.h"

namespace palvoro::sim::testing {
namespace {

SimMachine withTransport(Transport t, uint64_t sectors = 1000000, int number = 0) {
  SimMachine m = oneDriveMachine(sectors);
  m.drives[0].number = number;
  m.drives[0].transport = t;
  applyTransportDefaults(m.drives[0]);
  return m;
}

// SENDCMDINPARAMS: cBufferSize, the IDE registers, bDriveNumber; 32 bytes.
std::vector<uint8_t> sendCmd(uint32_t bufferSize, std::array<uint8_t, 7> regs, uint8_t driveNumber = 0) {
  std::vector<uint8_t> in(32, 0);
  for (int i = 0; i < 4; ++i) in[static_cast<size_t>(i)] = static_cast<uint8_t>(bufferSize >> (8 * i));
  for (size_t i = 0; i < 7; ++i) in[4 + i] = regs[i];
  in[12] = driveNumber;
  return in;
}

// SRB_IO_CONTROL ("SCSIDISK", time-out 10000) followed by `body`.
std::vector<uint8_t> srb(uint32_t controlCode, uint32_t length, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> in(28, 0);
  in[0] = 28;
  std::memcpy(in.data() + 4, "SCSIDISK", 8);
  in[12] = 0x10;
  in[13] = 0x27;
  for (int i = 0; i < 4; ++i) {
    in[static_cast<size_t>(16 + i)] = static_cast<uint8_t>(controlCode >> (8 * i));
    in[static_cast<size_t>(24 + i)] = static_cast<uint8_t>(length >> (8 * i));
  }
  in.insert(in.end(), body.begin(), body.end());
  return in;
}

// SCSI pass-through with a 24-byte sense area: header (44), total size (4), sense (24),
// data from 72.
struct Spt {
  std::vector<uint8_t> bytes;
  Spt(std::vector<uint8_t> cdb, uint8_t dataIn, uint32_t dataLength) : bytes(72 + dataLength, 0) {
    bytes[0] = 44;
    bytes[6] = static_cast<uint8_t>(cdb.size());
    bytes[7] = 22;
    bytes[8] = dataIn;
    put32(12, dataLength);
    put32(16, 20);
    put32(20, 72);
    put32(24, 48);
    put32(44, static_cast<uint32_t>(bytes.size()));
    std::copy(cdb.begin(), cdb.end(), bytes.begin() + 28);
  }
  void put32(size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  uint8_t status() const { return bytes[2]; }
  uint8_t senseKey() const { return bytes[48 + 2]; }
  uint8_t asc() const { return bytes[48 + 12]; }
  const uint8_t* data() const { return bytes.data() + 72; }
  bool send(SimPlatform& p, Handle h, uint32_t* returned = nullptr) {
    uint32_t r = 0;
    const auto size = static_cast<uint32_t>(bytes.size());
    const bool ok = p.deviceIoControl(h, 0x0004D004, bytes.data(), size, bytes.data(), size, &r);
    if (returned != nullptr) *returned = r;
    return ok;
  }
};

TEST(SimSmartDriver, ReceivesIdentifyAndPagesBehindTheSixteenByteHeader) {
  SimPlatform p(oneDriveMachine());
  const Handle h = openDrive(p);
  std::vector<uint8_t> in = sendCmd(512, {0x00, 0x01, 0x01, 0x00, 0x00, 0xA0, 0xEC});
  std::vector<uint8_t> out(528, 0xEE);
  uint32_t returned = 0;
  ASSERT_TRUE(p.deviceIoControl(h, SMART_RCV_DRIVE_DATA, in.data(), 32, out.data(), 528, &returned));
  EXPECT_EQ(returned, 528u);
  EXPECT_EQ(out[0] | (out[1] << 8), 512);  // cBufferSize
  EXPECT_EQ(out[4], 0);                    // bDriverError
  EXPECT_EQ(out[16 + 54], 'E');            // model "TEST MODEL", swapped
  EXPECT_EQ(out[16 + 55], 'T');

  std::vector<uint8_t> read = sendCmd(512, {0xD0, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0});
  ASSERT_TRUE(p.deviceIoControl(h, SMART_RCV_DRIVE_DATA, read.data(), 32, out.data(), 528, &returned));
  EXPECT_EQ(out[16 + 2], 0x01);  // first attribute id
}

struct DriverRefusal {
  const char* name;
  uint32_t code;
  std::array<uint8_t, 7> regs;
  uint32_t inSize;
  uint32_t outSize;
  void (*arrange)(SimMachine&);
  uint32_t error;
};

const DriverRefusal kRefusals[] = {
    {"SEND with a READ DATA feature", SMART_SEND_DRIVE_COMMAND, {0xD0, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0}, 32, 528,
     [](SimMachine&) {}, 87},
    {"RCV with ENABLE", SMART_RCV_DRIVE_DATA, {0xD8, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0}, 32, 528, [](SimMachine&) {}, 87},
    {"SMART without its key", SMART_RCV_DRIVE_DATA, {0xD0, 1, 1, 0x00, 0xC2, 0xA0, 0xB0}, 32, 528,
     [](SimMachine&) {}, 87},
    {"input too short", SMART_RCV_DRIVE_DATA, {0xD0, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0}, 31, 528, [](SimMachine&) {}, 87},
    {"data output too short", SMART_RCV_DRIVE_DATA, {0xD0, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0}, 32, 527,
     [](SimMachine&) {}, 122},
    {"status output without room for the registers", SMART_SEND_DRIVE_COMMAND, {0xDA, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0},
     32, 16, [](SimMachine&) {}, 122},
    {"driver refusing RCV", SMART_RCV_DRIVE_DATA, {0xD0, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0}, 32, 528,
     [](SimMachine& m) { m.drives[0].smartDriver.rejectsReceive = true; }, 1},
    {"driver refusing RETURN STATUS", SMART_SEND_DRIVE_COMMAND, {0xDA, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0}, 32, 24,
     [](SimMachine& m) { m.drives[0].smartDriver.failsReturnStatus = true; }, 1},
    {"no SMART driver", SMART_SEND_DRIVE_COMMAND, {0xD8, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0}, 32, 16,
     [](SimMachine& m) { m.drives[0].smartDriver.present = false; }, 1},
    {"drive error", SMART_RCV_DRIVE_DATA, {0xD0, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0}, 32, 528,
     [](SimMachine& m) { m.drives[0].ata.units[0].smart.enabled = false; }, 1117},
};

TEST(SimSmartDriver, RefusesWhatTheDiskDriverRefuses) {
  for (const DriverRefusal& c : kRefusals) {
    SCOPED_TRACE(c.name);
    SimMachine m = oneDriveMachine();
    c.arrange(m);
    SimPlatform p(std::move(m));
    const Handle h = openDrive(p);
    std::vector<uint8_t> in = sendCmd(512, c.regs);
    std::vector<uint8_t> out(528, 0);
    uint32_t returned = 0;
    EXPECT_FALSE(p.deviceIoControl(h, c.code, in.data(), c.inSize, out.data(), c.outSize, &returned));
    EXPECT_EQ(p.lastError(), c.error);
  }
}

TEST(SimSmartDriver, ReturnStatusHandsBackTheRegistersAndVersionTheDeviceMap) {
  for (bool exceeded : {false, true}) {
    SimMachine m = oneDriveMachine();
    m.drives[0].ata.units[0].smart.reportExceeded = exceeded;
    SimPlatform p(std::move(m));
    const Handle h = openDrive(p);
    std::vector<uint8_t> in = sendCmd(0, {0xDA, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0});
    std::vector<uint8_t> out(24, 0);
    uint32_t returned = 0;
    ASSERT_TRUE(p.deviceIoControl(h, SMART_SEND_DRIVE_COMMAND, in.data(), 32, out.data(), 24, &returned));
    EXPECT_EQ(returned, 24u);
    EXPECT_EQ(out[16 + 3], exceeded ? 0xF4 : 0x4F);
    EXPECT_EQ(out[16 + 4], exceeded ? 0x2C : 0xC2);
  }
  SimPlatform p(oneDriveMachine());
  std::vector<uint8_t> version(24, 0);
  uint32_t returned = 0;
  ASSERT_TRUE(p.deviceIoControl(openDrive(p), SMART_GET_VERSION, nullptr, 0, version.data(), 24, &returned));
  EXPECT_EQ(version[3], 0x01);
  EXPECT_EQ(version[4], 0x07);
}

TEST(SimMiniport, PortsServeTheirTargetsWithoutAdministratorRights) {
  SimMachine m;
  m.administrator = false;
  for (int n : {0, 2, 3}) {
    SimMachine one = oneDriveMachine();
    one.drives[0].number = n;
    IdentityDescription identity;
    identity.model = "DRIVE" + std::to_string(n);
    identity.sectors = 1000;
    one.drives[0].ata.units[0].identify = makeIdentify(identity);
    m.drives.push_back(one.drives[0]);
  }
  SimPlatform p(std::move(m));
  EXPECT_EQ(openDrive(p, 2), INVALID_HANDLE_VALUE);
  const Handle port1 = p.createFile("\\\\.\\Scsi1:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  ASSERT_NE(port1, INVALID_HANDLE_VALUE);
  EXPECT_EQ(p.createFile("\\\\.\\Scsi7:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);

  const auto identifyTarget = [&](uint8_t target) {
    std::vector<uint8_t> in = srb(0x1B0501, 529, sendCmd(512, {0x00, 0x01, 0x01, 0x00, 0x00, 0xA0, 0xEC}, target));
    std::vector<uint8_t> out(557, 0);
    uint32_t returned = 0;
    EXPECT_TRUE(p.deviceIoControl(port1, IOCTL_SCSI_MINIPORT, in.data(), 60, out.data(), 557, &returned));
    EXPECT_EQ(returned, 557u);
    return std::string(1, static_cast<char>(out[28 + 16 + 55])) + static_cast<char>(out[28 + 16 + 54]) +
           static_cast<char>(out[28 + 16 + 57]) + static_cast<char>(out[28 + 16 + 56]) +
           static_cast<char>(out[28 + 16 + 59]) + static_cast<char>(out[28 + 16 + 58]);
  };
  EXPECT_EQ(identifyTarget(0), "DRIVE2");
  EXPECT_EQ(identifyTarget(1), "DRIVE3");
  EXPECT_EQ(identifyTarget(2).substr(0, 1), std::string(1, '\0'));  // nobody there: empty data

  std::vector<uint8_t> version = srb(0x1B0500, 24, {});
  std::vector<uint8_t> out(52, 0);
  uint32_t returned = 0;
  ASSERT_TRUE(p.deviceIoControl(port1, IOCTL_SCSI_MINIPORT, version.data(), 28, out.data(), 52, &returned));
  EXPECT_EQ(out[28 + 3], 0x03);  // two targets
}

TEST(SimMiniport, ChecksTheHeaderAndReportsThresholdExceededWithoutAnErrorCode) {
  SimMachine m = oneDriveMachine();
  m.drives[0].ata.units[0].smart.reportExceeded = true;
  SimPlatform p(std::move(m));
  const Handle port = p.createFile("\\\\.\\Scsi0:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> out(557, 0);
  uint32_t returned = 0;

  std::vector<uint8_t> status = srb(0x1B0506, 17, sendCmd(0, {0xDA, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0}));
  EXPECT_FALSE(p.deviceIoControl(port, IOCTL_SCSI_MINIPORT, status.data(), 60, out.data(), 44, &returned));
  EXPECT_EQ(p.lastError(), 0u);

  std::vector<uint8_t> badSignature = status;
  badSignature[4] = 'X';
  EXPECT_FALSE(p.deviceIoControl(port, IOCTL_SCSI_MINIPORT, badSignature.data(), 60, out.data(), 44, &returned));
  EXPECT_EQ(p.lastError(), 87u);
  std::vector<uint8_t> tooLong = srb(0x1B0502, 600, sendCmd(512, {0xD0, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0}));
  EXPECT_FALSE(p.deviceIoControl(port, IOCTL_SCSI_MINIPORT, tooLong.data(), 60, out.data(), 557, &returned));
  EXPECT_EQ(p.lastError(), 87u);
  std::vector<uint8_t> mismatched = srb(0x1B0502, 529, sendCmd(512, {0xD1, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0}));
  EXPECT_FALSE(p.deviceIoControl(port, IOCTL_SCSI_MINIPORT, mismatched.data(), 60, out.data(), 557, &returned));
  std::vector<uint8_t> read = srb(0x1B0502, 529, sendCmd(512, {0xD0, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0}));
  ASSERT_TRUE(p.deviceIoControl(port, IOCTL_SCSI_MINIPORT, read.data(), 60, out.data(), 557, &returned));
  EXPECT_EQ(out[28 + 16 + 2], 0x01);
}

TEST(SimScsi, InquiryVpdAndCapacityAsATargetAnswersThem) {
  SimPlatform p(withTransport(Transport::UsbSat, 6000000000ull));
  const Handle h = openDrive(p);
  Spt inquiry({0x12, 0x00, 0x00, 0x00, 74, 0x00}, 1, 74);
  uint32_t returned = 0;
  ASSERT_TRUE(inquiry.send(p, h, &returned));
  EXPECT_EQ(inquiry.status(), 0);
  EXPECT_EQ(returned, 72u + 74u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(inquiry.data()) + 8, 8), "Generic ");

  Spt pages({0x12, 0x01, 0x00, 0x00, 11, 0x00}, 1, 11);
  ASSERT_TRUE(pages.send(p, h));
  EXPECT_EQ(pages.data()[1], 0x00);
  EXPECT_EQ(pages.data()[3], 2);     // 00h and 80h
  EXPECT_EQ(pages.data()[5], 0x80);

  Spt missing({0x12, 0x01, 0xC3, 0x00, 96, 0x00}, 1, 96);
  ASSERT_TRUE(missing.send(p, h));
  EXPECT_EQ(missing.status(), 2);
  EXPECT_EQ(missing.senseKey(), 0x05);
  EXPECT_EQ(missing.asc(), 0x24);

  Spt cap10({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 8);
  ASSERT_TRUE(cap10.send(p, h));
  EXPECT_EQ(std::vector<uint8_t>(cap10.data(), cap10.data() + 8),
            (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00}));
  Spt cap16({0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0}, 1, 12);
  ASSERT_TRUE(cap16.send(p, h));
  // 6,000,000,000 sectors: last LBA 1_65A0_BBFFh.
  EXPECT_EQ(std::vector<uint8_t>(cap16.data(), cap16.data() + 12),
            (std::vector<uint8_t>{0, 0, 0, 0x01, 0x65, 0xA0, 0xBB, 0xFF, 0, 0, 0x02, 0}));

  // A read-style command sent without the data-in direction is refused by the target.
  Spt wrongDirection({0x12, 0x00, 0x00, 0x00, 74, 0x00}, 0, 0);
  ASSERT_TRUE(wrongDirection.send(p, h));
  EXPECT_EQ(wrongDirection.status(), 2);
}

TEST(SimScsi, OpticalDrivesAndAtaDisksDescribeThemselves) {
  SimPlatform optical(withTransport(Transport::Optical));
  Spt inquiry({0x12, 0x00, 0x00, 0x00, 74, 0x00}, 1, 74);
  ASSERT_TRUE(inquiry.send(optical, openDrive(optical)));
  EXPECT_EQ(inquiry.data()[0], 0x05);
  Spt capacity({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 8);
  ASSERT_TRUE(capacity.send(optical, openDrive(optical)));
  EXPECT_EQ(capacity.status(), 2);

  SimPlatform ata(withTransport(Transport::Ata));
  Spt ataInquiry({0x12, 0x00, 0x00, 0x00, 74, 0x00}, 1, 74);
  ASSERT_TRUE(ataInquiry.send(ata, openDrive(ata)));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ataInquiry.data()) + 8, 24), "ATA     TEST MODEL      ");
  // The controller's stack does not translate ATA PASS-THROUGH.
  Spt sat({0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00, 0x00}, 1, 512);
  ASSERT_TRUE(sat.send(ata, openDrive(ata)));
  EXPECT_EQ(sat.status(), 2);
  EXPECT_EQ(sat.asc(), 0x20);
}

TEST(SimSat, CarriesAtaCommandsInBothBlockSizes) {
  SimMachine m = withTransport(Transport::UsbSat);
  m.drives[0].ata.units[0].identifyLogPage3 = makeCapabilitiesPage(0x0004000000000000ull);
  SimPlatform p(std::move(m));
  const Handle h = openDrive(p);
  // IDENTIFY: protocol 4 (PIO in), T_DIR, BYT_BLOK, T_LENGTH 2.
  Spt identify({0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00, 0x00}, 1, 512);
  uint32_t returned = 0;
  ASSERT_TRUE(identify.send(p, h, &returned));
  EXPECT_EQ(identify.status(), 0);
  EXPECT_EQ(returned, 72u + 512u);
  EXPECT_EQ(identify.data()[54], 'E');
  // A SMART command through (12) without data: protocol 3.
  Spt enable({0xA1, 0x06, 0x00, 0xD8, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0, 0x00, 0x00}, 2, 0);
  ASSERT_TRUE(enable.send(p, h));
  EXPECT_EQ(enable.status(), 0);
  // An ATA error comes back as CHECK CONDITION, ABORTED COMMAND.
  Spt wrongKey({0xA1, 0x06, 0x00, 0xD8, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xB0, 0x00, 0x00}, 2, 0);
  ASSERT_TRUE(wrongKey.send(p, h));
  EXPECT_EQ(wrongKey.status(), 2);
  EXPECT_EQ(wrongKey.senseKey(), 0x0B);
  // Data length and direction must agree with the block.
  Spt shortBuffer({0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00, 0x00}, 1, 256);
  ASSERT_TRUE(shortBuffer.send(p, h));
  EXPECT_EQ(shortBuffer.status(), 2);

  // READ LOG EXT through (16), without a sense area: 44-byte header, data behind it.
  std::vector<uint8_t> req(44 + 512, 0);
  req[0] = 44;
  req[6] = 16;
  req[8] = 1;
  req[13] = 0x02;  // DataTransferLength 512
  req[16] = 20;
  req[20] = 44;
  const uint8_t cdb[16] = {0x85, 0x09, 0x0E, 0x00, 0x00, 0x00, 0x01, 0x00, 0x30, 0x00, 0x03, 0x00, 0x00, 0x00, 0x2F, 0x00};
  std::memcpy(req.data() + 28, cdb, 16);
  std::vector<uint8_t> out(44 + 512, 0);
  ASSERT_TRUE(p.deviceIoControl(h, 0x0004D004, req.data(), 44, out.data(), 44 + 512, &returned));
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(out[44 + 14], 0x04);
}

TEST(SimAtacb, BridgeAnswersItsControlCodesAndItsCommandBlock) {
  SimMachine m = withTransport(Transport::UsbAtacb);
  m.drives[0].scsi.atacbDriver.signature = {0x41, 0x42};
  SimPlatform p(std::move(m));
  const Handle h = openDrive(p);
  std::vector<uint8_t> caps(512, 0);
  uint32_t returned = 0;
  ASSERT_TRUE(p.deviceIoControl(h, 0x221400, nullptr, 0, caps.data(), 512, &returned));
  EXPECT_EQ(returned, 512u);
  EXPECT_EQ(caps[18], 0x04);  // bit 18 of the word at 16
  uint8_t sig[2] = {};
  ASSERT_TRUE(p.deviceIoControl(h, 0x221404, nullptr, 0, sig, 2, &returned));
  EXPECT_EQ(sig[0], 0x41);

  Spt identify({0x41, 0x42, 0x00, 0xBE, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0, 0, 0}, 1, 512);
  ASSERT_TRUE(identify.send(p, h, &returned));
  EXPECT_EQ(identify.status(), 0);
  EXPECT_EQ(identify.data()[54], 'E');
  Spt wrongSignature({0x24, 0x24, 0x00, 0xBE, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0, 0, 0}, 1, 512);
  ASSERT_TRUE(wrongSignature.send(p, h));
  EXPECT_EQ(wrongSignature.status(), 2);

  SimMachine failing = withTransport(Transport::UsbAtacb);
  failing.drives[0].scsi.atacbDriver.capabilitiesFail = true;
  SimPlatform q(std::move(failing));
  EXPECT_FALSE(q.deviceIoControl(openDrive(q), 0x221400, nullptr, 0, caps.data(), 512, &returned));
  SimPlatform sat(withTransport(Transport::UsbSat));
  EXPECT_FALSE(sat.deviceIoControl(openDrive(sat), 0x221400, nullptr, 0, caps.data(), 512, &returned));
}

TEST(SimRaid, DeviceByteAddressesTheMembersAndTheResultBlockShowsTheirRegisters) {
  SimMachine m = withTransport(Transport::Raid);
  IdentityDescription b;
  b.model = "MEMBER B";
  b.serial = "SERIAL-B";
  b.sectors = 1000000;
  m.drives[0].memberB->units[0].identify = makeIdentify(b);
  m.drives[0].memberB->bridgeSignature = true;
  refreshRaidMemberPages(m.drives[0]);
  SimPlatform p(std::move(m));
  const Handle h = openDrive(p);
  for (uint8_t device : {0xA0, 0xB0}) {
    Spt identify({0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, device, 0xEC, 0x00, 0x00}, 1, 512);
    ASSERT_TRUE(identify.send(p, h));
    EXPECT_EQ(identify.data()[54], device == 0xA0 ? 'E' : 'E');
    EXPECT_EQ(identify.data()[55], device == 0xA0 ? 'T' : 'M');
  }
  Spt diagnostic({0xA1, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xB0, 0x90, 0x00, 0x00}, 2, 0);
  ASSERT_TRUE(diagnostic.send(p, h));
  for (uint8_t device : {0xA0, 0xB0}) {
    Spt result({0xA1, 0x1E, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, device, 0x00, 0x00, 0x00}, 1, 512);
    uint32_t returned = 0;
    ASSERT_TRUE(result.send(p, h, &returned));
    EXPECT_GT(returned, 512u);
    EXPECT_EQ(result.data()[3], device == 0xB0 ? 0xCD : 0x00);
    EXPECT_EQ(result.data()[4], device == 0xB0 ? 0xAB : 0x00);
  }
  Spt page2({0x12, 0x01, 0x02, 0x00, 26, 0x00}, 1, 26);
  ASSERT_TRUE(page2.send(p, h));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(page2.data()) + 5, 8), "SERIAL-B");
  Spt page0({0x12, 0x01, 0x00, 0x00, 11, 0x00}, 1, 11);
  ASSERT_TRUE(page0.send(p, h));
  EXPECT_EQ(page0.data()[5], 0x01);
  EXPECT_EQ(page0.data()[6], 0x02);
}

TEST(SimSelfTest, RunsOnTheSimulatedClock) {
  SimMachine m = oneDriveMachine();
  m.drives[0].ata.units[0].selfTest.shortSeconds = 100;
  m.drives[0].ata.units[0].selfTest.result = 7;
  m.drives[0].ata.units[0].selfTest.checkpoint = 0x21;
  SimPlatform p(std::move(m));
  const Handle h = openDrive(p);
  const auto status = [&] {
    RawAta read(3, 512, {0xD0, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0});
    EXPECT_TRUE(sendRaw(p, h, read, 40, 552));
    return std::pair<int, int>(read.data()[363], read.data()[371]);
  };
  RawAta start(1, 0, {0xD4, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0});
  ASSERT_TRUE(sendRaw(p, h, start, 40, 40));
  EXPECT_EQ(start.status(), 0x50);
  EXPECT_EQ(status().first, 0xF9);
  p.advanceClock(55000);
  EXPECT_EQ(status().first, 0xF5);
  RawAta again(1, 0, {0xD4, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0});
  ASSERT_TRUE(sendRaw(p, h, again, 40, 40));
  EXPECT_EQ(again.status(), 0x51);  // one at a time
  p.advanceClock(45000);
  EXPECT_EQ(status(), (std::pair<int, int>(0x70, 0x21)));

  RawAta conveyance(1, 0, {0xD4, 0x03, 0x03, 0x4F, 0xC2, 0xA0, 0xB0});
  ASSERT_TRUE(sendRaw(p, h, conveyance, 40, 40));
  RawAta abort(1, 0, {0xD4, 0x7F, 0x7F, 0x4F, 0xC2, 0xA0, 0xB0});
  ASSERT_TRUE(sendRaw(p, h, abort, 40, 40));
  EXPECT_EQ(status().first, 0x10);
}

TEST(SimStorage, AdapterPropertyGivesTheBusType) {
  for (auto [transport, bus] : {std::pair{Transport::Ata, 11}, {Transport::UsbSat, 7}, {Transport::FireWire, 4},
                                {Transport::Scsi, 1}}) {
    SimPlatform p(withTransport(transport));
    uint8_t query[12] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    uint8_t out[512] = {};
    uint32_t returned = 0;
    ASSERT_TRUE(p.deviceIoControl(openDrive(p), IOCTL_STORAGE_QUERY_PROPERTY, query, 12, out, 512, &returned));
    EXPECT_EQ(out[24], bus);
  }
}

TEST(MachineLoaderTransports, ReadsBridgesAndTheirScsiData) {
  SimMachine m = loadMachine(R"({"drives": [
    {"number": 1, "transport": "usb-atacb", "identity": {"sectors": 100, "model": "M"},
     "atacb": {"capabilitiesFail": true, "signature": "0x4142"},
     "inquiry": {"vendor": "HP", "product": "Portable", "text": {"40": "SN12345"}},
     "vpd": {"0xC3": {"hex": "00 C3 00 08 00 00 00 00 00 00 25 F3"}}},
    {"number": 2, "transport": "raid", "identity": {"sectors": 100, "serial": "AAA"},
     "memberB": {"identity": {"sectors": 100, "serial": "BBB"}},
     "diagnostic": {"0x82": {"hex": "82 00 00 04 41 00 00 00"}}}]})");
  const SimDrive& bridge = *m.findDrive(1);
  EXPECT_EQ(bridge.busType, 7);
  EXPECT_TRUE(bridge.scsi.atacb);
  EXPECT_TRUE(bridge.scsi.atacbDriver.capabilitiesFail);
  EXPECT_EQ(bridge.scsi.atacbDriver.signature[1], 0x42);
  EXPECT_EQ(std::string(bridge.scsi.inquiry.begin() + 8, bridge.scsi.inquiry.begin() + 16), "HP      ");
  EXPECT_EQ(std::string(bridge.scsi.inquiry.begin() + 40, bridge.scsi.inquiry.begin() + 47), "SN12345");
  EXPECT_EQ(bridge.scsi.vpd.at(0xC3).at(11), 0xF3);
  const SimDrive& raid = *m.findDrive(2);
  ASSERT_TRUE(raid.memberB.has_value());
  EXPECT_EQ(raid.scsi.vpd.at(0x02).at(5), 'B');
  EXPECT_EQ(raid.scsi.vpd.at(0x01).at(5), 'A');
  EXPECT_EQ(raid.scsi.diagnostic.at(0x82).at(4), 0x41);

  try {
    loadMachine(R"({"drives": [{"number": 0, "transport": "tape", "identity": {"sectors": 1}}]})");
    ADD_FAILURE();
  } catch (const MachineDescriptionError& e) {
    EXPECT_NE(std::string(e.what()).find("usb-sat"), std::string::npos);
  }
  EXPECT_THROW(loadMachine(R"({"drives": [{"number": 0, "identity": {"sectors": 1}, "memberB": {"identity": {"sectors": 1}}}]})"),
               MachineDescriptionError);
  EXPECT_THROW(loadMachine(R"({"drives": [{"number": 0, "identity": {"sectors": 1}, "vpd": {"0x80": {"hex": "0"}}}]})"),
               MachineDescriptionError);
}

}  // namespace
}  // namespace palvoro::sim::testing

namespace palvoro::sim::testing {
namespace {

TEST(SimFaults, MatchCarriedCommandsAndCanLetTheFirstOnesThrough) {
  SimPlatform p(withTransport(Transport::UsbSat));
  const Handle h = openDrive(p);
  SimFault thresholds;
  thresholds.kind = SimFault::Kind::AtaError;
  thresholds.ioctl = IOCTL_SCSI_PASS_THROUGH;
  thresholds.command = 0xB0;
  thresholds.features = 0xD1;
  thresholds.skip = 1;
  thresholds.remaining = 1;
  p.injectFault(thresholds);
  const auto readPage = [&](uint8_t feature) {
    Spt read({0xA1, 0x08, 0x0E, feature, 0x01, 0x00, 0x4F, 0xC2, 0xA0, 0xB0, 0x00, 0x00}, 1, 512);
    EXPECT_TRUE(read.send(p, h));
    return read.status();
  };
  EXPECT_EQ(readPage(0xD0), 0);  // another feature: untouched
  EXPECT_EQ(readPage(0xD1), 0);  // the first match is let through
  EXPECT_EQ(readPage(0xD1), 2);  // the second fails with ERR
  EXPECT_EQ(readPage(0xD1), 0);  // and the fault is spent
}

}  // namespace
}  // namespace palvoro::sim::testing
