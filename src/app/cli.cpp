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
#include "app/cli_bench.h"
#include "app/cli_certificate.h"
#include "app/cli_history.h"
#include "app/cli_metrics.h"
#include "app/cli_watch.h"
#include "results/pdf/certificate_pdf.h"
#include "app/cli_report.h"
#include "service/bench.h"
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
using namespace cli;
namespace {


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
    // The request log is for tests to read; kept here it would grow with every block a
    // scan reads until a bench of large drives runs out of memory.
    platform->setLogging(false);
    return platform;
  } catch (const std::exception& e) {
    // Every refusal of a description, whatever its cause, ends here with a status.
    message = e.what();
    status = kCliUsage;
    return nullptr;
  }
}

// Sets the attributes --sim-attribute names on the simulated machine; false (with the
// reason) when one is malformed, names no drive of it, or the machine is this computer.
bool setSimAttributes(Platform& platform, const std::vector<std::string>& settings, std::string& message) {
  if (settings.empty()) return true;
  auto* machine = dynamic_cast<sim::SimPlatform*>(&platform);
  if (machine == nullptr) {
    message = "--sim-attribute works on a simulated machine only";
    return false;
  }
  for (const std::string& setting : settings) {
    const size_t colon = setting.find(':');
    const size_t equals = setting.find('=', colon == std::string::npos ? 0 : colon);
    const auto digits = [](const std::string& t) {
      return !t.empty() && t.size() <= 15 && t.find_first_not_of("0123456789") == std::string::npos;
    };
    const std::string number = setting.substr(0, colon);
    const std::string id = colon == std::string::npos ? std::string() : setting.substr(colon + 1, equals - colon - 1);
    const std::string raw = equals == std::string::npos ? std::string() : setting.substr(equals + 1);
    if (!digits(number) || !digits(id) || !digits(raw)) {
      message = "--sim-attribute " + setting + ": expected N:ID=RAW, three decimal numbers";
      return false;
    }
    if (!machine->setAttributeRaw(std::stoi(number), std::stoi(id), std::stoull(raw))) {
      message = "--sim-attribute " + setting + ": the machine has no drive " + number +
                " with SMART attributes, or no room for attribute " + id;
      return false;
    }
  }
  return true;
}

// The start-up and detection every command begins with.
void detect(AppContext& context) {
  runStartupChecks(context);
  detectDrives(context.probeEnvironment(), context.driveTable());
  mapVolumes(context.platform(), context.driveTable());
}

