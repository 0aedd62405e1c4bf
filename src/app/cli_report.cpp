#include "app/cli_report.h"

#include <unistd.h>


#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "app/console_text.h"
#include "app/drive_naming.h"
#include "discovery/property_page.h"
#include "results/help_pages.h"
#include "app/program_files.h"
#include "diagnostics/block_latency.h"
#include "diagnostics/run_messages.h"
#include "discovery/format_capacity.h"
#include "discovery/raid_status.h"
#include "discovery/volumes.h"
#include "app/cli.h"
#include "results/latency_picture.h"
#include "results/pdf/certificate_files.h"
#include "service/bench.h"

namespace palvoro::cli {

// How the drive was reached, as the list shows it.
const char* reachedAs(int driveClass) {
  static const char* const kNames[] = {"-", "ATA", "USB", "FireWire", "SCSI", "other", "RAID enclosure", "NVMe"};
  return driveClass >= 0 && driveClass <= kDriveClassNvme ? kNames[driveClass] : "?";
}

uint64_t capacityBytes(const DriveRecord& r) {
  return r.identifiedSectors * static_cast<uint64_t>(static_cast<uint32_t>(std::max(r.sectorSize, 0)));
}

std::string capacityText(const DriveRecord& r) { return driveCapacityText(r); }

// The SMART column of the list: the enclosure's RAID state, the maker's SSD, or the verdict.
std::string smartText(const DriveRecord& r) {
  if (r.isMakerSsd) return "Not Supported";
  if (r.driveClass == kDriveClassRaid && r.raidLevel != 0) {
    return std::string(raidLevelName(r.raidLevel)) + ", " + raidStateName(r.raidState);
  }
  if (!r.smartAvailable) return "Not Available";
  return r.smartHealthy ? "PASS" : "FAIL";
}

std::string letters(const DriveRecord& r) {
  return std::string(r.volumeLetters, strnlen(r.volumeLetters, sizeof r.volumeLetters));
}

// A drive's volumes as the user knows them: the letters on the simulated machine ("C"),
// the mount points on this computer's drives ("/", "/home").
std::vector<std::string> volumeNames(Platform& platform, const DriveRecord& r) {
  std::vector<std::string> names;
  for (const char letter : letters(r)) {
    const VolumeName name = platform.volumeName(letter);
    names.push_back(name.mountPoint ? name.name : std::string(1, letter));
  }
  return names;
}

// The list's column: letters side by side ("CD"), mount points between commas.
std::string volumesText(const std::vector<std::string>& names) {
  const bool letterForm =
      std::all_of(names.begin(), names.end(), [](const std::string& name) { return name.size() == 1 && name != "/"; });
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty() && !letterForm) text += ',';
    text += name;
  }
  return text;
}

Json driveJson(Platform& platform, int index, const DriveRecord& r) {
  Json volumes = Json::array();
  for (const std::string& name : volumeNames(platform, r)) volumes.push_back(name);
  Json drive = {
      {"number", index + 1},
      {"model", r.model},
      {"serial", r.serialNumber},
      {"firmware", r.firmwareRevision},
      {"sectors", r.identifiedSectors},
      {"sector_size", r.sectorSize},
      {"capacity_bytes", capacityBytes(r)},
      {"capacity_text", capacityText(r)},
      {"bus", busTypeName(r.busType)},
      {"reached_as", reachedAs(r.driveClass)},
      {"volumes", volumes},
      {"smart", {{"available", r.smartAvailable != 0}, {"healthy", r.smartHealthy != 0}, {"text", smartText(r)}}},
  };
  if (r.driveClass == kDriveClassRaid) {
    drive["raid"] = {{"level", raidLevelName(r.raidLevel)},
                     {"state", raidStateName(r.raidState)},
                     {"rebuild_percent", r.raidRebuildPercent}};
  } else {
    drive["raid"] = nullptr;
  }
  return drive;
}

