#pragma once
// Calls carried from other threads to the one thread that owns what they touch (the GUI
// thread, the console's loop). A worker queues a call and, when it must, waits until the
// owner has run it. Owners hold the queue shared with whoever posts to it: a worker that
// posts after the owner closed the queue reaches only memory that is still alive, and its
// call is dropped.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace palvoro {

class CallQueue {
 public:
  // The thread that creates the queue owns it. `wake` runs, outside the lock, each time
  // another thread queues a call: for an owner that sleeps on something else (an eventfd).
  explicit CallQueue(std::function<void()> wake = {});
  CallQueue(const CallQueue&) = delete;
  CallQueue& operator=(const CallQueue&) = delete;

  bool onOwnerThread() const { return std::this_thread::get_id() == m_owner; }
  // Runs `fn` now on the owner's thread, or queues it from any other thread.
  void post(std::function<void()> fn);
  // Runs `fn` on the owner's thread and returns once it has run; false when the queue
  // was closed first and `fn` never ran.
  bool call(std::function<void()> fn);

  // The owner: runs the calls waiting, each taken from the front under the lock and run
  // outside it, so a call that runs a nested loop lets later calls run inside it, still
  // in order.
  void runWaiting();
  // The owner: sleeps until a call is waiting or `until` has come.
  void waitUntil(std::chrono::steady_clock::time_point until);
  bool hasPending() const;
  // Drops the calls waiting and releases every caller blocked in call(); calls made from
  // now on are dropped.
  void close();

 private:
  struct Pending {
    std::function<void()> fn;
    bool blocking = false;
    bool done = false;
  };

  bool isClosed() const;
  void enqueue(const std::shared_ptr<Pending>& pending);

  const std::thread::id m_owner;
  const std::function<void()> m_wake;
  mutable std::mutex m_mutex;
  std::condition_variable m_arrived;   // the owner: a call arrived
  std::condition_variable m_finished;  // a caller: its call ran, or the queue closed
  std::deque<std::shared_ptr<Pending>> m_pending;
  bool m_closed = false;
};

}  // namespace palvoro
