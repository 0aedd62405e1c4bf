#include "diagnostics/block_pipeline.h"

#include <algorithm>
#include <cstring>

#include "platform/win_types.h"

namespace palvoro {
namespace {

size_t roundUpToPage(uint64_t bytes) {
  return static_cast<size_t>((bytes + kBlockBufferAlignment - 1) / kBlockBufferAlignment * kBlockBufferAlignment);
}

}  // namespace

PipelineShape pipelineShape(const BlockLimits& limits, uint64_t blockBytes, bool scattered, TransferPace pace) {
  PipelineShape shape;
  const bool oneAtATime = pace == TransferPace::OneBlock || (pace == TransferPace::Automatic && limits.rotational);
  if (oneAtATime || limits.maxInFlight <= 1 || blockBytes == 0) return shape;
  shape.depth = std::min(limits.maxInFlight, kDeepestQueue);
  // Blocks merge into one request only where each starts on a page of the buffer.
  if (scattered || blockBytes % kBlockBufferAlignment != 0) return shape;
  // A request larger than the device takes in one piece is split by the system below us,
  // and still costs the program one submission and one completion instead of several:
  // on the lab's SATA disk, which takes 128 KiB, 1 MiB requests read 40% faster.
  shape.requestBlocks = static_cast<uint32_t>(std::max<uint64_t>(1, kLargestRequestBytes / blockBytes));
  return shape;
}

BlockPipeline::BlockPipeline(BlockQueue& queue, PipelineShape shape, uint32_t sectorSize, uint64_t blockBytes,
                             bool writes, std::function<std::optional<PlannedBlock>()> nextBlock)
    : m_queue(queue),
      m_shape{std::max<uint32_t>(shape.requestBlocks, 1), std::max<uint32_t>(shape.depth, 1)},
      m_sectorSize(sectorSize),
      m_blockSectors(sectorSize == 0 ? 0 : blockBytes / sectorSize),
      m_nextBlock(std::move(nextBlock)),
      m_buffers(m_shape.depth, roundUpToPage(blockBytes * m_shape.requestBlocks)),
      m_requests(m_shape.depth),
      m_ready(m_shape.requestBlocks) {
  if (writes && m_buffers.valid()) std::memset(m_buffers.at(0), 0, m_buffers.count() * m_buffers.bytes());
}

BlockPipeline::~BlockPipeline() { stop(); }

void BlockPipeline::stop() {
  m_stopped = true;
  BlockCompletion done;
  while (m_queue.inFlight() > 0 && m_queue.complete(done)) {
  }
}

void BlockPipeline::settle() {
  for (size_t i = 0; i < m_requests.size(); ++i) collect(m_requests.at(i));
}

std::optional<BlockResult> BlockPipeline::next() {
  if (m_ready.empty() && !m_stopped) {
    fill();
    if (!m_requests.empty()) {
      Request request = m_requests.take();
      collect(request);
      const BlockCompletion done = *request.done;
      if (done.whole() || request.blocks == 1 || done.error == ERROR_DEVICE_NOT_CONNECTED) {
        splitInto(request, done);
      } else {
        resendAlone(request);
      }
    }
  }
  if (!m_ready.empty()) return m_ready.take();
  if (m_refused) {
    // Once: the walk ends at the block the queue would not take.
    std::optional<BlockResult> refused;
    refused.swap(m_refused);
    m_stopped = true;
    return refused;
  }
  return std::nullopt;
}

void BlockPipeline::fill() {
  // Requests sent and not yet handed back keep their buffers, in flight or not: a new one
  // takes the buffer of the one handed back longest ago.
  while (!m_planDone && !m_refused && m_requests.size() < m_shape.depth) {
    if (!sendNext()) break;
  }
}

// Gathers the next request's blocks: consecutive whole blocks, as many as a request holds.
bool BlockPipeline::sendNext() {
  Request request;
  uint64_t sectors = 0;
  while (request.blocks < m_shape.requestBlocks) {
    if (!m_peeked) m_peeked = m_nextBlock();
    if (!m_peeked) {
      m_planDone = true;
      break;
    }
    const PlannedBlock block = *m_peeked;
    if (request.blocks > 0 && (request.lastCount != m_blockSectors || request.first.start + sectors != block.start)) {
      break;
    }
    if (request.blocks == 0) request.first = block;
    ++request.blocks;
    request.lastCount = block.count;
    sectors += block.count;
    m_peeked.reset();
  }
  if (request.blocks == 0) return false;
  request.transfer.offset = request.first.start * m_sectorSize;
  request.transfer.bytes = static_cast<uint32_t>(sectors * m_sectorSize);
  request.transfer.buffer = m_buffers.at(m_nextBuffer);
  uint32_t error = 0;
  if (!m_queue.submit(request.transfer, error)) {
    // Nothing of it was sent; the blocks before it still come back first.
    BlockResult refused;
    refused.block = request.first;
    refused.sent = false;
    refused.error = error;
    m_refused = refused;
    return false;
  }
  m_nextBuffer = (m_nextBuffer + 1) % m_buffers.count();
  // fill() sends no more than the ring holds.
  (void)m_requests.push(request);
  return true;
}

// The queue hands completions back oldest first, and `request` was the oldest not taken.
void BlockPipeline::collect(Request& request) {
  if (request.done) return;
  BlockCompletion done;
  if (!m_queue.complete(done)) {
    done.bytes = request.transfer.bytes;
    done.error = ERROR_GEN_FAILURE;
  }
  request.done = done;
}

void BlockPipeline::splitInto(const Request& request, const BlockCompletion& done) {
  const uint64_t sectors = request.transfer.bytes / m_sectorSize;
  const uint8_t* data = request.transfer.buffer;
  for (uint32_t i = 0; i < request.blocks; ++i) {
    const PlannedBlock block = request.block(i, m_blockSectors);
    BlockResult result;
    result.block = block;
    result.data = data;
    data += block.count * m_sectorSize;
    result.ok = done.whole();
    result.error = done.whole() ? 0 : (done.error != 0 ? done.error : ERROR_GEN_FAILURE);
    result.microseconds = sectors == 0 ? 0 : done.serviceMicroseconds * block.count / sectors;
    // A request holds at most as many blocks as the ring, and the ring is empty before it.
    (void)m_ready.push(result);
  }
}

// Which blocks of a failed request failed: each is sent again alone, once everything sent
// after it has come back, so nothing else is in flight and its time is its own.
void BlockPipeline::resendAlone(const Request& failed) {
  for (size_t i = 0; i < m_requests.size(); ++i) collect(m_requests.at(i));
  uint8_t* place = failed.transfer.buffer;
  for (uint32_t i = 0; i < failed.blocks; ++i) {
    const PlannedBlock block = failed.block(i, m_blockSectors);
    Request alone;
    alone.first = block;
    alone.blocks = 1;
    alone.lastCount = block.count;
    alone.transfer.offset = block.start * m_sectorSize;
    alone.transfer.bytes = static_cast<uint32_t>(block.count * m_sectorSize);
    // Each block into its own place in the request's buffer, so that every block handed
    // back still holds its own data; the blocks of a request of several are whole pages.
    alone.transfer.buffer = place;
    place += block.count * m_sectorSize;
    uint32_t error = 0;
    if (!m_queue.submit(alone.transfer, error)) {
      BlockResult refused;
      refused.block = block;
      refused.sent = false;
      refused.error = error;
      (void)m_ready.push(refused);
      m_stopped = true;
      return;
    }
    collect(alone);
    splitInto(alone, *alone.done);
  }
}

}  // namespace palvoro
