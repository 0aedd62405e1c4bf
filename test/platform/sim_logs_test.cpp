// The drives' own logs, read as the program's carriers read them (the SMART driver, ATA
// pass-through, SAT (12)/(16) through a bridge) from records written byte by byte: every
// page checked at the offsets the ATA logs define, the self-tests the drive runs landing
// in its log, a bridge refusing one log, the SCT temperature history, malformed requests,
// the NVMe error information log and the description's refusals.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/ioctl_codes.h"
#include "platform/sim/sim_platform.h"
#include "sim_test_support.h"

namespace palvoro::sim::testing {
namespace {

constexpr const char* kLogs = R"("logs": {
    "selfTests": [{"test": 2, "status": 0, "hours": 900},
                  {"test": 1, "status": 7, "hours": 950, "lba": "0x1230001388", "remaining": 30, "checkpoint": 2}],
    "errors": [{"hours": 990, "error": "0x40", "status": "0x51", "lba": "0x123456789A", "count": 8, "state": 3,
                "commands": [{"command": "0x25", "features": "0x0102", "count": "0x0304", "lba": "0xA1B2C3D4E5F6",
                              "deviceControl": 8, "timestampMs": "0x01020304"}]}],
    "errorCount": 7,
    "statistics": {"powerOnResets": 12, "readCommands": "0xFFFFFFFFFFFF", "uncorrectableErrors": 3,
                   "averageShortTermTemperature": -2},
    "temperature": {"current": 41, "min": 30, "max": 45, "lifetimeMin": -3, "lifetimeMax": 61, "overLimitCount": 2,
                    "underLimitCount": 1, "limits": {"maxOperating": 60, "overLimit": 65, "minOperating": 0,
                    "underLimit": -5}, "samplingMinutes": 1, "intervalMinutes": 10, "history": [38, 39, -1]}})";

// Drive 0 on an ATA controller, drive 1 the same drive behind a SAT bridge that will not
// carry device statistics.
std::string machine() {
  const std::string unit = R"("identity": {"model": "LOGS", "sectors": 1000000}, "unreadable": [[5000, 5003]],
    "smart": {"attributes": [{"id": 9, "raw": 1000}]}, "selfTest": {"shortSeconds": 60, "extendedSeconds": 36000,
    "result": 7}, )" + std::string(kLogs);
  return R"({"drives": [{"number": 0, )" + unit +
         R"(}, {"number": 1, "transport": "usb-sat", "refusedLogs": ["0x04"], )" + unit + "}]}";
}

enum class Carrier { SmartDriver, AtaPassThrough, Sat12, Sat16 };

