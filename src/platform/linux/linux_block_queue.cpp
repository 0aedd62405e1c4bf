#include "platform/linux/linux_block_queue.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/block_devices.h"
#include "platform/linux/linux_platform.h"

namespace palvoro::real {
namespace {

// A read on the handle's descriptor, which is opened O_NONBLOCK so that a drive without
// media still opens, comes back EAGAIN from the ring when the device has no free request
// tag at that moment: the ring never waits for one on such a descriptor. The request is
// sent again; a device that stays full this long fails it.
constexpr int kAgainRetries = 64;
// Threads when the kernel offers no ring: each does one transfer at a time, so this many
// keep that many requests at the device.
constexpr uint32_t kThreadsMost = 4;

// Requests through io_uring: no thread of its own, the queue's thread submits and reaps.
class RingQueue : public LinuxBlockQueue {
 public:
  RingQueue(LinuxPlatform& platform, const QueueTarget& target, std::unique_ptr<RingOps> ring)
      : LinuxBlockQueue(platform, target), m_ring(std::move(ring)) {}

  // The kernel moves data into the buffers of requests not yet reaped: each is waited for
  // before the buffers may go. A direct transfer cannot be called back once the device
  // has it, so waiting is all there is.
  ~RingQueue() override {
    while (m_unreaped > 0 && reapOne(true) >= 0) {
    }
    m_ring->exit();
  }

  std::string engine() const override { return "io_uring"; }

 private:
  uint32_t send(Slot& slot) override {
    if (m_broken) return ERROR_IO_DEVICE;
    if (!prepare(slot)) return ERROR_INVALID_PARAMETER;  // the ring is full, as the queue would be
    ++m_unreaped;
    // A request the kernel does not take now stays in the ring and goes with the next
    // submit or wait: it is in flight either way, so a failure here is no failure of it.
    (void)m_ring->submit();
    // Those already done are timed now rather than when the caller next asks.
    while (reapOne(false) > 0) {
    }
    return 0;
  }

  void awaitOldest() override {
    while (reapOne(false) > 0) {
    }
    Slot& oldest = *m_slots.front();
    while (!oldest.done) {
      const int r = reapOne(true);
      if (r < 0) {
        // The ring itself failed (a fault of this program, not of the disk): nothing it
        // holds can be told apart any more, and nothing more is sent on it.
        m_broken = true;
        finish(oldest, r);
      }
    }
  }

  bool prepare(Slot& slot) {
    const BlockRequest& r = slot.request;
    if (!m_ring->prepare(writes(), slot.fd, r.buffer, r.bytes, r.offset, slot.tag)) return false;
    // With several requests in flight the time from here to the completion includes what
    // the request waited inside the device behind the others. It is still this request's
    // own time, which the caller can judge knowing the depth it asked for.
    slot.handed = now();
    return true;
  }

  // One completion from the ring, `wait`ing for it or not: 1 when one was seen, 0 when
  // none was ready, -errno when the ring failed.
  int reapOne(bool wait) {
    uint64_t tag = 0;
    int32_t result = 0;
    const int r = m_ring->reap(wait, tag, result);
    if (r <= 0) return r;
    Slot* slot = m_slots.empty() || tag < m_slots.front()->tag || tag - m_slots.front()->tag >= m_slots.size()
                     ? nullptr
                     : m_slots[tag - m_slots.front()->tag].get();
    if (slot == nullptr || slot->done) return 1;
    if (result == -EAGAIN && slot->retries < kAgainRetries) {
      ++slot->retries;
      if (prepare(*slot)) {
        (void)m_ring->submit();
        return 1;
      }
    }
    --m_unreaped;
    finish(*slot, result);
    return 1;
  }

  void finish(Slot& slot, int64_t result) {
    slot.result = result;
    slot.finished = now();
    slot.done = true;
  }

  std::unique_ptr<RingOps> m_ring;
  size_t m_unreaped = 0;  // sent and not yet completed: what the kernel may still touch
  bool m_broken = false;
};

// Requests through a few threads doing pread and pwrite, where the kernel sets up no ring.
class ThreadQueue : public LinuxBlockQueue {
 public:
  ThreadQueue(LinuxPlatform& platform, const QueueTarget& target, SysCalls& sys)
      : LinuxBlockQueue(platform, target), m_sys(sys) {
    const uint32_t count = std::min(kThreadsMost, std::max<uint32_t>(target.limits.maxInFlight, 1));
    for (uint32_t i = 0; i < count; ++i) m_workers.emplace_back([this] { work(); });
  }

