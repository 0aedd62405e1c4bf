#include "smart/self_test_log.h"

#include <gtest/gtest.h>

#include <set>

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

// The extended log's pages as the drive lays them out: revision 1, the 1-based index of the
// newest descriptor over the whole log at 2..3 (page 0), 19 descriptors of 26 bytes from byte
// 4 with a 48-bit failing sector at 5..10, each page's checksum at 511.
struct ExtPages {
  std::vector<std::array<uint8_t, 512>> pages;
  explicit ExtPages(size_t count) : pages(count) {
    for (auto& page : pages) page[0] = 1;
  }
  ExtPages& at(size_t slot, uint8_t statusByte, uint16_t hours, uint64_t lba = 0) {
    uint8_t* d = pages.at(slot / 19).data() + 4 + (slot % 19) * 26;
    d[0] = 0x02;
    d[1] = statusByte;
    d[2] = static_cast<uint8_t>(hours);
    d[3] = static_cast<uint8_t>(hours >> 8);
    for (size_t i = 0; i < 6; ++i) d[5 + i] = static_cast<uint8_t>(lba >> (8 * i));
    return *this;
  }
  ExtPages& done(uint16_t index) {
    pages[0][2] = static_cast<uint8_t>(index);
    pages[0][3] = static_cast<uint8_t>(index >> 8);
    for (auto& page : pages) {
      uint8_t sum = 0;
      for (size_t i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + page[i]);
      page[511] = static_cast<uint8_t>(0x100 - sum);
    }
    return *this;
  }
};

// Slots `from` down to `to`, as the walk should meet them.
std::vector<uint16_t> down(uint16_t from, uint16_t to) {
  std::vector<uint16_t> slots;
  for (int slot = from; slot >= to; --slot) slots.push_back(static_cast<uint16_t>(slot));
  return slots;
}
std::vector<uint16_t> join(std::vector<uint16_t> a, const std::vector<uint16_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(ExtSelfTestLog, EntriesComeNewestFirstAcrossItsPages) {
  struct Case {
    const char* name;
    uint16_t pageCount;
    size_t written;             // slots 0 .. written-1 hold a test, its hours the slot number
    uint16_t index;
    std::set<uint16_t> unreadable;
    std::set<uint16_t> corrupt;  // a byte flipped after the checksum was made
    std::vector<uint16_t> slots;  // the entries' slots, newest first
    bool checksumValid = true;
  };
  const Case cases[] = {
      {"three written", 1, 3, 3, {}, {}, {2, 1, 0}},
      {"one page wrapped", 1, 19, 1, {}, {}, join({0}, down(18, 1))},
      {"index beyond the ring", 1, 19, 20, {}, {}, {}},
      {"none written", 1, 0, 0, {}, {}, {}},
      {"index at an empty slot", 1, 3, 5, {}, {}, {}},
      {"second page, the newest 21 kept", 2, 21, 21, {}, {}, down(20, 0)},
      {"two pages wrapped", 2, 38, 2, {}, {}, join({1, 0}, down(37, 19))},
      {"a page that cannot be read ends the walk", 2, 38, 2, {1}, {}, {1, 0}},
      {"a damaged later page", 2, 38, 2, {}, {1}, join({1, 0}, down(37, 19)), false},
      {"a damaged first page", 1, 2, 2, {}, {0}, {1, 0}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExtPages b(c.pageCount);
    for (size_t slot = 0; slot < c.written; ++slot) b.at(slot, 0x00, static_cast<uint16_t>(slot));
    b.done(c.index);
    for (const uint16_t page : c.corrupt) b.pages[page][300] ^= 0x01;
    std::vector<uint16_t> asked;
    const auto read = [&](uint16_t number, std::array<uint8_t, 512>& out) {
      asked.push_back(number);
      if (c.unreadable.count(number) != 0) return false;
      out = b.pages.at(number);
      return true;
    };
    const std::optional<SelfTestLog> log = decodeExtSelfTestLog(read, c.pageCount);
    ASSERT_TRUE(log);
    EXPECT_TRUE(log->extended);
    EXPECT_EQ(log->revision, 1);
    EXPECT_EQ(log->checksumValid, c.checksumValid);
    std::vector<uint16_t> slots;
    for (const SelfTestLogEntry& e : log->entries) slots.push_back(e.lifetimeHours);
    EXPECT_EQ(slots, c.slots);
    EXPECT_EQ(asked.front(), 0);
  }
}

TEST(ExtSelfTestLog, FailingSectorsKeepAll48Bits) {
  // Read failure past 28 bits; a failure naming no sector (all ones); a sector whose low
  // 28 bits are all ones, which is a sector here.
  ExtPages b(1);
  b.at(0, 0x70, 10, 0x0123456789ABull).at(1, 0x70, 11, 0xFFFFFFFFFFFFull).at(2, 0x70, 12, 0x0FFFFFFFull).done(3);
  const auto read = [&](uint16_t number, std::array<uint8_t, 512>& out) {
    out = b.pages.at(number);
    return true;
  };
  std::optional<SelfTestLog> log = decodeExtSelfTestLog(read, 1);
  ASSERT_TRUE(log);
  ASSERT_EQ(log->entries.size(), 3u);
  EXPECT_TRUE(log->entries[0].hasFailingLba());
  EXPECT_EQ(log->entries[0].failingLba, 0x0FFFFFFFull);
  EXPECT_FALSE(log->entries[1].hasFailingLba());
  EXPECT_EQ(log->entries[2].failingLba, 0x0123456789ABull);
  log->entries.erase(log->entries.begin(), log->entries.begin() + 2);
  EXPECT_EQ(selfTestHints(*log), std::vector<std::string>{"The drive's own last failed self-test (extended offline, at "
                                                          "10 power-on hours) found a read failure at sector "
                                                          "1250999896491."});
  // No log listed, or its first page unreadable: no log at all.
  EXPECT_FALSE(decodeExtSelfTestLog(read, 0));
  EXPECT_FALSE(decodeExtSelfTestLog([](uint16_t, std::array<uint8_t, 512>&) { return false; }, 1));
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