struct Answer {
  enum Kind { Done, Aborted, Refused, Failed } kind = Failed;
  std::vector<uint8_t> data;
};

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// One ATA command with its pages in (`out` empty: the count's pages) or `out` out, sent
// through `carrier`. `regs` in the IDE order (features, count, LBA low, mid, high, device,
// command); `previous` holds the high-order bytes of a 48-bit command.
Answer send(SimPlatform& p, Carrier carrier, std::array<uint8_t, 7> regs, std::array<uint8_t, 7> previous = {},
            const std::vector<uint8_t>& out = {}) {
  const bool in = out.empty();
  const bool sat = carrier == Carrier::Sat12 || carrier == Carrier::Sat16;
  const uint32_t bytes = in ? (regs[6] == 0x2F ? regs[1] | (previous[1] << 8) : regs[1]) * 512u
                            : static_cast<uint32_t>(out.size());
  std::vector<uint8_t> b;
  size_t data = 0;
  uint32_t code = 0;
  if (carrier == Carrier::SmartDriver) {
    // SENDCMDINPARAMS: cBufferSize, the registers, data out from 32; SENDCMDOUTPARAMS' data from 16.
    b.assign(48 + bytes, 0);
    put32(b, 0, bytes);
    std::copy(regs.begin(), regs.end(), b.begin() + 4);
    data = in ? 16 : 32;
    code = in ? SMART_RCV_DRIVE_DATA : SMART_SEND_DRIVE_COMMAND;
  } else if (carrier == Carrier::AtaPassThrough) {
    b.assign(40 + bytes, 0);
    b[0] = 40;
    b[2] = static_cast<uint8_t>((in ? 0x02 : 0x04) | 0x08);  // data in or out, 48-bit registers
    put32(b, 8, bytes);
    put32(b, 12, 30);
    put32(b, 20, 40);
    std::copy(previous.begin(), previous.end(), b.begin() + 24);
    std::copy(regs.begin(), regs.end(), b.begin() + 32);
    data = 40;
    code = IOCTL_ATA_PASS_THROUGH;
  } else {
    // SCSI pass-through: header (44), sense (24) from 48, data from 72. SAT: PIO data in (4)
    // or out (5), T_DIR for data in, BYT_BLOK, the length in the count.
    b.assign(72 + bytes, 0);
    b[0] = 44;
    b[6] = carrier == Carrier::Sat12 ? 12 : 16;
    b[7] = 24;
    b[8] = in ? 1 : 0;
    put32(b, 12, bytes);
    put32(b, 16, 20);
    put32(b, 20, 72);
    put32(b, 24, 48);
    const auto protocol = static_cast<uint8_t>(in ? 0x08 : 0x0A);
    const auto flags = static_cast<uint8_t>(in ? 0x0E : 0x06);
    const std::vector<uint8_t> cdb =
        carrier == Carrier::Sat12
            ? std::vector<uint8_t>{0xA1, protocol, flags, regs[0], regs[1], regs[2], regs[3], regs[4], regs[5], regs[6]}
            : std::vector<uint8_t>{0x85,    static_cast<uint8_t>(protocol | 1), flags, previous[0], regs[0],
                                   previous[1], regs[1], previous[2], regs[2], previous[3], regs[3], previous[4],
                                   regs[4], regs[5], regs[6]};
    std::copy(cdb.begin(), cdb.end(), b.begin() + 28);
    data = 72;
    code = IOCTL_SCSI_PASS_THROUGH;
  }
  std::copy(out.begin(), out.end(), b.begin() + static_cast<std::ptrdiff_t>(data));
  const auto size = static_cast<uint32_t>(b.size());
  uint32_t returned = 0;
  Answer a;
  if (!p.deviceIoControl(openDrive(p, sat ? 1 : 0), code, b.data(), size, b.data(), size, &returned)) {
    // The SMART driver fails a command the drive aborted.
    if (carrier == Carrier::SmartDriver && p.lastError() == ERROR_IO_DEVICE) a.kind = Answer::Aborted;
    return a;
  }
  if (carrier == Carrier::AtaPassThrough && (b[38] & 0x01) != 0) {
    a.kind = Answer::Aborted;
  } else if (sat && b[2] != 0) {  // CHECK CONDITION: ILLEGAL REQUEST / INVALID FIELD IN CDB is the bridge's
    a.kind = b[48 + 2] == 0x05 && b[48 + 12] == 0x24 ? Answer::Refused : Answer::Aborted;
  } else {
    a.kind = Answer::Done;
    const auto from = b.begin() + static_cast<std::ptrdiff_t>(data);
    if (in) a.data.assign(from, from + bytes);
  }
  return a;
}

std::array<uint8_t, 7> smartReadLog(uint8_t log, uint8_t pages) { return {0xD5, pages, log, 0x4F, 0xC2, 0xA0, 0xB0}; }
std::array<uint8_t, 7> readLogExt(uint8_t log, uint8_t page, uint8_t pages) {
  return {0x00, pages, log, page, 0x00, 0xA0, 0x2F};
}

bool checksumHolds(const std::vector<uint8_t>& data, size_t page) {
  uint8_t sum = 0;
  for (size_t i = 0; i < 512; ++i) sum = static_cast<uint8_t>(sum + data[512 * page + i]);
  return sum == 0;
}

struct LogCase {
  const char* name;
  std::array<uint8_t, 7> regs;
  bool checksum;  // each page's byte 511 makes it sum to zero
  std::vector<std::pair<size_t, uint8_t>> bytes;
};

