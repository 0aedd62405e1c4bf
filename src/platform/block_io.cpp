#include "platform/block_io.h"

#include "platform/platform.h"
#include "platform/ring_queue.h"

namespace palvoro {

BlockBuffers::BlockBuffers(size_t count, size_t bytes)
    : m_count(count),
      m_bytes(bytes),
      m_memory(count == 0 || bytes == 0 || bytes % kBlockBufferAlignment != 0
                   ? nullptr
                   : new (std::align_val_t{kBlockBufferAlignment}, std::nothrow) uint8_t[count * bytes]) {}

namespace {

// One request at a time through the Windows-shaped calls: what every backend can do, and
// what the program did before it had queues.
class OneAtATimeQueue : public BlockQueue {
 public:
  OneAtATimeQueue(Platform& platform, Handle handle, BlockDirection direction, uint32_t logicalBlockBytes)
      : m_platform(platform), m_handle(handle), m_direction(direction), m_done(1) {
    m_limits.logicalBlockBytes = logicalBlockBytes;
  }

  BlockLimits limits() const override { return m_limits; }
  std::string engine() const override { return "one request at a time"; }
  size_t inFlight() const override { return m_done.size(); }

  bool submit(const BlockRequest& request, uint32_t& error) override {
    error = checkRequest(m_limits, request, m_done.size());
    if (error != 0) return false;
    const uint64_t offset = request.offset;
    int32_t high = static_cast<int32_t>(offset >> 32);
    if (m_platform.setFilePointer(m_handle, static_cast<int32_t>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER &&
        m_platform.lastError() != ERROR_SUCCESS) {
      error = m_platform.lastError();
      return false;
    }
    BlockCompletion done;
    done.offset = offset;
    done.bytes = request.bytes;
    const uint64_t began = m_platform.monotonicMicroseconds();
    const bool ok = m_direction == BlockDirection::Read
                        ? m_platform.readFile(m_handle, request.buffer, request.bytes, &done.moved)
                        : m_platform.writeFile(m_handle, request.buffer, request.bytes, &done.moved);
    done.serviceMicroseconds = m_platform.monotonicMicroseconds() - began;
    // A short transfer that the system reports as success is still not the whole block.
    done.error = ok ? 0 : m_platform.lastError();
    if (!ok && done.error == 0) done.error = ERROR_GEN_FAILURE;
    // checkRequest refused a second request in flight, so there is room.
    (void)m_done.push(done);
    return true;
  }

  bool complete(BlockCompletion& completion) override {
    if (m_done.empty()) return false;
    completion = m_done.take();
    return true;
  }

 private:
  Platform& m_platform;
  const Handle m_handle;
  const BlockDirection m_direction;
  BlockLimits m_limits;
  RingQueue<BlockCompletion> m_done;
};

}  // namespace

uint32_t checkRequest(const BlockLimits& limits, const BlockRequest& request, size_t inFlight) {
  const uint32_t block = limits.logicalBlockBytes;
  if (inFlight >= limits.maxInFlight) return ERROR_INVALID_PARAMETER;
  if (block == 0 || request.bytes == 0 || request.bytes % block != 0 || request.offset % block != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  if (request.buffer == nullptr || reinterpret_cast<uintptr_t>(request.buffer) % kBlockBufferAlignment != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  return 0;
}

std::unique_ptr<BlockQueue> Platform::openBlockQueue(Handle handle, BlockDirection direction,
                                                     uint32_t logicalBlockBytes) {
  if (logicalBlockBytes == 0 || logicalBlockBytes > kBlockBufferAlignment) {
    setLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return std::make_unique<OneAtATimeQueue>(*this, handle, direction, logicalBlockBytes);
}

}  // namespace palvoro
