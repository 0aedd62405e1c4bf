// NVMe Format NVM and Sanitize and SCSI SANITIZE against the built-in "erase" machine:
// the command each method sends, byte for byte as the simulated drive received it, how
// the run ends, and what the media reads afterwards.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "device/purge.h"
#include "device/device_test_support.h"
#include "platform/ioctl_codes.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_platform.h"
#include "protocol/byte_order.h"

namespace palvoro {
namespace {

using devtest::Bytes;

// What a sector holds after the run: zeros, bytes unlike anything before, or the pattern
// written before it.
enum class Media { Zeros, Scrambled, Untouched };

struct Case {
  const char* name;
  int drive;
  PurgeMethod method;
  std::function<void(sim::SimPlatform&)> arrange;
  PurgeStatus status;
  std::string detail;  // a part of the report's detail
  std::vector<uint32_t> nvme;  // the admin command sent: opcode, NSID, CDW10, CDW11; empty: none
  Bytes scsi;                  // the SANITIZE block sent, then its parameter list; empty: none
  Media media;
};

constexpr uint8_t kWritten = 0xAB;
constexpr uint64_t kSector = 5;
constexpr uint32_t kEraseTimeout = 43200;  // seconds: twelve hours

void nvmeFault(sim::SimPlatform& p, uint16_t status) {
  sim::SimFault f;
  f.kind = sim::SimFault::Kind::NvmeStatus;
  f.drive = 10;
  f.ioctl = IOCTL_STORAGE_PROTOCOL_COMMAND;
  f.nvmeStatus = status;
  p.injectFault(f);
}

const Case kCases[] = {
    {"format keeps 4096-byte blocks, every namespace", 10, PurgeMethod::Format, nullptr, PurgeStatus::Completed, "",
     {0x80, 0xFFFFFFFF, 0x201, 0}, {}, Media::Zeros},
    {"format crypto", 10, PurgeMethod::FormatCrypto, nullptr, PurgeStatus::Completed, "",
     {0x80, 0xFFFFFFFF, 0x401, 0}, {}, Media::Scrambled},
    {"sanitize block erase", 10, PurgeMethod::SanitizeBlock, nullptr, PurgeStatus::Completed, "",
     {0x84, 0, 0x2, 0}, {}, Media::Zeros},
    {"sanitize crypto erase", 10, PurgeMethod::SanitizeCrypto, nullptr, PurgeStatus::Completed, "",
     {0x84, 0, 0x4, 0}, {}, Media::Scrambled},
    {"sanitize overwrite not in SANICAP", 10, PurgeMethod::SanitizeOverwrite, nullptr, PurgeStatus::Unsupported,
     "the drive does not support Sanitize overwrite", {}, {}, Media::Untouched},
    {"format refused with Invalid Field", 10, PurgeMethod::Format, [](sim::SimPlatform& p) { nvmeFault(p, 0x002); },
     PurgeStatus::Unsupported, "the controller refused Format NVM (status type 0h, code 02h)",
     {0x80, 0xFFFFFFFF, 0x201, 0}, {}, Media::Untouched},
    {"format failing inside the controller", 10, PurgeMethod::Format, [](sim::SimPlatform& p) { nvmeFault(p, 0x006); },
     PurgeStatus::Failed, "code 06h", {0x80, 0xFFFFFFFF, 0x201, 0}, {}, Media::Untouched},
    {"sanitize failing", 10, PurgeMethod::SanitizeBlock,
     [](sim::SimPlatform& p) { p.drive(10).nvme->erase.sanitizeFails = true; }, PurgeStatus::Failed,
     "sanitize failure mode", {0x84, 0, 0x2, 0}, {}, Media::Untouched},
    {"format of one namespace among 256", 11, PurgeMethod::Format, nullptr, PurgeStatus::Completed, "",
     {0x80, 1, 0x200, 0}, {}, Media::Zeros},
    {"no crypto format", 11, PurgeMethod::FormatCrypto, nullptr, PurgeStatus::Unsupported,
     "the drive cannot erase cryptographically", {}, {}, Media::Untouched},
    {"no sanitize", 11, PurgeMethod::SanitizeBlock, nullptr, PurgeStatus::Unsupported,
     "the drive does not support Sanitize", {}, {}, Media::Untouched},
    {"SCSI overwrite", 12, PurgeMethod::SanitizeOverwrite, nullptr, PurgeStatus::Completed, "", {},
     {0x48, 0x81, 0, 0, 0, 0, 0, 0, 0x08, 0, 0x01, 0x00, 0x00, 0x04, 0, 0, 0, 0}, Media::Zeros},
    {"SCSI block erase", 12, PurgeMethod::SanitizeBlock, nullptr, PurgeStatus::Completed, "", {},
     {0x48, 0x82, 0, 0, 0, 0, 0, 0, 0, 0}, Media::Zeros},
    {"SCSI crypto erase", 12, PurgeMethod::SanitizeCrypto, nullptr, PurgeStatus::Completed, "", {},
     {0x48, 0x83, 0, 0, 0, 0, 0, 0, 0, 0}, Media::Scrambled},
    {"SCSI sanitize failing", 12, PurgeMethod::SanitizeBlock,
     [](sim::SimPlatform& p) { p.drive(12).scsi.sanitize->fails = true; }, PurgeStatus::Failed,
     "sanitize failure mode", {}, {0x48, 0x82, 0, 0, 0, 0, 0, 0, 0, 0}, Media::Untouched},
    {"SCSI drive silent on its operation codes", 12, PurgeMethod::SanitizeBlock,
     [](sim::SimPlatform& p) { p.drive(12).scsi.sanitize->reportsOpcodes = false; }, PurgeStatus::Unsupported,
     "the drive does not say whether it supports SANITIZE", {}, {}, Media::Untouched},
    {"SCSI format is not a SCSI method", 12, PurgeMethod::Format, nullptr, PurgeStatus::Unsupported,
     "an NVMe command", {}, {}, Media::Untouched},
    {"USB bridge refusing SANITIZE", 13, PurgeMethod::SanitizeBlock, nullptr, PurgeStatus::Unsupported,
     "the USB bridge does not pass the SANITIZE command", {}, {0x48, 0x82, 0, 0, 0, 0, 0, 0, 0, 0}, Media::Untouched},
};

std::string drivePath(int number) { return "\\\\.\\PhysicalDrive" + std::to_string(number); }

bool isNvme(int drive) { return drive == 10 || drive == 11; }

TEST(PurgeCommands, EachMethodSendsItsCommandAndLeavesTheMediaAsItSays) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    sim::SimPlatform platform(sim::builtinMachine("erase"));
    sim::SimMedia& media = platform.drive(c.drive).disk();
    const uint32_t blockBytes = media.sectorSize();
    const Bytes before(blockBytes, kWritten);
    ASSERT_TRUE(media.write(kSector, 1, before.data()));
    if (c.arrange) c.arrange(platform);
    const Handle h = platform.createFile(drivePath(c.drive), devtest::kReadWrite, devtest::kShareReadWrite,
                                         OPEN_EXISTING, 0);
    platform.clearLog();
    std::vector<double> fractions;
    PurgeHooks hooks;
    hooks.progress = [&](const PurgeProgress& p) {
      if (p.fraction) fractions.push_back(*p.fraction);
    };
    const auto device = isNvme(c.drive) ? nvmePurgeDevice(platform, h) : scsiPurgeDevice(platform, h);
    const PurgeReport report = device->run(c.method, hooks);

