#pragma once
// A LinuxPlatform over a fake machine built from the lab's fixtures, and what the tests
// of the backend share.

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>

#include "fake_sys_calls.h"
#include "platform/linux/linux_platform.h"

namespace palvoro::real::test {

inline constexpr uint32_t kReadWrite = 0x80000000u | 0x40000000u;  // GENERIC_READ | GENERIC_WRITE

// A block node of the fake /dev tree, by the disk's kernel name. FakeSysCalls answers every
// call on it under its own root: no test reaches a device of this machine.
inline std::string fakeNode(const std::string& disk) { return "/dev/" + disk; }

// Fixed-format and descriptor sense the lab's kernel returned (QEMU 7.2, kernel 6.1).
// SMART RETURN STATUS with CK_COND on the SATA disk: registers in an ATA Status Return
// descriptor, LBA mid/high 4Fh/C2h.
inline const Bytes kLabReturnStatusGood = {0x72, 0x01, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x0E, 0x09, 0x0C, 0x00,
                                           0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4F, 0x00, 0xC2, 0x00, 0x50};
// READ SECTOR(S) of a bad sector (LBA 1000), libata's fixed layout: error 04h, status
// 41h, device E0h, count 01h in bytes 8-11, LBA low E8h in byte 17.
inline const Bytes kLabBadSectorPio = {0x70, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x04,
                                       0x41, 0xE0, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE8};
// READ DMA EXT of the same sector: byte 16 bit 7 says the command was 48-bit.
inline const Bytes kLabBadSectorDmaExt = {0x70, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x04,
                                          0x41, 0x40, 0x01, 0x00, 0x00, 0x00, 0x00, 0x80, 0xE8};
// ATA PASS-THROUGH (16) on the virtio-SCSI disk: ILLEGAL REQUEST, 20h/00h.
inline const Bytes kLabIllegalRequest = {0x70, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00,
                                         0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00};

inline std::string hex(const Bytes& bytes) {
  std::string out;
  char two[4];
  for (uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02x ", b);
    out += two;
  }
  return out;
}

// CHECK CONDITION with `sense`, as the kernel reports it (DRIVER_SENSE set).
inline SgAnswer checkCondition(const Bytes& sense) {
  SgAnswer a;
  a.status = 0x02;
  a.driverStatus = 0x08;
  a.sense = sense;
  return a;
}

struct Rig {
  explicit Rig(std::initializer_list<const char*> fixtures) {
    for (const char* f : fixtures) sys.loadFixture(f);
  }
  Handle open(int drive, uint32_t access = kReadWrite) {
    return platform.createFile("\\\\.\\PhysicalDrive" + std::to_string(drive), access, 3, 3 /* OPEN_EXISTING */, 0);
  }
  FakeSysCalls sys;
  LinuxPlatform platform{sys, sys.root()};
};

}  // namespace palvoro::real::test
