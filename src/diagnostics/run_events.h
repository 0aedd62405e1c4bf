#pragma once
// What a test run tells whoever shows it, as typed events: the run began, where it
// stands, the stage it is in, a bad sector found, the repair offered, how it is doing,
// that it ended and that it is over. The progress dialog and the console each turn them
// into their own controls or lines (run_event_texts.h gives both the same words); tests
// record them. Events come from the run's worker, its ticker and, for a repair, the front
// end's own thread, so an implementation carries them to one thread itself.

#include <cstdint>
#include <optional>
#include <string>

namespace palvoro {

// One unreadable sector: its number and the system error of the failed read.
struct BadSector {
  uint64_t sector = 0;
  uint32_t error = 0;

  bool operator==(const BadSector&) const = default;
};

// The run has begun: the kind it runs (TestKind) and its drive as the user numbers it.
struct RunStarted {
  int32_t kind = 0;
  int driveNumber = 0;

  bool operator==(const RunStarted&) const = default;
};

// The sector a scan or erase has reached, and the last sector of its range.
struct SectorPosition {
  uint64_t current = 0;
  uint64_t last = 0;

  bool operator==(const SectorPosition&) const = default;
};

// Where the run stands. Each event carries only what changed: the worker knows the bar
// and the sector, the ticker the times, a step the drive's own estimate.
struct RunProgress {
  std::optional<int> percent;                // the bar, 0..100
  std::optional<SectorPosition> sector;      // refreshed every 4096 sectors and at the end
  std::optional<int64_t> elapsedSeconds;     // since the timed step began, every tick
  std::optional<int64_t> remainingSeconds;   // estimated from the sectors done; 0 at the end
  std::optional<int> estimatedMinutes;       // what a self-test or erase step is said to take
  std::optional<int> temperatureCelsius;     // the drive's temperature, as its guard last read it

  bool operator==(const RunProgress&) const = default;
};

// The running text or the outcome, and a line of detail that stands where the times
// stood (why a cable test or a repair failed).
struct RunStage {
  std::string line;
  std::optional<std::string> detail;

  bool operator==(const RunStage&) const = default;
};

// How the run is doing: turning while it runs, then its outcome.
enum class RunActivity { Running, Success, Failure };

// The run has ended and waits to be closed: its TestState and TestError then.
struct RunEnd {
  int32_t state = 0;
  int32_t error = 0;

  bool operator==(const RunEnd&) const = default;
};

class RunEvents {
 public:
  virtual ~RunEvents() = default;
  virtual void started(const RunStarted& start) = 0;
  virtual void stage(const RunStage& stage) = 0;
  virtual void progress(const RunProgress& progress) = 0;
  // A sector loop begins: its times start over and the current sector is shown from now.
  virtual void scanStarted() = 0;
  // The repair begins: the scan's figures no longer apply.
  virtual void repairStarted() = 0;
  // Each unreadable sector as it is found (the run keeps the list too, so a front end
  // that shows only the outcome may let these pass).
  virtual void badSectorFound(const BadSector&) {}
  // Whether the bad sectors found may be repaired (shown after the scan, withdrawn once the
  // repair is chosen).
  virtual void repairOffered(bool offered) = 0;
  virtual void activity(RunActivity activity) = 0;
  // Cancel has become Close.
  virtual void ended(const RunEnd& end) = 0;
  // The run is over, stopped or closed: whatever shows it goes.
  virtual void closed() = 0;
  // The repair runs on the front end's own thread: between sectors it lets that thread
  // handle what is waiting (Close among it).
  virtual void keepResponsive() {}
};

// Events nobody watches: a run whose outcome is read from its values alone (a benchmark,
// a headless front end).
class UnwatchedRunEvents : public RunEvents {
 public:
  void started(const RunStarted&) override {}
  void stage(const RunStage&) override {}
  void progress(const RunProgress&) override {}
  void scanStarted() override {}
  void repairStarted() override {}
  void repairOffered(bool) override {}
  void activity(RunActivity) override {}
  void ended(const RunEnd&) override {}
  void closed() override {}
};

}  // namespace palvoro
