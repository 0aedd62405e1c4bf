#include "ui/widgets/qt_progress_view.h"

#include <QCoreApplication>

namespace palvoro {

QtProgressView::QtProgressView(ProgressView& target) : m_target(target) {}

template <typename Call>
void QtProgressView::post(Call call) {
  // The calls arrive in the order they were made, and are dropped with the queue if this
  // object is gone by then.
  m_queue.post([this, call = std::move(call)] { call(m_target); });
}

void QtProgressView::setTitle(const std::string& title) {
  post([title](ProgressView& v) { v.setTitle(title); });
}

void QtProgressView::setText(int controlId, const std::string& text) {
  post([controlId, text](ProgressView& v) { v.setText(controlId, text); });
}

void QtProgressView::setProgress(int percent) {
  post([percent](ProgressView& v) { v.setProgress(percent); });
}

void QtProgressView::showControl(int controlId, bool visible) {
  post([controlId, visible](ProgressView& v) { v.showControl(controlId, visible); });
}

void QtProgressView::setIcon(int controlId, int iconId) {
  post([controlId, iconId](ProgressView& v) { v.setIcon(controlId, iconId); });
}

void QtProgressView::armTimer(int timerId, int milliseconds) {
  post([timerId, milliseconds](ProgressView& v) { v.armTimer(timerId, milliseconds); });
}

void QtProgressView::disarmTimer(int timerId) {
  post([timerId](ProgressView& v) { v.disarmTimer(timerId); });
}

void QtProgressView::closeView(int result) {
  post([result](ProgressView& v) { v.closeView(result); });
}

void QtProgressView::dispatchPendingMessages() {
  if (!m_queue.onGuiThread()) return;
  m_queue.drain();
  QCoreApplication::processEvents();
}

}  // namespace palvoro