    EXPECT_EQ(report.status, c.status);
    EXPECT_NE(report.detail.find(c.detail), std::string::npos) << report.detail;
    std::vector<uint32_t> nvme;
    for (const sim::SimRequest& r : platform.ioctls(IOCTL_STORAGE_PROTOCOL_COMMAND)) {
      // The submission entry from byte 80: opcode, NSID at 4, CDW10 and CDW11 at 40 and 44.
      nvme = {r.input[80], loadLe32(&r.input[84]), loadLe32(&r.input[120]), loadLe32(&r.input[124])};
      EXPECT_EQ(loadLe32(&r.input[40]), kEraseTimeout);
    }
    EXPECT_LE(platform.ioctls(IOCTL_STORAGE_PROTOCOL_COMMAND).size(), 1u);
    EXPECT_EQ(nvme, c.nvme);
    Bytes scsi;
    for (const sim::SimRequest& r : platform.ioctls(IOCTL_SCSI_PASS_THROUGH)) {
      if (r.input[28] != 0x48) continue;  // the CDB from byte 28, the data from byte 72
      scsi.assign(r.input.begin() + 28, r.input.begin() + 38);
      scsi.insert(scsi.end(), r.input.begin() + 72, r.input.end());
    }
    EXPECT_EQ(scsi, c.scsi);

