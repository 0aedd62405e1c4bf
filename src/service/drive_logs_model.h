#pragma once
// What the Drive Logs window and `palvoro-cli smart N --logs` show of a drive's own logs:
// a table for each log the drive handed over (self-tests, errors, statistics,
// temperature), the temperature history as a series, the hints, and the logs that did
// not arrive. The window and the command line only lay these out.

#include <optional>
#include <string>
#include <vector>

#include "discovery/drive_record.h"
#include "service/session.h"
#include "smart/drive_logs.h"

namespace palvoro {

struct LogTable {
  std::string title;                             // "Self-Tests", "Errors", ...
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;    // each as long as columns
  std::string note;                              // below the table: what it is, or why it is empty
};

// The temperature history, oldest sample first; a missing sample breaks the line.
struct TemperatureSeries {
  std::vector<std::optional<int>> celsius;
  int intervalMinutes = 0;
  std::optional<int> limit;  // the maximum operating temperature, drawn as a line
};

class DriveLogsModel {
 public:
  DriveLogsModel(DriveLogs logs, const DriveRecord& record, int shownDriveNumber);

  std::string title() const;    // "Drive Logs - Physical Drive N"
  std::string heading() const;  // the drive's model and serial
  const DriveLogs& logs() const { return m_logs; }

  // The pages in order: self-tests, errors, statistics, temperature. A page whose log did
  // not arrive is there with a note saying so, so that nobody takes silence for health.
  std::vector<LogTable> tables() const;
  LogTable selfTestTable() const;
  LogTable errorTable() const;
  LogTable statisticsTable() const;
  LogTable temperatureTable() const;
  std::optional<TemperatureSeries> temperatureSeries() const;

  std::vector<std::string> hints() const { return driveLogHints(m_logs); }
  // "Not handed over by the drive or its bridge: Device statistics, ..."; empty when all arrived.
  std::string notReadLine() const;

 private:
  DriveLogs m_logs;
  std::string m_model;
  std::string m_serial;
  int m_driveNumber;
};

// The result page's "Hints" row: what a test's scan and the drive's own logs suggest, a
// line each, escaped for the page. None without a hint.
std::vector<std::string> hintResultRows(const std::vector<std::string>& hints);

// Reads the logs of the drive at row `driveIndex` of the session's table, as it is now;
// none when the row holds no drive. It talks to the drive: call it off the GUI thread.
std::optional<DriveLogsModel> readDriveLogsOf(Session& session, int driveIndex);


}  // namespace palvoro
