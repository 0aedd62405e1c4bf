// The simulated NVMe controller from raw records written byte by byte: the protocol-
// specific property queries, the Device Self-test protocol command over simulated time,
// its faults, the driver's SCSI translation and the description's NVMe fields.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_scsi.h"
#include "sim_test_support.h"

namespace palvoro::sim::testing {
namespace {

constexpr uint32_t kQueryProperty = 0x002D1400;
constexpr uint32_t kProtocolCommand = 0x002DD3C0;

// Drive 0: an NVMe drive of 4096-byte blocks whose model holds blanks and a non-ASCII
// character; drive 1: an ATA drive.
constexpr const char* kMachine = R"({"drives": [
  {"number": 0, "transport": "nvme", "sectorSize": 4096, "unreadable": [77],
   "identity": {"model": " Sabik NV\u00e9 2", "serial": "SBK 01", "firmware": "S21R0512", "sectors": 2000},
   "nvme": {"pciVendorId": "0x1F9A", "ieeeOui": "0x123456", "namespaces": 2, "nsid": 2,
            "warningTemperature": 75, "criticalTemperature": 80,
            "health": {"criticalWarning": 4, "temperature": 38, "availableSpare": 97, "spareThreshold": 10,
                       "percentageUsed": 3, "dataUnitsRead": "0x0102030405060708", "dataUnitsWritten": 2,
                       "hostReads": 3, "hostWrites": 4, "busyMinutes": 5, "powerCycles": 6, "powerOnHours": 3412,
                       "unsafeShutdowns": 8, "mediaErrors": 9, "errorLogEntries": 10,
                       "warningTemperatureMinutes": 11, "criticalTemperatureMinutes": 12, "sensors": [38, 45]},
            "selfTest": {"shortSeconds": 90, "extendedMinutes": 12, "result": 7, "segment": 3, "failingLba": 77},
            "selfTestLog": [{"code": 2, "result": 0, "powerOnHours": 3000}]}},
  {"number": 1, "identity": {"model": "ATA", "sectors": 1000}}
]})";

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint64_t le(const std::vector<uint8_t>& b, size_t at, size_t bytes) {
  uint64_t v = 0;
  for (size_t i = bytes; i-- > 0;) v = (v << 8) | b.at(at + i);
  return v;
}

// STORAGE_PROPERTY_QUERY with the protocol-specific data at 8: protocol type 3, data type,
// request value, sub-values, data offset 40 and `length`, room for the data from 48; a log
// page retains asynchronous events.
std::vector<uint8_t> query(uint32_t property, uint32_t type, uint32_t value, uint32_t sub = 0,
                           uint32_t length = 4096, uint32_t sub2 = 0) {
  std::vector<uint8_t> b(48 + length, 0);
  put32(b, 0, property);
  put32(b, 8, 3);
  put32(b, 12, type);
  put32(b, 16, value);
  put32(b, 20, sub);
  put32(b, 24, 40);
  put32(b, 28, length);
  put32(b, 36, sub2);
  put32(b, 44, type == 2 ? 1 : 0);
  return b;
}

// STORAGE_PROTOCOL_COMMAND (80 bytes), the 64-byte submission entry, 64 bytes of error
// information at 144: 208 bytes.
std::vector<uint8_t> command(uint8_t opcode, uint32_t nsid, uint32_t cdw10) {
  std::vector<uint8_t> b(208, 0);
  put32(b, 0, 1);
  put32(b, 4, 84);
  put32(b, 8, 3);
  put32(b, 12, 0x80000000);
  put32(b, 24, 64);
  put32(b, 28, 64);
  put32(b, 40, 30);
  put32(b, 44, 144);
  put32(b, 56, 1);
  b[80] = opcode;
  put32(b, 84, nsid);
  put32(b, 120, cdw10);
  return b;
}

