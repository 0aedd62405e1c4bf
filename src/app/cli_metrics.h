#pragma once
// `palvoro-cli metrics`: the latest state of every drive in the history as Prometheus's text
// exposition format (version 0.0.4), for node_exporter's textfile collector or any scraper.
// It reads the history only and needs no drive plugged in. Exit status 0, 2 when the
// history cannot be opened.
//
// The metric names and what they mean are listed in docs/cli.md; alerting rules written
// against them are in docs/prometheus-alerts.yml.

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "store/history_store.h"

namespace CLI {
class App;
}

namespace palvoro {

namespace cli {
struct CliOptions;
}

// What the metrics show of one drive.
struct DriveMetrics {
  StoredDrive drive;
  std::vector<StoredRun> lastRuns;        // the last run of each kind
  std::optional<StoredRun> lastScan;      // the last run that kept a latency histogram
  std::optional<StoredSnapshot> snapshot;  // the latest reading of its SMART state
};

// Every drive of the history, one per serial number (metrics name a drive by it; of two
// drives reporting the same serial, the one seen last).
std::vector<DriveMetrics> driveMetricsOf(HistoryStore& store);

// The drives as Prometheus text. Drive-reported strings are escaped, and any byte that is
// not printable ASCII becomes '?', so hostile identify data cannot break the format.
std::string metricsText(const std::vector<DriveMetrics>& drives);

// The history in `folder` as Prometheus text; none, with `message` set, when the history
// cannot be opened. `message` may also carry a note (a damaged file set aside) with text.
std::optional<std::string> metricsTextOf(const std::string& folder, std::string& message);

// The command, registered on palvoro-cli's parser.
class MetricsCommand {
 public:
  explicit MetricsCommand(CLI::App& app);
  bool parsed() const;
  // Runs it; the status as palvoro-cli exits with it.
  int run(const cli::CliOptions& options, std::ostream& out, std::ostream& err) const;

 private:
  CLI::App* m_metrics = nullptr;
};

std::unique_ptr<MetricsCommand> addMetricsCommand(CLI::App& app);

}  // namespace palvoro
