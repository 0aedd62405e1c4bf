#include "discovery/identify.h"

#include <gtest/gtest.h>

#include "support/case_name.h"

#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ioctl_codes.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

using palvoro::testsupport::caseName;

using namespace std::string_literals;

using Reply = std::array<uint8_t, 512>;

void putWord(uint8_t (&reply)[512], int n, uint16_t value) {
  reply[2 * n] = static_cast<uint8_t>(value & 0xFF);
  reply[2 * n + 1] = static_cast<uint8_t>(value >> 8);
}

// An ATA string as a drive sends it: the first character of each pair in the high byte of
// its word, which is the second byte in memory.
void putAtaString(uint8_t (&reply)[512], int firstWord, const std::string& text) {
  ASSERT_EQ(text.size() % 2, 0u);
  for (size_t i = 0; i < text.size(); i += 2) {
    reply[2 * firstWord + i] = static_cast<uint8_t>(text[i + 1]);
    reply[2 * firstWord + i + 1] = static_cast<uint8_t>(text[i]);
  }
}

std::string padded(const std::string& text, size_t width) {
  return text + std::string(width - text.size(), ' ');
}

// The field holds a terminator within its width, and its text is at most `maxChars` long.
template <size_t N>
std::string fieldText(const char (&field)[N], size_t maxChars) {
  const void* end = std::memchr(field, 0, N);
  EXPECT_NE(end, nullptr) << "field not zero-terminated";
  if (end == nullptr) return {};
  std::string text(field);
  EXPECT_LE(text.size(), maxChars);
  return text;
}


DriveRecord scribbledRecord() {
  DriveRecord record;
  std::memset(&record, 0x5A, sizeof record);
  return record;
}

// ---------------------------------------------------------------------------------------
// Texts

struct TextCase {
  const char* name;
  std::string modelArea;     // 40 bytes, in reading order
  std::string serialArea;    // 20 bytes
  std::string firmwareArea;  // 8 bytes
  std::string model;
  std::string serial;
  std::string firmware;
};

class IdentifyTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(IdentifyTextTest, StoresTrimmedTerminatedTexts) {
  const TextCase& c = GetParam();
  ASSERT_EQ(c.modelArea.size(), 40u);
  ASSERT_EQ(c.serialArea.size(), 20u);
  ASSERT_EQ(c.firmwareArea.size(), 8u);
  uint8_t reply[512] = {};
  putAtaString(reply, 27, c.modelArea);
  putAtaString(reply, 10, c.serialArea);
  putAtaString(reply, 23, c.firmwareArea);

  DriveRecord record = scribbledRecord();
  parseIdentifyReply(reply, record, false);

  EXPECT_EQ(fieldText(record.model, 40), c.model);
  EXPECT_EQ(fieldText(record.serialNumber, 20), c.serial);
  EXPECT_EQ(fieldText(record.firmwareRevision, 8), c.firmware);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, IdentifyTextTest,
    testing::Values(
        TextCase{"PaddedAndLeadingSpaces", padded("VARNHOLT VH7K1000", 40),
                 padded("      VN4RK29A", 20), "A3MA    ", "VARNHOLT VH7K1000", "VN4RK29A", "A3MA"},
        TextCase{"FullWidthNoPadding", "VHT-ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789",
                 "S1234567890123456789", "FW123456", "VHT-ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789",
                 "S1234567890123456789", "FW123456"},
        TextCase{"EmbeddedZeros", padded("VH 500\0GARBAGE"s, 40), padded("  ABC\0DEF"s, 20),
                 "\0XYZ    "s, "VH 500", "ABC", ""},
        TextCase{"ZeroPadded", "VH MODEL 1"s + std::string(30, '\0'),
                 "SN1"s + std::string(17, '\0'), "1.0"s + std::string(5, '\0'), "VH MODEL 1", "SN1",
                 "1.0"},
        TextCase{"SpaceBeforeZero", padded("  VH 1  \0  X"s, 40), padded("SN  \0"s, 20),
                 "   \0FW  "s, "VH 1", "SN", ""},
        TextCase{"ControlBytes", padded("\t VH\x01MODEL\x7F\r\n", 40), padded("\x1B[2J", 20),
                 "\v\fFW12\f\v", "VH?MODEL?", "?[2J", "FW12"},
        TextCase{"HighBytesAreNotSpace", std::string(40, '\xFF'), padded("\xA0SN\xA0", 20),
                 std::string(8, '\x80'), std::string(40, '?'), "?SN?", std::string(8, '?')},
        TextCase{"Hostile", padded("<img src=x>\xC3<b>\"\\\a\rX", 40), padded("S\xFF\x1B]0;t\aN", 20),
                 "1\r\0" "23456"s, "<img src=x>?<b>\"\\??X", "S??]0;t?N", "1"},
        TextCase{"AllBlank", std::string(40, ' '), std::string(20, ' '), std::string(8, ' '), "",
                 "", ""}),
    caseName<TextCase>);

