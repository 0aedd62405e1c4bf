#include "ui/model/bench_model.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "device/drive_requests.h"
#include "discovery/volumes.h"
#include "results/result_page.h"
#include "smart/drive_logs.h"
#include "ui/model/main_window_model.h"

namespace palvoro {
namespace {

constexpr const char* kConfirmCaption = "Bench - Erase";
// Who answered a box that destroys data, in a drive's record of its boxes.
constexpr const char* kConfirmedBy = "the bench's confirmation";

std::string timeText(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  char text[32];
  std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", seconds / 3600, static_cast<int>(seconds / 60 % 60),
                static_cast<int>(seconds % 60));
  return text;
}

std::string rateText(double bytesPerSecond) {
  char text[32];
  // Decimal megabytes, as the drive list's capacities are decimal gigabytes.
  std::snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / 1e6);
  return text;
}

std::optional<CellColour> outcomeColour(const BenchRowState& state) {
  if (state.phase != BenchPhase::Ended) return std::nullopt;
  if (state.state == kTestStatePass || state.state == kTestStateComplete) return kColourBlue;
  if (state.state == kTestStateFail) return kColourRed;
  return std::nullopt;
}

std::string stageText(const BenchRowState& state) {
  // A stopped run's last text still says what it was doing when the stop came.
  if (state.phase == BenchPhase::Ended && state.state == kTestStateAbort) return "Stopped.";
  if (!state.stage.empty()) return state.stage;
  switch (state.phase) {
    case BenchPhase::Waiting: return "Checking the drive...";
    case BenchPhase::Running: return "Running...";
    case BenchPhase::Ended: return "";
  }
  return "";
}

int32_t kindOf(BenchJob job) {
  switch (job) {
    case BenchJob::QuickTest: return kTestKindQuick;
    case BenchJob::ExtendedTest: return kTestKindExtended;
    case BenchJob::QuickErase:
    case BenchJob::FullErase: return kTestKindErase;
  }
  return kTestKindQuick;
}

}  // namespace

std::string benchJobText(BenchJob job) {
  switch (job) {
    case BenchJob::QuickTest: return "Quick test";
    case BenchJob::ExtendedTest: return "Extended test";
    case BenchJob::QuickErase: return "Quick erase";
    case BenchJob::FullErase: return "Full erase";
  }
  return "";
}

bool benchJobErases(BenchJob job) { return job == BenchJob::QuickErase || job == BenchJob::FullErase; }

std::string benchUnavailableReason(const BenchCandidate& drive, BenchJob job) {
  // The main window opens no test of the maker's SSD either: its own toolbox serves it.
  if (drive.makerSsd) return "not supported: use the Varnholt SSD Toolbox";
  if (!benchJobErases(job)) return "";
  if (drive.partitionCheck == kSystemDrive) return "holds the system: never erased";
  // A Yes must be bound to the drive it was given for; a drive the system cannot tell
  // from the next one plugged in at its number cannot be confirmed.
  if (!drive.identity) return "its identity cannot be read: cannot be confirmed for an erase";
  return "";
}

bool anyTemperature(const std::vector<BenchRunRow>& rows) {
  return std::any_of(rows.begin(), rows.end(), [](const BenchRunRow& row) { return !row.temperature.empty(); });
}

double benchSteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

BenchModel::BenchModel(Session& session) : m_session(session) {}

BenchModel::~BenchModel() {
  stopAll();
  if (m_thread.joinable()) m_thread.join();
}

void BenchModel::setTiming(std::chrono::milliseconds tickPeriod, TestClock* clock, std::function<double()> now) {
  m_tickPeriod = tickPeriod;
  m_clock = clock != nullptr ? clock : &m_systemClock;
  m_now = now ? std::move(now) : std::function<double()>(benchSteadySeconds);
}