// Bytes of the extended error log's page 1, which holds the seventh of its 64 structures
// (its third), moved to where a read of all 16 pages puts them.
std::vector<std::pair<size_t, uint8_t>> extendedPageOne() {
  const std::pair<size_t, uint8_t> page[] = {
      {0, 1},      {2, 7},      {324, 8},    {325, 0x02}, {326, 0x01}, {327, 0x04}, {328, 0x03}, {329, 0xF6},
      {330, 0xC3}, {331, 0xE5}, {332, 0xB2}, {333, 0xD4}, {334, 0xA1}, {335, 0x40}, {336, 0x25}, {338, 0x04},
      {341, 0x01}, {343, 0x40}, {344, 8},    {346, 0x9A}, {347, 0x34}, {348, 0x78}, {349, 0x12}, {350, 0x56},
      {352, 0x40}, {353, 0x51}, {373, 3},    {374, 0xDE}, {375, 0x03}, {500, 7}};
  std::vector<std::pair<size_t, uint8_t>> all = {{0, 1}, {2, 7}, {3, 0}, {4, 0}, {500, 7}, {15 * 512, 1}};
  for (const auto& [at, value] : page) all.emplace_back(512 + at, value);
  return all;
}

const LogCase kLogCases[] = {
    {"SMART log directory", smartReadLog(0x00, 1), false,
     {{0, 1}, {2, 1}, {6, 0}, {8, 6}, {12, 1}, {14, 0}, {96, 0}, {448, 1}, {450, 1}}},
    {"GPL directory", readLogExt(0x00, 0, 1), false,
     {{0, 1}, {2, 0}, {6, 16}, {8, 6}, {12, 0}, {14, 1}, {448, 1}, {450, 1}}},
    // Seven errors counted, one kept: the seventh, in ring slot 2 of five.
    {"summary error log", smartReadLog(0x01, 1), true,
     {{0, 1},     {1, 2},     {92, 0},     {140, 8},    {141, 0x02}, {142, 0x04}, {143, 0xF6}, {144, 0xE5},
      {145, 0xD4}, {146, 0x40}, {147, 0x25}, {148, 0x04}, {151, 0x01}, {153, 0x40}, {154, 8},    {155, 0x9A},
      {156, 0x78}, {157, 0x56}, {158, 0x40}, {159, 0x51}, {179, 3},    {180, 0xDE}, {181, 0x03}, {452, 7}}},
    {"extended error log, all 16 pages", readLogExt(0x03, 0, 16), true, extendedPageOne()},
    {"extended error log, page 1", readLogExt(0x03, 1, 1), true,
     {{0, 1}, {2, 7}, {343, 0x40}, {347, 0x34}, {500, 7}}},
    // The failing sector 12_3000_1388h in its low 28 bits.
    {"self-test log", smartReadLog(0x06, 1), true,
     {{0, 1},   {2, 2},     {3, 0x00},  {4, 0x84}, {5, 0x03}, {26, 1}, {27, 0x73}, {28, 0xB6},
      {29, 0x03}, {30, 2},  {31, 0x88}, {32, 0x13}, {33, 0},   {34, 0}, {50, 0}, {508, 2}}},
    // The same two tests in the extended log: 26-byte descriptors from byte 4, all 48 bits.
    {"extended self-test log", readLogExt(0x07, 0, 1), true,
     {{0, 1},    {2, 2},    {3, 0},    {4, 2},    {5, 0},    {6, 0x84}, {7, 0x03}, {30, 1},
      {31, 0x73}, {32, 0xB6}, {33, 0x03}, {34, 2}, {35, 0x88}, {36, 0x13}, {37, 0}, {38, 0x30},
      {39, 0x12}, {40, 0},  {56, 0},   {508, 0}}},
    // Pages 0..5; pages 2 and 3 are not kept.
    {"device statistics", smartReadLog(0x04, 6), false,
     {{0, 1},      {2, 0},      {8, 4},      {9, 0},      {10, 1},     {11, 4},     {12, 5},     {512, 1},
      {514, 1},    {520, 12},   {527, 0xC0}, {528, 0xE8}, {529, 0x03}, {535, 0xC0}, {536, 0},    {543, 0},
      {560, 0xFF}, {565, 0xFF}, {566, 0},    {567, 0xC0}, {1024, 0},   {2048, 1},   {2050, 4},   {2056, 3},
      {2063, 0xC0}, {2064, 0},  {2071, 0},   {2562, 5},   {2568, 41},  {2575, 0xC0}, {2576, 0xFE}, {2583, 0xC0},
      {2591, 0},   {2592, 61},  {2600, 0xFD}, {2647, 0},  {2648, 60},  {2655, 0xC0}, {2664, 0},   {2671, 0xC0}}},
    {"device statistics page 5 by READ LOG EXT", readLogExt(0x04, 5, 1), false, {{2, 5}, {8, 41}, {15, 0xC0}}},
    {"SCT status", smartReadLog(0xE0, 1), false,
     {{0, 3}, {2, 3}, {4, 1}, {200, 41}, {201, 30}, {202, 45}, {203, 0xFD}, {204, 61}, {206, 2}, {210, 1}}},
};

