#include "ui/widgets/resize_adapter.h"

#include <QEvent>
#include <QResizeEvent>
#include <QStyle>
#include <QVariant>

namespace palvoro {

ResizeAdapter::ResizeAdapter(QWidget* window, bool enable, int maxPart)
    : QObject(window), m_window(window) {
  m_grip = new QSizeGrip(window);
  m_grip->hide();
  m_ctrl.create(*this, enable, maxPart);
}

ResizeAdapter::~ResizeAdapter() {
  if (m_window) m_ctrl.onDestroy();
}

bool ResizeAdapter::add(QWidget* control, int left, int top, int width, int height) {
  const int id = static_cast<int>(m_controls.size());
  m_controls.emplace_back(control);
  if (m_ctrl.add(id, left, top, width, height)) return true;
  m_controls.pop_back();
  return false;
}

void ResizeAdapter::enable(bool on) { m_ctrl.enable(on); }

void ResizeAdapter::setMinimumTrackingSize() {
  m_ctrl.setMinimumTrackingSize();
  applyLimits();
}

void ResizeAdapter::showGrip(bool on) { m_ctrl.showGrip(on); }

void ResizeAdapter::applyLimits() {
  if (!m_window) return;
  const ResizeCtrl::Limits limits = m_ctrl.trackingLimits(
      {m_window->minimumWidth(), m_window->minimumHeight()},
      {m_window->maximumWidth(), m_window->maximumHeight()});
  m_window->setMinimumSize(limits.minimum.width, limits.minimum.height);
  m_window->setMaximumSize(limits.maximum.width, limits.maximum.height);
}

bool ResizeAdapter::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_window && event->type() == QEvent::Resize) {
    const QSize size = static_cast<QResizeEvent*>(event)->size();
    m_ctrl.onSize(size.width(), size.height());
  }
  return QObject::eventFilter(watched, event);
}

ResizeSize ResizeAdapter::clientSize() const {
  return m_window ? ResizeSize{m_window->width(), m_window->height()} : ResizeSize{};
}

// A Qt widget's size is its client area; the frame belongs to the window manager.
ResizeSize ResizeAdapter::windowSize() const { return clientSize(); }

std::optional<ResizeRect> ResizeAdapter::controlRect(int controlId) const {
  if (controlId < 0 || controlId >= static_cast<int>(m_controls.size())) return std::nullopt;
  const QWidget* control = m_controls[static_cast<std::size_t>(controlId)];
  if (control == nullptr || control->parentWidget() != m_window) return std::nullopt;
  const QRect r = control->geometry();
  return ResizeRect{r.x(), r.y(), r.width(), r.height()};
}

void ResizeAdapter::placeControls(const std::vector<ResizePlacement>& moves) {
  for (const ResizePlacement& move : moves) {
    QWidget* control = m_controls[static_cast<std::size_t>(move.controlId)];
    if (control != nullptr) {
      control->setGeometry(move.rect.x, move.rect.y, move.rect.width, move.rect.height);
    }
  }
}

void ResizeAdapter::setIntercepting(bool on) {
  if (!m_window) return;
  if (on) {
    m_window->installEventFilter(this);
    m_window->setProperty(kWindowProperty, QVariant::fromValue(static_cast<QObject*>(this)));
  } else {
    m_window->removeEventFilter(this);
    m_window->setProperty(kWindowProperty, QVariant());
  }
}

bool ResizeAdapter::hasSizingBorder() const {
  return m_window && m_window->minimumSize() != m_window->maximumSize();
}

void ResizeAdapter::setSizingBorder(bool on) {
  if (!m_window) return;
  if (on) {
    m_window->setMinimumSize(0, 0);
    m_window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  } else {
    m_window->setFixedSize(m_window->size());
  }
}

ResizeSize ResizeAdapter::scrollBarExtents() const {
  const int extent = m_window ? m_window->style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 16;
  return {extent, extent};
}

void ResizeAdapter::redraw(const ResizeRect& area) {
  if (!m_window) return;
  const ResizeRect grip = m_ctrl.gripRect();
  m_grip->setGeometry(grip.x, grip.y, grip.width, grip.height);
  m_grip->setVisible(m_ctrl.gripShown());
  if (m_ctrl.gripShown()) m_grip->raise();
  m_window->update(area.x, area.y, area.width, area.height);
}

}  // namespace palvoro