  // Requests no thread has taken yet are dropped; those under way finish before the
  // threads are joined, so no transfer outlives the buffers.
  ~ThreadQueue() override {
    {
      std::lock_guard lock(m_mutex);
      m_stopping = true;
      m_waiting.clear();
    }
    m_wake.notify_all();
    for (std::thread& t : m_workers) t.join();
  }

  std::string engine() const override { return "threads"; }

 private:
  uint32_t send(Slot& slot) override {
    {
      std::lock_guard lock(m_mutex);
      m_waiting.push_back(&slot);
    }
    m_wake.notify_one();
    return 0;
  }

  void awaitOldest() override {
    const Slot& oldest = *m_slots.front();
    std::unique_lock lock(m_mutex);
    m_doneOne.wait(lock, [&oldest] { return oldest.done; });
  }

  void work() {
    for (;;) {
      Slot* slot = nullptr;
      {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_stopping || !m_waiting.empty(); });
        if (m_stopping) return;
        slot = m_waiting.front();
        m_waiting.pop_front();
      }
      const BlockRequest& r = slot->request;
      // With several threads at the device this includes what the request waited inside
      // it behind the others' requests; it is still this request's own time.
      const uint64_t handed = now();
      const ssize_t n = writes() ? m_sys.pwrite(slot->fd, r.buffer, r.bytes, static_cast<off_t>(r.offset))
                                 : m_sys.pread(slot->fd, r.buffer, r.bytes, static_cast<off_t>(r.offset));
      const uint64_t finished = now();
      {
        std::lock_guard lock(m_mutex);
        slot->handed = handed;
        slot->finished = finished;
        slot->result = n;
        slot->done = true;
      }
      m_doneOne.notify_all();
    }
  }

  SysCalls& m_sys;
  std::mutex m_mutex;                 // guards the fields below and the outcome fields of every slot sent
  std::condition_variable m_wake;     // a request waits, or the queue closes
  std::condition_variable m_doneOne;  // a request finished
  std::deque<Slot*> m_waiting;
  bool m_stopping = false;
  std::vector<std::thread> m_workers;
};

}  // namespace

BlockLimits blockQueueLimits(SysCalls& sys, const std::string& root, const std::string& diskName,
                             uint32_t logicalBlockBytes) {
  const std::string queue = root + "/sys/block/" + diskName + "/queue/";
  BlockLimits limits;
  limits.logicalBlockBytes = logicalBlockBytes;
  const std::optional<uint64_t> kib = decimalAttribute(sys, queue + "max_sectors_kb");
  uint64_t most = std::min<uint64_t>(kib ? *kib * 1024 : kQueueDefaultTransferBytes, kQueueMostTransferBytes);
  most = std::max<uint64_t>(most / logicalBlockBytes * logicalBlockBytes, logicalBlockBytes);
  limits.maxTransferBytes = static_cast<uint32_t>(most);
  limits.rotational = decimalAttribute(sys, queue + "rotational").value_or(0) == 1;
  // More in flight than the scheduler holds only wait in the block layer, and a ring on a
  // descriptor that may not wait fails them instead.
  const std::optional<uint64_t> requests = decimalAttribute(sys, queue + "nr_requests");
  limits.maxInFlight = requests && *requests > 0
                           ? static_cast<uint32_t>(std::min<uint64_t>(*requests, kQueueMostInFlight))
                           : kQueueMostInFlight;
  return limits;
}

std::unique_ptr<BlockQueue> LinuxBlockQueue::open(LinuxPlatform& platform, SysCalls& sys, const RingMaker& rings,
                                                  const QueueTarget& target) {
  std::unique_ptr<RingOps> ring = rings ? rings() : nullptr;
  if (ring != nullptr && ring->init(target.limits.maxInFlight) == 0) {
    return std::make_unique<RingQueue>(platform, target, std::move(ring));
  }
  return std::make_unique<ThreadQueue>(platform, target, sys);
}

LinuxBlockQueue::LinuxBlockQueue(LinuxPlatform& platform, const QueueTarget& target)
    : m_platform(platform), m_target(target) {}

LinuxBlockQueue::~LinuxBlockQueue() { m_platform.queueClosed(m_target.handle); }

uint64_t LinuxBlockQueue::now() { return m_platform.monotonicMicroseconds(); }

