#include "service/run_service.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>

#include "diagnostics/erase.h"
#include "diagnostics/run_messages.h"
#include "discovery/property_page.h"
#include "discovery/volumes.h"
#include "resources/string_table.h"
#include "resources/version.h"
#include "results/latency_picture.h"
#include "results/result_page.h"
#include "service/drive_logs_model.h"
#include "service/open_program_check.h"
#include "service/drive_snapshot.h"
#include "smart/drive_logs.h"

namespace palvoro {
namespace {

constexpr const char* kAdministratorRequired = "Administrator privilege is required to run this test !";
constexpr const char* kSystemDriveRefused =
    "The selected drive is your Windows system drive and must not be erased!";
constexpr const char* kPartitionsQuestion =
    "One or more partitions may exist in the drive, do you really want to erase them?";
constexpr const char* kEraseDataLoss =
    "Erasing the drive will render existing data on the selected device inaccessible. Backup all "
    "data to other media before proceeding. Are you sure you wish to proceed?";
constexpr const char* kEraseNotSupported =
    "Erase is not supported on this system with TOVRIN. Use DOS utility BRENEK, v5.22 or later, "
    "to erase the drive.";

// "2026-12-10T04:00:00Z"; "" for a time the clock never gave.
std::string isoTime(int64_t seconds) {
  if (seconds <= 0) return "";
  return certificateTime(static_cast<std::time_t>(seconds));
}

std::string outcomeWord(int32_t state) {
  switch (state) {
    case kTestStateComplete: return "COMPLETE";
    case kTestStateAbort: return "STOPPED";
    case kTestStatePass: return "PASS";
    default: return "FAIL";
  }
}

CertificateVerification verificationOf(const RunOutcome& outcome) {
  CertificateVerification v;
  if (outcome.verification) {
    const EraseVerification& e = *outcome.verification;
    v.method = "every sector";
    v.sectorsRead = e.sectorsChecked;
    v.sectorsFailed = e.nonZeroSectors + e.unreadableSectors;
    v.passed = e.passed();
    v.detail = verificationText(e);
  } else if (outcome.purge.check.ran) {
    const PurgeSampleCheck& c = outcome.purge.check;
    v.method = "sample";
    v.sectorsRead = c.sectorsRead;
    v.sectorsFailed = c.sectorsFailed();
    v.passed = c.passed();
    v.detail = purgeCheckText(c);
  } else {
    v.method = "none";
    v.detail = "The erase was not read back.";
  }
  return v;
}

RunPrompt information(Platform& platform, std::string text) {
  return {std::move(text), platform.productTitle(), PromptIcon::Warning, PromptButtons::Ok, PromptAnswer::Ok,
          PromptPurpose::information()};
}

}  // namespace

std::string driveLettersText(Platform& platform, const DriveRecord& record) {
  if (record.volumeLetters[0] == '\0') return "";
  std::string text = " (";
  for (int i = 0; i < kMaxVolumeLetters && record.volumeLetters[i] != '\0'; ++i) {
    const VolumeName name = platform.volumeName(record.volumeLetters[i]);
    text += ' ';
    text += name.mountPoint ? name.name : std::string(1, record.volumeLetters[i]) + ":";
  }
  return text + " )";
}

std::string closeProgramsQuestion(Platform& platform, const DriveRecord& record) {
  const std::string format = loadString(kStrCloseOtherPrograms);
  const std::string letters = driveLettersText(platform, record);
  const size_t at = format.find("%s");
  if (at == std::string::npos) return format;
  return format.substr(0, at) + letters + format.substr(at + 2);
}

ErasureCertificate certificateOf(const RunOutcome& outcome, const std::string& operatorName) {
  const DriveRecord& r = outcome.drive;
  ErasureCertificate c;
  c.drive.model = trimmedField(r.model, sizeof r.model);
  c.drive.serial = trimmedField(r.serialNumber, sizeof r.serialNumber);
  c.drive.firmware = trimmedField(r.firmwareRevision, sizeof r.firmwareRevision);
  c.drive.sectorSize = r.sectorSize > 0 ? static_cast<uint32_t>(r.sectorSize) : 512;
  const uint64_t sectors = r.identifiedSectors != 0 ? r.identifiedSectors : r.totalSectors;
  c.drive.capacityBytes = sectors * c.drive.sectorSize;
  c.drive.bus = busTypeName(r.busType);
  if (outcome.eraseMethods) c.drive.wwn = outcome.eraseMethods->worldWideName;
  c.drive.smartHealth = r.smartAvailable == 0 ? "Unknown" : r.smartHealthy != 0 ? "GOOD" : "BAD";
  const HiddenAreaHandling& hidden = outcome.purge.hidden;
  if (hidden.found) {
    c.hidden.hpaKnown = hidden.found->hpaKnown;
    c.hidden.hpaSectors = hidden.found->hpaSectors();
    c.hidden.dcoKnown = hidden.found->dcoKnown;
    c.hidden.dcoSectors = hidden.found->dcoHiddenSectors();
  }
  c.hidden.handling = !hidden.sentence.empty() ? hidden.sentence
                      : hidden.found   ? "The drive did not say what it hides from the host."
                                       : "None reported: a Host Protected Area and a Device Configuration Overlay are "
                                         "ATA features, and the drive was not asked through them.";
  const PurgeMethod method = outcome.purge.method;
  c.method = eraseMethodText(method, outcome.eraseMode);
  c.methodSentence = purgeMethodSentence(method);
  c.category = eraseCategory(method, outcome.eraseMode);
  c.started = isoTime(outcome.purge.startedSeconds);
  c.ended = isoTime(outcome.purge.endedSeconds);
  c.outcome = outcomeWord(outcome.state);
  c.outcomeDetail = outcome.error != kTestErrorNone ? outcome.errorMessage : "";
  c.verification = verificationOf(outcome);
  c.operatorName = operatorName;
  c.program = "PALVORO " + programVersionText();
  c.id = certificateIdOf(c.drive.serial, c.started);
  return c;
}

EraseVerification RunFrontEnd::watchReadBack(const ReadBackJob& job) {
  std::atomic<bool> stop{false};
  return job.read(stop, {});
}

RunOutcome RunService::run(const RunRequest& request, RunFrontEnd& frontEnd) {
  RunOutcome outcome;
  outcome.kind = request.kind;
  {
    std::lock_guard lock(m_session.tableMutex());
    const DriveTable& table = m_session.driveTable();
    if (request.driveIndex < 0 || request.driveIndex >= table.driveCount()) return outcome;
    // The run works on its own copy: a detection meanwhile rewrites the table, never the run's drive.
    outcome.drive = table.records[request.driveIndex];
  }
  if (!startChecks(request, frontEnd, outcome)) return outcome;
  if (request.kind == kTestKindErase && !eraseChecks(request, frontEnd, outcome)) return outcome;

  TestRunValues values;
  values.testKind = request.kind;
  values.eraseMode = outcome.eraseMode;
  values.eraseMethod = outcome.erase.method;
  values.liftHpa = outcome.erase.liftHpa;
  values.restoreHpa = outcome.erase.restoreHpa;
  values.transferPace = request.pace;
  values.temperatureGuard = request.temperatureGuard;
  values.testError = kTestErrorNone;
  values.testState = kTestStateRunning;
  frontEnd.runStarts();
  outcome.started = utcTimeText();
  if (request.kind == kTestKindErase && outcome.partitionCheck != kNoPartitions) {
    dismountVolumesBeforeErase(m_session.platform(), outcome.drive);
  }
  // The member select as it is now: the SMART window may change the session's meanwhile.
  const uint8_t memberSelect = m_session.raidMemberSelect();
  Prompter* const ownPrompter = frontEnd.runPrompter();
  Prompter& prompter = ownPrompter != nullptr ? *ownPrompter : m_session.prompter();
  const TestRunEnvironment environment{m_session.platform(),  prompter,             m_session.startup(),
                                       memberSelect,          outcome.drive,        request.driveIndex,
                                       values, request.identity ? &*request.identity : nullptr};
  outcome.seen = frontEnd.watchRun(request, environment);
  outcome.end = StartEnd::TestRun;
  frontEnd.runEnded();
  afterRun(request, frontEnd, values, outcome);
  return outcome;
}

bool RunService::startChecks(const RunRequest& request, RunFrontEnd& frontEnd, RunOutcome& outcome) {
  Platform& platform = m_session.platform();
  const int32_t kind = request.kind;
  const StartupState& startup = m_session.startup();
  const bool smartUnreachable = startup.miniportSmart == 0;
  if ((kind == kTestKindExtended || kind == kTestKindErase || (kind == kTestKindQuick && smartUnreachable)) &&
      startup.miniportMode != 0) {
    (void)frontEnd.ask(information(platform, kAdministratorRequired));  // a notice: any answer ends here
    outcome.end = StartEnd::AdministratorRefused;
    return false;
  }
  // Only the kinds that reach the drive ask about open programs; another kind goes
  // straight to the run, whose worker names it invalid.
  if (kind != kTestKindQuick && kind != kTestKindExtended && kind != kTestKindErase) return true;
  outcome.otherProgramsOpen = openProgramCheck(platform);
  {
    // Every run locks the drive's volumes, and an erase dismounts them: the letters must
    // be known whether or not anyone is asked about open files.
    std::lock_guard lock(m_session.tableMutex());
    mapVolumes(platform, m_session.driveTable());
    const DriveTable& table = m_session.driveTable();
    if (request.driveIndex < table.driveCount()) {
      std::memcpy(outcome.drive.volumeLetters, table.records[request.driveIndex].volumeLetters,
                  sizeof outcome.drive.volumeLetters);
      outcome.drive.volumeCount = table.records[request.driveIndex].volumeCount;
    }
  }
  if (outcome.otherProgramsOpen != 0 &&
      frontEnd.ask({closeProgramsQuestion(platform, outcome.drive), platform.productTitle(), PromptIcon::Warning,
                    PromptButtons::OkCancel, PromptAnswer::Cancel, PromptPurpose::question()}) == PromptAnswer::Cancel) {
    outcome.end = StartEnd::ProgramsOpenCancelled;
    return false;
  }
  return true;
}

bool RunService::eraseChecks(const RunRequest& request, RunFrontEnd& frontEnd, RunOutcome& outcome) {
  Platform& platform = m_session.platform();
  DriveRecord& record = outcome.drive;
  const bool miniportMode = m_session.startup().miniportMode != 0;
  const PromptPurpose destroys = PromptPurpose::destroysDataOn(record.physicalDriveNumber);

  outcome.partitionCheck = partitionCheck(platform, record);
  if (outcome.partitionCheck == kSystemDrive) {
    (void)frontEnd.ask(information(platform, kSystemDriveRefused));  // a notice: any answer ends here
    outcome.end = StartEnd::SystemDriveRefused;
    return false;
  }
  outcome.eraseMethods = eraseMethodsOf(platform, record, m_session.raidMemberSelect());
  if (request.eraseMethod && !methodOffered(platform, *request.eraseMethod, frontEnd, outcome)) return false;
  if (outcome.eraseMethods->hidden) {
    const std::string warning = hiddenAreaWarning(*outcome.eraseMethods->hidden);
    if (!warning.empty()) (void)frontEnd.ask(information(platform, warning));  // a notice: any answer goes on
  }
  if (outcome.partitionCheck == kPartitionsMayExist &&
      frontEnd.ask({kPartitionsQuestion, kEraseBoxCaption, PromptIcon::Warning, PromptButtons::YesNo, PromptAnswer::No,
                    destroys}) != PromptAnswer::Yes) {
    outcome.end = StartEnd::PartitionsDeclined;
    return false;
  }
  // Enter on the last question before the data goes must not be the answer that erases.
  if (frontEnd.ask({kEraseDataLoss, kEraseBoxCaption, PromptIcon::Warning, PromptButtons::YesNo, PromptAnswer::No,
                    destroys}) != PromptAnswer::Yes) {
    outcome.end = StartEnd::EraseDeclined;
    return false;
  }
  // Drives that can erase their sanitize-ready way, and all others, get the full choice;
  // the remaining hybrid kinds are offered the quick erase only.
  const bool fullChoice = record.hybridFlags == 0 || (record.hybridFlags & kHybridSanitizeReady) != 0;
  // A mode the caller named is taken when the drive offers it; otherwise the choice is
  // the front end's.
  if (!chooseErase(request, frontEnd, fullChoice, outcome)) return false;
  if (!methodOffered(platform, outcome.erase.method, frontEnd, outcome)) return false;
  if (record.hiddenSectors != 0) {
    if (!prepareSecondUnitErase(platform, record, miniportMode)) {
      (void)frontEnd.ask(information(platform, kEraseNotSupported));  // a notice: any answer ends here
      outcome.end = StartEnd::SctRefused;
      return false;
    }
    // The switch changed what the drive reports: the table shows the drive as it now is.
    std::lock_guard lock(m_session.tableMutex());
    DriveTable& table = m_session.driveTable();
    if (request.driveIndex < table.driveCount() &&
        table.records[request.driveIndex].physicalDriveNumber == record.physicalDriveNumber) {
      table.records[request.driveIndex].totalSectors = record.totalSectors;
      table.records[request.driveIndex].identifiedSectors = record.identifiedSectors;
    }
  }
  return true;
}

bool RunService::chooseErase(const RunRequest& request, RunFrontEnd& frontEnd, bool fullChoice, RunOutcome& outcome) {
  EraseChoice& choice = outcome.erase;
  choice.liftHpa = request.liftHpa;
  choice.restoreHpa = request.restoreHpa;
  choice.operatorName = request.operatorName;
  if (request.eraseMethod && *request.eraseMethod != PurgeMethod::Overwrite) {
    choice.method = *request.eraseMethod;
    return true;
  }
  std::optional<int32_t> mode = request.eraseMode;
  if (!request.eraseMethod && !mode) {
    const std::optional<EraseChoice> chosen = frontEnd.chooseEraseMethod({*outcome.eraseMethods, !fullChoice});
    if (!chosen || (chosen->method == PurgeMethod::Overwrite && chosen->mode != 0 && !fullChoice)) {
      outcome.end = StartEnd::EraseChoiceCancelled;
      return false;
    }
    choice = *chosen;
    if (choice.operatorName.empty()) choice.operatorName = request.operatorName;
    outcome.eraseMode = choice.method == PurgeMethod::Overwrite ? choice.mode : 0;
    return true;
  }
  if (!mode || (*mode != 0 && !fullChoice)) mode = frontEnd.chooseErase(!fullChoice);
  if (!mode || (*mode != 0 && !fullChoice)) {
    outcome.end = StartEnd::EraseChoiceCancelled;
    return false;
  }
  choice.method = PurgeMethod::Overwrite;
  choice.mode = *mode;
  outcome.eraseMode = *mode;
  return true;
}

bool RunService::methodOffered(Platform& platform, PurgeMethod method, RunFrontEnd& frontEnd, RunOutcome& outcome) {
  const MethodSupport* support = outcome.eraseMethods->find(method);
  if (support != nullptr && support->offered) return true;
  outcome.refusal = support != nullptr ? support->whyNot : "the drive has no such command";
  (void)frontEnd.ask(information(platform, std::string("The drive does not offer ") + purgeMethodName(method) + ": " +
                                               outcome.refusal + "."));  // a notice: any answer ends here
  outcome.end = StartEnd::MethodUnavailable;
  return false;
}

std::optional<EraseChoice> RunFrontEnd::chooseEraseMethod(const EraseOffer& offer) {
  const std::optional<int32_t> mode = chooseErase(offer.quickOnly);
  if (!mode) return std::nullopt;
  EraseChoice choice;
  choice.mode = *mode;
  return choice;
}

void RunService::afterRun(const RunRequest& request, RunFrontEnd& frontEnd, TestRunValues& values,
                          RunOutcome& outcome) {
  const int32_t kind = request.kind;
  const DriveRecord& record = outcome.drive;
  // Only an erase that says it zeroed everything is worth proving; a user who stopped the
  // run wants it to end, not to start reading the drive.
  if (request.verify && kind == kTestKindErase && values.testState.load() == kTestStateComplete &&
      !outcome.seen.stoppedByUser) {
    outcome.verifiedSpans = erasedSpans(record, outcome.eraseMode);
    Platform& platform = m_session.platform();
    const int32_t mode = outcome.eraseMode;
    // The read-back runs after the run's own threads have ended: its pauses join theirs.
    const ReadBackTemperature temperature{values.temperatureGuard.load() ? &values.temperature : nullptr,
                                          m_session.startup().miniportMode != 0, m_session.raidMemberSelect()};
    ReadBackJob job{outcome.verifiedSpans, [&platform, &record, mode, temperature](
                                               std::atomic<bool>& stop,
                                               const std::function<void(const VerifyProgress&)>& progress) {
                      return verifyErase(platform, record, mode, stop, progress, temperature);
                    }};
    outcome.verification = frontEnd.watchReadBack(job);
  }

  outcome.state = values.testState.load();
  outcome.error = values.testError.load();
  outcome.badSectorCount = values.badSectorCount.load();
  outcome.errorMessage = !values.lastErrorMessage().empty()
                             ? values.lastErrorMessage()
                             : formatTestError(outcome.error, testKindPrefix(kind), request.driveIndex + 1);
  // An extended test's page shows its scan's block times; a test that ended before its
  // scan has none.
  std::vector<std::string> extraRows;
  std::vector<std::string> hints;
  if (kind == kTestKindExtended) {
    outcome.latency = values.scanLatency;
    extraRows = latencyResultRows(values.scanLatency);
    hints = latencyHints(values.scanLatency);
    m_session.keepScanMap(record, values.scanLatency);
  }
  // After a test the drive's own logs have their say too, its last self-test among them;
  // an erase leaves nothing of the drive's past worth reading.
  std::optional<DriveLogs> logs;
  if ((kind == kTestKindQuick || kind == kTestKindExtended) && driveLogsReachable(record)) {
    logs = readDriveLogs(m_session.platform(), record, m_session.startup().miniportMode != 0,
                         m_session.raidMemberSelect());
    const std::vector<std::string> logHints = driveLogHints(*logs);
    hints.insert(hints.end(), logHints.begin(), logHints.end());
  }
  outcome.transfers = values.transferEngine();
  const std::vector<std::string> transferRows = transferResultRows(outcome.transfers);
  extraRows.insert(extraRows.end(), transferRows.begin(), transferRows.end());
  outcome.temperatureGuard = values.temperatureGuard.load();
  outcome.temperature = values.temperature;
  const std::vector<std::string> temperatureRows = temperatureResultRows(outcome.temperatureGuard, outcome.temperature);
  extraRows.insert(extraRows.end(), temperatureRows.begin(), temperatureRows.end());
  if (kind == kTestKindErase) {
    outcome.purge = values.purge;
    const std::vector<std::string> eraseRows = eraseResultRows(outcome.purge, outcome.eraseMode);
    extraRows.insert(extraRows.begin(), eraseRows.begin(), eraseRows.end());
    // A drive that refused before anything was sent was not erased: there is nothing to certify.
    const bool reached = !outcome.purge.report || (outcome.purge.report->status != PurgeStatus::Unsupported &&
                                                   outcome.purge.report->status != PurgeStatus::Frozen &&
                                                   outcome.purge.report->status != PurgeStatus::Locked);
    if (reached) outcome.certificate = certificateOf(outcome, outcome.erase.operatorName);
  }
  // What worsened since the drive was last seen leads the hints: it is what the page adds
  // to every earlier one.
  if (m_history != nullptr) {
    keepInHistory(outcome, logs ? &*logs : nullptr);
    std::vector<std::string> changed;
    for (const DriveChange& change : outcome.changes) changed.push_back(change.text);
    hints.insert(hints.begin(), changed.begin(), changed.end());
  }
  const std::vector<std::string> hintRows = hintResultRows(hints);
  extraRows.insert(extraRows.end(), hintRows.begin(), hintRows.end());
  outcome.resultBlock = m_session.appendResult(values, record, m_clock.localTime(),
                                               outcome.verification ? &*outcome.verification : nullptr, extraRows);
}

namespace {

// The test result as the result page words it, from the same strings.
const char* resultWord(int32_t state) {
  return state >= kTestStatePass && state <= kTestStateComplete ? loadString(kStrResultPass + state)
                                                                : loadString(kStrResultFail);
}

const char* kindWord(int32_t kind) {
  switch (kind) {
    case kTestKindExtended: return "extended";
    case kTestKindErase: return "erase";
    default: return "quick";
  }
}

// The block time below which `share` of the timed blocks fall, in ms. The histogram keeps
// buckets, not times: this is the upper limit of the bucket holding that block, or the
// slowest block's time for the open-ended last bucket, so it never understates.
std::optional<double> latencyBoundMs(const BlockLatencyMap& map, double share, uint64_t worstMicroseconds) {
  uint64_t timed = 0;
  for (size_t b = 0; b < kUnreadableBucket; ++b) timed += map.histogram()[b];
  if (timed == 0) return std::nullopt;
  const auto rank = static_cast<uint64_t>(share * static_cast<double>(timed - 1)) + 1;
  uint64_t seen = 0;
  for (size_t b = 0; b < kLatencyBucketLimits.size(); ++b) {
    seen += map.histogram()[b];
    if (seen >= rank) return static_cast<double>(std::min(kLatencyBucketLimits[b], worstMicroseconds)) / 1000.0;
  }
  return static_cast<double>(worstMicroseconds) / 1000.0;
}

std::string hostName() {
  char name[256] = {};
  return gethostname(name, sizeof name - 1) == 0 ? std::string(name) : std::string();
}

StoredRun storedRunOf(const RunOutcome& outcome, int64_t driveId) {
  StoredRun run;
  run.driveId = driveId;
  run.started = outcome.started;
  run.ended = utcTimeText();
  run.kind = kindWord(outcome.kind);
  run.outcome = resultWord(outcome.state);
  run.errorCode = outcome.error;
  run.errorMessage = outcome.error == kTestErrorNone ? "" : outcome.errorMessage;
  run.badSectors = outcome.badSectorCount;
  if (outcome.kind == kTestKindErase) run.eraseMethod = eraseMethodText(outcome.purge.method, outcome.eraseMode);
  if (outcome.verification) run.verification = verificationText(*outcome.verification);
  if (outcome.latency.blocks() > 0) {
    uint64_t worst = 0;
    for (const LatencyStripe& stripe : outcome.latency.stripes()) worst = std::max(worst, stripe.worstMicroseconds);
    run.latencyP50Ms = latencyBoundMs(outcome.latency, 0.50, worst);
    run.latencyP99Ms = latencyBoundMs(outcome.latency, 0.99, worst);
    if (run.latencyP50Ms) run.latencyMaxMs = static_cast<double>(worst) / 1000.0;
    run.latencyHistogram.assign(outcome.latency.histogram().begin(), outcome.latency.histogram().end());
    uint64_t totalMicroseconds = 0;
    for (const LatencyStripe& stripe : outcome.latency.stripes()) totalMicroseconds += stripe.totalMicroseconds;
    run.latencySumMs = static_cast<double>(totalMicroseconds) / 1000.0;
  }
  run.host = hostName();
  return run;
}

}  // namespace

void RunService::keepInHistory(RunOutcome& outcome, const DriveLogs* logs) {
  const DriveRecord& r = outcome.drive;
  const std::string wwn = outcome.eraseMethods ? outcome.eraseMethods->worldWideName : std::string();
  const std::optional<int64_t> driveId = m_history->driveKey(
      trimmedField(r.model, sizeof r.model), trimmedField(r.serialNumber, sizeof r.serialNumber), wwn,
      busTypeName(r.busType));
  if (!driveId) return;
  StoredRun run = storedRunOf(outcome, *driveId);
  // An erase leaves the attributes as they were before it: only a test is worth a reading.
  std::optional<StoredSnapshot> snapshot;
  if (outcome.kind != kTestKindErase) snapshot = readDriveSnapshot(m_session, r, logs);
  const DrivePast past = drivePastOf(m_history->snapshotsOf(*driveId), m_history->runsOf(*driveId), run.kind);
  outcome.changes = whatChanged(past, snapshot ? &*snapshot : nullptr, &run);
  const std::optional<int64_t> runId = m_history->recordRun(run);
  if (!snapshot) return;
  snapshot->driveId = *driveId;
  snapshot->runId = runId;
  (void)m_history->recordSnapshot(*snapshot);
}

}  // namespace palvoro
