#include "app/cli.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <sstream>

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "app/app_context.h"
#include "app/cli_logs.h"
#include "app/drive_naming.h"
#include "device/scsi_transport.h"
#include "app/console_loop.h"
#include "app/console_progress.h"
#include "app/console_text.h"
#include "app/program_files.h"
#include "results/help_pages.h"
#include "app/startup.h"
#include "diagnostics/block_latency.h"
#include "diagnostics/erase.h"
#include "diagnostics/erase_verify.h"
#include "diagnostics/repair.h"
#include "diagnostics/run.h"
#include "diagnostics/run_messages.h"
#include "discovery/detection.h"
#include "discovery/format_capacity.h"
#include "discovery/property_page.h"
#include "discovery/raid_status.h"
#include "discovery/volumes.h"
#include "platform/linux/linux_platform.h"
#include "platform/sim/sim_platform.h"
#include "resources/string_table.h"
#include "results/result_page.h"
#include "service/run_service.h"
#include "service/smart_window_model.h"
#include "resources/version.h"

namespace palvoro {
namespace {

using Json = nlohmann::ordered_json;

// What every command was given besides its own arguments.
struct CliOptions {
  std::string machineFile;
  std::string builtin;
  std::string resultsDir;  // where the result page is kept; the user's own folder when empty
  bool json = false;
  bool quiet = false;
  int driveNumber = -1;  // as listed, 1 up; -1 when not given
  std::string serial;
  std::string testKind;   // test: "quick" or "extended"
  std::string eraseMode;  // erase: "quick" or "full"
  bool repair = false;    // test: run the repair when bad sectors were found
  bool verify = false;    // erase: read the erased sectors back after a COMPLETE erase
  bool logs = false;      // smart: the drive's own logs as well
  std::string pace = "auto";  // test and erase: how the transfers are paced
  bool noTemperatureGuard = false;  // test and erase: never pause for the drive's temperature
  CliAnswers answers;

