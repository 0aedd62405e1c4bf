#pragma once
// The run events the test's threads raise: every event is carried onto the GUI thread and
// handed there to the dialog, which alone touches widgets. Events raised on the GUI thread
// go straight through; those of the worker and the ticker are queued in order.

#include "diagnostics/queued_run_events.h"
#include "ui/widgets/gui_call_queue.h"

namespace palvoro {

class QtProgressView : public QueuedRunEvents {
 public:
  // `target` is called on the GUI thread only. Create this object on the GUI thread and
  // destroy it before `target` (queued events still pending are then dropped).
  explicit QtProgressView(RunEvents& target) : QueuedRunEvents(target) {}

  // On the GUI thread runs the queued events and its pending input; a worker has nothing
  // to do (the GUI thread keeps its own loop running).
  void keepResponsive() override;

  // The queue the events travel by; the dialog posts its threads' last words here too, so
  // that they arrive after every event of the run.
  GuiCallQueue& queue() { return m_queue; }

 protected:
  void post(Call call) override;

 private:
  GuiCallQueue m_queue;
};

}  // namespace palvoro