void BenchModel::listDrives() {
  std::vector<DriveRecord> records;
  {
    // Runs of another window may be checking drives of the same table.
    std::lock_guard lock(m_session.tableMutex());
    records = m_session.driveTable().records;
  }
  Platform& platform = m_session.platform();
  std::vector<BenchCandidate> listed;
  for (size_t i = 0; i < records.size(); ++i) {
    const DriveRecord& record = records[i];
    BenchCandidate drive;
    drive.driveIndex = static_cast<int>(i);
    drive.physicalDrive = record.physicalDriveNumber;
    // What Start asks for and what an erase is confirmed for is the drive seen here.
    drive.identity = driveInstanceAt(platform, record.physicalDriveNumber);
    drive.sectorSize = usableSectorSize(record.sectorSize) ? static_cast<uint32_t>(record.sectorSize) : 512;
    drive.model = trimmedField(record.model, sizeof record.model);
    drive.bus = busWord(record);
    drive.serial = trimmedField(record.serialNumber, sizeof record.serialNumber);
    drive.capacity = capacityCellText(record);
    drive.partitionCheck = partitionCheck(platform, record);
    drive.makerSsd = record.isMakerSsd == 1;
    for (const BenchCandidate& before : m_candidates) {
      if (before.physicalDrive == drive.physicalDrive && before.identity == drive.identity) {
        drive.checked = before.checked;
      }
    }
    listed.push_back(std::move(drive));
  }
  m_candidates = std::move(listed);
}

