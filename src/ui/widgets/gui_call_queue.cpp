#include "ui/widgets/gui_call_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <cstdint>
#include <stdexcept>

namespace palvoro {

GuiCallQueue::State::~State() {
  if (eventFd >= 0) ::close(eventFd);
}

GuiCallQueue::GuiCallQueue(QObject* parent) : QObject(parent), m_state(std::make_shared<State>()) {
  m_state->guiThread = std::this_thread::get_id();
  m_state->eventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (m_state->eventFd < 0) throw std::runtime_error("eventfd failed: the GUI thread could not be woken");
  m_notifier = new QSocketNotifier(m_state->eventFd, QSocketNotifier::Read, this);
  connect(m_notifier, &QSocketNotifier::activated, this, [this] { onWake(); });
}

GuiCallQueue::~GuiCallQueue() {
  delete m_notifier;
  {
    std::lock_guard lock(m_state->mutex);
    m_state->closed = true;
    m_state->pending.clear();
  }
  m_state->done.notify_all();
}

bool GuiCallQueue::Sender::onGuiThread() const { return std::this_thread::get_id() == m_state->guiThread; }

void GuiCallQueue::State::enqueue(const std::shared_ptr<Pending>& call) {
  {
    std::lock_guard lock(mutex);
    if (closed) return;
    pending.push_back(call);
  }
  const std::uint64_t one = 1;
  // Cannot fail short of the counter's overflow, and a full counter is already a wake-up.
  // The descriptor belongs to the state, so it is still open even if the queue has gone.
  [[maybe_unused]] const ssize_t written = ::write(eventFd, &one, sizeof one);
}

bool GuiCallQueue::State::isClosed() {
  std::lock_guard lock(mutex);
  return closed;
}

void GuiCallQueue::Sender::post(std::function<void()> fn) const {
  if (onGuiThread()) {
    // A call made after the queue has gone would reach its owner, which has gone too.
    if (!m_state->isClosed()) fn();
    return;
  }
  auto pending = std::make_shared<Pending>();
  pending->fn = std::move(fn);
  m_state->enqueue(pending);
}

bool GuiCallQueue::Sender::call(std::function<void()> fn) const {
  if (onGuiThread()) {
    if (m_state->isClosed()) return false;
    fn();
    return true;
  }
  auto pending = std::make_shared<Pending>();
  pending->fn = std::move(fn);
  pending->blocking = true;
  State& state = *m_state;
  state.enqueue(pending);
  std::unique_lock lock(state.mutex);
  state.done.wait(lock, [&] { return pending->done || state.closed; });
  return pending->done;
}

bool GuiCallQueue::hasPending() const {
  std::lock_guard lock(m_state->mutex);
  return !m_state->pending.empty();
}

void GuiCallQueue::onWake() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = ::read(m_state->eventFd, &count, sizeof count);
  // Run the calls from a timer event rather than from inside the notifier: a call may
  // open a message box whose own event loop must still hear the next wake-up.
  QTimer::singleShot(0, this, [this] { drain(); });
}

void GuiCallQueue::drain() {
  // One call at a time, taken from the front under the lock and run outside it: a call
  // that runs a nested event loop lets later calls run inside it, still in order.
  for (;;) {
    std::shared_ptr<Pending> next;
    {
      std::lock_guard lock(m_state->mutex);
      if (m_state->pending.empty()) return;
      next = std::move(m_state->pending.front());
      m_state->pending.pop_front();
    }
    next->fn();
    if (next->blocking) {
      {
        std::lock_guard lock(m_state->mutex);
        next->done = true;
      }
      m_state->done.notify_all();
    }
  }
}

}  // namespace palvoro
