#include "app/console_loop.h"

#include <signal.h>

#include <atomic>

namespace palvoro {
namespace {

// A signal handler reaches nothing but what lives for the whole process: this counter is
// the one value of the program that cannot sit in a context object.
std::atomic<int> g_interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler may only touch a lock-free atomic");

extern "C" void countInterrupt(int) { g_interrupts.fetch_add(1, std::memory_order_relaxed); }

// Signals cannot wake a condition variable: the loop looks at the counter this often.
constexpr auto kInterruptPoll = std::chrono::milliseconds(100);

struct sigaction g_previousInt;
struct sigaction g_previousTerm;

}  // namespace

int interruptsTaken() { return g_interrupts.load(std::memory_order_relaxed); }

namespace {
int g_takenWhenGuarded = 0;
}  // namespace

InterruptGuard::InterruptGuard() {
  g_takenWhenGuarded = interruptsTaken();
  struct sigaction action = {};
  action.sa_handler = countInterrupt;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a read waiting for an answer returns, so the question can end as Cancel.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, &g_previousInt);
  sigaction(SIGTERM, &action, &g_previousTerm);
}

InterruptGuard::~InterruptGuard() {
  // Once the user has stopped a run the program is on its way out: a later Ctrl-C must
  // not cut the result page or the report short, so it stays counted and ignored.
  if (interruptsTaken() != g_takenWhenGuarded) return;
  sigaction(SIGINT, &g_previousInt, nullptr);
  sigaction(SIGTERM, &g_previousTerm, nullptr);
}

ConsoleLoop::ConsoleLoop() : m_calls(std::make_shared<CallQueue>()), m_interruptBase(interruptsTaken()) {}

ConsoleLoop::~ConsoleLoop() { m_calls->close(); }

bool ConsoleLoop::call(std::function<void()> fn) {
  // The caller keeps its own share of the queue: the loop may go while it waits.
  const std::shared_ptr<CallQueue> calls = m_calls;
  return calls->call(std::move(fn));
}

void ConsoleLoop::runUntil(const std::function<bool()>& done) {
  while (!done()) {
    m_calls->waitUntil(std::chrono::steady_clock::now() + kInterruptPoll);
    dispatchPending();
  }
}

void ConsoleLoop::dispatchPending() {
  m_calls->runWaiting();
  takeInterrupts();
}

void ConsoleLoop::forgetInterrupts() { m_interruptBase = interruptsTaken() - m_interruptsSeen; }

void ConsoleLoop::takeInterrupts() {
  const int taken = interruptsTaken();
  while (m_interruptBase + m_interruptsSeen < taken) {
    ++m_interruptsSeen;
    if (m_interruptHandler) m_interruptHandler(m_interruptsSeen);
  }
}

}  // namespace palvoro
