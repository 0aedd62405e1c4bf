#include "ui/widgets/qt_progress_view.h"

#include <QCoreApplication>

namespace palvoro {

void QtProgressView::post(Call call) {
  // The calls arrive in the order they were made, and are dropped with the queue if this
  // object is gone by then.
  m_queue.post([this, call = std::move(call)] { call(target()); });
}

void QtProgressView::keepResponsive() {
  if (!m_queue.onGuiThread()) return;
  m_queue.drain();
  QCoreApplication::processEvents();
}

}  // namespace palvoro
