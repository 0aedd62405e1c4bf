// The ATA drive's own erase against the simulated "erase" machine: every method and route,
// the commands the drive received in order (decoded here from the raw records and blocks,
// not with the command layer's code), and the drive's state after.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "device/purge.h"
#include "platform/ioctl_codes.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

using Platform = sim::SimPlatform;

// One ATA command as the drive got it: "F4 f0000 c01 l000000000000 48 d0002:PALVORO-ERASE"
// (command, features 15:0, count 7:0, LBA 47:0, "48" for a 48-bit command, the data-out's
// control word and password). Repeats of a line are folded into "*N".
std::string line(const uint8_t* prev, const uint8_t* cur, bool ext, const uint8_t* out) {
  const uint64_t lba = cur[2] | (uint64_t{cur[3]} << 8) | (uint64_t{cur[4]} << 16) | (uint64_t{prev[2]} << 24) |
                       (uint64_t{prev[3]} << 32) | (uint64_t{prev[4]} << 40);
  char text[96];
  std::snprintf(text, sizeof text, "%02X f%04X c%02X l%012llX%s", cur[6], cur[0] | (prev[0] << 8), cur[1],
                static_cast<unsigned long long>(lba), ext ? " 48" : "");
  std::string s = text;
  if (out != nullptr) {
    char control[8];
    std::snprintf(control, sizeof control, " d%04X", out[0] | (out[1] << 8));
    s += control + std::string(":") + std::string(reinterpret_cast<const char*>(out + 2)).substr(0, 32);
  }
  return s;
}

std::vector<std::string> commandsSent(const Platform& p) {
  std::vector<std::string> lines;
  const uint8_t zero[8] = {};
  for (const sim::SimRequest& r : p.log()) {
    if (r.kind != sim::SimRequest::Kind::Ioctl) continue;
    const uint8_t* in = r.input.data();
    std::string s;
    if (r.code == IOCTL_ATA_PASS_THROUGH) {
      const bool ext = (in[2] & 0x08) != 0, out = (in[2] & 0x04) != 0;
      s = line(ext ? in + 24 : zero, in + 32, ext, out ? in + 40 : nullptr);
    } else if (r.code == IOCTL_SCSI_PASS_THROUGH) {
      const uint8_t* cdb = in + 28;
      const bool out = in[8] == 0 && r.input.size() > 72;
      if (cdb[0] == 0xA1 && ((cdb[1] >> 1) & 0x0F) == 15) continue;  // the bridge's response block
      if (cdb[0] == 0xA1) s = line(zero, cdb + 3, false, out ? in + 72 : nullptr);
      if (cdb[0] == '$') s = line(zero, cdb + 6, false, out ? in + 72 : nullptr);
      if (cdb[0] == 0x85) {
        const uint8_t cur[7] = {cdb[4], cdb[6], cdb[8], cdb[10], cdb[12], cdb[13], cdb[14]};
        const uint8_t prev[5] = {cdb[3], cdb[5], cdb[7], cdb[9], cdb[11]};
        s = line(prev, cur, (cdb[1] & 1) != 0, out && r.input.size() > 44 ? in + 44 : nullptr);
      }
    }
    if (s.empty()) continue;
    const size_t star = lines.empty() ? std::string::npos : lines.back().rfind(" *");
    const std::string last = lines.empty() ? "" : lines.back().substr(0, star);
    if (last == s) {
      const int n = star == std::string::npos ? 1 : std::stoi(lines.back().substr(star + 2));
      lines.back() = s + " *" + std::to_string(n + 1);
    } else {
      lines.push_back(s);
    }
  }
  return lines;
}

constexpr const char* kId = "EC f0000 c01 l000000000001";
constexpr const char* kSetPw = "F1 f0000 c01 l000000000000 d0000:PALVORO-ERASE";
constexpr const char* kPrepare = "F3 f0000 c00 l000000000000";
constexpr const char* kErase = "F4 f0000 c01 l000000000000 d0000:PALVORO-ERASE";
constexpr const char* kEraseEnh = "F4 f0000 c01 l000000000000 d0002:PALVORO-ERASE";
constexpr const char* kUnlock = "F2 f0000 c01 l000000000000 d0000:PALVORO-ERASE";
constexpr const char* kDisable = "F6 f0000 c01 l000000000000 d0000:PALVORO-ERASE";

enum class Op { Erase, Hidden, Lift, Restore, Methods };

