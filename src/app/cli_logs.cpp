#include "app/cli_logs.h"

#include <algorithm>

namespace palvoro {

namespace {

using Json = nlohmann::ordered_json;

template <typename T>
Json orNull(const std::optional<T>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json selfTestsJson(const SelfTestLog& log) {
  Json entries = Json::array();
  for (const SelfTestLogEntry& e : log.entries) {
    entries.push_back({{"test", e.test},
                       {"name", selfTestName(e.test)},
                       {"status", e.status},
                       {"status_text", selfTestStatusText(e.status)},
                       {"remaining_percent", e.remainingPercent},
                       {"lifetime_hours", e.lifetimeHours},
                       {"failing_lba", e.hasFailingLba() ? Json(e.failingLba) : Json(nullptr)}});
  }
  return {{"revision", log.revision},
          {"checksum_valid", log.checksumValid},
          {"extended", log.extended},
          {"entries", entries}};
}

Json errorsJson(const AtaErrorLog& log) {
  Json entries = Json::array();
  for (const AtaErrorEntry& e : log.entries) {
    Json commands = Json::array();
    for (const AtaErrorCommand& c : e.commands) {
      commands.push_back({{"command", c.command},
                          {"name", ataCommandName(c.command)},
                          {"features", c.features},
                          {"count", c.count},
                          {"lba", c.lba},
                          {"device", c.device},
                          {"device_control", c.deviceControl},
                          {"timestamp_ms", c.timestampMs}});
    }
    entries.push_back({{"number", e.number},
                       {"lifetime_hours", e.lifetimeHours},
                       {"state", e.state},
                       {"state_text", ataErrorStateText(e.state)},
                       {"error", e.error},
                       {"error_bits", ataErrorBitsText(e.error)},
                       {"status", e.status},
                       {"count", e.count},
                       {"lba", e.lba},
                       {"device", e.device},
                       {"commands", commands}});
  }
  return {{"version", log.version},
          {"checksum_valid", log.checksumValid},
          {"device_error_count", log.deviceErrorCount},
          {"entries", entries}};
}

Json statisticsJson(const std::vector<DeviceStatistic>& statistics) {
  Json out = Json::array();
  for (const DeviceStatistic& s : statistics) {
    out.push_back({{"page", s.page},
                   {"page_name", deviceStatisticsPageName(s.page)},
                   {"offset", s.offset},
                   {"name", s.name},
                   {"value", s.value},
                   {"valid", s.valid},
                   {"normalized", s.normalized},
                   {"unit", s.unit}});
  }
  return out;
}

Json temperatureJson(const DriveLogs& logs) {
  Json out = Json::object();
  if (const std::optional<SctStatus>& s = logs.sctStatus) {
    out["status"] = {{"current_celsius", orNull(s->currentCelsius)},
                     {"power_cycle_min_celsius", orNull(s->minCelsius)},
                     {"power_cycle_max_celsius", orNull(s->maxCelsius)},
                     {"lifetime_min_celsius", orNull(s->lifetimeMinCelsius)},
                     {"lifetime_max_celsius", orNull(s->lifetimeMaxCelsius)},
                     {"over_limit_count", s->overLimitCount},
                     {"under_limit_count", s->underLimitCount}};
  } else {
    out["status"] = nullptr;
  }
  if (const std::optional<SctTemperatureHistory>& h = logs.temperatureHistory) {
    Json samples = Json::array();
    for (const std::optional<int>& sample : h->samples) samples.push_back(orNull(sample));
    out["history"] = {{"sampling_period_minutes", h->samplingPeriodMinutes},
                      {"interval_minutes", h->intervalMinutes},
                      {"max_operating_celsius", orNull(h->maxOperating)},
                      {"over_limit_celsius", orNull(h->overLimit)},
                      {"min_operating_celsius", orNull(h->minOperating)},
                      {"under_limit_celsius", orNull(h->underLimit)},
                      {"samples_celsius", samples}};
  } else {
    out["history"] = nullptr;
  }
  return out;
}

Json nvmeErrorsJson(const std::vector<NvmeErrorEntry>& errors) {
  Json out = Json::array();
  for (const NvmeErrorEntry& e : errors) {
    out.push_back({{"error_count", e.errorCount},
                   {"submission_queue", e.submissionQueue},
                   {"command_id", e.commandId},
                   {"status", e.status},
                   {"status_text", nvmeStatusText(e.status)},
                   {"parameter_error_location", e.parameterErrorLocation},
                   {"lba", e.lba},
                   {"nsid", e.nsid}});
  }
  return out;
}

Json nvmeSelfTestsJson(const NvmeSelfTestLog& log) {
  Json entries = Json::array();
  for (const NvmeSelfTestEntry& e : log.entries) {
    entries.push_back({{"code", e.code},
                       {"result", e.result},
                       {"result_text", nvmeSelfTestResultText(e.result)},
                       {"segment", e.segment},
                       {"power_on_hours", e.powerOnHours},
                       {"nsid", orNull(e.nsid)},
                       {"failing_lba", orNull(e.failingLba)}});
  }
  return {{"current_operation", log.currentOperation},
          {"current_completion_percent", log.currentCompletion},
          {"entries", entries}};
}

void printTable(const LogTable& table, std::ostream& out) {
  out << "  " << table.title << "\n";
  if (!table.rows.empty()) {
    std::vector<size_t> widths(table.columns.size(), 0);
    for (size_t c = 0; c < table.columns.size(); ++c) widths[c] = table.columns[c].size();
    for (const std::vector<std::string>& row : table.rows) {
      for (size_t c = 0; c < row.size() && c < widths.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    const auto line = [&](const std::vector<std::string>& cells) {
      std::string text = "   ";
      for (size_t c = 0; c < cells.size() && c < widths.size(); ++c) {
        text += " " + cells[c];
        if (c + 1 < cells.size()) text += std::string(widths[c] - cells[c].size() + 1, ' ');
      }
      out << text << "\n";
    };
    line(table.columns);
    for (const std::vector<std::string>& row : table.rows) line(row);
  }
  if (!table.note.empty()) out << "    " << table.note << "\n";
}

}  // namespace

Json driveLogsJson(const DriveLogs& logs) {
  Json out = {{"power_on_hours", orNull(logs.powerOnHours)}};
  if (logs.nvme) {
    out["error_information"] = logs.nvmeErrors ? nvmeErrorsJson(*logs.nvmeErrors) : Json(nullptr);
    out["self_tests"] = logs.nvmeSelfTests ? nvmeSelfTestsJson(*logs.nvmeSelfTests) : Json(nullptr);
  } else {
    out["self_tests"] = logs.selfTests ? selfTestsJson(*logs.selfTests) : Json(nullptr);
    out["summary_errors"] = logs.summaryErrors ? errorsJson(*logs.summaryErrors) : Json(nullptr);
    out["comprehensive_errors"] = logs.comprehensiveErrors ? errorsJson(*logs.comprehensiveErrors) : Json(nullptr);
    out["statistics"] = logs.statistics ? statisticsJson(*logs.statistics) : Json(nullptr);
    out["temperature"] = temperatureJson(logs);
  }
  out["not_read"] = logs.notRead;
  out["hints"] = driveLogHints(logs);
  return out;
}

void printDriveLogs(const DriveLogsModel& model, std::ostream& out) {
  out << "Drive logs: " << model.heading() << "\n";
  for (const LogTable& table : model.tables()) printTable(table, out);
  if (const std::optional<TemperatureSeries> series = model.temperatureSeries()) {
    out << "    History, oldest first, every " << series->intervalMinutes << " minutes (\xC2\xB0" "C):";
    for (const std::optional<int>& sample : series->celsius) out << " " << (sample ? std::to_string(*sample) : "-");
    out << "\n";
  }
  const std::vector<std::string> hints = model.hints();
  if (!hints.empty()) {
    out << "  Hints\n";
    for (const std::string& hint : hints) out << "    " << hint << "\n";
  }
  const std::string notRead = model.notReadLine();
  if (!notRead.empty()) out << "  " << notRead << "\n";
}

}  // namespace palvoro
