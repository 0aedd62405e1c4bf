#include "ui/widgets/gui_call_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <cstdint>
#include <stdexcept>

namespace palvoro {

GuiCallQueue::GuiCallQueue(QObject* parent) : QObject(parent) {
  m_eventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (m_eventFd < 0) throw std::runtime_error("eventfd failed: the GUI thread could not be woken");
  m_notifier = new QSocketNotifier(m_eventFd, QSocketNotifier::Read, this);
  connect(m_notifier, &QSocketNotifier::activated, this, [this] { onWake(); });
}

GuiCallQueue::~GuiCallQueue() {
  {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_pending.clear();
  }
  m_done.notify_all();
  delete m_notifier;
  ::close(m_eventFd);
}

bool GuiCallQueue::onGuiThread() const { return QThread::currentThread() == thread(); }

void GuiCallQueue::enqueue(const std::shared_ptr<Pending>& pending) {
  {
    std::lock_guard lock(m_mutex);
    if (m_closed) return;
    m_pending.push_back(pending);
  }
  wake();
}

void GuiCallQueue::wake() {
  const std::uint64_t one = 1;
  // Cannot fail short of the counter's overflow, and a full counter is already a wake-up.
  [[maybe_unused]] const ssize_t written = ::write(m_eventFd, &one, sizeof one);
}

void GuiCallQueue::post(std::function<void()> fn) {
  if (onGuiThread()) {
    fn();
    return;
  }
  auto pending = std::make_shared<Pending>();
  pending->fn = std::move(fn);
  enqueue(pending);
}

bool GuiCallQueue::call(std::function<void()> fn) {
  if (onGuiThread()) {
    fn();
    return true;
  }
  auto pending = std::make_shared<Pending>();
  pending->fn = std::move(fn);
  pending->blocking = true;
  enqueue(pending);
  std::unique_lock lock(m_mutex);
  m_done.wait(lock, [&] { return pending->done || m_closed; });
  return pending->done;
}

bool GuiCallQueue::hasPending() const {
  std::lock_guard lock(m_mutex);
  return !m_pending.empty();
}

void GuiCallQueue::onWake() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = ::read(m_eventFd, &count, sizeof count);
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
      std::lock_guard lock(m_mutex);
      if (m_pending.empty()) return;
      next = std::move(m_pending.front());
      m_pending.pop_front();
    }
    next->fn();
    if (next->blocking) {
      {
        std::lock_guard lock(m_mutex);
        next->done = true;
      }
      m_done.notify_all();
    }
  }
}

}  // namespace palvoro
