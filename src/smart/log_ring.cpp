#include "smart/log_ring.h"

#include <algorithm>
#include <map>

namespace palvoro {

bool allZero(const uint8_t* bytes, size_t size) {
  return std::all_of(bytes, bytes + size, [](uint8_t b) { return b == 0; });
}

bool checksumZero(const LogPage& page) {
  uint8_t sum = 0;
  for (const uint8_t byte : page) sum = static_cast<uint8_t>(sum + byte);
  return sum == 0;
}

void walkLogRing(const LogRing& ring, const LogPage& first, uint16_t pageCount, size_t index, size_t walk,
                 const std::function<bool(uint16_t, LogPage&)>& readPage, bool& checksumValid,
                 const std::function<void(const uint8_t* record, size_t back)>& take) {
  const size_t slots = ring.recordsPerPage * pageCount;
  if (index == 0 || index > slots) return;
  // Each page is read once, however many of its records the walk takes.
  std::map<uint16_t, LogPage> later;
  for (size_t back = 0; back < std::min(walk, slots); ++back) {
    const size_t slot = (index - 1 + slots - back) % slots;
    const auto pageNumber = static_cast<uint16_t>(slot / ring.recordsPerPage);
    const LogPage* page = &first;
    if (pageNumber != 0) {
      auto found = later.find(pageNumber);
      if (found == later.end()) {
        LogPage read{};
        if (!readPage(pageNumber, read)) return;
        if (!checksumZero(read)) checksumValid = false;
        found = later.emplace(pageNumber, read).first;
      }
      page = &found->second;
    }
    const uint8_t* record = page->data() + ring.firstRecord + (slot % ring.recordsPerPage) * ring.recordBytes;
    if (allZero(record, ring.recordBytes)) return;
    take(record, back);
  }
}

}  // namespace palvoro
