// The write guard: every rule of checkWrite, and every request that could change a disk
// refused through the platform before anything reaches the fake's device.

#include "platform/linux/write_guard.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "device/ata_command.h"
#include "device/drive_requests.h"
#include "device/scsi_transport.h"
#include "linux_rig.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"

namespace palvoro::real::test {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;
// sda1 of the lab's SATA disk: sectors 2048 to 1050623.
constexpr uint64_t kFirst = 2048 * 512;
constexpr uint64_t kEnd = (2048 + 1048576) * 512;

TEST(LinuxWriteGuardTest, EveryRule) {
  struct Case {
    const char* name;
    std::function<void(WriteGuardFacts&)> facts;
    uint64_t offset, length;
    WriteRefusal expected;
  };
  const Case cases[] = {
      {"NotPrivilegedComesFirst", [](auto& f) { f.privileged = false; f.systemMount = true; }, 0, 512,
       WriteRefusal::NotPrivileged},
      {"SystemMount", [](auto& f) { f.systemMount = true; }, 0, 512, WriteRefusal::SystemDisk},
      {"ActiveSwap", [](auto& f) { f.activeSwap = true; }, 0, 512, WriteRefusal::ActiveSwap},
      {"RunningProgram", [](auto& f) { f.runningProgram = true; }, 0, 512, WriteRefusal::RunningProgram},
      {"Holders", [](auto& f) { f.holders = true; }, 0, 512, WriteRefusal::Holders},
      {"ExclusiveOpenBusy", [](auto& f) { f.exclusiveOpenFailed = true; }, 0, 512, WriteRefusal::Busy},
      {"EndsOnTheFirstByte", [](auto&) {}, kFirst - 512, 513, WriteRefusal::MountedRange},
      {"EndsJustBefore", [](auto&) {}, kFirst - 512, 512, WriteRefusal::None},
      {"StartsOnTheLastByte", [](auto&) {}, kEnd - 1, 512, WriteRefusal::MountedRange},
      {"StartsJustAfter", [](auto&) {}, kEnd, 512, WriteRefusal::None},
      {"CoversTheWholeRange", [](auto&) {}, 0, kEnd + kMiB, WriteRefusal::MountedRange},
      {"WholeDiskCommand", [](auto&) {}, 0, 0, WriteRefusal::MountedRange},
      // Before the range, with a length that wraps past the end of the address space.
      {"LengthWrapsAround", [](auto&) {}, kFirst - 512, UINT64_MAX, WriteRefusal::MountedRange},
      {"WholeDiskWithNothingMounted", [](auto& f) { f.mountedRanges.clear(); }, 0, 0, WriteRefusal::None},
      {"AllClear", [](auto&) {}, 0, 512, WriteRefusal::None},
  };
  for (const Case& c : cases) {
    WriteGuardFacts facts;
    facts.privileged = true;
    facts.mountedRanges = {{kFirst, kEnd}};
    c.facts(facts);
    EXPECT_EQ(checkWrite(facts, c.offset, c.length), c.expected) << c.name;
  }
}

// What the core sends that could change a disk, each on its own platform over the lab's
// SATA disk (drive 0) as root, with the running system on one of its partitions.
TEST(LinuxWriteGuardTest, NothingThatWritesReachesTheDisk) {
  uint8_t block[512] = {};
  struct Case {
    const char* name;
    std::function<bool(Platform&, Handle)> send;
  };
  const auto ataOut = [&](uint8_t command, uint8_t features) {
    return [&block, command, features](Platform& p, Handle h) {
      AtaCommand c;
      c.flags = ATA_FLAGS_DRDY_REQUIRED | ATA_FLAGS_DATA_OUT;
      c.direction = AtaDirection::Out;
      c.inSize = sizeof(AtaCommandRecord);
      c.current = {features, 0x01, 0x00, 0x00, 0x00, 0xE0, command};
      return sendAtaCommand(p, h, c, block).requestOk;
    };
  };
  const Case cases[] = {
      {"WriteFile", [&](Platform& p, Handle h) { uint32_t n = 0; return p.writeFile(h, block, 512, &n); }},
      {"DeleteDriveLayout",
       [](Platform& p, Handle h) {
         uint32_t n = 0;
         return p.deviceIoControl(h, IOCTL_DISK_DELETE_DRIVE_LAYOUT, nullptr, 0, nullptr, 0, &n);
       }},
      {"AtaWriteSectors", ataOut(0x30, 0x00)},
      {"AtaSmartWriteLog", [&](Platform& p, Handle h) {
         return sendAtaCommand(p, h, smartWriteLogSctCommand(), block).requestOk; }},
      {"AtaDataSetManagement", [&](Platform& p, Handle h) {
         return sendAtaCommand(p, h, dataSetManagementCommand(kDsmTrim, 0), block).requestOk; }},
      {"AtaSanitizeBlockErase",
       [](Platform& p, Handle h) { return sendAtaCommand(p, h, sanitizeBlockEraseExtCommand(0)).requestOk; }},
      {"SatDsmInScsiPassThrough", [&](Platform& p, Handle h) { return satDataSetManagement(p, h, kDsmTrim, block) == 0; }},
      {"ScsiWrite10",
       [&](Platform& p, Handle h) {
         uint8_t request[sizeof(SCSI_PASS_THROUGH) + 512] = {};
         SCSI_PASS_THROUGH spt{};
         spt.Length = sizeof spt;
         spt.CdbLength = 10;
         spt.DataIn = SCSI_IOCTL_DATA_OUT;
         spt.DataTransferLength = 512;
         spt.TimeOutValue = 20;
         spt.DataBufferOffset = sizeof spt;
         const uint8_t cdb[10] = {0x2A, 0, 0, 0, 0, 0, 0, 0, 0x01, 0};
         std::memcpy(spt.Cdb, cdb, sizeof cdb);
         std::memcpy(request, &spt, sizeof spt);
         uint32_t n = 0;
         return p.deviceIoControl(h, IOCTL_SCSI_PASS_THROUGH, request, sizeof request, request, sizeof request, &n);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig({"sata_ahci"});
    rig.sys.addFile("/proc/self/mountinfo", "20 1 8:2 / / rw,relatime - ext4 /dev/sda2 rw\n");
    const Handle h = rig.open(0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(c.send(rig.platform, h));
    EXPECT_EQ(rig.platform.takeWriteRefusal(),
              "Writing to /dev/sda was refused: the disk holds the running system (mounted at /).");
    EXPECT_EQ(rig.platform.lastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(rig.sys.pwrites, 0);
    EXPECT_EQ(rig.sys.flocks, 0);
    EXPECT_TRUE(rig.sys.sgRequests.empty()) << hex(rig.sys.sgRequests.empty() ? Bytes{} : rig.sys.sgRequests[0].cdb);
    for (const auto& o : rig.sys.opens) EXPECT_EQ(o.flags & (O_RDWR | O_WRONLY), 0) << o.path;
    rig.platform.closeHandle(h);
  }
}

// The guard judges commands, not opcodes: SANITIZE STATUS only reads and goes through.
TEST(LinuxWriteGuardTest, SanitizeStatusIsNotAWrite) {
  Rig rig({"sata_ahci"});
  const Handle h = rig.open(0);
  EXPECT_TRUE(sendAtaCommand(rig.platform, h, sanitizeStatusExtCommand(0)).requestOk);
  ASSERT_EQ(rig.sys.sgRequests.size(), 1u);
  EXPECT_EQ(rig.sys.sgRequests[0].cdb[14], 0xB4);
}

// The SCT request for the temperature history only reads, through either carrier of an
// ATA command; any other SCT command written to E0h is a write, even with the same
// action code.
TEST(LinuxWriteGuardTest, OnlyTheTemperatureHistoryRequestOfSctPasses) {
  struct Case {
    const char* name;
    uint8_t action, function, table;
    bool passes;
  };
  const Case cases[] = {
      {"HistoryTable", 5, 1, 2, true},
      {"WriteTable", 5, 2, 2, false},
      {"OtherTable", 5, 1, 3, false},
      {"FeatureControl", 4, 1, 2, false},
      {"ErrorRecovery", 3, 1, 2, false},
  };
  for (const bool sat : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (sat ? " over SAT" : " over ATA pass-through"));
      Rig rig({"sata_ahci"});
      rig.sys.addFile("/proc/self/mountinfo", "20 1 8:2 / / rw,relatime - ext4 /dev/sda2 rw\n");
      const Handle h = rig.open(0);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      uint8_t request[512] = {c.action, 0, c.function, 0, c.table, 0};
      const bool ok = sat ? carrierSctCommand(rig.platform, h, kCarrierSat12, 0xA0, request) != 0
                          : ataSctCommand(rig.platform, h, request);
      if (c.passes) {
        ASSERT_EQ(rig.sys.sgRequests.size(), 1u);
        EXPECT_EQ(rig.sys.sgRequests[0].cdb[0], 0x85);
        EXPECT_TRUE(rig.platform.takeWriteRefusal().empty());
      } else {
        EXPECT_FALSE(ok);
        EXPECT_TRUE(rig.sys.sgRequests.empty());
        EXPECT_EQ(rig.platform.lastError(), ERROR_ACCESS_DENIED);
      }
      for (const auto& o : rig.sys.opens) EXPECT_EQ(o.flags & (O_RDWR | O_WRONLY), 0) << o.path;
      rig.platform.closeHandle(h);
    }
  }
}

}  // namespace
}  // namespace palvoro::real::test
