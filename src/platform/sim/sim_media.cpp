#include "platform/sim/sim_media.h"

#include <algorithm>
#include <cstring>

namespace palvoro::sim {

SimMedia::SimMedia(uint64_t sectorCount, uint32_t sectorSize)
    : m_sectorCount(sectorCount), m_sectorSize(sectorSize) {}

bool SimMedia::findUnreadable(uint64_t lba, uint64_t count, uint64_t* failedLba) const {
  auto it = m_unreadable.lower_bound(lba);
  if (it != m_unreadable.end() && *it - lba < count) {
    if (failedLba != nullptr) *failedLba = *it;
    return true;
  }
  return false;
}

bool SimMedia::anyData(uint64_t lba, uint64_t count) const {
  auto it = m_sectors.lower_bound(lba);
  return it != m_sectors.end() && it->first - lba < count;
}

bool SimMedia::read(uint64_t lba, uint64_t count, uint8_t* out, uint64_t* failedLba) const {
  uint64_t bad = 0;
  const bool hasBad = findUnreadable(lba, count, &bad);
  const uint64_t good = hasBad ? bad - lba : count;
  std::memset(out, 0, static_cast<size_t>(good) * m_sectorSize);
  for (auto it = m_sectors.lower_bound(lba); it != m_sectors.end() && it->first - lba < good; ++it) {
    std::memcpy(out + (it->first - lba) * m_sectorSize, it->second.data(), m_sectorSize);
  }
  if (hasBad && failedLba != nullptr) *failedLba = bad;
  return !hasBad;
}

bool SimMedia::write(uint64_t lba, uint64_t count, const uint8_t* data, uint64_t* failedLba) {
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t sector = lba + i;
    if (m_unwritable.count(sector) != 0) {
      if (failedLba != nullptr) *failedLba = sector;
      return false;
    }
    const uint8_t* src = data + i * m_sectorSize;
    const bool zero = std::all_of(src, src + m_sectorSize, [](uint8_t b) { return b == 0; });
    if (zero) {
      m_sectors.erase(sector);
    } else {
      m_sectors[sector].assign(src, src + m_sectorSize);
    }
    // A written sector is reallocated if it was pending: it reads again.
    m_unreadable.erase(sector);
  }
  return true;
}

void SimMedia::trim(uint64_t lba, uint64_t count) {
  m_sectors.erase(m_sectors.lower_bound(lba), m_sectors.lower_bound(lba + count));
  m_unreadable.erase(m_unreadable.lower_bound(lba), m_unreadable.lower_bound(lba + count));
}

void SimMedia::eraseAll() {
  m_sectors.clear();
  m_unreadable.clear();
  m_unwritable.clear();
}

}  // namespace palvoro::sim
