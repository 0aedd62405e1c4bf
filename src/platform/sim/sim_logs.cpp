#include "platform/sim/sim_logs.h"
#include "protocol/byte_order.h"

#include <algorithm>

namespace palvoro::sim {
namespace {

constexpr size_t kPageBytes = 512;
constexpr size_t kChecksum = 511;
constexpr uint64_t kMsPerHour = 3600000;

// IDENTIFY bits that say which logs exist.
constexpr uint16_t kW84ErrorLog = 0x0001;
constexpr uint16_t kW84SelfTest = 0x0002;
constexpr uint16_t kW206Sct = 0x0001;
constexpr uint16_t kW206DataTables = 0x0020;

// Log sizes in pages.
constexpr uint32_t kExtendedErrorPages = 16;  // four structures a page: 64 errors
constexpr uint32_t kStatisticsPages = 6;      // pages 0..5; 2 and 3 are not kept

// The SMART self-test log: revision, 21 descriptors of 24 bytes, the newest one's index.
constexpr size_t kStRevision = 0;
constexpr size_t kStDescriptors = 2;
constexpr size_t kStDescriptorBytes = 24;
constexpr size_t kStRing = 21;
constexpr size_t kStIndex = 508;
constexpr size_t kSdTest = 0;          // LBA low of the command that started it
constexpr size_t kSdStatus = 1;        // execution status << 4 | tenths remaining
constexpr size_t kSdHours = 2;
constexpr size_t kSdCheckpoint = 4;
constexpr size_t kSdFailingLba = 5;    // 28 bits in 4 bytes
constexpr uint64_t kLba28Mask = 0x0FFFFFFF;

// The extended self-test log (READ LOG EXT only), one page as most drives keep it:
// revision, the newest descriptor's index (1-based, 16 bits), 19 descriptors of 26 bytes
// whose failing LBA has 48 bits in 6 bytes (the others as in the SMART log).
constexpr uint32_t kExtendedSelfTestPages = 1;
constexpr size_t kXsRevision = 0;
constexpr size_t kXsIndex = 2;
constexpr size_t kXsDescriptors = 4;
constexpr size_t kXsDescriptorBytes = 26;
constexpr size_t kXsPerPage = 19;

// The summary error log: version, index of the newest structure (1..5), five structures of
// 90 bytes, the device error count.
constexpr size_t kSeVersion = 0;
constexpr size_t kSeIndex = 1;
constexpr size_t kSeStructures = 2;
constexpr size_t kSeStructureBytes = 90;
constexpr size_t kSeRing = 5;
constexpr size_t kSeDeviceErrorCount = 452;
constexpr size_t kSeCommandBytes = 12;   // five of them, the fifth the failed command
constexpr size_t kSeError = 60;          // the error data structure (30 bytes)

// The extended comprehensive error log, each page: version, index of the newest structure
// (1..64), four structures of 124 bytes, the device error count.
constexpr size_t kXeVersion = 0;
constexpr size_t kXeIndex = 2;
constexpr size_t kXeStructures = 4;
constexpr size_t kXeStructureBytes = 124;
constexpr size_t kXePerPage = 4;
constexpr size_t kXeDeviceErrorCount = 500;
constexpr size_t kXeCommandBytes = 18;
constexpr size_t kXeError = 90;          // the error data structure (34 bytes)
constexpr size_t kCommandsPerError = 5;

// Device statistics: a header qword (revision, page number) then qwords of bit 63
// supported, bit 62 valid and the value in bits 47:0.
constexpr uint64_t kStatSupported = 1ull << 63;
constexpr uint64_t kStatValid = 1ull << 62;
constexpr uint64_t kStatValueMask = 0xFFFFFFFFFFFFull;
constexpr size_t kDsListCount = 8;       // page 0: number of entries, then the page numbers
constexpr uint8_t kDsPages[] = {0x00, 0x01, 0x04, 0x05};

// SCT status.
constexpr size_t kSsFormatVersion = 0;
constexpr size_t kSsSctVersion = 2;
constexpr size_t kSsSctLevel = 4;
constexpr size_t kSsActionCode = 16;
constexpr size_t kSsFunctionCode = 18;
constexpr size_t kSsCurrent = 200;
constexpr size_t kSsMin = 201;
constexpr size_t kSsMax = 202;
constexpr size_t kSsLifetimeMin = 203;
constexpr size_t kSsLifetimeMax = 204;
constexpr size_t kSsOverLimitCount = 206;
constexpr size_t kSsUnderLimitCount = 210;

// The SCT temperature history table.
constexpr size_t kThFormatVersion = 0;
constexpr size_t kThSampling = 2;
constexpr size_t kThInterval = 4;
constexpr size_t kThMaxOperating = 6;
constexpr size_t kThOverLimit = 7;
constexpr size_t kThMinOperating = 8;
constexpr size_t kThUnderLimit = 9;
constexpr size_t kThBufferSize = 30;
constexpr size_t kThBufferIndex = 32;
constexpr size_t kThSamples = 34;
constexpr size_t kThLeastBuffer = 128;
constexpr uint8_t kThNoSample = 0x80;

using Bytes = std::vector<uint8_t>;

void finish(uint8_t* page) {
  uint8_t sum = 0;
  for (size_t i = 0; i < kChecksum; ++i) sum = static_cast<uint8_t>(sum + page[i]);
  page[kChecksum] = static_cast<uint8_t>(0x100 - sum);
}

uint64_t attributeRaw(const SimUnit& unit, uint8_t id, uint64_t otherwise) {
  for (const SimAttribute& a : unit.smart.attributes) {
    if (a.id == id) return a.raw;
  }
  return otherwise;
}

// The temperatures with every absent reading filled: the current one from attribute 194
// (its raw value's low byte, 25 without it), the others from the current one.
struct Temperatures {
  int8_t current, min, max, lifetimeMin, lifetimeMax;
};
Temperatures temperatures(const SimUnit& unit) {
  const SimTemperature& t = unit.logs.temperature;
  const auto current = t.current ? *t.current : static_cast<int8_t>(attributeRaw(unit, 194, 25) & 0xFF);
  return {current, t.min.value_or(current), t.max.value_or(current), t.lifetimeMin.value_or(current),
          t.lifetimeMax.value_or(current)};
}

uint8_t byteOf(int8_t v) { return static_cast<uint8_t>(v); }

// Where the ring stands: the entry `k` of the `n` kept (oldest first) of `total` ever
// written is number total - n + k.
size_t ringSlot(uint64_t total, size_t n, size_t k, size_t ring) {
  return static_cast<size_t>((total - n + k) % ring);
}
uint64_t ringIndex(uint64_t total, size_t n, size_t ring) { return n == 0 ? 0 : (total - 1) % ring + 1; }

// The fields both self-test logs share; the failing LBA is each log's own.
void selfTestDescriptor(uint8_t* d, const SimSelfTestLogEntry& e) {
  d[kSdTest] = e.test;
  d[kSdStatus] = static_cast<uint8_t>((e.status << 4) | (e.remainingTenths & 0x0F));
  storeLe(d + kSdHours, e.hours, 2);
  d[kSdCheckpoint] = e.checkpoint;
}

// The SMART log keeps a failing sector's low 28 bits, as a drive's 28-bit log must.
Bytes selfTestLog(const SimDriveLogs& logs) {
  Bytes page(kPageBytes, 0);
  storeLe(&page[kStRevision], 1, 2);
  const size_t n = logs.selfTests.size();
  for (size_t k = n > kStRing ? n - kStRing : 0; k < n; ++k) {
    const SimSelfTestLogEntry& e = logs.selfTests[k];
    uint8_t* d = &page[kStDescriptors + kStDescriptorBytes * ringSlot(logs.selfTestsLogged, n, k, kStRing)];
    selfTestDescriptor(d, e);
    storeLe(d + kSdFailingLba, e.failingLba & kLba28Mask, 4);
  }
  page[kStIndex] = static_cast<uint8_t>(ringIndex(logs.selfTestsLogged, n, kStRing));
  finish(page.data());
  return page;
}

Bytes extendedSelfTestLog(const SimDriveLogs& logs, uint32_t first, uint32_t count) {
  const size_t ring = kExtendedSelfTestPages * kXsPerPage;
  Bytes all(kPageBytes * kExtendedSelfTestPages, 0);
  const size_t n = logs.selfTests.size();
  for (size_t k = n > ring ? n - ring : 0; k < n; ++k) {
    const size_t slot = ringSlot(logs.selfTestsLogged, n, k, ring);
    uint8_t* d = &all[kPageBytes * (slot / kXsPerPage) + kXsDescriptors + kXsDescriptorBytes * (slot % kXsPerPage)];
    selfTestDescriptor(d, logs.selfTests[k]);
    storeLe(d + kSdFailingLba, logs.selfTests[k].failingLba, 6);
  }
  for (uint32_t p = 0; p < kExtendedSelfTestPages; ++p) {
    uint8_t* page = &all[kPageBytes * p];
    page[kXsRevision] = 1;
    if (p == 0) storeLe(page + kXsIndex, ringIndex(logs.selfTestsLogged, n, ring), 2);
    finish(page);
  }
  return Bytes(all.begin() + kPageBytes * first, all.begin() + kPageBytes * (first + count));
}

// The commands of an error in the five slots, the failed one in the last.
const SimErrorCommand* commandInSlot(const SimErrorEntry& e, size_t slot) {
  const size_t n = std::min(e.commands.size(), kCommandsPerError);
  const size_t firstSlot = kCommandsPerError - n;
  return slot < firstSlot ? nullptr : &e.commands[e.commands.size() - n + (slot - firstSlot)];
}

uint16_t deviceErrorCount(const SimDriveLogs& logs) {
  return static_cast<uint16_t>(std::min<uint32_t>(logs.errorCount, 0xFFFF));  // it stops at its top
}

// The summary error log keeps the low bytes of the registers (28-bit commands).
void summaryStructure(uint8_t* s, const SimErrorEntry& e) {
  for (size_t slot = 0; slot < kCommandsPerError; ++slot) {
    const SimErrorCommand* c = commandInSlot(e, slot);
    if (c == nullptr) continue;
    uint8_t* d = s + kSeCommandBytes * slot;
    d[0] = c->deviceControl;
    d[1] = static_cast<uint8_t>(c->features);
    d[2] = static_cast<uint8_t>(c->count);
    storeLe(d + 3, c->lba, 3);
    d[6] = c->device;
    d[7] = c->command;
    storeLe(d + 8, c->timestampMs, 4);
  }
  uint8_t* err = s + kSeError;
  err[1] = e.error;
  err[2] = static_cast<uint8_t>(e.count);
  storeLe(err + 3, e.lba, 3);
  err[6] = e.device;
  err[7] = e.status;
  err[27] = e.state;
  storeLe(err + 28, e.hours, 2);
}

Bytes summaryErrorLog(const SimDriveLogs& logs) {
  Bytes page(kPageBytes, 0);
  page[kSeVersion] = 1;
  const size_t n = logs.errors.size();
  for (size_t k = n > kSeRing ? n - kSeRing : 0; k < n; ++k) {
    summaryStructure(&page[kSeStructures + kSeStructureBytes * ringSlot(logs.errorCount, n, k, kSeRing)],
                     logs.errors[k]);
  }
  page[kSeIndex] = static_cast<uint8_t>(ringIndex(logs.errorCount, n, kSeRing));
  storeLe(&page[kSeDeviceErrorCount], deviceErrorCount(logs), 2);
  finish(page.data());
  return page;
}

// A 48-bit LBA in the order the extended structures keep it: 7:0, 31:24, 15:8, 39:32,
// 23:16, 47:40 (each low register followed by its previous content).
void putExtendedLba(uint8_t* at, uint64_t lba) {
  constexpr int kShifts[] = {0, 24, 8, 32, 16, 40};
  for (size_t i = 0; i < 6; ++i) at[i] = static_cast<uint8_t>(lba >> kShifts[i]);
}

void extendedStructure(uint8_t* s, const SimErrorEntry& e) {
  for (size_t slot = 0; slot < kCommandsPerError; ++slot) {
    const SimErrorCommand* c = commandInSlot(e, slot);
    if (c == nullptr) continue;
    uint8_t* d = s + kXeCommandBytes * slot;
    d[0] = c->deviceControl;
    storeLe(d + 1, c->features, 2);
    storeLe(d + 3, c->count, 2);
    putExtendedLba(d + 5, c->lba);
    d[11] = c->device;
    d[12] = c->command;
    storeLe(d + 14, c->timestampMs, 4);
  }
  uint8_t* err = s + kXeError;
  err[1] = e.error;
  storeLe(err + 2, e.count, 2);
  putExtendedLba(err + 4, e.lba);
  err[10] = e.device;
  err[11] = e.status;
  err[31] = e.state;
  storeLe(err + 32, e.hours, 2);
}

Bytes extendedErrorLog(const SimDriveLogs& logs, uint32_t first, uint32_t count) {
  const size_t ring = kExtendedErrorPages * kXePerPage;
  Bytes all(kPageBytes * kExtendedErrorPages, 0);
  const size_t n = logs.errors.size();
  for (size_t k = n > ring ? n - ring : 0; k < n; ++k) {
    const size_t slot = ringSlot(logs.errorCount, n, k, ring);
    extendedStructure(&all[kPageBytes * (slot / kXePerPage) + kXeStructures + kXeStructureBytes * (slot % kXePerPage)],
                      logs.errors[k]);
  }
  for (uint32_t p = 0; p < kExtendedErrorPages; ++p) {
    uint8_t* page = &all[kPageBytes * p];
    page[kXeVersion] = 1;
    storeLe(page + kXeIndex, ringIndex(logs.errorCount, n, ring), 2);
    storeLe(page + kXeDeviceErrorCount, deviceErrorCount(logs), 2);
    finish(page);
  }
  return Bytes(all.begin() + kPageBytes * first, all.begin() + kPageBytes * (first + count));
}

uint64_t statistic(std::optional<uint64_t> value) {
  return value ? kStatSupported | kStatValid | (*value & kStatValueMask) : 0;
}
uint64_t temperatureStatistic(std::optional<int8_t> value) {
  return value ? kStatSupported | kStatValid | byteOf(*value) : 0;
}

Bytes statisticsPage(const SimUnit& unit, uint8_t number, uint64_t nowMs) {
  Bytes page(kPageBytes, 0);
  const bool kept = std::find(std::begin(kDsPages), std::end(kDsPages), number) != std::end(kDsPages);
  if (!kept) return page;
  storeLe(&page[0], 0x0001 | (uint64_t{number} << 16), 8);
  const SimDeviceStatistics& s = unit.logs.statistics;
  const auto at = [&](size_t offset, uint64_t qword) { storeLe(&page[offset], qword, 8); };
  switch (number) {
    case 0x00:
      page[kDsListCount] = static_cast<uint8_t>(std::size(kDsPages));
      std::copy(std::begin(kDsPages), std::end(kDsPages), page.begin() + kDsListCount + 1);
      break;
    case 0x01:  // general statistics
      at(0x08, statistic(s.powerOnResets));
      at(0x10, statistic(unitPowerOnHours(unit, nowMs)));
      at(0x18, statistic(s.logicalSectorsWritten));
      at(0x20, statistic(s.writeCommands));
      at(0x28, statistic(s.logicalSectorsRead));
      at(0x30, statistic(s.readCommands));
      break;
    case 0x04:  // general errors
      at(0x08, statistic(s.uncorrectableErrors));
      at(0x10, statistic(s.resetsDuringCommands));
      break;
    default: {  // 05h, temperature
      const Temperatures t = temperatures(unit);
      const SimTemperature& limits = unit.logs.temperature;
      at(0x08, temperatureStatistic(t.current));
      at(0x10, temperatureStatistic(s.averageShortTermTemperature));
      at(0x18, temperatureStatistic(s.averageLongTermTemperature));
      at(0x20, temperatureStatistic(t.lifetimeMax));
      at(0x28, temperatureStatistic(t.lifetimeMin));
      at(0x50, statistic(s.overTemperatureMinutes));
      at(0x58, temperatureStatistic(limits.maxOperating));
      at(0x60, statistic(s.underTemperatureMinutes));
      at(0x68, temperatureStatistic(limits.minOperating));
      break;
    }
  }
  return page;
}

Bytes sctStatus(const SimUnit& unit) {
  Bytes page(kPageBytes, 0);
  const Temperatures t = temperatures(unit);
  const SimDriveLogs& logs = unit.logs;
  storeLe(&page[kSsFormatVersion], 3, 2);
  storeLe(&page[kSsSctVersion], 3, 2);
  storeLe(&page[kSsSctLevel], 1, 2);
  storeLe(&page[kSsActionCode], logs.sctAction, 2);
  storeLe(&page[kSsFunctionCode], logs.sctFunction, 2);
  page[kSsCurrent] = byteOf(t.current);
  page[kSsMin] = byteOf(t.min);
  page[kSsMax] = byteOf(t.max);
  page[kSsLifetimeMin] = byteOf(t.lifetimeMin);
  page[kSsLifetimeMax] = byteOf(t.lifetimeMax);
  storeLe(&page[kSsOverLimitCount], logs.temperature.overLimitCount, 4);
  storeLe(&page[kSsUnderLimitCount], logs.temperature.underLimitCount, 4);
  return page;
}

// The circular buffer holds the history oldest first from entry 0; its index names the newest.
Bytes temperatureHistory(const SimTemperature& t) {
  Bytes page(kPageBytes, 0);
  const size_t size = std::max(kThLeastBuffer, t.history.size());
  storeLe(&page[kThFormatVersion], 2, 2);
  storeLe(&page[kThSampling], t.samplingMinutes, 2);
  storeLe(&page[kThInterval], t.intervalMinutes, 2);
  page[kThMaxOperating] = byteOf(t.maxOperating);
  page[kThOverLimit] = byteOf(t.overLimit);
  page[kThMinOperating] = byteOf(t.minOperating);
  page[kThUnderLimit] = byteOf(t.underLimit);
  storeLe(&page[kThBufferSize], size, 2);
  storeLe(&page[kThBufferIndex], t.history.empty() ? 0 : t.history.size() - 1, 2);
  for (size_t i = 0; i < size && kThSamples + i < kPageBytes; ++i) {
    page[kThSamples + i] = i < t.history.size() ? byteOf(t.history[i]) : kThNoSample;
  }
  return page;
}

Bytes directory(const SimUnit& unit, const IdentifyWords& words, LogCommand command) {
  Bytes page(kPageBytes, 0);
  storeLe(&page[0], 1, 2);  // logging version: multi-page logs
  for (uint32_t log = 1; log < 256; ++log) {
    storeLe(&page[2 * log], logPageCount(unit, words, command, static_cast<uint8_t>(log)), 2);
  }
  return page;
}

}  // namespace

uint64_t unitPowerOnHours(const SimUnit& unit, uint64_t nowMs) {
  const uint64_t atZero = unit.logs.powerOnHours ? *unit.logs.powerOnHours : attributeRaw(unit, 9, 0);
  return atZero + nowMs / kMsPerHour;
}

void logSelfTest(SimDriveLogs& logs, const SimSelfTestLogEntry& entry) {
  logs.selfTests.push_back(entry);
  if (logs.selfTests.size() > kStRing) logs.selfTests.erase(logs.selfTests.begin());
  ++logs.selfTestsLogged;
}

uint32_t logPageCount(const SimUnit& unit, const IdentifyWords& words, LogCommand command, uint8_t log) {
  const bool smart = command == LogCommand::SmartReadLog;
  const bool gpl = command == LogCommand::ReadLogExt;
  const bool sct = (words[206] & kW206Sct) != 0;
  switch (log) {
    case kLogDirectory: return 1;
    case kLogSummaryError: return smart && (words[84] & kW84ErrorLog) != 0 ? 1 : 0;
    case kLogExtendedError: return gpl && (words[84] & kW84ErrorLog) != 0 ? kExtendedErrorPages : 0;
    case kLogDeviceStatistics: return kStatisticsPages;
    case kLogSelfTest: return smart && (words[84] & kW84SelfTest) != 0 ? 1 : 0;
    case kLogExtendedSelfTest: return gpl && (words[84] & kW84SelfTest) != 0 ? kExtendedSelfTestPages : 0;
    // Only page 3 of the IDENTIFY DEVICE data log is answered, and only by READ LOG EXT.
    case kLogIdentifyData: return gpl && unit.identifyLogPage3 ? 4 : 0;
    case kLogSctStatus: return sct ? 1 : 0;
    case kLogSctData: return sct && (words[206] & kW206DataTables) != 0 ? 1 : 0;
    default: return 0;
  }
}

std::vector<uint8_t> readLogPages(const SimUnit& unit, const IdentifyWords& words, LogCommand command, uint8_t log,
                                  uint32_t first, uint32_t count, uint64_t nowMs) {
  switch (log) {
    case kLogDirectory: return directory(unit, words, command);
    case kLogSummaryError: return summaryErrorLog(unit.logs);
    case kLogExtendedError: return extendedErrorLog(unit.logs, first, count);
    case kLogDeviceStatistics: {
      Bytes pages;
      for (uint32_t p = first; p < first + count; ++p) {
        const Bytes page = statisticsPage(unit, static_cast<uint8_t>(p), nowMs);
        pages.insert(pages.end(), page.begin(), page.end());
      }
      return pages;
    }
    case kLogSelfTest: return selfTestLog(unit.logs);
    case kLogExtendedSelfTest: return extendedSelfTestLog(unit.logs, first, count);
    case kLogSctStatus: return sctStatus(unit);
    case kLogSctData:
      if (unit.logs.sctTable != kSctTemperatureHistory) return {};
      return temperatureHistory(unit.logs.temperature);
    default: return {};
  }
}

}  // namespace palvoro::sim
