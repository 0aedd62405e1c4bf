#pragma once
// Many drives at once: each drive's run is a request of its own on its own thread, shown
// as one row instead of a dialog. What a row shows is computed here, once, for the
// terminal's live lines and the Bench window alike; the front ends only draw it.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/run.h"
#include "diagnostics/run_events.h"
#include "service/run_service.h"

namespace palvoro {

// The words of a TestState: PASS, FAIL, ABORT, COMPLETE, or RUNNING for a run without an end.
std::string runStateWord(int32_t state);

// Why a request ended without a run, for people (`text`) and for scripts (`key`).
struct StartEndText {
  const char* key;
  const char* text;
};
StartEndText startEndText(StartEnd end);

// Where a drive of a bench stands.
enum class BenchPhase {
  Waiting,   // listed, its run not begun (its checks are being made)
  Running,   // its run has begun
  Ended,     // its request came to an outcome
};

// What a row shows at one moment.
struct BenchRowState {
  BenchPhase phase = BenchPhase::Waiting;
  std::string stage;                        // the run's running text, or "" before it has one
  std::optional<int> percent;               // the bar
  std::optional<double> bytesPerSecond;     // over the last few seconds of the walk
  std::optional<int64_t> elapsedSeconds;
  std::optional<int64_t> remainingSeconds;  // estimated from the sectors done
  uint64_t badSectors = 0;                  // found so far
  std::optional<int> temperatureCelsius;    // when the drive reports it
  std::string outcome;                      // once ended: "PASS", "FAIL: 08 ...", "not started: ..."
  int32_t state = kTestStateRunning;        // once ended and run: the TestState
};

// The seconds a rate is taken over: long enough to smooth a drive's pauses, short enough
// to show a slow region as it is crossed.
inline constexpr double kBenchRateWindowSeconds = 5.0;

// Sectors a walk may move between two of its progress events before its rate starts over.
inline constexpr uint64_t kBenchLeapSectors = uint64_t{1} << 17;

// One drive's row. Its run's events arrive from the run's worker and ticker threads and
// its state is read from whichever thread draws: every call takes the row's own lock.
class BenchRow : public RunEvents {
 public:
  // `sectorSize` turns the sectors a walk reached into bytes; `now` gives monotonic seconds.
  BenchRow(uint32_t sectorSize, std::function<double()> now);

  void started(const RunStarted& start) override;
  void stage(const RunStage& stage) override;
  void progress(const RunProgress& progress) override;
  void scanStarted() override;
  void repairStarted() override;
  void badSectorFound(const BadSector& sector) override;
  void repairOffered(bool) override {}
  void activity(RunActivity) override {}
  void ended(const RunEnd& end) override;
  void closed() override;

  void setTemperature(std::optional<int> celsius);
  // The request's outcome: the row is done.
  void finish(const RunOutcome& outcome);

  BenchRowState state() const;
  // Cancel has become Close / the run is over: read by the thread that waits on the run.
  bool runEnded() const { return m_ended.load(); }
  bool runClosed() const { return m_closed.load(); }

 private:
  struct Sample {
    double at;
    uint64_t sector;
  };
  void restartRate();

