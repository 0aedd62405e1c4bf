#pragma once
// The terminal's counterpart of the GUI thread: the thread that owns a console run takes
// the calls the run's threads send it and turns Ctrl-C into the Cancel button. Workers never draw or ask anything themselves; they queue it here, as they
// queue it onto the GUI thread in the windows.

#include <functional>
#include <memory>

#include "service/call_queue.h"

namespace palvoro {

class ConsoleLoop {
 public:
  // The loop belongs to the thread that creates it.
  ConsoleLoop();
  // Calls still waiting are dropped; a worker blocked in call() is released.
  ~ConsoleLoop();
  ConsoleLoop(const ConsoleLoop&) = delete;
  ConsoleLoop& operator=(const ConsoleLoop&) = delete;

  bool onLoopThread() const { return m_calls->onOwnerThread(); }
  // Runs `fn` now on the loop's thread, or queues it from any other thread.
  void post(std::function<void()> fn) { m_calls->post(std::move(fn)); }
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
  void takeInterrupts();

  std::shared_ptr<CallQueue> m_calls;
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