std::vector<BenchListRow> BenchModel::listRows() const {
  std::vector<BenchListRow> rows;
  for (const BenchCandidate& drive : m_candidates) {
    BenchListRow row;
    row.number = std::to_string(drive.driveIndex + 1);
    row.model = drive.model + " (" + drive.bus + ")";
    row.capacity = drive.capacity;
    row.serial = drive.serial;
    row.note = benchUnavailableReason(drive, m_job);
    row.available = row.note.empty();
    row.checked = row.available && drive.checked;
    if (row.available && benchJobErases(m_job) && drive.partitionCheck == kPartitionsMayExist) {
      row.note = "partitions may exist";
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

void BenchModel::setChecked(int listRow, bool checked) {
  if (listRow < 0 || listRow >= static_cast<int>(m_candidates.size())) return;
  m_candidates[static_cast<size_t>(listRow)].checked = checked;
}

bool BenchModel::canStart() const { return !running() && !requests().empty(); }

std::vector<RunRequest> BenchModel::requests() const {
  std::vector<RunRequest> requests;
  for (const BenchCandidate& drive : m_candidates) {
    if (!drive.checked || !benchUnavailableReason(drive, m_job).empty()) continue;
    RunRequest request;
    request.driveIndex = drive.driveIndex;
    request.identity = drive.identity;
    request.kind = kindOf(m_job);
    request.temperatureGuard = m_temperatureGuard;
    if (benchJobErases(m_job)) {
      // The mode comes with the request: a bench offers no erase choice per drive.
      request.eraseMode = m_job == BenchJob::FullErase ? 1 : 0;
      request.verify = m_verify;
    }
    requests.push_back(request);
  }
  return requests;
}

std::optional<BenchConfirmation> BenchModel::confirmation() const {
  if (!benchJobErases(m_job)) return std::nullopt;
  BenchConfirmation question;
  question.caption = kConfirmCaption;
  std::string list;
  for (const BenchCandidate& drive : m_candidates) {
    if (!drive.checked || !benchUnavailableReason(drive, m_job).empty()) continue;
    question.drives.emplace_back(drive.physicalDrive, *drive.identity);
    list += "Drive " + std::to_string(drive.driveIndex + 1) + ": " + drive.model + ", " + drive.capacity +
            ", serial " + (drive.serial.empty() ? "(none)" : drive.serial);
    if (drive.partitionCheck == kPartitionsMayExist) list += " (partitions may exist)";
    list += "\n";
  }
  if (question.drives.empty()) return std::nullopt;
  const size_t count = question.drives.size();
  question.text = benchJobText(m_job) + (m_verify ? ", then read back," : "") + " of " + std::to_string(count) +
                  (count == 1 ? " drive" : " drives") +
                  ". Everything on them will be lost:\n\n" + list +
                  "\nYes answers the erase's questions (partitions, data loss, going on past a write error) for "
                  "these drives only, and only while each is still the drive listed here. Nothing else is "
                  "answered Yes: a drive that finds other programs open is not started.\n\n"
                  "Erase these drives?";
  return question;
}

BenchAnswers BenchModel::answersFor(const std::optional<BenchConfirmation>& confirmation) {
  BenchAnswers answers;
  // No blanket yes. The one plain question a run asks is to close other programs first:
  // it asks the user to act, and a Yes given before it arose would agree to something
  // nobody read. Such a drive ends "not started" and says why; on this computer's drives
  // the check finds nothing to ask about.
  answers.yes = false;
  answers.confirmedBy = kConfirmedBy;
  if (!confirmation) return answers;
  Platform& platform = m_session.platform();
  answers.confirmed = [&platform, drives = confirmation->drives](int physicalDrive) {
    for (const auto& [number, instance] : drives) {
      if (number != physicalDrive) continue;
      // Asked again at each question: a drive pulled and another plugged in at its number
      // since the confirmation is not the drive it was given for.
      const std::optional<DriveInstance> now = driveInstanceAt(platform, physicalDrive);
      return now && *now == instance;
    }
    return false;
  };
  return answers;
}

BenchStart BenchModel::start() {
  if (running()) return BenchStart::StillRunning;
  const std::vector<RunRequest> requests = this->requests();
  if (requests.empty()) return BenchStart::NothingChecked;
  const std::optional<BenchConfirmation> question = confirmation();
  // The box names several drives; its purpose names the first, which is enough for every
  // prompter to give it the safe answer on Enter.
  if (question && m_session.prompter().ask(question->text, question->caption, PromptIcon::Warning,
                                           PromptButtons::YesNo, PromptAnswer::No,
                                           PromptPurpose::destroysDataOn(question->drives.front().first)) !=
                      PromptAnswer::Yes) {
    m_lastStart = BenchStart::EraseDeclined;
    return m_lastStart;
  }
  if (m_thread.joinable()) m_thread.join();
  const BenchAnswers answers = answersFor(question);
  m_drives.clear();
  m_started.clear();
  for (const RunRequest& request : requests) {
    for (const BenchCandidate& drive : m_candidates) {
      if (drive.driveIndex == request.driveIndex) m_started.push_back(drive);
    }
    m_drives.push_back(std::make_unique<BenchDrive>(request, m_started.back().sectorSize, m_now, answers, nullptr));
  }
  {
    std::lock_guard lock(m_pageMutex);
    m_pageStatus.clear();
  }
  // Every drive keeps its block on the page, however many the bench has.
  m_session.makeRoomForRuns(m_drives.size());
  m_stop = false;
  m_running = true;
  m_testRan = true;
  m_lastStart = BenchStart::Started;
  m_thread = std::thread([this] {
    RunService service(m_session, *m_clock, m_session.history());
    runBench(service, m_drives, *m_clock, m_tickPeriod, m_stop, [this](size_t) { writeResultPage(); });
    m_running = false;
  });
  return BenchStart::Started;
}

bool BenchModel::collect() {
  if (running() || !m_thread.joinable()) return false;
  m_thread.join();
  return true;
}

void BenchModel::writeResultPage() {
  // Drives end on their own threads: one page at a time, each with every block so far.
  std::lock_guard lock(m_pageMutex);
  const std::string& folder = m_session.startup().resultsDir;
  std::string refusal;
  if (palvoro::writeResultPage(folder, m_session.resultLinesNow(), &refusal)) {
    m_pageStatus = "Result page: " + folder + kResultPageName;
  } else {
    m_pageStatus = refusal.empty() ? "" : "Result page not written: " + refusal;
  }
}

std::string BenchModel::pageStatus() const {
  std::lock_guard lock(m_pageMutex);
  return m_certificateStatus.empty() ? m_pageStatus : m_pageStatus + "  " + m_certificateStatus;
}

void BenchModel::fileCertificates(const std::string& host, const BenchCertificateWriter& writer) {
  if (!writer || running()) return;
  std::vector<ErasureCertificate> drives;
  for (const std::unique_ptr<BenchDrive>& drive : m_drives) {
    if (!drive->ended.load() || !drive->outcome.certificate) continue;
    drives.push_back(*drive->outcome.certificate);
    drives.back().host = host;
  }
  std::optional<BenchCertificate> bench = benchCertificateOf(drives, "");
  if (!bench) return;
  const CertificateFiling filing = writer(*bench, m_session.startup().resultsDir);
  std::lock_guard lock(m_pageMutex);
  m_certificateStatus = !filing.path.empty() ? "Certificates: " + filing.path
                        : filing.refusal.empty() ? "" : "Certificates not written: " + filing.refusal;
}

std::vector<BenchRunRow> BenchModel::runRows() const {
  std::vector<BenchRunRow> rows;
  for (size_t i = 0; i < m_drives.size(); ++i) {
    const BenchRowState state = m_drives[i]->row.state();
    const BenchCandidate& drive = m_started[i];
    BenchRunRow row;
    row.number = std::to_string(drive.driveIndex + 1);
    row.model = drive.model;
    row.serial = drive.serial;
    row.ended = state.phase == BenchPhase::Ended;
    const bool wellEnded = row.ended && (state.state == kTestStatePass || state.state == kTestStateComplete);
    row.percent = wellEnded ? 100 : std::clamp(state.percent.value_or(0), 0, 100);
    row.stage = stageText(state);
    if (state.bytesPerSecond) row.rate = rateText(*state.bytesPerSecond);
    // Nothing is left to estimate before the first second has passed, nor after a walk.
    if (state.remainingSeconds.value_or(0) > 0) row.timeLeft = timeText(*state.remainingSeconds);
    row.badSectors = std::to_string(state.badSectors);
    if (state.temperatureCelsius) row.temperature = std::to_string(*state.temperatureCelsius) + " \u00B0C";
    row.outcome = state.outcome;
    row.outcomeColour = outcomeColour(state);
    rows.push_back(std::move(row));
  }
  return rows;
}

const BenchCandidate* BenchModel::startedCandidate(int runRow) const {
  if (runRow < 0 || runRow >= static_cast<int>(m_started.size())) return nullptr;
  return &m_started[static_cast<size_t>(runRow)];
}

const RunOutcome* BenchModel::endedOutcome(int runRow) const {
  if (startedCandidate(runRow) == nullptr) return nullptr;
  const BenchDrive& drive = *m_drives[static_cast<size_t>(runRow)];
  // The drive's thread wrote its outcome before it set `ended`.
  return drive.ended.load() ? &drive.outcome : nullptr;
}

std::vector<BenchMenuEntry> BenchModel::rowMenu(int runRow) const {
  if (startedCandidate(runRow) == nullptr) return {};
  const RunOutcome* outcome = endedOutcome(runRow);
  const bool ran = outcome != nullptr && outcome->end == StartEnd::TestRun;
  // A drive's logs are read once its run is over: meanwhile their commands would go
  // between the run's own. Its history holds the run once the run is over, too.
  return {{BenchRowCommand::ResultPage, "Result Page", ran && !outcome->resultBlock.empty()},
          {BenchRowCommand::ScanMap, "Scan Map", ran && scanMapOf(runRow).has_value()},
          {BenchRowCommand::DriveLogs, "Drive Logs", outcome != nullptr && driveLogsReachable(outcome->drive)},
          {BenchRowCommand::History, "History", outcome != nullptr}};
}

std::string BenchModel::resultPageOf(int runRow) const {
  const RunOutcome* outcome = endedOutcome(runRow);
  if (outcome == nullptr || outcome->resultBlock.empty()) return "";
  return resultPageText(outcome->resultBlock);
}

std::optional<std::pair<BlockLatencyMap, DriveRecord>> BenchModel::scanMapOf(int runRow) const {
  const RunOutcome* outcome = endedOutcome(runRow);
  if (outcome == nullptr || outcome->kind != kTestKindExtended) return std::nullopt;
  std::optional<BlockLatencyMap> map = m_session.scanMapCopyOf(outcome->drive);
  if (!map) return std::nullopt;
  return std::make_pair(std::move(*map), outcome->drive);
}

std::string BenchModel::resultPageTitle(int runRow) const {
  const BenchCandidate* drive = startedCandidate(runRow);
  if (drive == nullptr) return "";
  return "PALVORO - Result of Drive " + std::to_string(drive->driveIndex + 1);
}

int BenchModel::endedDriveIndex(int runRow) const {
  const RunOutcome* outcome = endedOutcome(runRow);
  return outcome == nullptr ? -1 : startedCandidate(runRow)->driveIndex;
}

std::string BenchModel::statusText() const {
  if (m_lastStart == BenchStart::EraseDeclined) return "Nothing was started: the erase was not confirmed.";
  if (m_lastStart != BenchStart::Started) return "";
  size_t going = 0;
  for (const std::unique_ptr<BenchDrive>& drive : m_drives) {
    if (!drive->ended.load()) ++going;
  }
  if (going > 0) {
    const std::string runs = std::to_string(going) + (going == 1 ? " drive" : " drives");
    return stopAsked() ? "Stopping " + runs + "..." : runs + " running.";
  }
  return pageStatus();
}

}  // namespace palvoro