  // No simulated machine is named: the commands work on this computer's drives (or on the
  // machine a test hands runCli in their place).
  bool thisComputer() const { return machineFile.empty() && builtin.empty(); }
};

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

// The machine the command works on; nothing (with `status` and `message` set) when there
// is none.
std::unique_ptr<Platform> openMachine(const CliOptions& options, int& status, std::string& message) {
  if (options.thisComputer()) return real::makeLinuxPlatform();
  try {
    std::unique_ptr<sim::SimPlatform> platform;
    if (!options.machineFile.empty()) {
      std::ifstream in(options.machineFile, std::ios::binary);
      if (!in) {
        message = "cannot read " + options.machineFile;
        status = kCliUsage;
        return nullptr;
      }
      std::stringstream text;
      text << in.rdbuf();
      platform = std::make_unique<sim::SimPlatform>(sim::loadMachine(text.str()));
    } else {
      platform = std::make_unique<sim::SimPlatform>(sim::builtinMachine(options.builtin));
    }
    // A self-test on a simulated drive takes its time as a real one does.
    platform->followWallClock();
    return platform;
  } catch (const std::exception& e) {
    // Every refusal of a description, whatever its cause, ends here with a status.
    message = e.what();
    status = kCliUsage;
    return nullptr;
  }
}

// The start-up and detection every command begins with.
void detect(AppContext& context) {
  runStartupChecks(context);
  detectDrives(context.probeEnvironment(), context.driveTable());
  mapVolumes(context.platform(), context.driveTable());
}

// A drive's serial number without the blanks drives pad it with.
std::string trimmedSerial(const DriveRecord& r) { return trimmedField(r.serialNumber, sizeof r.serialNumber); }

// The table index of the drive the options name, or nothing (with the reason and the
// exit status).
std::optional<int> selectDrive(AppContext& context, const CliOptions& options, std::string& message, int& status) {
  const DriveTable& table = context.driveTable();
  status = kCliNotFound;
  if (!options.serial.empty()) {
    const NamedDrive named = driveBySerial(table, options.serial, options.eraseMode.empty() && options.repair
                                                                       ? "--confirm-repair"
                                                                       : "--confirm-erase");
    if (named.outcome == NamedDrive::Outcome::Named) return named.index;
    if (named.outcome == NamedDrive::Outcome::Ambiguous) status = kCliUsage;
    message = named.message;
    return std::nullopt;
  }
  if (options.driveNumber < 1 || options.driveNumber > table.driveCount()) {
    message = "there is no drive " + std::to_string(options.driveNumber) + " (" + std::to_string(table.driveCount()) +
              " drive(s) found)";
    return std::nullopt;
  }
  return options.driveNumber - 1;
}

// The command's confirm option (`option`, given as `text` when `given`) resolved on the
// detected drives and bound to the drive it names as that drive is now; false with the
// reason when the text cannot name one drive. A text that names another drive than the
// selected one, or none, is refused at the first question that destroys data, as the
// user who gives a wrong answer expects.
bool resolveConfirmation(AppContext& context, int index, const std::string& option, bool given,
                         const std::string& text, DriveConfirmation& confirmation, std::string& refusal) {
  const DriveTable& table = context.driveTable();
  confirmation.option = option;
  confirmation.given = given;
  confirmation.shownDrive = "drive " + std::to_string(index + 1);
  if (!given) return true;
  const NamedDrive named = driveByConfirmation(table, text, option);
  if (named.outcome == NamedDrive::Outcome::Ambiguous) {
    refusal = option + ": " + named.message;
    return false;
  }
  if (named.outcome == NamedDrive::Outcome::Named) {
    const DriveRecord& record = table.records[named.index];
    confirmation.drive = record.physicalDriveNumber;
    confirmation.instance = driveInstanceAt(context.platform(), record.physicalDriveNumber);
  }
  if (named.outcome == NamedDrive::Outcome::NoSuch && named.byNumber) {
    confirmation.mismatch = named.message + "; nothing is done.";
  } else if (named.byNumber) {
    confirmation.mismatch = option + " \"" + text + "\" names drive " + std::to_string(named.index + 1) + ", not " +
                            confirmation.shownDrive + "; nothing is done.";
  } else {
    confirmation.mismatch = option + " " + text + " does not match the drive's serial number \"" +
                            trimmedSerial(table.records[index]) + "\"; nothing is done.";
  }
  return true;
}

int listCommand(AppContext& context, const CliOptions& options, std::ostream& out) {
  const DriveTable& table = context.driveTable();
  if (options.json) {
    Json drives = Json::array();
    for (int i = 0; i < table.driveCount(); ++i) drives.push_back(driveJson(context.platform(), i, table.records[i]));
    out << jsonText(Json{{"schema_version", kCliSchemaVersion}, {"drives", drives}}, 2) << "\n";
    return kCliOk;
  }
  char line[512];
  std::snprintf(line, sizeof line, "%-3s %-26s %-20s %-9s %-11s %-9s %-14s %-7s %s\n", "#", "Model", "Serial",
                "Firmware", "Capacity", "Bus", "Reached as", "Volumes", "SMART");
  out << line;
  for (int i = 0; i < table.driveCount(); ++i) {
    const DriveRecord& r = table.records[i];
    std::snprintf(line, sizeof line, "%-3d %-26s %-20s %-9s %-11s %-9s %-14s %-7s %s\n", i + 1, r.model, r.serialNumber,
                  r.firmwareRevision, capacityText(r).c_str(), busTypeName(r.busType), reachedAs(r.driveClass),
                  volumesText(volumeNames(context.platform(), r)).c_str(), smartText(r).c_str());
    out << line;
  }
  out << table.driveCount() << " drive(s) found.\n";
  return kCliOk;
}

int infoCommand(AppContext& context, int index, const CliOptions& options, std::ostream& out, std::ostream& err) {
  const std::optional<PropertyPage> page =
      openPropertyPage(context.platform(), context.prompter(), context.driveTable(), index);
  if (!page) return fail(options, out, err, kCliNotFound, "drive " + std::to_string(index + 1) + " is gone");
  const DriveRecord& r = context.driveTable().records[index];
  if (options.json) {
    Json volumes = Json::array();
    for (const VolumeRow& v : page->volumes) volumes.push_back({{"volume", v.text}, {"capacity_text", v.capacity}});
    Json doc = {{"schema_version", kCliSchemaVersion},
                {"drive", driveJson(context.platform(), index, r)},
                {"device_type", page->deviceType},
                {"capacity_text", page->capacity},
                {"health_status", page->healthStatus},
                {"volumes", volumes}};
    if (page->raidRowsVisible) {
      doc["raid_setting"] = page->raidSetting;
      doc["member_serials"] = {page->memberSerialA, page->memberSerialB};
    }
    out << jsonText(doc, 2) << "\n";
    return kCliOk;
  }
  out << page->sheetTitle << "\n"
      << "  Drive:             " << page->drive << "\n"
      << "  Model:             " << r.model << "\n"
      << "  Device Type:       " << page->deviceType << "\n"
      << "  Capacity:          " << page->capacity << "\n"
      << "  Firmware Revision: " << page->firmwareRevision << "\n"
      << "  Health Status:     " << page->healthStatus << "\n"
      << "  Serial Number:     " << page->serialNumber << "\n";
  if (page->raidRowsVisible) {
    out << "  RAID Setting:      " << page->raidSetting << "\n"
        << "  Drive A Serial:    " << page->memberSerialA << "\n"
        << "  Drive B Serial:    " << page->memberSerialB << "\n";
  }
  out << "  Volume(s) contained on this drive:\n";
  for (const VolumeRow& v : page->volumes) out << "    " << v.text << "  " << v.capacity << "\n";
  return kCliOk;
}

// One unit's or member's rows as the SMART window lists them.
Json smartRowsJson(const std::vector<SmartAttributeRow>& rows) {
  Json out = Json::array();
  for (const SmartAttributeRow& row : rows) {
    out.push_back({{"unit", row.unit == SmartUnit::Second ? 2 : 1},
                   {"id", row.id},
                   {"name", row.cells.at(0)},
                   {"current", row.current},
                   {"worst", row.worst},
                   {"threshold", row.threshold},
                   {"raw", row.raw},
                   {"warranty", row.warranty},
                   {"failed", row.failed}});
  }
  return out;
}

void smartRowsText(const std::vector<SmartAttributeRow>& rows, std::ostream& out) {
  char line[256];
  std::snprintf(line, sizeof line, "  %-4s %-32s %5s %5s %9s %16s %8s %s\n", "ID", "Attribute Name", "Value",
                "Worst", "Threshold", "Raw", "Warranty", "");
  out << line;
  for (const SmartAttributeRow& row : rows) {
    std::snprintf(line, sizeof line, "  %-4s %-32s %5u %5u %9u %16" PRIu64 " %8s %s\n", smartIdText(row.id).c_str(),
                  row.cells.at(0).c_str(), row.current, row.worst, row.threshold, row.raw, row.warranty ? "yes" : "no",
                  row.failed ? "FAILED" : "");
    out << line;
  }
}

// A 128-bit counter as a JSON number while it fits 64 bits, else its decimal digits.
Json counterJson(const NvmeCounter& counter) {
  return counter.fits64() ? Json(counter.low) : Json(counter.decimal());
}

Json nvmeHealthJson(const NvmeHealth& h) {
  Json sensors = Json::array();
  for (const uint16_t kelvin : h.sensorKelvin) {
    sensors.push_back(kelvin == 0 ? Json(nullptr) : Json(NvmeHealth::celsius(kelvin)));
  }
  return {{"critical_warning", h.criticalWarning},
          {"critical_warnings", nvmeCriticalWarnings(h.criticalWarning)},
          {"temperature_celsius", h.temperatureKelvin == 0 ? Json(nullptr) : Json(NvmeHealth::celsius(h.temperatureKelvin))},
          {"available_spare_percent", h.availableSpare},
          {"available_spare_threshold_percent", h.availableSpareThreshold},
          {"percentage_used", h.percentageUsed},
          {"data_units_read", counterJson(h.dataUnitsRead)},
          {"data_units_written", counterJson(h.dataUnitsWritten)},
          {"host_read_commands", counterJson(h.hostReadCommands)},
          {"host_write_commands", counterJson(h.hostWriteCommands)},
          {"controller_busy_minutes", counterJson(h.controllerBusyMinutes)},
          {"power_cycles", counterJson(h.powerCycles)},
          {"power_on_hours", counterJson(h.powerOnHours)},
          {"unsafe_shutdowns", counterJson(h.unsafeShutdowns)},
          {"media_errors", counterJson(h.mediaErrors)},
          {"error_log_entries", counterJson(h.errorLogEntries)},
          {"warning_temperature_minutes", h.warningTemperatureMinutes},
          {"critical_temperature_minutes", h.criticalTemperatureMinutes},
          {"temperature_sensors_celsius", sensors}};
}

int nvmeSmartCommand(SmartWindowModel& model, int index, AppContext& context, const CliOptions& options, std::ostream& out,
                     std::ostream& err) {
  const SmartFillOutcome filled = model.fill(0);
  const std::string drive = "drive " + std::to_string(index + 1);
  if (filled == SmartFillOutcome::DriverNotOpened) return fail(options, out, err, kCliNotFound, drive + " does not open");
  if (filled == SmartFillOutcome::PagesNotRead || !model.nvmeHealth()) {
    return fail(options, out, err, kCliDriveFailed, "the health log of " + drive + " cannot be read");
  }
  const bool passing = model.verdict() && model.verdict()->passing;
  std::optional<DriveLogs> logs;
  if (options.logs) logs = readDriveLogs(context.platform(), model.record(), false, kRaidMemberA);
  if (options.json) {
    Json rows = Json::array();
    for (const SmartAttributeRow& row : model.rows()) {
      rows.push_back({{"name", row.cells.at(0)}, {"value", row.cells.at(1)}, {"failed", row.failed}});
    }
    Json memberJson = {{"member", nullptr}, {"identity", model.identityLine()}, {"attributes", Json::array()},
                       {"health", rows}};
    if (logs) memberJson["logs"] = driveLogsJson(*logs);
    out << jsonText(Json{{"schema_version", kCliSchemaVersion},
                         {"members", Json::array({memberJson})},
                         {"nvme_health", nvmeHealthJson(*model.nvmeHealth())},
                         {"passing", passing}},
                    2)
        << "\n";
  } else {
    out << model.driveLabel() << " " << model.identityLine() << "\n";
    char line[256];
    for (const SmartAttributeRow& row : model.rows()) {
      std::snprintf(line, sizeof line, "  %-66s %s%s\n", row.cells.at(0).c_str(), row.cells.at(1).c_str(),
                    row.failed ? "  FAILED" : "");
      out << line;
    }
    out << "SMART verdict: " << (passing ? "PASS" : "FAIL") << "\n";
    if (logs) printDriveLogs(DriveLogsModel(*logs, model.record(), index + 1), out);
  }
  return passing ? kCliOk : kCliDriveFailed;
}

int smartCommand(AppContext& context, int index, const CliOptions& options, std::ostream& out, std::ostream& err) {
  SmartWindowModel model(context, index);
  if (smartWindowShowsNvmeHealth(model.record())) return nvmeSmartCommand(model, index, context, options, out, err);
  const int members = model.memberBoxShown() ? 2 : 1;
  Json units = Json::array();
  bool passing = true;
  for (int member = 0; member < members; ++member) {
    const SmartFillOutcome filled = model.fill(member);
    const std::string drive = "drive " + std::to_string(index + 1);
    if (filled == SmartFillOutcome::DriverNotOpened) {
      return fail(options, out, err, kCliNotFound, "the SMART interface of " + drive + " does not open");
    }
    if (filled == SmartFillOutcome::PagesNotRead) {
      return fail(options, out, err, kCliDriveFailed, "the SMART data of " + drive + " cannot be read");
    }
    passing = model.verdict() && model.verdict()->passing;
    std::optional<DriveLogs> logs;
    if (options.logs) {
      logs = readDriveLogs(context.platform(), model.record(), context.startup().miniportMode != 0,
                           member == 1 ? kRaidMemberB : kRaidMemberA);
    }
    if (options.json) {
      Json unit = {{"member", members == 2 ? Json(member == 0 ? "A" : "B") : Json(nullptr)},
                   {"identity", model.identityLine()},
                   {"attributes", smartRowsJson(model.rows())}};
      if (logs) unit["logs"] = driveLogsJson(*logs);
      units.push_back(unit);
    } else {
      out << model.driveLabel() << " " << model.identityLine();
      if (members == 2) out << "  (" << kRaidMemberNames[member] << ")";
      out << "\n";
      smartRowsText(model.rows(), out);
      if (logs) printDriveLogs(DriveLogsModel(*logs, model.record(), index + 1), out);
    }
  }
  if (options.json) {
    out << jsonText(Json{{"schema_version", kCliSchemaVersion}, {"members", units}, {"passing", passing}}, 2) << "\n";
  } else {
    out << "SMART verdict: " << (passing ? "PASS" : "FAIL") << "\n";
  }
  return passing ? kCliOk : kCliDriveFailed;
}

// The word of a TestState: PASS, FAIL, ABORT, COMPLETE, or RUNNING for a run without an end.
std::string stateWord(int32_t state) {
  if (state >= kTestStatePass && state <= kTestStateComplete) return loadString(kStrResultPass + state);
  return "RUNNING";
}

// Why a Start ended without a run, for people and for scripts.
struct StartEndText {
  const char* key;
  const char* text;
};
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
    case StartEnd::TestRun: return {"test_run", "the run took place"};
    case StartEnd::ResultPageShown: return {"result_page_shown", "the result page was shown"};
    case StartEnd::NoSuchDrive: return {"no_such_drive", "no such drive"};
  }
  return {"", ""};
}