    // The block format stays, and the sector reads as the method leaves it.
    EXPECT_EQ(platform.drive(c.drive).disk().sectorSize(), blockBytes);
    Bytes after(blockBytes);
    ASSERT_TRUE(platform.drive(c.drive).disk().read(kSector, 1, after.data()));
    if (c.media == Media::Untouched) {
      EXPECT_EQ(after, before);
    } else if (c.media == Media::Zeros) {
      EXPECT_EQ(after, Bytes(blockBytes, 0));
    }
    if (c.media == Media::Scrambled) {
      Bytes unwritten(blockBytes);
      ASSERT_TRUE(platform.drive(c.drive).disk().read(kSector + 1, 1, unwritten.data()));
      EXPECT_NE(after, before);
      EXPECT_NE(unwritten, Bytes(blockBytes, 0));
    }
    // DLFEAT 1: deallocated blocks read 00h.
    if (c.status == PurgeStatus::Completed && c.media == Media::Zeros && isNvme(c.drive)) {
      EXPECT_EQ(report.erasedValue, uint8_t{0});
    }
    // A sanitize that completed was followed with its progress.
    if (c.status == PurgeStatus::Completed && c.method != PurgeMethod::Format &&
        c.method != PurgeMethod::FormatCrypto) {
      ASSERT_FALSE(fractions.empty());
      EXPECT_GT(fractions.back(), 0.5);
      EXPECT_LT(fractions.back(), 1.0);
    }
    platform.closeHandle(h);
  }
}

TEST(PurgeCommands, EachDriveOffersWhatItReports) {
  const std::vector<std::pair<int, std::vector<PurgeMethod>>> offers = {
      {10, {PurgeMethod::SanitizeCrypto, PurgeMethod::SanitizeBlock, PurgeMethod::Format, PurgeMethod::FormatCrypto}},
      {11, {PurgeMethod::Format}},
      {12, {PurgeMethod::SanitizeCrypto, PurgeMethod::SanitizeBlock, PurgeMethod::SanitizeOverwrite}},
      {13, {PurgeMethod::SanitizeCrypto, PurgeMethod::SanitizeBlock}},
  };
  sim::SimPlatform platform(sim::builtinMachine("erase"));
  for (const auto& [drive, expected] : offers) {
    SCOPED_TRACE(drive);
    const Handle h =
        platform.createFile(drivePath(drive), devtest::kReadWrite, devtest::kShareReadWrite, OPEN_EXISTING, 0);
    const auto device = isNvme(drive) ? nvmePurgeDevice(platform, h) : scsiPurgeDevice(platform, h);
    std::vector<PurgeMethod> offered;
    for (const MethodSupport& s : device->methods()) {
      EXPECT_EQ(s.offered, s.whyNot.empty());
      if (s.offered) offered.push_back(s.method);
      // The controller's own estimate of its sanitize (90 seconds).
      if (drive == 10 && s.method == PurgeMethod::SanitizeBlock) {
        EXPECT_EQ(s.estimatedMinutes, 2u);
      }
      if (s.method == PurgeMethod::SecurityErase) {
        EXPECT_EQ(s.whyNot, "an ATA command");
      }
    }
    EXPECT_EQ(offered, expected);
    platform.closeHandle(h);
  }
}

}  // namespace
}  // namespace palvoro
