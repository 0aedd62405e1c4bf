#include "app/cli_watch.h"

#include <CLI/CLI.hpp>
#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/cli.h"
#include "app/cli_metrics.h"
#include "app/cli_report.h"
#include "app/console_text.h"
#include "app/desktop_notification.h"
#include "app/metrics_textfile.h"
#include "discovery/drive_record.h"
#include "discovery/property_page.h"
#include "service/drive_snapshot.h"
#include "service/self_test_start.h"
#include "store/drive_changes.h"
#include "store/history_store.h"

namespace palvoro {
using namespace cli;
namespace {

// What the watch found of one drive.
struct WatchedDrive {
  int number = 0;  // as listed, 1 up
  std::string model;
  std::string serial;
  bool read = false;  // a reading was taken and kept
  std::vector<DriveChange> changes;
  std::string selfTest;  // what became of a due self-test; "" when none was due
};

// Whether the drive's self-test is due: none started by a watch yet, or the last too long ago.
bool selfTestDue(HistoryStore& store, int64_t driveId, int64_t everySeconds) {
  const std::optional<std::string> last = store.lastSelfTestStart(driveId);
  const std::optional<int64_t> lastSeconds = last ? epochSecondsOf(*last) : std::nullopt;
  return !lastSeconds || static_cast<int64_t>(std::time(nullptr)) - *lastSeconds >= everySeconds;
}

WatchedDrive watchDrive(Session& session, HistoryStore& store, int index, std::optional<int64_t> selfTestEvery) {
  const DriveRecord& r = session.driveTable().records[index];
  WatchedDrive watched{index + 1, trimmedField(r.model, sizeof r.model), trimmedSerial(r), false, {}, {}};
  std::optional<StoredSnapshot> now = readDriveSnapshot(session, r);
  if (!now) return watched;
  const std::optional<int64_t> driveId = store.driveKey(watched.model, watched.serial, "", busTypeName(r.busType));
  if (!driveId) return watched;
  const DrivePast past = drivePastOf(store.snapshotsOf(*driveId), store.runsOf(*driveId), "");
  watched.changes = whatChanged(past, &*now, nullptr);
  now->driveId = *driveId;
  watched.read = store.recordSnapshot(*now).has_value();
  if (selfTestEvery && selfTestDue(store, *driveId, *selfTestEvery)) {
    const SelfTestStart start = startShortSelfTest(session, r);
    watched.selfTest = selfTestStartText(start);
    if (start == SelfTestStart::Started) (void)store.recordSelfTestStart(*driveId, utcTimeText());
  }
  return watched;
}

std::string driveName(const WatchedDrive& d) {
  return "Drive " + std::to_string(d.number) + ", " + d.model + " (serial " + d.serial + ")";
}

Json watchedJson(const WatchedDrive& d) {
  return {{"number", d.number},
          {"model", d.model},
          {"serial", d.serial},
          {"read", d.read},
          {"changes", changesJson(d.changes)},
          {"self_test", d.selfTest.empty() ? Json(nullptr) : Json(d.selfTest)}};
}

void watchedText(const WatchedDrive& d, std::ostream& out) {
  out << driveName(d) << ": ";
  if (!d.read) out << "not read (no SMART data on this path).\n";
  else if (d.changes.empty()) out << "nothing worsened.\n";
  else out << d.changes.size() << " change(s).\n";
  for (const DriveChange& c : d.changes) out << "  " << c.text << "\n";
  if (!d.selfTest.empty()) out << "  Short self-test: " << d.selfTest << ".\n";
}

// Each change once more for the journal, at its priority: `journalctl -p warning` then shows
// exactly what worsened.
void journalLines(const std::vector<WatchedDrive>& drives, std::ostream& err) {
  for (const WatchedDrive& d : drives) {
    for (const DriveChange& c : d.changes) {
      err << "<" << static_cast<int>(c.severity) << ">" << driveName(d) << ": " << c.text << "\n";
    }
  }
}

// A notification per drive that worsened, urgent when a change is critical. One that no
// service shows costs the watch nothing.
void notifyWorsened(const std::vector<WatchedDrive>& drives) {
  for (const WatchedDrive& d : drives) {
    if (d.changes.empty()) continue;
    std::string body;
    bool critical = false;
    for (const DriveChange& c : d.changes) {
      body.append(body.empty() ? "" : "\n").append(c.text);
      critical = critical || c.severity == ChangeSeverity::Critical;
    }
    (void)notifyDesktop(driveName(d) + " worsened", body, critical);
  }
}

}  // namespace

std::optional<int64_t> durationSeconds(const std::string& text) {
  if (text.size() < 2) return std::nullopt;
  int64_t unit = 0;
  switch (text.back()) {
    case 's': unit = 1; break;
    case 'm': unit = 60; break;
    case 'h': unit = 3600; break;
    case 'd': unit = 86400; break;
    case 'w': unit = 7 * 86400; break;
    default: return std::nullopt;
  }
  const std::string digits = text.substr(0, text.size() - 1);
  // At most a hundred years of seconds fit in any count written here.
  if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const int64_t count = std::stoll(digits);
  if (count == 0) return std::nullopt;
  return count * unit;
}

bool stderrIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  uintmax_t device = 0;
  uintmax_t inode = 0;
  if (stream == nullptr || std::sscanf(stream, "%ju:%ju", &device, &inode) != 2) return false;
  struct stat st {};
  return fstat(2, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

WatchCommand::WatchCommand(CLI::App& app) {
  m_watch = app.add_subcommand("watch", "Read every drive's SMART state, keep it, and report what worsened");
  m_watch
      ->add_option("--self-test-every", m_selfTestEvery,
                   "Start a drive's short self-test when the last one a watch started is older than this (7d, 24h, "
                   "90m); the watch does not wait for it, the next one reads its result")
      ->type_name("DURATION")
      ->check([](const std::string& text) {
        return durationSeconds(text) ? std::string() : "a duration is a count and a unit: 45s, 90m, 24h, 7d, 2w";
      });
  m_watch->add_option("--textfile", m_textfile,
                      "Afterwards write the metrics to DIR/palvoro.prom for node_exporter's textfile collector")
      ->type_name("DIR");
}

bool WatchCommand::parsed() const { return m_watch->parsed(); }

int WatchCommand::run(const CliOptions& options, Session& session, std::ostream& out, std::ostream& err) const {
  StoreOpen opened = HistoryStore::open(stateDirOf(options));
  if (!opened.store) return fail(options, out, err, kCliUsage, opened.message);
  if (!opened.message.empty()) err << "palvoro-cli: " << opened.message << "\n";
  HistoryStore& store = *opened.store;
  const std::optional<int64_t> every = durationSeconds(m_selfTestEvery);
  std::vector<WatchedDrive> drives;
  bool worsened = false;
  for (int i = 0; i < session.driveTable().driveCount(); ++i) {
    drives.push_back(watchDrive(session, store, i, every));
    worsened = worsened || !drives.back().changes.empty();
  }
  if (stderrIsJournal()) journalLines(drives, err);
  if (worsened && sessionBusNamed()) notifyWorsened(drives);
  std::string textfileError;
  if (!m_textfile.empty()) {
    textfileError = textfileRefusal(writeTextfile(m_textfile, metricsText(driveMetricsOf(store))), m_textfile);
  }
  const int status = worsened ? kCliWorsened : !textfileError.empty() ? kCliUsage : kCliOk;
  if (!textfileError.empty()) err << "palvoro-cli: " << textfileError << "\n";
  if (options.json) {
    Json list = Json::array();
    for (const WatchedDrive& d : drives) list.push_back(watchedJson(d));
    out << jsonText(Json{{"schema_version", kCliSchemaVersion},
                         {"drives", list},
                         {"worsened", worsened},
                         {"textfile", m_textfile.empty() || !textfileError.empty()
                                          ? Json(nullptr)
                                          : Json(inFolder(m_textfile, kTextfileName))},
                         {"error", textfileError.empty() ? Json(nullptr) : Json(textfileError)},
                         {"status", status}},
                    2)
        << "\n";
    return status;
  }
  for (const WatchedDrive& d : drives) watchedText(d, out);
  if (drives.empty()) out << "No drive found.\n";
  if (!m_textfile.empty() && textfileError.empty()) out << "Metrics written to " << inFolder(m_textfile, kTextfileName) << ".\n";
  return status;
}

std::unique_ptr<WatchCommand> addWatchCommand(CLI::App& app) { return std::make_unique<WatchCommand>(app); }

}  // namespace palvoro