struct Reply {
  bool ok = false;
  uint32_t error = 0;
  uint32_t returned = 0;
  std::vector<uint8_t> bytes;
  uint32_t at32(size_t at) const { return static_cast<uint32_t>(le(bytes, at, 4)); }
  // The query reply's data, from byte 48.
  std::vector<uint8_t> data() const { return {bytes.begin() + 48, bytes.begin() + 48 + (returned - 48)}; }
};

Reply send(SimPlatform& p, Handle h, uint32_t code, std::vector<uint8_t> b, uint32_t inSize = 0, uint32_t outSize = 0) {
  Reply r;
  const auto size = static_cast<uint32_t>(b.size());
  r.ok = p.deviceIoControl(h, code, b.data(), inSize ? inSize : size, b.data(), outSize ? outSize : size, &r.returned);
  r.error = p.lastError();
  r.bytes = std::move(b);
  return r;
}

struct Rig {
  SimPlatform p{loadMachine(kMachine)};
  Handle h = openDrive(p);
  Reply ask(std::vector<uint8_t> b) { return send(p, h, kQueryProperty, std::move(b)); }
  Reply selfTest(uint32_t code, uint32_t nsid = 0xFFFFFFFF) { return send(p, h, kProtocolCommand, command(0x14, nsid, code)); }
  std::vector<uint8_t> selfTestLog() { return ask(query(49, 2, 0x06, 0, 564)).data(); }
};

// A request made wrong by writing `puts` (byte offset, dword) into a good one, or by
// passing other lengths.
struct Malformed {
  const char* name;
  bool protocolCommand;
  std::vector<std::pair<size_t, uint32_t>> puts;
  uint32_t error;
  uint32_t inSize = 0;
  uint32_t outSize = 0;
  int drive = 0;
  uint32_t access = GENERIC_READ | GENERIC_WRITE;
};

TEST(SimNvme, RefusesMalformedAndUnknownRequestsAsTheDriverDoes) {
  const Malformed cases[] = {
      {"query shorter than 48 bytes", false, {}, ERROR_INVALID_PARAMETER, 47},
      {"protocol type 2", false, {{8, 2}}, ERROR_INVALID_PARAMETER},
      {"data offset inside the protocol data", false, {{24, 36}}, ERROR_INVALID_PARAMETER},
      {"data length below 512", false, {{28, 256}}, ERROR_INVALID_PARAMETER},
      {"data past the input", false, {}, ERROR_INVALID_PARAMETER, 48 + 512},
      {"output too small", false, {}, ERROR_INSUFFICIENT_BUFFER, 0, 48 + 512},
      {"exists query", false, {{4, 1}}, ERROR_NOT_SUPPORTED},
      {"CNS 02h", false, {{16, 2}}, ERROR_NOT_SUPPORTED},
      {"namespace on the adapter", false, {{16, 0}}, ERROR_NOT_SUPPORTED},
      {"controller on the device", false, {{0, 50}}, ERROR_NOT_SUPPORTED},
      {"another namespace", false, {{0, 50}, {16, 0}, {20, 1}}, ERROR_NOT_SUPPORTED},
      {"log page on the device", false, {{0, 50}, {12, 2}, {16, 2}}, ERROR_NOT_SUPPORTED},
      {"firmware slot log", false, {{12, 2}, {16, 3}}, ERROR_NOT_SUPPORTED},
      {"log offset off a dword", false, {{12, 2}, {16, 2}, {20, 2}}, ERROR_INVALID_PARAMETER},
      {"log offset past the log", false, {{12, 2}, {16, 2}, {36, 1}}, ERROR_INVALID_PARAMETER},
      {"log read clearing events", false, {{12, 2}, {16, 2}, {44, 0x2}}, ERROR_INVALID_PARAMETER},
      {"data type 3", false, {{12, 3}}, ERROR_NOT_SUPPORTED},
      {"not an NVMe drive", false, {}, ERROR_NOT_SUPPORTED, 0, 0, 1},
      {"read-only handle", true, {}, ERROR_ACCESS_DENIED, 0, 0, 0, GENERIC_READ},
      {"command cut short", true, {}, ERROR_INVALID_PARAMETER, 143},
      {"no room for the reply", true, {}, ERROR_INSUFFICIENT_BUFFER, 0, 143},
      {"version 2", true, {{0, 2}}, ERROR_INVALID_PARAMETER},
      {"length 80", true, {{4, 80}}, ERROR_INVALID_PARAMETER},
      {"protocol type 1", true, {{8, 1}}, ERROR_INVALID_PARAMETER},
      {"command length 32", true, {{24, 32}}, ERROR_INVALID_PARAMETER},
      {"NVM command set", true, {{56, 2}}, ERROR_INVALID_PARAMETER},
      {"error information over the command", true, {{44, 100}}, ERROR_INVALID_PARAMETER},
      {"error information past the output", true, {{28, 65}}, ERROR_INVALID_PARAMETER},
      {"data from the device past the output", true, {{36, 512}, {52, 144}}, ERROR_INVALID_PARAMETER},
      {"Identify as a command", true, {{80, 0x06}}, ERROR_NOT_SUPPORTED},
      {"command to an ATA drive", true, {}, ERROR_INVALID_FUNCTION, 0, 0, 1},
  };
  for (const Malformed& c : cases) {
    SCOPED_TRACE(c.name);
    SimPlatform p(loadMachine(kMachine));
    const Handle h = openDrive(p, c.drive, c.access);
    std::vector<uint8_t> b = c.protocolCommand ? command(0x14, 0xFFFFFFFF, 1) : query(49, 1, 1);
    for (const auto& [at, value] : c.puts) put32(b, at, value);
    const Reply r = send(p, h, c.protocolCommand ? kProtocolCommand : kQueryProperty, b, c.inSize, c.outSize);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.returned, 0u);
    ASSERT_FALSE(p.log().empty());
    EXPECT_EQ(p.log().back().error, c.error);  // the request log keeps the refusal
  }
}

