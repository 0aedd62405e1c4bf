#include "app/cli_history.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/cli.h"
#include "app/cli_report.h"
#include "app/console_text.h"
#include "discovery/drive_record.h"
#include "store/drive_changes.h"
#include "store/history_store.h"

namespace palvoro {
using namespace cli;
namespace {

Json optionalMs(const std::optional<double>& ms) { return ms ? Json(*ms) : Json(nullptr); }

Json runJson(const StoredRun& run) {
  return {{"started", run.started},
          {"ended", run.ended},
          {"kind", run.kind},
          {"outcome", run.outcome},
          {"error_code", run.errorCode},
          {"error_message", run.errorMessage},
          {"bad_sectors", run.badSectors},
          {"erase_method", run.eraseMethod},
          {"verification", run.verification},
          {"latency_p50_ms", optionalMs(run.latencyP50Ms)},
          {"latency_p99_ms", optionalMs(run.latencyP99Ms)},
          {"latency_max_ms", optionalMs(run.latencyMaxMs)},
          {"host", run.host}};
}

Json driveJson(const StoredDrive& drive) {
  return {{"model", drive.model},           {"serial", drive.serial},
          {"wwn", drive.wwn},               {"bus", drive.bus},
          {"first_seen", drive.firstSeen},  {"last_seen", drive.lastSeen},
          {"run_count", drive.runCount},    {"last_run", drive.lastRun ? runJson(*drive.lastRun) : Json(nullptr)}};
}

std::string cell(const std::string& text, int width) {
  char line[512];
  std::snprintf(line, sizeof line, "%-*s ", width, text.c_str());
  return line;
}

void driveLine(const StoredDrive& d, std::ostream& out) {
  out << cell(d.model, 40) << cell(d.serial, 20) << cell(std::to_string(d.runCount), 5)
      << (d.lastRun ? d.lastRun->started + " " + d.lastRun->kind + " " + d.lastRun->outcome : std::string("-"))
      << "\n";
}

void runsTable(const StoredDrive& d, const std::vector<StoredRun>& runs, std::ostream& out) {
  out << d.model << "  " << d.serial << (d.wwn.empty() ? "" : "  WWN " + d.wwn) << "\n";
  out << cell("Time", 20) << cell("Kind", 8) << cell("Outcome", 8) << cell("Bad", 6) << "Method\n";
  for (const StoredRun& r : runs) {
    out << cell(r.started, 20) << cell(r.kind, 8) << cell(r.outcome, 8) << cell(std::to_string(r.badSectors), 6)
        << r.eraseMethod << "\n";
  }
}

std::string countCell(const std::optional<uint64_t>& n) { return n ? std::to_string(*n) : std::string("-"); }

Json snapshotJson(const StoredSnapshot& s) {
  Json attributes = Json::array();
  for (const StoredAttribute& a : s.attributes) {
    attributes.push_back({{"id", a.attrId}, {"name", a.name}, {"value", a.current}, {"worst", a.worst},
                          {"threshold", a.threshold}, {"raw", a.raw}});
  }
  Json nvme = nullptr;
  if (s.nvme) {
    nvme = {{"percentage_used", s.nvme->percentageUsed}, {"available_spare", s.nvme->availableSpare},
            {"media_errors", s.nvme->mediaErrors},       {"temperature_celsius", s.nvme->temperatureC},
            {"power_on_hours", s.nvme->powerOnHours},    {"unsafe_shutdowns", s.nvme->unsafeShutdowns}};
  }
  Json selfTest = nullptr;
  if (s.lastSelfTest) {
    selfTest = {{"power_on_hours", s.lastSelfTest->powerOnHours}, {"kind", s.lastSelfTest->kind},
                {"result", s.lastSelfTest->result}, {"failed", s.lastSelfTest->failed}};
  }
  return {{"taken", s.taken},
          {"health", s.health.empty() ? Json(nullptr) : Json(s.health)},
          {"error_count", s.errorCount ? Json(*s.errorCount) : Json(nullptr)},
          {"last_self_test", selfTest},
          {"attributes", attributes},
          {"nvme_health", nvme}};
}

Json timedChangesJson(const std::vector<TimedChange>& changes) {
  Json list = Json::array();
  for (const TimedChange& t : changes) {
    Json one = changeJson(t.change);
    one["when"] = t.when;
    list.push_back(one);
  }
  return list;
}

// The readings one line each: the counts a failing drive shows first.
void readingsTable(const std::vector<StoredSnapshot>& snapshots, std::ostream& out) {
  if (snapshots.empty()) return;
  const bool nvme = snapshots.back().nvme.has_value();
  out << "\nReadings\n" << cell("Time", 20) << cell("Health", 6);
  if (nvme) out << cell("Used%", 6) << cell("Spare%", 6) << cell("MediaErr", 9);
  else out << cell("Realloc", 8) << cell("Pending", 8) << cell("Uncorr", 7);
  out << cell("Temp", 5) << "Errors\n";
  for (const StoredSnapshot& s : snapshots) {
    out << cell(s.taken, 20) << cell(s.health.empty() ? "-" : s.health, 6);
    if (s.nvme) {
      out << cell(std::to_string(s.nvme->percentageUsed), 6) << cell(std::to_string(s.nvme->availableSpare), 6)
          << cell(std::to_string(s.nvme->mediaErrors), 9);
    } else {
      out << cell(countCell(attributeCount(s, 5)), 8) << cell(countCell(attributeCount(s, 197)), 8)
          << cell(countCell(attributeCount(s, 198)), 7);
    }
    const std::optional<int32_t> t = snapshotTemperature(s);
    out << cell(t ? std::to_string(*t) : "-", 5) << countCell(s.errorCount) << "\n";
  }
}

void changesTable(const std::vector<TimedChange>& changes, std::ostream& out) {
  out << "\nChanges\n";
  if (changes.empty()) out << "Nothing worsened between the readings kept.\n";
  for (const TimedChange& t : changes) out << cell(t.when, 20) << t.change.text << "\n";
}

}  // namespace

HistoryCommand::HistoryCommand(CLI::App& app) {
  m_history = app.add_subcommand("history", "Every drive ever tested or erased here, or one drive's runs");
  CLI::Option* number = m_history->add_option("N", m_number, "The drive's number as listed now");
  CLI::Option* serial = m_history->add_option("--serial", m_serial, "The drive with this serial number, plugged in or not");
  number->excludes(serial);
}

bool HistoryCommand::parsed() const { return m_history->parsed(); }

int HistoryCommand::run(const CliOptions& options, std::ostream& out, std::ostream& err,
                        const DriveTable* table) const {
  std::string serial = m_serial;
  if (needsDrives()) {
    if (table == nullptr || m_number > table->driveCount()) {
      return fail(options, out, err, kCliNotFound, "there is no drive " + std::to_string(m_number));
    }
    serial = trimmedSerial(table->records[m_number - 1]);
  }
  StoreOpen opened = HistoryStore::open(stateDirOf(options));
  if (!opened.store) return fail(options, out, err, kCliUsage, opened.message);
  if (!opened.message.empty()) err << "palvoro-cli: " << opened.message << "\n";
  HistoryStore& store = *opened.store;
  const bool oneDrive = !serial.empty();
  Json drives = Json::array();
  int shown = 0;
  for (const StoredDrive& drive : store.drives()) {
    if (oneDrive && drive.serial != serial) continue;
    ++shown;
    if (!oneDrive) {
      if (options.json) drives.push_back(driveJson(drive));
      else driveLine(drive, out);
      continue;
    }
    const std::vector<StoredRun> runs = store.runsOf(drive.id);
    const std::vector<StoredSnapshot> snapshots = store.snapshotsOf(drive.id);
    const std::vector<TimedChange> changes = changeHistory(snapshots, runs);
    if (options.json) {
      Json entry = driveJson(drive);
      Json list = Json::array();
      for (const StoredRun& run : runs) list.push_back(runJson(run));
      entry["runs"] = list;
      Json readings = Json::array();
      for (const StoredSnapshot& snapshot : snapshots) readings.push_back(snapshotJson(snapshot));
      entry["readings"] = readings;
      entry["changes"] = timedChangesJson(changes);
      drives.push_back(entry);
    } else {
      runsTable(drive, runs, out);
      readingsTable(snapshots, out);
      changesTable(changes, out);
    }
  }
  if (oneDrive && shown == 0) {
    return fail(options, out, err, kCliNotFound, "no history of the drive with serial number " + serial);
  }
  if (options.json) {
    out << jsonText(Json{{"schema_version", kCliSchemaVersion}, {"drives", drives}}, 2) << "\n";
  } else if (shown == 0) {
    out << "No drive has been tested or erased here yet.\n";
  }
  return kCliOk;
}

std::unique_ptr<HistoryCommand> addHistoryCommand(CLI::App& app) { return std::make_unique<HistoryCommand>(app); }

}  // namespace palvoro
