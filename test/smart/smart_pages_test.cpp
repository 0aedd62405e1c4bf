#include "smart/smart_pages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device/scsi_transport.h"
#include "smart/smart_test_support.h"

namespace palvoro {
namespace {

using smarttest::Attr;
using smarttest::dataPage;
using smarttest::Page;
using smarttest::place;
using smarttest::Thr;
using smarttest::thresholdPage;

SmartPage view(const Page& page) { return SmartPage(page.data(), page.size()); }

// Entry 1 written at bytes 14..18 by hand, not through the page builder.
TEST(SmartPageLayout, AttributeEntryFieldsAtTheirBytes) {
  Page page{};
  page[14] = 0xC2;  // ID
  page[15] = 0x22;  // flags, low byte
  page[16] = 0x01;  // flags, high byte
  page[17] = 0x64;  // current
  page[18] = 0x2D;  // worst
  const SmartAttribute a = smartAttribute(view(page), 1);
  EXPECT_EQ(a.id, 0xC2);
  EXPECT_EQ(a.flags, 0x0122);
  EXPECT_EQ(a.current, 100);
  EXPECT_EQ(a.worst, 45);
  EXPECT_FALSE(a.preFailure());  // bit 0 of 0122h is clear
}

TEST(SmartPageLayout, LastEntryEndsAtByte361) {
  Page page{};
  page[350] = 0x05;
  page[351] = 0x33;
  page[353] = 0x0A;
  page[354] = 0x09;
  const SmartAttribute a = smartAttribute(view(page), 29);
  EXPECT_EQ(a.id, 5);
  EXPECT_EQ(a.flags, 0x0033);
  EXPECT_TRUE(a.preFailure());
  EXPECT_EQ(a.current, 10);
  EXPECT_EQ(a.worst, 9);
}

TEST(SmartPageLayout, ThresholdEntryFieldsAtTheirBytes) {
  Page page{};
  page[26] = 0xBB;  // entry 2: ID
  page[27] = 0x61;  // threshold
  const SmartThreshold t = smartThreshold(view(page), 2);
  EXPECT_EQ(t.id, 0xBB);
  EXPECT_EQ(t.threshold, 0x61);
}

TEST(SmartPageLayout, IndexOutsideTheThirtyEntriesReadsEmpty) {
  Page page;
  page.fill(0xFF);
  for (int index : {-1, 30, 31, 1000}) {
    const SmartAttribute a = smartAttribute(view(page), index);
    EXPECT_EQ(a.id, 0) << index;
    EXPECT_EQ(a.flags, 0) << index;
    EXPECT_EQ(smartThreshold(view(page), index).threshold, 0) << index;
  }
}

TEST(SmartPageLayout, PageOffsetsOfThePaths) {
  uint8_t buffer[528] = {};
  buffer[0] = 0xAA;
  buffer[16] = 0xBB;
  EXPECT_EQ(smartPageAt(buffer, 0)[0], 0xAA);
  EXPECT_EQ(smartPageAt(buffer, 16)[0], 0xBB);
  EXPECT_EQ(smartPageAt(buffer, 16).data(), buffer + 16);
  // An offset no path uses cannot push the page past the buffer.
  EXPECT_EQ(smartPageAt(buffer, 100).data(), buffer + 16);
}

// One pre-failure or advisory attribute in entry 0 against one threshold.
struct RuleCase {
  const char* name;
  uint16_t flags;
  uint8_t current;
  uint8_t worst;
  uint8_t threshold;
  bool fails;
};

constexpr RuleCase kRuleCases[] = {
    {"worst reached threshold, current recovered", 0x0033, 100, 45, 45, true},
    {"current at threshold", 0x0033, 45, 100, 45, true},
    {"current below threshold", 0x0033, 30, 100, 45, true},
    {"both one above threshold", 0x0033, 46, 46, 45, false},
    {"healthy", 0x0033, 100, 100, 36, false},
    {"threshold 0, values above 0", 0x0033, 1, 1, 0, false},
    {"threshold 0, current 0", 0x0033, 0, 100, 0, true},
    {"threshold 0, worst 0", 0x0033, 100, 0, 0, true},
    {"advisory below threshold", 0x0032, 10, 10, 50, false},
    {"advisory at threshold 0 with value 0", 0x0000, 0, 0, 0, false},
    {"only bit 1 set", 0x0002, 10, 10, 50, false},
    {"only a high-byte bit set", 0x0100, 10, 10, 50, false},
    {"bit 0 with every other bit", 0xFFFF, 10, 10, 50, true},
    {"threshold FFh", 0x0001, 254, 254, 255, true},
    {"values FFh, threshold FEh", 0x0001, 255, 255, 254, false},
};

TEST(SmartFailureRule, SingleAttribute) {
  for (const RuleCase& c : kRuleCases) {
    SCOPED_TRACE(c.name);
    const Page data = dataPage({Attr{0, 0x05, c.flags, c.current, c.worst}});
    const Page thresholds = thresholdPage({Thr{0, 0x05, c.threshold}});
    EXPECT_EQ(firstFailedAttribute(view(data), view(thresholds)), c.fails ? 0 : -1);
  }
}

TEST(SmartFailureRule, EmptyPagesPass) {
  const Page empty{};
  EXPECT_EQ(firstFailedAttribute(view(empty), view(empty)), -1);
}

// Threshold entries in another order than the data entries are still paired by
// position, never by ID.
TEST(SmartFailureRule, ThresholdsPairedByPosition) {
  const Page data = dataPage({Attr{0, 0x05, 0x0033, 100, 100}, Attr{1, 0x09, 0x0033, 50, 50}});
  // By ID, attribute 9 (value 50) would meet threshold 60 and fail; by position it meets 10.
  const Page shuffled = thresholdPage({Thr{0, 0x09, 60}, Thr{1, 0x05, 10}});
  EXPECT_EQ(firstFailedAttribute(view(data), view(shuffled)), -1);
  // By ID attribute 9 would meet threshold 10 and pass; by position it meets 60.
  const Page swapped = thresholdPage({Thr{0, 0x09, 10}, Thr{1, 0x05, 60}});
  EXPECT_EQ(firstFailedAttribute(view(data), view(swapped)), 1);
}

TEST(SmartFailureRule, FirstFailedEntryIsReported) {
  const Page data = dataPage({Attr{3, 0x01, 0x0001, 100, 100}, Attr{7, 0x02, 0x0001, 10, 10},
                              Attr{20, 0x03, 0x0001, 5, 5}});
  const Page thresholds = thresholdPage({Thr{3, 1, 50}, Thr{7, 2, 50}, Thr{20, 3, 50}});
  EXPECT_EQ(firstFailedAttribute(view(data), view(thresholds)), 7);
}

TEST(SmartFailureRule, LastEntryIsJudged) {
  const Page data = dataPage({Attr{29, 0xC5, 0x0001, 20, 20}});
  const Page thresholds = thresholdPage({Thr{29, 0xC5, 20}});
  EXPECT_EQ(firstFailedAttribute(view(data), view(thresholds)), 29);
}

// Bytes beyond the 30 entries (362..511: offline data, checksum) are not entries.
TEST(SmartFailureRule, BytesBehindTheEntriesAreIgnored) {
  Page data{};
  Page thresholds{};
  for (size_t i = 362; i < 512; ++i) {
    data[i] = 0x01;
    thresholds[i] = 0xFF;
  }
  EXPECT_EQ(firstFailedAttribute(view(data), view(thresholds)), -1);
}

// The drive-level rule looks at flags only, so an entry with ID 0 but the pre-failure
// bit set is judged; the window only lists and judges entries with an ID.
TEST(SmartFailureRule, EntryWithoutIdIsJudgedByTheCheck) {
  const Page data = dataPage({Attr{4, 0x00, 0x0001, 10, 10}});
  const Page thresholds = thresholdPage({Thr{4, 0x00, 20}});
  EXPECT_EQ(firstFailedAttribute(view(data), view(thresholds)), 4);
}

// --- The SMART window's verdict ---

DriveRecord recordOf(int32_t driveClass) {
  DriveRecord r;
  std::memset(&r, 0, sizeof r);
  r.driveClass = driveClass;
  r.busType = kBusSata;
  r.smartHealthy = 1;
  r.raidMemberBHealthy = 1;
  return r;
}

const Page kHealthyData = dataPage({Attr{0, 0x05, 0x0033, 100, 100}, Attr{1, 0x09, 0x0032, 98, 98}});
const Page kHealthyThresholds = thresholdPage({Thr{0, 0x05, 36}, Thr{1, 0x09, 0}});
const Page kFailingData = dataPage({Attr{0, 0x05, 0x0033, 100, 45}, Attr{1, 0x09, 0x0032, 98, 98}});
const Page kFailingThresholds = thresholdPage({Thr{0, 0x05, 45}, Thr{1, 0x09, 0}});

SmartPages driverPages(const Page& data, const Page& thresholds) {
  SmartPages p;
  p.pageOffset = 16;
  place(p.data, data, 16);
  place(p.thresholds, thresholds, 16);
  return p;
}

void expectPassRow(const SmartVerdict& v) {
  EXPECT_TRUE(v.passing);
  EXPECT_EQ(v.row, SmartRowChange::Pass);
  ASSERT_NE(v.smartColumnText, nullptr);
  EXPECT_STREQ(v.smartColumnText, " PASS");
  EXPECT_EQ(v.image, 5);
  EXPECT_EQ(v.textColour, (RgbColour{0, 0, 255}));
}

void expectFailRow(const SmartVerdict& v) {
  EXPECT_FALSE(v.passing);
  EXPECT_EQ(v.row, SmartRowChange::Fail);
  ASSERT_NE(v.smartColumnText, nullptr);
  EXPECT_STREQ(v.smartColumnText, " FAIL");
  EXPECT_EQ(v.image, 6);
  EXPECT_EQ(v.textColour, (RgbColour{255, 0, 0}));
}

TEST(SmartVerdictTest, HealthyDrivePasses) {
  DriveRecord r = recordOf(kDriveClassAta);
  r.smartHealthy = 0;  // detection thought otherwise; the window's read wins
  const SmartVerdict v = smartDialogVerdict(r, driverPages(kHealthyData, kHealthyThresholds), kRaidMemberA);
  EXPECT_FALSE(v.anyFailed);
  EXPECT_EQ(v.smartHealthy, 1);
  expectPassRow(v);
  applySmartVerdict(r, v);
  EXPECT_EQ(r.smartHealthy, 1);
}

TEST(SmartVerdictTest, WorstAtThresholdFailsTheDrive) {
  DriveRecord r = recordOf(kDriveClassUsb);
  const SmartVerdict v = smartDialogVerdict(r, driverPages(kFailingData, kFailingThresholds), kRaidMemberA);
  EXPECT_TRUE(v.anyFailed);
  EXPECT_EQ(v.smartHealthy, 0);
  EXPECT_EQ(v.raidMemberBHealthy, 1);  // not an enclosure: left as it was
  expectFailRow(v);
  applySmartVerdict(r, v);
  EXPECT_EQ(r.smartHealthy, 0);
  EXPECT_EQ(r.raidMemberBHealthy, 1);
}

TEST(SmartVerdictTest, CarrierPagesAtByteZero) {
  SmartPages p;
  p.pageOffset = 0;
  place(p.data, kFailingData, 0);
  place(p.thresholds, kFailingThresholds, 0);
  const SmartVerdict v = smartDialogVerdict(recordOf(kDriveClassUsb), p, kRaidMemberA);
  EXPECT_TRUE(v.anyFailed);
}

// Unlisted entries (ID 0) do not count for the window, even with the pre-failure bit.
TEST(SmartVerdictTest, UnlistedEntryDoesNotFailTheWindow) {
  const Page data = dataPage({Attr{0, 0x05, 0x0033, 100, 100}, Attr{1, 0x00, 0x0001, 10, 10}});
  const Page thresholds = thresholdPage({Thr{0, 0x05, 36}, Thr{1, 0x00, 50}});
  const SmartVerdict v = smartDialogVerdict(recordOf(kDriveClassAta), driverPages(data, thresholds), kRaidMemberA);
  EXPECT_FALSE(v.anyFailed);
  expectPassRow(v);
}

TEST(SmartVerdictTest, SecondUnitFailingFailsTheDualUnitDrive) {
  DriveRecord r = recordOf(kDriveClassAta);
  r.primaryUnit = 2;
  SmartPages p = driverPages(kHealthyData, kHealthyThresholds);
  place(p.secondData, kFailingData, 16);
  place(p.secondThresholds, kFailingThresholds, 16);
  p.secondUnitRead = true;
  const SmartVerdict v = smartDialogVerdict(r, p, kRaidMemberA);
  EXPECT_TRUE(v.anyFailed);
  EXPECT_EQ(v.smartHealthy, 0);
  expectFailRow(v);
}

TEST(SmartVerdictTest, SecondUnitPagesCountOnlyWhenRead) {
  SmartPages p = driverPages(kHealthyData, kHealthyThresholds);
  place(p.secondData, kFailingData, 16);
  place(p.secondThresholds, kFailingThresholds, 16);
  p.secondUnitRead = false;
  const SmartVerdict v = smartDialogVerdict(recordOf(kDriveClassAta), p, kRaidMemberA);
  EXPECT_FALSE(v.anyFailed);
  expectPassRow(v);
}

TEST(SmartVerdictTest, FirstUnitFailingFailsTheDualUnitDrive) {
  SmartPages p = driverPages(kFailingData, kFailingThresholds);
  place(p.secondData, kHealthyData, 16);
  place(p.secondThresholds, kHealthyThresholds, 16);
  p.secondUnitRead = true;
  const SmartVerdict v = smartDialogVerdict(recordOf(kDriveClassAta), p, kRaidMemberA);
  expectFailRow(v);
}

// The enclosure: the chosen member's field takes the verdict; the row passes only when
// both members are good; a failing enclosure changes the row only in states 0 and 6.
struct RaidCase {
  const char* name;
  uint8_t member;
  bool pagesFail;
  int32_t aBefore;
  int32_t bBefore;
  int32_t raidState;
  int32_t aAfter;
  int32_t bAfter;
  SmartRowChange row;
};

constexpr RaidCase kRaidCases[] = {
    {"A passes, B good", 0xA0, false, 0, 1, 0, 1, 1, SmartRowChange::Pass},
    {"B passes, A good", 0xB0, false, 1, 0, 0, 1, 1, SmartRowChange::Pass},
    {"A fails, healthy state", 0xA0, true, 1, 1, 0, 0, 1, SmartRowChange::Fail},
    {"B fails, healthy state", 0xB0, true, 1, 1, 0, 1, 0, SmartRowChange::Fail},
    {"B fails, rebuilding", 0xB0, true, 1, 1, 6, 1, 0, SmartRowChange::Fail},
    {"A passes, B bad, healthy state", 0xA0, false, 0, 0, 0, 1, 0, SmartRowChange::Fail},
    {"A passes, B bad, degraded", 0xA0, false, 1, 0, 5, 1, 0, SmartRowChange::Unchanged},
    {"A fails, not configured", 0xA0, true, 1, 1, 1, 0, 1, SmartRowChange::Unchanged},
    {"A fails, unknown setting", 0xA0, true, 1, 1, 2, 0, 1, SmartRowChange::Unchanged},
    {"B fails, setting mismatched", 0xB0, true, 1, 1, 3, 1, 0, SmartRowChange::Unchanged},
    {"A fails, bad", 0xA0, true, 1, 1, 4, 0, 1, SmartRowChange::Unchanged},
    {"B fails, rebuilding failed", 0xB0, true, 1, 1, 7, 1, 0, SmartRowChange::Unchanged},
    {"A fails, status unreadable", 0xA0, true, 1, 1, 8, 0, 1, SmartRowChange::Unchanged},
    {"B passes in a degraded enclosure", 0xB0, false, 1, 0, 5, 1, 1, SmartRowChange::Pass},
};

TEST(SmartVerdictTest, RaidEnclosureMembers) {
  for (const RaidCase& c : kRaidCases) {
    SCOPED_TRACE(c.name);
    DriveRecord r = recordOf(kDriveClassRaid);
    r.busType = kBusUsb;
    r.smartHealthy = c.aBefore;
    r.raidMemberBHealthy = c.bBefore;
    r.raidState = c.raidState;
    SmartPages p;
    p.pageOffset = 0;
    place(p.data, c.pagesFail ? kFailingData : kHealthyData, 0);
    place(p.thresholds, c.pagesFail ? kFailingThresholds : kHealthyThresholds, 0);
    const SmartVerdict v = smartDialogVerdict(r, p, c.member);
    EXPECT_EQ(v.smartHealthy, c.aAfter);
    EXPECT_EQ(v.raidMemberBHealthy, c.bAfter);
    EXPECT_EQ(v.row, c.row);
    if (c.row == SmartRowChange::Pass) expectPassRow(v);
    if (c.row == SmartRowChange::Fail) expectFailRow(v);
    if (c.row == SmartRowChange::Unchanged) {
      EXPECT_EQ(v.smartColumnText, nullptr);
      EXPECT_FALSE(v.passing);
    }
    applySmartVerdict(r, v);
    EXPECT_EQ(r.smartHealthy, c.aAfter);
    EXPECT_EQ(r.raidMemberBHealthy, c.bAfter);
  }
}

// The RAID state only matters for the enclosure.
TEST(SmartVerdictTest, RaidStateIgnoredForOtherDrives) {
  DriveRecord r = recordOf(kDriveClassUsb);
  r.raidState = 5;
  const SmartVerdict v = smartDialogVerdict(r, driverPages(kFailingData, kFailingThresholds), kRaidMemberA);
  expectFailRow(v);
}

}  // namespace
}  // namespace palvoro