TEST(SimNvme, IdentifyPagesHoldTheDescribedDriveAtTheirOffsets) {
  Rig rig;
  const Reply r = rig.ask(query(49, 1, 1));
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.returned, 48u + 4096u);
  // The reply overlays the request: Version and Size 48, the protocol data echoed (type 3,
  // Identify, CNS 01h) with the data right after it.
  const std::pair<size_t, uint32_t> header[] = {{0, 48}, {4, 48}, {8, 3}, {12, 1}, {16, 1}, {24, 40}, {28, 4096}};
  for (const auto& [at, value] : header) EXPECT_EQ(r.at32(at), value) << at;
  const std::vector<uint8_t> c = r.data();
  EXPECT_EQ(le(c, 0, 2), 0x1F9Au);
  EXPECT_EQ(std::string(c.begin() + 4, c.begin() + 24), "SBK 01              ");
  EXPECT_EQ(std::string(c.begin() + 24, c.begin() + 64), " Sabik NV\xC3\xA9 2" + std::string(27, ' '));
  EXPECT_EQ(std::string(c.begin() + 64, c.begin() + 72), "S21R0512");
  EXPECT_EQ(le(c, 73, 3), 0x123456u);
  EXPECT_EQ(le(c, 256, 2), 0x0010u);         // OACS: Device Self-test
  EXPECT_EQ(le(c, 266, 2), 348u);            // WCTEMP, 75 °C (264 and 265 are AVSCC and APSTA)
  EXPECT_EQ(le(c, 268, 2), 353u);            // CCTEMP, 80 °C
  EXPECT_EQ(le(c, 280, 8), 2000u * 4096u);   // TNVMCAP
  EXPECT_EQ(le(c, 288, 8), 0u);
  EXPECT_EQ(le(c, 316, 2), 12u);             // EDSTT
  EXPECT_EQ(c[318], 0x01);                   // DSTO
  EXPECT_EQ(le(c, 516, 4), 2u);              // NN

  for (uint32_t nsid : {0u, 2u}) {
    SCOPED_TRACE(nsid);
    const Reply n = rig.ask(query(50, 1, 0, nsid));
    ASSERT_TRUE(n.ok);
    const std::vector<uint8_t> ns = n.data();
    EXPECT_EQ(le(ns, 0, 8), 2000u);
    EXPECT_EQ(le(ns, 8, 8), 2000u);
    EXPECT_EQ(le(ns, 16, 8), 2000u);
    EXPECT_EQ(ns[25], 1);  // two formats
    EXPECT_EQ(ns[26], 1);  // formatted with the second
    EXPECT_EQ(std::vector<uint8_t>(ns.begin() + 128, ns.begin() + 136),
              (std::vector<uint8_t>{0, 0, 9, 2, 0, 0, 12, 1}));
  }
}

