#pragma once
// What the History window shows of one drive: the runs the drives' history kept of it,
// newest first, and a small chart per value worth following over time (the attributes
// that count a drive's failing sectors, its temperature and hours; an NVMe drive's wear,
// spare and media errors; the scans' block times). The widget only paints what this
// computes: every point, range and axis label is placed here.

#include <optional>
#include <string>
#include <vector>

#include "discovery/drive_record.h"
#include "store/history_store.h"

namespace palvoro {

// A mark on a chart's axis. `at` is the fraction of the axis: 0 at the bottom or left.
struct HistoryTick {
  double at = 0;
  std::string label;
};

// One reading on a chart: its raw value and where it is drawn, as fractions of the plot.
struct HistoryPoint {
  std::string taken;  // ISO 8601 UTC, as the store keeps it
  double value = 0;
  double x = 0;  // 0 left, 1 right
  double y = 0;  // 0 bottom, 1 top
};

// One series over time, in its own chart.
struct HistoryChart {
  std::string name;   // "Current pending sectors"
  std::string unit;   // "sectors", "\u00B0C", "hours", "%", "ms"
  std::string title;  // the name, with its unit where the name does not say it: "Temperature (\u00B0C)"
  std::vector<HistoryPoint> points;  // oldest first
  double low = 0;    // the value at the plot's bottom ...
  double high = 0;   // ... and at its top: the readings with a margin, on whole steps
  std::vector<HistoryTick> valueTicks;  // on the left, bottom up
  std::vector<HistoryTick> timeTicks;   // below, left to right
};

// A run's row: its cells in runColumns()' order, and whether it failed.
struct HistoryRunRow {
  std::vector<std::string> cells;
  bool failed = false;
};

// A change for the worse between two readings, as the drive's changes word it.
struct HistoryChangeRow {
  std::string when;  // "2026-12-09 14:02", UTC
  std::string text;
  bool critical = false;
};

class HistoryModel {
 public:
  // A drive the store holds (`drive`), or never kept in it (none). `storeNote` is what
  // opening the store had to say (a damaged file set aside), shown above the history.
  HistoryModel(const DriveRecord& record, int shownDriveNumber, std::optional<StoredDrive> drive,
               std::vector<StoredRun> runs, std::vector<StoredSnapshot> snapshots, std::string storeNote = {});
  // No store to look in: `why` is the reason the user is given.
  static HistoryModel withoutStore(const DriveRecord& record, int shownDriveNumber, std::string why);

  std::string title() const;    // "History - Physical Drive N"
  std::string heading() const;  // the drive, and since when it is kept
  // What the window says instead of, or above, the history: the store's trouble, or that
  // the drive was never kept. Empty when there is nothing to say.
  std::vector<std::string> notes() const;
  // Whether there is anything to list or draw.
  bool hasHistory() const { return !m_runs.empty() || !m_snapshots.empty(); }

  static std::vector<std::string> runColumns();
  std::vector<HistoryRunRow> runRows() const;  // newest first
  // The charts of the values this drive has, in a fixed order; none for a series no
  // reading holds.
  std::vector<HistoryChart> charts() const;
  // Said where the charts would be when there are none.
  std::string chartsNote() const;
  // What worsened from each reading to the next, newest first.
  std::vector<HistoryChangeRow> changeRows() const;
  // Said where the changes would be when there are none.
  std::string changesNote() const;

 private:
  HistoryModel(const DriveRecord& record, int shownDriveNumber);

  std::string m_model;
  std::string m_serial;
  int m_driveNumber;
  std::optional<StoredDrive> m_drive;
  std::vector<StoredRun> m_runs;
  std::vector<StoredSnapshot> m_snapshots;
  std::string m_storeNote;
  bool m_storeOpen = true;
};

// Looks the drive in `record` up in `store` by its model and serial, as the run service
// keys it. `storeNote` is what opening the store said: with a store, a note above the
// history; without one, the reason the window gives.
HistoryModel historyOf(HistoryStore* store, const std::string& storeNote, const DriveRecord& record,
                       int shownDriveNumber);

// A chart of `samples` (time as the store writes it, raw value): the points placed, the
// value range with a margin on whole steps (never below zero when no reading is), the
// ticks labelled. Samples whose time does not read are left out. Counts (`wholeNumbers`)
// never get a fraction in their labels.
HistoryChart historyChart(std::string name, std::string unit, const std::vector<std::pair<std::string, double>>& samples,
                          bool wholeNumbers);

}  // namespace palvoro
