#pragma once
// Run events handed to the thread owning another receiver: the run's worker and ticker
// talk to it, and only that thread touches what the user sees. Each program supplies the
// carrying (the GUI thread's queue, the console's loop): an event raised on the owning
// thread goes straight through, the others arrive in the order they were raised.

#include <functional>

#include "diagnostics/run_events.h"

namespace palvoro {

class QueuedRunEvents : public RunEvents {
 public:
  explicit QueuedRunEvents(RunEvents& target) : m_target(target) {}

  void started(const RunStarted& start) override {
    post([start](RunEvents& e) { e.started(start); });
  }
  void stage(const RunStage& stage) override {
    post([stage](RunEvents& e) { e.stage(stage); });
  }
  void progress(const RunProgress& progress) override {
    post([progress](RunEvents& e) { e.progress(progress); });
  }
  void scanStarted() override { post([](RunEvents& e) { e.scanStarted(); }); }
  void repairStarted() override { post([](RunEvents& e) { e.repairStarted(); }); }
  void badSectorFound(const BadSector& bad) override {
    post([bad](RunEvents& e) { e.badSectorFound(bad); });
  }
  void repairOffered(bool offered) override {
    post([offered](RunEvents& e) { e.repairOffered(offered); });
  }
  void activity(RunActivity activity) override {
    post([activity](RunEvents& e) { e.activity(activity); });
  }
  void ended(const RunEnd& end) override {
    post([end](RunEvents& e) { e.ended(end); });
  }
  void closed() override { post([](RunEvents& e) { e.closed(); }); }

 protected:
  using Call = std::function<void(RunEvents&)>;
  // Runs `call` with the target on the target's thread: now when already there, otherwise
  // queued behind the calls before it.
  virtual void post(Call call) = 0;
  RunEvents& target() { return m_target; }

 private:
  RunEvents& m_target;
};

}  // namespace palvoro
