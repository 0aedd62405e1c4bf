#pragma once
// Multi-byte fields of drive records and command blocks. ATA, NVMe and the Windows
// records are little-endian; SCSI command blocks and their data (READ CAPACITY, VPD page
// lengths, the RAID status pages) are big-endian. Every field is read and written byte by
// byte, so neither the host's order nor a field's alignment matters.

#include <cstddef>
#include <cstdint>

namespace palvoro {

// The `bytes` (at most 8) bytes at `p` as a little-endian number.
constexpr uint64_t loadLe(const uint8_t* p, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = bytes; i-- > 0;) value = (value << 8) | p[i];
  return value;
}

// The `bytes` (at most 8) bytes at `p` as a big-endian number.
constexpr uint64_t loadBe(const uint8_t* p, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < bytes; ++i) value = (value << 8) | p[i];
  return value;
}

// The low `bytes` bytes of `value` at `p`, least significant first.
constexpr void storeLe(uint8_t* p, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The low `bytes` bytes of `value` at `p`, most significant first.
constexpr void storeBe(uint8_t* p, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

constexpr uint16_t loadLe16(const uint8_t* p) { return static_cast<uint16_t>(loadLe(p, 2)); }
constexpr uint32_t loadLe32(const uint8_t* p) { return static_cast<uint32_t>(loadLe(p, 4)); }
constexpr uint64_t loadLe48(const uint8_t* p) { return loadLe(p, 6); }
constexpr uint64_t loadLe64(const uint8_t* p) { return loadLe(p, 8); }
constexpr uint16_t loadBe16(const uint8_t* p) { return static_cast<uint16_t>(loadBe(p, 2)); }
constexpr uint32_t loadBe32(const uint8_t* p) { return static_cast<uint32_t>(loadBe(p, 4)); }
constexpr uint64_t loadBe48(const uint8_t* p) { return loadBe(p, 6); }
constexpr uint64_t loadBe64(const uint8_t* p) { return loadBe(p, 8); }

constexpr void storeLe16(uint8_t* p, uint16_t v) { storeLe(p, v, 2); }
constexpr void storeLe32(uint8_t* p, uint32_t v) { storeLe(p, v, 4); }
constexpr void storeLe48(uint8_t* p, uint64_t v) { storeLe(p, v, 6); }
constexpr void storeLe64(uint8_t* p, uint64_t v) { storeLe(p, v, 8); }
constexpr void storeBe16(uint8_t* p, uint16_t v) { storeBe(p, v, 2); }
constexpr void storeBe32(uint8_t* p, uint32_t v) { storeBe(p, v, 4); }
constexpr void storeBe48(uint8_t* p, uint64_t v) { storeBe(p, v, 6); }
constexpr void storeBe64(uint8_t* p, uint64_t v) { storeBe(p, v, 8); }

}  // namespace palvoro
