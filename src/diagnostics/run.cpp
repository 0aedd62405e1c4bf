#include "diagnostics/run.h"

#include <algorithm>
#include <optional>
#include <string>

#include "diagnostics/cable_test.h"
#include "diagnostics/erase.h"
#include "diagnostics/media_scan.h"
#include "diagnostics/quick_test.h"
#include "diagnostics/second_unit_verify.h"
#include "diagnostics/sector_loop.h"
#include "diagnostics/run_messages.h"
#include "resources/string_table.h"

namespace palvoro {
namespace {

constexpr int kTicksPerPoll = 9;  // the self-test is asked about every ninth tick
// Timer 5 carries no test of its own; a stop request during it always closes.
constexpr int kTimerStopOnly = 5;
constexpr int kFirstTestTimer = 1;
constexpr int kLastTestTimer = 7;
// The capability bit of the SMART data page that offers the short self-test.
constexpr int kSelfTestSupported = 0x10;
// Low byte of IDENTIFY word 133 on the maker's drives whose self-test the quick test
// does not use.
constexpr uint16_t kNoSelfTestVendor = 0x5E;
// A remaining time beyond this many seconds is shown as this; a stalled scan must not
// overflow the conversion.
constexpr double kLongestEstimate = 359'999'999.0;

// Sectors of the running step still to go and already done, or nothing while no sector
// is done yet (the estimate would divide by zero).
struct Work {
  double total;
  double done;
};

std::optional<Work> workOf(bool twoRegions, uint64_t current, uint64_t first, uint64_t end, uint64_t region) {
  const double s = static_cast<double>(first);
  const double e = static_cast<double>(end);
  const double c = static_cast<double>(current);
  Work w{};
  if (twoRegions) {
    const double r = static_cast<double>(region);
    w.total = 2 * r;
    w.done = (c <= s + r) ? c - s : 2 * r - e + c + 1;
  } else {
    w.total = e - s;
    w.done = c - s;
  }
  // Between the first region's last block and the second region's first one the current
  // sector lies past the first region but before the second: nothing to estimate from.
  if (w.done <= 0 || w.total <= 0) return std::nullopt;
  return w;
}

}  // namespace

TestRun::TestRun(const TestRunEnvironment& environment, RunEvents& events, TestClock& clock,
                 std::chrono::milliseconds tickPeriod)
    : m_env(environment), m_events(events), m_clock(clock), m_schedule(tickPeriod) {}

void TestRun::begin() {
  TestRunValues& v = values();
  // Timers left from an earlier run must not tick into this one.
  m_schedule.reset();
  m_events.started(RunStarted{v.testKind.load(), shownDriveNumber()});
  v.setLastErrorMessage("");
  v.stopRequest = 0;
  // A run that ends before its scan must not show the block times of the run before it.
  v.scanLatency.begin(0, 0);
  v.temperature = TemperatureWatch{};
  sectorsPerBlock = kSectorsPerBlock;
  startTime = 0;
  currentSector = 0;
  firstSector = 0;
  endSector = 0;
  repairInProgress = false;
  testMode = true;
  tenthsDone = 0;
  m_cancelIsClose = false;
  m_progress = 0;
  m_tickCounter = 0;
}

void TestRun::runWorker() {
  TestRunValues& v = values();
  showStage(loadString(kStrRunningCableTest));
  setProgress(1);

  if (cableTest(*this) == 0) {
    m_events.activity(RunActivity::Failure);
    showStage(loadString(kStrTestStoppedWithErrors), loadString(kStrCableTestFailed));
    v.testError = kTestErrorCable;
    v.testState = kTestStateFail;
    relabelClose();
    setProgress(0);
    return;
  }

  const int32_t kind = v.testKind.load();
  const DriveRecord& record = drive();
  // A drive whose sector size or range cannot be used is refused before any step sends
  // it a command: no verify, no self-test, no scan, and no partition table deleted.
  const bool testKind = kind == kTestKindQuick || kind == kTestKindExtended || kind == kTestKindErase;
  if (testKind && refuseUntestableDrive(*this)) {
    setProgress(0);
    return;
  }
  switch (kind) {
    case kTestKindQuick: {
      showStage(loadString(kStrRunningQuickSmartTest));
      if (record.hiddenSectors != 0) {
        secondUnitVerify(*this, true);
        if (v.testError.load() != kTestErrorNone || stopped()) return;
      }
      if (record.driveClass == kDriveClassNvme) {
        const NvmeQuickStart start = nvmeQuickTestStart(*this);
        if (start != NvmeQuickStart::NoSelfTest) return;
        mediaScan(*this, true, kNvmeNoSelfTestStatus);
        return;
      }
      if (record.smartAvailable != 0 && (record.vendorWord & 0xFF) != kNoSelfTestVendor) {
        const int capability = quickTestProbeAndStart(*this, kSelfTestProbeOnly);
        if ((capability & kSelfTestSupported) != 0) {
          // From here timer 1 follows the self-test and finishes the run.
          quickTestProbeAndStart(*this, kSelfTestShort);
          return;
        }
        // The probe ends the run itself when the drive no longer opens; scanning the
        // same drive would only repeat the failure.
        if (cancelReadsClose()) return;
      }
      mediaScan(*this, true);
      return;
    }
    case kTestKindExtended:
      showStage(loadString(kStrRunningExtendedTest));
      if (record.hiddenSectors != 0) {
        secondUnitVerify(*this, false);
        if (v.testError.load() != kTestErrorNone || stopped()) return;
      }
      mediaScan(*this, false);
      return;
    case kTestKindErase:
      showStage(loadString(kStrWritingZeros));
      eraseBranch(*this);
      return;
    default:
      // 108 + TestKind names no running text here, so the line keeps the cable test's.
      // The run has nothing to wait for: it ends as failed so that Close can end it.
      m_env.prompter.ask(kInvalidTestSelection, platform().productTitle(), PromptIcon::Stop, PromptButtons::Ok,
                               PromptAnswer::Ok, PromptPurpose::information());
      endFailed();
      return;
  }
}

void TestRun::runTicker(const std::function<void(int)>& afterTick) {
  m_schedule.run([&](int timerId) {
    onTimer(timerId);
    if (afterTick) afterTick(timerId);
  });
}

void TestRun::onTimer(int timerId) {
  if (timerId < kFirstTestTimer || timerId > kLastTestTimer) return;
  TestRunValues& v = values();
  m_schedule.disarm(timerId);

  if (v.stopRequest.load() != 0) {
    bool closeNow = timerId == kTimerStopOnly;
    bool clearRequest = false;
    bool walkEnded = false;
    if (timerId == kTimerSelfTest || timerId == kTimerSecondUnitVerify) {
      quickTestAbort(*this);
      closeNow = clearRequest = true;
    } else if (v.testState.load() == kTestStateAbort) {
      closeNow = clearRequest = walkEnded = true;
    }
    if (closeNow) {
      // ABORT is set before the request is cleared: a worker still running (the
      // second-unit verify) sees one or the other and stops. A walk that met unreadable
      // sectors before the stop fails on them, as Close after its end would have it: which
      // of the two closes the run first must not change its verdict.
      const int32_t error = v.testError.load();
      const bool failed = walkEnded && error != kTestErrorNone && error != kTestErrorStopped;
      v.testState = failed ? kTestStateFail : kTestStateAbort;
      if (clearRequest) v.stopRequest = 0;
      m_events.closed();
      return;
    }
    // Otherwise the running loop sees the request itself and stops before its next block.
  }

  m_events.activity(RunActivity::Running);
  const int tick = m_tickCounter.load();
  m_tickCounter = (tick + 1) % kTicksPerPoll;

  const int64_t elapsed = std::max<int64_t>(0, m_clock.nowSeconds() - startTime.load());
  RunProgress times;
  times.elapsedSeconds = elapsed;

  const int32_t kind = v.testKind.load();
  const bool scanEstimate = timerId == kTimerMediaScan && (kind == kTestKindQuick || kind == kTestKindExtended);
  if (scanEstimate || timerId == kTimerErase) {
    const bool twoRegions =
        timerId == kTimerMediaScan ? kind == kTestKindQuick : v.eraseMode.load() == 0;
    const std::optional<Work> work =
        workOf(twoRegions, currentSector.load(), firstSector.load(), endSector.load(), v.regionLength.load());
    if (work) {
      double remaining = static_cast<double>(elapsed) * (work->total / work->done - 1);
      if (remaining < 0) remaining = 0;
      if (remaining > kLongestEstimate) remaining = kLongestEstimate;
      times.remainingSeconds = static_cast<int64_t>(remaining);  // truncated, as shown
    }
  }
  m_events.progress(times);

  if (timerId == kTimerSelfTest && tick == kTicksPerPoll - 1) quickTestPoll(*this);

  // A step that ended relabelled Cancel; a tick still queued behind its end must not
  // start the timer again.
  if (cancelReadsClose()) return;
  m_schedule.arm(timerId);
}

bool TestRun::onCancel() {
  TestRunValues& v = values();
  // A repair runs on this thread and only sees Cancel through this flag.
  if (testMode) stopRepair = true;
  if (cancelReadsClose()) {
    if (v.testError.load() != kTestErrorNone) v.testState = kTestStateFail;
    if (repairInProgress.load()) {
      m_env.prompter.ask(kStopRepairing, kRepairCaption, PromptIcon::Warning, PromptButtons::Ok,
                               PromptAnswer::Ok, PromptPurpose::information());
    }
    m_events.closed();
    return true;
  }
  if (v.testState.load() == kTestStateRunning) {
    v.stopRequest = 1;
    return false;
  }
  m_events.closed();
  return true;
}

bool TestRun::stopped() {
  TestRunValues& v = values();
  return v.stopRequest.load() != 0 || v.testState.load() == kTestStateAbort;
}

void TestRun::tellWriteRefusal() {
  const std::string why = platform().takeWriteRefusal();
  if (!why.empty()) m_env.prompter.ask(why, platform().productTitle(), PromptIcon::Stop, PromptButtons::Ok, PromptAnswer::Ok,
                                       PromptPurpose::information());
}

void TestRun::showTestError(int code, const std::string& prefix, const std::string& detail) {
  if (code == kTestErrorCable || code == kTestErrorStopped) return;
  tellWriteRefusal();
  const std::string text =
      formatTestError(code, prefix, shownDriveNumber()) + (detail.empty() ? "" : " " + detail);
  values().setLastErrorMessage(text);
  m_env.prompter.ask(text, platform().productTitle(), PromptIcon::Stop, PromptButtons::Ok, PromptAnswer::Ok,
                     PromptPurpose::information());
}

std::string TestRun::kindPrefix() const {
  return testKindPrefix(m_env.values.testKind.load());
}

void TestRun::finishWithFailure() {
  showTestError(values().testError.load(), kindPrefix());
  endFailed();
}

void TestRun::endFailed() {
  showStage(loadString(kStrTestStoppedWithErrors));
  values().testState = kTestStateFail;
  relabelClose();
  m_events.activity(RunActivity::Failure);
}

void TestRun::showCompleted(int32_t state) {
  showStage(loadString(kStrTestCompleted));
  values().testState = state;
  setProgress(100);
  m_events.activity(RunActivity::Success);
}

void TestRun::showStage(const std::string& line, std::optional<std::string> detail) {
  m_stageLine.set(line);
  m_events.stage(RunStage{line, std::move(detail)});
}

void TestRun::showEstimatedMinutes(int minutes) {
  RunProgress estimate;
  estimate.estimatedMinutes = minutes;
  m_events.progress(estimate);
}

void TestRun::beginTimedStep() {
  values().testError = kTestErrorNone;
  startTime = m_clock.nowSeconds();
}

void TestRun::relabelClose() {
  // Set before the event: a front end that sees it may already press Close.
  m_cancelIsClose = true;
  m_events.ended(RunEnd{values().testState.load(), values().testError.load()});
}

void TestRun::setProgress(int percent) {
  m_progress = percent;
  RunProgress bar;
  bar.percent = percent;
  m_events.progress(bar);
}

}  // namespace palvoro