Json hiddenAreasJson(const std::optional<HiddenAreas>& hidden) {
  if (!hidden) return nullptr;
  return {{"hpa",
           {{"known", hidden->hpaKnown},
            {"sectors", hidden->hpaSectors()},
            {"user_sectors", hidden->userSectors},
            {"native_sectors", hidden->nativeSectors}}},
          {"dco", {{"known", hidden->dcoKnown}, {"sectors", hidden->dcoHiddenSectors()}, {"max_sectors", hidden->dcoSectors}}}};
}

Json eraseMethodsJson(const DriveEraseMethods& methods) {
  Json list = Json::array();
  for (const MethodSupport& m : methods.methods) {
    list.push_back({{"name", purgeMethodName(m.method)},
                    {"category", purgeCategory(m.method)},
                    {"offered", m.offered},
                    {"why_not", m.offered ? Json(nullptr) : Json(m.whyNot)},
                    {"estimated_minutes", m.estimatedMinutes == 0 ? Json(nullptr) : Json(m.estimatedMinutes)},
                    {"description", purgeMethodSentence(m.method)}});
  }
  return {{"methods", list}, {"default", purgeMethodName(methods.defaultMethod)}};
}

Json eraseJson(const RunOutcome& result) {
  const PurgeOutcome& purge = result.purge;
  Json erase = {{"method", eraseMethodText(purge.method, result.eraseMode)}, {"category", eraseCategory(purge.method, result.eraseMode)}};
  erase["hidden_areas"] = {{"found", hiddenAreasJson(purge.hidden.found)},
                           {"lifted", purge.hidden.lifted},
                           {"restored", purge.hidden.restored},
                           {"handling", purge.hidden.sentence.empty() ? Json(nullptr) : Json(purge.hidden.sentence)}};
  if (purge.report) {
    static constexpr const char* kStatus[] = {"completed", "unsupported", "frozen", "locked", "failed"};
    erase["drive_report"] = {{"status", kStatus[static_cast<int>(purge.report->status)]},
                             {"detail", purge.report->detail},
                             {"password_left", purge.report->passwordLeft},
                             {"password_removed", purge.report->passwordRemoved}};
  } else {
    erase["drive_report"] = nullptr;
  }
  if (purge.check.ran) {
    const PurgeSampleCheck& c = purge.check;
    Json failed = Json::array();
    for (const uint64_t sector : c.failedSectors) failed.push_back(sector);
    erase["check"] = {{"passed", c.passed()},      {"samples", c.samples},         {"sectors_read", c.sectorsRead},
                      {"unchanged", c.unchanged},  {"not_erased", c.notErasedValue}, {"unreadable", c.unreadable},
                      {"blank_before", c.blankBefore}, {"failed_sectors", failed},  {"text", purgeCheckText(c)}};
  } else {
    erase["check"] = nullptr;
  }
  return erase;
}

// A command that could not do its work: the reason on standard error, and with --json the
// document a script reads on standard output. Returns `status`.
int fail(const CliOptions& options, std::ostream& out, std::ostream& err, int status, const std::string& message) {
  err << "palvoro-cli: " << message << "\n";
  if (options.json) {
    out << jsonText(Json{{"schema_version", kCliSchemaVersion}, {"error", {{"status", status}, {"message", message}}}}, 2)
        << "\n";
  }
  return status;
}


// A drive's serial number without the blanks drives pad it with.
std::string trimmedSerial(const DriveRecord& r) { return trimmedField(r.serialNumber, sizeof r.serialNumber); }


// A TestError code as the result page prints it: "%02d".
std::string twoDigitCode(int code) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", code);
  return text;
}

Json entryJson(const ResultEntry& e) {
  return {{"test_option", e.testOption},
          {"model", e.model},
          {"serial", e.serial},
          {"firmware", e.firmware},
          {"capacity_text", e.capacity},
          {"smart_status", e.smartStatus},
          {"test_result", e.testResult},
          {"error", e.errorCode < 0 ? Json(nullptr) : Json{{"code", e.errorCode}, {"message", e.errorMessage}}},
          {"test_time", e.testTime},
          {"verification", !e.verification ? Json(nullptr)
                                           : Json{{"passed", e.verification->passed},
                                                  {"non_zero_sector_count", e.verification->nonZeroSectors},
                                                  {"unreadable_sector_count", e.verification->unreadableSectors},
                                                  {"text", e.verification->text}}}};
}