TEST(SimNvme, HealthLogHoldsEveryValueAndHonoursTheOffset) {
  Rig rig;
  rig.p.advanceClock(2 * 3600000);  // the power-on hours move with the clock
  const Reply r = rig.ask(query(49, 2, 2, 0, 512));
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.returned, 48u + 512u);
  const std::vector<uint8_t> h = r.data();
  EXPECT_EQ(h[0], 4);
  EXPECT_EQ(le(h, 1, 2), 311u);
  EXPECT_EQ(h[3], 97);
  EXPECT_EQ(h[4], 10);
  EXPECT_EQ(h[5], 3);
  const uint64_t counters[] = {0x0102030405060708ull, 2, 3, 4, 5, 6, 3414, 8, 9, 10};
  for (size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(le(h, 32 + 16 * i, 8), counters[i]) << i;
    EXPECT_EQ(le(h, 40 + 16 * i, 8), 0u) << i;
  }
  EXPECT_EQ(le(h, 192, 4), 11u);
  EXPECT_EQ(le(h, 196, 4), 12u);
  EXPECT_EQ(le(h, 200, 2), 311u);
  EXPECT_EQ(le(h, 202, 2), 318u);
  EXPECT_EQ(le(h, 204, 8), 0u);
  EXPECT_EQ(le(h, 212, 4), 0u);

  const Reply tail = rig.ask(query(49, 2, 2, 32, 512));
  ASSERT_TRUE(tail.ok);
  EXPECT_EQ(tail.returned, 48u + 480u);
  EXPECT_EQ(tail.at32(28), 480u);
  EXPECT_EQ(le(tail.data(), 0, 8), 0x0102030405060708ull);

  // A raw page stands in for the one made from the values.
  SimPlatform odd(loadMachine(R"({"drives": [{"number": 0, "transport": "nvme", "identity": {"sectors": 8},
      "nvme": {"pages": {"health": "01 02 03"}}}]})"));
  const std::vector<uint8_t> raw = send(odd, openDrive(odd), kQueryProperty, query(49, 2, 2, 0, 512)).data();
  EXPECT_EQ(le(raw, 0, 3), 0x030201u);
  EXPECT_EQ(le(raw, 3, 8), 0u);
}

