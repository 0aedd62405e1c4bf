#include "platform/sim/sim_nvme.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/win_types.h"
#include "protocol/byte_order.h"

namespace palvoro::sim {
namespace {

// The request records are read at offsets written out here from the 32-bit Windows
// layout, not taken from records.h, so that a slip there cannot reach both sides.

// STORAGE_PROPERTY_QUERY: PropertyId, QueryType, then from byte 8 its
// AdditionalParameters, which hold STORAGE_PROTOCOL_SPECIFIC_DATA.
constexpr size_t kQueryPropertyId = 0;
constexpr size_t kQueryType = 4;
constexpr uint32_t kQueryParameters = 8;
// STORAGE_PROTOCOL_SPECIFIC_DATA (40 bytes), offsets from its start.
constexpr size_t kProtocolType = 0;
constexpr size_t kDataType = 4;
constexpr size_t kRequestValue = 8;      // Identify: CNS; log page: its identifier
constexpr size_t kRequestSubValue = 12;  // Identify: NSID; log page: offset, low dword
constexpr size_t kDataOffset = 16;       // from the start of this structure
constexpr size_t kDataLength = 20;
constexpr size_t kFixedReturnData = 24;
constexpr size_t kRequestSubValue2 = 28;  // log page: offset, high dword
constexpr size_t kRequestSubValue4 = 36;  // log page: bit 0 retain asynchronous event, bits 4:1 LSP
constexpr uint32_t kRetainAsyncEvent = 0x1;
constexpr uint32_t kProtocolDataSize = 40;
// The reply, STORAGE_PROTOCOL_DATA_DESCRIPTOR: Version and Size (both its own size), then
// the protocol-specific data again; the data follows it.
constexpr size_t kDescriptorVersion = 0;
constexpr size_t kDescriptorSize = 4;
constexpr uint32_t kDescriptorBytes = kQueryParameters + kProtocolDataSize;  // 48

constexpr uint32_t kProtocolNvme = 3;
constexpr uint32_t kDataIdentify = 1;
constexpr uint32_t kDataLogPage = 2;
constexpr uint32_t kLeastDataLength = 512;  // the driver's floor for any transfer
constexpr uint32_t kCnsNamespace = 0x00;
constexpr uint32_t kCnsController = 0x01;
constexpr uint32_t kLogError = 0x01;
constexpr uint32_t kLogHealth = 0x02;
constexpr uint32_t kLogSelfTest = 0x06;
constexpr uint32_t kLogSanitize = 0x81;

// STORAGE_PROTOCOL_COMMAND (84 bytes with its first command bytes); the 64-byte
// submission entry starts at byte 80.
constexpr size_t kCmdVersion = 0;
constexpr size_t kCmdLength = 4;
constexpr size_t kCmdProtocolType = 8;
constexpr size_t kCmdReturnStatus = 16;
constexpr size_t kCmdErrorCode = 20;
constexpr size_t kCmdCommandLength = 24;
constexpr size_t kCmdErrorInfoLength = 28;
constexpr size_t kCmdToDeviceLength = 32;
constexpr size_t kCmdFromDeviceLength = 36;
constexpr size_t kCmdErrorInfoOffset = 44;
constexpr size_t kCmdToDeviceOffset = 48;
constexpr size_t kCmdFromDeviceOffset = 52;
constexpr size_t kCmdCommandSpecific = 56;
constexpr size_t kCmdFixedReturnData = 64;
constexpr size_t kCmdFixedReturnData2 = 68;
constexpr uint32_t kCmdStructureLength = 84;
constexpr uint32_t kCmdEntry = 80;
constexpr uint32_t kEntryBytes = 64;
constexpr uint32_t kCmdLeast = kCmdEntry + kEntryBytes;  // 144
constexpr uint32_t kCmdVersionOne = 1;
constexpr uint32_t kCmdAdmin = 1;  // CommandSpecific of an admin command
// ReturnStatus values.
constexpr uint32_t kStatusSuccess = 0x1;
constexpr uint32_t kStatusError = 0x2;
// The submission entry: opcode byte 0, NSID dword 1, CDW10 at byte 40.
constexpr size_t kEntryOpcode = 0;
constexpr size_t kEntryNsid = 4;
constexpr size_t kEntryCdw10 = 40;
constexpr size_t kEntryCdw11 = 44;
constexpr uint8_t kOpcodeDeviceSelfTest = 0x14;
constexpr uint8_t kOpcodeFormatNvm = 0x80;
constexpr uint8_t kOpcodeSanitize = 0x84;
constexpr uint32_t kAllNamespaces = 0xFFFFFFFF;
// Self-test codes (CDW10 bits 3:0).
constexpr uint8_t kTestShort = 0x1;
constexpr uint8_t kTestExtended = 0x2;
constexpr uint8_t kTestAbort = 0xF;
// Generic command statuses (type 0): (type << 8) | code.
constexpr uint16_t kInvalidOpcode = 0x001;
constexpr uint16_t kInvalidField = 0x002;
constexpr uint16_t kInvalidNamespace = 0x00B;
constexpr uint16_t kSelfTestInProgress = 0x01D;
constexpr uint16_t kSanitizeInProgress = 0x01D;

// Page sizes.
constexpr size_t kIdentifyBytes = 4096;
constexpr size_t kHealthBytes = 512;
constexpr size_t kSelfTestLogBytes = 564;

// Error information log: entries of 64 bytes, newest first, as many as ELPE + 1.
constexpr size_t kErrorEntries = 64;
constexpr size_t kErrorEntryBytes = 64;
constexpr size_t kErrorLogBytes = kErrorEntries * kErrorEntryBytes;
constexpr size_t kEeErrorCount = 0;
constexpr size_t kEeSqid = 8;
constexpr size_t kEeCid = 10;
constexpr size_t kEeStatus = 12;      // phase tag bit 0, status code bits 8:1, type bits 11:9
constexpr size_t kEeParameterLocation = 14;
constexpr size_t kEeLba = 16;
constexpr size_t kEeNsid = 24;
constexpr size_t kEeTransportType = 29;
constexpr size_t kEeCommandSpecific = 32;

// Identify Controller.
constexpr size_t kIcVid = 0;
constexpr size_t kIcSsvid = 2;
constexpr size_t kIcSn = 4;    // 20 bytes
constexpr size_t kIcMn = 24;   // 40 bytes
constexpr size_t kIcFr = 64;   // 8 bytes
constexpr size_t kIcIeee = 73;  // 3 bytes, least significant first
constexpr size_t kIcMdts = 77;
constexpr size_t kIcVer = 80;
constexpr size_t kIcOacs = 256;
constexpr size_t kIcElpe = 262;
constexpr size_t kIcLpa = 261;
constexpr size_t kIcWctemp = 266;
constexpr size_t kIcCctemp = 268;
constexpr size_t kIcTnvmcap = 280;  // 16 bytes
constexpr size_t kIcEdstt = 316;
constexpr size_t kIcDsto = 318;
constexpr size_t kIcSqes = 512;
constexpr size_t kIcCqes = 513;
constexpr size_t kIcNn = 516;
constexpr size_t kIcSanicap = 328;
constexpr size_t kIcFna = 524;
constexpr uint16_t kOacsSelfTest = 0x0010;
constexpr uint16_t kOacsFormat = 0x0002;
constexpr uint8_t kLpaLogOffsets = 0x04;  // Get Log Page takes an offset
constexpr uint8_t kDstoOneAtATime = 0x01;

// Identify Namespace: sizes in logical blocks, the formats and the one in use, and the
// format table (4 bytes each: metadata size 0-1, LBA data size as a power of two in byte
// 2, relative performance in byte 3).
constexpr size_t kInsNsze = 0;
constexpr size_t kInsNcap = 8;
constexpr size_t kInsNuse = 16;
constexpr size_t kInsNlbaf = 25;
constexpr size_t kInsFlbas = 26;
constexpr size_t kInsDlfeat = 33;
constexpr size_t kInsLbaf = 128;
constexpr size_t kLbafBytes = 4;
constexpr size_t kLbafLbads = 2;
constexpr size_t kLbafRp = 3;

// SMART / Health Information log.
constexpr size_t kHlCriticalWarning = 0;
constexpr size_t kHlTemperature = 1;
constexpr size_t kHlSpare = 3;
constexpr size_t kHlSpareThreshold = 4;
constexpr size_t kHlPercentageUsed = 5;
constexpr size_t kHlDataUnitsRead = 32;  // 16-byte counters from here to 191
constexpr size_t kHlDataUnitsWritten = 48;
constexpr size_t kHlHostReads = 64;
constexpr size_t kHlHostWrites = 80;
constexpr size_t kHlBusyTime = 96;
constexpr size_t kHlPowerCycles = 112;
constexpr size_t kHlPowerOnHours = 128;
constexpr size_t kHlUnsafeShutdowns = 144;
constexpr size_t kHlMediaErrors = 160;
constexpr size_t kHlErrorLogEntries = 176;
constexpr size_t kHlWarningTempTime = 192;
constexpr size_t kHlCriticalTempTime = 196;
constexpr size_t kHlSensors = 200;  // eight 16-bit sensors
constexpr size_t kSensorCount = 8;

// Device Self-test log: the operation under way and its percent, then 20 entries of 28
// bytes, newest first.
constexpr size_t kStCurrentOperation = 0;
constexpr size_t kStCompletion = 1;
constexpr size_t kStEntries = 4;
constexpr size_t kStEntryBytes = 28;
constexpr size_t kStEntryCount = 20;
constexpr size_t kSeStatus = 0;     // code in bits 7:4, result in 3:0
constexpr size_t kSeSegment = 1;
constexpr size_t kSeValid = 2;      // bit 0 NSID, 1 failing LBA, 2 status code type, 3 status code
constexpr size_t kSePowerOnHours = 4;
constexpr size_t kSeNsid = 12;
constexpr size_t kSeFailingLba = 16;
constexpr size_t kSeStatusCodeType = 24;
constexpr size_t kSeStatusCode = 25;
constexpr uint8_t kSeUnused = 0x0F;  // result Fh: the entry holds no test
constexpr uint8_t kSeAbortedByCommand = 1;
// A media test that found a sector it could not read reports Media and Data Integrity
// Errors / Unrecovered Read Error.
constexpr uint8_t kMediaErrorType = 0x2;
constexpr uint8_t kUnrecoveredReadError = 0x81;

constexpr uint64_t kMsPerHour = 3600000;

// NVMe text fields hold the description's bytes as they are, padded with spaces.
void putText(std::vector<uint8_t>& page, size_t at, size_t width, const std::string& text) {
  for (size_t i = 0; i < width; ++i) page[at + i] = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
}
std::vector<uint8_t> padded(const std::vector<uint8_t>& raw, size_t size) {
  std::vector<uint8_t> page(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(std::min(raw.size(), size)));
  page.resize(size, 0);
  return page;
}

uint64_t powerOnHours(const SimNvme& nvme, uint64_t atMs) { return nvme.health.powerOnHours + atMs / kMsPerHour; }

uint64_t testDurationMs(const SimNvmeSelfTest& t) {
  return t.code == kTestExtended ? uint64_t{t.extendedMinutes} * 60000 : uint64_t{t.shortSeconds} * 1000;
}

void pushEntry(SimNvmeSelfTest& t, const SimNvmeSelfTestEntry& entry) {
  t.log.insert(t.log.begin(), entry);
  if (t.log.size() > kStEntryCount) t.log.resize(kStEntryCount);
}

NvmeOutcome refused(uint32_t error) { return {error, 0}; }

// The page a query asks for, or the error a driver fails it with: an unknown request is
// not supported (as every other property query the machine does not know), a malformed
// one an invalid parameter.
uint32_t selectPage(SimDrive& drive, uint32_t property, const uint8_t* data, uint32_t dataLength, uint64_t nowMs,
                    std::vector<uint8_t>& page, uint64_t& offset) {
  SimNvme& nvme = *drive.nvme;
  const uint32_t type = loadLe32(data + kDataType);
  const uint32_t value = loadLe32(data + kRequestValue);
  const uint32_t sub = loadLe32(data + kRequestSubValue);
  offset = 0;
  if (type == kDataIdentify) {
    if (property == kAdapterProtocolProperty && value == kCnsController && sub == 0) {
      page = makeNvmeIdentifyController(nvme, drive.disk());
      return ERROR_SUCCESS;
    }
    // On the device property 0 names the disk's own namespace.
    if (property == kDeviceProtocolProperty && value == kCnsNamespace && (sub == 0 || sub == nvme.nsid)) {
      page = makeNvmeIdentifyNamespace(nvme, drive.disk());
      return ERROR_SUCCESS;
    }
    return ERROR_NOT_SUPPORTED;
  }
  if (type != kDataLogPage || property != kAdapterProtocolProperty) return ERROR_NOT_SUPPORTED;
  const bool sanitizeLog = value == kLogSanitize && nvme.erase.sanicap != 0;
  if (value != kLogHealth && value != kLogSelfTest && value != kLogError && !sanitizeLog) return ERROR_NOT_SUPPORTED;
  // A read that would clear the controller's pending asynchronous events is refused: they
  // belong to whatever monitors the drive, and this program must never take them.
  if ((loadLe32(data + kRequestSubValue4) & kRetainAsyncEvent) == 0) return ERROR_INVALID_PARAMETER;
  if (value == kLogHealth) {
    page = makeNvmeHealthLog(nvme, nowMs);
  } else if (value == kLogSelfTest) {
    updateNvmeSelfTest(nvme, nowMs);
    page = makeNvmeSelfTestLog(nvme, nowMs);
  } else if (sanitizeLog) {
    updateNvmeSanitize(nvme, &drive.disk(), nowMs);
    page = makeNvmeSanitizeLog(nvme, nowMs);
  } else if (value == kLogError) {
    // The error log is read in whole entries.
    if (dataLength % kErrorEntryBytes != 0) return ERROR_INVALID_PARAMETER;
    page = makeNvmeErrorLog(nvme);
  }
  offset = uint64_t{sub} | (uint64_t{loadLe32(data + kRequestSubValue2)} << 32);
  // The offset counts bytes but must fall on a dword, inside the log.
  if (offset % 4 != 0 || offset >= page.size()) return ERROR_INVALID_PARAMETER;
  // Past its last entry the error log reads as zeros, however much is asked for.
  if (value == kLogError) page.resize(std::max<uint64_t>(page.size(), offset + dataLength), 0);
  return ERROR_SUCCESS;
}

// Runs a Device Self-test command: its completion status, (type << 8) | code, 0 for success.
uint16_t deviceSelfTest(SimNvme& nvme, uint32_t nsid, uint32_t cdw10, uint64_t nowMs) {
  SimNvmeSelfTest& t = nvme.selfTest;
  if (!t.supported) return kInvalidOpcode;
  if (nsid != 0 && nsid != nvme.nsid && nsid != kAllNamespaces) return kInvalidNamespace;
  updateNvmeSelfTest(nvme, nowMs);
  const auto code = static_cast<uint8_t>(cdw10 & 0xF);
  switch (code) {
    case kTestShort:
    case kTestExtended:
      if (t.running) return kSelfTestInProgress;
      t.running = true;
      t.code = code;
      t.nsid = nsid;
      t.startedMs = nowMs;
      return 0;
    case kTestAbort:
      if (t.running) {
        SimNvmeSelfTestEntry entry;
        entry.code = t.code;
        entry.result = kSeAbortedByCommand;
        entry.powerOnHours = powerOnHours(nvme, nowMs);
        pushEntry(t, entry);
        t.running = false;
      }
      return 0;
    default: return kInvalidField;
  }
}


// The namespace's format table and the entry in use. Without a described table there are
// two, 512 and 4096 bytes (a block size of another power of two takes the second slot),
// and the media's block size names the one in use.
struct FormatTable {
  std::vector<SimNvmeLbaFormat> formats;
  uint8_t inUse = 0;
};
FormatTable formatTable(const SimNvme& nvme, const SimMedia& disk) {
  if (!nvme.erase.lbaFormats.empty()) return {nvme.erase.lbaFormats, nvme.erase.formatInUse};
  const uint32_t size = disk.sectorSize();
  return {{{512, 0}, {size == 512 ? 4096u : size, 0}}, static_cast<uint8_t>(size == 512 ? 0 : 1)};
}

// Format NVM CDW10: LBAF bits 3:0 with bits 13:12 above them, MSET bit 4, PI bits 7:5,
// PIL bit 8, SES bits 11:9.
constexpr uint32_t kFormatPiMask = 0x7u << 5;
constexpr unsigned kFormatSesShift = 9;
constexpr uint32_t kSesCrypto = 2;
constexpr uint8_t kFnaCrypto = 0x04;
// Sanitize CDW10: SANACT bits 2:0.
constexpr uint32_t kSanactExitFailure = 1;
constexpr uint32_t kSanactBlock = 2;
constexpr uint32_t kSanactOverwrite = 3;
constexpr uint32_t kSanactCrypto = 4;
// SANICAP bit of each action: crypto erase bit 0, block erase bit 1, overwrite bit 2.
uint8_t sanicapBit(uint32_t sanact) {
  switch (sanact) {
    case kSanactCrypto: return 0x1;
    case kSanactBlock: return 0x2;
    case kSanactOverwrite: return 0x4;
    default: return 0;
  }
}
// Sanitize Status log: SPROG bytes 0-1, SSTAT 2-3, SCDW10 4-7, the estimated seconds of
// overwrite, block erase and crypto erase at 8, 12 and 16 (FFFFFFFFh: no estimate).
constexpr size_t kSanitizeLogBytes = 512;
constexpr size_t kSsSprog = 0;
constexpr size_t kSsSstat = 2;
constexpr size_t kSsScdw10 = 4;
constexpr size_t kSsEstimates = 8;
constexpr uint8_t kSstatCompleted = 1;
constexpr uint8_t kSstatInProgress = 2;
constexpr uint8_t kSstatFailed = 3;
constexpr uint64_t kProgressUnits = 65536;

// What deallocated blocks read as (DLFEAT bits 2:0), as a repeated dword.
uint32_t erasedPattern(const SimNvme& nvme) { return (nvme.erase.dlfeat & 0x7) == 2 ? 0xFFFFFFFFu : 0u; }

// Format NVM: its completion status, 0 for success. The namespace takes the format asked
// for (its media remade at that block size when it changes) and is erased as SES says.
uint16_t formatNvm(SimDrive& drive, uint32_t nsid, uint32_t cdw10) {
  SimNvme& nvme = *drive.nvme;
  if (!nvme.erase.formatNvm) return kInvalidOpcode;
  if (nsid != nvme.nsid && nsid != kAllNamespaces) return kInvalidNamespace;
  if (nvme.erase.sanitizing) return kSanitizeInProgress;
  const FormatTable table = formatTable(nvme, drive.disk());
  const auto lbaf = static_cast<uint8_t>((cdw10 & 0xF) | (((cdw10 >> 12) & 0x3) << 4));
  const uint32_t ses = (cdw10 >> kFormatSesShift) & 0x7;
  // This namespace has no protection information, so only PI 0 is a format it takes.
  if (lbaf >= table.formats.size() || ses > kSesCrypto || (cdw10 & kFormatPiMask) != 0) return kInvalidField;
  if (ses == kSesCrypto && (nvme.erase.fna & kFnaCrypto) == 0) return kInvalidField;
  SimMedia& media = drive.disk();
  const uint32_t bytes = table.formats[lbaf].dataBytes;
  if (bytes != media.sectorSize()) media = SimMedia(media.sectorCount() * media.sectorSize() / bytes, bytes);
  if (!nvme.erase.lbaFormats.empty()) nvme.erase.formatInUse = lbaf;
  if (ses == kSesCrypto) {
    media.scrambleAll(++nvme.erase.cryptoErases);
  } else {
    media.fillAll(erasedPattern(nvme));
  }
  return 0;
}

// Sanitize: its completion status. An erase action starts, to end on the clock
// (updateNvmeSanitize, which the caller has already run); Exit Failure Mode only clears a
// failed one's status.
uint16_t sanitize(SimNvme& nvme, uint32_t cdw10, uint32_t cdw11, uint64_t nowMs) {
  SimNvmeErase& e = nvme.erase;
  if (e.sanicap == 0) return kInvalidOpcode;
  if (e.sanitizing) return kSanitizeInProgress;
  const uint32_t sanact = cdw10 & 0x7;
  if (sanact == kSanactExitFailure) {
    if (e.sanitizeStatus == kSstatFailed) e.sanitizeStatus = 0;
    return 0;
  }
  if ((e.sanicap & sanicapBit(sanact)) == 0) return kInvalidField;
  e.sanitizing = true;
  e.sanitizeCdw10 = cdw10;
  e.sanitizePattern = cdw11;
  e.sanitizeStartedMs = nowMs;
  e.sanitizeStatus = kSstatInProgress;
  return 0;
}

}  // namespace

void updateNvmeSanitize(SimNvme& nvme, SimMedia* media, uint64_t nowMs) {
  SimNvmeErase& e = nvme.erase;
  if (!e.sanitizing || nowMs - e.sanitizeStartedMs < uint64_t{e.sanitizeSeconds} * 1000) return;
  e.sanitizing = false;
  if (e.sanitizeFails) {
    e.sanitizeStatus = kSstatFailed;
    return;
  }
  e.sanitizeStatus = kSstatCompleted;
  if (media == nullptr) return;
  switch (e.sanitizeCdw10 & 0x7) {
    case kSanactBlock: media->fillAll(erasedPattern(nvme)); break;
    case kSanactOverwrite: media->fillAll(e.sanitizePattern); break;
    case kSanactCrypto: media->scrambleAll(++e.cryptoErases); break;
    default: break;
  }
}

std::vector<uint8_t> makeNvmeSanitizeLog(const SimNvme& nvme, uint64_t nowMs) {
  const SimNvmeErase& e = nvme.erase;
  std::vector<uint8_t> page(kSanitizeLogBytes, 0);
  uint64_t progress = kProgressUnits - 1;  // FFFFh: no sanitize under way
  if (e.sanitizing) {
    const uint64_t total = uint64_t{e.sanitizeSeconds} * 1000;
    progress = total == 0 ? 0 : std::min(kProgressUnits - 1, (nowMs - e.sanitizeStartedMs) * kProgressUnits / total);
  }
  storeLe(&page[kSsSprog], progress, 2);
  storeLe(&page[kSsSstat], e.sanitizeStatus, 2);
  storeLe(&page[kSsScdw10], e.sanitizeCdw10, 4);
  const uint32_t actions[] = {kSanactOverwrite, kSanactBlock, kSanactCrypto};
  for (size_t i = 0; i < 3; ++i) {
    const bool offered = (e.sanicap & sanicapBit(actions[i])) != 0;
    storeLe(&page[kSsEstimates + 4 * i], offered ? e.sanitizeSeconds : 0xFFFFFFFFu, 4);
  }
  return page;
}

namespace {
}  // namespace

void updateNvmeSelfTest(SimNvme& nvme, uint64_t nowMs) {
  SimNvmeSelfTest& t = nvme.selfTest;
  if (!t.running) return;
  const uint64_t duration = testDurationMs(t);
  if (nowMs - t.startedMs < duration) return;
  SimNvmeSelfTestEntry entry;
  entry.code = t.code;
  entry.result = t.result;
  entry.segment = t.segment;
  entry.powerOnHours = powerOnHours(nvme, t.startedMs + duration);
  // A test given no namespace reads no media, so it cannot name a sector.
  if (t.nsid != 0) entry.failingLba = t.failingLba;
  pushEntry(t, entry);
  t.running = false;
}

std::vector<uint8_t> makeNvmeIdentifyController(const SimNvme& nvme, const SimMedia& disk) {
  if (nvme.identifyControllerPage) return padded(*nvme.identifyControllerPage, kIdentifyBytes);
  std::vector<uint8_t> page(kIdentifyBytes, 0);
  storeLe(&page[kIcVid], nvme.pciVendorId, 2);
  storeLe(&page[kIcSsvid], nvme.pciVendorId, 2);
  putText(page, kIcSn, 20, nvme.serial);
  putText(page, kIcMn, 40, nvme.model);
  putText(page, kIcFr, 8, nvme.firmware);
  storeLe(&page[kIcIeee], nvme.ieeeOui, 3);
  page[kIcMdts] = 5;                   // 128 KiB transfers with 4 KiB pages
  storeLe(&page[kIcVer], 0x00010400, 4);    // 1.4
  storeLe(&page[kIcOacs], (nvme.selfTest.supported ? kOacsSelfTest : 0) | (nvme.erase.formatNvm ? kOacsFormat : 0), 2);
  page[kIcLpa] = kLpaLogOffsets;
  page[kIcElpe] = kErrorEntries - 1;   // 0's based: the entries the error log holds
  storeLe(&page[kIcWctemp], nvme.warningTemperatureKelvin, 2);
  storeLe(&page[kIcCctemp], nvme.criticalTemperatureKelvin, 2);
  storeLe(&page[kIcTnvmcap], disk.sectorCount() * disk.sectorSize(), 8);  // of 16 bytes, the upper half 0
  storeLe(&page[kIcEdstt], nvme.selfTest.extendedMinutes, 2);
  page[kIcDsto] = kDstoOneAtATime;
  page[kIcSqes] = 0x66;                // 64-byte submission entries
  page[kIcCqes] = 0x44;                // 16-byte completion entries
  storeLe(&page[kIcNn], nvme.namespaces, 4);
  storeLe(&page[kIcSanicap], nvme.erase.sanicap, 4);
  page[kIcFna] = nvme.erase.fna;
  return page;
}

std::vector<uint8_t> makeNvmeIdentifyNamespace(const SimNvme& nvme, const SimMedia& disk) {
  if (nvme.identifyNamespacePage) return padded(*nvme.identifyNamespacePage, kIdentifyBytes);
  std::vector<uint8_t> page(kIdentifyBytes, 0);
  const uint64_t blocks = disk.sectorCount();
  storeLe(&page[kInsNsze], blocks, 8);
  storeLe(&page[kInsNcap], blocks, 8);
  storeLe(&page[kInsNuse], blocks, 8);
  // FLBAS names the format in use: its low four bits in bits 3:0, the next two in 6:5.
  const FormatTable table = formatTable(nvme, disk);
  page[kInsNlbaf] = static_cast<uint8_t>(table.formats.size() - 1);
  page[kInsFlbas] = static_cast<uint8_t>((table.inUse & 0xF) | ((table.inUse >> 4) << 5));
  page[kInsDlfeat] = nvme.erase.dlfeat;
  for (size_t i = 0; i < table.formats.size(); ++i) {
    uint8_t lbads = 0;
    while ((uint32_t{1} << lbads) < table.formats[i].dataBytes) ++lbads;
    uint8_t* entry = &page[kInsLbaf + i * kLbafBytes];
    storeLe(entry, table.formats[i].metadataBytes, 2);
    entry[kLbafLbads] = lbads;
    entry[kLbafRp] = i == 0 ? 2 : 1;  // good performance, then better
  }
  return page;
}

std::vector<uint8_t> makeNvmeHealthLog(const SimNvme& nvme, uint64_t nowMs) {
  if (nvme.healthPage) return padded(*nvme.healthPage, kHealthBytes);
  const SimNvmeHealth& h = nvme.health;
  std::vector<uint8_t> page(kHealthBytes, 0);
  page[kHlCriticalWarning] = h.criticalWarning;
  storeLe(&page[kHlTemperature], h.temperatureKelvin, 2);
  page[kHlSpare] = h.availableSpare;
  page[kHlSpareThreshold] = h.spareThreshold;
  page[kHlPercentageUsed] = h.percentageUsed;
  // Each 16-byte counter holds a 64-bit value; its upper half stays zero.
  storeLe(&page[kHlDataUnitsRead], h.dataUnitsRead, 8);
  storeLe(&page[kHlDataUnitsWritten], h.dataUnitsWritten, 8);
  storeLe(&page[kHlHostReads], h.hostReads, 8);
  storeLe(&page[kHlHostWrites], h.hostWrites, 8);
  storeLe(&page[kHlBusyTime], h.busyMinutes, 8);
  storeLe(&page[kHlPowerCycles], h.powerCycles, 8);
  storeLe(&page[kHlPowerOnHours], powerOnHours(nvme, nowMs), 8);
  storeLe(&page[kHlUnsafeShutdowns], h.unsafeShutdowns, 8);
  storeLe(&page[kHlMediaErrors], h.mediaErrors, 8);
  storeLe(&page[kHlErrorLogEntries], h.errorLogEntries, 8);
  storeLe(&page[kHlWarningTempTime], h.warningTemperatureMinutes, 4);
  storeLe(&page[kHlCriticalTempTime], h.criticalTemperatureMinutes, 4);
  for (size_t i = 0; i < h.sensorsKelvin.size() && i < kSensorCount; ++i) {
    storeLe(&page[kHlSensors + 2 * i], h.sensorsKelvin[i], 2);
  }
  return page;
}

std::vector<uint8_t> makeNvmeSelfTestLog(const SimNvme& nvme, uint64_t nowMs) {
  const SimNvmeSelfTest& t = nvme.selfTest;
  std::vector<uint8_t> page(kSelfTestLogBytes, 0);
  if (t.running) {
    const uint64_t duration = testDurationMs(t);
    const uint64_t elapsed = nowMs - t.startedMs;
    page[kStCurrentOperation] = t.code;
    page[kStCompletion] = static_cast<uint8_t>(duration == 0 ? 0 : std::min<uint64_t>(99, elapsed * 100 / duration));
  }
  for (size_t i = 0; i < kStEntryCount; ++i) {
    const size_t at = kStEntries + i * kStEntryBytes;
    if (i >= t.log.size()) {
      page[at + kSeStatus] = kSeUnused;
      continue;
    }
    const SimNvmeSelfTestEntry& e = t.log[i];
    page[at + kSeStatus] = static_cast<uint8_t>((e.code << 4) | (e.result & 0x0F));
    page[at + kSeSegment] = e.segment;
    storeLe(&page[at + kSePowerOnHours], e.powerOnHours, 8);
    if (e.failingLba) {
      page[at + kSeValid] = 0x0F;
      storeLe(&page[at + kSeNsid], nvme.nsid, 4);
      storeLe(&page[at + kSeFailingLba], *e.failingLba, 8);
      page[at + kSeStatusCodeType] = kMediaErrorType;
      page[at + kSeStatusCode] = kUnrecoveredReadError;
    }
  }
  return page;
}

std::vector<uint8_t> makeNvmeErrorLog(const SimNvme& nvme) {
  std::vector<uint8_t> page(kErrorLogBytes, 0);
  for (size_t i = 0; i < nvme.errorLog.size() && i < kErrorEntries; ++i) {
    const SimNvmeErrorEntry& e = nvme.errorLog[i];
    const size_t at = i * kErrorEntryBytes;
    const auto code = static_cast<uint16_t>(e.status & 0xFF);
    const auto type = static_cast<uint16_t>((e.status >> 8) & 0x7);
    storeLe(&page[at + kEeErrorCount], e.errorCount, 8);
    storeLe(&page[at + kEeSqid], e.sqid, 2);
    storeLe(&page[at + kEeCid], e.cid, 2);
    storeLe(&page[at + kEeStatus], static_cast<uint16_t>((code << 1) | (type << 9)), 2);
    storeLe(&page[at + kEeParameterLocation], e.parameterErrorLocation, 2);
    storeLe(&page[at + kEeLba], e.lba, 8);
    storeLe(&page[at + kEeNsid], e.nsid, 4);
    page[at + kEeTransportType] = e.transportType;
    storeLe(&page[at + kEeCommandSpecific], e.commandSpecific, 8);
  }
  return page;
}

NvmeOutcome nvmeQueryProperty(SimDrive& drive, const std::vector<uint8_t>& in, uint8_t* out, uint32_t outSize,
                              uint64_t nowMs) {
  if (in.size() < kDescriptorBytes) return refused(ERROR_INVALID_PARAMETER);
  const uint32_t property = loadLe32(in.data() + kQueryPropertyId);
  if (loadLe32(in.data() + kQueryType) != 0) return refused(ERROR_NOT_SUPPORTED);  // standard queries only
  const uint8_t* data = in.data() + kQueryParameters;
  const uint32_t dataOffset = loadLe32(data + kDataOffset);
  const uint32_t dataLength = loadLe32(data + kDataLength);
  if (loadLe32(data + kProtocolType) != kProtocolNvme || dataOffset < kProtocolDataSize ||
      dataLength < kLeastDataLength) {
    return refused(ERROR_INVALID_PARAMETER);
  }
  const uint64_t end = uint64_t{kQueryParameters} + dataOffset + dataLength;
  if (end > in.size()) return refused(ERROR_INVALID_PARAMETER);
  if (end > outSize) return refused(ERROR_INSUFFICIENT_BUFFER);
  std::vector<uint8_t> page;
  uint64_t offset = 0;
  const uint32_t error = selectPage(drive, property, data, dataLength, nowMs, page, offset);
  if (error != ERROR_SUCCESS) return refused(error);

  // The reply: the descriptor, the request's protocol data with the data placed right
  // after it, then as much of the page as was asked for.
  const auto n = static_cast<uint32_t>(std::min<uint64_t>(dataLength, page.size() - offset));
  std::memset(out, 0, kDescriptorBytes + n);
  storeLe32(out + kDescriptorVersion, kDescriptorBytes);
  storeLe32(out + kDescriptorSize, kDescriptorBytes);
  uint8_t* replyData = out + kQueryParameters;
  std::memcpy(replyData, data, kProtocolDataSize);
  storeLe32(replyData + kDataOffset, kProtocolDataSize);
  storeLe32(replyData + kDataLength, n);
  storeLe32(replyData + kFixedReturnData, 0);
  std::memcpy(out + kDescriptorBytes, page.data() + offset, n);
  return {ERROR_SUCCESS, kDescriptorBytes + n};
}

// Long on purpose: the driver's checks of the record, in the order it makes them, then
// the command; splitting it would hide that order.
NvmeOutcome nvmeProtocolCommand(SimDrive& drive, uint32_t access, const std::vector<uint8_t>& in, uint8_t* out,
                                uint32_t outSize, uint64_t nowMs, std::optional<uint16_t> injectedStatus) {
  if ((access & (GENERIC_READ | GENERIC_WRITE)) != (GENERIC_READ | GENERIC_WRITE)) {
    return refused(ERROR_ACCESS_DENIED);
  }
  if (in.size() < kCmdLeast) return refused(ERROR_INVALID_PARAMETER);
  if (outSize < kCmdLeast) return refused(ERROR_INSUFFICIENT_BUFFER);
  const uint8_t* r = in.data();
  if (loadLe32(r + kCmdVersion) != kCmdVersionOne || loadLe32(r + kCmdLength) != kCmdStructureLength ||
      loadLe32(r + kCmdProtocolType) != kProtocolNvme || loadLe32(r + kCmdCommandLength) != kEntryBytes ||
      loadLe32(r + kCmdCommandSpecific) != kCmdAdmin) {
    return refused(ERROR_INVALID_PARAMETER);
  }
  // Each area a length names lies after the command and inside the buffer it travels in.
  const auto inside = [&](size_t offsetField, size_t lengthField, uint64_t limit) {
    const uint32_t length = loadLe32(r + lengthField);
    const uint32_t offset = loadLe32(r + offsetField);
    return length == 0 || (offset >= kCmdLeast && uint64_t{offset} + length <= limit);
  };
  if (!inside(kCmdErrorInfoOffset, kCmdErrorInfoLength, outSize) ||
      !inside(kCmdToDeviceOffset, kCmdToDeviceLength, in.size()) ||
      !inside(kCmdFromDeviceOffset, kCmdFromDeviceLength, outSize)) {
    return refused(ERROR_INVALID_PARAMETER);
  }
  const uint8_t* entry = r + kCmdEntry;
  // The driver passes through only the commands it lets applications send; any other is
  // refused before it reaches the controller, and the call fails with nothing written.
  const uint8_t opcode = entry[kEntryOpcode];
  if (opcode != kOpcodeDeviceSelfTest && opcode != kOpcodeFormatNvm && opcode != kOpcodeSanitize) {
    return refused(ERROR_NOT_SUPPORTED);
  }
  const uint32_t nsid = loadLe32(entry + kEntryNsid);
  const uint32_t cdw10 = loadLe32(entry + kEntryCdw10);
  updateNvmeSanitize(*drive.nvme, &drive.disk(), nowMs);
  uint16_t status = 0;
  if (injectedStatus) {
    status = *injectedStatus;
  } else if (opcode == kOpcodeFormatNvm) {
    status = formatNvm(drive, nsid, cdw10);
  } else if (opcode == kOpcodeSanitize) {
    status = sanitize(*drive.nvme, cdw10, loadLe32(entry + kEntryCdw11), nowMs);
  } else {
    status = deviceSelfTest(*drive.nvme, nsid, cdw10, nowMs);
  }
  // The request comes back through the buffer with the completion filled in; a command
  // the controller failed is still a completed request.
  const size_t copied = std::min<size_t>(in.size(), outSize);
  std::memcpy(out, r, copied);
  if (outSize > copied) std::memset(out + copied, 0, outSize - copied);
  storeLe32(out + kCmdReturnStatus, status == 0 ? kStatusSuccess : kStatusError);
  storeLe32(out + kCmdErrorCode, status);
  storeLe32(out + kCmdFixedReturnData, 0);
  storeLe32(out + kCmdFixedReturnData2, 0);
  const uint32_t errorInfoLength = loadLe32(r + kCmdErrorInfoLength);
  if (errorInfoLength > 0) std::memset(out + loadLe32(r + kCmdErrorInfoOffset), 0, errorInfoLength);
  return {ERROR_SUCCESS, outSize};
}

}  // namespace palvoro::sim
