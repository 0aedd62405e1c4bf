#pragma once
// Raw request records written byte by byte, so the simulator's checks are tested
// without the command layer that the simulator exists to check.

#include <array>
#include <cstdint>
#include <vector>

#include "platform/sim/sim_platform.h"

namespace palvoro::sim::testing {

// A 552-byte ATA pass-through buffer: 40-byte header plus 512 data bytes.
struct RawAta {
  std::array<uint8_t, 552> bytes{};

  RawAta(uint16_t flags, uint32_t transferLength, std::array<uint8_t, 7> current,
         std::array<uint8_t, 7> previous = {}) {
    bytes[0] = 40;  // Length
    bytes[2] = static_cast<uint8_t>(flags);
    bytes[3] = static_cast<uint8_t>(flags >> 8);
    put32(8, transferLength);
    put32(12, 30);  // TimeOutValue
    put32(20, 40);  // DataBufferOffset
    for (int i = 0; i < 7; ++i) {
      bytes[static_cast<size_t>(24 + i)] = previous[static_cast<size_t>(i)];
      bytes[static_cast<size_t>(32 + i)] = current[static_cast<size_t>(i)];
    }
  }
  void put32(size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  uint8_t status() const { return bytes[38]; }
  uint8_t error() const { return bytes[32]; }
  uint8_t lbaMid() const { return bytes[35]; }
  uint8_t lbaHigh() const { return bytes[36]; }
  uint8_t* data() { return bytes.data() + 40; }
};

// A machine with one plain drive of `sectors` sectors, and optionally volumes.
inline SimMachine oneDriveMachine(uint64_t sectors = 1000000) {
  SimMachine m;
  m.name = "test";
  SimDrive d;
  d.number = 0;
  IdentityDescription identity;
  identity.model = "TEST MODEL";
  identity.serial = "SN1";
  identity.firmware = "FW1";
  identity.sectors = sectors;
  identity.trim = true;
  identity.sanitize = true;
  d.ata.units[0].identify = makeIdentify(identity);
  d.ata.units[0].media = SimMedia(sectors, 512);
  d.ata.units[0].smart.attributes = {{1, 0x000B, 100, 100, 0, 16}, {9, 0x0012, 98, 98, 1234, 0}};
  m.drives.push_back(std::move(d));
  return m;
}

inline Handle openDrive(SimPlatform& p, int n = 0, uint32_t access = GENERIC_READ | GENERIC_WRITE) {
  return p.createFile("\\\\.\\PhysicalDrive" + std::to_string(n), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      OPEN_EXISTING, 0);
}

// Sends `raw` with the given lengths through one shared buffer, as the program does.
inline bool sendRaw(SimPlatform& p, Handle h, RawAta& raw, uint32_t inSize, uint32_t outSize,
                    uint32_t* returned = nullptr) {
  uint32_t r = 0;
  const bool ok = p.deviceIoControl(h, 0x0004D02C, raw.bytes.data(), inSize, raw.bytes.data(), outSize, &r);
  if (returned != nullptr) *returned = r;
  return ok;
}

}  // namespace palvoro::sim::testing