struct Case {
  const char* name;
  int drive;
  Op op;
  PurgeMethod method;
  std::function<void(Platform&)> arrange;
  PurgeStatus status;
  std::vector<std::string> sent;
  std::function<void(Platform&, const PurgeReport&, const std::optional<HiddenAreas>&)> check;
  bool reportsProgress = false;  // the hooks hear the drive's fraction rise from 0 to its end
};

constexpr uint64_t kHddUser = 976771120, kHddNative = 976773168, kHddDco = 977105060;

sim::SimFault ataFault(uint8_t command) {
  sim::SimFault f;
  f.kind = sim::SimFault::Kind::AtaError;
  f.command = command;
  f.remaining = 1;
  return f;
}

// A sector of data the erase must take away, at the drive's first and (hidden) last LBA.
void writeData(Platform& p, int drive) {
  std::vector<uint8_t> data(512, 0x5A);
  sim::SimMedia& m = p.drive(drive).disk();
  ASSERT_TRUE(m.write(0, 1, data.data()));
  ASSERT_TRUE(m.write(m.sectorCount() - 1, 1, data.data()));
}
uint8_t byteAt(Platform& p, int drive, uint64_t lba) {
  std::vector<uint8_t> s(512);
  EXPECT_TRUE(p.drive(drive).disk().read(lba, 1, s.data()));
  return s[7];
}
void securityOff(Platform& p, int drive) {
  const sim::SimSecurity& s = *p.drive(drive).ata.security;
  EXPECT_FALSE(s.enabled || s.locked);
  EXPECT_TRUE(s.userPassword.empty());
}

