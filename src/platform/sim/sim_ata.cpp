#include "platform/sim/sim_ata.h"

#include <algorithm>
#include <cstring>

#include "platform/sim/sim_logs.h"
#include "protocol/byte_order.h"

namespace palvoro::sim {
namespace {

constexpr uint8_t kStatusReady = 0x50;  // DRDY | DSC
constexpr uint8_t kStatusError = 0x51;  // DRDY | DSC | ERR
constexpr uint8_t kErrAbort = 0x04;
constexpr uint8_t kErrIdNotFound = 0x10;
constexpr uint8_t kErrUncorrectable = 0x40;
constexpr uint32_t kBlockEraseSignature = 0x426B4572;  // "BErK", required by BLOCK ERASE EXT

// The SCT command a host writes to log E0h: the action code (16 bits) at byte 0, the
// function code at byte 2, and for a data table command the table at byte 4.
constexpr size_t kSctActionCode = 0;
constexpr size_t kSctFunctionCode = 2;
constexpr size_t kSctTableId = 4;
constexpr uint16_t kSctVendorSwitch = 0xC013;
constexpr uint16_t kSctDataTable = 0x0005;
constexpr uint16_t kSctReadTable = 0x0001;
constexpr uint16_t kW206Sct = 0x0001;
constexpr uint16_t kW206DataTables = 0x0020;

// Self-test execution statuses the log records.
constexpr uint8_t kSelfTestAbortedByHost = 1;
constexpr uint8_t kSelfTestReadFailure = 7;

struct Command {
  AtaResult result;
  Command(const AtaExchange& x) {
    result.current = x.current;
    result.previous = x.previous;
    result.current.command = kStatusReady;
    result.current.features = 0;
  }
  AtaResult abort(uint8_t error = kErrAbort) {
    result.current.command = kStatusError;
    result.current.features = error;
    result.inData.clear();
    return result;
  }
  AtaResult ok() { return result; }
};

AtaResult protocolFailure() {
  AtaResult r;
  r.protocolError = true;
  return r;
}

// What the command needs of the transfer, so that a request with the wrong direction,
// protocol or length fails the way a host adapter fails it.
struct Needs {
  AtaProtocol protocol = AtaProtocol::NonData;
  uint32_t bytes = 0;
};

uint32_t count16(const AtaExchange& x) {
  return static_cast<uint32_t>(x.current.count | (x.previous.count << 8));
}

Needs needsOf(const AtaExchange& x) {
  const TaskRegisters& c = x.current;
  switch (c.command) {
    case 0xEC: return {AtaProtocol::PioIn, 512};
    case 0x2F: {
      const uint32_t pages = count16(x) == 0 ? 65536 : count16(x);
      return {AtaProtocol::PioIn, pages * 512};
    }
    case 0xB0:
      switch (c.features) {
        case 0xD0:
        case 0xD1:
        case 0xD5: return {AtaProtocol::PioIn, static_cast<uint32_t>(std::max<int>(c.count, 1)) * 512};
        case 0xD6: return {AtaProtocol::PioOut, static_cast<uint32_t>(std::max<int>(c.count, 1)) * 512};
        default: return {AtaProtocol::NonData, 0};
      }
    case 0x06:
    case 0x07: return {AtaProtocol::DmaOut, count16(x) * 512};
    case 0xF1:  // SECURITY SET PASSWORD, UNLOCK, ERASE UNIT, DISABLE PASSWORD: the password out
    case 0xF2:
    case 0xF4:
    case 0xF6: return {AtaProtocol::PioOut, 512};
    case 0xB1: return c.features == 0xC2 ? Needs{AtaProtocol::PioIn, 512} : Needs{AtaProtocol::NonData, 0};
    default: return {AtaProtocol::NonData, 0};
  }
}

bool transferMatches(const AtaExchange& x, const Needs& n) {
  switch (n.protocol) {
    case AtaProtocol::NonData: return !x.dataIn && !x.dataOut && !x.dma;
    case AtaProtocol::PioIn: return x.dataIn && !x.dma && x.inCapacity >= n.bytes;
    case AtaProtocol::PioOut: return x.dataOut && !x.dma && x.outLength >= n.bytes;
    case AtaProtocol::DmaOut: return x.dataOut && x.dma && n.bytes > 0 && x.outLength >= n.bytes;
  }
  return false;
}

const IdentifyWords& currentIdentify(const SimAtaDrive& drive, const SimUnit& unit) {
  if (drive.switched && unit.identifySwitched) return *unit.identifySwitched;
  return unit.identify;
}

// 28-bit commands of the dual-unit drives select the unit with bit 1 of the device
// register; a single-unit drive ignores that obsolete bit.
SimUnit* unitFromDevice(SimAtaDrive& drive, uint8_t device) {
  const int unit = (device & 0x02) != 0 ? 2 : 0;
  if (drive.dualUnit()) return &drive.units.at(unit);
  return &drive.units.at(0);
}

// 48-bit commands of the dual-unit drives carry the unit in the high nibble of a
// high-order register; on a single-unit drive that nibble is part of the field.
SimUnit* unitFromNibble(SimAtaDrive& drive, uint8_t reg, bool* valid) {
  *valid = true;
  if (!drive.dualUnit()) return &drive.units.at(0);
  const int unit = reg >> 4;
  auto it = drive.units.find(unit);
  if (it == drive.units.end()) {
    *valid = false;
    return nullptr;
  }
  return &it->second;
}

AtaResult identify(SimAtaDrive& drive, const AtaExchange& x, Command& cmd) {
  SimUnit& unit = *unitFromDevice(drive, x.current.device);
  IdentifyWords words = currentIdentify(drive, unit);
  if (&unit == &drive.units.at(0)) applyPurgeIdentify(drive, unit, words);
  cmd.result.inData.resize(512);
  for (int i = 0; i < 256; ++i) {
    cmd.result.inData[2 * i] = static_cast<uint8_t>(words[i] & 0xFF);
    cmd.result.inData[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
  }
  return cmd.ok();
}

// Pages `first` .. `first + count - 1` of a log the drive keeps for `command`; a log it does
// not keep, or pages beyond it, abort.
AtaResult readLog(SimUnit& unit, const IdentifyWords& words, LogCommand command, uint8_t log, uint32_t first,
                  uint32_t count, uint64_t nowMs, Command& cmd) {
  const uint32_t pages = logPageCount(unit, words, command, log);
  if (count == 0 || first >= pages || count > pages - first) return cmd.abort();
  updateSelfTest(unit, nowMs);  // a test whose time is up is in the log
  std::vector<uint8_t> data = readLogPages(unit, words, command, log, first, count, nowMs);
  if (data.empty()) return cmd.abort();
  cmd.result.inData = std::move(data);
  return cmd.ok();
}

AtaResult readLogExt(SimAtaDrive& drive, const AtaExchange& x, Command& cmd) {
  SimUnit& unit = *unitFromDevice(drive, x.current.device);
  const IdentifyWords& words = currentIdentify(drive, unit);
  if ((words[84] & 0x0020) == 0) return cmd.abort();  // no general purpose logging
  const uint8_t log = x.current.lbaLow;
  const uint32_t page = static_cast<uint32_t>(x.current.lbaMid | (x.previous.lbaMid << 8));
  const uint32_t pages = count16(x) == 0 ? 65536 : count16(x);
  if (log == kLogIdentifyData) {
    if (!unit.identifyLogPage3 || page != 3 || pages != 1) return cmd.abort();
    cmd.result.inData.assign(unit.identifyLogPage3->begin(), unit.identifyLogPage3->end());
    return cmd.ok();
  }
  return readLog(unit, words, LogCommand::ReadLogExt, log, page, pages, x.nowMs, cmd);
}

AtaResult executeDiagnostic(SimAtaDrive& drive, Command& cmd) {
  // Diagnostic code 01h (passed) and the signature of a device: an ATA drive answers
  // 01/01/00/00; the bridges the program must not take for drives answer CDh/ABh.
  cmd.result.current.features = 0x01;
  cmd.result.current.count = 0x01;
  cmd.result.current.lbaLow = 0x01;
  cmd.result.current.lbaMid = drive.bridgeSignature ? 0xCD : 0x00;
  cmd.result.current.lbaHigh = drive.bridgeSignature ? 0xAB : 0x00;
  return cmd.ok();
}

// SMART WRITE LOG: only the SCT command log E0h is written, with the maker's switch
// (action C013h) or a data table command asking for the temperature history, which the
// next read of log E1h gives.
AtaResult sctWriteLog(SimAtaDrive& drive, const AtaExchange& x, Command& cmd) {
  SimUnit& unit = *unitFromDevice(drive, x.current.device);
  const IdentifyWords& words = currentIdentify(drive, drive.units.at(0));
  if ((words[206] & kW206Sct) == 0 || x.current.lbaLow != kLogSctStatus || x.current.count != 1) {
    return cmd.abort();
  }
  const uint16_t action = loadLe16(x.outData + kSctActionCode);
  const uint16_t function = loadLe16(x.outData + kSctFunctionCode);
  if (action == kSctVendorSwitch && drive.sctVendorSwitch) {
    // The maker's switch reads its function as one byte.
    if (x.outData[kSctFunctionCode] > 1) return cmd.abort();
    drive.switched = x.outData[kSctFunctionCode] == 1;
  } else if (action == kSctDataTable) {
    if ((words[206] & kW206DataTables) == 0 || function != kSctReadTable ||
        loadLe16(x.outData + kSctTableId) != kSctTemperatureHistory) {
      return cmd.abort();
    }
    unit.logs.sctTable = kSctTemperatureHistory;
  } else {
    return cmd.abort();
  }
  unit.logs.sctAction = action;
  unit.logs.sctFunction = function;
  return cmd.ok();
}

// The sector a failed self-test names in its log entry.
uint64_t selfTestFailingLba(const SimUnit& unit, uint8_t status) {
  std::optional<uint64_t> lba = unit.selfTest.failingLba;
  uint64_t bad = 0;
  if (!lba && status == kSelfTestReadFailure && unit.media.findUnreadable(0, unit.media.sectorCount(), &bad)) {
    lba = bad;
  }
  return lba.value_or(0);
}

// A self-test's entry in the unit's self-test log, written when it ends or is aborted.
void logEndedSelfTest(SimUnit& unit, uint8_t test, uint8_t status, uint8_t remainingTenths, uint64_t atMs) {
  SimSelfTestLogEntry e;
  e.test = test;
  e.status = status;
  e.remainingTenths = remainingTenths;
  e.hours = static_cast<uint16_t>(unitPowerOnHours(unit, atMs));  // the field wraps as a drive's does
  if (status >= 3) {
    e.checkpoint = unit.selfTest.checkpoint;
    e.failingLba = selfTestFailingLba(unit, status);
  }
  logSelfTest(unit.logs, e);
}

uint8_t selfTestTenthsLeft(const SimSelfTest& t, uint64_t nowMs);

// SMART EXECUTE OFF-LINE IMMEDIATE: the sub-command is in LBA low. Self-tests run in
// the background over the machine's clock; captive ones (81h..83h) end at once.
AtaResult executeOffline(SimUnit& unit, const AtaExchange& x, Command& cmd) {
  SimSelfTest& t = unit.selfTest;
  updateSelfTest(unit, x.nowMs);
  const uint8_t sub = x.current.lbaLow;
  const bool selfTests = (unit.offlineCapability & 0x10) != 0;
  const bool conveyance = (unit.offlineCapability & 0x20) != 0;
  switch (sub) {
    case 0x00:  // off-line data collection: nothing to show
      return cmd.ok();
    case 0x01:
    case 0x02:
    case 0x03:
      if (!selfTests || (sub == 0x03 && !conveyance) || t.running) return cmd.abort();
      t.running = true;
      t.subcommand = sub;
      t.startedMs = x.nowMs;
      return cmd.ok();
    case 0x7F:  // abort the running self-test
      if (t.running) {
        t.running = false;
        t.lastStatus = kSelfTestAbortedByHost << 4;
        logEndedSelfTest(unit, t.subcommand, kSelfTestAbortedByHost, selfTestTenthsLeft(t, x.nowMs), x.nowMs);
      }
      return cmd.ok();
    case 0x81:
    case 0x82:
    case 0x83:
      if (!selfTests || (sub == 0x83 && !conveyance) || t.running) return cmd.abort();
      t.lastStatus = static_cast<uint8_t>(t.result << 4);
      logEndedSelfTest(unit, sub, t.result, 0, x.nowMs);
      if (t.result != 0) return cmd.abort();
      return cmd.ok();
    default: return cmd.abort();
  }
}

AtaResult smart(SimAtaDrive& drive, const AtaExchange& x, Command& cmd) {
  if (x.current.lbaMid != 0x4F || x.current.lbaHigh != 0xC2) return cmd.abort();  // wrong key
  SimUnit& unit = *unitFromDevice(drive, x.current.device);
  const IdentifyWords& words = currentIdentify(drive, unit);
  if ((words[82] & 0x0001) == 0) return cmd.abort();  // no SMART feature set
  SimSmart& s = unit.smart;
  const uint8_t feature = x.current.features;
  if (feature == 0xD8) {
    s.enabled = true;
    return cmd.ok();
  }
  if (!s.enabled) return cmd.abort();
  switch (feature) {
    case 0xD0: {
      updateSelfTest(unit, x.nowMs);
      const Page page = s.dataPage ? *s.dataPage : makeSmartDataPage(unit, x.nowMs);
      cmd.result.inData.assign(page.begin(), page.end());
      return cmd.ok();
    }
    case 0xD1: {
      const Page page = s.thresholdPage ? *s.thresholdPage : makeSmartThresholdPage(s);
      cmd.result.inData.assign(page.begin(), page.end());
      return cmd.ok();
    }
    case 0xD9:
      s.enabled = false;
      return cmd.ok();
    case 0xDA:
      if (smartThresholdExceeded(s)) {
        cmd.result.current.lbaMid = 0xF4;
        cmd.result.current.lbaHigh = 0x2C;
      }
      return cmd.ok();
    case 0xD5:  // SMART READ LOG: pages 0 .. count - 1 of the log in LBA low
      return readLog(unit, words, LogCommand::SmartReadLog, x.current.lbaLow, 0, x.current.count, x.nowMs, cmd);
    case 0xD6: return sctWriteLog(drive, x, cmd);
    case 0xD4: return executeOffline(unit, x, cmd);
    default: return cmd.abort();
  }
}

uint64_t lba48(const AtaExchange& x, bool dualUnit) {
  const uint64_t high = dualUnit ? (x.previous.lbaHigh & 0x0F) : x.previous.lbaHigh;
  return static_cast<uint64_t>(x.current.lbaLow) | (static_cast<uint64_t>(x.current.lbaMid) << 8) |
         (static_cast<uint64_t>(x.current.lbaHigh) << 16) |
         (static_cast<uint64_t>(x.previous.lbaLow) << 24) |
         (static_cast<uint64_t>(x.previous.lbaMid) << 32) | (high << 40);
}

void returnLba(Command& cmd, uint64_t lba) {
  cmd.result.current.lbaLow = static_cast<uint8_t>(lba);
  cmd.result.current.lbaMid = static_cast<uint8_t>(lba >> 8);
  cmd.result.current.lbaHigh = static_cast<uint8_t>(lba >> 16);
  cmd.result.previous.lbaLow = static_cast<uint8_t>(lba >> 24);
  cmd.result.previous.lbaMid = static_cast<uint8_t>(lba >> 32);
  cmd.result.previous.lbaHigh = static_cast<uint8_t>(lba >> 40);
}

AtaResult readVerifyExt(SimAtaDrive& drive, const AtaExchange& x, Command& cmd) {
  bool valid = false;
  SimUnit* unit = unitFromNibble(drive, x.previous.lbaHigh, &valid);
  if (!valid) return cmd.abort();
  const uint64_t lba = lba48(x, drive.dualUnit());
  const uint64_t count = count16(x) == 0 ? 65536 : count16(x);
  if (lba >= unit->media.sectorCount() || count > unit->media.sectorCount() - lba) {
    return cmd.abort(kErrIdNotFound | kErrAbort);
  }
  uint64_t bad = 0;
  if (unit->media.findUnreadable(lba, count, &bad)) {
    returnLba(cmd, bad);
    return cmd.abort(kErrUncorrectable);
  }
  return cmd.ok();
}

AtaResult sanitize(SimAtaDrive& drive, const AtaExchange& x, Command& cmd) {
  bool valid = false;
  SimUnit* unit = unitFromNibble(drive, x.previous.features, &valid);
  if (!valid) return cmd.abort();
  const IdentifyWords& words = currentIdentify(drive, *unit);
  if ((words[59] & 0x1000) == 0) return cmd.abort();  // no sanitize feature set
  const uint16_t function = drive.dualUnit()
                                ? x.current.features
                                : static_cast<uint16_t>(x.current.features | (x.previous.features << 8));
  const uint32_t lbaLow32 = static_cast<uint32_t>(lba48(x, drive.dualUnit()) & 0xFFFFFFFFu);
  switch (function) {
    case 0x0012:  // BLOCK ERASE EXT
      if ((words[59] & 0x8000) == 0 || lbaLow32 != kBlockEraseSignature) {
        drive.sanitizeCompleted = false;
        return cmd.abort();
      }
      unit->media.eraseAll();
      drive.sanitizeCompleted = true;
      return cmd.ok();
    case 0x0000:  // SANITIZE STATUS EXT: count bit 15 reports completion without error
      cmd.result.current.count = 0;
      cmd.result.previous.count = drive.sanitizeCompleted ? 0x80 : 0x00;
      cmd.result.current.lbaLow = 0xFF;
      cmd.result.current.lbaMid = 0xFF;
      return cmd.ok();
    default: return cmd.abort();
  }
}

AtaResult dataSetManagement(SimAtaDrive& drive, const AtaExchange& x, Command& cmd) {
  bool valid = false;
  SimUnit* unit = unitFromNibble(drive, x.previous.lbaHigh, &valid);
  if (!valid) return cmd.abort();
  const IdentifyWords& words = currentIdentify(drive, *unit);
  const bool xl = x.current.command == 0x07;
  if ((x.current.features & 0x01) == 0) return cmd.abort();  // only the TRIM function exists
  if ((words[169] & 0x0001) == 0 || (xl && !drive.dsmXl)) return cmd.abort();
  const uint32_t bytes = count16(x) * 512;
  const uint32_t entrySize = xl ? 16 : 8;
  struct Range {
    uint64_t lba, count;
  };
  std::vector<Range> ranges;
  for (uint32_t off = 0; off + entrySize <= bytes; off += entrySize) {
    // A TRIM entry is a 48-bit LBA and a 16-bit count, an XL entry a 64-bit LBA and a
    // 64-bit count, each little-endian.
    const uint8_t* e = x.outData + off;
    Range r{xl ? loadLe(e, 8) : loadLe(e, 6), xl ? loadLe(e + 8, 8) : loadLe16(e + 6)};
    if (r.count == 0) continue;  // empty entries are ignored
    if (r.lba >= unit->media.sectorCount() || r.count > unit->media.sectorCount() - r.lba) {
      return cmd.abort(kErrIdNotFound | kErrAbort);
    }
    ranges.push_back(r);
  }
  for (const Range& r : ranges) unit->media.trim(r.lba, r.count);
  return cmd.ok();
}

}  // namespace

namespace {
AtaResult dispatch(SimAtaDrive& drive, const AtaExchange& x, uint8_t injectedError) {
  const Needs needs = needsOf(x);
  if (!transferMatches(x, needs)) return protocolFailure();
  Command cmd(x);
  if ((x.current.device & 0x10) != 0) return cmd.abort();  // no device 1 on this link
  if (injectedError != 0) return cmd.abort(injectedError);
  if (std::optional<AtaResult> purge = executePurgeCommand(drive, x)) return *purge;
  switch (x.current.command) {
    case 0xEC: return identify(drive, x, cmd);
    case 0x2F: return readLogExt(drive, x, cmd);
    case 0x90: return executeDiagnostic(drive, cmd);
    case 0xB0: return smart(drive, x, cmd);
    case 0x42: return readVerifyExt(drive, x, cmd);
    case 0xB4: return sanitize(drive, x, cmd);
    case 0x06:
    case 0x07: return dataSetManagement(drive, x, cmd);
    case 0xEF: return cmd.ok();  // SET FEATURES: accepted, nothing the system looks at
    default: return cmd.abort();
  }
}
}  // namespace

TaskRegisters readTaskFile(const uint8_t* at) { return TaskRegisters{at[0], at[1], at[2], at[3], at[4], at[5], at[6]}; }

void writeTaskFile(uint8_t* at, const TaskRegisters& registers) {
  at[0] = registers.features;
  at[1] = registers.count;
  at[2] = registers.lbaLow;
  at[3] = registers.lbaMid;
  at[4] = registers.lbaHigh;
  at[5] = registers.device;
  at[6] = registers.command;
}

AtaResult executeAta(SimAtaDrive& drive, const AtaExchange& x, uint8_t injectedError) {
  AtaResult r = dispatch(drive, x, injectedError);
  if (!r.protocolError) {
    writeTaskFile(drive.lastReturn.data(), r.current);
    drive.lastReturnHigh = {r.previous.features, r.previous.count, r.previous.lbaLow, r.previous.lbaMid,
                            r.previous.lbaHigh};
  }
  return r;
}

bool smartThresholdExceeded(const SimSmart& smart) {
  if (smart.reportExceeded) return *smart.reportExceeded;
  return std::any_of(smart.attributes.begin(), smart.attributes.end(), [](const SimAttribute& a) {
    return (a.flags & 0x0001) != 0 && a.threshold != 0 && a.value <= a.threshold;
  });
}

namespace {
void finishPage(Page& page) {
  uint8_t sum = 0;
  for (int i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + page[i]);
  page[511] = static_cast<uint8_t>(0x100 - sum);
}
}  // namespace

namespace {
// How long the running self-test takes: extended (02h), conveyance (03h) or short.
uint64_t selfTestDurationMs(const SimSelfTest& t) {
  return 1000ull * (t.subcommand == 0x02   ? t.extendedSeconds
                    : t.subcommand == 0x03 ? t.conveyanceSeconds
                                           : t.shortSeconds);
}
}  // namespace

void updateSelfTest(SimUnit& unit, uint64_t nowMs) {
  SimSelfTest& t = unit.selfTest;
  if (!t.running) return;
  const uint64_t duration = selfTestDurationMs(t);
  if (nowMs - t.startedMs >= duration) {
    t.running = false;
    t.lastStatus = static_cast<uint8_t>(t.result << 4);
    logEndedSelfTest(unit, t.subcommand, t.result, 0, t.startedMs + duration);
  }
}

namespace {
// The tenths of the running test still to go, at most 9.
uint8_t selfTestTenthsLeft(const SimSelfTest& t, uint64_t nowMs) {
  const uint64_t duration = selfTestDurationMs(t);
  const uint64_t elapsed = nowMs - t.startedMs;
  const uint64_t left = duration > elapsed ? duration - elapsed : 0;
  const uint64_t tenths = duration == 0 ? 0 : (left * 10 + duration - 1) / duration;
  return static_cast<uint8_t>(std::min<uint64_t>(tenths, 9));
}

// Byte 363: high nibble the execution status (Fh while running), low nibble the tenths
// still to go while running.
uint8_t selfTestStatus(const SimUnit& unit, uint64_t nowMs) {
  const SimSelfTest& t = unit.selfTest;
  if (!t.running) return t.lastStatus;
  return static_cast<uint8_t>(0xF0 | selfTestTenthsLeft(t, nowMs));
}
}  // namespace

Page makeSmartDataPage(const SimUnit& unit, uint64_t nowMs) {
  const SimSmart& smart = unit.smart;
  Page page{};
  page[0] = 0x10;  // data structure revision
  const size_t n = std::min<size_t>(smart.attributes.size(), 30);
  for (size_t i = 0; i < n; ++i) {
    const SimAttribute& a = smart.attributes[i];
    uint8_t* e = page.data() + 2 + 12 * i;
    e[0] = a.id;
    e[1] = static_cast<uint8_t>(a.flags);
    e[2] = static_cast<uint8_t>(a.flags >> 8);
    e[3] = a.value;
    e[4] = a.worst;
    for (int b = 0; b < 6; ++b) e[5 + b] = static_cast<uint8_t>(a.raw >> (8 * b));
  }
  page[363] = selfTestStatus(unit, nowMs);
  page[367] = unit.offlineCapability;
  page[368] = 0x03;  // SMART capabilities: saves data, supports autosave
  page[370] = 0x01;  // error logging supported
  page[371] = unit.selfTest.lastStatus != 0 && (unit.selfTest.lastStatus >> 4) >= 3 ? unit.selfTest.checkpoint : 0;
  page[372] = unit.shortPollMinutes;
  page[373] = unit.extendedPollMinutes;
  page[374] = unit.conveyancePollMinutes;
  finishPage(page);
  return page;
}

Page makeSmartThresholdPage(const SimSmart& smart) {
  Page page{};
  page[0] = 0x10;
  const size_t n = std::min<size_t>(smart.attributes.size(), 30);
  for (size_t i = 0; i < n; ++i) {
    page[2 + 12 * i] = smart.attributes[i].id;
    page[3 + 12 * i] = smart.attributes[i].threshold;
  }
  finishPage(page);
  return page;
}

}  // namespace palvoro::sim