// The service's front end on the terminal: its boxes become questions, the erase choice
// comes from --mode, and the run and the read-back are shown by the console view on a loop.
class CliFrontEnd : public RunFrontEnd {
 public:
  CliFrontEnd(AppContext& context, ConsoleLoop& loop, ConsoleProgress& screen, TestClock& clock)
      : m_context(context), m_loop(loop), m_screen(screen), m_clock(clock) {}

  PromptAnswer ask(const RunPrompt& p) override {
    return m_context.prompter().ask(p.text, p.caption, p.icon, p.buttons, p.defaultAnswer, p.purpose);
  }

  // The mode always comes with the request; a drive that offers the quick erase only
  // refuses a full one here.
  std::optional<int32_t> chooseErase(bool quickOnly) override {
    if (quickOnly) {
      m_screen.say("palvoro-cli: drive " + std::to_string(m_driveNumber) +
                   " offers the quick erase only: use --mode quick.");
    }
    return std::nullopt;
  }
  void setDriveNumber(int shown) { m_driveNumber = shown; }

  RunSighting watchRun(const RunRequest& request, const TestRunEnvironment& environment) override {
    RunSighting seen;
    LoopProgressView view(m_loop, m_screen);
    TestRun run(environment, view, m_clock, m_screen.runTickPeriod());
    m_loop.onInterrupt([&](int count) {
      if (count == 1) {
        seen.stoppedByUser = true;
        m_screen.say("palvoro-cli: stopping the run; the drive ends its current command first.");
        run.onCancel();
      } else {
        m_screen.say("palvoro-cli: still stopping; waiting for the drive.");
      }
    });

    run.begin();
    // Both threads' last words go through the loop, so they arrive after everything the
    // run showed.
    bool workerDone = false;
    bool tickerDone = false;
    std::thread worker([&] {
      run.runWorker();
      m_loop.post([&workerDone] { workerDone = true; });
    });
    std::thread ticker([&] {
      run.runTicker();
      m_loop.post([&tickerDone] { tickerDone = true; });
    });
    bool repairTried = false;
    m_loop.runUntil([&] {
      if (m_screen.runClosed()) return true;
      if (!workerDone) return false;
      if (run.cancelReadsClose()) {
        // The run has ended and waits for Close. The Repair button is pressed for the
        // user who asked for it; its own question still has to be answered.
        if (request.repair && m_screen.repairOffered() && !repairTried && !run.stopped()) {
          repairTried = true;
          seen.repairRun = repairButton(run);
          return false;
        }
        run.onCancel();
        return m_screen.runClosed();
      }
      // No worker and no timer: nothing is left that could end the run.
      return run.schedule().idle();
    });
    // A run its timers closed may still have its worker finishing a step, or either thread
    // waiting for an answer only this thread can give.
    run.stopTicker();
    m_loop.runUntil([&] { return workerDone && tickerDone; });
    worker.join();
    ticker.join();
    m_loop.onInterrupt(nullptr);
    m_screen.finish();

    seen.repairOffered = m_screen.repairOffered() || seen.repairRun;
    const uint64_t count = environment.values.badSectorCount.load();
    const size_t listed = static_cast<size_t>(std::min<uint64_t>(count, run.badSectors.size()));
    seen.badSectors.assign(run.badSectors.begin(), run.badSectors.begin() + static_cast<long>(listed));
    return seen;
  }

