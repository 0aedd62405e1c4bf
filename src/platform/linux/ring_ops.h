#pragma once
// The kernel's submission and completion rings (io_uring) behind the few calls a block
// queue makes, in the order it makes them: init once, prepare and submit each request,
// reap completions, exit. The rings are shared memory with the kernel rather than system
// calls, so SysCalls cannot stand in for them; this seam lets the tests complete requests
// in any order, fail, or refuse to set up at all.
//
// One ring serves one queue and is used by that queue's thread only.

#include <cstdint>
#include <functional>
#include <memory>

namespace palvoro::real {

class RingOps {
 public:
  virtual ~RingOps() = default;

  // Sets up a ring for `entries` requests in flight: 0, or -errno when this kernel offers
  // none the queue can use (ENOSYS before io_uring, EPERM under a sandbox or with
  // kernel.io_uring_disabled, EOPNOTSUPP without plain reads and writes).
  [[nodiscard]] virtual int init(unsigned entries) = 0;
  // Puts one read into `buffer` or write from it in the submission ring, tagged `tag` for
  // its completion. False when the ring has no free entry; nothing was prepared then.
  [[nodiscard]] virtual bool prepare(bool write, int fd, void* buffer, uint32_t bytes, uint64_t offset,
                                     uint64_t tag) = 0;
  // Hands what was prepared to the kernel: how many it took, or -errno. A prepared request
  // the kernel did not take stays in the ring and goes with the next submit or wait.
  [[nodiscard]] virtual int submit() = 0;
  // One completion: 1 with `tag` and `result` (bytes moved, or -errno) set; 0 when none is
  // ready and `wait` is false; -errno when the ring itself failed. Waiting submits first
  // whatever is still prepared, so a request cannot wait for itself.
  [[nodiscard]] virtual int reap(bool wait, uint64_t& tag, int32_t& result) = 0;
  // Tears the ring down. Every request sent must have been reaped before: the kernel may
  // still be moving data into a buffer of one that was not.
  virtual void exit() = 0;
};

// Makes a ring for each queue the backend opens.
using RingMaker = std::function<std::unique_ptr<RingOps>()>;

// Rings on this computer's kernel, through liburing.
std::unique_ptr<RingOps> makeIoUring();

}  // namespace palvoro::real
