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
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QSocketNotifier;

namespace palvoro {

class GuiCallQueue : public QObject {
  Q_OBJECT

  struct State;

 public:
  // The worker's end of the queue: cheap to copy, safe to use from any thread, and safe
  // to outlive the queue (calls made then are dropped; a blocked call() is released).
  class Sender {
   public:
    // Whether the calling thread is the one the queue runs calls on.
    bool onGuiThread() const;
    // Runs `fn` now on the GUI thread, or queues it from any other thread and returns.
    // Once the queue has gone, `fn` is dropped.
    void post(std::function<void()> fn) const;
    // Runs `fn` on the GUI thread and returns once it has run. False when the queue was
    // destroyed before running it.
    bool call(std::function<void()> fn) const;

   private:
    friend class GuiCallQueue;
    explicit Sender(std::shared_ptr<State> state) : m_state(std::move(state)) {}
    std::shared_ptr<State> m_state;
  };

  // Lives on the thread that creates it, which must be the GUI thread.
  explicit GuiCallQueue(QObject* parent = nullptr);
  // Calls still waiting are dropped; a worker blocked in call() is released.
  ~GuiCallQueue() override;

  // A sender for workers; take it on the GUI thread, before the worker starts.
  Sender sender() const { return Sender(m_state); }
  bool onGuiThread() const { return sender().onGuiThread(); }
  void post(std::function<void()> fn) { sender().post(std::move(fn)); }
  bool call(std::function<void()> fn) { return sender().call(std::move(fn)); }
  // On the GUI thread: runs every call waiting now.
  void drain();
  // Whether calls are waiting (from any thread).
  bool hasPending() const;

 private:
  struct Pending {
    std::function<void()> fn;
    bool blocking = false;
    bool done = false;
  };
  // Everything a worker may touch. It lives as long as the queue or the longest-lived
  // sender, whichever goes last.
  struct State {
    ~State();
    // Queues `pending` and wakes the GUI thread; a closed queue drops it.
    void enqueue(const std::shared_ptr<Pending>& pending);
    bool isClosed();

    std::thread::id guiThread;
    int eventFd = -1;
    std::mutex mutex;
    std::condition_variable done;
    std::deque<std::shared_ptr<Pending>> pending;
    bool closed = false;
  };

  void onWake();

  std::shared_ptr<State> m_state;
  QSocketNotifier* m_notifier = nullptr;
};

}  // namespace palvoro
