#pragma once
// The sector loop's transfers through a block queue. The plan's blocks, taken in the
// order the loop walks them, become requests of several consecutive blocks, up to a depth
// of them in flight, and each block's outcome comes back in the loop's order. A request
// that failed is sent again block by block, so a failure names exactly the blocks a walk
// of one block at a time would have named, and the loop treats it as it always did.

#include <cstdint>
#include <functional>
#include <optional>

#include "diagnostics/run_values.h"
#include "platform/block_io.h"
#include "platform/ring_queue.h"

namespace palvoro {

// One block of a plan: its first sector and how many sectors it holds.
struct PlannedBlock {
  uint64_t start = 0;
  uint64_t count = 0;
};

struct BlockResult {
  PlannedBlock block;
  bool sent = true;    // false: the queue would not take it (the walk ends there)
  bool ok = false;
  uint32_t error = 0;  // the system error of a failed or refused transfer
  // The block's share of its request's service time: exact for a request of one block.
  uint64_t microseconds = 0;
  // What a read brought, count sectors; valid until the next call to next().
  const uint8_t* data = nullptr;
};

// How a walk uses a device's queue: requests of at most `requestBlocks` blocks and at most
// `depth` of them in flight.
struct PipelineShape {
  uint32_t requestBlocks = 1;
  uint32_t depth = 1;

  bool operator==(const PipelineShape&) const = default;
};

// Requests of up to this much and this many in flight are what fast devices want; more
// gains nothing measurable and costs memory.
inline constexpr uint32_t kLargestRequestBytes = 1 << 20;
inline constexpr uint32_t kDeepestQueue = 32;

// The shape a walk takes on a device. A rotating disk and a device that serves one request
// at a time walk one block at a time, as the loop always did: on a spinning disk several
// requests in flight make each block's time the queue's rather than the surface's, and the
// latency map is what such a scan is for. A walk of scattered blocks (the random reads)
// keeps one block a request, since its blocks never adjoin.
// `pace` may ask for one block at a time on any device (the latency map exact everywhere)
// or for the deep queue on a rotating disk too (its speed over its map).
PipelineShape pipelineShape(const BlockLimits& limits, uint64_t blockBytes, bool scattered,
                            TransferPace pace = TransferPace::Automatic);

class BlockPipeline {
 public:
  // `nextBlock` hands out the plan's blocks in order, nullopt after the last; it is called
  // once a block, ahead of the loop by at most the blocks in flight. `blockBytes` is the
  // plan's whole block; `writes` fills the buffers with zeros once.
  BlockPipeline(BlockQueue& queue, PipelineShape shape, uint32_t sectorSize, uint64_t blockBytes, bool writes,
                std::function<std::optional<PlannedBlock>()> nextBlock);
  BlockPipeline(const BlockPipeline&) = delete;
  BlockPipeline& operator=(const BlockPipeline&) = delete;
  // Waits for whatever is still in flight: the buffers must outlive the transfers.
  ~BlockPipeline();

  // Whether the buffers could be had (a run of many drives can run out of memory).
  bool valid() const { return m_buffers.valid(); }
  // The next block's outcome, nullopt after the last block or after a refused one.
  std::optional<BlockResult> next();
  // Waits for every request still in flight; nothing more is sent.
  void stop();
  // Waits for every request in flight and keeps what each brought for next(), which
  // sends again: the device rests between the two, with the walk's order untouched.
  void settle();

 private:
  // Consecutive blocks: `blocks` of them from `first`, each a whole block but the last,
  // which holds `lastCount` sectors.
  struct Request {
    PlannedBlock first;
    uint32_t blocks = 0;
    uint64_t lastCount = 0;
    BlockRequest transfer;
    std::optional<BlockCompletion> done;

    PlannedBlock block(uint32_t i, uint64_t blockSectors) const {
      return {first.start + i * blockSectors, i + 1 == blocks ? lastCount : blockSectors};
    }
  };

  void fill();
  bool sendNext();
  void collect(Request& request);
  void splitInto(const Request& request, const BlockCompletion& done);
  void resendAlone(const Request& request);

  BlockQueue& m_queue;
  const PipelineShape m_shape;
  const uint32_t m_sectorSize;
  const uint64_t m_blockSectors;
  std::function<std::optional<PlannedBlock>()> m_nextBlock;
  BlockBuffers m_buffers;
  size_t m_nextBuffer = 0;
  std::optional<PlannedBlock> m_peeked;
  bool m_planDone = false;
  bool m_stopped = false;
  std::optional<BlockResult> m_refused;
  RingQueue<Request> m_requests;  // sent, oldest first
  RingQueue<BlockResult> m_ready;
};

}  // namespace palvoro
