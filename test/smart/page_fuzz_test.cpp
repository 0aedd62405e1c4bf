// Arbitrary bytes as SMART data and threshold pages, arbitrary IDs and table selectors:
// the rule, the verdict and the name lookup stay inside their buffers (the sanitizer
// build checks that) and give answers consistent with the rule's definition.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "device/device_test_support.h"
#include "device/drive_requests.h"
#include "device/scsi_transport.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_platform.h"
#include "smart/attribute_names.h"
#include "smart/smart_pages.h"

namespace palvoro {
namespace {

using Random = std::mt19937;
using Page = std::array<uint8_t, 512>;

// Random pages, sometimes with many pre-failure entries and small thresholds, so both
// outcomes of the rule are common.
Page randomPage(Random& random, bool thresholds) {
  Page page;
  for (uint8_t& b : page) b = static_cast<uint8_t>(random() & 0xFF);
  if (random() % 2 == 0) {
    for (int i = 0; i < 30; ++i) {
      const size_t at = 2 + 12 * static_cast<size_t>(i);
      if (thresholds) {
        page[at + 1] = static_cast<uint8_t>(random() % 8);
      } else {
        page[at + 1] = static_cast<uint8_t>(page[at + 1] & (random() % 8 == 0 ? 0xFF : 0xFE));
        page[at + 3] = static_cast<uint8_t>(random() % 4 == 0 ? random() % 8 : page[at + 3]);
      }
    }
  }
  return page;
}

SmartPage view(const Page& p) { return SmartPage(p.data(), p.size()); }

// The rule's definition, entry by entry, read from the bytes.
bool entryFails(const Page& data, const Page& thresholds, int i) {
  const size_t at = 2 + 12 * static_cast<size_t>(i);
  const bool preFailure = (data[at + 1] & 0x01) != 0;
  const uint8_t threshold = thresholds[at + 1];
  return preFailure && (threshold >= data[at + 3] || threshold >= data[at + 4]);
}

TEST(PageFuzz, FailureRuleOnArbitraryPages) {
  Random random(0x5A47u);
  int failures = 0;
  for (int iteration = 0; iteration < 4000; ++iteration) {
    const Page data = randomPage(random, false);
    const Page thresholds = randomPage(random, true);
    const int first = firstFailedAttribute(view(data), view(thresholds));
    ASSERT_GE(first, -1);
    ASSERT_LT(first, 30);
    for (int i = 0; i < (first < 0 ? 30 : first); ++i) {
      ASSERT_FALSE(entryFails(data, thresholds, i)) << "iteration " << iteration << " entry " << i;
    }
    if (first >= 0) {
      ASSERT_TRUE(entryFails(data, thresholds, first)) << "iteration " << iteration;
      ++failures;
    }
  }
  // Both outcomes were exercised.
  EXPECT_GT(failures, 100);
  EXPECT_LT(failures, 3900);
}

TEST(PageFuzz, VerdictOnArbitraryPagesAndRecords) {
  Random random(0x7E4Du);
  for (int iteration = 0; iteration < 3000; ++iteration) {
    SmartPages pages;
    for (uint8_t* buffer : {pages.data, pages.thresholds, pages.secondData, pages.secondThresholds}) {
      for (size_t i = 0; i < kSmartBufferSize; ++i) buffer[i] = static_cast<uint8_t>(random() & 0xFF);
    }
    // Any offset, not only the two the paths use.
    pages.pageOffset = static_cast<uint32_t>(random() % 3 == 0 ? random() : (random() % 2) * 16);
    pages.secondUnitRead = (random() & 1) != 0;
    DriveRecord r;
    std::memset(&r, 0, sizeof r);
    r.driveClass = static_cast<int32_t>(random() % 8);
    r.raidState = static_cast<int32_t>(random() % 10) - 1;
    r.smartHealthy = static_cast<int32_t>(random() % 3);
    r.raidMemberBHealthy = static_cast<int32_t>(random() % 3);
    const uint8_t member = static_cast<uint8_t>(random() & 0xFF);
    const SmartVerdict v = smartDialogVerdict(r, pages, member);
    SCOPED_TRACE("iteration " + std::to_string(iteration));
    switch (v.row) {
      case SmartRowChange::Pass:
        ASSERT_NE(v.smartColumnText, nullptr);
        EXPECT_STREQ(v.smartColumnText, " PASS");
        EXPECT_TRUE(v.passing);
        break;
      case SmartRowChange::Fail:
        ASSERT_NE(v.smartColumnText, nullptr);
        EXPECT_STREQ(v.smartColumnText, " FAIL");
        EXPECT_FALSE(v.passing);
        break;
      case SmartRowChange::Unchanged:
        EXPECT_EQ(v.smartColumnText, nullptr);
        EXPECT_EQ(r.driveClass, kDriveClassRaid);
        break;
    }
    if (r.driveClass != kDriveClassRaid) {
      EXPECT_EQ(v.smartHealthy, v.anyFailed ? 0 : 1);
    }
  }
}

TEST(PageFuzz, NamesForAnyIdAndSelector) {
  Random random(0x4A3Eu);
  for (int iteration = 0; iteration < 5000; ++iteration) {
    const uint8_t id = static_cast<uint8_t>(random() & 0xFF);
    const int selector =
        random() % 3 == 0 ? static_cast<int>(random() >> 1) : static_cast<int>(random() % 8) - 2;
    const char* name = attributeName(id, selector);
    ASSERT_NE(name, nullptr);
    ASSERT_LT(std::strlen(name), 64u);
    if (selector < 0 || selector > 3) {
      EXPECT_STREQ(name, "Unknown");
    }
  }
}

// Arbitrary pages from a drive, through the driver path and a carrier: the check agrees
// with the rule applied to the same bytes.
TEST(PageFuzz, CheckAgreesWithTheRuleOverBothPaths) {
  Random random(0xC4ECu);
  for (int iteration = 0; iteration < 200; ++iteration) {
    SCOPED_TRACE("iteration " + std::to_string(iteration));
    const Page data = randomPage(random, false);
    const Page thresholds = randomPage(random, true);
    const int expected = firstFailedAttribute(view(data), view(thresholds)) < 0 ? 0 : 2;
    const bool carrier = (iteration & 1) != 0;
    devtest::DriveOptions options;
    sim::SimDrive d = devtest::makeDrive(options);
    d.transport = carrier ? sim::Transport::UsbSat : sim::Transport::Ata;
    sim::applyTransportDefaults(d);
    d.ata.units.at(0).smart.dataPage = data;
    d.ata.units.at(0).smart.thresholdPage = thresholds;
    sim::SimPlatform platform(devtest::machineWith({d}));
    const Handle h = openSmartPath(platform, 0, false);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(checkSmartAttributes(platform, 0, h, carrier ? kCarrierSat12 : -1, 0, false, kRaidMemberA), expected);
    platform.closeHandle(h);
  }
}

}  // namespace
}  // namespace palvoro