// The scan's block times: the histogram, the slowest blocks and the surface's stripes,
// with the hints they suggest. null when the scan never ran.
Json latencyJson(const BlockLatencyMap& map) {
  if (map.blocks() == 0) return nullptr;
  Json buckets = Json::array();
  for (size_t i = 0; i < kLatencyBuckets; ++i) {
    Json bucket = {{"label", latencyBucketLabel(i)}, {"blocks", map.histogram()[i]}};
    bucket["below_microseconds"] = i < kLatencyBucketLimits.size() ? Json(kLatencyBucketLimits[i]) : Json(nullptr);
    buckets.push_back(bucket);
  }
  Json slowest = Json::array();
  for (const SlowBlock& b : map.slowest()) slowest.push_back({{"sector", b.firstSector}, {"microseconds", b.microseconds}});
  Json stripes = Json::array();
  for (const LatencyStripe& s : map.stripes()) {
    stripes.push_back({{"first", s.firstSector},
                       {"end", s.endSector},
                       {"blocks", s.blocks},
                       {"mean_microseconds", s.meanMicroseconds()},
                       {"worst_microseconds", s.worstMicroseconds},
                       {"unreadable", s.unreadable}});
  }
  return {{"blocks", map.blocks()},
          {"histogram", buckets},
          {"slowest", slowest},
          {"stripes", stripes},
          {"hints", latencyHints(map)}};
}

void printLatency(const BlockLatencyMap& map, std::ostream& out) {
  if (map.blocks() == 0) return;
  out << "  Block read times (" << map.blocks() << " blocks):";
  for (size_t i = 0; i < kLatencyBuckets; ++i) {
    out << (i == 0 ? " " : ", ") << latencyBucketLabel(i) << ": " << map.histogram()[i];
  }
  out << "\n";
  const std::vector<SlowBlock> slowest = map.slowest();
  constexpr size_t kShown = 10;
  out << "  Slowest blocks:\n";
  char line[96];
  for (size_t i = 0; i < std::min(kShown, slowest.size()); ++i) {
    std::snprintf(line, sizeof line, "    sector %" PRIu64 "  %" PRIu64 ".%03" PRIu64 " ms\n", slowest[i].firstSector,
                  slowest[i].microseconds / 1000, slowest[i].microseconds % 1000);
    out << line;
  }
  for (const std::string& hint : latencyHints(map)) out << "  " << hint << "\n";
}

void entryText(const ResultEntry& e, std::ostream& out) {
  out << e.testOption << ": " << e.testResult << "  (" << e.testTime << ")\n"
      << "  Model Number:       " << e.model << "\n"
      << "  Unit Serial Number: " << e.serial << "\n"
      << "  Firmware Number:    " << e.firmware << "\n"
      << "  Capacity:           " << e.capacity << "\n"
      << "  SMART Status:       " << e.smartStatus << "\n";
  if (e.errorCode >= 0) {
    out << "  Test Error Code:    " << twoDigitCode(e.errorCode) << "-" << e.errorMessage << "\n";
  }
  if (e.verification) out << "  Erase Verification: " << e.verification->text << "\n";
}