struct CarrierCase {
  Carrier carrier;
  const char* name;
};
const CarrierCase kCarriers[] = {{Carrier::SmartDriver, "SMART driver"},
                                 {Carrier::AtaPassThrough, "ATA pass-through"},
                                 {Carrier::Sat12, "SAT 12"},
                                 {Carrier::Sat16, "SAT 16"}};

bool carries(Carrier c, const std::array<uint8_t, 7>& regs) {
  // The SMART driver takes SMART commands only; READ LOG EXT needs the registers of (16) or ATA pass-through.
  return regs[6] == 0x2F ? c == Carrier::AtaPassThrough || c == Carrier::Sat16 : true;
}

TEST(SimLogs, EveryLogReadsTheSameThroughEveryCarrier) {
  for (const CarrierCase& carrier : kCarriers) {
    for (const LogCase& c : kLogCases) {
      if (!carries(carrier.carrier, c.regs)) continue;
      SCOPED_TRACE(std::string(carrier.name) + ": " + c.name);
      SimPlatform p(loadMachine(machine()));
      const Answer a = send(p, carrier.carrier, c.regs);
      const bool statistics = c.regs[2] == 0x04;
      if (statistics && (carrier.carrier == Carrier::Sat12 || carrier.carrier == Carrier::Sat16)) {
        EXPECT_EQ(a.kind, Answer::Refused);  // the bridge will not carry device statistics, only them
        continue;
      }
      ASSERT_EQ(a.kind, Answer::Done);
      ASSERT_EQ(a.data.size(), 512u * c.regs[1]);
      for (const auto& [at, value] : c.bytes) EXPECT_EQ(a.data.at(at), value) << "byte " << at;
      for (size_t page = 0; c.checksum && page < c.regs[1]; ++page) EXPECT_TRUE(checksumHolds(a.data, page));
    }
  }
}

TEST(SimLogs, SelfTestsTheDriveRunsAreLoggedAndTheRingWraps) {
  SimPlatform p(loadMachine(machine()));
  const auto offline = [&](uint8_t sub) {
    return send(p, Carrier::AtaPassThrough, {0xD4, 0, sub, 0x4F, 0xC2, 0xA0, 0xB0}).kind;
  };
  const auto log = [&] { return send(p, Carrier::AtaPassThrough, smartReadLog(0x06, 1)).data; };
  // A short test that fails on a read names the first unreadable sector when its time is up.
  ASSERT_EQ(offline(0x01), Answer::Done);
  p.advanceClock(59000);
  EXPECT_EQ(log()[508], 2);
  p.advanceClock(1000);
  std::vector<uint8_t> l = log();
  EXPECT_EQ(l[508], 3);
  const std::vector<uint8_t> shortTest(l.begin() + 50, l.begin() + 59);
  EXPECT_EQ(shortTest, (std::vector<uint8_t>{0x01, 0x70, 0xE8, 0x03, 0x00, 0x88, 0x13, 0x00, 0x00}));
  // An extended test aborted after two of its ten hours: eight tenths to go, at hour 1002.
  ASSERT_EQ(offline(0x02), Answer::Done);
  p.advanceClock(7200000);
  ASSERT_EQ(offline(0x7F), Answer::Done);
  l = log();
  EXPECT_EQ(l[508], 4);
  EXPECT_EQ(std::vector<uint8_t>(l.begin() + 74, l.begin() + 79), (std::vector<uint8_t>{0x02, 0x18, 0xEA, 0x03, 0}));
  // Twenty captive tests later (the drive aborts each, its test failing): 24 written, 21 kept.
  for (int i = 0; i < 20; ++i) EXPECT_EQ(offline(0x81), Answer::Aborted);
  l = log();
  EXPECT_EQ(l[508], 3);
  EXPECT_EQ(l[2], 0x81);
  EXPECT_EQ(l[50], 0x81);
  EXPECT_EQ(l[74], 0x02);  // the oldest kept: the aborted extended test
  EXPECT_TRUE(checksumHolds(l, 0));
}

