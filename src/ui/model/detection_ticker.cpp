#include "ui/model/detection_ticker.h"

#include "resources/string_table.h"

namespace palvoro {

void DetectionTicker::begin() {
  m_view.setProgress(kInitialProgress);
  m_busy.store(true);
}

void DetectionTicker::runWorker(bool rescan, const std::function<void()>& detection) {
  m_started.store(true);
  if (rescan) m_view.setTitle(loadString(kStrRescanningDrives));
  m_view.armTimer(kTimerPeriodMs);
  detection();
  m_busy.store(false);
}

void DetectionTicker::onTick() {
  m_view.disarmTimer();
  if (m_started.exchange(false)) m_tickCounter = 1;
  if (!m_busy.load()) {
    m_view.setProgress(100);
    m_view.closeView(true);
    return;
  }
  if (m_tickCounter > kLastWaitingTick) {
    m_view.closeView(false);
    return;
  }
  if (m_tickCounter == 2) m_view.restore();
  m_view.setProgress(kProgressPerTick * m_tickCounter);
  ++m_tickCounter;
  m_view.armTimer(kTimerPeriodMs);
}

}  // namespace palvoro
