#pragma once
// How long each block of a scan took: a histogram, the slowest blocks and a coarse map of
// the surface. A drive that retries a weak block internally reads it slowly long before the
// block becomes unreadable, so the times tell what a pass/fail verdict cannot.
//
// Recording a block allocates nothing and costs a few comparisons: the scan loop calls it
// for every block, and the scan must keep its speed.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace palvoro {

// The upper limits of the histogram's timed buckets, in microseconds: < 5 ms, < 20 ms,
// < 50 ms, < 150 ms, < 500 ms; the sixth bucket holds the rest (500 ms or more) and the
// seventh the blocks that could not be read.
inline constexpr std::array<uint64_t, 5> kLatencyBucketLimits = {5'000, 20'000, 50'000, 150'000, 500'000};
inline constexpr size_t kLatencyBuckets = kLatencyBucketLimits.size() + 2;
inline constexpr size_t kUnreadableBucket = kLatencyBuckets - 1;

// The histogram bucket of a readable block that took `microseconds`.
size_t latencyBucket(uint64_t microseconds);

// The bucket's name as the program prints it: "< 5 ms" ... "500 ms or more", "unreadable".
const char* latencyBucketLabel(size_t bucket);

struct SlowBlock {
  uint64_t firstSector = 0;
  uint64_t microseconds = 0;
  bool operator==(const SlowBlock&) const = default;
};

// One stripe of the surface: the sectors first..end (exclusive) and the blocks that began
// in it.
struct LatencyStripe {
  uint64_t firstSector = 0;
  uint64_t endSector = 0;
  uint64_t blocks = 0;             // timed blocks (readable ones)
  uint64_t totalMicroseconds = 0;  // of the timed blocks
  uint64_t worstMicroseconds = 0;
  uint64_t unreadable = 0;         // blocks that could not be read
  uint64_t meanMicroseconds() const { return blocks == 0 ? 0 : totalMicroseconds / blocks; }
};

class BlockLatencyMap {
 public:
  static constexpr size_t kSlowestKept = 100;
  static constexpr uint64_t kMaxStripes = 1000;

  // Starts a map of the sectors first..end (exclusive): as many stripes as sectors, at most
  // kMaxStripes, each an equal share. Allocates here, never in record().
  void begin(uint64_t first, uint64_t end);

  // One block beginning at `firstSector`: its time, or that it could not be read. A block
  // outside the mapped sectors counts in the histogram only.
  void record(uint64_t firstSector, uint64_t microseconds, bool readable) noexcept;

  uint64_t first() const { return m_first; }
  uint64_t end() const { return m_end; }
  const std::array<uint64_t, kLatencyBuckets>& histogram() const { return m_histogram; }
  uint64_t blocks() const;  // every block recorded, readable or not
  const std::vector<LatencyStripe>& stripes() const { return m_stripes; }
  // The slowest readable blocks, slowest first; of equal times the lower sector first.
  std::vector<SlowBlock> slowest() const;

 private:
  uint64_t m_first = 0;
  uint64_t m_end = 0;
  std::array<uint64_t, kLatencyBuckets> m_histogram{};
  std::vector<LatencyStripe> m_stripes;
  // A min-heap of the slowest blocks seen: its root is the one to drop for a slower one.
  std::array<SlowBlock, kSlowestKept> m_slowest{};
  size_t m_slowestCount = 0;
  size_t m_cursor = 0;  // the stripe of the last block recorded
};

// What the block times suggest, in words, beside the verdict (which they never change):
// blocks of 500 ms or more mean the drive retries them; blocks of 150 to 500 ms that it
// may be starting to. Empty when the times say nothing worth telling.
std::vector<std::string> latencyHints(const BlockLatencyMap& map);

}  // namespace palvoro
