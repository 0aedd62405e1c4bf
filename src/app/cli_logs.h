#pragma once
// `palvoro-cli smart N --logs`: the drive's own logs as text tables and as JSON.

#include <nlohmann/json.hpp>
#include <ostream>

#include "service/drive_logs_model.h"

namespace palvoro {

// Every log with its raw fields (numbers as numbers, texts beside them), the logs that
// did not arrive and the hints.
nlohmann::ordered_json driveLogsJson(const DriveLogs& logs);
// The window's tables, aligned in columns, then the hints.
void printDriveLogs(const DriveLogsModel& model, std::ostream& out);

}  // namespace palvoro
