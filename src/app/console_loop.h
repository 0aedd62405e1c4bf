#pragma once
// The terminal's counterpart of the GUI thread: the thread that owns a console run takes
// the calls the run's threads send it and turns Ctrl-C into the Cancel button. Workers never draw or ask anything themselves; they queue it here, as they
// queue it onto the GUI thread in the windows.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace palvoro {

class ConsoleLoop {
 public:
  // The loop belongs to the thread that creates it.
  ConsoleLoop();
  // Calls still waiting are dropped; a worker blocked in call() is released.
  ~ConsoleLoop();
  ConsoleLoop(const ConsoleLoop&) = delete;
  ConsoleLoop& operator=(const ConsoleLoop&) = delete;

  bool onLoopThread() const { return std::this_thread::get_id() == m_thread; }
  // Runs `fn` now on the loop's thread, or queues it from any other thread.
  void post(std::function<void()> fn);
  // Runs `fn` on the loop's thread and returns once it has run; false when the loop went
  // first and `fn` never ran.
  bool call(std::function<void()> fn);

  // Called with the count so far (1 for the first) for each interrupt taken.
  void onInterrupt(std::function<void(int)> handler) { m_interruptHandler = std::move(handler); }

  // Waits for and dispatches calls and interrupts until `done` holds.
  void runUntil(const std::function<bool()>& done);
  // Dispatches what is due now, without waiting.
  void dispatchPending();
  // Interrupts taken so far are not passed on: a question that an interrupt answered as
  // Cancel has used it up.
  void forgetInterrupts();

 private:
  struct Pending {
    std::function<void()> fn;
    bool blocking = false;
    bool done = false;
  };
  struct State {
    std::mutex mutex;
    std::condition_variable wake;      // the loop: a call arrived
    std::condition_variable finished;  // a caller: its call ran, or the loop closed
    std::deque<std::shared_ptr<Pending>> pending;
    bool closed = false;
  };
  using Clock = std::chrono::steady_clock;

  void waitForWork();
  void runCalls();
  void takeInterrupts();

  std::thread::id m_thread;
  std::shared_ptr<State> m_state;
  std::function<void(int)> m_interruptHandler;
  int m_interruptBase = 0;   // interruptsTaken() when the loop began, or was told to forget
  int m_interruptsSeen = 0;  // passed on since then
};

// Ctrl-C and SIGTERM while it lives: each is counted instead of ending the process, and the
// loop passes the count on. The previous handlers come back when it goes, unless an
// interrupt was taken meanwhile: then the program is ending and stays uninterruptible.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// How many interrupts the guard has counted since the program started.
int interruptsTaken();

}  // namespace palvoro
