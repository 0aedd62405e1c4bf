// The Linux backend answering the core's own requests over the lab's fixture trees: the
// command blocks SG_IO receives byte by byte, what the core gets back from the kernel's
// answers, identity from sysfs for devices without a command channel, detection end to
// end, and the rights of a user who is not an administrator.

#include "platform/linux/linux_platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "device/ata_command.h"
#include "device/drive_requests.h"
#include "device/scsi_transport.h"
#include "device/smart_transport.h"
#include "discovery/detection.h"
#include "linux_rig.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"
#include "smart/smart_pages.h"

namespace palvoro::real::test {
namespace {

// ---------------------------------------------------------------------------------
// Command blocks. Every ATA command travels in ATA PASS-THROUGH (16):
//   0 85h | 1 protocol << 1 | extend | 2 CK_COND 20h, T_DIR 08h, BYT_BLOK 04h, T_LENGTH 2
//   (count) | 3/4 features 15:8/7:0 | 5/6 count | 7/8 LBA 31:24/7:0 | 9/10 LBA 39:32/15:8 |
//   11/12 LBA 47:40/23:16 | 13 device | 14 command | 15 control
// with protocol 3 non-data, 4 PIO data-in. SCSI command blocks pass unchanged.

struct CommandCase {
  const char* name;
  std::function<void(Platform&, Handle)> send;
  Bytes cdb;
  int direction;
  uint32_t length;
  uint32_t timeoutMs;
};

uint8_t g_buffer[kSmartBufferSize];

const CommandCase kCommands[] = {
    {"IdentifyThroughTheSmartDriver",
     [](Platform& p, Handle h) { (void)smartIdentify(p, h, false, 0xEC, 0, g_buffer); },
     {0x85, 0x08, 0x0E, 0, 0x00, 0, 0x01, 0, 0x01, 0, 0x00, 0, 0x00, 0xA0, 0xEC, 0}, SG_DXFER_FROM_DEV, 512, 10000},
    {"IdentifyThroughAtaPassThrough",
     [](Platform& p, Handle h) {
       uint8_t page[512];
       (void)ataIdentify(p, h, 0, page);
     },
     {0x85, 0x08, 0x0E, 0, 0x00, 0, 0x01, 0, 0x01, 0, 0x00, 0, 0x00, 0xA0, 0xEC, 0}, SG_DXFER_FROM_DEV, 512, 30000},
    {"SmartReadData",
     [](Platform& p, Handle h) {
       uint8_t page[512];
       (void)ataSmartReadData(p, h, 0, page);
     },
     {0x85, 0x08, 0x0E, 0, 0xD0, 0, 0x01, 0, 0x01, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0}, SG_DXFER_FROM_DEV, 512, 30000},
    // Non-data with CK_COND: the registers are the answer.
    {"SmartReturnStatus", [](Platform& p, Handle h) { (void)smartReturnStatusTri(p, h, false, 0, 0); },
     {0x85, 0x06, 0x20, 0, 0xDA, 0, 0x01, 0, 0x01, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0}, SG_DXFER_NONE, 0, 10000},
    // LBA 12345678h, count 0102h: EXTEND, and each upper byte beside its lower one.
    {"ReadVerifyExt48Bit",
     [](Platform& p, Handle h) { (void)sendAtaCommand(p, h, readVerifySectorsExtCommand(0, 0x12345678, 0x0102)); },
     {0x85, 0x07, 0x20, 0x00, 0x00, 0x01, 0x02, 0x12, 0x78, 0x00, 0x56, 0x00, 0x34, 0x00, 0x42, 0}, SG_DXFER_NONE, 0,
     30000},
    {"ScsiInquiryUnchanged",
     [](Platform& p, Handle h) {
       uint8_t out[74];
       (void)scsiInquiry(p, h, out);
     },
     {0x12, 0x00, 0x00, 0x00, 0x4A, 0x00}, SG_DXFER_FROM_DEV, 74, 20000},
    {"ReadCapacity16Unchanged",
     [](Platform& p, Handle h) {
       uint64_t last = 0;
       (void)scsiReadCapacity16(p, h, &last);
     },
     {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x00}, SG_DXFER_FROM_DEV, 12, 20000},
    {"Sat12IdentifyUnchanged",
     [](Platform& p, Handle h) {
       uint8_t data[512];
       (void)satPassThrough12(p, h, palvoro::AtaRegisters{0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC},
                              CarrierDirection::In, data);
     },
     {0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00, 0x00}, SG_DXFER_FROM_DEV, 512, 20000},
    // Timeouts arrive in seconds and are capped at a minute: a cheap bridge may never answer.
    {"AtaTimeoutCapped",
     [](Platform& p, Handle h) {
       AtaCommandRecord record;
       buildAtaRecord(identifyDeviceCommand(0), nullptr, record);
       record.header.TimeOutValue = 3600;
       uint32_t n = 0;
       (void)p.deviceIoControl(h, IOCTL_ATA_PASS_THROUGH, &record, sizeof record.header, &record, sizeof record, &n);
     },
     {0x85, 0x08, 0x0E, 0, 0x00, 0, 0x01, 0, 0x01, 0, 0x00, 0, 0x00, 0xA0, 0xEC, 0}, SG_DXFER_FROM_DEV, 512, 60000},
};

TEST(LinuxCommandBlockTest, SgIoReceivesExactBlocks) {
  for (const CommandCase& c : kCommands) {
    SCOPED_TRACE(c.name);
    Rig rig({"sata_ahci"});
    rig.sys.sgHandler = [](const SgRequest& r) {
      return r.cdb[0] == 0x85 && (r.cdb[2] & 0x20) != 0 ? checkCondition(kLabReturnStatusGood) : SgAnswer{};
    };
    const Handle h = rig.open(0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    c.send(rig.platform, h);
    ASSERT_EQ(rig.sys.sgRequests.size(), 1u);
    const SgRequest& r = rig.sys.sgRequests[0];
    EXPECT_EQ(r.device, fakeNode("sda"));
    EXPECT_EQ(r.interfaceId, 'S');
    EXPECT_EQ(hex(r.cdb), hex(c.cdb));
    EXPECT_EQ(r.direction, c.direction);
    EXPECT_EQ(r.length, c.length);
    EXPECT_EQ(r.timeoutMs, c.timeoutMs);
    EXPECT_EQ(r.senseRoom, 64u);
  }
}

// SMART RETURN STATUS reads LBA mid/high from the sense of a CK_COND answer; without
// registers there is no verdict, never a healthy one.
TEST(LinuxCommandBlockTest, ReturnStatusFromTheRegisters) {
  Bytes exceeded = kLabReturnStatusGood;
  exceeded[17] = 0xF4;
  exceeded[19] = 0x2C;
  struct Case {
    const char* name;
    SgAnswer answer;
    SmartReturnStatus verdict;
  };
  const Case cases[] = {
      {"Good", checkCondition(kLabReturnStatusGood), SmartReturnStatus::Healthy},
      {"ThresholdExceeded", checkCondition(exceeded), SmartReturnStatus::ThresholdExceeded},
      {"GoodWithoutRegisters", SgAnswer{}, SmartReturnStatus::Undetermined},
  };
  for (const Case& c : cases) {
    Rig rig({"sata_ahci"});
    rig.sys.sgHandler = [&](const SgRequest&) { return c.answer; };
    const Handle h = rig.open(0);
    EXPECT_EQ(smartReturnStatusTri(rig.platform, h, false, 0, 0), c.verdict) << c.name;
  }
}

// EXECUTE DEVICE DIAGNOSTIC resets the drive under the kernel: it is never sent, and the
// answer is what libata's own reset found, an ATA device (signature 01/01/00/00).
TEST(LinuxCommandBlockTest, DeviceDiagnosticAnsweredWithoutSending) {
  Rig rig({"sata_ahci"});
  const Handle h = rig.open(0);
  const AtaReply r = sendAtaCommand(rig.platform, h, executeDeviceDiagnosticCommand(0));
  EXPECT_TRUE(r.requestOk);
  EXPECT_EQ(hex({r.current.features, r.current.count, r.current.lbaLow, r.current.lbaMid, r.current.lbaHigh,
                 r.current.command}),
            hex({0x01, 0x01, 0x01, 0x00, 0x00, 0x50}));
  EXPECT_FALSE(ataDiagnosticSignatureIsBridge(rig.platform, h, 0));
  EXPECT_TRUE(rig.sys.sgRequests.empty());
}

// READ SECTOR(S) of a bad sector, answered as the lab's kernel answers it: the core sees
// the drive's error and status registers, not a failed request.
TEST(LinuxCommandBlockTest, BadSectorReadGivesTheDrivesRegisters) {
  Rig rig({"sata_ahci"});
  rig.sys.sgHandler = [](const SgRequest&) { return checkCondition(kLabBadSectorPio); };
  const Handle h = rig.open(0);
  AtaCommand read;
  read.flags = ATA_FLAGS_DRDY_REQUIRED | ATA_FLAGS_DATA_IN;
  read.direction = AtaDirection::In;
  read.outSize = sizeof(AtaCommandRecord);
  read.current = {0x00, 0x01, 0xE8, 0x03, 0x00, 0xE0, 0x20};
  uint8_t data[512];
  const AtaReply reply = sendAtaCommand(rig.platform, h, read, nullptr, data);
  EXPECT_TRUE(reply.requestOk);
  EXPECT_TRUE(reply.errSet());
  const palvoro::AtaRegisters& r = reply.current;
  EXPECT_EQ(hex({r.features, r.count, r.lbaLow, r.device, r.command}), hex({0x04, 0x01, 0xE8, 0xE0, 0x41}));
}

// ---------------------------------------------------------------------------------
// What the kernel's failures become.

TEST(LinuxTransferTest, KernelFailuresBecomeTheCoresErrors) {
  struct Case {
    const char* name;
    std::function<void(FakeSysCalls&)> script;
    std::function<bool(Platform&, Handle)> action;
    bool ok;
    uint32_t error;
    size_t sgRequests;
  };
  const auto identify = [](Platform& p, Handle h) {
    uint8_t page[512];
    return ataIdentify(p, h, 0, page);
  };
  const auto inquiry = [](Platform& p, Handle h) {
    uint8_t out[74];
    return scsiInquiry(p, h, out);
  };
  const auto read = [](uint32_t size, int64_t at, size_t misalign) {
    return [=](Platform& p, Handle h) {
      static uint8_t* const buffer = static_cast<uint8_t*>(std::aligned_alloc(4096, 3 * 4096));
      int32_t high = static_cast<int32_t>(at >> 32);
      // A refused position shows in the read that follows it.
      (void)p.setFilePointer(h, static_cast<int32_t>(at & 0xFFFFFFFF), &high, FILE_BEGIN);
      uint32_t n = 0;
      const bool ok = p.readFile(h, buffer + misalign, size, &n);
      return ok && n == size && buffer[misalign + 1] == 0x5A;
    };
  };
  const auto fourKiB = [](FakeSysCalls& s) {
    s.addFile("/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda/queue/logical_block_size",
              "4096\n");
    s.addDevice(fakeNode("sda"), DeviceNode{1073741824, 4096, 1, true});
    s.putSector(fakeNode("sda"), 0, Bytes(4096, 0x5A));
    s.putSector(fakeNode("sda"), 1073741824 - 4096, Bytes(4096, 0x5A));
  };
  const auto answer = [](SgAnswer a) { return [a](FakeSysCalls& s) { s.sgHandler = [a](const SgRequest&) { return a; }; }; };
  SgAnswer noConnect;
  noConnect.hostStatus = 0x01;  // DID_NO_CONNECT
  SgAnswer timedOut;
  timedOut.hostStatus = 0x03;  // DID_TIME_OUT
  SgAnswer gone;
  gone.error = -ENODEV;
  const Case cases[] = {
      {"ReadEio", [](FakeSysCalls& s) { s.failReadAt(fakeNode("sda"), 0, -EIO); }, read(512, 0, 0), false, ERROR_CRC, 0},
      {"SgIoNoDevice", answer(gone), identify, false, ERROR_DEVICE_NOT_CONNECTED, 1},
      {"AtaDidNoConnect", answer(noConnect), identify, false, ERROR_DEVICE_NOT_CONNECTED, 1},
      {"ScsiDidNoConnect", answer(noConnect), inquiry, false, ERROR_DEVICE_NOT_CONNECTED, 1},
      {"AtaHostTimeout", answer(timedOut), identify, false, ERROR_IO_DEVICE, 1},
      // A reset is reported once; the command never ran, so it goes again.
      {"UnitAttentionRetriedOnce",
       [](FakeSysCalls& s) {
         s.sgHandler = [&s](const SgRequest&) {
           return s.sgRequests.size() == 1
                      ? checkCondition({0x70, 0, 0x06, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x29, 0x00, 0, 0, 0, 0})
                      : SgAnswer{};
         };
       },
       identify, true, ERROR_SUCCESS, 2},
      {"FourKiBSectorsRefuse512Bytes", fourKiB, read(512, 0, 0), false, ERROR_INVALID_PARAMETER, 0},
      {"FourKiBSectorsIntoAnUnalignedBuffer", fourKiB, read(4096, 0, 1), true, ERROR_SUCCESS, 0},
      {"LastSector", fourKiB, read(4096, 1073741824 - 4096, 0), true, ERROR_SUCCESS, 0},
      {"PastTheEnd", fourKiB, read(4096, 1073741824, 0), false, ERROR_SECTOR_NOT_FOUND, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig({"sata_ahci"});
    c.script(rig.sys);
    const Handle h = rig.open(0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(c.action(rig.platform, h), c.ok);
    EXPECT_EQ(rig.platform.lastError(), c.error);
    EXPECT_EQ(rig.sys.sgRequests.size(), c.sgRequests);
  }
}

// ---------------------------------------------------------------------------------
// Devices without SG_IO answer from sysfs, as the Windows disk stack does for them.

struct Reply {
  bool ok;
  uint8_t status;
  Bytes data;
  Bytes sense;
};

Reply scsi(Platform& p, Handle h, const Bytes& cdb, uint32_t length) {
  constexpr uint32_t kSenseAt = 48, kSenseRoom = 32, kDataAt = 80;
  std::vector<uint8_t> request(kDataAt + length, 0);
  SCSI_PASS_THROUGH spt{};
  spt.Length = sizeof spt;
  spt.CdbLength = static_cast<uint8_t>(cdb.size());
  spt.SenseInfoLength = kSenseRoom;
  spt.DataIn = SCSI_IOCTL_DATA_IN;
  spt.DataTransferLength = length;
  spt.TimeOutValue = 20;
  spt.DataBufferOffset = kDataAt;
  spt.SenseInfoOffset = kSenseAt;
  std::memcpy(spt.Cdb, cdb.data(), cdb.size());
  std::memcpy(request.data(), &spt, sizeof spt);
  uint32_t n = 0;
  Reply r;
  r.ok = p.deviceIoControl(h, IOCTL_SCSI_PASS_THROUGH, request.data(), static_cast<uint32_t>(request.size()),
                           request.data(), static_cast<uint32_t>(request.size()), &n);
  std::memcpy(&spt, request.data(), sizeof spt);
  r.status = spt.ScsiStatus;
  r.data.assign(request.begin() + kDataAt, request.begin() + kDataAt + spt.DataTransferLength);
  r.sense.assign(request.begin() + kSenseAt, request.begin() + kSenseAt + spt.SenseInfoLength);
  return r;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(LinuxNoSgIoTest, IdentityAndCapacityFromSysfs) {
  const Bytes illegalOpcode = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00, 0, 0, 0, 0};
  struct Case {
    const char* fixture;
    const char* name;
    Bytes cdb;
    uint32_t length;
    uint8_t status;
    Bytes data;
  };
  const Case cases[] = {
      {"nvme", "Inquiry", {0x12, 0, 0, 0, 36, 0}, 36, 0,
       cat({{0x00, 0x00, 0x05, 0x02, 31, 0, 0, 0}, text("QEMU    NVMe Ctrl       2.22")})},
      {"nvme", "SupportedPages", {0x12, 1, 0x00, 0, 255, 0}, 255, 0, {0x00, 0x00, 0x00, 0x02, 0x00, 0x80}},
      {"nvme", "SerialPage", {0x12, 1, 0x80, 0, 255, 0}, 255, 0,
       cat({{0x00, 0x80, 0x00, 14}, text("LABNVME0000006")})},
      {"nvme", "ReadCapacity10", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, 0,
       {0x00, 0x07, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00}},
      {"nvme", "ReadCapacity16", {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, 32, 0,
       cat({{0, 0, 0, 0, 0x00, 0x07, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00}, Bytes(20, 0)})},
      {"nvme", "LogSense", {0x4D, 0, 0x6F, 0, 0, 0, 0, 0, 0xFC, 0}, 252, 2, {}},
      {"nvme", "AtaPassThrough16", {0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0}, 512, 2, {}},
      {"virtio_blk", "Inquiry", {0x12, 0, 0, 0, 36, 0}, 36, 0,
       cat({{0x00, 0x00, 0x05, 0x02, 31, 0, 0, 0}, text("VirtIO  Block Device        ")})},
      {"virtio_blk", "SerialPage", {0x12, 1, 0x80, 0, 255, 0}, 255, 0,
       cat({{0x00, 0x80, 0x00, 14}, text("LABVBLK0000007")})},
      {"virtio_blk", "ReadCapacity10", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, 0,
       {0x00, 0x01, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00}},
      {"virtio_blk", "Verify10", {0x2F, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 0, 2, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fixture) + " " + c.name);
    Rig rig({c.fixture});
    const Handle h = rig.open(0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const Reply r = scsi(rig.platform, h, c.cdb, c.length);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(hex(c.status == 0 ? r.data : r.sense), hex(c.status == 0 ? c.data : illegalOpcode));
    EXPECT_TRUE(rig.sys.sgRequests.empty());
    uint8_t page[512];
    EXPECT_FALSE(ataIdentify(rig.platform, h, 0, page)) << "ATA requests are not for this disk";
    EXPECT_EQ(rig.platform.lastError(), ERROR_NOT_SUPPORTED);
  }
}

class SilentPrompter : public Prompter {
 public:
  PromptAnswer ask(const std::string&, const std::string&, PromptIcon, PromptButtons, PromptAnswer,
                   PromptPurpose) override {
    return PromptAnswer::Ok;
  }
};

// The whole detection run over the backend. In a container the device node may stay
// shut even to root: the disk is still listed, with its identity from sysfs.
TEST(LinuxDetectionTest, DisksWithoutACommandChannelAreListed) {
  struct Case {
    const char* name;
    const char* fixture;
    const char* deniedDisk;  // the disk whose fake node refuses to open
    const char* model;
    const char* serial;
    uint64_t sectors;
    int busType;
  };
  const Case cases[] = {
      {"Nvme", "nvme", nullptr, "QEMU NVMe Ctrl", "LABNVME0000006", 524288, 0x11},
      {"VirtioBlk", "virtio_blk", nullptr, "VirtIO Block Device", "LABVBLK0000007", 131072, 0x0E},
      {"SataNodeShut", "sata_ahci", "sda", "ATA LAB SATA HDD 1G", "LABSATA0000001", 2097152, 0x0B},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig({c.fixture});
    if (c.deniedDisk != nullptr) rig.sys.failOpen(fakeNode(c.deniedDisk), -EPERM);
    SilentPrompter prompter;
    ProbeEnvironment env{rig.platform, prompter, false, nullptr, 0xA0, &judgeSmartAttributes};
    DriveTable table{};
    detectDrives(env, table);
    ASSERT_EQ(table.driveCount(), 1);
    const DriveRecord& r = table.records[0];
    EXPECT_STREQ(r.model, c.model);
    EXPECT_STREQ(r.serialNumber, c.serial);
    EXPECT_EQ(r.totalSectors, c.sectors);
    EXPECT_EQ(r.sectorSize, 512);
    EXPECT_EQ(r.busType, c.busType);
    EXPECT_TRUE(rig.sys.sgRequests.empty());
    EXPECT_EQ(rig.sys.openFds(), 0) << "detection leaves no descriptor open";
  }
}

// ---------------------------------------------------------------------------------
// Rights.

TEST(LinuxPrivilegeTest, RootOrBothCapabilitiesMakeAnAdministrator) {
  constexpr int64_t kRawio = int64_t{1} << 17, kAdmin = int64_t{1} << 21;
  struct Case {
    uid_t uid;
    int64_t capabilities;
    bool administrator;
  };
  const Case cases[] = {
      {0, 0, true}, {1000, kRawio | kAdmin, true}, {1000, kRawio, false}, {1000, kAdmin, false},
      {1000, 0, false}, {1000, -EPERM, false},
  };
  for (const Case& c : cases) {
    Rig rig({"sata_ahci"});
    rig.sys.uid = c.uid;
    rig.sys.capabilities = c.capabilities;
    EXPECT_EQ(rig.platform.userIsAdministrator(), c.administrator) << c.uid << " " << c.capabilities;
  }
}

// Not an administrator: the disk stays shut, the SCSI port opens, and only IDENTIFY has an
// answer there, from /sys/class/ata_device.
TEST(LinuxPrivilegeTest, MiniportAnswersOnlyIdentify) {
  Rig rig({"sata_ahci"});
  rig.sys.uid = 1000;
  EXPECT_EQ(rig.open(0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(rig.platform.lastError(), ERROR_ACCESS_DENIED);
  const Handle port = openSmartPath(rig.platform, 0, true);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  uint8_t out[kSmartBufferSize] = {};
  ASSERT_TRUE(smartIdentify(rig.platform, port, true, 0xEC, 0, out));
  // Word 0 is 0040h; the model (words 27-46) is byte-swapped text.
  EXPECT_EQ(hex({out[16], out[17]}), hex({0x40, 0x00}));
  std::string model;
  for (int i = 27 * 2; i < 47 * 2; i += 2) model += {static_cast<char>(out[16 + i + 1]), static_cast<char>(out[16 + i])};
  EXPECT_EQ(model, "LAB SATA HDD 1G                         ");

  struct Case {
    const char* name;
    std::function<bool(Platform&)> send;
  };
  const Case cases[] = {
      {"ReadData", [&](Platform& p) { return smartReadData(p, port, true, 0, 0, out); }},
      {"ReadThresholds", [&](Platform& p) { return smartReadThresholds(p, port, true, 0, 0, out); }},
      {"Enable", [&](Platform& p) { return smartEnableOperations(p, port, true, 0); }},
      {"ExecuteOffline", [&](Platform& p) { return smartExecuteOffline(p, port, true, 0, 0, 0x01); }},
      // Last error 0 would read as "threshold exceeded".
      {"ReturnStatus",
       [&](Platform& p) { return smartReturnStatusTri(p, port, true, 0, 0) != SmartReturnStatus::Undetermined; }},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(c.send(rig.platform)) << c.name;
    EXPECT_EQ(rig.platform.lastError(), ERROR_ACCESS_DENIED) << c.name;
  }
  EXPECT_TRUE(rig.sys.sgRequests.empty());
}

}  // namespace
}  // namespace palvoro::real::test
