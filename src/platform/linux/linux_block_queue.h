#pragma once
// Block queues on a disk of this computer: requests through the kernel's io_uring where it
// sets one up, through a few threads doing pread and pwrite where it does not (an old
// kernel, a sandbox that filters the ring's system calls). Both hand completions back in
// the order of submission, and every write passes the backend's guard as it is submitted.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/block_io.h"
#include "platform/linux/ring_ops.h"
#include "platform/linux/sys_calls.h"
#include "platform/win_types.h"

namespace palvoro::real {

class LinuxPlatform;

// What a queue keeps of the disk it was opened on.
struct QueueTarget {
  Handle handle = INVALID_HANDLE_VALUE;
  BlockDirection direction = BlockDirection::Read;
  uint64_t sizeBytes = 0;  // requests end within it
  BlockLimits limits;
};

// Up to this many requests in flight: enough to keep an NVMe or SATA NCQ queue busy, and
// the ring's size.
inline constexpr uint32_t kQueueMostInFlight = 32;
// The largest request: bigger ones gain no speed on any disk and cost their memory per
// request in flight.
inline constexpr uint32_t kQueueMostTransferBytes = 1u << 20;
// What the block layer takes when its queue says nothing: the kernel's own default for
// max_sectors_kb.
inline constexpr uint32_t kQueueDefaultTransferBytes = 128 * 1024;

// The limits of a queue on `diskName` ("sda") with `logicalBlockBytes` blocks, from its
// queue attributes under root + /sys/block.
BlockLimits blockQueueLimits(SysCalls& sys, const std::string& root, const std::string& diskName,
                             uint32_t logicalBlockBytes);

// What both engines share: the checks and the guard before a request is sent, and the
// order and the errors of what comes back.
class LinuxBlockQueue : public BlockQueue {
 public:
  // On a ring from `rings` where one can be set up, on threads otherwise.
  static std::unique_ptr<BlockQueue> open(LinuxPlatform& platform, SysCalls& sys, const RingMaker& rings,
                                          const QueueTarget& target);

  LinuxBlockQueue(const LinuxBlockQueue&) = delete;
  LinuxBlockQueue& operator=(const LinuxBlockQueue&) = delete;
  // The engine has reaped every request before this runs (its own destructor waits): only
  // then may the handle's descriptors close.
  ~LinuxBlockQueue() override;

  BlockLimits limits() const override { return m_target.limits; }
  [[nodiscard]] bool submit(const BlockRequest& request, uint32_t& error) override;
  [[nodiscard]] bool complete(BlockCompletion& completion) override;
  size_t inFlight() const override { return m_slots.size(); }

 protected:
  // One request from its submission until it is handed back.
  struct Slot {
    uint64_t tag = 0;  // its place in the order of submission
    BlockRequest request;
    int fd = -1;
    uint64_t handed = 0;    // when the kernel got it
    uint64_t finished = 0;  // when its completion was seen
    int64_t result = 0;     // bytes moved, or -errno
    bool done = false;
    int retries = 0;
  };

  LinuxBlockQueue(LinuxPlatform& platform, const QueueTarget& target);
  bool writes() const { return m_target.direction == BlockDirection::Write; }
  uint64_t now();
  // Sends `slot`. 0, or the ERROR_* value when nothing was sent.
  [[nodiscard]] virtual uint32_t send(Slot& slot) = 0;
  // Returns once the oldest slot is done.
  virtual void awaitOldest() = 0;

  // Oldest first; a slot's address stays while the engine holds it.
  std::deque<std::unique_ptr<Slot>> m_slots;

 private:
  LinuxPlatform& m_platform;
  const QueueTarget m_target;
  uint64_t m_nextTag = 0;
};

}  // namespace palvoro::real
