#include "ui/model/resize_ctrl.h"

namespace palvoro {

bool applyResizeShare(int& value, int& remainder, int delta, int part, int maxPart,
                      bool notBelowZero) {
  if (part == 0) return false;
  const int amount = delta * part + remainder;
  if (amount == 0) return false;
  // C++ division truncates towards zero and % keeps the sign of `amount`.
  const int step = amount / maxPart;
  remainder = amount % maxPart;
  value += step;
  if (notBelowZero && value < 0) {
    remainder += value * maxPart;
    value = 0;
  }
  return step != 0;
}

bool ResizeCtrl::create(ResizeHost& host, bool enable, int maxPart) {
  if (m_host != nullptr) return false;
  m_host = &host;
  m_maxPart = maxPart;
  m_minTrack = {-1, -1};
  m_maxTrack = {-1, -1};
  if (enable) this->enable(true);
  return true;
}

void ResizeCtrl::enable(bool on) {
  if (m_host == nullptr || on == m_enabled) return;
  if (on) {
    m_lastClient = m_host->clientSize();
    m_hadSizingBorder = m_host->hasSizingBorder();
    if (!m_hadSizingBorder) m_host->setSizingBorder(true);
    m_gripRect = computeGripRect(m_lastClient.width, m_lastClient.height);
    m_host->setIntercepting(true);
  } else {
    m_host->setIntercepting(false);
    if (!m_hadSizingBorder) m_host->setSizingBorder(false);
  }
  m_enabled = on;
}

bool ResizeCtrl::add(int controlId, int left, int top, int width, int height) {
  if (m_host == nullptr) return false;
  for (int part : {left, top, width, height}) {
    if (part < 0 || part > m_maxPart) return false;
  }
  if (left + width > m_maxPart || top + height > m_maxPart) return false;
  if (!m_host->controlRect(controlId)) return false;
  ResizeItem item;
  item.controlId = controlId;
  item.left = left;
  item.top = top;
  item.width = width;
  item.height = height;
  m_items.push_back(item);
  return true;
}

void ResizeCtrl::setMinimumTrackingSize() {
  if (m_host != nullptr) m_minTrack = m_host->windowSize();
}

ResizeCtrl::Limits ResizeCtrl::trackingLimits(ResizeSize systemMinimum,
                                              ResizeSize systemMaximum) {
  if (m_minTrack.width == -1) m_minTrack.width = systemMinimum.width;
  if (m_minTrack.height == -1) m_minTrack.height = systemMinimum.height;
  if (m_maxTrack.width == -1) m_maxTrack.width = systemMaximum.width;
  if (m_maxTrack.height == -1) m_maxTrack.height = systemMaximum.height;
  return {m_minTrack, m_maxTrack};
}

void ResizeCtrl::showGrip(bool on) {
  if (on == m_gripShown) return;
  m_gripShown = on;
  if (m_enabled && m_host != nullptr) m_host->redraw(m_gripRect);
}

ResizeRect ResizeCtrl::computeGripRect(int cx, int cy) const {
  const ResizeSize bars = m_host->scrollBarExtents();
  const int width = bars.width - 2;
  const int height = bars.height - 2;
  return {cx - width, cy - height, width, height};
}

void ResizeCtrl::onSize(int cx, int cy) {
  if (m_host == nullptr || m_inResize) return;
  m_inResize = true;
  const int dx = cx - m_lastClient.width;
  const int dy = cy - m_lastClient.height;
  if (dx != 0 || dy != 0) {
    std::vector<ResizePlacement> moves;
    for (ResizeItem& item : m_items) {
      const std::optional<ResizeRect> found = m_host->controlRect(item.controlId);
      if (!found) continue;
      ResizeRect r = *found;
      applyResizeShare(r.x, item.leftRemainder, dx, item.left, m_maxPart, false);
      applyResizeShare(r.width, item.widthRemainder, dx, item.width, m_maxPart, true);
      applyResizeShare(r.y, item.topRemainder, dy, item.top, m_maxPart, false);
      applyResizeShare(r.height, item.heightRemainder, dy, item.height, m_maxPart, true);
      if (r != *found) moves.push_back({item.controlId, r});
    }
    if (!moves.empty()) m_host->placeControls(moves);
  }
  m_lastClient = {cx, cy};
  m_inResize = false;
  const ResizeRect oldGrip = m_gripRect;
  m_gripRect = computeGripRect(cx, cy);
  if (m_gripShown) {
    m_host->redraw(oldGrip);
    m_host->redraw(m_gripRect);
  }
}

}  // namespace palvoro