  const uint32_t m_sectorSize;
  const std::function<double()> m_now;
  mutable std::mutex m_mutex;
  BenchRowState m_state;
  std::deque<Sample> m_samples;  // the walk's positions over the rate's window
  bool m_walking = true;         // false while the positions are the random reads' landings
  std::atomic<bool> m_ended{false};
  std::atomic<bool> m_closed{false};
};

// The words of a request's outcome on a bench row and in its summary: the TestState, with
// the error's code and message when it failed, or why nothing ran.
std::string benchOutcomeText(const RunOutcome& outcome);

// The summary certificate of an erase bench: the certificates of the drives it reached
// (each already given its host), from the first start to the last end. Nothing when it
// reached none.
std::optional<BenchCertificate> benchCertificateOf(const std::vector<ErasureCertificate>& drives,
                                                   const std::string& operatorName);

// A run shown in a row rather than a dialog, for a front end that keeps no window per run:
// starts the run's worker and ticker, waits on the calling thread until the run is over,
// and closes it as soon as it has ended (there is nobody to press Close). `stop` asks it to
// stop, as Cancel does; the run then ends ABORT with its block written. The repair is never
// pressed: a bench does not repair.
RunSighting watchRunUnattended(const TestRunEnvironment& environment, BenchRow& row, TestClock& clock,
                               std::chrono::milliseconds tickPeriod, const std::atomic<bool>& stop);

// A box a bench answered for one of its drives.
struct BenchBox {
  std::string caption;
  std::string text;
  PromptPurpose purpose;
  PromptAnswer answer = PromptAnswer::Ok;
  std::string by;  // "message", the yes option's name, the confirmation's name, or "refused"
};

// What a bench answers without asking anyone: nobody can be asked twenty questions at once
// while twenty runs go on. A message is told and answered OK. A question whose yes destroys
// data is answered yes only when the bench's confirmation names that drive as it is now;
// every other question is answered yes only when `yes` says so. Anything else gets the
// box's safe answer and the drive's request ends refused, as a single run's does.
struct BenchAnswers {
  bool yes = false;
  std::string yesBy = "--yes";                   // who gave the blanket yes, for the report
  std::string confirmedBy = "--confirm-erase";   // who gave the yes that destroys data
  // Whether the confirmation names "\\.\PhysicalDriveN", still the drive it named.
  std::function<bool(int physicalDrive)> confirmed;
};

// The boxes of one drive's request: the service's checks and the run's own.
class BenchPrompter : public Prompter {
 public:
  // `told` hears each box as it is answered, on the thread that asked.
  BenchPrompter(BenchAnswers answers, std::function<void(const BenchBox&)> told);
  PromptAnswer ask(const std::string& text, const std::string& caption, PromptIcon icon, PromptButtons buttons,
                   PromptAnswer defaultAnswer, PromptPurpose purpose) override;
  std::vector<BenchBox> boxes() const;
  // Whether a question got its safe answer because nothing could give another.
  bool refused() const;

 private:
  const BenchAnswers m_answers;
  const std::function<void(const BenchBox&)> m_told;
  mutable std::mutex m_mutex;
  std::vector<BenchBox> m_boxes;
  bool m_refused = false;
};

// One drive of a bench: what it asks for, its row, its boxes, and what it came to.
struct BenchDrive {
  BenchDrive(RunRequest runRequest, uint32_t sectorSize, const std::function<double()>& now, BenchAnswers answers,
             std::function<void(const BenchBox&)> told)
      : request(std::move(runRequest)), row(sectorSize, now), prompter(std::move(answers), std::move(told)) {}
  RunRequest request;
  BenchRow row;
  BenchPrompter prompter;
  RunOutcome outcome;  // written by the drive's own thread; read once `ended`
  std::atomic<bool> ended{false};
};

// The service's front end for one drive of a bench: its boxes go to its prompter, its run
// to its row, unattended; the erase's mode always comes with the request.
class BenchFrontEnd : public RunFrontEnd {
 public:
  BenchFrontEnd(BenchDrive& drive, TestClock& clock, std::chrono::milliseconds tickPeriod,
                const std::atomic<bool>& stop)
      : m_drive(drive), m_clock(clock), m_tickPeriod(tickPeriod), m_stop(stop) {}
  PromptAnswer ask(const RunPrompt& prompt) override;
  std::optional<int32_t> chooseErase(bool) override { return std::nullopt; }
  RunSighting watchRun(const RunRequest& request, const TestRunEnvironment& environment) override;
  EraseVerification watchReadBack(const ReadBackJob& job) override;
  Prompter* runPrompter() override { return &m_drive.prompter; }

 private:
  BenchDrive& m_drive;
  TestClock& m_clock;
  const std::chrono::milliseconds m_tickPeriod;
  const std::atomic<bool>& m_stop;
};

// Runs every drive's request at once, each on a thread of its own, and returns once all
// have ended. `ended` is called on each drive's thread as its request comes to its outcome
// (its block already appended); `stop` asks every run to stop. A drive that fails, is
// pulled out or stops answering ends alone: the others go on.
void runBench(RunService& service, std::vector<std::unique_ptr<BenchDrive>>& drives, TestClock& clock,
              std::chrono::milliseconds tickPeriod, const std::atomic<bool>& stop,
              const std::function<void(size_t index)>& ended);
// One drive's request on a thread of its own, for a bench that grows while it runs (a
// drive plugged in is started too): the thread ends once `ended` has been called.
[[nodiscard]] std::thread startBenchDrive(RunService& service, BenchDrive& drive, TestClock& clock,
                                          std::chrono::milliseconds tickPeriod, const std::atomic<bool>& stop,
                                          std::function<void()> ended);

}  // namespace palvoro
