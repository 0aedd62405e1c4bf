#pragma once
// The progress view the test worker talks to: every call is carried onto the GUI thread
// and handed there to the dialog's own view, which alone touches widgets. Calls from the
// GUI thread go straight through; calls from a worker are queued in order.

#include "diagnostics/progress_view.h"
#include "ui/widgets/gui_call_queue.h"

namespace palvoro {

class QtProgressView : public ProgressView {
 public:
  // `target` is called on the GUI thread only. Create this object on the GUI thread and
  // destroy it before `target` (queued calls still pending are then dropped).
  explicit QtProgressView(ProgressView& target);

  void setTitle(const std::string& title) override;
  void setText(int controlId, const std::string& text) override;
  void setProgress(int percent) override;
  void showControl(int controlId, bool visible) override;
  void setIcon(int controlId, int iconId) override;
  void armTimer(int timerId, int milliseconds) override;
  void disarmTimer(int timerId) override;
  void closeView(int result) override;
  // On the GUI thread runs the queued calls and its pending events; a worker has nothing
  // to do (the GUI thread keeps its own loop running).
  void dispatchPendingMessages() override;

  // The queue the calls travel by; the dialog posts its own last word from the worker here
  // too, so that it arrives after every call of the run.
  GuiCallQueue& queue() { return m_queue; }

 private:
  template <typename Call>
  void post(Call call);

  ProgressView& m_target;
  GuiCallQueue m_queue;
};

}  // namespace palvoro