// The table index of the drive the options name, or nothing (with the reason and the
// exit status).
std::optional<int> selectDrive(AppContext& context, const CliOptions& options, std::string& message, int& status) {
  const DriveTable& table = context.driveTable();
  status = kCliNotFound;
  if (!options.serial.empty()) {
    const NamedDrive named = driveBySerial(table, options.serial, !options.erasing && options.repair
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
    for (int i = 0; i < table.driveCount(); ++i) {
      Json drive = driveJson(context.platform(), i, table.records[i]);
      drive["hidden_areas"] = hiddenAreasJson(hiddenAreasOf(context.platform(), table.records[i], context.raidMemberSelect()));
      drives.push_back(std::move(drive));
    }
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
  const DriveEraseMethods methods = eraseMethodsOf(context.platform(), r, context.raidMemberSelect());
  if (options.json) {
    Json volumes = Json::array();
    for (const VolumeRow& v : page->volumes) volumes.push_back({{"volume", v.text}, {"capacity_text", v.capacity}});
    Json doc = {{"schema_version", kCliSchemaVersion},
                {"drive", driveJson(context.platform(), index, r)},
                {"device_type", page->deviceType},
                {"capacity_text", page->capacity},
                {"health_status", page->healthStatus},
                {"volumes", volumes}};
    doc["world_wide_name"] = methods.worldWideName.empty() ? Json(nullptr) : Json(methods.worldWideName);
    doc["hidden_areas"] = hiddenAreasJson(methods.hidden);
    doc["erase_methods"] = eraseMethodsJson(methods);
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
  if (!methods.worldWideName.empty()) out << "  World Wide Name:   " << methods.worldWideName << "\n";
  out << "  Hidden Areas:      " << hiddenAreaText(methods.hidden) << "\n";
  out << "  Volume(s) contained on this drive:\n";
  for (const VolumeRow& v : page->volumes) out << "    " << v.text << "  " << v.capacity << "\n";
  out << "  Erase methods (default " << purgeMethodName(methods.defaultMethod) << "):\n";
  for (const MethodSupport& m : methods.methods) {
    out << "    " << purgeMethodName(m.method) << " (" << purgeCategory(m.method) << "): "
        << (m.offered ? std::string("offered") : "not offered, " + m.whyNot) << "\n";
  }
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


int runCommand(AppContext& context, int index, const CliOptions& options, ConsoleLoop& loop,
               ConsoleProgress& screen, ConsolePrompter& prompter, std::ostream& out) {
  SystemTestClock clock;
  CliFrontEnd frontEnd(context, loop, screen, clock);
  frontEnd.setDriveNumber(index + 1);
  const RunRequest request = runRequestOf(context, index, options);

  // From here Ctrl-C is the Cancel of whatever is shown: a question or the run.
  InterruptGuard interrupts;
  loop.forgetInterrupts();
  RunService service(context, clock, options.history.get());
  const RunOutcome result = service.run(request, frontEnd);
  const DriveRecord& record = context.driveTable().records[index];
  ReportedRun reported = reportedRun(result, options, index, record, keepResultPage(context, options, result));
  reported.certificate = keepCertificate(result, options);
  if (options.json) {
    Json doc = runReportJson(reported, context, options);
    Json asked = Json::array();
    for (const AskedBox& box : prompter.asked()) asked.push_back(askedBoxJson(box));
    doc["questions"] = asked;
    doc["status"] = reported.status;
    out << jsonText(doc, 2) << "\n";
  } else {
    reportRunText(reported, options, out);
  }
  return reported.status;
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

// --method's help: every method, its category and what it does.
std::string methodHelp() {
  std::string text = "The erase method (default: the overwrite in --mode); the drive's own methods, each where the "
                     "drive offers it (info lists them):";
  for (const PurgeMethod method : listedPurgeMethods()) {
    text += std::string("\n  ") + purgeMethodName(method) + " (" + purgeCategory(method) + "): " +
            purgeMethodSentence(method);
  }
  return text;
}

// erase's options for the drive's own methods, hidden areas and certificates.
void defineEraseMethodOptions(CLI::App& eraseCommand, CliOptions& options) {
  CLI::App* const erase = &eraseCommand;
  erase->add_option("--method", options.eraseMethod, methodHelp())
      ->check(CLI::IsMember({"overwrite", "security-erase", "security-erase-enhanced", "sanitize-crypto", "sanitize-block",
                             "sanitize-overwrite", "format", "format-crypto"}))
      ->type_name("NAME");
  erase->add_flag("--lift-hpa", options.liftHpa,
                  "Lift a Host Protected Area for the run (until the drive powers off) so that the overwrite or a "
                  "security erase reaches its sectors");
  erase->add_flag("--restore-hpa", options.restoreHpa, "Put a Host Protected Area lifted for the run back afterwards");
  erase->add_option("--operator", options.operatorName, "Who erases, as the certificate names them")->type_name("NAME");
  erase->add_option("--certificate-dir", options.certificateDir,
                    "Where each drive's erase certificate (JSON and PDF) is written (default: beside the result page)")
      ->type_name("DIR");
  erase->add_option("--sign-key", options.signKey,
                    "Sign the certificate with this Ed25519 private key (PEM, as openssl genpkey -algorithm ed25519 "
                    "writes it); the PDF shows the signature's fingerprint")
      ->type_name("FILE");
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
      app.add_option("--builtin", options.builtin, "Work on a built-in simulated machine (basic, bench, erase, showcase)");
  machineFile->excludes(builtin);
  app.add_flag("--json", options.json,
               "One JSON document on standard output; progress as JSON lines on standard error");
  app.add_flag("--quiet", options.quiet, "No progress output");
  app.add_option("--results-dir", options.resultsDir, "Where the result page is kept (default: ~/.local/state/palvoro, as the windows keep it; for root /var/lib/palvoro)");
  app.add_option("--state-dir", options.stateDir,
                 "Where the history of every drive is kept (default: as --results-dir's; a simulated machine's "
                 "in its folder 'simulated')")
      ->type_name("DIR");
  app.add_option("--sim-attribute", options.simAttributes,
                 "On a simulated machine, set drive N's SMART attribute ID to the raw value RAW first (repeatable)")
      ->type_name("N:ID=RAW");
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
  erase->add_option("--mode", options.eraseMode, "The overwrite: quick (the first and the last region) or full")
      ->check(CLI::IsMember({"quick", "full"}));
  defineEraseMethodOptions(*erase, options);
  CLI::Option* confirmErase =
      erase->add_option("--confirm-erase", options.named.confirmations,
                        "Answer the erase's questions yes, if this names the drive: its serial number (no other drive "
                        "may report it), or its number, model and capacity as listed, N:MODEL:CAPACITY; repeated, "
                        "one for each drive erased")
          ->type_name("SERIAL");
  erase->add_flag("--verify", options.verify,
                  "After an erase that completed, read every erased sector back: exit status 1 when one is not zero "
                  "or cannot be read");
  for (CLI::App* command : {test, erase}) {
    command->add_flag("--yes", options.answers.yes, "Answer yes to the questions that do not destroy data");
    command
        ->add_option("--pace", options.pace,
                     "How scans and erases send their transfers: auto (a scan reads a rotating disk one 256-sector "
                     "block at a time, so each block's time is its own; everything else goes with up to 32 requests "
                     "of 1 MiB in flight), one-block (everywhere), deep (everywhere)")
        ->check(CLI::IsMember({"auto", "one-block", "deep"}));
    command->add_flag("--no-temperature-guard", options.noTemperatureGuard,
                      "Never pause for the drive's temperature (by default scans, erases and the read-back pause "
                      "at the drive's critical temperature and go on below its warning one)");
  }
  for (CLI::App* command : {info, smart}) {
    CLI::Option* number = command->add_option("N", options.driveNumber, "The drive's number as listed");
    CLI::Option* serial = command->add_option("--serial", options.serial, "The drive with this serial number");
    number->excludes(serial);
  }
  for (CLI::App* command : {test, erase}) {
    command->add_option("N", options.named.numbers, "The drives' numbers as listed (several run at once)");
    command->add_option("--serial", options.named.serials,
                        "The drive with this serial number; repeated, each drive named runs at the same time");
    command->add_flag("--watch", options.named.watch,
                      "Also run on every drive plugged in meanwhile, until Ctrl-C (an erase only on a drive whose "
                      "serial number a --confirm-erase named)");
    command->add_flag("--all", options.named.all,
                      "Every drive except one holding the running system or a mounted file system (those left out "
                      "are named)");
  }
  return {list, info, smart, test, erase, results, confirmRepair, confirmErase};
}

// erase: the overwrite takes its mode, the drive's own methods none.
void checkEraseMethod(const CliOptions& options) {
  const bool overwrite = options.eraseMethod.empty() || options.eraseMethod == "overwrite";
  if (overwrite && options.eraseMode.empty()) {
    throw CLI::ValidationError("--mode", "name the erase: --mode quick|full for the overwrite, or --method NAME");
  }
  if (!overwrite && !options.eraseMode.empty()) {
    throw CLI::ValidationError("--mode", "--mode is the overwrite's; " + options.eraseMethod + " takes none");
  }
  if (options.restoreHpa && !options.liftHpa) throw CLI::ValidationError("--restore-hpa", "needs --lift-hpa");
}

// test and erase: one drive named runs alone, exactly as before benches existed; several
// (or --all) make a bench, which must name at least one drive.
void settleDriveNames(CliOptions& options) {
  const BenchNames& named = options.named;
  if (!named.bench()) {
    if (!named.numbers.empty()) options.driveNumber = named.numbers.front();
    if (!named.serials.empty()) options.serial = named.serials.front();
    if (!named.confirmations.empty()) options.answers.confirmErase = named.confirmations.front();
  } else if (named.numbers.empty() && named.serials.empty() && !named.all && !named.watch) {
    throw CLI::ValidationError("N", "name the drives to erase by their numbers, by --serial S or with --all");
  }
}

// The command that works on the detected drives.
int dispatchCommand(const CliCommands& commands, AppContext& context, const CliOptions& options, ConsoleLoop& loop,
                    ConsoleProgress& screen, ConsolePrompter& prompter, const CliTerminal& terminal, std::ostream& out,
                    std::ostream& err) {
  int status = kCliOk;
  std::string message;
  if (commands.list->parsed()) {
    status = listCommand(context, options, out);
  } else if ((commands.test->parsed() || commands.erase->parsed()) && options.named.bench()) {
    status = benchCommand(context, options, options.named, terminal, out, err);
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

// What the parser cannot check alone: the drives named, the erase's method and mode.
void checkParsed(const CliCommands& commands, CliOptions& options) {
  const bool namesDrive =
      commands.info->parsed() || commands.smart->parsed() || commands.test->parsed() || commands.erase->parsed();
  if (commands.test->parsed() || commands.erase->parsed()) settleDriveNames(options);
  options.erasing = commands.erase->parsed();
  if (options.erasing) checkEraseMethod(options);
  if (namesDrive && !options.named.bench() && options.driveNumber == -1 && options.serial.empty()) {
    throw CLI::ValidationError("N", "name the drive by its number N or by --serial S");
  }
}

// Before any erase: the signing key read, so that a key that cannot sign stops the erase
// before it begins rather than after the drive is gone; and the certificates' drawing
// made ready on this thread, where their pages are drawn once the runs are over.
int prepareCertificates(CliOptions& options, std::ostream& out, std::ostream& err) {
  if (!options.signKey.empty()) {
    SigningKeyLoad load = loadSigningKey(options.signKey);
    if (!load.key) return fail(options, out, err, kCliUsage, load.message);
    options.signingKey = std::make_shared<const SigningKey>(*load.key);
  }
  if (!preparePdfDrawing()) err << "palvoro-cli: the certificates' PDF pages cannot be drawn here; the JSON is written.\n";
  return kCliOk;
}

// The commands defined in files of their own.
struct AddedCommands {
  std::unique_ptr<CertificateCommand> certificate;
  std::unique_ptr<HistoryCommand> history;
  std::unique_ptr<MetricsCommand> metrics;
  std::unique_ptr<WatchCommand> watch;
};

// The commands that need no drive, run; none when the command works on the drives.
std::optional<int> runWithoutDrives(const CliCommands& commands, const AddedCommands& added, CliOptions& options,
                                    std::ostream& out, std::ostream& err) {
  if (commands.results->parsed()) return resultsCommand(options, out);
  if (added.certificate->parsed()) return added.certificate->run(options, out, err);
  if (added.metrics->parsed()) return added.metrics->run(options, out, err);
  if (added.history->parsed() && !added.history->needsDrives()) return added.history->run(options, out, err, nullptr);
  if (commands.test->parsed() || commands.erase->parsed()) openHistory(options, err);
  if (commands.erase->parsed()) {
    const int prepared = prepareCertificates(options, out, err);
    if (prepared != kCliOk) return prepared;
  }
  return std::nullopt;
}

constexpr const char* kCliDescription =
    "palvoro-cli: drive diagnostics without windows.\n\n"
    "Exit status: 0 passed or completed; 1 the drive failed the test or the erase failed; 2 usage error; "
    "3 refused (a question answered no, a safety rule, an answer nobody could give) or stopped by "
    "Ctrl-C; 4 not enough privilege; 5 drive not found or gone; 6 watch: a drive worsened.";

int runCli(const std::vector<std::string>& args, std::ostream& terminalOut, std::ostream& terminalErr,
           const CliTerminal& terminal, Platform* machine) {
  // Everything written below reaches the terminal printable; the progress view, which
  // draws its bar with the terminal's own controls, filters its texts itself.
  PrintableStream out(terminalOut);
  PrintableStream err(terminalErr);
  CliOptions options;
  options.handedMachine = machine != nullptr;
  CLI::App app{kCliDescription, "palvoro-cli"};
  const CliCommands commands = defineCommands(app, options);
  const AddedCommands added{addCertificateCommand(app), addHistoryCommand(app), addMetricsCommand(app),
                            addWatchCommand(app)};

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
    checkParsed(commands, options);
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

  if (const std::optional<int> status = runWithoutDrives(commands, added, options, out, err)) return *status;

  int status = kCliOk;
  std::string message;
  std::unique_ptr<Platform> opened;
  if (machine == nullptr) {
    opened = openMachine(options, status, message);
    if (!opened) return fail(options, out, err, status, message);
  }
  Platform& platform = machine != nullptr ? *machine : *opened;
  if (!setSimAttributes(platform, options.simAttributes, message)) return fail(options, out, err, kCliUsage, message);

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

  status = added.watch->parsed()     ? added.watch->run(options, context, out, err)
           : added.history->parsed() ? added.history->run(options, out, err, &context.driveTable())
                                     : dispatchCommand(commands, context, options, loop, screen, prompter, terminal, out, err);
  freeComplianceTable(context.complianceTable());
  return status;
}

}  // namespace palvoro
