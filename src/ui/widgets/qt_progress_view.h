#pragma once
// The progress view the test worker talks to: every call is carried onto the GUI thread
// and handed there to the dialog's own view, which alone touches widgets. Calls from the
// GUI thread go straight through; calls from a worker are queued in order.

#include "diagnostics/queued_progress_view.h"
#include "ui/widgets/gui_call_queue.h"

namespace palvoro {

class QtProgressView : public QueuedProgressView {
 public:
  // `target` is called on the GUI thread only. Create this object on the GUI thread and
  // destroy it before `target` (queued calls still pending are then dropped).
  explicit QtProgressView(ProgressView& target) : QueuedProgressView(target) {}

  // On the GUI thread runs the queued calls and its pending events; a worker has nothing
  // to do (the GUI thread keeps its own loop running).
  void dispatchPendingMessages() override;

  // The queue the calls travel by; the dialog posts its own last word from the worker here
  // too, so that it arrives after every call of the run.
  GuiCallQueue& queue() { return m_queue; }

 protected:
  void post(Call call) override;

 private:
  GuiCallQueue m_queue;
};

}  // namespace palvoro