// The SCT command: action 5 (data table), function 1 (read), table 2 (temperature history).
std::vector<uint8_t> sctCommand(uint16_t action, uint16_t function, uint16_t table) {
  std::vector<uint8_t> key(512, 0);
  key[0] = static_cast<uint8_t>(action);
  key[1] = static_cast<uint8_t>(action >> 8);
  key[2] = static_cast<uint8_t>(function);
  key[4] = static_cast<uint8_t>(table);
  return key;
}
constexpr std::array<uint8_t, 7> kSctWrite = {0xD6, 0x01, 0xE0, 0x4F, 0xC2, 0xA0, 0xB0};

TEST(SimLogs, TheSctDataTableCommandThenLogE1hGivesTheTemperatureHistory) {
  for (const CarrierCase& carrier : kCarriers) {
    SCOPED_TRACE(carrier.name);
    SimPlatform p(loadMachine(machine()));
    EXPECT_EQ(send(p, carrier.carrier, smartReadLog(0xE1, 1)).kind, Answer::Aborted);  // no table asked for
    EXPECT_EQ(send(p, carrier.carrier, kSctWrite, {}, sctCommand(5, 2, 2)).kind, Answer::Aborted);
    EXPECT_EQ(send(p, carrier.carrier, kSctWrite, {}, sctCommand(5, 1, 3)).kind, Answer::Aborted);
    EXPECT_EQ(send(p, carrier.carrier, kSctWrite, {}, sctCommand(6, 1, 2)).kind, Answer::Aborted);
    ASSERT_EQ(send(p, carrier.carrier, kSctWrite, {}, sctCommand(5, 1, 2)).kind, Answer::Done);
    const Answer table = send(p, carrier.carrier, smartReadLog(0xE1, 1));
    ASSERT_EQ(table.kind, Answer::Done);
    // Version 2, sampling 1, interval 10, limits 60/65/0/-5, a buffer of 128 whose newest
    // sample is the third, then no samples (80h).
    EXPECT_EQ(std::vector<uint8_t>(table.data.begin(), table.data.begin() + 10),
              (std::vector<uint8_t>{2, 0, 1, 0, 10, 0, 60, 65, 0, 0xFB}));
    EXPECT_EQ(std::vector<uint8_t>(table.data.begin() + 30, table.data.begin() + 38),
              (std::vector<uint8_t>{128, 0, 2, 0, 38, 39, 0xFF, 0x80}));
    EXPECT_EQ(table.data.at(161), 0x80);
    EXPECT_EQ(table.data.at(162), 0);
    const Answer status = send(p, carrier.carrier, smartReadLog(0xE0, 1));
    EXPECT_EQ(status.data.at(16), 5);  // the last command's action and function codes
    EXPECT_EQ(status.data.at(18), 1);
  }
}

struct Malformed {
  const char* name;
  std::array<uint8_t, 7> regs;
  void (*arrange)(SimMachine&);
};

void none(SimMachine&) {}