TEST(SimNvme, SelfTestRunsOverTheClockAndEndsWithTheDescribedOutcome) {
  Rig rig;
  std::vector<uint8_t> log = rig.selfTestLog();
  EXPECT_EQ(log[0], 0);
  EXPECT_EQ(log[4], 0x20);  // the described history: an extended test that passed
  EXPECT_EQ(le(log, 8, 8), 3000u);
  EXPECT_EQ(log[32], 0x0F);  // then unused entries

  const Reply start = rig.selfTest(1);
  ASSERT_TRUE(start.ok);
  EXPECT_EQ(start.returned, 208u);
  EXPECT_EQ(start.at32(16), 1u);  // success
  EXPECT_EQ(start.at32(20), 0u);
  rig.p.advanceClock(45000);
  log = rig.selfTestLog();
  EXPECT_EQ(log[0], 1);
  EXPECT_EQ(log[1], 50);
  const Reply again = rig.selfTest(2);
  ASSERT_TRUE(again.ok);  // the controller completed it: with an error
  EXPECT_EQ(again.at32(16), 2u);
  EXPECT_EQ(again.at32(20), 0x1Du);

  rig.p.advanceClock(45000);
  log = rig.selfTestLog();
  EXPECT_EQ(log[0], 0);
  EXPECT_EQ(log[4], 0x17);              // short, segment failed
  EXPECT_EQ(log[5], 3);                 // segment
  EXPECT_EQ(log[6], 0x0F);              // NSID, LBA, status code type and code valid
  EXPECT_EQ(le(log, 8, 8), 3412u);
  EXPECT_EQ(le(log, 16, 4), 2u);        // the disk's namespace
  EXPECT_EQ(le(log, 20, 8), 77u);
  EXPECT_EQ(log[28], 0x02);
  EXPECT_EQ(log[29], 0x81);
  EXPECT_EQ(log[32], 0x20);             // the older entry moved down

  // Aborted: the entry says so and names no block.
  ASSERT_EQ(rig.selfTest(2).at32(16), 1u);
  rig.p.advanceClock(60000);
  EXPECT_EQ(rig.selfTestLog()[1], 8);   // a minute of twelve
  ASSERT_EQ(rig.selfTest(0xF).at32(16), 1u);
  log = rig.selfTestLog();
  EXPECT_EQ(log[0], 0);
  EXPECT_EQ(log[4], 0x21);
  EXPECT_EQ(log[6], 0);
  EXPECT_EQ(log[32], 0x17);

  // A test given no namespace reads no media: its failure names no block.
  ASSERT_EQ(rig.selfTest(1, 0).at32(16), 1u);
  rig.p.advanceClock(90000);
  EXPECT_EQ(rig.selfTestLog()[6], 0);

  // The log keeps twenty entries.
  for (int i = 0; i < 20; ++i) {
    rig.selfTest(1);
    rig.p.advanceClock(90000);
  }
  log = rig.selfTestLog();
  for (size_t i = 0; i < 20; ++i) EXPECT_EQ(log[4 + 28 * i], 0x17) << i;
}

TEST(SimNvme, SelfTestCommandsTheControllerRefuses) {
  const char* unsupported = R"({"drives": [{"number": 0, "transport": "nvme", "identity": {"sectors": 8},
      "nvme": {"selfTest": {"supported": false}}}]})";
  const struct {
    const char* name;
    bool supported;
    uint32_t nsid, code, status;
  } cases[] = {{"another namespace", true, 1, 1, 0x0B},
               {"unknown code", true, 0xFFFFFFFF, 3, 0x02},
               {"start without support", false, 0xFFFFFFFF, 1, 0x01},  // invalid command opcode
               {"abort without support", false, 0xFFFFFFFF, 0xF, 0x01}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimPlatform p(loadMachine(c.supported ? kMachine : unsupported));
    const Handle h = openDrive(p);
    const Reply r = send(p, h, kProtocolCommand, command(0x14, c.nsid, c.code));
    ASSERT_TRUE(r.ok);  // completed, with an error
    EXPECT_EQ(r.at32(16), 2u);
    EXPECT_EQ(r.at32(20), c.status);
    EXPECT_EQ(le(send(p, h, kQueryProperty, query(49, 1, 1)).data(), 256, 2), c.supported ? 0x10u : 0u);
  }
}

