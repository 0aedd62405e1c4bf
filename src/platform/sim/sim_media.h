#pragma once
// Sparse sector media of a simulated drive: sectors never written read as zeros and cost
// nothing, so a simulated 4 TB drive is cheap. Sectors can be marked unreadable or
// unwritable; a write of zeros frees the sector again.

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace palvoro::sim {

class SimMedia {
 public:
  SimMedia() = default;
  SimMedia(uint64_t sectorCount, uint32_t sectorSize);

  uint64_t sectorCount() const { return m_sectorCount; }
  uint32_t sectorSize() const { return m_sectorSize; }

  // Reads `count` sectors from `lba` into `out` (count * sectorSize bytes). Returns false
  // and sets `failedLba` at the first unreadable sector; sectors before it are delivered.
  bool read(uint64_t lba, uint64_t count, uint8_t* out, uint64_t* failedLba = nullptr) const;
  // Writes sectors; stops at the first unwritable sector with `failedLba`.
  bool write(uint64_t lba, uint64_t count, const uint8_t* data, uint64_t* failedLba = nullptr);
  // First unreadable sector in [lba, lba+count), if any.
  bool findUnreadable(uint64_t lba, uint64_t count, uint64_t* failedLba) const;
  // Deallocates sectors: they read as zeros and a pending unreadable mark is dropped,
  // as a drive that reallocates on TRIM does.
  void trim(uint64_t lba, uint64_t count);
  // Block erase of the whole unit: everything reads as zeros and bad marks are cleared.
  void eraseAll();

  void markUnreadable(uint64_t lba) { m_unreadable.insert(lba); }
  void markUnwritable(uint64_t lba) { m_unwritable.insert(lba); }
  bool isUnreadable(uint64_t lba) const { return m_unreadable.count(lba) != 0; }
  const std::set<uint64_t>& unreadable() const { return m_unreadable; }
  const std::set<uint64_t>& unwritable() const { return m_unwritable; }
  // Sectors holding data other than zeros.
  size_t storedSectors() const { return m_sectors.size(); }
  // Whether any sector of [lba, lba+count) holds data other than zeros.
  bool anyData(uint64_t lba, uint64_t count) const;

 private:
  uint64_t m_sectorCount = 0;
  uint32_t m_sectorSize = 512;
  std::map<uint64_t, std::vector<uint8_t>> m_sectors;
  std::set<uint64_t> m_unreadable;
  std::set<uint64_t> m_unwritable;
};

}  // namespace palvoro::sim
