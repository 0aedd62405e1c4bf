#pragma once
// A first-in, first-out queue of at most a fixed number of items that allocates once: a
// walk over a drive passes millions of requests through queues of a few dozen, and an
// allocation per request would cost the walk its speed against a bare loop.

#include <cstddef>
#include <utility>
#include <vector>

namespace palvoro {

template <typename T>
class RingQueue {
 public:
  explicit RingQueue(size_t capacity) : m_items(capacity == 0 ? 1 : capacity) {}

  size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  bool full() const { return m_size == m_items.size(); }
  // The caller keeps within the capacity: a full queue takes nothing more (false).
  [[nodiscard]] bool push(T item) {
    if (full()) return false;
    m_items[(m_head + m_size) % m_items.size()] = std::move(item);
    ++m_size;
    return true;
  }
  T& front() { return m_items[m_head]; }
  T& at(size_t i) { return m_items[(m_head + i) % m_items.size()]; }
  T take() {
    T item = std::move(m_items[m_head]);
    m_head = (m_head + 1) % m_items.size();
    --m_size;
    return item;
  }

 private:
  std::vector<T> m_items;
  size_t m_head = 0;
  size_t m_size = 0;
};

}  // namespace palvoro