bool LinuxBlockQueue::submit(const BlockRequest& request, uint32_t& error) {
  error = checkRequest(m_target.limits, request, m_slots.size());
  if (error == 0 && (request.offset > m_target.sizeBytes || request.bytes > m_target.sizeBytes - request.offset)) {
    error = ERROR_SECTOR_NOT_FOUND;
  }
  if (error != 0) return false;
  auto slot = std::make_unique<Slot>();
  slot->tag = m_nextTag;
  slot->request = request;
  slot->fd = m_platform.queueFd(m_target.handle, writes(), request.offset, request.bytes, error);
  if (slot->fd < 0) return false;
  // In place before it is sent: the ring may report it done while it is being sent.
  m_slots.push_back(std::move(slot));
  error = send(*m_slots.back());
  if (error != 0) {
    m_slots.pop_back();
    return false;
  }
  ++m_nextTag;
  return true;
}

bool LinuxBlockQueue::complete(BlockCompletion& completion) {
  if (m_slots.empty()) return false;
  awaitOldest();
  const Slot& slot = *m_slots.front();
  completion = BlockCompletion{};
  completion.offset = slot.request.offset;
  completion.bytes = slot.request.bytes;
  completion.moved = slot.result > 0 ? static_cast<uint32_t>(std::min<int64_t>(slot.result, slot.request.bytes)) : 0;
  completion.serviceMicroseconds = slot.finished - slot.handed;
  // A short transfer stopped at a sector the drive could not read or write: it fails as
  // the same transfer through readFile or writeFile would, with what did move kept.
  if (slot.result < 0 || completion.moved != completion.bytes) {
    completion.error = m_platform.transferFailure(m_target.handle, writes(), slot.result);
  }
  m_slots.pop_front();
  return true;
}

// The backend's side of its queues.

std::unique_ptr<BlockQueue> LinuxPlatform::openBlockQueue(Handle handle, BlockDirection direction,
                                                          uint32_t logicalBlockBytes) {
  std::unique_lock lock(m_mutex);
  const auto refuse = [this](uint32_t error) {
    fail(error);
    return std::unique_ptr<BlockQueue>();
  };
  OpenHandle* h = find(handle);
  if (h == nullptr) return refuse(ERROR_INVALID_HANDLE);
  if (h->kind != OpenHandle::Kind::Disk) {
    // A plain file moves through the calls that already serve it.
    lock.unlock();
    return Platform::openBlockQueue(handle, direction, logicalBlockBytes);
  }
  const bool write = direction == BlockDirection::Write;
  if ((h->access & (write ? GENERIC_WRITE : GENERIC_READ)) == 0 || h->fd < 0) return refuse(ERROR_ACCESS_DENIED);
  // Offsets counted in blocks other than the disk's would miss what O_DIRECT aligns to.
  if (logicalBlockBytes != h->blockSize || logicalBlockBytes > kBlockBufferAlignment) {
    return refuse(ERROR_INVALID_PARAMETER);
  }
  rescan();
  const BlockDisk* disk = diskOf(*h);
  if (disk == nullptr) return refuse(ERROR_DEVICE_NOT_CONNECTED);
  // Writes learn their descriptor from the guard, request by request.
  if (!write && !openDirect(*h)) return nullptr;
  QueueTarget target;
  target.handle = handle;
  target.direction = direction;
  target.sizeBytes = h->sizeBytes;
  target.limits = blockQueueLimits(m_sys, m_root, disk->name, h->blockSize);
  ++h->queues;
  lock.unlock();
  setLastError(ERROR_SUCCESS);
  return LinuxBlockQueue::open(*this, m_sys, m_rings, target);
}

int LinuxPlatform::queueFd(Handle handle, bool write, uint64_t offset, uint32_t bytes, uint32_t& error) {
  std::lock_guard lock(m_mutex);
  error = ERROR_SUCCESS;
  OpenHandle* h = find(handle);
  if (h == nullptr) {
    error = ERROR_INVALID_HANDLE;
    return -1;
  }
  if (!write) return h->directFd;  // opened with the queue, closed only after it
  const int fd = guardedWriteFd(*h, offset, bytes);
  if (fd < 0) error = lastError();
  return fd;
}

void LinuxPlatform::queueClosed(Handle handle) {
  std::lock_guard lock(m_mutex);
  const auto it = m_handles.find(handle);
  if (it == m_handles.end()) return;
  if (--it->second.queues == 0 && it->second.closing) release(handle);
}

}  // namespace palvoro::real