std::vector<std::string> seq(std::initializer_list<std::string> l) { return l; }

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      {"EnhancedSecurityEraseOnSata", 0, Op::Erase, PurgeMethod::SecurityEraseEnhanced,
       [](Platform& p) { writeData(p, 0); }, PurgeStatus::Completed, seq({kId, kSetPw, kPrepare, kEraseEnh, kId}),
       [](Platform& p, const PurgeReport& r, auto&) {
         EXPECT_EQ(byteAt(p, 0, 0), 0);
         securityOff(p, 0);
         EXPECT_FALSE(r.passwordLeft || r.passwordRemoved);
       }},
      {"CryptoScrambleIsPolledToItsEnd", 0, Op::Erase, PurgeMethod::SanitizeCrypto,
       [](Platform& p) { writeData(p, 0); }, PurgeStatus::Completed,
       seq({kId, "B4 f0011 c00 l000043727970 48", "B4 f0000 c00 l000000000000 48 *19"}),
       [](Platform& p, auto&, auto&) {
         EXPECT_NE(byteAt(p, 0, 0), 0x5A);
         EXPECT_TRUE(p.drive(0).disk().anyData(5, 1));  // scrambled, not zeros
       },
       true},
      {"BlockEraseLeavesTheErasedValue", 0, Op::Erase, PurgeMethod::SanitizeBlock,
       [](Platform& p) { p.drive(0).ata.sanitizeSet->erasedValue = 0xFF; }, PurgeStatus::Completed,
       seq({kId, "B4 f0012 c00 l0000426B4572 48", "B4 f0000 c00 l000000000000 48 *19"}),
       [](Platform& p, auto&, auto&) { EXPECT_EQ(byteAt(p, 0, 12345), 0xFF); }},
      {"FailedSanitizeNamesTheReason", 0, Op::Erase, PurgeMethod::SanitizeBlock,
       [](Platform& p) { p.drive(0).ata.sanitizeSet->fails = true; }, PurgeStatus::Failed,
       seq({kId, "B4 f0012 c00 l0000426B4572 48", "B4 f0000 c00 l000000000000 48 *19"}),
       [](Platform&, const PurgeReport& r, auto&) {
         EXPECT_EQ(r.detail, "the sanitize operation failed: the sanitize operation was unsuccessful");
       }},
      {"SecurityEraseReachesTheHiddenArea", 1, Op::Erase, PurgeMethod::SecurityErase,
       [](Platform& p) { writeData(p, 1); }, PurgeStatus::Completed, seq({kId, kSetPw, kPrepare, kErase, kId}),
       [](Platform& p, auto&, auto&) {
         EXPECT_EQ(byteAt(p, 1, kHddNative - 1), 0);
         securityOff(p, 1);
       }},
      {"EnhancedEraseNotOfferedSendsNothing", 1, Op::Erase, PurgeMethod::SecurityEraseEnhanced, nullptr,
       PurgeStatus::Unsupported, seq({kId}),
       [](Platform&, const PurgeReport& r, auto&) {
         EXPECT_EQ(r.detail, "the drive does not offer the enhanced security erase");
       }},
      {"FrozenSendsNothing", 2, Op::Erase, PurgeMethod::SecurityErase, nullptr, PurgeStatus::Frozen, seq({kId}),
       [](Platform&, const PurgeReport& r, auto&) { EXPECT_NE(r.detail.find("unfreezes it"), std::string::npos); }},
      {"LockedSendsNothing", 3, Op::Erase, PurgeMethod::SecurityErase, nullptr, PurgeStatus::Locked, seq({kId}),
       nullptr},
      {"FailedEraseTakesThePasswordOff", 0, Op::Erase, PurgeMethod::SecurityEraseEnhanced,
       [](Platform& p) { p.injectFault(ataFault(0xF4)); }, PurgeStatus::Failed,
       seq({kId, kSetPw, kPrepare, kEraseEnh, kId, kUnlock, kDisable}),
       [](Platform& p, const PurgeReport& r, auto&) {
         EXPECT_TRUE(r.passwordRemoved);
         EXPECT_FALSE(r.passwordLeft);
         securityOff(p, 0);
       }},
      {"RefusedUnlockSaysThePasswordIsLeft", 0, Op::Erase, PurgeMethod::SecurityEraseEnhanced,
       [](Platform& p) {
         p.injectFault(ataFault(0xF4));
         p.injectFault(ataFault(0xF2));
       },
       PurgeStatus::Failed, seq({kId, kSetPw, kPrepare, kEraseEnh, kId, kUnlock}),
       [](Platform&, const PurgeReport& r, auto&) {
         EXPECT_TRUE(r.passwordLeft);
         EXPECT_NE(r.detail.find("\"PALVORO-ERASE\""), std::string::npos);
       }},
      {"SatBridgeCarriesSanitizeOverwriteIn16", 4, Op::Erase, PurgeMethod::SanitizeOverwrite,
       [](Platform& p) { writeData(p, 4); }, PurgeStatus::Completed,
       seq({kId, "B4 f0014 c01 l4F5700000000 48", "B4 f0000 c00 l000000000000 48 *34"}),
       [](Platform& p, auto&, auto&) { EXPECT_EQ(byteAt(p, 4, 0), 0); }},
      {"SatBridgeCarriesTheSecurityErase", 4, Op::Erase, PurgeMethod::SecurityEraseEnhanced, nullptr,
       PurgeStatus::Completed, seq({kId, kSetPw, kPrepare, kEraseEnh, kId}),
       [](Platform& p, auto&, auto&) { securityOff(p, 4); }},
      {"BridgeRefusingSecurityLeavesNoPassword", 4, Op::Erase, PurgeMethod::SecurityErase,
       [](Platform& p) { p.drive(4).scsi.refusesPurge = true; }, PurgeStatus::Failed, seq({kId, kSetPw, kId}),
       [](Platform& p, const PurgeReport& r, auto&) {
         EXPECT_EQ(r.detail, "the drive refused SECURITY SET PASSWORD");
         EXPECT_FALSE(r.passwordLeft);
         securityOff(p, 4);
       }},
      {"VendorBlockOffersNoSanitize", 5, Op::Erase, PurgeMethod::SanitizeOverwrite, nullptr,
       PurgeStatus::Unsupported, seq({kId}),
       [](Platform&, const PurgeReport& r, auto&) {
         EXPECT_EQ(r.detail, "the USB bridge's command block cannot carry the drive's SANITIZE command");
       }},
      {"VendorBlockCarriesTheSecurityErase", 5, Op::Erase, PurgeMethod::SecurityErase, nullptr,
       PurgeStatus::Completed, seq({kId, kSetPw, kPrepare, kErase, kId}), nullptr},
      {"SsdOffersWhatItsIdentifySays", 0, Op::Methods, PurgeMethod::Overwrite, nullptr, PurgeStatus::Completed,
       seq({kId}),
       [](Platform&, const PurgeReport& r, auto&) {
         EXPECT_EQ(r.detail,
                   "security-erase 2 min|security-erase-enhanced 2 min|sanitize-crypto 0 min|sanitize-block 0 min|"
                   "sanitize-overwrite: the drive does not offer the sanitize OVERWRITE|"
                   "format: Format NVM is an NVMe command|format-crypto: Format NVM is an NVMe command|");
       }},
      {"VendorBlockBridgeOffersSecurityOnly", 5, Op::Methods, PurgeMethod::Overwrite, nullptr,
       PurgeStatus::Completed, seq({kId}),
       [](Platform&, const PurgeReport& r, auto&) {
         EXPECT_EQ(r.detail,
                   "security-erase 60 min|"
                   "security-erase-enhanced: the drive does not offer the enhanced security erase|"
                   "sanitize-crypto: the USB bridge's command block cannot carry the drive's SANITIZE command|"
                   "sanitize-block: the USB bridge's command block cannot carry the drive's SANITIZE command|"
                   "sanitize-overwrite: the USB bridge's command block cannot carry the drive's SANITIZE command|"
                   "format: Format NVM is an NVMe command|format-crypto: Format NVM is an NVMe command|");
       }},
      {"HiddenAreasRead", 1, Op::Hidden, PurgeMethod::Overwrite, nullptr, PurgeStatus::Completed,
       seq({kId, "27 f0000 c00 l000000000000 48", "B1 f00C2 c01 l000000000000"}),
       [](Platform&, auto&, const std::optional<HiddenAreas>& h) {
         ASSERT_TRUE(h.has_value());
         EXPECT_EQ(h->userSectors, kHddUser);
         EXPECT_EQ(h->hpaSectors(), kHddNative - kHddUser);
         EXPECT_TRUE(h->dcoKnown);
         EXPECT_EQ(h->dcoSectors, kHddDco);
       }},
      {"HpaLiftedUntilPowerOff", 1, Op::Lift, PurgeMethod::Overwrite,
       [](Platform& p) { EXPECT_EQ(p.drive(1).disk().hostSectors(), kHddUser); }, PurgeStatus::Completed,
       seq({kId, "27 f0000 c00 l000000000000 48", "37 f0000 c00 l00003A38602F 48"}),
       [](Platform& p, auto&, auto&) {
         EXPECT_EQ(p.drive(1).disk().hostSectors(), kHddNative);
         EXPECT_FALSE(p.drive(1).ata.maxSetPersistent);
       }},
      {"HpaRestored", 1, Op::Restore, PurgeMethod::Overwrite,
       [](Platform& p) { p.drive(1).disk().setHostSectors(kHddNative); }, PurgeStatus::Completed,
       seq({kId, "27 f0000 c00 l000000000000 48", "37 f0000 c00 l00003A38582F 48"}),
       [](Platform& p, auto&, auto&) { EXPECT_EQ(p.drive(1).disk().hostSectors(), kHddUser); }},
  };
  return all;
}

