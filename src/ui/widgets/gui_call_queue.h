#pragma once
// Carries calls from worker threads onto the GUI thread without handing them to Qt: the
// calls wait in a queue under a std::mutex and an eventfd wakes the GUI thread, which
// runs them in the order they were made. Qt's own cross-thread events synchronise through
// futexes that a race detector cannot see, so a worker never creates or posts a Qt object
// here; it only locks, appends and writes eight bytes.
//
// Workers talk to a Sender, never to the queue object: a sender holds a share of the
// queue's state, so a worker that posts while the dialog owning the queue closes reaches
// only memory that is still alive, and its call is simply dropped.

#include <QObject>
#include <functional>
#include <memory>

#include "service/call_queue.h"

class QSocketNotifier;

namespace palvoro {

class GuiCallQueue : public QObject {
  Q_OBJECT

 public:
  // The worker's end of the queue: cheap to copy, safe to use from any thread, and safe
  // to outlive the queue (calls made then are dropped; a blocked call() is released).
  class Sender {
   public:
    // Whether the calling thread is the one the queue runs calls on.
    bool onGuiThread() const { return m_calls->onOwnerThread(); }
    // Runs `fn` now on the GUI thread, or queues it from any other thread and returns.
    // Once the queue has gone, `fn` is dropped.
    void post(std::function<void()> fn) const { m_calls->post(std::move(fn)); }
    // Runs `fn` on the GUI thread and returns once it has run. False when the queue was
    // destroyed before running it.
    bool call(std::function<void()> fn) const { return m_calls->call(std::move(fn)); }

   private:
    friend class GuiCallQueue;
    explicit Sender(std::shared_ptr<CallQueue> calls) : m_calls(std::move(calls)) {}
    std::shared_ptr<CallQueue> m_calls;
  };

  // Lives on the thread that creates it, which must be the GUI thread.
  explicit GuiCallQueue(QObject* parent = nullptr);
  // Calls still waiting are dropped; a worker blocked in call() is released.
  ~GuiCallQueue() override;

  // A sender for workers; take it on the GUI thread, before the worker starts.
  Sender sender() const { return Sender(m_calls); }
  bool onGuiThread() const { return m_calls->onOwnerThread(); }
  void post(std::function<void()> fn) { m_calls->post(std::move(fn)); }
  bool call(std::function<void()> fn) { return m_calls->call(std::move(fn)); }
  // On the GUI thread: runs every call waiting now.
  void drain() { m_calls->runWaiting(); }
  // Whether calls are waiting (from any thread).
  bool hasPending() const { return m_calls->hasPending(); }

 private:
  void onWake();

  int m_eventFd = -1;  // shared with the queue's wake-up, which closes it
  std::shared_ptr<CallQueue> m_calls;
  QSocketNotifier* m_notifier = nullptr;
};

}  // namespace palvoro