  // The read-back on a worker of its own, while this thread keeps the progress on the
  // screen and takes Ctrl-C as its stop.
  EraseVerification watchReadBack(const ReadBackJob& job) override {
    const uint64_t lastSector = job.spans.empty() ? 0 : job.spans.back().end - 1;
    uint64_t total = 0;
    for (const SectorSpan& span : job.spans) total += span.end - span.first;

    // The erase's figures would stand beside the read-back's on the bar.
    m_screen.clearFigures();
    const uint64_t first = job.spans.empty() ? 0 : job.spans.front().first;
    const int64_t start = m_clock.nowSeconds();
    m_screen.showReadBack(0, SectorPosition{first, lastSector}, 0);
    m_screen.stage(RunStage{"Verifying the erase: reading back " + std::to_string(total) + " sectors...", {}});
    std::atomic<bool> stop{false};
    m_loop.onInterrupt([&](int count) {
      if (!stop.exchange(true)) {
        m_screen.say("palvoro-cli: stopping the verification; the erase itself has completed.");
      } else if (count > 1) {
        m_screen.say("palvoro-cli: still stopping; waiting for the drive.");
      }
    });

    EraseVerification found;
    bool workerDone = false;
    std::thread worker([&] {
      int shownPercent = -1;
      found = job.read(stop, [&](const VerifyProgress& p) {
        const int percent = p.sectorsTotal == 0 ? 100 : static_cast<int>(p.sectorsDone * 100 / p.sectorsTotal);
        if (percent == shownPercent) return;
        shownPercent = percent;
        const SectorPosition position{p.lastSector, lastSector};
        const int64_t elapsed = std::max<int64_t>(0, m_clock.nowSeconds() - start);
        m_loop.post([this, percent, position, elapsed] { m_screen.showReadBack(percent, position, elapsed); });
      });
      m_loop.post([&workerDone] { workerDone = true; });
    });
    m_loop.runUntil([&] { return workerDone; });
    worker.join();
    m_loop.onInterrupt(nullptr);
    m_screen.finish();
    return found;
  }