std::string resultsDirOf(const CliOptions& options) {
  std::string dir = options.resultsDir.empty() ? findProgramFolders().resultsDir : options.resultsDir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

std::string stateDirOf(const CliOptions& options) {
  if (!options.stateDir.empty()) return options.stateDir;
  if (options.handedMachine) return {};
  const std::string dir = findProgramFolders().resultsDir;
  // A simulated machine's drives keep a history of their own: they must never stand in a
  // real machine's history, nor reach its metrics.
  if (dir.empty() || options.thisComputer()) return dir;
  return dir + (dir.back() == '/' ? "" : "/") + "simulated";
}

void openHistory(CliOptions& options, std::ostream& err) {
  const std::string dir = stateDirOf(options);
  if (dir.empty() && options.handedMachine) return;
  if (dir.empty()) {
    err << "palvoro-cli: no folder for the history; the run is not kept in it.\n";
    return;
  }
  StoreOpen opened = HistoryStore::open(dir);
  if (!opened.message.empty()) err << "palvoro-cli: " << opened.message << "\n";
  options.history = std::move(opened.store);
}

const char* verificationEndKey(EraseVerification::End end) {
  switch (end) {
    case EraseVerification::End::Finished: return "finished";
    case EraseVerification::End::Stopped: return "stopped";
    case EraseVerification::End::DriveNotOpened: return "drive_not_opened";
    case EraseVerification::End::DriveUnusable: return "drive_unusable";
    case EraseVerification::End::NoBuffer: return "no_buffer";
  }
  return "?";
}

Json verificationJson(const EraseVerification& v, const std::vector<SectorSpan>& spans) {
  Json ranges = Json::array();
  for (const SectorSpan& span : spans) ranges.push_back({{"first", span.first}, {"end", span.end}});
  return {{"passed", v.passed()},
          {"end", verificationEndKey(v.end)},
          {"ranges", ranges},
          {"sectors_to_check", v.sectorsToCheck},
          {"sectors_checked", v.sectorsChecked},
          {"non_zero_sector_count", v.nonZeroSectors},
          {"non_zero_sectors", v.firstNonZero},
          {"unreadable_sector_count", v.unreadableSectors}};
}

// The exit status an erase that completed ends with once it was read back: a sector that
// holds data or does not read is a failed erase, whatever else happened.
int verifiedStatus(const EraseVerification& v) {
  if (v.passed()) return kCliOk;
  if (v.nonZeroSectors != 0 || v.unreadableSectors != 0) return kCliDriveFailed;
  switch (v.end) {
    case EraseVerification::End::Stopped: return kCliRefused;
    case EraseVerification::End::DriveNotOpened: return kCliNotFound;
    default: return kCliDriveFailed;
  }
}

// Why --verify read nothing back.
std::string verificationSkipped(StartEnd end, int32_t state, bool stoppedByUser) {
  if (end != StartEnd::TestRun) return "the erase was not started";
  if (state == kTestStateAbort || stoppedByUser) return "the erase was stopped";
  return "the erase did not complete";
}

void printVerification(const EraseVerification& v, std::ostream& out) {
  out << "  Verification: ran, ";
  if (v.passed()) {
    out << "PASSED\n";
  } else if (v.end == EraseVerification::End::Stopped) {
    out << "stopped by the user\n";
  } else if (v.end == EraseVerification::End::DriveNotOpened) {
    out << "FAILED: the drive did not open for reading\n";
  } else if (v.end == EraseVerification::End::DriveUnusable) {
    out << "FAILED: the drive's sector size or range cannot be read back\n";
  } else if (v.end == EraseVerification::End::NoBuffer) {
    out << "FAILED: no memory for the read-back\n";
  } else {
    out << "FAILED\n";
  }
  out << "    Sectors checked: " << v.sectorsChecked << " of " << v.sectorsToCheck << "\n";
  if (v.passed()) out << "    All zero.\n";
  if (v.nonZeroSectors != 0) {
    out << "    Sectors not zero: " << v.nonZeroSectors << " (first:";
    for (const uint64_t sector : v.firstNonZero) out << " " << sector;
    out << (v.nonZeroSectors > v.firstNonZero.size() ? " ...)\n" : ")\n");
  }
  if (v.unreadableSectors != 0) out << "    Sectors unreadable: " << v.unreadableSectors << "\n";
}

// The exit status of a Start: how the run ended, or why it did not take place.
int startStatus(StartEnd end, const RunOutcome& result) {
  if (end == StartEnd::AdministratorRefused) return kCliNoPrivilege;
  if (end == StartEnd::NoSuchDrive) return kCliNotFound;
  // The erase cannot be done on this drive as asked: it failed, and nothing was sent.
  if (end == StartEnd::MethodUnavailable) return kCliDriveFailed;
  if (end != StartEnd::TestRun) return kCliRefused;
  switch (result.state) {
    case kTestStatePass:
    case kTestStateComplete:
      return kCliOk;
    case kTestStateAbort:
      return kCliRefused;
    default:
      return result.error == kTestErrorNoDrive ? kCliNotFound : kCliDriveFailed;
  }
}

// The result page written so that the run outlives the program, and the run's own block
// read back from what the service appended.
ReportedRun::Page keepResultPage(Session& context, const CliOptions& options, const RunOutcome& result) {
  ReportedRun::Page page;
  if (result.end != StartEnd::TestRun) return page;
  const std::string dir = resultsDirOf(options);
  if (writeResultPage(dir, context.resultLinesNow(), &page.refusal)) {
    page.path = dir + kResultPageName;
    extractProgramFiles(dir, {{kLogoName, logoGif()}});  // the page shows it
  }
  std::string kept;
  for (const std::string& line : result.resultBlock) kept += line;
  const std::vector<ResultEntry> entries = readResultEntries(kept);
  if (!entries.empty()) page.entry = entries.back();
  return page;
}

// What the temperature guard did: null "highest_celsius" when the drive gave no reading.
Json temperatureGuardJson(bool enabled, const TemperatureWatch& watch) {
  const bool read = watch.highestCelsius.has_value();
  return {{"enabled", enabled},
          {"highest_celsius", read ? Json(*watch.highestCelsius) : Json(nullptr)},
          {"critical_celsius", read ? Json(watch.criticalCelsius) : Json(nullptr)},
          {"warning_celsius", read ? Json(watch.warningCelsius) : Json(nullptr)},
          {"limits_from_drive", read ? Json(watch.limitsFromDrive) : Json(nullptr)},
          {"pauses", watch.pauses},
          {"paused_seconds", watch.pausedSeconds}};
}

Json changeJson(const DriveChange& c) {
  return {{"key", c.key}, {"severity", changeSeverityKey(c.severity)}, {"from", c.from}, {"to", c.to}, {"text", c.text}};
}

Json changesJson(const std::optional<std::vector<DriveChange>>& changes) {
  if (!changes) return nullptr;
  Json list = Json::array();
  for (const DriveChange& c : *changes) list.push_back(changeJson(c));
  return list;
}

void printChanges(const std::vector<DriveChange>& changes, std::ostream& out) {
  if (changes.empty()) return;
  out << "  Changed since last seen:\n";
  for (const DriveChange& c : changes) out << "    " << c.text << "\n";
}

Json runReportJson(const ReportedRun& run, Session& context, const CliOptions& options) {
  const RunOutcome& result = run.result;
  const RunSighting& report = result.seen;
  const bool erase = run.erase;
  const std::optional<ResultEntry>& entry = run.page.entry;
  Json doc = {{"schema_version", kCliSchemaVersion},
              {"command", erase ? "erase" : "test"},
              {"test_option", testKindWord(run.kind)},
              {"erase_mode", erase && !options.eraseMode.empty() ? Json(options.eraseMode) : Json(nullptr)},
              {"drive", driveJson(context.platform(), run.index, run.record)},
              {"outcome", startEndText(result.end).key}};
  if (result.end == StartEnd::TestRun) {
    Json sectors = Json::array();
    for (const BadSector& b : report.badSectors) sectors.push_back({{"sector", b.sector}, {"error", b.error}});
    doc["result"] = {{"test_state", runStateWord(result.state)},
                     {"error", run.failed() ? Json{{"code", result.error}, {"message", result.errorMessage}} : Json(nullptr)},
                     {"bad_sector_count", result.badSectorCount},
                     {"bad_sectors", sectors},
                     {"repair_offered", report.repairOffered},
                     {"repair_run", report.repairRun},
                     {"stopped_by_user", report.stoppedByUser}};
    if (run.kind == kTestKindExtended) doc["result"]["latency"] = latencyJson(result.latency);
    doc["result"]["transfers"] = result.transfers.empty() ? Json(nullptr) : Json(result.transfers);
    doc["result"]["temperature_guard"] = temperatureGuardJson(result.temperatureGuard, result.temperature);
  } else {
    doc["result"] = nullptr;
  }
  if (erase) {
    doc["erase"] = result.end == StartEnd::TestRun ? eraseJson(result) : Json(nullptr);
    doc["erase_refused"] = result.refusal.empty() ? Json(nullptr) : Json(result.refusal);
    doc["verification"] =
        result.verification ? verificationJson(*result.verification, result.verifiedSpans) : Json(nullptr);
    doc["verification_skipped"] = run.skipped.empty() ? Json(nullptr) : Json(run.skipped);
  }
  if (erase) {
    const ReportedRun::Certificate& c = run.certificate;
    Json files = Json::array();
    for (const std::string& name : c.files) files.push_back(inFolder(c.folder, name));
    doc["certificate"] = c.folder.empty() ? Json(nullptr)
                                          : Json{{"files", files},
                                                 {"refused", c.refusal.empty() ? Json(nullptr) : Json(c.refusal)}};
  }
  doc["changes"] = changesJson(options.history && result.end == StartEnd::TestRun
                                  ? std::optional<std::vector<DriveChange>>(result.changes)
                                  : std::nullopt);
  doc["result_entry"] = entry ? entryJson(*entry) : Json(nullptr);
  doc["result_page"] = run.page.path.empty() ? Json(nullptr) : Json(run.page.path);
  doc["result_page_refused"] = run.page.refusal.empty() ? Json(nullptr) : Json(run.page.refusal);
  return doc;
}

void reportRunText(const ReportedRun& run, const CliOptions& options, std::ostream& out) {
  const RunOutcome& result = run.result;
  const RunSighting& report = result.seen;
  const int32_t state = result.state;
  out << testKindWord(run.kind) << " of drive " << run.index + 1 << ", " << run.record.model << " (serial "
      << trimmedSerial(run.record) << "): ";
  const std::string& skipped = run.skipped;
  if (result.end != StartEnd::TestRun) {
    out << "not started: " << (result.refusal.empty() ? startEndText(result.end).text : result.refusal) << ".\n";
    if (!skipped.empty()) out << "  Verification: not run: " << skipped << ".\n";
    return;
  }
  out << runStateWord(state) << "\n";
  // A failure the run told on the screen rather than in a box left no message of its
  // own (bad sectors that may be repairable): the service gives its code's message.
  if (run.failed()) out << "  Test Error Code: " << twoDigitCode(result.error) << "-" << result.errorMessage << "\n";
  if (result.badSectorCount != 0) {
    const bool repaired = report.repairRun && state == kTestStatePass;
    out << "  Bad sectors: " << result.badSectorCount << (repaired ? " (repaired)" : "") << "\n";
    for (const BadSector& b : report.badSectors) out << "    " << b.sector << "  (error " << b.error << ")\n";
    if (report.repairOffered && !report.repairRun) {
      out << (options.repair ? "  The repair did not run: its question was not answered yes.\n"
                             : "  Repair is offered for them: run the test again with --repair to overwrite them with "
                               "zeros.\n");
    }
  }
  if (report.stoppedByUser) out << "  Stopped by the user.\n";
  if (run.erase) {
    const PurgeOutcome& purge = result.purge;
    out << "  Method: " << eraseMethodText(purge.method, result.eraseMode) << " (" << eraseCategory(purge.method, result.eraseMode) << ")\n";
    if (!purge.hidden.sentence.empty()) out << "  Hidden areas: " << purge.hidden.sentence << "\n";
    const std::string check = purgeCheckText(purge.check);
    if (!check.empty()) out << "  Erase check: " << check << "\n";
  }
  if (run.kind == kTestKindExtended) printLatency(result.latency, out);
  printChanges(result.changes, out);
  if (!result.transfers.empty()) out << "  Transfers: " << result.transfers << "\n";
  if (result.verification) {
    printVerification(*result.verification, out);
  } else if (!skipped.empty()) {
    out << "  Verification: not run: " << skipped << ".\n";
  }
  // After the read-back, whose pauses it counts too.
  const std::string temperature = temperatureGuardText(result.temperatureGuard, result.temperature);
  if (!temperature.empty()) out << "  Temperature guard: " << temperature << "\n";
  if (!run.page.path.empty()) out << "  Result page: " << run.page.path << "\n";
  for (const std::string& name : run.certificate.files) out << "  Certificate: " << inFolder(run.certificate.folder, name) << "\n";
  if (!run.certificate.refusal.empty()) out << "  Certificate: " << run.certificate.refusal << "\n";
  if (!run.page.refusal.empty()) out << "  Result page: not written. " << run.page.refusal << "\n";
}

ProgressStyle styleOf(const CliOptions& options, const CliTerminal& terminal) {
  if (options.quiet) return ProgressStyle::Quiet;
  if (options.json) return ProgressStyle::Json;
  return terminal.errorIsTerminal ? ProgressStyle::Bar : ProgressStyle::Lines;
}

std::function<double()> clockOf(const CliTerminal& terminal) {
  if (terminal.now) return terminal.now;
  return [] { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); };
}

