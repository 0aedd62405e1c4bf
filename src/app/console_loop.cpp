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

ConsoleLoop::ConsoleLoop()
    : m_thread(std::this_thread::get_id()), m_state(std::make_shared<State>()), m_interruptBase(interruptsTaken()) {}

ConsoleLoop::~ConsoleLoop() {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  m_state->closed = true;
  m_state->pending.clear();
  m_state->finished.notify_all();
}

void ConsoleLoop::post(std::function<void()> fn) {
  if (onLoopThread()) {
    fn();
    return;
  }
  auto pending = std::make_shared<Pending>();
  pending->fn = std::move(fn);
  std::lock_guard<std::mutex> lock(m_state->mutex);
  if (m_state->closed) return;
  m_state->pending.push_back(std::move(pending));
  m_state->wake.notify_one();
}

bool ConsoleLoop::call(std::function<void()> fn) {
  if (onLoopThread()) {
    fn();
    return true;
  }
  // The caller keeps its own share of the state: the loop may go while it waits.
  const std::shared_ptr<State> state = m_state;
  auto pending = std::make_shared<Pending>();
  pending->fn = std::move(fn);
  pending->blocking = true;
  std::unique_lock<std::mutex> lock(state->mutex);
  if (state->closed) return false;
  state->pending.push_back(pending);
  state->wake.notify_one();
  state->finished.wait(lock, [&] { return pending->done || state->closed; });
  return pending->done;
}

void ConsoleLoop::runUntil(const std::function<bool()>& done) {
  while (!done()) {
    waitForWork();
    dispatchPending();
  }
}

void ConsoleLoop::dispatchPending() {
  runCalls();
  takeInterrupts();
}

void ConsoleLoop::waitForWork() {
  const Clock::time_point until = Clock::now() + kInterruptPoll;
  std::unique_lock<std::mutex> lock(m_state->mutex);
  m_state->wake.wait_until(lock, until, [&] { return !m_state->pending.empty(); });
}

void ConsoleLoop::runCalls() {
  std::deque<std::shared_ptr<Pending>> calls;
  {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    calls.swap(m_state->pending);
  }
  for (const std::shared_ptr<Pending>& call : calls) {
    call->fn();
    if (call->blocking) {
      std::lock_guard<std::mutex> lock(m_state->mutex);
      call->done = true;
      m_state->finished.notify_all();
    }
  }
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
