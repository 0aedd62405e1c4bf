#include "ui/model/history_model.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <utility>

#include "store/drive_changes.h"

namespace palvoro {

namespace {

// The attributes that count a drive's failing sectors, and its hours, by their ATA ids.
// Their counts and the temperature are read as the changes read them (drive_changes.h).
constexpr int32_t kReallocatedSectors = 5;
constexpr int32_t kPowerOnHours = 9;
constexpr int32_t kPendingSectors = 197;
constexpr int32_t kOfflineUncorrectable = 198;

// Where the oldest and the newest reading stand: a little inside the plot, so that their
// marks are not cut by its frame.
constexpr double kFirstX = 0.05;
constexpr double kLastX = 0.95;
// Below this span the time labels carry the hour, above it the year.
constexpr int64_t kTwoDays = 2 * 86400;
// Below this span the minutes of three labels would repeat: the ends carry their seconds.
constexpr int64_t kThreeMinutes = 180;

using Samples = std::vector<std::pair<std::string, double>>;

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian; the usual era
// arithmetic), so that no time zone of this computer enters the store's UTC times.
int64_t daysOf(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

std::string utcText(int64_t seconds, bool withYear, bool withTime) {
  const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  const int64_t second = seconds - days * 86400;
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[96];  // room for any 64-bit year, though the store's are four digits
  if (withYear && withTime) {
    std::snprintf(text, sizeof text, "%04" PRId64 "-%02" PRId64 "-%02" PRId64 " %02" PRId64 ":%02" PRId64, year, month,
                  day, second / 3600, second / 60 % 60);
  } else if (withYear) {
    std::snprintf(text, sizeof text, "%04" PRId64 "-%02" PRId64 "-%02" PRId64, year, month, day);
  } else {
    std::snprintf(text, sizeof text, "%02" PRId64 "-%02" PRId64 " %02" PRId64 ":%02" PRId64, month, day,
                  second / 3600, second / 60 % 60);
  }
  return text;
}

// Seconds since 1970 of a time as the store writes it ("2026-12-10T05:33:04Z"); none for
// anything else.
std::optional<int64_t> secondsOf(const std::string& iso) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char zone = 0;
  if (iso.size() != 20 || std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &year, &month, &day, &hour, &minute,
                                      &second, &zone) != 7) {
    return std::nullopt;
  }
  if (zone != 'Z' || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return std::nullopt;
  }
  return daysOf(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

// A store time as the window shows it: "2026-12-09 14:02"; a time that does not read as is.
std::string shownTime(const std::string& iso) {
  const std::optional<int64_t> seconds = secondsOf(iso);
  return seconds ? utcText(*seconds, true, true) : iso;
}

// 1, 2 or 5 times a power of ten: the smallest such step of at least `raw`.
double niceStep(double raw, bool wholeNumbers) {
  if (!(raw > 0)) raw = 1;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = 10 * power;
  for (const double multiple : {1.0, 2.0, 5.0}) {
    if (multiple * power >= raw * (1 - 1e-9)) {
      step = multiple * power;
      break;
    }
  }
  return wholeNumbers ? std::max(1.0, std::round(step)) : step;
}

std::string valueText(double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// A block time in milliseconds with three figures or so: 0.052, 3.41, 15.2, 240.
std::string msText(double ms) {
  const int decimals = ms >= 100 ? 0 : ms >= 10 ? 1 : ms >= 1 ? 2 : 3;
  return valueText(ms, decimals);
}

// The value range on whole steps around the readings, with its ticks.
void placeValues(HistoryChart& chart, double least, double most, bool wholeNumbers) {
  double margin = (most - least) * 0.1;
  if (margin == 0) margin = std::max(std::fabs(most) * 0.1, wholeNumbers ? 1.0 : 0.1);
  double low = least - margin;
  if (least >= 0) low = std::max(0.0, low);  // a count or a temperature never reads below zero
  double high = most + margin;
  // Four or so steps: enough to read a value off, few enough to stay apart in a small chart.
  const double step = niceStep((high - low) / 4, wholeNumbers);
  low = std::floor(low / step) * step;
  high = std::max(std::ceil(high / step) * step, low + step);
  chart.low = low;
  chart.high = high;
  const int decimals = wholeNumbers ? 0 : std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
  const int steps = static_cast<int>(std::lround((high - low) / step));
  for (int i = 0; i <= steps; ++i) {
    double value = low + i * step;
    if (std::fabs(value) < step * 1e-9) value = 0;  // never "-0"
    chart.valueTicks.push_back({static_cast<double>(i) / steps, valueText(value, decimals)});
  }
  for (HistoryPoint& point : chart.points) point.y = (point.value - low) / (high - low);
}

std::string kindWord(const std::string& kind) {
  if (kind == "quick") return "Quick test";
  if (kind == "extended") return "Extended test";
  if (kind == "erase") return "Erase";
  return kind;
}

std::string outcomeText(const StoredRun& run) {
  if (run.outcome != "FAIL" || run.errorCode == 0) return run.outcome;
  return run.outcome + " (error " + std::to_string(run.errorCode) + ")";
}

std::string latencyText(const StoredRun& run) {
  if (!run.latencyP50Ms && !run.latencyP99Ms && !run.latencyMaxMs) return {};
  const auto part = [](const std::optional<double>& ms) { return ms ? msText(*ms) : std::string("-"); };
  return part(run.latencyP50Ms) + " / " + part(run.latencyP99Ms) + " / " + part(run.latencyMaxMs);
}

}  // namespace

HistoryChart historyChart(std::string name, std::string unit, const Samples& samples, bool wholeNumbers) {
  HistoryChart chart;
  chart.name = std::move(name);
  chart.unit = std::move(unit);
  const bool named = chart.name.size() >= chart.unit.size() &&
                     chart.name.compare(chart.name.size() - chart.unit.size(), chart.unit.size(), chart.unit) == 0;
  chart.title = named ? chart.name : chart.name + " (" + chart.unit + ")";
  std::vector<int64_t> times;
  for (const auto& [taken, value] : samples) {
    const std::optional<int64_t> seconds = secondsOf(taken);
    if (!seconds) continue;
    times.push_back(*seconds);
    chart.points.push_back({taken, value, 0, 0});
  }
  if (chart.points.empty()) return chart;
  const auto [first, last] = std::minmax_element(times.begin(), times.end());
  const int64_t span = *last - *first;
  for (size_t i = 0; i < times.size(); ++i) {
    chart.points[i].x = span == 0 ? 0.5 : kFirstX + (kLastX - kFirstX) * static_cast<double>(times[i] - *first) / span;
  }
  const auto clockText = [](int64_t seconds) {
    const int64_t second = (seconds % 86400 + 86400) % 86400;
    char text[16];
    std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64 ":%02" PRId64, second / 3600, second / 60 % 60,
                  second % 60);
    return std::string(text);
  };
  if (span == 0) {
    chart.timeTicks.push_back({0.5, utcText(*first, true, true)});
  } else if (span < kThreeMinutes) {
    chart.timeTicks.push_back({kFirstX, clockText(*first)});
    chart.timeTicks.push_back({kLastX, clockText(*last)});
  } else {
    const bool withYear = span >= kTwoDays;
    chart.timeTicks.push_back({kFirstX, utcText(*first, withYear, !withYear)});
    chart.timeTicks.push_back({0.5, utcText(*first + span / 2, withYear, !withYear)});
    chart.timeTicks.push_back({kLastX, utcText(*last, withYear, !withYear)});
  }
  const auto [least, most] = std::minmax_element(chart.points.begin(), chart.points.end(),
                                                 [](const HistoryPoint& a, const HistoryPoint& b) { return a.value < b.value; });
  placeValues(chart, least->value, most->value, wholeNumbers);
  return chart;
}

HistoryModel::HistoryModel(const DriveRecord& record, int shownDriveNumber)
    : m_model(trimmedField(record.model, sizeof record.model)),
      m_serial(trimmedField(record.serialNumber, sizeof record.serialNumber)),
      m_driveNumber(shownDriveNumber) {}

HistoryModel::HistoryModel(const DriveRecord& record, int shownDriveNumber, std::optional<StoredDrive> drive,
                           std::vector<StoredRun> runs, std::vector<StoredSnapshot> snapshots, std::string storeNote)
    : HistoryModel(record, shownDriveNumber) {
  m_drive = std::move(drive);
  m_runs = std::move(runs);
  m_snapshots = std::move(snapshots);
  m_storeNote = std::move(storeNote);
}

HistoryModel HistoryModel::withoutStore(const DriveRecord& record, int shownDriveNumber, std::string why) {
  HistoryModel model(record, shownDriveNumber);
  model.m_storeOpen = false;
  model.m_storeNote = why.empty() ? "The drives' history could not be opened." : std::move(why);
  return model;
}

std::string HistoryModel::title() const { return "History - Physical Drive " + std::to_string(m_driveNumber); }

std::string HistoryModel::heading() const {
  std::string text = m_model + " (serial " + m_serial + ")";
  if (!hasHistory()) return text;
  // Since the oldest record: a run kept before the drive's row was brought up to date
  // (another program's clock, a copied file) counts from its own time. ISO times order as
  // text.
  std::string since = m_drive ? m_drive->firstSeen : std::string();
  if (!m_runs.empty() && (since.empty() || m_runs.front().started < since)) since = m_runs.front().started;
  if (!m_snapshots.empty() && (since.empty() || m_snapshots.front().taken < since)) since = m_snapshots.front().taken;
  text += ": " + std::to_string(m_runs.size()) + (m_runs.size() == 1 ? " run" : " runs") + " kept since " +
          shownTime(since) + " UTC";
  return text;
}

std::vector<std::string> HistoryModel::notes() const {
  std::vector<std::string> notes;
  if (!m_storeNote.empty()) notes.push_back(m_storeNote);
  if (m_storeOpen && !hasHistory()) notes.push_back("No run of this drive has been kept yet.");
  return notes;
}

std::vector<std::string> HistoryModel::runColumns() {
  // The failure's sentence last, where the row has room for it.
  return {"Started (UTC)", "Kind", "Outcome", "Bad sectors", "Latency p50 / p99 / max (ms)", "Erase method",
          "Read-back", "Message"};
}

std::vector<HistoryRunRow> HistoryModel::runRows() const {
  std::vector<HistoryRunRow> rows;
  for (auto run = m_runs.rbegin(); run != m_runs.rend(); ++run) {
    rows.push_back({{shownTime(run->started), kindWord(run->kind), outcomeText(*run), std::to_string(run->badSectors),
                     latencyText(*run), run->eraseMethod, run->verification,
                     run->outcome == "FAIL" ? run->errorMessage : std::string()},
                    run->outcome == "FAIL"});
  }
  return rows;
}

std::vector<HistoryChart> HistoryModel::charts() const {
  std::vector<HistoryChart> charts;
  const auto add = [&charts](std::string name, std::string unit, const Samples& samples, bool wholeNumbers) {
    if (samples.empty()) return;
    HistoryChart chart = historyChart(std::move(name), std::move(unit), samples, wholeNumbers);
    if (!chart.points.empty()) charts.push_back(std::move(chart));
  };
  // One series from every reading that holds the value.
  const auto series = [this](const auto& valueOf) {
    Samples samples;
    for (const StoredSnapshot& snapshot : m_snapshots) {
      if (const std::optional<double> value = valueOf(snapshot)) samples.emplace_back(snapshot.taken, *value);
    }
    return samples;
  };
  const auto count = [&series](int32_t id) {
    return series([id](const StoredSnapshot& s) -> std::optional<double> {
      const std::optional<uint64_t> value = attributeCount(s, id);
      return value ? std::optional<double>(static_cast<double>(*value)) : std::nullopt;
    });
  };
  const auto health = [&series](double (*field)(const StoredNvmeHealth&)) {
    return series([field](const StoredSnapshot& s) {
      return s.nvme ? std::optional<double>(field(*s.nvme)) : std::nullopt;
    });
  };
  add("Reallocated sectors", "sectors", count(kReallocatedSectors), true);
  add("Current pending sectors", "sectors", count(kPendingSectors), true);
  add("Offline uncorrectable sectors", "sectors", count(kOfflineUncorrectable), true);
  add("Percentage used", "%", health([](const StoredNvmeHealth& h) { return double(h.percentageUsed); }), true);
  add("Available spare", "%", health([](const StoredNvmeHealth& h) { return double(h.availableSpare); }), true);
  add("Media errors", "errors", health([](const StoredNvmeHealth& h) { return double(h.mediaErrors); }), true);
  add("Temperature", "\u00B0C", series([](const StoredSnapshot& s) -> std::optional<double> {
        const std::optional<int32_t> celsius = snapshotTemperature(s);
        return celsius ? std::optional<double>(*celsius) : std::nullopt;
      }), true);
  add("Power-on hours", "hours", series([](const StoredSnapshot& s) -> std::optional<double> {
        if (s.nvme) return static_cast<double>(s.nvme->powerOnHours);
        const std::optional<uint64_t> hours = attributeCount(s, kPowerOnHours);
        return hours ? std::optional<double>(static_cast<double>(*hours)) : std::nullopt;
      }), true);
  const auto latency = [this](std::optional<double> StoredRun::*field) {
    Samples samples;
    for (const StoredRun& run : m_runs) {
      if (run.*field) samples.emplace_back(run.started, *(run.*field));
    }
    return samples;
  };
  add("Scan latency p50", "ms", latency(&StoredRun::latencyP50Ms), false);
  add("Scan latency p99", "ms", latency(&StoredRun::latencyP99Ms), false);
  return charts;
}

std::string HistoryModel::chartsNote() const {
  if (!charts().empty()) return {};
  return "No reading of this drive's attributes and no scan's block times have been kept yet.";
}

std::vector<HistoryChangeRow> HistoryModel::changeRows() const {
  std::vector<HistoryChangeRow> rows;
  const std::vector<TimedChange> changes = changeHistory(m_snapshots, m_runs);
  for (auto change = changes.rbegin(); change != changes.rend(); ++change) {
    rows.push_back({shownTime(change->when), change->change.text,
                    change->change.severity == ChangeSeverity::Critical});
  }
  return rows;
}

std::string HistoryModel::changesNote() const {
  if (m_snapshots.size() < 2) return "A change shows once two readings of the drive have been kept.";
  if (!changeRows().empty()) return {};
  return "Nothing worsened from one reading of this drive to the next.";
}

HistoryModel historyOf(HistoryStore* store, const std::string& storeNote, const DriveRecord& record,
                       int shownDriveNumber) {
  if (store == nullptr) return HistoryModel::withoutStore(record, shownDriveNumber, storeNote);
  std::optional<StoredDrive> drive = store->findDrive(trimmedField(record.model, sizeof record.model),
                                                      trimmedField(record.serialNumber, sizeof record.serialNumber));
  if (!drive) return HistoryModel(record, shownDriveNumber, std::nullopt, {}, {}, storeNote);
  std::vector<StoredRun> runs = store->runsOf(drive->id);
  std::vector<StoredSnapshot> snapshots = store->snapshotsOf(drive->id);
  return HistoryModel(record, shownDriveNumber, std::move(drive), std::move(runs), std::move(snapshots), storeNote);
}

}  // namespace palvoro
