#include "diagnostics/block_latency.h"

#include <algorithm>

namespace palvoro {

namespace {

// A sector offset times a stripe count can pass 64 bits on a large drive.
__extension__ typedef unsigned __int128 Wide;

// Whether `a` is kept before `b`: slower first, then the lower sector.
bool slowerFirst(const SlowBlock& a, const SlowBlock& b) {
  return a.microseconds != b.microseconds ? a.microseconds > b.microseconds : a.firstSector < b.firstSector;
}

}  // namespace

size_t latencyBucket(uint64_t microseconds) {
  size_t bucket = 0;
  while (bucket < kLatencyBucketLimits.size() && microseconds >= kLatencyBucketLimits[bucket]) ++bucket;
  return bucket;
}

void BlockLatencyMap::begin(uint64_t first, uint64_t end) {
  m_first = first;
  m_end = std::max(first, end);
  m_histogram.fill(0);
  m_slowestCount = 0;
  m_cursor = 0;
  const uint64_t span = m_end - m_first;
  const uint64_t count = std::min(span, kMaxStripes);
  m_stripes.assign(count, LatencyStripe{});
  for (uint64_t i = 0; i < count; ++i) {
    // Equal shares, the remainder spread so that the last stripe ends at `end`.
    m_stripes[i].firstSector = m_first + static_cast<uint64_t>(static_cast<Wide>(span) * i / count);
    m_stripes[i].endSector = m_first + static_cast<uint64_t>(static_cast<Wide>(span) * (i + 1) / count);
  }
}

void BlockLatencyMap::record(uint64_t firstSector, uint64_t microseconds, bool readable) noexcept {
  LatencyStripe* stripe = nullptr;
  if (!m_stripes.empty() && firstSector >= m_first && firstSector < m_end) {
    // A scan walks forward: the stripe is the last one or a later one, found without a
    // division. Only a block behind it (the random reads are not timed; a caller going
    // back) is placed by computing its share.
    size_t index = m_cursor;
    if (firstSector < m_stripes[index].firstSector) {
      const auto span = static_cast<Wide>(m_end - m_first);
      index = static_cast<size_t>(static_cast<Wide>(firstSector - m_first) * m_stripes.size() / span);
    }
    // The shares are rounded down: a sector on a boundary can belong to the next stripe.
    while (index + 1 < m_stripes.size() && firstSector >= m_stripes[index].endSector) ++index;
    m_cursor = index;
    stripe = &m_stripes[index];
  }
  if (!readable) {
    ++m_histogram[kUnreadableBucket];
    if (stripe != nullptr) ++stripe->unreadable;
    return;
  }
  ++m_histogram[latencyBucket(microseconds)];
  if (stripe != nullptr) {
    ++stripe->blocks;
    stripe->totalMicroseconds += microseconds;
    stripe->worstMicroseconds = std::max(stripe->worstMicroseconds, microseconds);
  }
  const SlowBlock block{firstSector, microseconds};
  if (m_slowestCount < kSlowestKept) {
    m_slowest[m_slowestCount++] = block;
    std::push_heap(m_slowest.begin(), m_slowest.begin() + static_cast<std::ptrdiff_t>(m_slowestCount), slowerFirst);
  } else if (slowerFirst(block, m_slowest.front())) {
    std::pop_heap(m_slowest.begin(), m_slowest.end(), slowerFirst);
    m_slowest.back() = block;
    std::push_heap(m_slowest.begin(), m_slowest.end(), slowerFirst);
  }
}

uint64_t BlockLatencyMap::blocks() const {
  uint64_t total = 0;
  for (const uint64_t count : m_histogram) total += count;
  return total;
}

std::vector<SlowBlock> BlockLatencyMap::slowest() const {
  std::vector<SlowBlock> sorted(m_slowest.begin(), m_slowest.begin() + static_cast<std::ptrdiff_t>(m_slowestCount));
  std::sort(sorted.begin(), sorted.end(), slowerFirst);
  return sorted;
}

const char* latencyBucketLabel(size_t bucket) {
  static constexpr const char* kLabels[kLatencyBuckets] = {"< 5 ms",   "< 20 ms",        "< 50 ms",   "< 150 ms",
                                                           "< 500 ms", "500 ms or more", "unreadable"};
  return bucket < kLatencyBuckets ? kLabels[bucket] : "";
}

std::vector<std::string> latencyHints(const BlockLatencyMap& map) {
  std::vector<std::string> hints;
  const auto blocks = [](uint64_t n) { return std::to_string(n) + (n == 1 ? " block" : " blocks"); };
  const uint64_t verySlow = map.histogram()[5];
  const uint64_t slow = map.histogram()[4];
  if (verySlow > 0) {
    hints.push_back(blocks(verySlow) + " took 500 ms or more to read: the drive is retrying; back up its data.");
  }
  if (slow > 0) {
    hints.push_back(blocks(slow) + " took 150 to 500 ms to read: the drive may be starting to retry; test it "
                    "again before long.");
  }
  return hints;
}

}  // namespace palvoro