TEST(SimNvme, EraseCommandsTheControllerRefuses) {
  const char* erasing = R"({"drives": [{"number": 0, "transport": "nvme", "identity": {"sectors": 8},
      "nvme": {"formatNvm": true, "sanicap": 2, "lbaFormats": [{"dataSize": 512}, {"dataSize": 4096}]}}]})";
  const char* plain = R"({"drives": [{"number": 0, "transport": "nvme", "identity": {"sectors": 8}}]})";
  const struct {
    const char* name;
    const char* machine;
    uint8_t opcode;
    uint32_t cdw10, status;
  } cases[] = {{"format without Format NVM", plain, 0x80, 0x200, 0x01},
               {"sanitize without SANICAP", plain, 0x84, 0x2, 0x01},
               {"unknown LBA format", erasing, 0x80, 0x202, 0x02},
               {"crypto format without FNA bit 2", erasing, 0x80, 0x400, 0x02},
               {"protection information", erasing, 0x80, 0x220, 0x02},
               {"crypto sanitize outside SANICAP", erasing, 0x84, 0x4, 0x02},
               {"format to 4096-byte blocks", erasing, 0x80, 0x201, 0x00}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimPlatform p(loadMachine(c.machine));
    const Handle h = openDrive(p);
    const Reply r = send(p, h, kProtocolCommand, command(c.opcode, 1, c.cdw10));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.at32(20), c.status);
    // Only the format that went through changed the block size; the namespace keeps its bytes.
    EXPECT_EQ(p.drive(0).disk().sectorSize(), c.status == 0 ? 4096u : 512u);
    EXPECT_EQ(p.drive(0).disk().sectorCount() * p.drive(0).disk().sectorSize(), 8u * 512);
  }
  // A second sanitize while the first runs: Sanitize In Progress.
  SimPlatform p(loadMachine(erasing));
  const Handle h = openDrive(p);
  EXPECT_EQ(send(p, h, kProtocolCommand, command(0x84, 0, 0x2)).at32(20), 0u);
  EXPECT_EQ(send(p, h, kProtocolCommand, command(0x84, 0, 0x2)).at32(20), 0x1Du);
  EXPECT_EQ(send(p, h, kProtocolCommand, command(0x80, 1, 0x200)).at32(20), 0x1Du);
}

