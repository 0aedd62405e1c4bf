#pragma once
// Carries calls from worker threads onto the GUI thread without handing them to Qt: the
// calls wait in a queue under a std::mutex and an eventfd wakes the GUI thread, which
// runs them in the order they were made. Qt's own cross-thread events synchronise through
// futexes that a race detector cannot see, so a worker never creates or posts a Qt object
// here; it only locks, appends and writes eight bytes.

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QSocketNotifier;

namespace palvoro {

class GuiCallQueue : public QObject {
  Q_OBJECT

 public:
  // Lives on the thread that creates it, which must be the GUI thread.
  explicit GuiCallQueue(QObject* parent = nullptr);
  // Calls still waiting are dropped; a worker blocked in call() is released.
  ~GuiCallQueue() override;

  // Whether the calling thread is the one this queue runs calls on.
  bool onGuiThread() const;
  // Runs `fn` now on the GUI thread, or queues it from any other thread and returns.
  void post(std::function<void()> fn);
  // Runs `fn` on the GUI thread and returns once it has run. False when the queue was
  // destroyed before running it.
  bool call(std::function<void()> fn);
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
  // What a worker blocked in call() still needs after the queue has gone: it keeps a
  // share of it while it waits.
  struct State {
    ~State();
    int eventFd = -1;
    std::mutex mutex;
    std::condition_variable done;
    std::deque<std::shared_ptr<Pending>> pending;
    bool closed = false;
  };

  void enqueue(const std::shared_ptr<Pending>& pending);
  void onWake();

  std::shared_ptr<State> m_state;
  QSocketNotifier* m_notifier = nullptr;
};

}  // namespace palvoro
