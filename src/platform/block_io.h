#pragma once
// Bulk transfers beside the Windows-shaped calls: whole logical blocks at 64-bit byte
// offsets, several requests in flight, each completion handed back in the order its
// request was submitted. Commands keep their records; only the data of a scan, an erase
// or a read-back moves through here.
//
// A queue belongs to one open drive handle and one direction and is used by one thread.
// Its buffers are the caller's: aligned to kBlockBufferAlignment and kept alive until
// their request has completed.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace palvoro {

// Every backend takes buffers aligned to this: a page covers every logical block size and
// what O_DIRECT asks.
inline constexpr size_t kBlockBufferAlignment = 4096;

enum class BlockDirection { Read, Write };

// What the device takes and how the queue reaches it.
struct BlockLimits {
  uint32_t logicalBlockBytes = 512;
  // The largest request the device takes in one piece; the system splits a larger one,
  // so this is what a request should not exceed to be fast, not what it must not.
  uint32_t maxTransferBytes = 128 * 1024;
  uint32_t maxInFlight = 1;                // requests the queue keeps in flight at once
  bool rotational = false;                 // a spinning disk: its time depends on where it seeks
};

struct BlockRequest {
  uint64_t offset = 0;        // bytes; a multiple of the logical block
  uint32_t bytes = 0;         // a multiple of the logical block
  uint8_t* buffer = nullptr;  // filled by a read, sent by a write
};

struct BlockCompletion {
  uint64_t offset = 0;  // the request's, to tell which one this is
  uint32_t bytes = 0;
  uint32_t moved = 0;   // bytes transferred: fewer than `bytes` on a short transfer
  uint32_t error = 0;   // the last error the same transfer through readFile/writeFile would set; 0 when whole
  // How long the request took from when the device was handed it to its completion: what
  // the latency map shows. It leaves out the time the request waited in the program's
  // queue; with several in flight it includes the time it waited inside the device.
  uint64_t serviceMicroseconds = 0;

  bool whole() const { return error == 0 && moved == bytes; }
};

class BlockQueue {
 public:
  virtual ~BlockQueue() = default;

  virtual BlockLimits limits() const = 0;
  // How the transfers reach the device, for the report: "io_uring", "threads", ...
  virtual std::string engine() const = 0;
  // Queues a request. False, with `error` set to the reason, when it cannot be queued at
  // all (misaligned, beyond the device, the queue full): nothing was sent.
  [[nodiscard]] virtual bool submit(const BlockRequest& request, uint32_t& error) = 0;
  // Waits for the oldest request not yet handed back and gives its outcome; false when
  // none is in flight.
  [[nodiscard]] virtual bool complete(BlockCompletion& completion) = 0;
  virtual size_t inFlight() const = 0;
};

// Why `request` cannot be queued on a queue with `limits` and `inFlight` requests out (an
// ERROR_* value), or 0: what every queue checks before it sends anything.
uint32_t checkRequest(const BlockLimits& limits, const BlockRequest& request, size_t inFlight);

// Aligned buffers for a run's transfers, allocated once: `count` buffers of `bytes` each.
class BlockBuffers {
 public:
  BlockBuffers(size_t count, size_t bytes);
  bool valid() const { return m_memory != nullptr; }
  size_t count() const { return m_count; }
  size_t bytes() const { return m_bytes; }
  uint8_t* at(size_t i) const { return m_memory.get() + i * m_bytes; }

 private:
  struct Free {
    void operator()(uint8_t* p) const { ::operator delete[](p, std::align_val_t{kBlockBufferAlignment}); }
  };
  size_t m_count = 0;
  size_t m_bytes = 0;
  std::unique_ptr<uint8_t[], Free> m_memory;
};

}  // namespace palvoro
