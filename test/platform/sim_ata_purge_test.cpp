// The simulated drive's own erase and hidden areas, sent as raw records: the pairings a
// drive insists on, the keys and passwords it checks, and what it refuses while busy.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "sim_test_support.h"

namespace palvoro::sim::testing {
namespace {

struct Step {
  std::array<uint8_t, 7> current;
  std::array<uint8_t, 7> previous = {};
  bool ext = false;
  const char* password = nullptr;  // data-out: control word 0 and this password
};

struct Case {
  const char* name;
  int drive;
  std::vector<Step> steps;
  bool lastAborts;
  std::function<void(SimPlatform&, const RawAta&)> check;
};

constexpr std::array<uint8_t, 7> kIdentify = {0x00, 0x01, 0x01, 0x00, 0x00, 0xA0, 0xEC};
constexpr std::array<uint8_t, 7> kNativeMaxExt = {0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x27};
// SET MAX ADDRESS EXT to 976773167 (3A38602Fh), the native maximum; count 0: volatile.
constexpr std::array<uint8_t, 7> kSetMaxExt = {0x00, 0x00, 0x2F, 0x60, 0x38, 0xE0, 0x37};
constexpr std::array<uint8_t, 7> kSetMaxExtHigh = {0x00, 0x00, 0x3A, 0x00, 0x00, 0x00, 0x00};
constexpr std::array<uint8_t, 7> kSmartStatus = {0xDA, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0};
constexpr uint64_t kNative = 976773168;

Step security(uint8_t command, const char* password) { return {{0, 1, 0, 0, 0, 0xA0, command}, {}, false, password}; }

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      {"SetMaxRightAfterNativeMaxShowsTheHiddenArea", 1,
       {{kNativeMaxExt, {}, true}, {kSetMaxExt, kSetMaxExtHigh, true}}, false,
       [](SimPlatform& p, const RawAta&) {
         EXPECT_EQ(p.drive(1).disk().hostSectors(), kNative);
         RawAta id(3, 512, kIdentify);
         ASSERT_TRUE(sendRaw(p, openDrive(p, 1), id, 40, 552));
         EXPECT_EQ(id.data()[200] | (id.data()[201] << 8) | (id.data()[202] << 16) | (id.data()[203] << 24),
                   static_cast<int>(kNative));  // words 100-101
       }},
      {"SetMaxWithoutNativeMaxAborts", 1, {{kSetMaxExt, kSetMaxExtHigh, true}}, true, nullptr},
      {"SetMaxAfterAnotherCommandAborts", 1,
       {{kNativeMaxExt, {}, true}, {kIdentify}, {kSetMaxExt, kSetMaxExtHigh, true}}, true, nullptr},
      {"HiddenSectorsAreNotReadBeforeTheLift", 1, {{kIdentify}}, false,
       [](SimPlatform& p, const RawAta&) {
         const Handle h = openDrive(p, 1);
         int32_t high = static_cast<int32_t>(((kNative - 1) * 512) >> 32);
         (void)p.setFilePointer(h, static_cast<int32_t>(((kNative - 1) * 512) & 0xFFFFFFFF), &high, 0);
         uint8_t sector[512];
         uint32_t read = 0;
         EXPECT_FALSE(p.readFile(h, sector, 512, &read));
       }},
      {"EraseUnitWithoutPrepareAborts", 0,
       {security(0xF1, "pw"), security(0xF4, "pw")}, true, nullptr},
      {"WrongPasswordAbortsAndCounts", 0,
       {security(0xF1, "pw"), {{0, 0, 0, 0, 0, 0xA0, 0xF3}}, security(0xF4, "other")}, true,
       [](SimPlatform& p, const RawAta&) {
         EXPECT_EQ(p.drive(0).ata.security->attemptsLeft, 4);
         EXPECT_TRUE(p.drive(0).ata.security->enabled);
       }},
      {"FrozenDriveRefusesSetPassword", 2, {security(0xF1, "pw")}, true, nullptr},
      {"SanitizeWithTheWrongKeyAborts", 0,
       {{{0x12, 0, 0x78, 0x56, 0x34, 0xA0, 0xB4}, {0, 0, 0x12, 0, 0, 0, 0}, true}}, true,
       [](SimPlatform&, const RawAta& last) { EXPECT_EQ(last.bytes[34], 2); }},  // reason: unsupported value
      {"RunningSanitizeRefusesOtherCommands", 0,
       {{{0x11, 0, 0x70, 0x79, 0x72, 0xA0, 0xB4}, {0, 0, 0x43, 0, 0, 0, 0}, true}, {kSmartStatus}}, true,
       [](SimPlatform& p, const RawAta&) {
         EXPECT_TRUE(p.drive(0).ata.sanitizeSet->running);
         uint8_t sector[512];
         uint32_t read = 0;
         EXPECT_FALSE(p.readFile(openDrive(p, 0), sector, 512, &read));
         EXPECT_EQ(p.lastError(), ERROR_NOT_READY);
       }},
  };
  return all;
}

class SimAtaPurge : public ::testing::TestWithParam<Case> {};

TEST_P(SimAtaPurge, AnswersAsADriveDoes) {
  const Case& c = GetParam();
  SimPlatform p(builtinMachine("erase"));
  const Handle h = openDrive(p, c.drive);
  RawAta last(1, 0, kIdentify);
  for (size_t i = 0; i < c.steps.size(); ++i) {
    const Step& s = c.steps[i];
    const bool out = s.password != nullptr, in = s.current[6] == 0xEC;
    const uint16_t flags = static_cast<uint16_t>(1 | (in ? 2 : 0) | (out ? 4 : 0) | (s.ext ? 8 : 0));
    last = RawAta(flags, in || out ? 512 : 0, s.current, s.previous);
    if (out) std::memcpy(last.data() + 2, s.password, std::strlen(s.password));
    ASSERT_TRUE(sendRaw(p, h, last, out ? 552 : 40, in ? 552 : 40)) << i;
    const bool aborted = (last.status() & 0x01) != 0;
    EXPECT_EQ(aborted, i + 1 == c.steps.size() && c.lastAborts) << "step " << i;
  }
  if (c.check) c.check(p, last);
}

INSTANTIATE_TEST_SUITE_P(Commands, SimAtaPurge, ::testing::ValuesIn(cases()),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace palvoro::sim::testing
