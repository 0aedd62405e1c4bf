#pragma once
// Sparse sector media of a simulated drive: sectors never written read as zeros and cost
// nothing, so a simulated 4 TB drive is cheap. Sectors can be marked unreadable or
// unwritable, or as losing their writes; a write of zeros frees the sector again.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace palvoro::sim {

// Sectors kept as closed ranges: a description may mark a hundred thousand sectors in one
// entry, and that must cost one entry, not a hundred thousand.
class SectorRanges {
 public:
  // Adds [first, last]; ranges that meet or touch become one.
  void add(uint64_t first, uint64_t last);
  // Removes [lba, lba + count).
  void remove(uint64_t lba, uint64_t count);
  bool contains(uint64_t sector) const { return firstIn(sector, 1).has_value(); }
  // Whether one range holds all of [lba, lba + count).
  bool covers(uint64_t lba, uint64_t count) const;
  // The first sector of [lba, lba + count) that a range holds.
  std::optional<uint64_t> firstIn(uint64_t lba, uint64_t count) const;
  bool empty() const { return m_ranges.empty(); }
  void clear() { m_ranges.clear(); }
  size_t rangeCount() const { return m_ranges.size(); }
  // Every sector one by one (for tests of a few sectors).
  std::set<uint64_t> sectors() const;

 private:
  std::map<uint64_t, uint64_t> m_ranges;  // first -> last; disjoint, never touching
};

class SimMedia {
 public:
  SimMedia() = default;
  SimMedia(uint64_t sectorCount, uint32_t sectorSize);

  uint64_t sectorCount() const { return m_sectorCount; }
  uint32_t sectorSize() const { return m_sectorSize; }

  // Reads `count` sectors from `lba` into `out` (count * sectorSize bytes). Returns false
  // and sets `failedLba` at the first unreadable sector; sectors before it are delivered.
  bool read(uint64_t lba, uint64_t count, uint8_t* out, uint64_t* failedLba = nullptr) const;
  // Writes sectors; stops at the first unwritable sector with `failedLba`. A sector that
  // loses its writes is passed over as if written: it keeps its old data.
  bool write(uint64_t lba, uint64_t count, const uint8_t* data, uint64_t* failedLba = nullptr);
  // First unreadable sector in [lba, lba+count), if any.
  bool findUnreadable(uint64_t lba, uint64_t count, uint64_t* failedLba) const;
  // Deallocates sectors: they read as zeros and a pending unreadable mark is dropped,
  // as a drive that reallocates on TRIM does.
  void trim(uint64_t lba, uint64_t count);
  // Block erase of the whole unit: everything reads as zeros and bad marks are cleared.
  void eraseAll();
  // A drive's own erase of the whole unit, without touching each sector: what was stored
  // and every bad mark go, and from then on each sector never written reads as the erase
  // left it. fillAll: `pattern` repeated (a little-endian dword), as a block erase or an
  // overwrite leaves it. scrambleAll: bytes drawn from `key` and the sector's LBA, as a
  // cryptographic erase leaves them: unlike anything before, the same on every read.
  void fillAll(uint32_t pattern);
  void scrambleAll(uint64_t key);
  // The sectors the host sees: all of them unless a Host Protected Area hides the end.
  uint64_t hostSectors() const { return m_hostSectors ? *m_hostSectors : m_sectorCount; }
  void setHostSectors(std::optional<uint64_t> sectors) { m_hostSectors = sectors; }

  void markUnreadable(uint64_t lba) { m_unreadable.add(lba, lba); }
  void markUnwritable(uint64_t lba) { m_unwritable.add(lba, lba); }
  void markUnreadable(uint64_t first, uint64_t last) { m_unreadable.add(first, last); }
  void markUnwritable(uint64_t first, uint64_t last) { m_unwritable.add(first, last); }
  // A drive whose cache or firmware acknowledges a write that never reaches the media: the
  // write succeeds and the sector keeps what it held, a pending unreadable mark included.
  // TRIM and the block erase still clear the data, since neither goes through a write.
  void markLostWrites(uint64_t first, uint64_t last) { m_lostWrites.add(first, last); }
  // A region the drive reads and writes slowly (it retries internally): a transfer that
  // touches it takes `microseconds`; the slowest region it touches counts.
  void markSlow(uint64_t first, uint64_t last, uint64_t microseconds) {
    m_slow.push_back({first, last, microseconds});
  }
  // What a transfer of `count` sectors from `lba` takes on the drive's clock.
  uint64_t transferMicroseconds(uint64_t lba, uint64_t count) const;
  std::set<uint64_t> lostWrites() const { return m_lostWrites.sectors(); }
  bool isUnreadable(uint64_t lba) const { return m_unreadable.contains(lba); }
  std::set<uint64_t> unreadable() const { return m_unreadable.sectors(); }
  std::set<uint64_t> unwritable() const { return m_unwritable.sectors(); }
  const SectorRanges& unreadableRanges() const { return m_unreadable; }
  // Sectors holding data other than what the unit reads unwritten (zeros until fillAll or
  // scrambleAll).
  size_t storedSectors() const { return m_sectors.size(); }
  // Whether any sector of [lba, lba+count) holds data other than zeros.
  bool anyData(uint64_t lba, uint64_t count) const;

 private:
  struct SlowRegion {
    uint64_t first, last, microseconds;
  };
  // What a sector never written since the last whole-unit erase reads as.
  struct Unwritten {
    bool scrambled = false;
    uint32_t pattern = 0;  // fillAll's
    uint64_t key = 0;      // scrambleAll's
    bool zeros() const { return !scrambled && pattern == 0; }
  };
  void fillUnwritten(uint64_t lba, uint8_t* out) const;
  Unwritten m_unwritten;
  // Sectors written with zeros (or deallocated) since a whole-unit erase that left them
  // reading otherwise: kept as ranges, so a zero pass over a whole drive costs one entry.
  SectorRanges m_zeroed;
  std::vector<SlowRegion> m_slow;
  uint64_t m_sectorCount = 0;
  std::optional<uint64_t> m_hostSectors;
  uint32_t m_sectorSize = 512;
  std::map<uint64_t, std::vector<uint8_t>> m_sectors;
  SectorRanges m_unreadable;
  SectorRanges m_unwritable;
  SectorRanges m_lostWrites;
};

}  // namespace palvoro::sim