TEST(SimNvme, FaultsReachTheQueriesAndTheCommand) {
  Rig rig;
  SimFault health;
  health.property = 49;
  health.nvmeDataType = 2;
  health.nvmeValue = 2;
  health.error = ERROR_IO_DEVICE;
  rig.p.injectFault(health);
  EXPECT_TRUE(rig.ask(query(49, 1, 1)).ok);
  EXPECT_TRUE(rig.ask(query(49, 2, 6, 0, 564)).ok);
  const Reply failed = rig.ask(query(49, 2, 2, 0, 512));
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.error, ERROR_IO_DEVICE);
  rig.p.clearFaults();

  SimFault cut;
  cut.kind = SimFault::Kind::ShortReply;
  cut.property = 50;
  cut.replyBytes = 48 + 100;
  rig.p.injectFault(cut);
  const Reply shortPage = rig.ask(query(50, 1, 0));
  ASSERT_TRUE(shortPage.ok);
  EXPECT_EQ(shortPage.returned, 148u);
  EXPECT_EQ(shortPage.at32(28), 4096u);  // the descriptor still names the whole page
  EXPECT_EQ(le(shortPage.bytes, 48, 8), 2000u);
  EXPECT_EQ(shortPage.bytes[48 + 130], 0);  // the format table was not handed back
  rig.p.clearFaults();

  SimFault status;
  status.kind = SimFault::Kind::NvmeStatus;
  status.ioctl = kProtocolCommand;
  status.remaining = 1;
  rig.p.injectFault(status);
  const Reply refused = rig.selfTest(1);
  EXPECT_EQ(refused.at32(16), 2u);
  EXPECT_EQ(refused.at32(20), 0x06u);
  EXPECT_EQ(rig.selfTestLog()[0], 0);  // nothing started
  EXPECT_EQ(rig.selfTest(1).at32(16), 1u);

  SimFault vanish;
  vanish.kind = SimFault::Kind::Vanish;
  rig.p.injectFault(vanish);
  EXPECT_EQ(rig.ask(query(49, 1, 1)).error, ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(rig.selfTest(0xF).error, ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(rig.ask(query(49, 2, 2, 0, 512)).error, ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(rig.p.ioctls(kQueryProperty).size(), 7u);
  EXPECT_EQ(rig.p.ioctls(kProtocolCommand).size(), 3u);
}

TEST(SimNvme, TheDriversScsiTranslationDescribesTheNamespace) {
  SimMachine m = loadMachine(kMachine);
  SimDrive& d = m.drives.at(0);
  EXPECT_EQ(d.busType, 17);
  EXPECT_FALSE(d.smartDriver.present);
  EXPECT_FALSE(d.ataPassThrough);
  EXPECT_FALSE(d.scsi.sat12 || d.scsi.sat16 || d.scsi.atacb);
  EXPECT_EQ(std::string(d.scsi.inquiry.begin() + 8, d.scsi.inquiry.begin() + 36),
            "NVMe     Sabik NV\xC3\xA9 2   S21R");
  EXPECT_EQ(d.scsi.vpd.at(0x80), (std::vector<uint8_t>{0, 0x80, 0, 6, 'S', 'B', 'K', ' ', '0', '1'}));
  const uint8_t cdb[16] = {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0};
  ScsiCommand c;
  c.cdb = cdb;
  c.cdbLength = 16;
  c.dataIn = kScsiDataIn;
  c.inCapacity = 32;
  const ScsiReply r = executeScsi(d, c);
  ASSERT_EQ(r.data.size(), 32u);
  EXPECT_EQ(std::vector<uint8_t>(r.data.begin(), r.data.begin() + 12),
            (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0x07, 0xCF, 0, 0, 0x10, 0}));
  EXPECT_TRUE(d.disk().isUnreadable(77));
}

TEST(SimNvme, LoaderRefusesBadNvmeFieldsNamingThem) {
  const auto drive = [](const std::string& fields) {
    return R"({"drives": [{"number": 0, "transport": "nvme", "identity": {"sectors": 100})" + fields + "}]}";
  };
  const std::pair<std::string, const char*> cases[] = {
      {drive(R"(, "smart": {})"), "drives[0].smart: not a field of an NVMe drive"},
      {R"({"drives": [{"number": 0, "transport": "nvme", "identity": {"sectors": 100, "trim": true}}]})",
       "identity.trim: an NVMe drive's identity is"},
      {drive(R"(, "sectorSize": 1024)"), "sectorSize: an NVMe namespace has blocks of 512 or 4096 bytes"},
      {R"({"drives": [{"number": 0, "identity": {"sectors": 100}, "nvme": {}}]})",
       "drives[0].nvme: only an nvme drive has an NVMe controller"},
      {drive(R"(, "nvme": {"namespaces": 0})"), "nvme.namespaces: a controller has at least one namespace"},
      {drive(R"(, "nvme": {"namespaces": 2, "nsid": 3})"), "nvme.nsid: the disk's namespace is one of the controller's"},
      {drive(R"(, "nvme": {"health": {"availableSpare": 101}})"), "health.availableSpare: value 101 is above 100"},
      {drive(R"(, "nvme": {"health": {"criticalWarning": 64}})"), "health.criticalWarning"},
      {drive(R"(, "nvme": {"health": {"temperature": 30, "temperatureKelvin": 300}})"), "not both"},
      {drive(R"(, "nvme": {"health": {"sensors": [1, 2, 3, 4, 5, 6, 7, 8, 9]}})"), "at most 8 temperature sensors"},
      {drive(R"(, "nvme": {"selfTest": {"result": 10}})"), "selfTest.result: value 10 is above 9"},
      {drive(R"(, "nvme": {"selfTest": {"failingLba": 100}})"), "failingLba: beyond the namespace's 100 blocks"},
      {drive(R"(, "nvme": {"selfTestLog": [{"code": 15}]})"), "selfTestLog[0].code: 1 (short) or 2 (extended)"},
      {drive(R"(, "nvme": {"pages": {"health": ")" + std::string(513 * 2, 'A') + R"("}})"),
       "pages.health: a page of 512 bytes cannot hold 513"},
      {drive(R"(, "nvme": {"colour": 1})"), "nvme.colour: unknown field"},
  };
  for (const auto& [json, mentions] : cases) {
    SCOPED_TRACE(json.substr(0, 160));
    try {
      loadMachine(json);
      ADD_FAILURE() << "accepted";
    } catch (const MachineDescriptionError& e) {
      EXPECT_NE(std::string(e.what()).find(mentions), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace palvoro::sim::testing
