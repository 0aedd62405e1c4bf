#include "discovery/identify.h"

#include <gtest/gtest.h>

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

// Names parameterised cases after their table entry.
template <typename Case>
std::string caseName(const testing::TestParamInfo<Case>& param) {
  return param.param.name;
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
        TextCase{"ZeroPadded", "VH MODEL 1"s + std::string(30, '\0'), "SN1"s + std::string(17, '\0'),
                 "1.0"s + std::string(5, '\0'), "VH MODEL 1", "SN1", "1.0"},
        TextCase{"SpaceBeforeZero", padded("  VH 1  \0  X"s, 40), padded("SN  \0"s, 20),
                 "   \0FW  "s, "VH 1", "SN", ""},
        TextCase{"ControlBytes", padded("\t VH\x01MODEL\x7F\r\n", 40), padded("\x1B[2J", 20),
                 "\v\fFW12\f\v", "VH\x01MODEL\x7F", "\x1B[2J", "FW12"},
        TextCase{"InnerWhiteSpaceKept", padded("VH\tMODEL  X", 40), padded("A B", 20), "1 2     ",
                 "VH\tMODEL  X", "A B", "1 2"},
        TextCase{"HighBytesAreNotSpace", std::string(40, '\xFF'), padded("\xA0SN\xA0", 20),
                 std::string(8, '\x80'), std::string(40, '\xFF'), "\xA0SN\xA0",
                 std::string(8, '\x80')},
        TextCase{"AllBlank", std::string(40, ' '), std::string(20, ' '), std::string(8, ' '), "", "",
                 ""},
        TextCase{"AllZero", std::string(40, '\0'), std::string(20, '\0'), std::string(8, '\0'), "",
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
// Capacity

struct CapacityCase {
  const char* name;
  uint16_t word86;
  std::array<uint16_t, 2> words60;
  std::array<uint16_t, 4> words100;
  uint64_t totalSectors;
};

class IdentifyCapacityTest : public testing::TestWithParam<CapacityCase> {};

TEST_P(IdentifyCapacityTest, PicksTheAddressingTheDriveHasEnabled) {
  const CapacityCase& c = GetParam();
  uint8_t reply[512] = {};
  putWord(reply, 86, c.word86);
  for (int i = 0; i < 2; ++i) putWord(reply, 60 + i, c.words60[i]);
  for (int i = 0; i < 4; ++i) putWord(reply, 100 + i, c.words100[i]);
  DriveRecord record = scribbledRecord();
  parseIdentifyReply(reply, record, false);
  EXPECT_EQ(record.totalSectors, c.totalSectors);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, IdentifyCapacityTest,
    testing::Values(
        // 4 TB: 7,814,037,168 sectors; words 60..61 saturate at 0FFFFFFFh.
        CapacityCase{"Lba48", 0x3C01, {0xFFFF, 0x0FFF}, {0xBEB0, 0xD1C0, 0x0001, 0x0000}, 7814037168ull},
        // 80 GB: 156,301,488 sectors.
        CapacityCase{"Lba28", 0x3000, {0xF8B0, 0x0950}, {0, 0, 0, 0}, 156301488ull},
        CapacityCase{"Lba28WithWords100Set", 0x3BFF, {0xF8B0, 0x0950}, {0x5DB0, 0x12A1, 0, 0},
                     156301488ull},
        CapacityCase{"Lba48OnlyBit10", 0x0400, {0x1234, 0x0000}, {0x0000, 0x0000, 0x0000, 0x0001},
                     281474976710656ull},
        CapacityCase{"Lba48ReportsZero", 0x0400, {0xF8B0, 0x0950}, {0, 0, 0, 0}, 0ull}),
    caseName<CapacityCase>);

// ---------------------------------------------------------------------------------------
// Sector size

struct SectorSizeCase {
  const char* name;
  uint16_t word106;
  uint16_t word117;
  uint16_t word118;
  int32_t sectorSize;
};

class IdentifySectorSizeTest : public testing::TestWithParam<SectorSizeCase> {};

TEST_P(IdentifySectorSizeTest, FollowsWord106) {
  const SectorSizeCase& c = GetParam();
  uint8_t reply[512] = {};
  putWord(reply, 106, c.word106);
  putWord(reply, 117, c.word117);
  putWord(reply, 118, c.word118);
  DriveRecord record = scribbledRecord();
  parseIdentifyReply(reply, record, false);
  EXPECT_EQ(record.sectorSize, c.sectorSize);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, IdentifySectorSizeTest,
    testing::Values(SectorSizeCase{"NotReported", 0x0000, 0, 0, 512},
                    SectorSizeCase{"OneToOne", 0x4000, 0, 0, 512},
                    SectorSizeCase{"EightLogicalPerPhysical", 0x6003, 0, 0, 512},
                    SectorSizeCase{"EightPerPhysicalWordsIgnored", 0x6003, 256, 0, 512},
                    SectorSizeCase{"LongLogical7003", 0x7003, 256, 0, 4096},
                    SectorSizeCase{"LongLogical7000", 0x7000, 256, 0, 512},
                    SectorSizeCase{"FourKLogical", 0x7000, 2048, 0, 4096},
                    SectorSizeCase{"TwoPerPhysical520", 0x7001, 260, 0, 1040},
                    SectorSizeCase{"Word118IsHigh", 0x7000, 0, 1, 131072},
                    SectorSizeCase{"Bit15SetInvalid", 0xF003, 256, 0, 512},
                    SectorSizeCase{"Bit13Clear", 0x5003, 256, 0, 512},
                    SectorSizeCase{"Bit14Clear", 0x3003, 256, 0, 512},
                    SectorSizeCase{"NoLength", 0x7003, 0, 0, 0},
                    // 128 x FFFFFFFFh x 2 wraps to FFFFFF00h in the 32-bit field.
                    SectorSizeCase{"Nonsense", 0x7007, 0xFFFF, 0xFFFF, -256}),
    caseName<SectorSizeCase>);

// ---------------------------------------------------------------------------------------
// hybridFlags

constexpr uint32_t kUntouched = 0x80;  // what the record held before the parse

struct HybridCase {
  const char* name;
  uint16_t rotationRate;
  uint16_t word169;
  uint16_t word59;
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
    testing::Values(
        HybridCase{"Rpm7200Nothing", 7200, 0x0000, 0x0000, false, 0x0},
        HybridCase{"Rpm7200Trim", 7200, 0x0001, 0x0000, false, 0x1},
        HybridCase{"Rpm7200TrimSanitize", 7200, 0x0001, 0x5000, false, 0x5},
        HybridCase{"Rpm7200LogSanitize", 7200, 0x0000, 0x5000, true, 0x6},
        HybridCase{"Rpm7200Log", 7200, 0x0000, 0x0000, true, 0x2},
        HybridCase{"Rpm7200AllWithOtherBits", 7200, 0x4001, 0x5110, true, 0x7},
        HybridCase{"Rpm7200SanitizeAlone", 7200, 0x0000, 0x5000, false, 0x0},
        HybridCase{"Rpm7200Word59Bit12Only", 7200, 0x0001, 0x1000, true, 0x3},
        HybridCase{"Rpm7200Word59Bit14Only", 7200, 0x0001, 0x4000, true, 0x3},
        HybridCase{"Rpm7200Word59Bits12And15", 7200, 0x0001, 0x9000, false, 0x1},
        HybridCase{"Rpm7200Word169OtherBits", 7200, 0xFFFE, 0x5000, false, 0x0},
        HybridCase{"Rate0401Trim", 0x0401, 0x0001, 0x5000, false, 0x5},
        HybridCase{"Rate0401Nothing", 0x0401, 0x0000, 0x0000, false, 0x0},
        HybridCase{"RateFFFELog", 0xFFFE, 0x0000, 0x0000, true, 0x2},
        HybridCase{"Rate0400All", 0x0400, 0x0001, 0x5000, true, kUntouched},
        HybridCase{"Rate0400Nothing", 0x0400, 0x0000, 0x0000, false, kUntouched},
        HybridCase{"Rate1All", 0x0001, 0x0001, 0x5000, true, kUntouched},
        HybridCase{"Rate1Nothing", 0x0001, 0x0000, 0x0000, false, kUntouched},
        HybridCase{"Rate0All", 0x0000, 0x0001, 0x5000, true, kUntouched},
        HybridCase{"Rate0Nothing", 0x0000, 0x0000, 0x0000, false, kUntouched},
        HybridCase{"RateFFFFAll", 0xFFFF, 0x0001, 0x5000, true, kUntouched},
        HybridCase{"RateFFFFNothing", 0xFFFF, 0x0000, 0x0000, false, kUntouched}),
    caseName<HybridCase>);

// ---------------------------------------------------------------------------------------
// IDENTIFY DEVICE data log page 3

struct LogPageCase {
  const char* name;
  std::array<uint8_t, 8> header;        // bytes 0..7
  std::array<uint8_t, 8> capabilities;  // bytes 8..15
  bool capability;
};

// Revision 0001h, page 03h, bit 63 set: the header a conforming drive sends.
constexpr std::array<uint8_t, 8> kFullHeader = {0x01, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x80};
// Bit 50 of the capabilities field: bit 2 of byte 14.
constexpr std::array<uint8_t, 8> kBit50 = {0, 0, 0, 0, 0, 0, 0x04, 0};

class IdentifyLogPageTest : public testing::TestWithParam<LogPageCase> {};

TEST_P(IdentifyLogPageTest, ChecksHeaderAndCapabilityBit) {
  const LogPageCase& c = GetParam();
  uint8_t page[512] = {};
  std::memcpy(page, c.header.data(), 8);
  std::memcpy(page + 8, c.capabilities.data(), 8);
  EXPECT_EQ(identifyLogCapability(page), c.capability);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, IdentifyLogPageTest,
    testing::Values(
        LogPageCase{"FullHeader", kFullHeader, kBit50, true},
        LogPageCase{"RevisionBit0Only", {0x01, 0, 0, 0, 0, 0, 0, 0}, kBit50, true},
        LogPageCase{"PageNumberBit0Only", {0, 0, 0x01, 0, 0, 0, 0, 0}, kBit50, true},
        LogPageCase{"PageNumberBit1Only", {0, 0, 0x02, 0, 0, 0, 0, 0}, kBit50, true},
        LogPageCase{"Bit63Only", {0, 0, 0, 0, 0, 0, 0, 0x80}, kBit50, true},
        LogPageCase{"NoHeader", {0, 0, 0, 0, 0, 0, 0, 0}, kBit50, false},
        LogPageCase{"RevisionBit1Only", {0x02, 0, 0, 0, 0, 0, 0, 0}, kBit50, false},
        LogPageCase{"RevisionBit8Only", {0, 0x01, 0, 0, 0, 0, 0, 0}, kBit50, false},
        LogPageCase{"PageNumber4", {0, 0, 0x04, 0, 0, 0, 0, 0}, kBit50, false},
        LogPageCase{"Bit62Only", {0, 0, 0, 0, 0, 0, 0, 0x40}, kBit50, false},
        LogPageCase{"OtherHeaderBits", {0xFE, 0xFF, 0xFC, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, kBit50,
                    false},
        LogPageCase{"NoCapability", kFullHeader, {0, 0, 0, 0, 0, 0, 0, 0}, false},
        LogPageCase{"OtherCapabilities", kFullHeader, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFB, 0xFF},
                    false},
        LogPageCase{"Bit18OfLowHalf", kFullHeader, {0, 0, 0x04, 0, 0, 0, 0, 0}, false},
        LogPageCase{"AllCapabilities", kFullHeader,
                    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, true}),
    caseName<LogPageCase>);

// ---------------------------------------------------------------------------------------
// Word accessors the probe uses

TEST(IdentifyWordsTest, ReadsWordsTheProbeNeeds) {
  uint8_t reply[512] = {};
  // World wide name 5000CCA2 12345678h: NAA 5, organisation 000CCAh.
  putWord(reply, 108, 0x5000);
  putWord(reply, 109, 0xCCA2);
  putWord(reply, 110, 0x1234);
  putWord(reply, 111, 0x5678);
  putWord(reply, 82, 0x7469);
  putWord(reply, 133, 0x045E);
  putWord(reply, 169, 0x0001);
  putWord(reply, 217, 5400);
  EXPECT_EQ(identifyWorldWideName(reply), 0x5000CCA212345678ull);
  EXPECT_EQ(identifyWwnNaaAndOui(reply), 0x5000CCAu);
  EXPECT_TRUE(identifySmartSupported(reply));
  EXPECT_EQ(identifyVendorWord(reply), 0x045E);
  EXPECT_TRUE(identifyTrimSupported(reply));
  EXPECT_EQ(identifyRotationRate(reply), 5400);
  EXPECT_EQ(reply[2 * 108], 0x00);  // read only

  putWord(reply, 82, 0x7468);
  putWord(reply, 109, 0xCCB2);
  EXPECT_FALSE(identifySmartSupported(reply));
  EXPECT_EQ(identifyWwnNaaAndOui(reply), 0x5000CCBu);
}

TEST(IdentifyWordsTest, OutOfRangeWordsReadAsZero) {
  uint8_t reply[512];
  std::memset(reply, 0xFF, sizeof reply);
  const struct {
    int n;
    uint16_t value;
  } cases[] = {{-1, 0}, {256, 0}, {1000, 0}, {0, 0xFFFF}, {255, 0xFFFF}};
  for (const auto& c : cases) EXPECT_EQ(identifyWord(reply, c.n), c.value) << c.n;
  EXPECT_EQ(identifyDword(reply, 255), 0x0000FFFFu);
  EXPECT_EQ(identifyQword(reply, 254), 0x00000000FFFFFFFFull);
}

// ---------------------------------------------------------------------------------------
// storeReplyText, as the INQUIRY texts will use it too

struct StoreCase {
  const char* name;
  std::string source;
  size_t maxChars;
  TextTrim trim;
  size_t fieldSize;
  std::string stored;
};

class StoreReplyTextTest : public testing::TestWithParam<StoreCase> {};

TEST_P(StoreReplyTextTest, CopiesWithinBounds) {
  const StoreCase& c = GetParam();
  // Guard bytes either side of the field catch a write outside it.
  std::vector<char> buffer(c.fieldSize + 2, '#');
  char* field = buffer.data() + 1;
  std::vector<uint8_t> source(c.source.begin(), c.source.end());
  storeReplyText(source.data(), source.size(), c.maxChars, c.trim, field, c.fieldSize);
  EXPECT_EQ(buffer.front(), '#');
  EXPECT_EQ(buffer.back(), '#');
  EXPECT_EQ(field[c.fieldSize - 1], '\0');
  EXPECT_EQ(std::string(field), c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StoreReplyTextTest,
    testing::Values(
        StoreCase{"TrimBoth", "  VH  ", 6, TextTrim::Both, 12, "VH"},
        StoreCase{"TrimEnd", "  VH  ", 6, TextTrim::End, 12, "  VH"},
        StoreCase{"MaxCharsCuts", "ABCDEFGHIJ", 4, TextTrim::Both, 12, "ABCD"},
        StoreCase{"MaxCharsThenTrim", "ABC DEFG", 4, TextTrim::Both, 12, "ABC"},
        StoreCase{"FieldCuts", "ABCDEFGHIJ", 10, TextTrim::Both, 5, "ABCD"},
        StoreCase{"ShortSource", "AB", 40, TextTrim::Both, 41, "AB"},
        StoreCase{"ZeroEnds", "AB\0CD"s, 5, TextTrim::End, 12, "AB"},
        StoreCase{"OneByteField", "ABC", 3, TextTrim::Both, 1, ""}),
    caseName<StoreCase>);

// ---------------------------------------------------------------------------------------
// parseIdentify on a simulated drive

// IDENTIFY DEVICE data log page 3 as a drive writes it: header, then capabilities.
sim::Page logPage(std::array<uint8_t, 8> header, std::array<uint8_t, 8> capabilities) {
  sim::Page page{};
  std::memcpy(page.data(), header.data(), 8);
  std::memcpy(page.data() + 8, capabilities.data(), 8);
  return page;
}

// A rotating drive with TRIM, sanitize overwrite and the general purpose log feature set.
void buildRotatingReply(uint8_t (&reply)[512], uint16_t rotationRate) {
  std::memset(reply, 0, 512);
  putAtaString(reply, 27, padded("VARNHOLT VH5K500", 40));
  putAtaString(reply, 10, padded("VN1X0001", 20));
  putAtaString(reply, 23, "A1B2C3D4");
  putWord(reply, 59, 0x5000);
  putWord(reply, 84, 0x0020);   // general purpose logging supported
  putWord(reply, 86, 0x0400);
  putWord(reply, 100, 0x6030);  // 976,773,168 sectors (3A386030h): 500 GB
  putWord(reply, 101, 0x3A38);
  putWord(reply, 169, 0x0001);
  putWord(reply, 217, rotationRate);
}

struct SimFixture {
  std::unique_ptr<sim::SimPlatform> platform;
  Handle handle = INVALID_HANDLE_VALUE;
};

SimFixture openDrive(const uint8_t (&reply)[512], std::optional<sim::Page> page) {
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

  SimFixture fixture;
  fixture.platform = std::make_unique<sim::SimPlatform>(std::move(machine));
  fixture.handle =
      fixture.platform->createFile("\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  return fixture;
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
  SimFixture fixture = openDrive(reply, c.page);
  ASSERT_NE(fixture.handle, INVALID_HANDLE_VALUE);
  sim::SimPlatform& platform = *fixture.platform;
  if (c.fault != Fault::None) {
    sim::SimFault fault;
    fault.kind = c.fault == Fault::RequestFails ? sim::SimFault::Kind::FailRequest
                                                : sim::SimFault::Kind::AtaError;
    fault.drive = 0;
    fault.command = 0x2F;
    platform.injectFault(fault);
  }
  platform.clearLog();

  DriveRecord record{};
  record.busType = c.busType;
  EXPECT_EQ(parseIdentify(platform, fixture.handle, reply, record), c.rotationRate);

  EXPECT_EQ(record.hybridFlags, c.hybridFlags);
  EXPECT_EQ(readLogRequests(platform).size(), c.readLogRequests);
  EXPECT_STREQ(record.model, "VARNHOLT VH5K500");
  EXPECT_EQ(record.totalSectors, 976773168ull);
  platform.closeHandle(fixture.handle);
}

const sim::Page kCapablePage = logPage(kFullHeader, kBit50);

INSTANTIATE_TEST_SUITE_P(
    Drives, ParseIdentifySimTest,
    testing::Values(
        SimCase{"SataCapable", 11, 7200, kCapablePage, Fault::None, 0x7, 1},
        SimCase{"AtaCapable", 3, 5400, kCapablePage, Fault::None, 0x7, 1},
        SimCase{"MakerSataCapable", 83, 7200, kCapablePage, Fault::None, 0x7, 1},
        SimCase{"BusQueryFailedCapable", -1, 7200, kCapablePage, Fault::None, 0x7, 1},
        SimCase{"RevisionBit0Only", 11, 7200, logPage({0x01, 0, 0, 0, 0, 0, 0, 0}, kBit50),
                Fault::None, 0x7, 1},
        SimCase{"PageNumberLowBitsOnly", 11, 7200, logPage({0, 0, 0x03, 0, 0, 0, 0, 0}, kBit50),
                Fault::None, 0x7, 1},
        SimCase{"Bit63Only", 11, 7200, logPage({0, 0, 0, 0, 0, 0, 0, 0x80}, kBit50), Fault::None,
                0x7, 1},
        SimCase{"HeaderInvalid", 11, 7200, logPage({0, 0, 0, 0, 0, 0, 0, 0}, kBit50), Fault::None,
                0x5, 1},
        SimCase{"NoCapability", 11, 7200, logPage(kFullHeader, {}), Fault::None, 0x5, 1},
        SimCase{"NoLogPage", 11, 7200, std::nullopt, Fault::None, 0x5, 1},
        SimCase{"ReadLogRequestFails", 11, 7200, kCapablePage, Fault::RequestFails, 0x5, 1},
        SimCase{"ReadLogAborted", 11, 7200, kCapablePage, Fault::DriveAborts, 0x5, 1},
        SimCase{"UsbSendsNothing", 7, 7200, kCapablePage, Fault::None, 0x5, 0},
        SimCase{"SolidStateSendsNothing", 11, 1, kCapablePage, Fault::None, 0x0, 0},
        SimCase{"RateFFFFSendsNothing", 11, 0xFFFF, kCapablePage, Fault::None, 0x0, 0},
        SimCase{"Rate0400SendsNothing", 11, 0x0400, kCapablePage, Fault::None, 0x0, 0}),
    caseName<SimCase>);

TEST(ParseIdentifySim, ReadLogExtRegisters) {
  uint8_t reply[512];
  buildRotatingReply(reply, 7200);
  SimFixture fixture = openDrive(reply, kCapablePage);
  ASSERT_NE(fixture.handle, INVALID_HANDLE_VALUE);
  DriveRecord record{};
  record.busType = 11;
  parseIdentify(*fixture.platform, fixture.handle, reply, record);

  const std::vector<sim::SimRequest> requests = readLogRequests(*fixture.platform);
  ASSERT_EQ(requests.size(), 1u);
  const std::vector<uint8_t>& in = requests[0].input;
  // features, count, LBA low (log 30h), LBA mid (page 3), LBA high, device, command.
  const uint8_t current[7] = {0x00, 0x01, 0x30, 0x03, 0x00, 0xA0, 0x2F};
  const uint8_t previous[7] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(in[kCurrentTaskAt + i], current[i]) << "current task file byte " << i;
    EXPECT_EQ(in[kPreviousTaskAt + i], previous[i]) << "previous task file byte " << i;
  }
  const uint16_t flags = static_cast<uint16_t>(in[kFlagsAt] | (in[kFlagsAt + 1] << 8));
  EXPECT_EQ(flags & 0x0E, 0x0A) << "data in, 48-bit, not data out";
  EXPECT_EQ(in[kTransferLengthAt] | (in[kTransferLengthAt + 1] << 8), 512);
  EXPECT_EQ(in[kTimeoutAt], 30);
  EXPECT_TRUE(requests[0].ok);
  fixture.platform->closeHandle(fixture.handle);
}

TEST(ParseIdentifySim, SwapsTheReplyInPlace) {
  uint8_t reply[512];
  buildRotatingReply(reply, 0);
  uint8_t original[512];
  std::memcpy(original, reply, sizeof reply);
  SimFixture fixture = openDrive(reply, std::nullopt);
  ASSERT_NE(fixture.handle, INVALID_HANDLE_VALUE);
  DriveRecord record{};
  record.busType = 11;
  parseIdentify(*fixture.platform, fixture.handle, reply, record);

  // "VA" of "VARNHOLT" now reads in order; serial and firmware turned the same way.
  EXPECT_EQ(reply[54], 'V');
  EXPECT_EQ(reply[55], 'A');
  EXPECT_EQ(reply[20], 'V');
  EXPECT_EQ(reply[21], 'N');
  EXPECT_EQ(reply[46], 'A');
  EXPECT_EQ(reply[47], '1');
  // Every byte of the three text areas is swapped with its neighbour, nothing else moves.
  for (size_t i = 0; i < 512; ++i) {
    const bool text = (i >= 20 && i < 40) || (i >= 46 && i < 54) || (i >= 54 && i < 94);
    const size_t from = text ? (i ^ 1u) : i;
    EXPECT_EQ(reply[i], original[from]) << "byte " << i;
  }
  // Parsing the swapped reply again gives the texts turned back: a reply is parsed once.
  DriveRecord again{};
  parseIdentifyReply(reply, again, false);
  EXPECT_STREQ(again.model, "AVNROHTLV 5H5K00");
  fixture.platform->closeHandle(fixture.handle);
}

}  // namespace
}  // namespace palvoro
