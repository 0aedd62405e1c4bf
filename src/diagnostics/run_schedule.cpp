#include "diagnostics/run_schedule.h"

namespace palvoro {

void RunSchedule::arm(int timer) {
  std::lock_guard lock(m_mutex);
  if (m_closed) return;
  m_deadlines[timer] = Clock::now() + m_period;
  m_changed.notify_all();
}

void RunSchedule::disarm(int timer) {
  std::lock_guard lock(m_mutex);
  m_deadlines.erase(timer);
  m_changed.notify_all();
}

bool RunSchedule::armed(int timer) const {
  std::lock_guard lock(m_mutex);
  return m_deadlines.count(timer) != 0;
}

std::vector<int> RunSchedule::armedTimers() const {
  std::lock_guard lock(m_mutex);
  std::vector<int> out;
  for (const auto& [timer, deadline] : m_deadlines) out.push_back(timer);
  return out;
}

bool RunSchedule::idle() const {
  std::lock_guard lock(m_mutex);
  return m_deadlines.empty() && !m_firing;
}

void RunSchedule::run(const std::function<void(int)>& fire) {
  std::unique_lock lock(m_mutex);
  while (!m_closed) {
    if (m_deadlines.empty()) {
      m_changed.wait(lock);
      continue;
    }
    Clock::time_point next = Clock::time_point::max();
    for (const auto& [timer, deadline] : m_deadlines) next = std::min(next, deadline);
    const Clock::time_point now = Clock::now();
    if (now < next) {
      m_changed.wait_until(lock, next);
      continue;
    }
    // A handler re-arms its own timer: take every due one off before calling any.
    std::vector<int> due;
    for (auto it = m_deadlines.begin(); it != m_deadlines.end();) {
      if (it->second <= now) {
        due.push_back(it->first);
        it = m_deadlines.erase(it);
      } else {
        ++it;
      }
    }
    m_firing = true;
    for (const int timer : due) {
      // A close from the handler of an earlier one drops the rest.
      if (m_closed) break;
      lock.unlock();
      fire(timer);
      lock.lock();
    }
    m_firing = false;
  }
}

void RunSchedule::close() {
  std::lock_guard lock(m_mutex);
  m_closed = true;
  m_deadlines.clear();
  m_changed.notify_all();
}

void RunSchedule::reset() {
  std::lock_guard lock(m_mutex);
  m_closed = false;
  m_deadlines.clear();
}

}  // namespace palvoro
