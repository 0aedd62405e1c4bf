#include "service/bench.h"

#include <algorithm>
#include <thread>

#include "diagnostics/run_messages.h"
#include "resources/string_table.h"

namespace palvoro {
namespace {

// How often the waiting thread looks at the run and at `stop`: a bench of many drives
// should stop within a moment of Ctrl-C without each watcher spinning.
constexpr auto kWatchPoll = std::chrono::milliseconds(50);

std::string twoDigits(int32_t code) {
  std::string text = std::to_string(code);
  return text.size() < 2 ? "0" + text : text;
}

}  // namespace

std::string runStateWord(int32_t state) {
  if (state >= kTestStatePass && state <= kTestStateComplete) return loadString(kStrResultPass + state);
  return "RUNNING";
}

StartEndText startEndText(StartEnd end) {
  switch (end) {
    case StartEnd::AdministratorRefused: return {"administrator_refused", "administrator privilege is required"};
    case StartEnd::ProgramsOpenCancelled: return {"programs_open_cancelled", "other programs are open"};
    case StartEnd::SystemDriveRefused: return {"system_drive_refused", "the drive holds the system"};
    case StartEnd::PartitionsDeclined:
      return {"partitions_declined", "the question about its partitions was answered No"};
    case StartEnd::EraseDeclined: return {"erase_declined", "the erase was not confirmed"};
    case StartEnd::EraseChoiceCancelled: return {"erase_choice_cancelled", "the erase mode cannot be used"};
    case StartEnd::SctRefused: return {"sct_refused", "the erase is not possible on this system"};
    case StartEnd::MethodUnavailable: return {"method_unavailable", "the drive does not offer the erase method"};
    case StartEnd::TestRun: return {"test_run", "the run took place"};
    case StartEnd::ResultPageShown: return {"result_page_shown", "the result page was shown"};
    case StartEnd::NoSuchDrive: return {"no_such_drive", "no such drive"};
  }
  return {"", ""};
}

std::optional<BenchCertificate> benchCertificateOf(const std::vector<ErasureCertificate>& drives,
                                                   const std::string& operatorName) {
  if (drives.empty()) return std::nullopt;
  BenchCertificate bench;
  bench.drives = drives;
  const auto earliest = std::min_element(drives.begin(), drives.end(),
                                         [](const auto& a, const auto& b) { return a.started < b.started; });
  const auto latest =
      std::max_element(drives.begin(), drives.end(), [](const auto& a, const auto& b) { return a.ended < b.ended; });
  bench.started = earliest->started;
  bench.ended = latest->ended;
  bench.host = drives.front().host;
  bench.operatorName = operatorName;
  bench.program = drives.front().program;
  bench.id = "bench-" + bench.started;
  return bench;
}

std::string benchOutcomeText(const RunOutcome& outcome) {
  if (outcome.end == StartEnd::MethodUnavailable) return "not started: " + outcome.refusal;
  if (outcome.end != StartEnd::TestRun) return std::string("not started: ") + startEndText(outcome.end).text;
  std::string text = runStateWord(outcome.state);
  if (outcome.state == kTestStateFail) text += ": " + twoDigits(outcome.error) + "-" + outcome.errorMessage;
  if (outcome.seen.stoppedByUser) text += " (stopped by the user)";
  return text;
}

BenchRow::BenchRow(uint32_t sectorSize, std::function<double()> now)
    : m_sectorSize(sectorSize == 0 ? 512 : sectorSize), m_now(std::move(now)) {}

void BenchRow::started(const RunStarted&) {
  std::lock_guard lock(m_mutex);
  m_state.phase = BenchPhase::Running;
}

void BenchRow::stage(const RunStage& stage) {
  std::lock_guard lock(m_mutex);
  m_state.stage = stage.line;
  // The random reads show where each read landed, climbing the disk by leaps a walk's
  // rate would take for sectors read: on the lab's small disks that read as hundreds of
  // MB/s. They give no rate; the walk after them starts its own.
  const bool walking = stage.line != loadString(kStrRunningRandomRead);
  if (walking != m_walking) restartRate();
  m_walking = walking;
}

void BenchRow::progress(const RunProgress& progress) {
  std::lock_guard lock(m_mutex);
  if (progress.percent) m_state.percent = progress.percent;
  if (progress.elapsedSeconds) m_state.elapsedSeconds = progress.elapsedSeconds;
  if (progress.remainingSeconds) m_state.remainingSeconds = progress.remainingSeconds;
  if (progress.temperatureCelsius) m_state.temperatureCelsius = progress.temperatureCelsius;
  if (!progress.sector || !m_walking) return;
  const double at = m_now();
  // A walk that moves back or leaps ahead (the quick scan's second region) starts its rate
  // over: the sectors between were never read. The run tells every few thousand sectors.
  if (!m_samples.empty() && (progress.sector->current < m_samples.back().sector ||
                             progress.sector->current - m_samples.back().sector > kBenchLeapSectors)) {
    restartRate();
  }
  m_samples.push_back({at, progress.sector->current});
  while (m_samples.size() > 2 && m_samples[1].at <= at - kBenchRateWindowSeconds) m_samples.pop_front();
  const Sample& first = m_samples.front();
  if (at > first.at && progress.sector->current >= first.sector) {
    m_state.bytesPerSecond =
        static_cast<double>(progress.sector->current - first.sector) * m_sectorSize / (at - first.at);
  }
}

void BenchRow::restartRate() {
  m_samples.clear();
  m_state.bytesPerSecond.reset();
  m_state.remainingSeconds.reset();
}

void BenchRow::scanStarted() {
  std::lock_guard lock(m_mutex);
  restartRate();
}

void BenchRow::repairStarted() {
  std::lock_guard lock(m_mutex);
  restartRate();
}

void BenchRow::badSectorFound(const BadSector&) {
  std::lock_guard lock(m_mutex);
  ++m_state.badSectors;
}

void BenchRow::ended(const RunEnd& end) {
  {
    std::lock_guard lock(m_mutex);
    m_state.state = end.state;
    m_state.bytesPerSecond.reset();
    m_state.remainingSeconds.reset();
  }
  m_ended = true;
}

void BenchRow::closed() { m_closed = true; }

void BenchRow::setTemperature(std::optional<int> celsius) {
  std::lock_guard lock(m_mutex);
  m_state.temperatureCelsius = celsius;
}

void BenchRow::finish(const RunOutcome& outcome) {
  std::lock_guard lock(m_mutex);
  m_state.phase = BenchPhase::Ended;
  m_state.outcome = benchOutcomeText(outcome);
  m_state.state = outcome.end == StartEnd::TestRun ? outcome.state : kTestStateRunning;
  // The count the run ended with: a repair may have cleared some, and the events stop at
  // the list's slots while the count goes on.
  if (outcome.end == StartEnd::TestRun) m_state.badSectors = outcome.badSectorCount;
  m_state.bytesPerSecond.reset();
  m_state.remainingSeconds.reset();
}

BenchRowState BenchRow::state() const {
  std::lock_guard lock(m_mutex);
  return m_state;
}

RunSighting watchRunUnattended(const TestRunEnvironment& environment, BenchRow& row, TestClock& clock,
                               std::chrono::milliseconds tickPeriod, const std::atomic<bool>& stop) {
  RunSighting seen;
  TestRun run(environment, row, clock, tickPeriod);
  run.begin();
  std::atomic<bool> workerDone{false};
  std::thread worker([&] {
    run.runWorker();
    workerDone = true;
  });
  std::thread ticker([&] { run.runTicker(); });
  bool stopAsked = false;
  for (;;) {
    if (row.runClosed()) break;
    if (stop.load() && !stopAsked) {
      stopAsked = true;
      seen.stoppedByUser = true;
      (void)run.onCancel();
      continue;
    }
    if (workerDone.load()) {
      // Ended and waiting for Close: nobody else will press it.
      if (run.cancelReadsClose()) {
        (void)run.onCancel();
        continue;
      }
      // No worker and no timer: nothing is left that could end the run.
      if (run.schedule().idle()) break;
    }
    std::this_thread::sleep_for(kWatchPoll);
  }
  run.stopTicker();
  worker.join();
  ticker.join();
  const uint64_t count = environment.values.badSectorCount.load();
  const size_t listed = static_cast<size_t>(std::min<uint64_t>(count, run.badSectors.size()));
  seen.badSectors.assign(run.badSectors.begin(), run.badSectors.begin() + static_cast<long>(listed));
  return seen;
}

BenchPrompter::BenchPrompter(BenchAnswers answers, std::function<void(const BenchBox&)> told)
    : m_answers(std::move(answers)), m_told(std::move(told)) {}

PromptAnswer BenchPrompter::ask(const std::string& text, const std::string& caption, PromptIcon,
                                PromptButtons buttons, PromptAnswer, PromptPurpose purpose) {
  BenchBox box{caption, text, purpose, safeAnswer(buttons), "refused"};
  const PromptAnswer positive = buttons == PromptButtons::OkCancel ? PromptAnswer::Ok : PromptAnswer::Yes;
  if (buttons == PromptButtons::Ok) {
    box.answer = PromptAnswer::Ok;
    box.by = "message";
  } else if (purpose.destroysData()) {
    if (m_answers.confirmed && m_answers.confirmed(purpose.drive)) {
      box.answer = positive;
      box.by = m_answers.confirmedBy;
    }
  } else if (m_answers.yes) {
    box.answer = positive;
    box.by = m_answers.yesBy;
  }
  {
    std::lock_guard lock(m_mutex);
    m_boxes.push_back(box);
    if (box.by == "refused") m_refused = true;
  }
  if (m_told) m_told(box);
  return box.answer;
}

std::vector<BenchBox> BenchPrompter::boxes() const {
  std::lock_guard lock(m_mutex);
  return m_boxes;
}

bool BenchPrompter::refused() const {
  std::lock_guard lock(m_mutex);
  return m_refused;
}

PromptAnswer BenchFrontEnd::ask(const RunPrompt& p) {
  return m_drive.prompter.ask(p.text, p.caption, p.icon, p.buttons, p.defaultAnswer, p.purpose);
}

RunSighting BenchFrontEnd::watchRun(const RunRequest&, const TestRunEnvironment& environment) {
  return watchRunUnattended(environment, m_drive.row, m_clock, m_tickPeriod, m_stop);
}

EraseVerification BenchFrontEnd::watchReadBack(const ReadBackJob& job) {
  m_drive.row.scanStarted();
  m_drive.row.stage(RunStage{"Verifying the erase...", {}});
  // The bench's stop reaches the read-back through a flag of its own: the job may set it.
  std::atomic<bool> stop{m_stop.load()};
  std::atomic<bool> done{false};
  std::thread relay([&] {
    while (!done.load()) {
      if (m_stop.load()) stop = true;
      std::this_thread::sleep_for(kWatchPoll);
    }
  });
  const EraseVerification found = job.read(stop, [this](const VerifyProgress& p) {
    RunProgress progress;
    progress.percent = p.sectorsTotal == 0 ? 100 : static_cast<int>(p.sectorsDone * 100 / p.sectorsTotal);
    // Its rate is the sectors checked: the spans it reads need not be one range.
    progress.sector = SectorPosition{p.sectorsDone, p.sectorsTotal};
    m_drive.row.progress(progress);
  });
  done = true;
  relay.join();
  return found;
}

std::thread startBenchDrive(RunService& service, BenchDrive& drive, TestClock& clock,
                            std::chrono::milliseconds tickPeriod, const std::atomic<bool>& stop,
                            std::function<void()> ended) {
  return std::thread([&service, &drive, &clock, tickPeriod, &stop, ended = std::move(ended)] {
    BenchFrontEnd frontEnd(drive, clock, tickPeriod, stop);
    drive.outcome = service.run(drive.request, frontEnd);
    drive.row.finish(drive.outcome);
    drive.ended = true;
    if (ended) ended();
  });
}

void runBench(RunService& service, std::vector<std::unique_ptr<BenchDrive>>& drives, TestClock& clock,
              std::chrono::milliseconds tickPeriod, const std::atomic<bool>& stop,
              const std::function<void(size_t index)>& ended) {
  std::vector<std::thread> threads;
  threads.reserve(drives.size());
  for (size_t i = 0; i < drives.size(); ++i) {
    threads.push_back(startBenchDrive(service, *drives[i], clock, tickPeriod, stop, [&ended, i] {
      if (ended) ended(i);
    }));
  }
  for (std::thread& t : threads) t.join();
}

}  // namespace palvoro
