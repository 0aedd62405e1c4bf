#include "smart/self_test_log.h"

#include <gtest/gtest.h>

namespace palvoro {
namespace {

// A page written the way the drive lays it out: revision 1, descriptors of 24 bytes from
// byte 2, the index of the newest at 508, the checksum at 511 making the sum zero.
struct PageBuilder {
  std::array<uint8_t, 512> page{};
  PageBuilder() { page[0] = 1; }
  PageBuilder& at(size_t slot, uint8_t test, uint8_t statusByte, uint16_t hours, uint32_t lba) {
    uint8_t* d = page.data() + 2 + slot * 24;
    d[0] = test;
    d[1] = statusByte;
    d[2] = static_cast<uint8_t>(hours);
    d[3] = static_cast<uint8_t>(hours >> 8);
    d[5] = static_cast<uint8_t>(lba);
    d[6] = static_cast<uint8_t>(lba >> 8);
    d[7] = static_cast<uint8_t>(lba >> 16);
    d[8] = static_cast<uint8_t>(lba >> 24);
    return *this;
  }
  std::array<uint8_t, 512> done(uint8_t index) {
    page[508] = index;
    uint8_t sum = 0;
    for (size_t i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + page[i]);
    page[511] = static_cast<uint8_t>(0x100 - sum);
    return page;
  }
};

TEST(SelfTestLog, EntriesComeNewestFirstAroundTheRing) {
  // 22 tests written: the ring wrapped, the newest in slot 0 (index 1), the oldest kept in slot 1.
  PageBuilder b;
  for (size_t slot = 0; slot < 21; ++slot) b.at(slot, 0x01, 0x00, static_cast<uint16_t>(100 + slot), 0);
  b.at(0, 0x02, 0x73, 4321, 0xF0123456);  // extended, read failure, 30% left; LBA's top nibble is not LBA
  const SelfTestLog log = decodeSelfTestLog(b.done(1));
  EXPECT_TRUE(log.checksumValid);
  EXPECT_EQ(log.revision, 1);
  ASSERT_EQ(log.entries.size(), 21u);
  EXPECT_EQ(log.entries[0].test, 0x02);
  EXPECT_EQ(log.entries[0].status, 7);
  EXPECT_EQ(log.entries[0].remainingPercent, 30);
  EXPECT_EQ(log.entries[0].lifetimeHours, 4321);
  EXPECT_EQ(log.entries[0].failingLba, 0x00123456u);
  EXPECT_TRUE(log.entries[0].hasFailingLba());
  EXPECT_EQ(log.entries[1].lifetimeHours, 120);  // slot 20, then back down
  EXPECT_EQ(log.entries[20].lifetimeHours, 101);
  EXPECT_EQ(selfTestHints(log), std::vector<std::string>{
                                    "The drive's own last failed self-test (extended offline, at 4321 power-on "
                                    "hours) found a read failure at sector 1193046."});
}

TEST(SelfTestLog, AnEmptyOrUnwrittenLogHasNoEntries) {
  struct Case {
    const char* name;
    uint8_t index;
    size_t written;
    size_t entries;
  };
  for (const Case& c : {Case{"never written", 0, 0, 0}, Case{"index beyond the ring", 22, 3, 0},
                        Case{"three written", 3, 3, 3}, Case{"index at an empty slot", 5, 3, 0}}) {
    PageBuilder b;
    for (size_t slot = 0; slot < c.written; ++slot) b.at(slot, 0x01, 0x00, 10, 0);
    const SelfTestLog log = decodeSelfTestLog(b.done(c.index));
    EXPECT_EQ(log.entries.size(), c.entries) << c.name;
    EXPECT_TRUE(selfTestHints(log).empty()) << c.name;
  }
  std::array<uint8_t, 512> corrupt = PageBuilder().at(0, 0x01, 0x00, 10, 0).done(1);
  corrupt[100] ^= 0xFF;
  EXPECT_FALSE(decodeSelfTestLog(corrupt).checksumValid);
}

TEST(SelfTestLog, NamesAndStatusTexts) {
  EXPECT_EQ(selfTestName(0x81), "Short captive");
  EXPECT_EQ(selfTestName(0x40), "Vendor (40h)");
  EXPECT_EQ(selfTestStatusText(0), "Completed without error");
  EXPECT_EQ(selfTestStatusText(15), "In progress");
  EXPECT_EQ(selfTestStatusText(10), "Reserved (10)");
  // An aborted test is no failure, and a failure without a sector names none.
  PageBuilder b;
  b.at(0, 0x01, 0x10, 50, 0).at(1, 0x01, 0x50, 60, 0x0FFFFFFF);
  EXPECT_EQ(selfTestHints(decodeSelfTestLog(b.done(2))),
            std::vector<std::string>{"The drive's own last failed self-test (short offline, at 60 power-on hours) "
                                     "found an electrical failure."});
}

}  // namespace
}  // namespace palvoro
