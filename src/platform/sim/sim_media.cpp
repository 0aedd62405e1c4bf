#include "platform/sim/sim_media.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace palvoro::sim {

void SectorRanges::add(uint64_t first, uint64_t last) {
  auto it = m_ranges.upper_bound(first);
  if (it != m_ranges.begin()) {
    const auto before = std::prev(it);
    if (before->second >= first || before->second + 1 == first) {
      first = before->first;
      last = std::max(last, before->second);
      m_ranges.erase(before);
    }
  }
  it = m_ranges.lower_bound(first);
  while (it != m_ranges.end() && (last == UINT64_MAX || it->first <= last + 1)) {
    last = std::max(last, it->second);
    it = m_ranges.erase(it);
  }
  m_ranges[first] = last;
}

void SectorRanges::remove(uint64_t lba, uint64_t count) {
  if (count == 0) return;
  const uint64_t end = count - 1 > UINT64_MAX - lba ? UINT64_MAX : lba + count - 1;  // last removed
  auto it = m_ranges.upper_bound(lba);
  if (it != m_ranges.begin() && std::prev(it)->second >= lba) it = std::prev(it);
  std::vector<std::pair<uint64_t, uint64_t>> keep;
  while (it != m_ranges.end() && it->first <= end) {
    if (it->first < lba) keep.emplace_back(it->first, lba - 1);
    if (it->second > end) keep.emplace_back(end + 1, it->second);
    it = m_ranges.erase(it);
  }
  for (const auto& [first, last] : keep) m_ranges[first] = last;
}

std::optional<uint64_t> SectorRanges::firstIn(uint64_t lba, uint64_t count) const {
  if (count == 0) return std::nullopt;
  auto it = m_ranges.upper_bound(lba);
  if (it != m_ranges.begin() && std::prev(it)->second >= lba) return lba;
  if (it != m_ranges.end() && it->first - lba < count) return it->first;
  return std::nullopt;
}

bool SectorRanges::covers(uint64_t lba, uint64_t count) const {
  if (count == 0) return true;
  auto it = m_ranges.upper_bound(lba);
  if (it == m_ranges.begin()) return false;
  --it;
  return it->first <= lba && it->second >= lba + (count - 1);
}

std::set<uint64_t> SectorRanges::sectors() const {
  std::set<uint64_t> all;
  for (const auto& [first, last] : m_ranges) {
    for (uint64_t s = first;; ++s) {
      all.insert(s);
      if (s == last) break;
    }
  }
  return all;
}

SimMedia::SimMedia(uint64_t sectorCount, uint32_t sectorSize)
    : m_sectorCount(sectorCount), m_sectorSize(sectorSize) {}

bool SimMedia::findUnreadable(uint64_t lba, uint64_t count, uint64_t* failedLba) const {
  const std::optional<uint64_t> bad = m_unreadable.firstIn(lba, count);
  if (bad && failedLba != nullptr) *failedLba = *bad;
  return bad.has_value();
}

bool SimMedia::anyData(uint64_t lba, uint64_t count) const {
  if (!m_unwritten.zeros() && !m_zeroed.covers(lba, count)) return true;
  auto it = m_sectors.lower_bound(lba);
  return it != m_sectors.end() && it->first - lba < count;
}

bool SimMedia::read(uint64_t lba, uint64_t count, uint8_t* out, uint64_t* failedLba) const {
  uint64_t bad = 0;
  const bool hasBad = findUnreadable(lba, count, &bad);
  const uint64_t good = hasBad ? bad - lba : count;
  if (m_unwritten.zeros()) {
    std::memset(out, 0, static_cast<size_t>(good) * m_sectorSize);
  } else {
    for (uint64_t i = 0; i < good; ++i) {
      uint8_t* sector = out + i * m_sectorSize;
      if (m_zeroed.contains(lba + i)) {
        std::memset(sector, 0, m_sectorSize);
      } else {
        fillUnwritten(lba + i, sector);
      }
    }
  }
  for (auto it = m_sectors.lower_bound(lba); it != m_sectors.end() && it->first - lba < good; ++it) {
    std::memcpy(out + (it->first - lba) * m_sectorSize, it->second.data(), m_sectorSize);
  }
  if (hasBad && failedLba != nullptr) *failedLba = bad;
  return !hasBad;
}

bool SimMedia::write(uint64_t lba, uint64_t count, const uint8_t* data, uint64_t* failedLba) {
  // Sectors before the first unwritable one are written; it and the rest are not.
  const std::optional<uint64_t> stop = m_unwritable.firstIn(lba, count);
  const uint64_t good = stop ? *stop - lba : count;
  // Looked up sector by sector only when the write touches such a sector at all.
  const bool losesSome = m_lostWrites.firstIn(lba, good).has_value();
  for (uint64_t i = 0; i < good; ++i) {
    const uint64_t sector = lba + i;
    if (losesSome && m_lostWrites.contains(sector)) continue;
    const uint8_t* src = data + i * m_sectorSize;
    const bool zero = std::all_of(src, src + m_sectorSize, [](uint8_t b) { return b == 0; });
    if (zero) {
      m_sectors.erase(sector);
      if (!m_unwritten.zeros()) m_zeroed.add(sector, sector);
    } else {
      m_sectors[sector].assign(src, src + m_sectorSize);
    }
  }
  // A written sector is reallocated if it was pending: it reads again.
  if (!losesSome) {
    m_unreadable.remove(lba, good);
  } else {
    for (uint64_t sector = lba; sector < lba + good; ++sector) {
      if (!m_lostWrites.contains(sector)) m_unreadable.remove(sector, 1);
    }
  }
  if (stop && failedLba != nullptr) *failedLba = *stop;
  return !stop;
}

void SimMedia::trim(uint64_t lba, uint64_t count) {
  m_sectors.erase(m_sectors.lower_bound(lba), m_sectors.lower_bound(lba + count));
  m_unreadable.remove(lba, count);
  if (!m_unwritten.zeros() && count != 0) m_zeroed.add(lba, lba + count - 1);
}

void SimMedia::eraseAll() {
  m_sectors.clear();
  m_unreadable.clear();
  m_unwritable.clear();
  m_unwritten = Unwritten{};
  m_zeroed.clear();
}

void SimMedia::fillAll(uint32_t pattern) {
  eraseAll();
  m_unwritten = Unwritten{false, pattern, 0};
}

void SimMedia::scrambleAll(uint64_t key) {
  eraseAll();
  m_unwritten = Unwritten{true, 0, key};
}

void SimMedia::fillUnwritten(uint64_t lba, uint8_t* out) const {
  for (uint32_t i = 0; i < m_sectorSize; i += 4) {
    uint32_t word = m_unwritten.pattern;
    if (m_unwritten.scrambled) {
      // splitmix64 of the key, the sector and the dword: cheap, and no two sectors alike.
      uint64_t z = m_unwritten.key + (lba * m_sectorSize + i) * 0x9E3779B97F4A7C15ull;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      word = static_cast<uint32_t>(z ^ (z >> 31));
    }
    for (uint32_t b = 0; b < 4 && i + b < m_sectorSize; ++b) out[i + b] = static_cast<uint8_t>(word >> (8 * b));
  }
}

uint64_t SimMedia::transferMicroseconds(uint64_t lba, uint64_t count) const {
  uint64_t slowest = 0;
  if (count == 0 || m_slow.empty()) return 0;
  const uint64_t last = lba + count - 1;
  for (const SlowRegion& region : m_slow) {
    if (region.first <= last && lba <= region.last) slowest = std::max(slowest, region.microseconds);
  }
  return slowest;
}

}  // namespace palvoro::sim
