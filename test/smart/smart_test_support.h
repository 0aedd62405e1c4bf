#pragma once
// Pages written byte by byte for the SMART tests: entry i of either page starts at byte
// 2 + 12i; data entries hold ID, flags (little-endian), current, worst; threshold
// entries ID and threshold.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace palvoro::smarttest {

using Page = std::array<uint8_t, 512>;

struct Attr {
  int index;
  uint8_t id;
  uint16_t flags;
  uint8_t current;
  uint8_t worst;
};

struct Thr {
  int index;
  uint8_t id;
  uint8_t threshold;
};

template <size_t N>
inline Page dataPage(const Attr (&attributes)[N]) {
  Page page{};
  page[0] = 0x10;  // revision, not read
  for (const Attr& a : attributes) {
    const size_t at = 2 + 12 * static_cast<size_t>(a.index);
    page[at] = a.id;
    page[at + 1] = static_cast<uint8_t>(a.flags & 0xFF);
    page[at + 2] = static_cast<uint8_t>(a.flags >> 8);
    page[at + 3] = a.current;
    page[at + 4] = a.worst;
    page[at + 5] = 0x77;  // raw value bytes, not read
  }
  return page;
}

template <size_t N>
inline Page thresholdPage(const Thr (&thresholds)[N]) {
  Page page{};
  page[0] = 0x10;
  for (const Thr& t : thresholds) {
    const size_t at = 2 + 12 * static_cast<size_t>(t.index);
    page[at] = t.id;
    page[at + 1] = t.threshold;
  }
  return page;
}

// Copies a page into a 528-byte buffer at `offset` (16 behind the driver header, 0 for
// the carriers).
inline void place(uint8_t (&buffer)[528], const Page& page, size_t offset) {
  std::memcpy(buffer + offset, page.data(), page.size());
}

}  // namespace palvoro::smarttest
