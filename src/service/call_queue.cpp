#include "service/call_queue.h"

namespace palvoro {

CallQueue::CallQueue(std::function<void()> wake) : m_owner(std::this_thread::get_id()), m_wake(std::move(wake)) {}

bool CallQueue::isClosed() const {
  std::lock_guard lock(m_mutex);
  return m_closed;
}

void CallQueue::enqueue(const std::shared_ptr<Pending>& pending) {
  {
    std::lock_guard lock(m_mutex);
    if (m_closed) return;
    m_pending.push_back(pending);
  }
  m_arrived.notify_one();
  if (m_wake) m_wake();
}

void CallQueue::post(std::function<void()> fn) {
  if (onOwnerThread()) {
    // A call made after the owner closed the queue would reach what has gone with it.
    if (!isClosed()) fn();
    return;
  }
  auto pending = std::make_shared<Pending>();
  pending->fn = std::move(fn);
  enqueue(pending);
}

bool CallQueue::call(std::function<void()> fn) {
  if (onOwnerThread()) {
    if (isClosed()) return false;
    fn();
    return true;
  }
  auto pending = std::make_shared<Pending>();
  pending->fn = std::move(fn);
  pending->blocking = true;
  enqueue(pending);
  std::unique_lock lock(m_mutex);
  m_finished.wait(lock, [&] { return pending->done || m_closed; });
  return pending->done;
}

void CallQueue::runWaiting() {
  for (;;) {
    std::shared_ptr<Pending> next;
    {
      std::lock_guard lock(m_mutex);
      if (m_pending.empty()) return;
      next = std::move(m_pending.front());
      m_pending.pop_front();
    }
    next->fn();
    if (next->blocking) {
      {
        std::lock_guard lock(m_mutex);
        next->done = true;
      }
      m_finished.notify_all();
    }
  }
}

void CallQueue::waitUntil(std::chrono::steady_clock::time_point until) {
  std::unique_lock lock(m_mutex);
  m_arrived.wait_until(lock, until, [&] { return !m_pending.empty() || m_closed; });
}

bool CallQueue::hasPending() const {
  std::lock_guard lock(m_mutex);
  return !m_pending.empty();
}

void CallQueue::close() {
  {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_pending.clear();
  }
  m_finished.notify_all();
  m_arrived.notify_all();
}

}  // namespace palvoro