const Malformed kMalformed[] = {
    {"SMART READ LOG without its key", {0xD5, 1, 0x06, 0x00, 0xC2, 0xA0, 0xB0}, none},
    {"pages beyond the self-test log", smartReadLog(0x06, 2), none},
    {"a log the drive does not keep", smartReadLog(0x80, 1), none},
    {"the extended error log by SMART READ LOG", smartReadLog(0x03, 1), none},
    {"the summary error log by READ LOG EXT", readLogExt(0x01, 0, 1), none},
    {"the extended self-test log by SMART READ LOG", smartReadLog(0x07, 1), none},
    {"a page past the extended self-test log", readLogExt(0x07, 1, 1), none},
    {"a page past the extended error log", readLogExt(0x03, 16, 1), none},
    {"pages running past it", readLogExt(0x03, 15, 2), none},
    {"READ LOG EXT without general purpose logging", readLogExt(0x04, 0, 1),
     [](SimMachine& m) { m.drives[0].ata.units[0].identify[84] &= 0xFFDF; }},
    {"self-test log without self-tests", smartReadLog(0x06, 1),
     [](SimMachine& m) { m.drives[0].ata.units[0].identify[84] &= 0xFFFD; }},
    {"error log without error logging", smartReadLog(0x01, 1),
     [](SimMachine& m) { m.drives[0].ata.units[0].identify[84] &= 0xFFFE; }},
    {"SCT status without SCT", smartReadLog(0xE0, 1),
     [](SimMachine& m) { m.drives[0].ata.units[0].identify[206] = 0; }},
    {"SMART disabled", smartReadLog(0x06, 1), [](SimMachine& m) { m.drives[0].ata.units[0].smart.enabled = false; }},
};

TEST(SimLogs, MalformedLogRequestsAbort) {
  for (const Malformed& c : kMalformed) {
    SCOPED_TRACE(c.name);
    SimMachine m = loadMachine(machine());
    c.arrange(m);
    SimPlatform p(std::move(m));
    EXPECT_EQ(send(p, Carrier::AtaPassThrough, c.regs).kind, Answer::Aborted);
  }
}

TEST(SimLogs, NvmeErrorLogHoldsTheDescribedEntriesNewestFirst) {
  SimPlatform p(loadMachine(R"({"drives": [{"number": 0, "transport": "nvme", "identity": {"sectors": 1000},
    "nvme": {"errorLog": [{"errorCount": 12, "sqid": 1, "cid": "0x1011", "status": "0x281", "lba": "0x0102030405",
                           "nsid": 1, "transportType": 3, "commandSpecific": 9},
                          {"errorCount": 11, "status": "0x109", "parameterErrorLocation": "0x28", "nsid": 0}]}}]})"));
  // A Get Log Page query of log 01h: protocol data at 8 (NVMe, log page, identifier, events
  // retained), data from 48.
  const auto ask = [&](uint32_t length) {
    std::vector<uint8_t> b(48 + length, 0xEE);
    std::fill(b.begin(), b.begin() + 48, 0);
    const std::pair<size_t, uint32_t> fields[] = {{0, 49}, {8, 3}, {12, 2}, {16, 1}, {24, 40}, {28, length}, {44, 1}};
    for (const auto& [at, value] : fields) put32(b, at, value);
    uint32_t returned = 0;
    const auto size = static_cast<uint32_t>(b.size());
    const bool ok = p.deviceIoControl(openDrive(p), 0x002D1400, b.data(), size, b.data(), size, &returned);
    b.erase(b.begin(), b.begin() + 48);
    return std::make_pair(ok ? returned : 0u, b);
  };
  const auto [returned, log] = ask(4096 + 512);
  ASSERT_EQ(returned, 48u + 4096 + 512);  // past its 64 entries the log reads as zeros
  EXPECT_EQ(std::vector<uint8_t>(log.begin(), log.begin() + 40),
            (std::vector<uint8_t>{12, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0x11, 0x10, 0x02, 0x05, 0xFF, 0xFF, 5, 4, 3, 2,
                                  1, 0, 0, 0, 1, 0, 0, 0, 0, 3, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0}));
  // Status: code 09h << 1, type 1 << 9; parameter error location byte 40.
  EXPECT_EQ(std::vector<uint8_t>(log.begin() + 64, log.begin() + 68), (std::vector<uint8_t>{11, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(log.begin() + 76, log.begin() + 80), (std::vector<uint8_t>{0x12, 0x02, 0x28, 0}));
  EXPECT_EQ(std::count(log.begin() + 128, log.end(), 0), 4096 + 512 - 128);
  EXPECT_EQ(ask(520).first, 0u);  // part of an entry
  EXPECT_EQ(p.lastError(), ERROR_INVALID_PARAMETER);
}

struct LoaderCase {
  const char* name;
  std::string drive;  // the drive's description
  const char* mentions;
};

std::string ataDrive(const std::string& extra) {
  return R"({"number": 0, "identity": {"sectors": 1000})" + (extra.empty() ? "" : ", " + extra) + "}";
}

TEST(SimLogs, TheLoaderRefusesMalformedLogs) {
  std::string manySamples;
  for (int i = 0; i < 479; ++i) manySamples += (i == 0 ? "" : ",") + std::string("40");
  const LoaderCase cases[] = {
      {"status above 15", ataDrive(R"("logs": {"selfTests": [{"status": 16}]})"),
       "machine.drives[0].logs.selfTests[0].status: value 16 is above 15"},
      {"remaining not in tens", ataDrive(R"("logs": {"selfTests": [{"remaining": 35}]})"), "tens of percent"},
      {"lba beyond 48 bits", ataDrive(R"("logs": {"selfTests": [{"lba": "0x1000000000000"}]})"),
       "above 281474976710655"},
      {"fewer errors counted than listed", ataDrive(R"("logs": {"errors": [{}, {}], "errorCount": 1})"),
       "logs.errorCount: fewer than the errors listed"},
      {"six commands", ataDrive(R"("logs": {"errors": [{"commands": [{"command": 1}, {"command": 1}, {"command": 1},
        {"command": 1}, {"command": 1}, {"command": 1}]}]})"), "holds 5 commands"},
      {"too cold", ataDrive(R"("logs": {"temperature": {"current": -128}})"),
       "temperature.current: value -128 is below"},
      {"too many samples", ataDrive(R"("logs": {"temperature": {"history": [)" + manySamples + "]}}"), "478 samples"},
      {"limits upside down", ataDrive(R"("logs": {"temperature": {"limits": {"minOperating": 70}}})"), "minOperating"},
      {"sct twice", R"({"number": 0, "identity": {"sectors": 1000, "sct": true}, "logs": {"sct": false}})", "not both"},
      {"unknown statistic", ataDrive(R"("logs": {"statistics": {"spinUps": 1}})"), "statistics.spinUps: unknown field"},
      {"refused logs without a bridge", ataDrive(R"("refusedLogs": [4])"), "only a bridge"},
      {"logs of an NVMe drive", R"({"number": 0, "transport": "nvme", "identity": {"sectors": 8}, "logs": {}})",
       "not a field of an NVMe drive"},
      {"NVMe errors oldest first", R"({"number": 0, "transport": "nvme", "identity": {"sectors": 8},
        "nvme": {"errorLog": [{"errorCount": 1}, {"errorCount": 2}]}})", "newest first"},
      {"NVMe error count 0", R"({"number": 0, "transport": "nvme", "identity": {"sectors": 8},
        "nvme": {"errorLog": [{"errorCount": 0}]}})", "empty one"},
  };
  for (const LoaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      loadMachine(R"({"drives": [)" + c.drive + "]}");
      ADD_FAILURE() << "accepted";
    } catch (const MachineDescriptionError& e) {
      EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
    }
  }
}

