#include "service/drive_logs_model.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "device/scsi_transport.h"
#include "results/result_page.h"

namespace palvoro {

namespace {

constexpr const char* kNotHandedOver = "The drive or its bridge did not hand this log over.";

// A table of a self-test log: the entries newest first, numbered from 1 before the cells
// `cellsOf` gives. False, with the note saying so, when the log was not handed over.
template <typename Log, typename CellsOf>
bool numberedRows(LogTable& table, const std::optional<Log>& log, CellsOf cellsOf) {
  if (!log) {
    table.note = kNotHandedOver;
    return false;
  }
  int number = 1;
  for (const auto& entry : log->entries) {
    std::vector<std::string> row{std::to_string(number++)};
    for (std::string& cell : cellsOf(entry)) row.push_back(std::move(cell));
    table.rows.push_back(std::move(row));
  }
  return true;
}

std::string hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", value & 0xFF);
  return text;
}

std::string celsiusText(const std::optional<int>& celsius) {
  return celsius ? std::to_string(*celsius) + " \xC2\xB0" "C" : "-";
}

std::string nvmeTestName(uint8_t code) {
  switch (code) {
    case 1: return "Short";
    case 2: return "Extended";
    case 0xE: return "Vendor specific";
    default: return "Code " + hex2(code) + "h";
  }
}

std::string errorRegisterText(uint8_t error) {
  const std::string bits = ataErrorBitsText(error);
  return bits.empty() ? hex2(error) : hex2(error) + " (" + bits + ")";
}

}  // namespace

std::vector<std::string> hintResultRows(const std::vector<std::string>& hints) {
  if (hints.empty()) return {};
  std::string row = "<tr><td><font color=0000ff>Hints:</font></td><td>";
  for (size_t i = 0; i < hints.size(); ++i) row += (i == 0 ? "" : "<br>") + escapeHtml(hints[i]);
  return {row + "</td></tr>\r\n"};
}

DriveLogsModel::DriveLogsModel(DriveLogs logs, const DriveRecord& record, int shownDriveNumber)
    : m_logs(std::move(logs)),
      m_model(trimmedField(record.model, sizeof record.model)),
      m_serial(trimmedField(record.serialNumber, sizeof record.serialNumber)),
      m_driveNumber(shownDriveNumber) {}

std::string DriveLogsModel::title() const { return "Drive Logs - Physical Drive " + std::to_string(m_driveNumber); }

std::string DriveLogsModel::heading() const {
  std::string text = m_model + " (serial " + m_serial + ")";
  if (m_logs.powerOnHours) text += ", " + std::to_string(*m_logs.powerOnHours) + " power-on hours";
  return text;
}

std::vector<LogTable> DriveLogsModel::tables() const {
  std::vector<LogTable> pages{selfTestTable(), errorTable()};
  if (!m_logs.nvme) {
    pages.push_back(statisticsTable());
    pages.push_back(temperatureTable());
  }
  return pages;
}

LogTable DriveLogsModel::selfTestTable() const {
  LogTable table;
  table.title = "Self-Tests";
  if (m_logs.nvme) {
    table.columns = {"#", "Test", "Result", "Power-on Hours", "Failing LBA"};
    const bool handedOver = numberedRows(table, m_logs.nvmeSelfTests, [](const NvmeSelfTestEntry& entry) {
      return std::vector<std::string>{nvmeTestName(entry.code), nvmeSelfTestResultText(entry.result),
                                      std::to_string(entry.powerOnHours),
                                      entry.failingLba ? std::to_string(*entry.failingLba) : "-"};
    });
    if (!handedOver) return table;
  } else {
    table.columns = {"#", "Test", "Status", "Remaining", "Power-on Hours", "First Failing Sector"};
    const bool handedOver = numberedRows(table, m_logs.selfTests, [](const SelfTestLogEntry& entry) {
      return std::vector<std::string>{selfTestName(entry.test), selfTestStatusText(entry.status),
                                      std::to_string(entry.remainingPercent) + "%", std::to_string(entry.lifetimeHours),
                                      entry.hasFailingLba() ? std::to_string(entry.failingLba) : "-"};
    });
    if (!handedOver) return table;
  }
  table.note = table.rows.empty() ? "The drive has no self-test on record." : "Newest first, as the drive keeps them.";
  return table;
}

