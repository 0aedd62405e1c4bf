#pragma once
// A progress view that hands every call to the thread owning another view: the run's
// worker talks to it, and only that thread touches what the user sees. Each program
// supplies the carrying (the GUI thread's queue, the console's loop): a call made on the
// owning thread goes straight through, a worker's calls arrive in the order they were made.

#include <functional>
#include <string>

#include "diagnostics/progress_view.h"

namespace palvoro {

class QueuedProgressView : public ProgressView {
 public:
  explicit QueuedProgressView(ProgressView& target) : m_target(target) {}

  void setTitle(const std::string& title) override {
    post([title](ProgressView& v) { v.setTitle(title); });
  }
  void setText(int controlId, const std::string& text) override {
    post([controlId, text](ProgressView& v) { v.setText(controlId, text); });
  }
  void setProgress(int percent) override {
    post([percent](ProgressView& v) { v.setProgress(percent); });
  }
  void showControl(int controlId, bool visible) override {
    post([controlId, visible](ProgressView& v) { v.showControl(controlId, visible); });
  }
  void setIcon(int controlId, int iconId) override {
    post([controlId, iconId](ProgressView& v) { v.setIcon(controlId, iconId); });
  }
  void armTimer(int timerId, int milliseconds) override {
    post([timerId, milliseconds](ProgressView& v) { v.armTimer(timerId, milliseconds); });
  }
  void disarmTimer(int timerId) override {
    post([timerId](ProgressView& v) { v.disarmTimer(timerId); });
  }
  void closeView(int result) override {
    post([result](ProgressView& v) { v.closeView(result); });
  }

 protected:
  using Call = std::function<void(ProgressView&)>;
  // Runs `call` with the target on the target's thread: now when already there, otherwise
  // queued behind the calls before it.
  virtual void post(Call call) = 0;
  ProgressView& target() { return m_target; }

 private:
  ProgressView& m_target;
};

}  // namespace palvoro