RunRequest runRequestOf(Session& context, int index, const CliOptions& options) {
  const bool erase = options.erasing;
  RunRequest request;
  request.driveIndex = index;
  // The run goes to the drive chosen here or to none: one plugged in at its number
  // meanwhile is another drive.
  request.identity = driveInstanceAt(context.platform(), context.driveTable().records[index].physicalDriveNumber);
  request.kind = erase ? kTestKindErase : options.testKind == "extended" ? kTestKindExtended : kTestKindQuick;
  if (erase && !options.eraseMode.empty()) request.eraseMode = options.eraseMode == "full" ? 1 : 0;
  if (erase && !options.eraseMethod.empty()) request.eraseMethod = purgeMethodNamed(options.eraseMethod);
  if (erase && !request.eraseMethod) request.eraseMethod = PurgeMethod::Overwrite;
  request.liftHpa = options.liftHpa;
  request.restoreHpa = options.restoreHpa;
  request.operatorName = options.operatorName;
  request.repair = options.repair;
  request.verify = options.verify;
  request.pace = options.pace == "one-block" ? TransferPace::OneBlock
                 : options.pace == "deep"    ? TransferPace::Deep
                                             : TransferPace::Automatic;
  request.temperatureGuard = !options.noTemperatureGuard;
  return request;
}