 private:
  AppContext& m_context;
  ConsoleLoop& m_loop;
  ConsoleProgress& m_screen;
  TestClock& m_clock;
  int m_driveNumber = 0;
};

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

// test quick|extended and erase: the option dialog's Start, from its checks to the run's
// result block, and the result page written so that the run outlives the program.
// A run as palvoro-cli reports it.
struct ReportedRun {
  const RunOutcome& result;
  int kind;
  bool erase;
  int index;
  const DriveRecord& record;
  int status;
  std::string skipped;  // why --verify read nothing back; empty when it ran or was not asked
  struct Page {
    std::string path;
    std::string refusal;
    std::optional<ResultEntry> entry;  // the run's own block, read back
  } page;
  bool failed() const { return result.end == StartEnd::TestRun && result.state == kTestStateFail; }
};

// The result page written so that the run outlives the program, and the run's own block
// read back from what the service appended.
ReportedRun::Page keepResultPage(AppContext& context, const CliOptions& options, const RunOutcome& result) {
  ReportedRun::Page page;
  if (result.end != StartEnd::TestRun) return page;
  const std::string dir = resultsDirOf(options);
  if (writeResultPage(dir, context.resultLines(), &page.refusal)) {
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

void reportRunJson(const ReportedRun& run, AppContext& context, const CliOptions& options,
                   const ConsolePrompter& prompter, std::ostream& out) {
  const RunOutcome& result = run.result;
  const RunSighting& report = result.seen;
  const bool erase = run.erase;
  const std::optional<ResultEntry>& entry = run.page.entry;
  Json doc = {{"schema_version", kCliSchemaVersion},
              {"command", erase ? "erase" : "test"},
              {"test_option", testKindWord(run.kind)},
              {"erase_mode", erase ? Json(options.eraseMode) : Json(nullptr)},
              {"drive", driveJson(context.platform(), run.index, run.record)},
              {"outcome", startEndText(result.end).key}};
  if (result.end == StartEnd::TestRun) {
    Json sectors = Json::array();
    for (const BadSector& b : report.badSectors) sectors.push_back({{"sector", b.sector}, {"error", b.error}});
    doc["result"] = {{"test_state", stateWord(result.state)},
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
    doc["verification"] =
        result.verification ? verificationJson(*result.verification, result.verifiedSpans) : Json(nullptr);
    doc["verification_skipped"] = run.skipped.empty() ? Json(nullptr) : Json(run.skipped);
  }
  doc["result_entry"] = entry ? entryJson(*entry) : Json(nullptr);
  doc["result_page"] = run.page.path.empty() ? Json(nullptr) : Json(run.page.path);
  doc["result_page_refused"] = run.page.refusal.empty() ? Json(nullptr) : Json(run.page.refusal);
  Json asked = Json::array();
  for (const AskedBox& box : prompter.asked()) {
    asked.push_back(askedBoxJson(box));
  }
  doc["questions"] = asked;
  doc["status"] = run.status;
  out << jsonText(doc, 2) << "\n";
}

void reportRunText(const ReportedRun& run, const CliOptions& options, std::ostream& out) {
  const RunOutcome& result = run.result;
  const RunSighting& report = result.seen;
  const int32_t state = result.state;
  out << testKindWord(run.kind) << " of drive " << run.index + 1 << ", " << run.record.model << " (serial "
      << trimmedSerial(run.record) << "): ";
  const std::string& skipped = run.skipped;
  if (result.end != StartEnd::TestRun) {
    out << "not started: " << startEndText(result.end).text << ".\n";
    if (!skipped.empty()) out << "  Verification: not run: " << skipped << ".\n";
    return;
  }
  out << stateWord(state) << "\n";
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
  if (run.kind == kTestKindExtended) printLatency(result.latency, out);
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
  if (!run.page.refusal.empty()) out << "  Result page: not written. " << run.page.refusal << "\n";
  }

int runCommand(AppContext& context, int index, const CliOptions& options, ConsoleLoop& loop,
               ConsoleProgress& screen, ConsolePrompter& prompter, std::ostream& out) {
  const bool erase = !options.eraseMode.empty();
  const int kind = erase ? kTestKindErase : options.testKind == "extended" ? kTestKindExtended : kTestKindQuick;
  SystemTestClock clock;
  CliFrontEnd frontEnd(context, loop, screen, clock);
  frontEnd.setDriveNumber(index + 1);
  RunRequest request;
  request.driveIndex = index;
  // The run goes to the drive chosen here or to none: one plugged in at its number
  // meanwhile is another drive.
  request.identity = driveInstanceAt(context.platform(), context.driveTable().records[index].physicalDriveNumber);
  request.kind = kind;
  if (erase) request.eraseMode = options.eraseMode == "full" ? 1 : 0;
  request.repair = options.repair;
  request.verify = options.verify;
  request.pace = options.pace == "one-block" ? TransferPace::OneBlock
                 : options.pace == "deep"    ? TransferPace::Deep
                                             : TransferPace::Automatic;
  request.temperatureGuard = !options.noTemperatureGuard;

  // From here Ctrl-C is the Cancel of whatever is shown: a question or the run.
  InterruptGuard interrupts;
  loop.forgetInterrupts();
  RunService service(context, clock);
  const RunOutcome result = service.run(request, frontEnd);
  const StartEnd end = result.end;
  const DriveRecord& record = context.driveTable().records[index];
  const RunSighting& report = result.seen;
  const int status = result.verification ? verifiedStatus(*result.verification) : startStatus(end, result);
  const bool verifyAsked = erase && options.verify;
  const std::string skipped =
      verifyAsked && !result.verification ? verificationSkipped(end, result.state, report.stoppedByUser) : std::string();

  const ReportedRun reported{result, kind, erase, index, record, status, skipped, keepResultPage(context, options, result)};
  if (options.json) {
    reportRunJson(reported, context, options, prompter, out);
  } else {
    reportRunText(reported, options, out);
  }
  return status;
}

// results: the page the last run of a program in that folder wrote, read back.
int resultsCommand(const CliOptions& options, std::ostream& out) {
  const std::string path = resultsDirOf(options) + kResultPageName;
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  if (in) text << in.rdbuf();
  const std::vector<ResultEntry> entries = readResultEntries(text.str());
  if (options.json) {
    Json list = Json::array();
    for (const ResultEntry& e : entries) list.push_back(entryJson(e));
    out << jsonText(Json{{"schema_version", kCliSchemaVersion}, {"result_page", path}, {"exists", static_cast<bool>(in)},
                         {"entries", list}},
                    2)
        << "\n";
    return kCliOk;
  }
  out << "Result page: " << path << (in ? "" : " (none yet)") << "\n";
  for (const ResultEntry& e : entries) entryText(e, out);
  out << entries.size() << " run(s).\n";
  return kCliOk;
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

// One line from standard input, waiting in slices so that Ctrl-C ends the wait.
std::optional<std::string> readStandardInputLine() {
  const int before = interruptsTaken();
  std::string line;
  for (;;) {
    if (interruptsTaken() != before) return std::nullopt;
    pollfd fd = {STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&fd, 1, 100);
    if (ready < 0 && errno != EINTR) return std::nullopt;
    if (ready <= 0) continue;
    char c = 0;
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return line.empty() ? std::nullopt : std::optional<std::string>(line);
    if (c == '\n') return line;
    line += c;
  }
}

}  // namespace

CliTerminal processTerminal() {
  CliTerminal terminal;
  terminal.input.interactive = isatty(STDIN_FILENO) != 0;
  terminal.input.readLine = readStandardInputLine;
  terminal.errorIsTerminal = isatty(STDERR_FILENO) != 0;
  winsize size = {};
  if (terminal.errorIsTerminal && ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    terminal.columns = size.ws_col;
  }
  return terminal;
}

int printDriveList(Platform& platform, std::ostream& terminalOut, std::ostream& err) {
  PrintableStream out(terminalOut);
  ConsoleLoop loop;
  ConsoleProgress screen(err, ProgressStyle::Lines, 80, loop, CliTerminal{}.timerMilliseconds, clockOf(CliTerminal{}));
  ConsolePrompter prompter(CliAnswers{}, CliInput{}, screen, loop);
  AppContext context(platform, prompter);
  detect(context);
  const int status = listCommand(context, CliOptions{}, out);
  freeComplianceTable(context.complianceTable());
  return status;
}

// The commands and their options, bound to `options`.
struct CliCommands {
  CLI::App* list;
  CLI::App* info;
  CLI::App* smart;
  CLI::App* test;
  CLI::App* erase;
  CLI::App* results;
  CLI::Option* confirmRepair;
  CLI::Option* confirmErase;
};

CliCommands defineCommands(CLI::App& app, CliOptions& options) {
  app.require_subcommand(1);
  app.fallthrough();
  app.set_version_flag("--version", std::string("palvoro-cli ") + programVersionText());
  CLI::Option* machineFile =
      app.add_option("--machine", options.machineFile, "Work on the simulated machine this file describes");
  CLI::Option* builtin =
      app.add_option("--builtin", options.builtin, "Work on a built-in simulated machine (basic, bench, showcase)");
  machineFile->excludes(builtin);
  app.add_flag("--json", options.json,
               "One JSON document on standard output; progress as JSON lines on standard error");
  app.add_flag("--quiet", options.quiet, "No progress output");
  app.add_option("--results-dir", options.resultsDir, "Where the result page is kept (default: ~/.local/state/palvoro, as the windows keep it; for root /var/lib/palvoro)");
  CLI::App* list = app.add_subcommand("list", "The drive table");
  CLI::App* info = app.add_subcommand("info", "A drive's identity, property page and volumes");
  CLI::App* smart = app.add_subcommand("smart", "A drive's SMART attributes and verdict");
  CLI::App* test = app.add_subcommand("test", "The quick or the extended test");
  CLI::App* erase = app.add_subcommand("erase", "The erase, with every check of the option dialog");
  CLI::App* results = app.add_subcommand("results", "The result page's path and its runs");
  test->add_option("KIND", options.testKind, "quick or extended")
      ->required()
      ->check(CLI::IsMember({"quick", "extended"}));
  test->add_flag("--repair", options.repair, "Repair the bad sectors the scan found (asks first)");
  CLI::Option* confirmRepair =
      test->add_option("--confirm-repair", options.answers.confirmRepair,
                       "Answer the repair's question yes, if this names the drive: its serial number (no other drive "
                       "may report it), or its number, model and capacity as listed, N:MODEL:CAPACITY")
          ->type_name("SERIAL");
  smart->add_flag("--logs", options.logs,
                  "Also the drive's own logs: self-tests, errors, statistics and temperature history, with hints");
  erase->add_option("--mode", options.eraseMode, "quick or full")->required()->check(CLI::IsMember({"quick", "full"}));
  CLI::Option* confirmErase =
      erase->add_option("--confirm-erase", options.answers.confirmErase,
                        "Answer the erase's questions yes, if this names the drive: its serial number (no other drive "
                        "may report it), or its number, model and capacity as listed, N:MODEL:CAPACITY")
          ->type_name("SERIAL");
  erase->add_flag("--verify", options.verify,
                  "After an erase that completed, read every erased sector back: exit status 1 when one is not zero "
                  "or cannot be read");
  for (CLI::App* command : {test, erase}) {
    command->add_flag("--yes", options.answers.yes, "Answer yes to the questions that do not destroy data");
    command
        ->add_option("--pace", options.pace,
                     "How scans and erases send their transfers: auto (one 256-sector block at a time on a rotating "
                     "disk, so each block's time is its own; up to 32 requests of 1 MiB in flight elsewhere), "
                     "one-block (everywhere), deep (everywhere)")
        ->check(CLI::IsMember({"auto", "one-block", "deep"}));
    command->add_flag("--no-temperature-guard", options.noTemperatureGuard,
                      "Never pause for the drive's temperature (by default scans, erases and the read-back pause "
                      "at the drive's critical temperature and go on below its warning one)");
  }
  for (CLI::App* command : {info, smart, test, erase}) {
    CLI::Option* number = command->add_option("N", options.driveNumber, "The drive's number as listed");
    CLI::Option* serial = command->add_option("--serial", options.serial, "The drive with this serial number");
    number->excludes(serial);
  }
  return {list, info, smart, test, erase, results, confirmRepair, confirmErase};
}

// The command that works on the detected drives.
int dispatchCommand(const CliCommands& commands, AppContext& context, const CliOptions& options, ConsoleLoop& loop,
                    ConsoleProgress& screen, ConsolePrompter& prompter, std::ostream& out, std::ostream& err) {
  int status = kCliOk;
  std::string message;
  if (commands.list->parsed()) {
    status = listCommand(context, options, out);
  } else {
    int notSelected = kCliNotFound;
    const std::optional<int> index = selectDrive(context, options, message, notSelected);
    if (!index) {
      status = fail(options, out, err, notSelected, message);
    } else if (commands.test->parsed() || commands.erase->parsed()) {
      DriveConfirmation confirmation;
      const bool erasing = commands.erase->parsed();
      if (!resolveConfirmation(context, *index, erasing ? "--confirm-erase" : "--confirm-repair",
                               (erasing ? commands.confirmErase : commands.confirmRepair)->count() > 0,
                               erasing ? options.answers.confirmErase : options.answers.confirmRepair, confirmation,
                               message)) {
        status = fail(options, out, err, kCliUsage, message);
      } else {
        prompter.setConfirmation(std::move(confirmation), context.platform());
        status = runCommand(context, *index, options, loop, screen, prompter, out);
      }
    } else {
      status = commands.info->parsed() ? infoCommand(context, *index, options, out, err)
                              : smartCommand(context, *index, options, out, err);
    }
  }
  return status;
}

int runCli(const std::vector<std::string>& args, std::ostream& terminalOut, std::ostream& terminalErr,
           const CliTerminal& terminal, Platform* machine) {
  // Everything written below reaches the terminal printable; the progress view, which
  // draws its bar with the terminal's own controls, filters its texts itself.
  PrintableStream out(terminalOut);
  PrintableStream err(terminalErr);
  CliOptions options;
  CLI::App app{"palvoro-cli: drive diagnostics without windows.\n\n"
               "Exit status: 0 passed or completed; 1 the drive failed the test or the erase failed; 2 usage error; "
               "3 refused (a question answered no, a safety rule, an answer nobody could give) or stopped by "
               "Ctrl-C; 4 not enough privilege; 5 drive not found or gone.",
               "palvoro-cli"};
  const CliCommands commands = defineCommands(app, options);
  CLI::App* const info = commands.info;
  CLI::App* const smart = commands.smart;
  CLI::App* const test = commands.test;
  CLI::App* const erase = commands.erase;
  CLI::App* const results = commands.results;

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
    const bool namesDrive = info->parsed() || smart->parsed() || test->parsed() || erase->parsed();
    if (namesDrive && options.driveNumber == -1 && options.serial.empty()) {
      throw CLI::ValidationError("N", "name the drive by its number N or by --serial S");
    }
  } catch (const CLI::CallForHelp&) {
    out << app.help("", CLI::AppFormatMode::All);
    return kCliOk;
  } catch (const CLI::CallForVersion& e) {
    out << e.what() << "\n";
    return kCliOk;
  } catch (const CLI::Error& e) {
    err << "palvoro-cli: " << e.what() << "\n" << "Run palvoro-cli --help for the commands and options.\n";
    return kCliUsage;
  }

  if (results->parsed()) return resultsCommand(options, out);

  int status = kCliOk;
  std::string message;
  std::unique_ptr<Platform> opened;
  if (machine == nullptr) {
    opened = openMachine(options, status, message);
    if (!opened) return fail(options, out, err, status, message);
  }
  Platform& platform = machine != nullptr ? *machine : *opened;

  ConsoleLoop loop;
  ConsoleProgress screen(terminalErr, styleOf(options, terminal), terminal.columns, loop, terminal.timerMilliseconds,
                         clockOf(terminal));
  ConsolePrompter prompter(options.answers, terminal.input, screen, loop);
  AppContext context(platform, prompter);
  // A question that destroys data is reported with its drive as the list numbers it,
  // looked up when it is asked.
  prompter.setDriveNumbering([&context](int physicalDrive) -> std::optional<int> {
    const DriveTable& table = context.driveTable();
    for (int i = 0; i < table.driveCount(); ++i) {
      if (table.records[i].physicalDriveNumber == physicalDrive) return i + 1;
    }
    return std::nullopt;
  });
  // This computer's kernel answers SMART requests for administrators only.
  if (options.thisComputer()) context.startup().miniportSmart = 0;
  detect(context);
  // Once, after the start-up warning: what the missing rights cost here and how to get
  // them. On a simulated machine the rights are part of its description: no command gives them.
  if (options.thisComputer() && context.startup().miniportMode == 1) {
    screen.say(std::string("palvoro-cli: ") + kNoRightsNoteCli);
  }

  status = dispatchCommand(commands, context, options, loop, screen, prompter, out, err);
  freeComplianceTable(context.complianceTable());
  return status;
}

}  // namespace palvoro