// The byte order written out by hand, independent of the helper above.
TEST(IdentifyTextTest, ReadsHandSwappedBytes) {
  uint8_t reply[512] = {};
  std::memset(reply + 54, ' ', 40);
  std::memcpy(reply + 54, "AVNROHTL", 8);  // "VARNHOLT"
  std::memset(reply + 20, ' ', 20);
  std::memcpy(reply + 20, "21436587", 8);  // "12345678"
  std::memcpy(reply + 46, "WF10    ", 8);  // "FW01"
  DriveRecord record = scribbledRecord();
  parseIdentifyReply(reply, record, false);
  EXPECT_STREQ(record.model, "VARNHOLT");
  EXPECT_STREQ(record.serialNumber, "12345678");
  EXPECT_STREQ(record.firmwareRevision, "FW01");
}

// ---------------------------------------------------------------------------------------
// Capacity and sector size

struct WordsCase {
  const char* name;
  std::map<int, uint16_t> words;
  uint64_t totalSectors;
  int32_t sectorSize;
};

class IdentifyWordsLayoutTest : public testing::TestWithParam<WordsCase> {};

TEST_P(IdentifyWordsLayoutTest, TakesCapacityAndSectorSize) {
  const WordsCase& c = GetParam();
  uint8_t reply[512] = {};
  for (const auto& [n, value] : c.words) putWord(reply, n, value);
  DriveRecord record = scribbledRecord();
  parseIdentifyReply(reply, record, false);
  EXPECT_EQ(record.totalSectors, c.totalSectors);
  EXPECT_EQ(record.sectorSize, c.sectorSize);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, IdentifyWordsLayoutTest,
    testing::Values(
        // 4 TB, 7,814,037,168 sectors (1D1C0BEB0h); words 60..61 saturate at 0FFFFFFFh.
        WordsCase{
            "Lba48",
            {{86, 0x3C01}, {60, 0xFFFF}, {61, 0x0FFF}, {100, 0xBEB0}, {101, 0xD1C0}, {102, 1}},
            7814037168ull,
            512},
        // 80 GB, 156,301,488 sectors (0950F8B0h).
        WordsCase{"Lba28", {{86, 0x3000}, {60, 0xF8B0}, {61, 0x0950}}, 156301488ull, 512},
        WordsCase{"Lba28WithWords100Set",
                  {{86, 0x3BFF}, {60, 0xF8B0}, {61, 0x0950}, {100, 0x5DB0}, {101, 0x12A1}},
                  156301488ull,
                  512},
        WordsCase{
            "Lba48Word103IsHighest", {{86, 0x0400}, {60, 0x1234}, {103, 0x0001}}, 1ull << 48, 512},
        WordsCase{"Lba48ReportsZero", {{86, 0x0400}, {60, 0xF8B0}, {61, 0x0950}}, 0, 512},
        WordsCase{"Layout6003", {{106, 0x6003}, {117, 256}}, 0, 512},
        WordsCase{"Layout7003", {{106, 0x7003}, {117, 256}}, 0, 4096},
        WordsCase{"Layout7000", {{106, 0x7000}, {117, 256}}, 0, 512},
        WordsCase{"Layout7001Words260", {{106, 0x7001}, {117, 260}}, 0, 1040},
        WordsCase{"Word118IsHigh", {{106, 0x7000}, {118, 1}}, 0, 131072},
        WordsCase{"Bit15SetInvalid", {{106, 0xF003}, {117, 256}}, 0, 512},
        WordsCase{"Bit13Clear", {{106, 0x5003}, {117, 256}}, 0, 512},
        // A 10 TB 4Kn drive: 2,441,609,216 sectors of 4096 bytes, one logical per physical.
        WordsCase{"FourKn",
                  {{86, 0x0400}, {101, 0x9188}, {106, 0x5000}, {117, 2048}},
                  2441609216ull,
                  4096},
        // Bits 0..2 count only with bit 13.
        WordsCase{"FourKnBits0To2WithoutBit13", {{106, 0x5003}, {117, 2048}}, 0, 4096},
        WordsCase{"Layout7000Words2048", {{106, 0x7000}, {117, 2048}}, 0, 4096},
        WordsCase{"Bit12ClearIgnoresTheLength", {{106, 0x4000}, {117, 2048}}, 0, 512},
        WordsCase{"Layout6000IgnoresTheLength", {{106, 0x6000}, {117, 2048}}, 0, 512},
        WordsCase{"Bit15SetWithFourKnLength", {{106, 0xD000}, {117, 2048}}, 0, 512},
        WordsCase{"Bit14ClearWithFourKnLength", {{106, 0x1000}, {117, 2048}}, 0, 512},
        WordsCase{"Bit14Clear", {{106, 0x3003}, {117, 256}}, 0, 512},
        WordsCase{"NoLength", {{106, 0x7003}}, 0, 0},
        // 128 x FFFFFFFFh x 2 wraps to FFFFFF00h in the 32-bit field.
        WordsCase{"Nonsense", {{106, 0x7007}, {117, 0xFFFF}, {118, 0xFFFF}}, 0, -256}),
    caseName<WordsCase>);

