// The simulated drive and driver: malformed records are refused as a driver refuses
// them, and the drive answers each command as a drive of its description would.

#include <gtest/gtest.h>

#include "support/case_name.h"

#include "platform/sim/sim_ata.h"
#include "sim_test_support.h"

namespace palvoro::sim::testing {
namespace {

using palvoro::testsupport::caseName;

constexpr std::array<uint8_t, 7> kIdentify = {0x00, 0x01, 0x01, 0x00, 0x00, 0xA0, 0xEC};
constexpr std::array<uint8_t, 7> kSmartStatus = {0xDA, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0};
constexpr std::array<uint8_t, 7> kSmartEnable = {0xD8, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0};
constexpr std::array<uint8_t, 7> kSmartRead = {0xD0, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0};
constexpr std::array<uint8_t, 7> kTrim = {0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x06};

struct RecordCase {
  const char* name;
  uint16_t flags;
  uint32_t transferLength;
  std::array<uint8_t, 7> current;
  uint32_t inSize;
  uint32_t outSize;
  void (*tweak)(RawAta&);
  uint32_t expectedError;  // 0: the request succeeds
};

void none(RawAta&) {}


const RecordCase kRecordCases[] = {
    {"identify as sent", 3, 512, kIdentify, 40, 552, none, 0},
    {"length field not 40", 3, 512, kIdentify, 40, 552, [](RawAta& r) { r.bytes[0] = 44; }, 87},
    {"input shorter than the header", 3, 512, kIdentify, 39, 552, none, 87},
    {"output shorter than the header", 1, 0, kSmartStatus, 40, 39, none, 122},
    {"data without a direction", 1, 512, kIdentify, 40, 552, none, 87},
    {"both directions", 7, 512, kIdentify, 552, 552, none, 87},
    {"data offset inside the header", 3, 512, kIdentify, 40, 552, [](RawAta& r) { r.put32(20, 8); }, 87},
    {"data in past the output buffer", 3, 512, kIdentify, 40, 551, none, 87},
    {"data out past the input buffer", 5, 512, {0xD6, 0x01, 0xE0, 0x4F, 0xC2, 0xA0, 0xB0}, 40, 40, none, 87},
    {"zero timeout", 1, 0, kSmartStatus, 40, 40, [](RawAta& r) { r.put32(12, 0); }, 87},
    {"unknown flag", 0x41, 0, kSmartStatus, 40, 40, none, 87},
    {"identify sent without data", 1, 0, kIdentify, 40, 40, none, 1117},
    {"identify marked DMA", 0x13, 512, kIdentify, 40, 552, none, 1117},
    {"TRIM sent as PIO", 13, 512, kTrim, 552, 40, none, 1117},
    {"non-data command asking for data", 3, 512, kSmartStatus, 40, 552, none, 1117},
    {"offset ignored without data", 1, 0, kSmartStatus, 40, 552, [](RawAta& r) { r.put32(20, 0); }, 0},
};

class RecordValidation : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordValidation, RefusesMalformedRecordsAsADriverDoes) {
  const RecordCase& c = GetParam();
  SimPlatform p(oneDriveMachine());
  const Handle h = openDrive(p);
  RawAta raw(c.flags, c.transferLength, c.current);
  c.tweak(raw);
  const bool ok = sendRaw(p, h, raw, c.inSize, c.outSize);
  if (c.expectedError == 0) {
    EXPECT_TRUE(ok);
  } else {
    EXPECT_FALSE(ok);
    EXPECT_EQ(p.lastError(), c.expectedError);
  }
  ASSERT_EQ(p.log().back().kind, SimRequest::Kind::Ioctl);
  EXPECT_EQ(p.log().back().ok, ok);
}

INSTANTIATE_TEST_SUITE_P(Records, RecordValidation, ::testing::ValuesIn(kRecordCases),
                         caseName<RecordCase>);

TEST(SimAta, IdentifyReturnsTheWordsAndTheWholeRecordLength) {
  SimPlatform p(oneDriveMachine(123456));
  const Handle h = openDrive(p);
  RawAta raw(3, 512, kIdentify);
  uint32_t returned = 0;
  ASSERT_TRUE(sendRaw(p, h, raw, 40, 552, &returned));
  EXPECT_EQ(returned, 552u);
  EXPECT_EQ(raw.status(), 0x50);
  // Model "TEST MODEL" starts at word 27, first character in the high byte.
  EXPECT_EQ(raw.data()[54], 'E');
  EXPECT_EQ(raw.data()[55], 'T');
  // Words 100..103 hold the count.
  EXPECT_EQ(raw.data()[200] | (raw.data()[201] << 8) | (raw.data()[202] << 16), 123456);
  // The integrity word makes the 512 bytes sum to zero.
  uint8_t sum = 0;
  for (int i = 0; i < 512; ++i) sum = static_cast<uint8_t>(sum + raw.data()[i]);
  EXPECT_EQ(sum, 0);
  EXPECT_EQ(raw.data()[510], 0xA5);
}

TEST(SimAta, RequestsNeedReadAndWriteAccessAndADriveHandle) {
  SimPlatform p(oneDriveMachine());
  const Handle readOnly = openDrive(p, 0, GENERIC_READ);
  RawAta raw(1, 0, kSmartStatus);
  EXPECT_FALSE(sendRaw(p, readOnly, raw, 40, 40));
  EXPECT_EQ(p.lastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(sendRaw(p, 0x7777, raw, 40, 40));
  EXPECT_EQ(p.lastError(), ERROR_INVALID_HANDLE);
}

struct SmartCase {
  const char* name;
  std::array<uint8_t, 7> current;
  void (*arrange)(SimMachine&);
  uint8_t status;
  uint8_t error;
  uint8_t lbaMid;
  uint8_t lbaHigh;
};

const SmartCase kSmartCases[] = {
    {"status of a healthy drive", kSmartStatus, [](SimMachine&) {}, 0x50, 0x00, 0x4F, 0xC2},
    {"status with a pre-failure attribute at its threshold", kSmartStatus,
     [](SimMachine& m) { m.drives[0].ata.units[0].smart.attributes[0].value = 16; }, 0x50, 0x00, 0xF4, 0x2C},
    {"advisory attribute below threshold is no failure", kSmartStatus,
     [](SimMachine& m) {
       m.drives[0].ata.units[0].smart.attributes[1].threshold = 99;
     },
     0x50, 0x00, 0x4F, 0xC2},
    {"wrong key aborts", {0xDA, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xB0}, [](SimMachine&) {}, 0x51, 0x04, 0x00, 0x00},
    {"disabled SMART aborts status", kSmartStatus,
     [](SimMachine& m) { m.drives[0].ata.units[0].smart.enabled = false; }, 0x51, 0x04, 0x4F, 0xC2},
    {"enable works while disabled", kSmartEnable,
     [](SimMachine& m) { m.drives[0].ata.units[0].smart.enabled = false; }, 0x50, 0x00, 0x4F, 0xC2},
    {"drive without SMART aborts", kSmartEnable,
     [](SimMachine& m) { m.drives[0].ata.units[0].identify[82] = 0; }, 0x51, 0x04, 0x4F, 0xC2},
    {"device 1 does not exist on the link", {0xDA, 0x00, 0x00, 0x4F, 0xC2, 0xB0, 0xB0}, [](SimMachine&) {}, 0x51,
     0x04, 0x4F, 0xC2},
    {"unknown command aborts", {0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xFF}, [](SimMachine&) {}, 0x51, 0x04, 0x00,
     0x00},
    {"diagnostic of a drive", {0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0x90}, [](SimMachine&) {}, 0x50, 0x01, 0x00,
     0x00},
    {"diagnostic of a bridge", {0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0x90},
     [](SimMachine& m) { m.drives[0].ata.bridgeSignature = true; }, 0x50, 0x01, 0xCD, 0xAB},
};

class DriveAnswers : public ::testing::TestWithParam<SmartCase> {};

TEST_P(DriveAnswers, AnswerAsTheDriveWould) {
  const SmartCase& c = GetParam();
  SimMachine m = oneDriveMachine();
  c.arrange(m);
  SimPlatform p(std::move(m));
  const Handle h = openDrive(p);
  RawAta raw(1, 0, c.current);
  ASSERT_TRUE(sendRaw(p, h, raw, 40, 40));
  EXPECT_EQ(raw.status(), c.status);
  EXPECT_EQ(raw.error(), c.error);
  EXPECT_EQ(raw.lbaMid(), c.lbaMid);
  EXPECT_EQ(raw.lbaHigh(), c.lbaHigh);
}

INSTANTIATE_TEST_SUITE_P(Commands, DriveAnswers, ::testing::ValuesIn(kSmartCases), caseName<SmartCase>);

TEST(SimAta, SmartDataPageLaysOutAttributesAndChecksum) {
  SimPlatform p(oneDriveMachine());
  const Handle h = openDrive(p);
  RawAta raw(3, 512, kSmartRead);
  ASSERT_TRUE(sendRaw(p, h, raw, 40, 552));
  const uint8_t* d = raw.data();
  const std::array<uint8_t, 12> first = {0x01, 0x0B, 0x00, 100, 100, 0, 0, 0, 0, 0, 0, 0};
  const std::array<uint8_t, 12> second = {0x09, 0x12, 0x00, 98, 98, 0xD2, 0x04, 0, 0, 0, 0, 0};
  EXPECT_TRUE(std::equal(first.begin(), first.end(), d + 2));
  EXPECT_TRUE(std::equal(second.begin(), second.end(), d + 14));
  uint8_t sum = 0;
  for (int i = 0; i < 512; ++i) sum = static_cast<uint8_t>(sum + d[i]);
  EXPECT_EQ(sum, 0);

  RawAta thresholds(3, 512, {0xD1, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0});
  ASSERT_TRUE(sendRaw(p, h, thresholds, 40, 552));
  EXPECT_EQ(thresholds.data()[2], 0x01);
  EXPECT_EQ(thresholds.data()[3], 16);
  EXPECT_EQ(thresholds.data()[14], 0x09);
}

TEST(SimAta, DualUnitDriveAnswersIdentifyPerUnitAndSingleDrivesIgnoreTheBit) {
  SimMachine m = oneDriveMachine(2000000);
  IdentityDescription second;
  second.model = "SECOND UNIT";
  second.sectors = 5000;
  m.drives[0].ata.units[2].identify = makeIdentify(second);
  m.drives[0].ata.units[2].media = SimMedia(5000, 512);
  SimMachine single = oneDriveMachine(2000000);
  SimPlatform dual(std::move(m));
  SimPlatform plain(std::move(single));

  for (auto* platform : {&dual, &plain}) {
    const Handle h = openDrive(*platform);
    RawAta a0(3, 512, kIdentify);
    RawAta a2(3, 512, {0x00, 0x01, 0x01, 0x00, 0x00, 0xA2, 0xEC});
    ASSERT_TRUE(sendRaw(*platform, h, a0, 40, 552));
    ASSERT_TRUE(sendRaw(*platform, h, a2, 40, 552));
    const bool same = std::equal(a0.data(), a0.data() + 512, a2.data());
    EXPECT_EQ(same, platform == &plain);
  }
}

TEST(SimAta, SctVendorSwitchChangesWhatIdentifyReports) {
  SimMachine m = oneDriveMachine(1000);
  m.drives[0].ata.sctVendorSwitch = true;
  IdentityDescription switched;
  switched.model = "SWITCHED";
  switched.sectors = 777;
  m.drives[0].ata.units[0].identifySwitched = makeIdentify(switched);
  SimPlatform p(std::move(m));
  const Handle h = openDrive(p);

  const auto sct = [&](uint8_t action0, uint8_t action1, uint8_t function) {
    RawAta raw(5, 512, {0xD6, 0x01, 0xE0, 0x4F, 0xC2, 0xA0, 0xB0});
    raw.data()[0] = action0;
    raw.data()[1] = action1;
    raw.data()[2] = function;
    EXPECT_TRUE(sendRaw(p, h, raw, 552, 40));
    return raw.status();
  };
  const auto sectors = [&] {
    RawAta raw(3, 512, kIdentify);
    EXPECT_TRUE(sendRaw(p, h, raw, 40, 552));
    return raw.data()[200] | (raw.data()[201] << 8);
  };
  EXPECT_EQ(sectors(), 1000);
  EXPECT_EQ(sct(0x13, 0xC0, 1), 0x50);
  EXPECT_EQ(sectors(), 777);
  EXPECT_EQ(sct(0x13, 0xC0, 0), 0x50);
  EXPECT_EQ(sectors(), 1000);
  EXPECT_EQ(sct(0xC0, 0x13, 1), 0x51);  // byte order matters: C013h is sent as 13 C0
  EXPECT_EQ(sct(0x13, 0xC0, 2), 0x51);
  EXPECT_EQ(sectors(), 1000);
}

TEST(SimAta, ReadLogExtDeliversPageThreeOnlyWhereTheDriveHasIt) {
  SimMachine m = oneDriveMachine();
  m.drives[0].ata.units[0].identifyLogPage3 = makeCapabilitiesPage(0x0004000000000000ull);
  SimPlatform p(std::move(m));
  SimPlatform without(oneDriveMachine());
  const std::array<uint8_t, 7> readLog = {0x00, 0x01, 0x30, 0x03, 0x00, 0xA0, 0x2F};

  RawAta raw(11, 512, readLog);
  ASSERT_TRUE(sendRaw(p, openDrive(p), raw, 40, 552));
  EXPECT_EQ(raw.status(), 0x50);
  EXPECT_EQ(raw.data()[7], 0x80);   // header bit 63
  EXPECT_EQ(raw.data()[2], 0x03);   // page number
  EXPECT_EQ(raw.data()[14], 0x04);  // capability bit 50

  RawAta page2(11, 512, {0x00, 0x01, 0x30, 0x02, 0x00, 0xA0, 0x2F});
  ASSERT_TRUE(sendRaw(p, openDrive(p), page2, 40, 552));
  EXPECT_EQ(page2.status(), 0x51);

  RawAta missing(11, 512, readLog);
  ASSERT_TRUE(sendRaw(without, openDrive(without), missing, 40, 552));
  EXPECT_EQ(missing.status(), 0x51);
  EXPECT_EQ(missing.data()[7], 0x00);
}

TEST(SimAta, ReadVerifyReportsTheFirstUnreadableSectorAndRange) {
  SimMachine m = oneDriveMachine(0x200000000ull);
  m.drives[0].ata.units[0].media.markUnreadable(0x100000005ull);
  SimPlatform p(std::move(m));
  const Handle h = openDrive(p);
  // LBA 1_0000_0000h, count 16: prev LBA low holds bits 24..31, prev mid bits 32..39.
  RawAta bad(9, 0, {0x00, 0x10, 0x00, 0x00, 0x00, 0x40, 0x42}, {0x00, 0x00, 0x00, 0x01, 0x00, 0, 0});
  ASSERT_TRUE(sendRaw(p, h, bad, 40, 40));
  EXPECT_EQ(bad.status(), 0x51);
  EXPECT_EQ(bad.error(), 0x40);
  EXPECT_EQ(bad.bytes[34], 0x05);  // LBA low of the failing sector
  EXPECT_EQ(bad.bytes[27], 0x01);  // prev LBA mid: bit 32

  // Without the 48-bit flag the high-order registers never reach the drive: sector 0.
  RawAta low(1, 0, {0x00, 0x10, 0x00, 0x00, 0x00, 0x40, 0x42}, {0x00, 0x00, 0x00, 0x01, 0x00, 0, 0});
  ASSERT_TRUE(sendRaw(p, h, low, 40, 40));
  EXPECT_EQ(low.status(), 0x50);

  RawAta beyond(9, 0, {0x00, 0x01, 0x00, 0x00, 0x00, 0x40, 0x42}, {0x00, 0x00, 0x00, 0x02, 0x00, 0, 0});
  ASSERT_TRUE(sendRaw(p, h, beyond, 40, 40));
  EXPECT_EQ(beyond.status(), 0x51);
  EXPECT_EQ(beyond.error(), 0x14);
}

TEST(SimAta, SanitizeBlockEraseNeedsItsSignatureAndErasesTheUnit) {
  SimMachine m = oneDriveMachine(1000);
  std::vector<uint8_t> sector(512, 0x5A);
  m.drives[0].ata.units[0].media.write(10, 1, sector.data());
  m.drives[0].ata.units[0].media.markUnreadable(20);
  SimPlatform p(std::move(m));
  const Handle h = openDrive(p);

  RawAta wrong(9, 0, {0x12, 0x00, 0x72, 0x45, 0x6B, 0x00, 0xB4}, {0x00, 0x00, 0x43, 0x00, 0x00, 0, 0});
  ASSERT_TRUE(sendRaw(p, h, wrong, 40, 40));
  EXPECT_EQ(wrong.status(), 0x51);
  EXPECT_EQ(p.drive(0).disk().storedSectors(), 1u);  // sector 10 is untouched

  RawAta erase(9, 0, {0x12, 0x00, 0x72, 0x45, 0x6B, 0x00, 0xB4}, {0x00, 0x00, 0x42, 0x00, 0x00, 0, 0});
  ASSERT_TRUE(sendRaw(p, h, erase, 40, 40));
  EXPECT_EQ(erase.status(), 0x50);
  EXPECT_EQ(p.drive(0).disk().storedSectors(), 0u);
  EXPECT_FALSE(p.drive(0).disk().isUnreadable(20));

  RawAta status(9, 0, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xB4});
  ASSERT_TRUE(sendRaw(p, h, status, 40, 40));
  EXPECT_EQ(status.status(), 0x50);
  EXPECT_EQ(status.bytes[25], 0x80);  // prev count: completed without error
}

TEST(SimAta, TrimAppliesEveryRangeOrNone) {
  SimMachine m = oneDriveMachine(100000);
  std::vector<uint8_t> sector(512, 0x11);
  for (uint64_t lba : {100ull, 101ull, 200ull, 300ull}) m.drives[0].ata.units[0].media.write(lba, 1, sector.data());
  SimPlatform p(std::move(m));
  const Handle h = openDrive(p);
  const auto entry = [](RawAta& raw, int i, uint64_t lba, uint16_t count) {
    for (int b = 0; b < 6; ++b) raw.data()[8 * i + b] = static_cast<uint8_t>(lba >> (8 * b));
    raw.data()[8 * i + 6] = static_cast<uint8_t>(count);
    raw.data()[8 * i + 7] = static_cast<uint8_t>(count >> 8);
  };

  RawAta outOfRange(29, 512, kTrim);
  entry(outOfRange, 0, 100, 2);
  entry(outOfRange, 1, 99999, 2);
  ASSERT_TRUE(sendRaw(p, h, outOfRange, 552, 40));
  EXPECT_EQ(outOfRange.status(), 0x51);
  EXPECT_TRUE(p.drive(0).disk().anyData(100, 2));

  RawAta ok(29, 512, kTrim);
  entry(ok, 0, 100, 2);
  entry(ok, 1, 0, 0);  // empty entries are passed over
  entry(ok, 2, 300, 1);
  ASSERT_TRUE(sendRaw(p, h, ok, 552, 40));
  EXPECT_EQ(ok.status(), 0x50);
  EXPECT_FALSE(p.drive(0).disk().anyData(100, 2));
  EXPECT_TRUE(p.drive(0).disk().anyData(200, 1));
  EXPECT_FALSE(p.drive(0).disk().anyData(300, 1));

  RawAta noTrimBit(29, 512, {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x06});
  ASSERT_TRUE(sendRaw(p, h, noTrimBit, 552, 40));
  EXPECT_EQ(noTrimBit.status(), 0x51);
  RawAta xl(29, 512, {0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x07});
  ASSERT_TRUE(sendRaw(p, h, xl, 552, 40));
  EXPECT_EQ(xl.status(), 0x51);  // this drive has no DATA SET MANAGEMENT XL
}

TEST(SimAta, InjectedFaultsFailRequestsOrSetErrForTheirCount) {
  SimPlatform p(oneDriveMachine());
  const Handle h = openDrive(p);
  SimFault fail;
  fail.kind = SimFault::Kind::FailRequest;
  fail.command = 0xB0;
  fail.features = 0xDA;
  fail.error = ERROR_GEN_FAILURE;
  fail.remaining = 1;
  p.injectFault(fail);
  SimFault err;
  err.kind = SimFault::Kind::AtaError;
  err.command = 0xB0;
  err.ataError = 0x04;
  err.remaining = 1;
  p.injectFault(err);

  RawAta first(1, 0, kSmartStatus);
  EXPECT_FALSE(sendRaw(p, h, first, 40, 40));
  EXPECT_EQ(p.lastError(), ERROR_GEN_FAILURE);
  RawAta second(1, 0, kSmartStatus);
  ASSERT_TRUE(sendRaw(p, h, second, 40, 40));
  EXPECT_EQ(second.status(), 0x51);
  RawAta third(1, 0, kSmartStatus);
  ASSERT_TRUE(sendRaw(p, h, third, 40, 40));
  EXPECT_EQ(third.status(), 0x50);
}

TEST(SimAta, AVanishedDriveFailsEveryRequestAndNoLongerOpens) {
  SimPlatform p(oneDriveMachine());
  const Handle h = openDrive(p);
  SimFault vanish;
  vanish.kind = SimFault::Kind::Vanish;
  p.injectFault(vanish);
  RawAta raw(1, 0, kSmartStatus);
  EXPECT_FALSE(sendRaw(p, h, raw, 40, 40));
  EXPECT_EQ(p.lastError(), ERROR_DEVICE_NOT_CONNECTED);
  uint8_t buffer[512];
  uint32_t got = 0;
  EXPECT_FALSE(p.readFile(h, buffer, 512, &got));
  EXPECT_EQ(openDrive(p), INVALID_HANDLE_VALUE);
  EXPECT_EQ(p.lastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(p.closeHandle(h));
}

}  // namespace
}  // namespace palvoro::sim::testing
