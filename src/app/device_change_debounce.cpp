#include "app/device_change_debounce.h"

#include <algorithm>

namespace palvoro {

void DeviceChangeDebounce::eventAt(int64_t nowMs) {
  m_pending = true;
  m_dueMs = nowMs + m_quietMs;
}

bool DeviceChangeDebounce::dueAt(int64_t nowMs, bool windowFree) {
  if (!m_pending || nowMs < m_dueMs) return false;
  if (!windowFree) {
    m_dueMs = nowMs + m_quietMs;
    return false;
  }
  m_pending = false;
  return true;
}

int DeviceChangeDebounce::waitAt(int64_t nowMs) const {
  if (!m_pending) return -1;
  return static_cast<int>(std::clamp<int64_t>(m_dueMs - nowMs, 0, m_quietMs));
}

}  // namespace palvoro