// ---------------------------------------------------------------------------------------
// hybridFlags

constexpr uint32_t kUntouched = 0x80;  // what the record held before the parse

struct HybridCase {
  const char* name;
  uint16_t rotationRate, word169, word59;
  bool logCapability;
  uint32_t hybridFlags;
};

class IdentifyHybridTest : public testing::TestWithParam<HybridCase> {};

TEST_P(IdentifyHybridTest, SetsFlagsForRotatingDrivesOnly) {
  const HybridCase& c = GetParam();
  uint8_t reply[512] = {};
  putWord(reply, 217, c.rotationRate);
  putWord(reply, 169, c.word169);
  putWord(reply, 59, c.word59);
  DriveRecord record{};
  record.hybridFlags = kUntouched;
  EXPECT_EQ(parseIdentifyReply(reply, record, c.logCapability), c.rotationRate);
  EXPECT_EQ(record.hybridFlags, c.hybridFlags);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, IdentifyHybridTest,
    testing::Values(HybridCase{"Rpm7200Nothing", 7200, 0x0000, 0x0000, false, 0x0},
                    HybridCase{"Rpm7200Trim", 7200, 0x0001, 0x0000, false, 0x1},
                    HybridCase{"Rpm7200TrimSanitize", 7200, 0x0001, 0x5000, false, 0x5},
                    HybridCase{"Rpm7200LogSanitize", 7200, 0x0000, 0x5000, true, 0x6},
                    HybridCase{"Rpm7200AllWithOtherBits", 7200, 0x4001, 0x5110, true, 0x7},
                    HybridCase{"Rpm7200SanitizeAlone", 7200, 0x0000, 0x5000, false, 0x0},
                    HybridCase{"Rpm7200Word59Bit12Only", 7200, 0x0001, 0x1000, true, 0x3},
                    HybridCase{"Rpm7200Word59Bit14Only", 7200, 0x0001, 0x4000, true, 0x3},
                    HybridCase{"Rpm7200Word169OtherBits", 7200, 0xFFFE, 0x5000, false, 0x0},
                    HybridCase{"Rate0401Trim", 0x0401, 0x0001, 0x5000, false, 0x5},
                    HybridCase{"Rate0401Nothing", 0x0401, 0x0000, 0x0000, false, 0x0},
                    HybridCase{"RateFFFELog", 0xFFFE, 0x0000, 0x0000, true, 0x2},
                    HybridCase{"Rate0400All", 0x0400, 0x0001, 0x5000, true, kUntouched},
                    HybridCase{"Rate1All", 0x0001, 0x0001, 0x5000, true, kUntouched},
                    HybridCase{"Rate1Nothing", 0x0001, 0x0000, 0x0000, false, kUntouched},
                    HybridCase{"Rate0All", 0x0000, 0x0001, 0x5000, true, kUntouched},
                    HybridCase{"RateFFFFAll", 0xFFFF, 0x0001, 0x5000, true, kUntouched}),
    caseName<HybridCase>);

// ---------------------------------------------------------------------------------------
// IDENTIFY DEVICE data log page 3