TEST(SimLogs, TheLoaderKeepsTheNewestSelfTestsAndSetsTheIdentifyBits) {
  std::string tests;
  for (int i = 0; i < 23; ++i) tests += (i == 0 ? "" : ",") + std::string(R"({"hours": )") + std::to_string(i) + "}";
  const SimMachine m = loadMachine(R"({"drives": [)" +
                                   ataDrive(R"("offlineCapability": 0, "logs": {"gpl": false, "sct": false,
                                     "powerOnHours": 77, "selfTests": [)" + tests + "]}") + "]}");
  const SimUnit& u = m.drives[0].ata.units.at(0);
  ASSERT_EQ(u.logs.selfTests.size(), 21u);
  EXPECT_EQ(u.logs.selfTests.front().hours, 2);
  EXPECT_EQ(u.logs.selfTestsLogged, 23u);
  EXPECT_EQ(u.logs.powerOnHours, 77u);
  EXPECT_EQ(u.identify[84], 0x4001);  // error logging only: no self-tests, no general purpose logging
  EXPECT_EQ(u.identify[87], 0x4001);
  EXPECT_EQ(u.identify[206], 0);
  EXPECT_EQ(loadMachine(R"({"drives": [)" + ataDrive("") + "]}").drives[0].ata.units.at(0).identify[84], 0x4023);
}

}  // namespace
}  // namespace palvoro::sim::testing