class AtaPurgeTest : public ::testing::TestWithParam<Case> {};

TEST_P(AtaPurgeTest, SendsAndLeaves) {
  const Case& c = GetParam();
  Platform p(sim::builtinMachine("erase"));
  if (c.arrange) c.arrange(p);
  const Handle h = p.createFile("\\\\.\\PhysicalDrive" + std::to_string(c.drive), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  AtaRoute route;
  if (c.drive >= 4) {
    route.kind = AtaRoute::Kind::Carrier;
    route.carrier = c.drive == 4 ? kCarrierSat12 : kCarrierAtacb;
  }
  std::unique_ptr<PurgeDevice> device = ataPurgeDevice(p, h, route);
  p.clearLog();
  PurgeReport report;
  std::optional<HiddenAreas> hidden;
  std::vector<double> fractions;
  PurgeHooks hooks;
  hooks.progress = [&](const PurgeProgress& at) {
    if (at.fraction) fractions.push_back(*at.fraction);
  };
  if (c.op == Op::Erase) report = device->run(c.method, hooks);
  if (c.op == Op::Hidden) hidden = device->hiddenAreas();
  if (c.op == Op::Methods) {
    report.status = PurgeStatus::Completed;
    for (const MethodSupport& m : device->methods()) {
      report.detail += purgeMethodName(m.method);
      report.detail += m.offered ? " " + std::to_string(m.estimatedMinutes) + " min|" : ": " + m.whyNot + "|";
    }
  }
  if (c.op == Op::Lift) report.status = device->liftHpa() ? PurgeStatus::Completed : PurgeStatus::Failed;
  if (c.op == Op::Restore) {
    report.status = device->restoreHpa(kHddUser) ? PurgeStatus::Completed : PurgeStatus::Failed;
  }
  EXPECT_EQ(commandsSent(p), c.sent);
  if (c.op != Op::Hidden) {
    EXPECT_EQ(report.status, c.status) << report.detail;
  }
  if (c.check) c.check(p, report, hidden);
  if (c.reportsProgress) {
    ASSERT_EQ(fractions.size(), 18u);  // every poll but the last, which finds it done
    EXPECT_LT(fractions.front(), 0.01);
    EXPECT_GT(fractions.back(), 0.9);
  }
  (void)p.closeHandle(h);
}

INSTANTIATE_TEST_SUITE_P(Methods, AtaPurgeTest, ::testing::ValuesIn(cases()),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace palvoro
