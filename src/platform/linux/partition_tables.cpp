#include "platform/linux/partition_tables.h"

#include <algorithm>
#include <cstring>

#include "protocol/byte_order.h"

namespace palvoro::real {
namespace {

constexpr uint32_t kHeaderMinimumSize = 92;
constexpr uint32_t kEntryMinimumSize = 128;
// No partitioning tool writes an entry array this large; a header claiming one is not
// taken at its word, as its numbers would reach far into the data.
constexpr uint64_t kEntryArrayLimit = 1u << 20;

struct Header {
  uint64_t alternate = 0;
  uint64_t entriesLba = 0;
  uint64_t entriesBytes = 0;
};

[[nodiscard]] bool readHeader(const SectorReader& read, uint32_t sectorSize, uint64_t sectorCount, uint64_t lba,
                              Header* out) {
  std::vector<uint8_t> sector(sectorSize);
  if (lba >= sectorCount || !read(lba, sector.data())) return false;
  if (std::memcmp(sector.data(), "EFI PART", 8) != 0) return false;
  const uint32_t headerSize = loadLe32(sector.data() + 12);
  if (headerSize < kHeaderMinimumSize || headerSize > sectorSize) return false;
  if (loadLe64(sector.data() + 24) != lba) return false;  // a header names where it lies
  out->alternate = loadLe64(sector.data() + 32);
  out->entriesLba = loadLe64(sector.data() + 72);
  const uint64_t count = loadLe32(sector.data() + 80);
  const uint64_t size = loadLe32(sector.data() + 84);
  out->entriesBytes = size >= kEntryMinimumSize && size % kEntryMinimumSize == 0 ? count * size : 0;
  if (out->entriesBytes > kEntryArrayLimit) out->entriesBytes = 0;
  return true;
}

}  // namespace

std::vector<ByteRange> gptRanges(const SectorReader& read, uint32_t sectorSize, uint64_t sectorCount) {
  std::vector<ByteRange> ranges;
  if (sectorSize == 0 || sectorCount < 3) return ranges;
  std::vector<uint64_t> candidates{1, sectorCount - 1};
  Header primary;
  if (readHeader(read, sectorSize, sectorCount, 1, &primary)) candidates.push_back(primary.alternate);
  std::sort(candidates.begin(), candidates.end());
  candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
  for (uint64_t lba : candidates) {
    Header h;
    if (lba == 0 || !readHeader(read, sectorSize, sectorCount, lba, &h)) continue;
    ranges.push_back(ByteRange{lba * sectorSize, sectorSize});
    if (h.entriesBytes == 0 || h.entriesLba == 0 || h.entriesLba >= sectorCount) continue;
    const uint64_t sectors = std::min((h.entriesBytes + sectorSize - 1) / sectorSize, sectorCount - h.entriesLba);
    ranges.push_back(ByteRange{h.entriesLba * sectorSize, sectors * sectorSize});
  }
  // Adjacent or overlapping pieces become one, so that each sector is written once.
  std::sort(ranges.begin(), ranges.end(), [](const ByteRange& a, const ByteRange& b) { return a.offset < b.offset; });
  std::vector<ByteRange> merged;
  for (const ByteRange& r : ranges) {
    if (!merged.empty() && r.offset <= merged.back().offset + merged.back().length) {
      const uint64_t end = std::max(merged.back().offset + merged.back().length, r.offset + r.length);
      merged.back().length = end - merged.back().offset;
    } else {
      merged.push_back(r);
    }
  }
  return merged;
}

}  // namespace palvoro::real
