#include "platform/linux/ring_ops.h"

#include <liburing.h>

#include <cerrno>

namespace palvoro::real {
namespace {

class IoUring : public RingOps {
 public:
  IoUring() = default;
  IoUring(const IoUring&) = delete;
  IoUring& operator=(const IoUring&) = delete;
  ~IoUring() override { exit(); }

  int init(unsigned entries) override {
    if (m_ready) return -EALREADY;
    const int r = io_uring_queue_init(entries, &m_ring, 0);
    if (r < 0) return r;
    m_ready = true;
    // Plain reads and writes came with kernel 5.6, a year after the rings themselves; a
    // kernel between the two has no probe either.
    io_uring_probe* probe = io_uring_get_probe_ring(&m_ring);
    const bool plain = probe != nullptr && io_uring_opcode_supported(probe, IORING_OP_READ) != 0 &&
                       io_uring_opcode_supported(probe, IORING_OP_WRITE) != 0;
    if (probe != nullptr) io_uring_free_probe(probe);
    if (!plain) {
      exit();
      return -EOPNOTSUPP;
    }
    return 0;
  }

  bool prepare(bool write, int fd, void* buffer, uint32_t bytes, uint64_t offset, uint64_t tag) override {
    io_uring_sqe* sqe = io_uring_get_sqe(&m_ring);
    if (sqe == nullptr) return false;
    if (write) {
      io_uring_prep_write(sqe, fd, buffer, bytes, offset);
    } else {
      io_uring_prep_read(sqe, fd, buffer, bytes, offset);
    }
    io_uring_sqe_set_data64(sqe, tag);
    return true;
  }

  int submit() override { return io_uring_submit(&m_ring); }

  int reap(bool wait, uint64_t& tag, int32_t& result) override {
    io_uring_cqe* cqe = nullptr;
    for (;;) {
      const int r = io_uring_peek_cqe(&m_ring, &cqe);
      if (r == 0) break;
      if (r != -EAGAIN) return r;
      if (!wait) return 0;
      const int w = io_uring_submit_and_wait(&m_ring, 1);
      // A signal ends the wait early, and a kernel short of memory or with completions
      // it could not post yet asks to be entered again: the requests are still in flight.
      if (w < 0 && w != -EINTR && w != -EAGAIN && w != -EBUSY) return w;
    }
    tag = io_uring_cqe_get_data64(cqe);
    result = cqe->res;
    io_uring_cqe_seen(&m_ring, cqe);
    return 1;
  }

  void exit() override {
    if (!m_ready) return;
    io_uring_queue_exit(&m_ring);
    m_ready = false;
  }

 private:
  io_uring m_ring{};
  bool m_ready = false;
};

}  // namespace

std::unique_ptr<RingOps> makeIoUring() { return std::make_unique<IoUring>(); }

}  // namespace palvoro::real
