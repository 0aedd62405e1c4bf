#include "store/drive_changes.h"

#include <gtest/gtest.h>

namespace palvoro {
namespace {

constexpr const char* kThen = "2026-12-09T14:02:11Z";

StoredSnapshot ata(std::vector<std::pair<int32_t, uint64_t>> raws, const std::string& health = "PASS",
                   std::optional<uint64_t> errors = 3) {
  StoredSnapshot s;
  s.taken = kThen;
  for (const auto& [id, raw] : raws) s.attributes.push_back({id, "", 100, 100, 10, raw});
  s.health = health;
  s.errorCount = errors;
  return s;
}

StoredSnapshot nvme(int32_t used, int32_t spare, uint64_t mediaErrors, int32_t celsius) {
  StoredSnapshot s;
  s.taken = kThen;
  s.nvme = StoredNvmeHealth{used, spare, mediaErrors, celsius, 1000, 4};
  s.health = "PASS";
  return s;
}

StoredRun scan(const std::string& kind, std::vector<uint64_t> histogram, std::optional<double> p99) {
  StoredRun r;
  r.started = kThen;
  r.kind = kind;
  r.latencyHistogram = std::move(histogram);
  r.latencyP99Ms = p99;
  return r;
}

StoredSnapshot withSelfTest(StoredSnapshot s, uint64_t hours, bool failed) {
  s.lastSelfTest = StoredSelfTest{hours, "Short offline", failed ? "Completed: read failure" : "Completed", failed};
  return s;
}

struct ChangeCase {
  const char* name;
  std::vector<StoredSnapshot> earlier;
  std::optional<StoredSnapshot> now;
  std::vector<StoredRun> earlierRuns;
  std::optional<StoredRun> run;
  std::vector<std::string> texts;  // in the order told
};

TEST(DriveChanges, TellsWhatWorsenedAndNothingElse) {
  const std::vector<uint64_t> fast = {1000, 0, 0, 0, 0, 0, 0};
  const std::vector<uint64_t> slower = {990, 0, 0, 0, 6, 4, 0};
  const ChangeCase cases[] = {
      {"first reading: nothing to set it against", {}, ata({{197, 4}}), {}, std::nullopt, {}},
      {"counts rise: the low four bytes count",
       {ata({{5, 24}, {197, 4}, {198, 0}})},
       ata({{5, 30 | (7ull << 32)}, {197, 9}, {198, 1}}),
       {},
       std::nullopt,
       {"Reallocated sectors rose from 24 to 30 since 2026-12-09 14:02 UTC.",
        "Current pending sectors rose from 4 to 9 since 2026-12-09 14:02 UTC.",
        "Offline uncorrectable sectors rose from 0 to 1 since 2026-12-09 14:02 UTC."}},
      {"counts fall or stay, an attribute appears: no news",
       {ata({{5, 24}, {197, 4}})},
       ata({{5, 24}, {197, 0}, {198, 2}}),
       {},
       std::nullopt,
       {}},
      {"verdict, a new failed self-test, new errors: the critical ones first",
       {withSelfTest(ata({}, "PASS", 3), 800, false)},
       withSelfTest(ata({}, "FAIL", 5), 812, true),
       {},
       std::nullopt,
       {"The drive's own health verdict turned to FAIL since 2026-12-09 14:02 UTC: back up its data.",
        "A new Short offline self-test failed (Completed: read failure) at power-on hour 812.",
        "The drive logged 2 new errors since 2026-12-09 14:02 UTC (5 in its life)."}},
      {"the same failed self-test again is no news",
       {withSelfTest(ata({}), 812, true)},
       withSelfTest(ata({}), 812, true),
       {},
       std::nullopt,
       {}},
      {"NVMe wear, spare and media errors, and a temperature record",
       {nvme(3, 100, 0, 52), nvme(4, 100, 0, 40)},
       nvme(6, 90, 2, 55),
       {},
       std::nullopt,
       {"Wear (percentage used) rose from 4% to 6% since 2026-12-09 14:02 UTC.",
        "Available spare fell from 100% to 90% since 2026-12-09 14:02 UTC.",
        "Media and data integrity errors rose from 0 to 2 since 2026-12-09 14:02 UTC.",
        "The drive reached 55 °C, the highest of its history (52 °C before)."}},
      {"a slower scan of the same kind",
       {},
       std::nullopt,
       {scan("extended", fast, 5.0)},
       scan("extended", slower, 500.0),
       {"Blocks that took 150 ms or more rose from 0 to 10 since 2026-12-09 14:02 UTC.",
        "The scan's 99th-percentile block time rose from 5 ms to 500 ms since 2026-12-09 14:02 UTC."}},
      {"a quick scan is not set against an extended one",
       {},
       std::nullopt,
       {scan("extended", fast, 5.0)},
       scan("quick", slower, 500.0),
       {}},
      {"a percentile one bucket up on a fast drive is no news",
       {},
       std::nullopt,
       {scan("extended", fast, 5.0)},
       scan("extended", fast, 10.0),
       {}},
  };
  for (const ChangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const DrivePast past = drivePastOf(c.earlier, c.earlierRuns, c.run ? c.run->kind : std::string());
    std::vector<std::string> told;
    for (const DriveChange& change : whatChanged(past, c.now ? &*c.now : nullptr, c.run ? &*c.run : nullptr)) {
      told.push_back(change.text);
    }
    EXPECT_EQ(told, c.texts);
  }
}

// The history's account, reading by reading: each set against the ones before it.
TEST(DriveChanges, HistoryTellsEachReadingAgainstTheOnesBefore) {
  std::vector<StoredSnapshot> readings = {ata({{197, 4}}), ata({{197, 9}}), ata({{197, 9}}), ata({{197, 12}})};
  for (size_t i = 0; i < readings.size(); ++i) readings[i].taken = "2026-12-0" + std::to_string(i + 1) + "T10:00:00Z";
  const std::vector<TimedChange> history = changeHistory(readings, {});
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].when, "2026-12-02T10:00:00Z");
  EXPECT_EQ(history[0].change.key, "pending_sectors");
  EXPECT_EQ(history[1].change.text, "Current pending sectors rose from 9 to 12 since 2026-12-03 10:00 UTC.");
}

}  // namespace
}  // namespace palvoro