using Bytes8 = std::array<uint8_t, 8>;
// Revision 0001h, page 03h, bit 63 set: the header a conforming drive sends.
constexpr Bytes8 kFullHeader = {0x01, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x80};
// Capabilities (bytes 8..15) with bit 50 alone set: bit 2 of byte 14.
constexpr Bytes8 kBit50 = {0, 0, 0, 0, 0, 0, 0x04, 0};

sim::Page logPage(const Bytes8& header, const Bytes8& capabilities) {
  sim::Page page{};
  std::memcpy(page.data(), header.data(), 8);
  std::memcpy(page.data() + 8, capabilities.data(), 8);
  return page;
}

struct LogPageCase {
  const char* name;
  Bytes8 header;
  Bytes8 capabilities;
  bool capability;
};

class IdentifyLogPageTest : public testing::TestWithParam<LogPageCase> {};

TEST_P(IdentifyLogPageTest, ChecksHeaderAndCapabilityBit) {
  const LogPageCase& c = GetParam();
  const sim::Page page = logPage(c.header, c.capabilities);
  uint8_t bytes[512];
  std::memcpy(bytes, page.data(), 512);
  EXPECT_EQ(identifyLogCapability(bytes), c.capability);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, IdentifyLogPageTest,
    testing::Values(LogPageCase{"FullHeader", kFullHeader, kBit50, true},
                    LogPageCase{"RevisionBit0Only", {0x01, 0, 0, 0, 0, 0, 0, 0}, kBit50, true},
                    LogPageCase{"PageNumberBit0Only", {0, 0, 0x01, 0, 0, 0, 0, 0}, kBit50, true},
                    LogPageCase{"PageNumberBit1Only", {0, 0, 0x02, 0, 0, 0, 0, 0}, kBit50, true},
                    LogPageCase{"Bit63Only", {0, 0, 0, 0, 0, 0, 0, 0x80}, kBit50, true},
                    LogPageCase{"NoHeader", {0, 0, 0, 0, 0, 0, 0, 0}, kBit50, false},
                    LogPageCase{"OtherHeaderBits",
                                {0xFE, 0xFF, 0xFC, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
                                kBit50,
                                false},
                    LogPageCase{"NoCapability", kFullHeader, {}, false},
                    LogPageCase{"OtherCapabilities",
                                kFullHeader,
                                {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFB, 0xFF},
                                false},
                    LogPageCase{"Bit18OfLowHalf", kFullHeader, {0, 0, 0x04, 0, 0, 0, 0, 0}, false}),
    caseName<LogPageCase>);

// ---------------------------------------------------------------------------------------
// Helpers the probe uses

TEST(IdentifyWordsTest, ReadsWordsTheProbeNeeds) {
  uint8_t reply[512] = {};
  const std::map<int, uint16_t> words = {{108, 0x5000}, {109, 0xCCA2}, {110, 0x1234},
                                         {111, 0x5678}, {82, 0x7469},  {133, 0x045E},
                                         {169, 0x0001}, {255, 0xBEEF}};
  for (const auto& [n, value] : words) putWord(reply, n, value);
  // World wide name 5000CCA2 12345678h: NAA 5, organisation 000CCAh.
  EXPECT_EQ(identifyWorldWideName(reply), 0x5000CCA212345678ull);
  EXPECT_EQ(identifyWwnNaaAndOui(reply), 0x5000CCAu);
  EXPECT_TRUE(identifySmartSupported(reply));
  EXPECT_EQ(identifyVendorWord(reply), 0x045E);
  EXPECT_TRUE(identifyTrimSupported(reply));
  for (int n : {-1, 256}) EXPECT_EQ(identifyWord(reply, n), 0) << n;
  EXPECT_EQ(identifyDword(reply, 255), 0xBEEFu);
  putWord(reply, 82, 0x7468);
  EXPECT_FALSE(identifySmartSupported(reply));
}

TEST(IdentifyWordsTest, StoreReplyTextStaysInItsField) {
  const struct {
    std::string source;
    size_t maxChars;
    TextTrim trim;
    size_t fieldSize;
    std::string stored;
  } cases[] = {{"  VH  ", 6, TextTrim::End, 12, "  VH"},
               {"ABC DEFG", 4, TextTrim::Both, 12, "ABC"},
               {"ABCDEFGHIJ", 10, TextTrim::Both, 5, "ABCD"},
               {"AB\0CD"s, 5, TextTrim::End, 12, "AB"},
               {"ABC", 3, TextTrim::Both, 1, ""}};
  for (const auto& c : cases) {
    // Guard bytes either side of the field catch a write outside it.
    std::vector<char> buffer(c.fieldSize + 2, '#');
    std::vector<uint8_t> source(c.source.begin(), c.source.end());
    storeReplyText(source.data(), source.size(), c.maxChars, c.trim, buffer.data() + 1,
                   c.fieldSize);
    EXPECT_EQ(buffer.front(), '#');
    EXPECT_EQ(buffer.back(), '#');
    EXPECT_EQ(std::string(buffer.data() + 1), c.stored) << c.source;
  }
}

// ---------------------------------------------------------------------------------------
// parseIdentify on a simulated drive

// A rotating drive with TRIM, sanitize overwrite and the general purpose log feature set.
void buildRotatingReply(uint8_t (&reply)[512], uint16_t rotationRate) {
  std::memset(reply, 0, 512);
  putAtaString(reply, 27, padded("VARNHOLT VH5K500", 40));
  putAtaString(reply, 10, padded("VN1X0001", 20));
  putAtaString(reply, 23, "A1B2C3D4");
  const std::map<int, uint16_t> words = {{59, 0x5000},  {84, 0x0020},        {86, 0x0400},
                                         {169, 0x0001}, {217, rotationRate}, {100, 0x6030},
                                         {101, 0x3A38}};  // 976,773,168 sectors (3A386030h): 500 GB
  for (const auto& [n, value] : words) putWord(reply, n, value);
}

struct SimDriveUnderTest {
  std::unique_ptr<sim::SimPlatform> platform;
  Handle handle = INVALID_HANDLE_VALUE;
};

SimDriveUnderTest openDrive(const uint8_t (&reply)[512], std::optional<sim::Page> page) {
  sim::SimUnit unit;
  for (int i = 0; i < 256; ++i) {
    unit.identify[i] = static_cast<uint16_t>(reply[2 * i] | (reply[2 * i + 1] << 8));
  }
  unit.identifyLogPage3 = page;
  unit.media = sim::SimMedia(976773168ull, 512);
  sim::SimDrive drive;
  drive.number = 0;
  drive.transport = sim::Transport::Ata;
  drive.ata.units.emplace(0, std::move(unit));
  sim::SimMachine machine;
  machine.drives.push_back(std::move(drive));

  SimDriveUnderTest d;
  d.platform = std::make_unique<sim::SimPlatform>(std::move(machine));
  d.handle = d.platform->createFile("\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  return d;
}

// Offsets in ATA_PASS_THROUGH_EX.
constexpr size_t kFlagsAt = 2;
constexpr size_t kTransferLengthAt = 8;
constexpr size_t kTimeoutAt = 12;
constexpr size_t kPreviousTaskAt = 24;
constexpr size_t kCurrentTaskAt = 32;

// ATA pass-through requests that carried READ LOG EXT (command register 2Fh).
std::vector<sim::SimRequest> readLogRequests(const sim::SimPlatform& platform) {
  std::vector<sim::SimRequest> found;
  for (const sim::SimRequest& request : platform.ioctls(IOCTL_ATA_PASS_THROUGH)) {
    if (request.input.size() >= 40 && request.input[kCurrentTaskAt + 6] == 0x2F) {
      found.push_back(request);
    }
  }
  return found;
}

enum class Fault { None, RequestFails, DriveAborts };

struct SimCase {
  const char* name;
  int32_t busType;
  uint16_t rotationRate;
  std::optional<sim::Page> page;
  Fault fault;
  uint32_t hybridFlags;
  size_t readLogRequests;
};

class ParseIdentifySimTest : public testing::TestWithParam<SimCase> {};

TEST_P(ParseIdentifySimTest, ReadsTheDataLogWhereTheRouteAllows) {
  const SimCase& c = GetParam();
  uint8_t reply[512];
  buildRotatingReply(reply, c.rotationRate);
  SimDriveUnderTest d = openDrive(reply, c.page);
  ASSERT_NE(d.handle, INVALID_HANDLE_VALUE);
  if (c.fault != Fault::None) {
    sim::SimFault fault;
    fault.kind = c.fault == Fault::RequestFails ? sim::SimFault::Kind::FailRequest
                                                : sim::SimFault::Kind::AtaError;
    fault.drive = 0;
    fault.command = 0x2F;
    d.platform->injectFault(fault);
  }
  d.platform->clearLog();

  DriveRecord record{};
  record.busType = c.busType;
  EXPECT_EQ(parseIdentify(*d.platform, d.handle, reply, record), c.rotationRate);
  EXPECT_EQ(record.hybridFlags, c.hybridFlags);
  EXPECT_EQ(readLogRequests(*d.platform).size(), c.readLogRequests);
  EXPECT_STREQ(record.model, "VARNHOLT VH5K500");
  EXPECT_EQ(record.totalSectors, 976773168ull);
  d.platform->closeHandle(d.handle);
}

const sim::Page kCapablePage = logPage(kFullHeader, kBit50);

INSTANTIATE_TEST_SUITE_P(
    Drives, ParseIdentifySimTest,
    testing::Values(SimCase{"SataCapable", 11, 7200, kCapablePage, Fault::None, 0x7, 1},
                    SimCase{"MakerSataCapable", 83, 5400, kCapablePage, Fault::None, 0x7, 1},
                    SimCase{"BusQueryFailedCapable", -1, 7200, kCapablePage, Fault::None, 0x7, 1},
                    SimCase{"Bit63Only", 3, 7200, logPage({0, 0, 0, 0, 0, 0, 0, 0x80}, kBit50),
                            Fault::None, 0x7, 1},
                    SimCase{"HeaderInvalid", 11, 7200, logPage({}, kBit50), Fault::None, 0x5, 1},
                    SimCase{"NoLogPage", 11, 7200, std::nullopt, Fault::None, 0x5, 1},
                    SimCase{"ReadLogRequestFails", 11, 7200, kCapablePage, Fault::RequestFails, 0x5,
                            1},
                    SimCase{"ReadLogAborted", 11, 7200, kCapablePage, Fault::DriveAborts, 0x5, 1},
                    SimCase{"UsbSendsNothing", 7, 7200, kCapablePage, Fault::None, 0x5, 0},
                    SimCase{"SolidStateSendsNothing", 11, 1, kCapablePage, Fault::None, 0x0, 0},
                    SimCase{"RateFFFFSendsNothing", 11, 0xFFFF, kCapablePage, Fault::None, 0x0, 0}),
    caseName<SimCase>);

TEST(ParseIdentifySim, ReadLogExtRegisters) {
  uint8_t reply[512];
  buildRotatingReply(reply, 7200);
  SimDriveUnderTest d = openDrive(reply, kCapablePage);
  ASSERT_NE(d.handle, INVALID_HANDLE_VALUE);
  DriveRecord record{};
  record.busType = 11;
  parseIdentify(*d.platform, d.handle, reply, record);

  const std::vector<sim::SimRequest> requests = readLogRequests(*d.platform);
  ASSERT_EQ(requests.size(), 1u);
  const std::vector<uint8_t>& in = requests[0].input;
  // features, count, LBA low (log 30h), LBA mid (page 3), LBA high, device, command.
  const uint8_t current[7] = {0x00, 0x01, 0x30, 0x03, 0x00, 0xA0, 0x2F};
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(in[kCurrentTaskAt + i], current[i]) << "current task file byte " << i;
    EXPECT_EQ(in[kPreviousTaskAt + i], 0) << "previous task file byte " << i;
  }
  EXPECT_EQ(in[kFlagsAt] & 0x0E, 0x0A) << "data in, 48-bit, not data out";
  EXPECT_EQ(in[kTransferLengthAt] | (in[kTransferLengthAt + 1] << 8), 512);
  EXPECT_EQ(in[kTimeoutAt], 30);
  d.platform->closeHandle(d.handle);
}

TEST(ParseIdentifySim, SwapsTheReplyInPlace) {
  uint8_t reply[512];
  buildRotatingReply(reply, 0);
  uint8_t original[512];
  std::memcpy(original, reply, sizeof reply);
  SimDriveUnderTest d = openDrive(reply, std::nullopt);
  ASSERT_NE(d.handle, INVALID_HANDLE_VALUE);
  DriveRecord record{};
  parseIdentify(*d.platform, d.handle, reply, record);

  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply + 54), 8), "VARNHOLT");
  // Every byte of the serial, firmware and model areas (bytes 20..39, 46..93) trades places
  // with its neighbour; nothing else moves.
  for (size_t i = 0; i < 512; ++i) {
    const bool text = (i >= 20 && i < 40) || (i >= 46 && i < 94);
    EXPECT_EQ(reply[i], original[text ? (i ^ 1u) : i]) << "byte " << i;
  }
  d.platform->closeHandle(d.handle);
}

}  // namespace
}  // namespace palvoro
