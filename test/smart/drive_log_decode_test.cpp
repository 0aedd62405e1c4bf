#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <set>

#include "smart/device_statistics.h"
#include "smart/error_log.h"
#include "smart/nvme_logs.h"
#include "smart/sct_temperature.h"

namespace palvoro {
namespace {

using Strings = std::vector<std::string>;

// Little-endian bytes written by hand, as the drive lays them out.
void put(uint8_t* at, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void write(uint8_t* at, std::initializer_list<uint8_t> bytes) { std::copy(bytes.begin(), bytes.end(), at); }

// The lifetime hours of the entries, checking they are numbered down from `newest`.
std::vector<uint16_t> hoursOf(const AtaErrorLog& log, uint32_t newest) {
  std::vector<uint16_t> hours;
  for (const AtaErrorEntry& e : log.entries) {
    EXPECT_EQ(e.number, newest - hours.size());
    hours.push_back(e.lifetimeHours);
  }
  return hours;
}

// Byte 511 makes the page's byte sum zero.
void seal(LogPage& page) {
  uint8_t sum = 0;
  for (size_t i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + page[i]);
  page[511] = static_cast<uint8_t>(0x100 - sum);
}

// ---- Summary error log (01h): structures of 90 bytes from byte 2, error part at +60.

LogPage summaryRing(size_t filled, uint8_t index, uint16_t count) {
  LogPage page{};
  page[0] = 1;
  page[1] = index;
  for (size_t slot = 0; slot < filled; ++slot) {
    uint8_t* e = page.data() + 2 + slot * 90 + 60;
    e[1] = 0x04;
    put(e + 28, slot + 1, 2);  // hours tell the slots apart
  }
  put(page.data() + 452, count, 2);
  seal(page);
  return page;
}

TEST(SummaryErrorLog, EveryFieldOfAnEntry) {
  LogPage page{};
  page[0] = 1;
  page[1] = 1;
  uint8_t* s = page.data() + 2;
  // Commands 1..3 empty; 4 and 5 (the failing one): DC, features, count, LBA l/m/h, device, command, ms.
  write(s + 36, {0x08, 0x11, 0x22, 0x33, 0x44, 0x55, 0xE6, 0xC8, 0x04, 0x03, 0x02, 0x01});
  write(s + 48, {0x00, 0x00, 0x08, 0x9A, 0xBC, 0xDE, 0xE7, 0xC8, 0x00, 0x04, 0x02, 0x01});
  write(s + 60, {0x00, 0x40, 0x01, 0x9A, 0xBC, 0xDE, 0xE7, 0x51});  // reserved, error, count, LBA, device, status
  s[60 + 27] = 0xA3;  // vendor nibble A, state 3
  put(s + 60 + 28, 0x1234, 2);
  put(page.data() + 452, 258, 2);
  seal(page);

  const AtaErrorLog log = decodeSummaryErrorLog(page);
  EXPECT_FALSE(log.extended);
  EXPECT_EQ(log.version, 1);
  EXPECT_TRUE(log.checksumValid);
  EXPECT_EQ(log.deviceErrorCount, 258u);
  // Commands 1..3 were empty and are left out; the LBA takes bits 27:24 from the device register.
  const AtaErrorEntry expected{258,
                               {{0xC8, 0x11, 0x22, 0x6554433, 0xE6, 0x08, 0x01020304},
                                {0xC8, 0x00, 0x08, 0x7DEBC9A, 0xE7, 0x00, 0x01020400}},
                               0x40, 0x51, 1, 0x7DEBC9A, 0xE7, 3, 0x1234};
  EXPECT_EQ(log.entries, std::vector<AtaErrorEntry>{expected});

  page[300] ^= 1;
  EXPECT_FALSE(decodeSummaryErrorLog(page).checksumValid);
}

TEST(SummaryErrorLog, WalksBackAroundTheRing) {
  struct Case {
    const char* name;
    size_t filled;
    uint8_t index;
    std::vector<uint16_t> hours;
  };
  for (const Case& c : {Case{"wrapped", 5, 2, {2, 1, 5, 4, 3}}, Case{"not yet full", 3, 3, {3, 2, 1}},
                        Case{"none written", 5, 0, {}}, Case{"index above 5", 5, 6, {}},
                        Case{"index at an empty slot", 3, 5, {}}}) {
    EXPECT_EQ(hoursOf(decodeSummaryErrorLog(summaryRing(c.filled, c.index, 57)), 57), c.hours) << c.name;
  }
}

// ---- Extended comprehensive error log (03h): 4 structures of 124 bytes per page from byte 4.

TEST(ExtErrorLog, EveryFieldOfAnEntry) {
  LogPage page{};
  page[0] = 1;
  put(page.data() + 2, 2, 2);  // index 2: the second structure of page 0
  uint8_t* s = page.data() + 4 + 124;
  // The failing command (fifth, at +72): DC, features 7:0 15:8, count 7:0 15:8, LBA bytes in
  // the order 7:0, 31:24, 15:8, 39:32, 23:16, 47:40, device, command, reserved, ms.
  write(s + 72,
        {0x00, 0x01, 0x02, 0x03, 0x04, 0x11, 0x44, 0x22, 0x55, 0x33, 0x66, 0x40, 0x60, 0x00, 0xD0, 0xC0, 0xB0, 0xA0});
  write(s + 90, {0x77, 0x40, 0x08, 0x01, 0x11, 0x44, 0x22, 0x55, 0x33, 0x66, 0x40, 0x51});  // transport byte first
  s[90 + 31] = 0x04;
  put(s + 90 + 32, 500, 2);
  put(page.data() + 500, 7, 2);
  seal(page);

  const auto log = decodeExtComprehensiveErrorLog(
      [&](uint16_t n, LogPage& out) { return n == 0 && (out = page, true); }, 1, 10);
  ASSERT_TRUE(log);
  EXPECT_TRUE(log->extended);
  EXPECT_EQ(log->version, 1);
  EXPECT_TRUE(log->checksumValid);
  EXPECT_EQ(log->deviceErrorCount, 7u);
  // One entry: the structure before it is empty, the ring never full.
  const AtaErrorEntry expected{
      7, {{0x60, 0x0201, 0x0403, 0x665544332211, 0x40, 0x00, 0xA0B0C0D0}}, 0x40, 0x51, 0x0108, 0x665544332211,
      0x40, 4, 500};
  EXPECT_EQ(log->entries, std::vector<AtaErrorEntry>{expected});
}

TEST(ExtErrorLog, WalksBackAcrossPagesAndAroundTheRing) {
  // Three pages, twelve structures, each holding its own 1-based ring position as its hours.
  auto pages = [](uint16_t index) {
    std::map<uint16_t, LogPage> out;
    for (uint16_t n = 0; n < 3; ++n) {
      LogPage& p = out[n];
      p = {};
      p[0] = 1;
      put(p.data() + 2, index, 2);
      put(p.data() + 500, 300, 2);
      for (size_t slot = 0; slot < 4; ++slot) {
        uint8_t* e = p.data() + 4 + slot * 124 + 90;
        e[1] = 0x04;
        put(e + 32, n * 4 + slot + 1, 2);
      }
      seal(p);
    }
    return out;
  };
  struct Case {
    const char* name;
    uint16_t index;
    size_t maxEntries;
    std::set<uint16_t> unreadable;
    std::vector<uint16_t> hours;
  };
  for (const Case& c : {Case{"back across a page", 5, 3, {}, {5, 4, 3}},
                        Case{"from page 0 to the last page", 2, 4, {}, {2, 1, 12, 11}},
                        Case{"the whole ring, no more", 7, 100, {}, {7, 6, 5, 4, 3, 2, 1, 12, 11, 10, 9, 8}},
                        Case{"an unreadable page ends the walk", 2, 4, {2}, {2, 1}},
                        Case{"none written", 0, 4, {}, {}}, Case{"index past the ring", 13, 4, {}, {}}}) {
    const auto source = pages(c.index);
    std::vector<uint16_t> asked;
    const auto log = decodeExtComprehensiveErrorLog(
        [&](uint16_t n, LogPage& out) {
          asked.push_back(n);
          if (c.unreadable.count(n)) return false;
          out = source.at(n);
          return true;
        },
        3, c.maxEntries);
    ASSERT_TRUE(log) << c.name;
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked[0], 0) << c.name;
    EXPECT_EQ(hoursOf(*log, 300), c.hours) << c.name;
  }
  auto damaged = pages(2);
  damaged[2][50] ^= 1;
  const auto fromDamaged = [&](uint16_t n, LogPage& out) { return (out = damaged.at(n), true); };
  EXPECT_FALSE(decodeExtComprehensiveErrorLog(fromDamaged, 3, 4)->checksumValid);
  EXPECT_TRUE(decodeExtComprehensiveErrorLog(fromDamaged, 3, 2)->checksumValid);  // page 2 never used
  EXPECT_FALSE(decodeExtComprehensiveErrorLog([](uint16_t, LogPage&) { return false; }, 3, 4));
}

TEST(ErrorLogTexts, CommandsBitsAndStates) {
  EXPECT_EQ(ataCommandName(0x60), "READ FPDMA QUEUED");
  EXPECT_EQ(ataCommandName(0x35), "WRITE DMA EXT");
  EXPECT_EQ(ataCommandName(0xB0), "SMART");
  EXPECT_EQ(ataCommandName(0xEC), "IDENTIFY DEVICE");
  EXPECT_EQ(ataCommandName(0xAB), "Command 0xAB");
  EXPECT_EQ(ataErrorBitsText(0), "");
  EXPECT_EQ(ataErrorBitsText(0x54), "UNC IDNF ABRT");
  EXPECT_EQ(ataErrorBitsText(0x81), "ICRC AMNF");
  EXPECT_EQ(ataErrorStateText(0), "Unknown");
  EXPECT_EQ(ataErrorStateText(3), "Active or idle");
  EXPECT_EQ(ataErrorStateText(4), "Executing SMART off-line or self-test");
  EXPECT_EQ(ataErrorStateText(5), "Reserved (5)");
  EXPECT_EQ(ataErrorStateText(12), "Vendor (12)");
}

AtaErrorEntry entry(uint8_t error, uint16_t hours, std::initializer_list<uint8_t> commands = {}, uint64_t lba = 0) {
  AtaErrorEntry e;
  e.error = error;
  e.lifetimeHours = hours;
  e.lba = lba;
  for (const uint8_t command : commands) {
    e.commands.emplace_back();
    e.commands.back().command = command;
  }
  return e;
}

AtaErrorLog errorLog(bool checksumValid, uint32_t count, std::vector<AtaErrorEntry> entries) {
  AtaErrorLog log;
  log.checksumValid = checksumValid;
  log.deviceErrorCount = count;
  log.entries = std::move(entries);
  return log;
}

TEST(ErrorLogHints, Table) {
  const char* kCrc = "2 logged errors are interface CRC errors, which point to the cable or connector rather than "
                     "the disk.";
  struct Case {
    const char* name;
    AtaErrorLog log;
    std::optional<uint32_t> powerOnHours;
    Strings hints;
  };
  const Case cases[] = {
      {"empty", errorLog(true, 3, {}), 100, {}},
      {"a read",
       errorLog(true, 57, {entry(0x40, 9, {0xEC, 0x60}, 12345)}),
       std::nullopt,
       {"The drive has logged 57 errors in its life; the last was an uncorrectable read (READ FPDMA QUEUED at "
        "sector 12345)."}},
      // Now 65556 hours, 20 as the log keeps it: 15 and 65530 are recent, 65400 and 30 are not.
      {"16-bit hours wrap",
       errorLog(true, 4, {entry(0x04, 15, {0xEC}), entry(0x04, 65530), entry(0x04, 65400), entry(0x04, 30)}),
       65556,
       {"The drive has logged 4 errors in its life; the last was an aborted command (IDENTIFY DEVICE).",
        "2 errors logged in the last 100 power-on hours."}},
      {"one error, no command",
       errorLog(true, 1, {entry(0x10, 5)}),
       6,
       {"The drive has logged 1 error in its life; it was a sector the drive could not find.",
        "1 error logged in the last 100 power-on hours."}},
      {"cable, damaged page",
       errorLog(false, 0, {entry(0x84, 1, {0x35}, 8), entry(0x84, 1)}),
       std::nullopt,
       {"The drive has logged 2 errors in its life; the last was an interface CRC error (WRITE DMA EXT at "
        "sector 8).",
        kCrc, "The error log failed its checksum, so its entries may be damaged."}},
  };
  for (const Case& c : cases) EXPECT_EQ(errorLogHints(c.log, c.powerOnHours), c.hints) << c.name;
}

// ---- Device Statistics (04h): qwords, flags in the top byte.

struct Qword {
  uint16_t offset;
  uint8_t flags;
  uint64_t value;
};

LogPage statisticsPage(uint16_t revision, uint8_t number, std::initializer_list<Qword> qwords) {
  LogPage page{};
  put(page.data(), revision, 2);
  page[2] = number;
  for (const Qword& q : qwords) {
    put(page.data() + q.offset, q.value, 7);
    page[q.offset + 7] = q.flags;
  }
  return page;
}

TEST(DeviceStatistics, PageListAndStatistics) {
  LogPage list{};
  list[0] = 1;
  write(list.data() + 8, {4, 0, 1, 4, 5});
  EXPECT_EQ(deviceStatisticsPageList(list), (std::vector<uint8_t>{0, 1, 4, 5}));
  list[2] = 1;
  EXPECT_TRUE(deviceStatisticsPageList(list).empty());

  struct Case {
    LogPage page;
    std::vector<DeviceStatistic> statistics;
  };
  const Case cases[] = {
      {statisticsPage(1, 1,
                      {{0x10, 0xE0, 0x4321},
                       {0x18, 0xC0, 0x00123456789ABCDE},  // bits 55:48 are not the value
                       {0x20, 0x40, 99},                  // not supported: left out
                       {0x28, 0x80, 5},
                       {0x100, 0xC0, 7}}),
       {{1, 0x10, "Power-on Hours", 0x4321, true, true, "hours"},
        {1, 0x18, "Logical Sectors Written", 0x3456789ABCDE, true, false, ""},
        {1, 0x28, "Logical Sectors Read", 5, false, false, ""},
        {1, 0x100, "Statistic at offset 100h", 7, true, false, ""}}},
      {statisticsPage(1, 5, {{0x08, 0xC0, 0xFB}, {0x20, 0xC0, 0x80}, {0x50, 0xC0, 35}}),
       {{5, 0x08, "Current Temperature", -5, true, false, "°C"},
        {5, 0x20, "Highest Temperature", -128, false, false, "°C"},
        {5, 0x50, "Time in Over-Temperature", 35, true, false, "minutes"}}},
      {statisticsPage(1, 0x42, {{0x08, 0xC0, 1}}), {{0x42, 0x08, "Statistic at offset 08h", 1, true, false, ""}}},
      {statisticsPage(0, 4, {{0x08, 0xC0, 1}}), {}},  // revision 0: the drive keeps no such page
  };
  for (const Case& c : cases) EXPECT_EQ(decodeDeviceStatisticsPage(c.page), c.statistics) << int(c.page[2]);
  EXPECT_EQ(powerOnHoursOf(decodeDeviceStatisticsPage(cases[0].page)), 0x4321u);
  EXPECT_EQ(powerOnHoursOf(decodeDeviceStatisticsPage(statisticsPage(1, 1, {{0x10, 0x80, 9}}))), std::nullopt);
  EXPECT_EQ(deviceStatisticsPageName(4), "General Errors Statistics");
  EXPECT_EQ(deviceStatisticsPageName(0x42), "Page 42h");
}

TEST(DeviceStatistics, Hints) {
  auto stat = [](uint8_t page, uint16_t offset, int64_t value, bool valid = true) {
    DeviceStatistic s;
    s.page = page;
    s.offset = offset;
    s.value = value;
    s.valid = valid;
    return s;
  };
  EXPECT_EQ(deviceStatisticsHints({stat(4, 0x08, 4), stat(3, 0x20, 1), stat(3, 0x38, 2), stat(6, 0x18, 1),
                                   stat(5, 0x50, 35), stat(5, 0x60, 1), stat(5, 0x20, 65), stat(5, 0x58, 60),
                                   stat(7, 0x08, 100)}),
            (Strings{"The drive has reported 4 uncorrectable errors in its life.",
                     "The drive has reallocated 1 logical sector.",
                     "The drive has 2 logical sectors waiting to be reallocated.",
                     "The drive has counted 1 interface CRC error, which points to the cable or connector rather "
                     "than the disk.",
                     "The drive has spent 35 minutes above its specified maximum operating temperature.",
                     "The drive has spent 1 minute below its specified minimum operating temperature.",
                     "The drive's highest recorded temperature, 65 °C, is above its specified maximum operating "
                     "temperature of 60 °C.",
                     "The drive has used 100% of its rated endurance, the end of its rated life."}));
  // Invalid values, zero counts, a cool peak and little wear say nothing.
  EXPECT_TRUE(deviceStatisticsHints({stat(4, 0x08, 4, false), stat(5, 0x50, 0), stat(5, 0x20, 50),
                                     stat(5, 0x58, 60), stat(7, 0x08, 79)})
                  .empty());
}

// ---- SCT status and temperature history.

TEST(SctTemperature, StatusRequestAndHistory) {
  LogPage status{};
  put(status.data(), 3, 2);
  put(status.data() + 2, 0x0104, 2);
  write(status.data() + 200, {0x2A, 0xF6, 0x80, 0x14, 0x3C});
  put(status.data() + 206, 0x01020304, 4);
  put(status.data() + 210, 5, 4);
  EXPECT_EQ(decodeSctStatus(status), (SctStatus{3, 0x0104, 42, -10, std::nullopt, 20, 60, 0x01020304, 5}));
  for (const uint16_t format : {1, 4}) {
    put(status.data(), format, 2);
    EXPECT_FALSE(decodeSctStatus(status)) << format;
  }

  LogPage request{};
  request[0] = 0x05;  // action: data table
  request[2] = 0x01;  // function: read table
  request[4] = 0x02;  // table: temperature history
  EXPECT_EQ(sctTemperatureHistoryRequest(), request);

  auto table = [](uint16_t format, uint16_t size, uint16_t newest) {
    LogPage page{};
    put(page.data(), format, 2);
    put(page.data() + 2, 1, 2);
    put(page.data() + 4, 10, 2);
    write(page.data() + 6, {60, 65, 0, 0xFB});
    put(page.data() + 30, size, 2);
    put(page.data() + 32, newest, 2);
    write(page.data() + 34, {30, 31, 0x80, 33, 34});
    return page;
  };
  EXPECT_EQ(decodeSctTemperatureHistory(table(2, 5, 1)),
            (SctTemperatureHistory{2, 1, 10, 60, 65, 0, -5, {std::nullopt, 33, 34, 30, 31}}));
  EXPECT_EQ(decodeSctTemperatureHistory(table(2, 478, 477))->samples.size(), 478u);  // the page's whole room
  for (const LogPage& bad : {table(3, 5, 1), table(2, 0, 0), table(2, 479, 0), table(2, 5, 5)}) {
    EXPECT_FALSE(decodeSctTemperatureHistory(bad));
  }
}

TEST(SctTemperature, Hints) {
  auto status = [](std::optional<int> current, std::optional<int> lifetimeMax, uint32_t over = 0) {
    SctStatus s;
    s.formatVersion = 2;
    s.currentCelsius = current;
    s.lifetimeMaxCelsius = lifetimeMax;
    s.overLimitCount = over;
    return s;
  };
  auto history = [](std::vector<std::optional<int>> samples) {
    SctTemperatureHistory h;
    h.formatVersion = 2;
    h.maxOperating = 60;
    h.minOperating = 5;
    h.samples = std::move(samples);
    return h;
  };
  struct Case {
    const char* name;
    std::optional<SctStatus> status;
    std::optional<SctTemperatureHistory> history;
    Strings hints;
  };
  const Case cases[] = {
      {"peak and near",
       status(52, 61),
       history({40, 61, std::nullopt, 52}),
       {"The drive's recorded temperature reached 61 °C, above its limit of 60 °C.",
        "The drive is at 52 °C, within 8 °C of its maximum operating temperature of 60 °C."}},
      {"history alone", std::nullopt, history({50, 65, std::nullopt}),
       {"The drive's recorded temperature reached 65 °C, above its limit of 60 °C.",
        "The drive is at 65 °C, above its maximum operating temperature of 60 °C."}},
      {"hot long ago", status(30, 70), history({40}),
       {"The drive's highest temperature in its life was 70 °C, above its limit of 60 °C."}},
      {"cold, counted", status(0, 40, 1), history({0}),
       {"The drive is at 0 °C, below its minimum operating temperature of 5 °C.",
        "The drive has gone above its temperature limit once."}},
      {"no limits known", status(70, 70), std::nullopt, {}},
      {"nothing read", std::nullopt, std::nullopt, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(temperatureHints(c.status, c.history), c.hints) << c.name;
}

// ---- NVMe Error Information (01h) and Device Self-test (06h).

TEST(NvmeLogs, ErrorLog) {
  std::vector<uint8_t> bytes(3 * 64 + 10);  // a trailing part shorter than an entry
  uint8_t* e = bytes.data();
  put(e, 7, 8);
  put(e + 8, 1, 2);
  put(e + 10, 0x1234, 2);
  put(e + 12, (0x281 << 1) | 1, 2);  // phase tag set
  put(e + 14, 0x0010, 2);
  put(e + 16, 0x100000005, 8);
  put(e + 24, 1, 4);
  e[28] = 2;
  e[29] = 3;
  put(e + 32, 0x1122334455667788, 8);
  put(e + 128, 6, 8);  // entry 1 stays empty
  put(e + 128 + 12, 0x002 << 1, 2);
  const std::vector<NvmeErrorEntry> log = decodeNvmeErrorLog(bytes);
  ASSERT_EQ(log, (std::vector<NvmeErrorEntry>{{7, 1, 0x1234, 0x281, 0x10, 0x100000005, 1, 2, 3, 0x1122334455667788},
                                               {6, 0, 0, 0x002, 0, 0, 0, 0, 0, 0}}));
  EXPECT_TRUE(decodeNvmeErrorLog(std::span(bytes).first(63)).empty());

  EXPECT_EQ(nvmeStatusText(0x281), "Unrecovered Read Error (2/81h)");
  EXPECT_EQ(nvmeStatusText(0x4002), "Invalid Field in Command (0/02h)");  // do-not-retry bit ignored
  EXPECT_EQ(nvmeStatusText(0x109), "Invalid Log Page (1/09h)");
  EXPECT_EQ(nvmeStatusText(0x2FF), "Status 2/FFh");

  const std::optional<uint64_t> none;
  EXPECT_EQ(nvmeLogHints({log[1]}, std::nullopt, none),
            (Strings{"The controller has counted 6 errors in its life; the newest was Invalid Field in Command "
                     "(0/02h).",
                     "None of the logged errors is a media error."}));
  EXPECT_EQ(nvmeLogHints(log, std::nullopt, none)[1],
            "1 of the 2 logged errors is a media error, where the drive could not read or write its data.");
  EXPECT_EQ(nvmeLogHints(log, std::nullopt, none)[0],
            "The controller has counted 7 errors in its life; the newest was Unrecovered Read Error (2/81h) at "
            "LBA 4294967301.");
  EXPECT_TRUE(nvmeLogHints({}, std::nullopt, 5).empty());
}

TEST(NvmeLogs, SelfTestLog) {
  std::vector<uint8_t> bytes(564);
  bytes[0] = 0x02;  // an extended test running
  bytes[1] = 0xA8;  // 40%, bit 7 reserved
  for (size_t i = 0; i < 20; ++i) bytes[4 + i * 28] = 0x0F;
  uint8_t* r = bytes.data() + 4;
  write(r, {0x27, 3, 0x0F, 0});  // extended, failed segments; segment 3; all four valid
  put(r + 4, 1200, 8);
  put(r + 12, 1, 4);
  put(r + 16, 4096, 8);
  r[24] = 0xFA;  // type in bits 2:0
  r[25] = 0x81;
  r[2 * 28] = 0x10;  // short, passed, nothing valid
  put(r + 2 * 28 + 4, 1000, 8);
  r[3 * 28] = 0x10;
  r[3 * 28 + 2] = 0x08;  // the code alone is valid
  r[3 * 28 + 24] = 2;
  r[3 * 28 + 25] = 0x81;
  r[4 * 28] = 0x00;  // never written: names no test

  const auto log = decodeNvmeSelfTestLog(bytes);
  ASSERT_TRUE(log);
  EXPECT_EQ(log->currentOperation, 2);
  EXPECT_EQ(log->currentCompletion, 40);
  EXPECT_EQ(log->entries, (std::vector<NvmeSelfTestEntry>{{2, 7, 3, 1200, 1, 4096, 0x281},
                                                          {1, 0, 0, 1000, std::nullopt, std::nullopt, std::nullopt},
                                                          {1, 0, 0, 0, std::nullopt, std::nullopt, 0x081}}));
  EXPECT_FALSE(decodeNvmeSelfTestLog(std::span(bytes).first(563)));

  EXPECT_EQ(nvmeSelfTestResultText(0), "Completed without error");
  EXPECT_EQ(nvmeSelfTestResultText(7), "Completed with one or more failed segments");
  EXPECT_EQ(nvmeSelfTestResultText(7, 3), "Failed segment 3");
  EXPECT_EQ(nvmeSelfTestResultText(10), "Reserved (10)");
  EXPECT_EQ(nvmeSelfTestResultText(15), "Entry not used");
  EXPECT_EQ(nvmeLogHints({}, log, 1235),
            (Strings{"The drive's own last failed self-test (extended, at 1200 power-on hours, 35 hours ago) "
                     "failed in segment 3 at LBA 4096.",
                     "The drive's extended self-test is running, 40% done."}));
}

}  // namespace
}  // namespace palvoro
