#include "ui/widgets/gui_call_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <cstdint>
#include <stdexcept>

namespace palvoro {
namespace {

// The eventfd that wakes the GUI thread. The queue's wake-up owns it, so it stays open
// for a worker that queues a call while the dialog owning the queue closes.
struct WakeFd {
  int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  WakeFd() = default;
  WakeFd(const WakeFd&) = delete;
  WakeFd& operator=(const WakeFd&) = delete;
  ~WakeFd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

GuiCallQueue::GuiCallQueue(QObject* parent) : QObject(parent) {
  auto wake = std::make_shared<WakeFd>();
  if (wake->fd < 0) throw std::runtime_error("eventfd failed: the GUI thread could not be woken");
  m_eventFd = wake->fd;
  m_calls = std::make_shared<CallQueue>([wake] {
    const std::uint64_t one = 1;
    // Cannot fail short of the counter's overflow, and a full counter is already a wake-up.
    [[maybe_unused]] const ssize_t written = ::write(wake->fd, &one, sizeof one);
  });
  m_notifier = new QSocketNotifier(m_eventFd, QSocketNotifier::Read, this);
  connect(m_notifier, &QSocketNotifier::activated, this, [this] { onWake(); });
}

GuiCallQueue::~GuiCallQueue() {
  delete m_notifier;
  m_calls->close();
}

void GuiCallQueue::onWake() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = ::read(m_eventFd, &count, sizeof count);
  // Run the calls from a timer event rather than from inside the notifier: a call may
  // open a message box whose own event loop must still hear the next wake-up.
  QTimer::singleShot(0, this, [this] { drain(); });
}

}  // namespace palvoro
