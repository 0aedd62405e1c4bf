// The History window's model: from the store's records to rows, charts, ranges and labels.

#include "ui/model/history_model.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/case_name.h"

namespace palvoro {
namespace {

StoredSnapshot ata(const char* taken, uint64_t pending, uint64_t temperatureRaw) {
  StoredSnapshot s;
  s.taken = taken;
  s.attributes = {{5, "Reallocated Sectors Count", 100, 100, 36, 0}, {9, "Power-On Hours", 90, 90, 0, 14230},
                  {194, "Temperature", 40, 55, 0, temperatureRaw}, {197, "Current Pending Sector", 100, 100, 0, pending}};
  return s;
}

StoredSnapshot nvme(const char* taken, int32_t spare) {
  StoredSnapshot s;
  s.taken = taken;
  s.nvme = StoredNvmeHealth{3, spare, 0, 38, 1200, 4};
  return s;
}

StoredRun run(const char* started, const char* kind, const char* outcome, std::optional<double> p99) {
  StoredRun r;
  r.started = started;
  r.kind = kind;
  r.outcome = outcome;
  if (p99) {
    r.latencyP50Ms = 0.42;
    r.latencyP99Ms = p99;
    r.latencyMaxMs = 15.04;
  }
  return r;
}

StoredRun failed() {
  StoredRun r = run("2026-12-10T09:15:00Z", "quick", "FAIL", std::nullopt);
  r.errorCode = 7;
  r.errorMessage = "The drive stopped answering.";
  r.badSectors = 2;
  return r;
}

const std::vector<StoredRun> kAtaRuns = {run("2026-12-07T08:00:00Z", "extended", "PASS", 3.2),
                                         run("2026-12-09T10:00:00Z", "extended", "PASS", 4.1), failed()};
const std::vector<StoredSnapshot> kAtaSnapshots = {ata("2026-12-07T08:00:00Z", 5, 0x00370028),
                                                   ata("2026-12-08T20:00:00Z", 5, 0x0037002A),
                                                   ata("2026-12-10T08:00:00Z", 9, 0x0037002B)};

struct Case {
  const char* name;
  std::optional<std::string> noStore;  // the reason, when the store did not open
  bool kept = true;
  std::vector<StoredRun> runs;
  std::vector<StoredSnapshot> snapshots;
  std::vector<std::string> notes;
  std::vector<std::string> titles;
  std::vector<std::string> newestRow;
  // One chart looked at closely.
  std::string chart;
  std::vector<double> values;
  std::vector<double> xs;
  std::vector<std::string> valueLabels;
  std::vector<std::string> timeLabels;
};

const std::vector<std::string> kAtaTitles = {"Reallocated sectors", "Current pending sectors", "Temperature (\u00B0C)",
                                             "Power-on hours"};
const std::vector<std::string> kAtaAndScanTitles = {"Reallocated sectors", "Current pending sectors",
                                                    "Temperature (\u00B0C)", "Power-on hours",
                                                    "Scan latency p50 (ms)", "Scan latency p99 (ms)"};
const std::vector<std::string> kFailedRow = {"2026-12-10 09:15", "Quick test", "FAIL (error 7)", "2", "", "", "",
                                             "The drive stopped answering."};
const std::vector<std::string> kOverDays = {"2026-12-07", "2026-12-08", "2026-12-10"};
const std::string kNoFolder = "The history folder /nowhere cannot be made or written; the run is not kept in the history.";

// clang-format off
const Case kCases[] = {
    {"ATA drive, pending sectors rose", {}, true, kAtaRuns, kAtaSnapshots, {}, kAtaAndScanTitles, kFailedRow,
     "Current pending sectors", {5, 5, 9}, {0.05, 0.50, 0.95}, {"4", "6", "8", "10"}, kOverDays},
    {"ATA drive, temperature from the raw value's low byte", {}, true, kAtaRuns, kAtaSnapshots, {}, kAtaAndScanTitles,
     kFailedRow, "Temperature (\u00B0C)", {40, 42, 43}, {0.05, 0.50, 0.95}, {"39", "40", "41", "42", "43", "44"}, kOverDays},
    {"scan latency in fractions of a millisecond", {}, true, {kAtaRuns[0], kAtaRuns[1]}, {}, {},
     {"Scan latency p50 (ms)", "Scan latency p99 (ms)"},
     {"2026-12-09 10:00", "Extended test", "PASS", "0", "0.420 / 4.10 / 15.0", "", "", ""},
     "Scan latency p99 (ms)", {3.2, 4.1}, {0.05, 0.95}, {"3.0", "3.5", "4.0", "4.5"},
     {"2026-12-07", "2026-12-08", "2026-12-09"}},
    {"NVMe drive within a day", {}, true, {}, {nvme("2026-12-10T05:00:00Z", 100), nvme("2026-12-10T11:00:00Z", 97)},
     {}, {"Percentage used (%)", "Available spare (%)", "Media errors", "Temperature (\u00B0C)", "Power-on hours"}, {},
     "Available spare (%)", {100, 97}, {0.05, 0.95}, {"96", "97", "98", "99", "100", "101"},
     {"12-10 05:00", "12-10 08:00", "12-10 11:00"}},
    // A reading whose time does not read is left out rather than drawn somewhere.
    {"readings seconds apart: the ends with their seconds", {}, true, {},
     {nvme("2026-12-10T05:00:01Z", 100), nvme("2026-12-10T05:00:03Z", 97)},
     {}, {"Percentage used (%)", "Available spare (%)", "Media errors", "Temperature (\u00B0C)", "Power-on hours"}, {},
     "Available spare (%)", {100, 97}, {0.05, 0.95}, {"96", "97", "98", "99", "100", "101"},
     {"05:00:01", "05:00:03"}},
    {"one reading, and one with a time that does not read", {}, true, {},
     {ata("2026-12-09T14:02:00Z", 0, 41), ata("yesterday", 7, 90)}, {}, kAtaTitles, {},
     "Temperature (\u00B0C)", {41}, {0.5}, {"35", "40", "45", "50"}, {"2026-12-09 14:02"}},
    {"a zero count stands on the bottom line", {}, true, {}, {ata("2026-12-09T14:02:00Z", 0, 41)}, {}, kAtaTitles, {},
     "Current pending sectors", {0}, {0.5}, {"0", "1"}, {"2026-12-09 14:02"}},
    {"never kept", {}, false, {}, {}, {"No run of this drive has been kept yet."}, {}, {}, "", {}, {}, {}, {}},
    {"no store", kNoFolder, false, {}, {}, {kNoFolder}, {}, {}, "", {}, {}, {}, {}},
};
// clang-format on

class HistoryModelTest : public testing::TestWithParam<Case> {};

TEST_P(HistoryModelTest, RowsAndChartsOfTheStoredRecords) {
  const Case& c = GetParam();
  DriveRecord record{};
  std::strcpy(record.model, "VHT VH7SAB200   ");
  std::strcpy(record.serialNumber, "VH7A00112");
  std::optional<StoredDrive> drive;
  if (c.kept) drive = StoredDrive{1, "VHT VH7SAB200", "VH7A00112", "", "SATA", "2026-12-07T08:00:00Z", "", 0, {}};
  const HistoryModel model = c.noStore ? HistoryModel::withoutStore(record, 3, *c.noStore)
                                       : HistoryModel(record, 3, drive, c.runs, c.snapshots);
  EXPECT_EQ(model.title(), "History - Physical Drive 3");
  EXPECT_EQ(model.notes(), c.notes);
  const std::vector<HistoryChart> charts = model.charts();
  std::vector<std::string> titles;
  for (const HistoryChart& chart : charts) titles.push_back(chart.title);
  EXPECT_EQ(titles, c.titles);
  const std::vector<HistoryRunRow> rows = model.runRows();
  ASSERT_EQ(rows.size(), c.runs.size());
  if (!rows.empty()) {
    EXPECT_EQ(rows.front().cells, c.newestRow);
    EXPECT_EQ(rows.front().failed, c.newestRow[2].rfind("FAIL", 0) == 0);
  }
  if (c.chart.empty()) {
    EXPECT_FALSE(model.chartsNote().empty());
    return;
  }
  const HistoryChart* chart = nullptr;
  for (const HistoryChart& each : charts) {
    if (each.title == c.chart) chart = &each;
  }
  ASSERT_NE(chart, nullptr);
  std::vector<double> values, xs;
  for (const HistoryPoint& point : chart->points) {
    values.push_back(point.value);
    xs.push_back(std::round(point.x * 100) / 100);
    // Every reading lies inside the range, clear of nothing it should be drawn on.
    EXPECT_GE(point.y, 0.0);
    EXPECT_LE(point.y, 1.0);
  }
  EXPECT_EQ(values, c.values);
  EXPECT_EQ(xs, c.xs);
  std::vector<std::string> valueLabels, timeLabels;
  for (const HistoryTick& tick : chart->valueTicks) valueLabels.push_back(tick.label);
  for (const HistoryTick& tick : chart->timeTicks) timeLabels.push_back(tick.label);
  EXPECT_EQ(valueLabels, c.valueLabels);
  EXPECT_EQ(timeLabels, c.timeLabels);
  EXPECT_DOUBLE_EQ(chart->valueTicks.front().at, 0.0);
  EXPECT_DOUBLE_EQ(chart->valueTicks.back().at, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Drives, HistoryModelTest, testing::ValuesIn(kCases), testsupport::caseName<Case>);

}  // namespace
}  // namespace palvoro