std::string inFolder(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string certificateFolderOf(const CliOptions& options) {
  return options.certificateDir.empty() ? resultsDirOf(options) : options.certificateDir;
}

ErasureCertificate hostedCertificate(ErasureCertificate certificate) {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0) certificate.host = host;
  return certificate;
}

void makeCertificateFolder(const std::string& folder) {
  // A folder named for the certificates is made, the user's alone; one that cannot be
  // made is refused by the writer with the reason.
  std::error_code ignored;
  if (std::filesystem::create_directories(folder, ignored)) {
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ignored);
  }
}

ReportedRun::Certificate keepCertificate(const RunOutcome& result, const CliOptions& options) {
  ReportedRun::Certificate kept;
  if (!result.certificate) return kept;
  kept.folder = certificateFolderOf(options);
  makeCertificateFolder(kept.folder);
  const CertificateFiles files =
      writeCertificates(hostedCertificate(*result.certificate), kept.folder, options.signingKey.get());
  kept.files = files.names;
  kept.refusal = files.message;
  return kept;
}

ReportedRun reportedRun(const RunOutcome& result, const CliOptions& options, int index, const DriveRecord& record,
                        ReportedRun::Page page) {
  const bool erase = result.kind == kTestKindErase;
  const int status = result.verification ? verifiedStatus(*result.verification) : startStatus(result.end, result);
  const std::string skipped = erase && options.verify && !result.verification
                                  ? verificationSkipped(result.end, result.state, result.seen.stoppedByUser)
                                  : std::string();
  return ReportedRun{result, result.kind, erase, index, record, status, skipped, std::move(page), {}};
}

}  // namespace palvoro::cli