LogTable DriveLogsModel::errorTable() const {
  LogTable table;
  table.title = "Errors";
  if (m_logs.nvme) {
    table.columns = {"Error Count", "Queue", "Command ID", "Status", "LBA", "Namespace"};
    if (!m_logs.nvmeErrors) {
      table.note = kNotHandedOver;
      return table;
    }
    for (const NvmeErrorEntry& entry : *m_logs.nvmeErrors) {
      table.rows.push_back({std::to_string(entry.errorCount), std::to_string(entry.submissionQueue),
                            std::to_string(entry.commandId), nvmeStatusText(entry.status), std::to_string(entry.lba),
                            std::to_string(entry.nsid)});
    }
    table.note = table.rows.empty() ? "The controller has no error on record." : "Newest first.";
    return table;
  }
  table.columns = {"Error", "Power-on Hours", "State", "Error Register", "Status", "Sector", "Failed Command"};
  // The comprehensive log keeps the same errors with 48-bit sectors and more of them.
  const AtaErrorLog* log = m_logs.comprehensiveErrors   ? &*m_logs.comprehensiveErrors
                           : m_logs.summaryErrors       ? &*m_logs.summaryErrors
                                                        : nullptr;
  if (log == nullptr) {
    table.note = kNotHandedOver;
    return table;
  }
  for (const AtaErrorEntry& entry : log->entries) {
    const std::string command = entry.commands.empty()
                                    ? "-"
                                    : ataCommandName(entry.commands.back().command) + " (" +
                                          hex2(entry.commands.back().command) + "h)";
    table.rows.push_back({std::to_string(entry.number), std::to_string(entry.lifetimeHours),
                          ataErrorStateText(entry.state), errorRegisterText(entry.error), hex2(entry.status),
                          std::to_string(entry.lba), command});
  }
  const std::string source = log->extended ? "comprehensive" : "summary";
  if (log->deviceErrorCount == 0) {
    table.note = "The drive has no error on record (" + source + " error log).";
  } else {
    table.note = "The drive has counted " + std::to_string(log->deviceErrorCount) + " error" +
                 (log->deviceErrorCount == 1 ? "" : "s") + " in its life; the newest " +
                 std::to_string(log->entries.size()) + " from its " + source + " error log, newest first.";
  }
  return table;
}

LogTable DriveLogsModel::statisticsTable() const {
  LogTable table;
  table.title = "Statistics";
  table.columns = {"Page", "Statistic", "Value"};
  if (!m_logs.statistics) {
    table.note = kNotHandedOver;
    return table;
  }
  for (const DeviceStatistic& statistic : *m_logs.statistics) {
    std::string value = "not valid";
    if (statistic.valid) {
      value = std::to_string(statistic.value);
      if (!statistic.unit.empty()) value += " " + statistic.unit;
    }
    table.rows.push_back({deviceStatisticsPageName(statistic.page), statistic.name, value});
  }
  table.note = table.rows.empty() ? "The drive keeps no statistics." : "From the drive's device statistics log.";
  return table;
}

LogTable DriveLogsModel::temperatureTable() const {
  LogTable table;
  table.title = "Temperature";
  table.columns = {"Reading", "Value"};
  if (!m_logs.sctStatus && !m_logs.temperatureHistory) {
    table.note = kNotHandedOver;
    return table;
  }
  if (const std::optional<SctStatus>& s = m_logs.sctStatus) {
    table.rows.push_back({"Current", celsiusText(s->currentCelsius)});
    table.rows.push_back({"Lowest since power-on", celsiusText(s->minCelsius)});
    table.rows.push_back({"Highest since power-on", celsiusText(s->maxCelsius)});
    table.rows.push_back({"Lowest in its life", celsiusText(s->lifetimeMinCelsius)});
    table.rows.push_back({"Highest in its life", celsiusText(s->lifetimeMaxCelsius)});
    table.rows.push_back({"Times over the limit", std::to_string(s->overLimitCount)});
    table.rows.push_back({"Times under the limit", std::to_string(s->underLimitCount)});
  }
  if (const std::optional<SctTemperatureHistory>& h = m_logs.temperatureHistory) {
    table.rows.push_back({"Maximum operating", celsiusText(h->maxOperating)});
    table.rows.push_back({"Over limit", celsiusText(h->overLimit)});
    table.rows.push_back({"Minimum operating", celsiusText(h->minOperating)});
    table.rows.push_back({"Under limit", celsiusText(h->underLimit)});
    table.rows.push_back({"History interval", std::to_string(h->intervalMinutes) + " minutes"});
    size_t recorded = 0;
    for (const std::optional<int>& sample : h->samples) recorded += sample ? 1 : 0;
    table.rows.push_back({"History samples", std::to_string(recorded)});
  }
  table.note = m_logs.temperatureHistory ? "From the drive's SCT status and temperature history."
                                         : "From the drive's SCT status; it kept no temperature history for us.";
  return table;
}

std::optional<TemperatureSeries> DriveLogsModel::temperatureSeries() const {
  if (!m_logs.temperatureHistory) return std::nullopt;
  const SctTemperatureHistory& h = *m_logs.temperatureHistory;
  // Leading empty samples are a buffer that has not filled yet: they are no part of the line.
  size_t first = 0;
  while (first < h.samples.size() && !h.samples[first]) ++first;
  if (first == h.samples.size()) return std::nullopt;
  TemperatureSeries series;
  series.celsius.assign(h.samples.begin() + static_cast<std::ptrdiff_t>(first), h.samples.end());
  series.intervalMinutes = h.intervalMinutes;
  series.limit = h.maxOperating;
  return series;
}

std::string DriveLogsModel::notReadLine() const {
  if (m_logs.notRead.empty()) return {};
  std::string line = "Not handed over by the drive or its bridge: ";
  for (size_t i = 0; i < m_logs.notRead.size(); ++i) line += (i == 0 ? "" : ", ") + m_logs.notRead[i];
  return line + ".";
}

std::optional<DriveLogsModel> readDriveLogsOf(Session& session, int driveIndex) {
  DriveRecord record{};
  {
    std::lock_guard lock(session.tableMutex());
    const DriveTable& table = session.driveTable();
    if (driveIndex < 0 || driveIndex >= table.driveCount()) return std::nullopt;
    record = table.records[driveIndex];
  }
  DriveLogs logs = readDriveLogs(session.platform(), record, session.startup().miniportMode != 0, kRaidMemberA);
  return DriveLogsModel(std::move(logs), record, driveIndex + 1);
}

}  // namespace palvoro
