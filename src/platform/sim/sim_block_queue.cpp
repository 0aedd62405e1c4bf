// The simulated drive's queue: each request is carried out on the media when it is
// submitted (so a test's faults and logs see it at once), and placed on the drive's own
// timeline by its queue model. The machine's clock moves only when a completion is taken,
// to the moment that request would have finished on its drive (the machine's clock is the
// latest of all drives' moments), so a
// test sees the effect of depth on time without waiting, and drives run side by side.

#include <algorithm>

#include "platform/ring_queue.h"
#include "platform/sim/sim_platform.h"

namespace palvoro::sim {

class SimBlockQueue : public BlockQueue {
 public:
  SimBlockQueue(SimPlatform& platform, Handle handle, int drive, BlockDirection direction,
                const SimQueueModel& model, uint32_t logicalBlockBytes)
      : m_platform(platform),
        m_handle(handle),
        m_drive(drive),
        m_direction(direction),
        m_model(model),
        m_pending(std::max<uint32_t>(model.depth, 1)) {
    m_limits.logicalBlockBytes = logicalBlockBytes;
    m_limits.maxTransferBytes = std::max(model.maxTransferBytes, logicalBlockBytes);
    m_limits.maxInFlight = std::max<uint32_t>(model.depth, 1);
    m_limits.rotational = model.rotational;
    m_slotFreeAt.assign(m_limits.maxInFlight, 0);
    m_now = m_platform.driveMicroseconds(drive);
    m_handSeen = m_platform.handMicroseconds();
  }

  BlockLimits limits() const override { return m_limits; }
  std::string engine() const override { return "simulated queue"; }
  size_t inFlight() const override { return m_pending.size(); }

  bool submit(const BlockRequest& request, uint32_t& error) override {
    error = checkRequest(m_limits, request, m_pending.size());
    // A drive pulled out refuses the request as it refuses a seek: nothing reaches it.
    if (error == 0) error = m_platform.placementError(m_handle);
    if (error != 0) return false;
    Pending p;
    p.done.offset = request.offset;
    p.done.bytes = request.bytes;
    uint64_t media = 0;
    const bool write = m_direction == BlockDirection::Write;
    const bool ok = m_platform.transfer(m_handle, write ? SimRequest::Kind::Write : SimRequest::Kind::Read,
                                        write ? nullptr : request.buffer, write ? request.buffer : nullptr,
                                        request.bytes, &p.done.moved, &request.offset, &media);
    p.done.error = ok ? 0 : m_platform.lastError();
    // The request takes a free place in the drive's queue, does its own work there, then
    // waits for the link to move its data. Its drive's own time, not the machine's: drives
    // of a bench work side by side, and another drive's requests must not delay this one.
    const uint64_t hand = m_platform.handMicroseconds();
    if (hand > m_handSeen) {
      m_now += hand - m_handSeen;
      m_handSeen = hand;
    }
    const uint64_t now = m_now;
    const auto slot = std::min_element(m_slotFreeAt.begin(), m_slotFreeAt.end());
    const uint64_t start = std::max(now, *slot);
    // A request larger than the drive takes in one piece reaches it as several.
    const uint64_t pieces = (request.bytes + m_limits.maxTransferBytes - 1) / m_limits.maxTransferBytes;
    uint64_t finish = start + pieces * m_model.requestMicroseconds + media;
    if (m_model.megabytesPerSecond != 0) {
      finish = std::max(finish, m_linkFreeAt) + request.bytes / m_model.megabytesPerSecond;
      m_linkFreeAt = finish;
    }
    *slot = finish;
    p.finish = finish;
    p.done.serviceMicroseconds = finish - start;
    // checkRequest refused a request beyond the depth, so there is room.
    (void)m_pending.push(p);
    return true;
  }

  bool complete(BlockCompletion& completion) override {
    if (m_pending.empty()) return false;
    const Pending p = m_pending.take();
    m_now = std::max(m_now, p.finish);
    m_platform.advanceDriveTo(m_drive, p.finish);
    completion = p.done;
    return true;
  }

 private:
  struct Pending {
    BlockCompletion done;
    uint64_t finish = 0;  // on the drive's clock
  };

  SimPlatform& m_platform;
  const Handle m_handle;
  const int m_drive;  // its number: whose own time the requests take
  const BlockDirection m_direction;
  const SimQueueModel m_model;
  BlockLimits m_limits;
  std::vector<uint64_t> m_slotFreeAt;
  uint64_t m_linkFreeAt = 0;
  uint64_t m_now = 0;       // the drive's own time: when the requests taken so far had ended
  uint64_t m_handSeen = 0;  // the hand-moved part of the clock, as last seen
  RingQueue<Pending> m_pending;
};

std::unique_ptr<BlockQueue> SimPlatform::openBlockQueue(Handle handle, BlockDirection direction,
                                                        uint32_t logicalBlockBytes) {
  SimQueueModel model;
  int number = -1;
  {
    std::lock_guard lock(m_mutex);
    OpenHandle* h = find(handle);
    if (h == nullptr) {
      fail(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    if (h->kind != OpenHandle::Kind::Drive) return Platform::openBlockQueue(handle, direction, logicalBlockBytes);
    const SimDrive* d = liveDrive(*h);
    if (d == nullptr) {
      fail(ERROR_DEVICE_NOT_CONNECTED);
      return nullptr;
    }
    model = d->queue;
    number = d->number;
  }
  if (logicalBlockBytes == 0 || logicalBlockBytes > kBlockBufferAlignment) {
    fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return std::make_unique<SimBlockQueue>(*this, handle, number, direction, model, logicalBlockBytes);
}

}  // namespace palvoro::sim
