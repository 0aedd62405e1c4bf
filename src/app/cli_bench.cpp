#include "app/cli_bench.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "app/console_bench.h"
#include "app/console_loop.h"
#include "app/console_text.h"
#include "app/drive_naming.h"
#include "device/drive_requests.h"
#include "discovery/detection.h"
#include "discovery/volumes.h"
#include "diagnostics/run_event_texts.h"
#include "diagnostics/run_messages.h"
#include "results/pdf/certificate_files.h"
#include "service/bench.h"

namespace palvoro::cli {
namespace {

// How often a bench looks for drives plugged in meanwhile.
constexpr double kPlugLookSeconds = 2.0;

// "drive 4 (Kestrel KX1000, 1000.20 GB, serial KX10007731)"
std::string driveDescription(const DriveTable& table, int index) {
  const DriveRecord& r = table.records[index];
  return "drive " + std::to_string(index + 1) + " (" + std::string(r.model) + ", " + capacityText(r) + ", serial " +
         trimmedSerial(r) + ")";
}

// Why --all leaves a drive out; "" when it takes it.
std::string leftOutReason(Session& context, const DriveRecord& r, int systemDrive) {
  if (r.physicalDriveNumber == systemDrive) return "it holds the running system";
  const std::vector<std::string> volumes = volumeNames(context.platform(), r);
  if (!volumes.empty()) return "it holds mounted file systems (" + volumesText(volumes) + ")";
  return "";
}

// Where a status stands among the others: the higher, the more the user must know of it.
int severity(int status) {
  switch (status) {
    case kCliOk: return 0;
    case kCliRefused: return 1;
    case kCliNoPrivilege: return 2;
    case kCliUsage: return 3;
    case kCliNotFound: return 4;
    case kCliDriveFailed: return 5;
    default: return 6;
  }
}

// A bench's box in the report, as a single run's boxes are given.
Json boxJson(const BenchBox& box, const DriveTable& table) {
  std::optional<int> drive;
  if (box.purpose.destroysData()) {
    for (int i = 0; i < table.driveCount(); ++i) {
      if (table.records[i].physicalDriveNumber == box.purpose.drive) drive = i + 1;
    }
  }
  return askedBoxJson({box.caption, box.text, box.purpose, drive, answerWord(box.answer), box.by});
}

// What a box says on the terminal, tagged with its drive.
std::string boxLine(int number, const BenchBox& box) {
  std::string line = "drive " + std::to_string(number) + ": [" + box.caption + "] " + box.text;
  if (box.by != "message") line += "  -> " + std::string(answerWord(box.answer)) + " (" + box.by + ")";
  return line;
}

void summaryText(const std::vector<std::unique_ptr<BenchDrive>>& drives, const std::vector<int>& indexes,
                 const DriveTable& table, const std::vector<int>& statuses, std::ostream& out) {
  out << "Summary:\n";
  char line[160];
  std::snprintf(line, sizeof line, "  %5s  %-20s  %-16s  %8s  %s\n", "drive", "model", "serial", "time", "outcome");
  out << line;
  for (size_t i = 0; i < drives.size(); ++i) {
    const DriveRecord& r = table.records[indexes[i]];
    const BenchRowState state = drives[i]->row.state();
    const std::string time = state.elapsedSeconds ? elapsedClock(*state.elapsedSeconds) : "-";
    std::string outcome = state.outcome;
    if (state.badSectors != 0) outcome += " (" + std::to_string(state.badSectors) + " bad sectors)";
    std::snprintf(line, sizeof line, "  %5d  %-20.20s  %-16.16s  %8s  ", indexes[i] + 1, r.model,
                  trimmedSerial(r).c_str(), time.c_str());
    out << line << outcome << "  [status " << statuses[i] << "]\n";
  }
}

}  // namespace

BenchChoice chooseBenchDrives(Session& context, const BenchNames& names) {
  BenchChoice choice;
  const DriveTable& table = context.driveTable();
  const auto add = [&choice](int index) {
    if (std::find(choice.indexes.begin(), choice.indexes.end(), index) == choice.indexes.end()) {
      choice.indexes.push_back(index);
    }
  };
  for (const int number : names.numbers) {
    if (number < 1 || number > table.driveCount()) {
      choice.refusal = "there is no drive " + std::to_string(number) + " (" + std::to_string(table.driveCount()) +
                       " drive(s) found)";
      choice.status = kCliNotFound;
      return choice;
    }
    add(number - 1);
  }
  for (const std::string& serial : names.serials) {
    const NamedDrive named = driveBySerial(table, serial, "--confirm-erase");
    if (named.outcome != NamedDrive::Outcome::Named) {
      choice.refusal = named.message;
      choice.status = named.outcome == NamedDrive::Outcome::Ambiguous ? kCliUsage : kCliNotFound;
      return choice;
    }
    add(named.index);
  }
  if (names.all) {
    const int systemDrive = systemDriveNumber(context.platform());
    for (int i = 0; i < table.driveCount(); ++i) {
      const std::string reason = leftOutReason(context, table.records[i], systemDrive);
      if (reason.empty()) {
        add(i);
      } else if (std::find(choice.indexes.begin(), choice.indexes.end(), i) == choice.indexes.end()) {
        choice.leftOut.push_back({i, reason});
      }
    }
  }
  if (choice.indexes.empty() && !names.watch) {
    choice.refusal = names.all ? "--all leaves out every drive: each holds the running system or a mounted file system"
                               : "no drive is named";
    choice.status = kCliNotFound;
  }
  return choice;
}

std::string benchConfirmationRefusal(const DriveTable& table, const std::vector<int>& indexes,
                                     const std::vector<std::string>& confirmations, bool watch) {
  std::set<int> confirmed;
  for (const std::string& given : confirmations) {
    const NamedDrive named = driveByConfirmation(table, given, "--confirm-erase");
    if (named.outcome == NamedDrive::Outcome::Ambiguous) return "--confirm-erase: " + named.message;
    // A drive still to come is named by its serial number: the number form names a drive
    // as it is listed now.
    if (named.outcome == NamedDrive::Outcome::NoSuch && watch && !named.byNumber) continue;
    if (named.outcome == NamedDrive::Outcome::NoSuch) {
      return "--confirm-erase " + given + " names no drive" + (named.message.empty() ? "" : ": " + named.message) +
             "; nothing is erased";
    }
    if (std::find(indexes.begin(), indexes.end(), named.index) == indexes.end()) {
      return "--confirm-erase " + given + " names " + driveDescription(table, named.index) +
             ", which is not among the drives to erase; nothing is erased";
    }
    confirmed.insert(named.index);
  }
  std::string missing;
  for (const int index : indexes) {
    if (confirmed.count(index) != 0) continue;
    missing += (missing.empty() ? "" : ", ") + driveDescription(table, index);
  }
  if (missing.empty()) return "";
  return "each drive to erase needs a --confirm-erase of its own, with its serial number: " + missing +
         (missing.find("), drive ") == std::string::npos ? " is" : " are") + " not confirmed; nothing is erased";
}

int worstStatus(const std::vector<int>& statuses) {
  int worst = kCliOk;
  for (const int status : statuses) {
    if (severity(status) > severity(worst)) worst = status;
  }
  return worst;
}

namespace {

// One bench from its list of drives to its report: the drives' requests, the rows while
// they run, and what each came to. With --watch the list grows as drives are plugged in.
class Bench {
 public:
  Bench(AppContext& context, const CliOptions& options, BenchChoice choice, const CliTerminal& terminal,
        std::ostream& err)
      : m_context(context),
        m_options(options),
        m_choice(std::move(choice)),
        m_terminal(terminal),
        m_now(clockOf(terminal)),
        m_screen(err, styleOf(options, terminal), terminal.columns, m_now),
        m_service(context, m_clock, options.history.get()) {}

  ~Bench() {
    for (std::thread& t : m_threads) t.join();
  }

  // What the user reads before anything starts: the drives left out, the drives to erase.
  void announce() {
    const DriveTable& table = m_context.driveTable();
    for (const LeftOut& left : m_choice.leftOut) {
      m_screen.say("palvoro-cli: --all leaves out " + driveDescription(table, left.index) + ": " + left.reason + ".");
    }
    if (erase() && !m_choice.indexes.empty()) {
      m_screen.say("About to erase " + std::to_string(m_choice.indexes.size()) + " drive(s):");
      for (const int index : m_choice.indexes) m_screen.say("  " + driveDescription(table, index));
    }
    if (m_options.named.watch) {
      m_screen.say(std::string("palvoro-cli: watching for drives plugged in") +
                   (erase() ? " (erased only when a --confirm-erase named their serial number)" : "") +
                   "; Ctrl-C ends the watch.");
    }
  }

  // Runs every drive and shows the rows until the last has ended (and with --watch until
  // Ctrl-C); Ctrl-C stops them all.
  void run() {
    InterruptGuard interrupts;
    m_loop.forgetInterrupts();
    m_loop.onInterrupt([this](int count) {
      m_stop = true;
      m_screen.say(count == 1 ? "palvoro-cli: stopping every run; each drive ends its current command first."
                              : "palvoro-cli: still stopping; waiting for the drives.");
    });
    for (const int index : m_choice.indexes) {
      if (erase()) confirm(index);
      start(index);
    }
    for (const int drive : m_context.platform().physicalDriveNumbers()) {
      m_known[drive] = driveInstanceAt(m_context.platform(), drive);
    }
    m_lookedAt = m_now();
    m_loop.runUntil([this] {
      m_screen.update(lines(), false);
      lookForNewDrives();
      const bool watching = m_options.named.watch && !m_stop.load();
      return !watching && m_ended == m_drives.size();
    });
    m_loop.onInterrupt(nullptr);
    m_screen.finish(lines());
  }

  int report(std::ostream& out) {
    const DriveTable& table = m_context.driveTable();
    std::vector<int> statuses;
    std::vector<ReportedRun> reports;
    for (size_t i = 0; i < m_drives.size(); ++i) {
      const int index = m_indexes[i];
      reports.push_back(reportedRun(m_drives[i]->outcome, m_options, index, table.records[index], m_pages[i]));
      statuses.push_back(reports.back().status);
    }
    if (erase()) keepCertificates(reports);
    const int status = worstStatus(statuses);
    if (m_options.json) {
      out << jsonText(reportJson(reports, status), 2) << "\n";
    } else {
      for (const ReportedRun& report : reports) reportRunText(report, m_options, out);
      summaryText(m_drives, m_indexes, table, statuses, out);
      for (const std::string& name : m_benchCertificate.files) {
        out << "Bench certificate: " << inFolder(m_benchCertificate.folder, name) << "\n";
      }
    }
    return status;
  }

 private:
  bool erase() const { return m_options.erasing; }

  // Every drive's certificate and the bench's own, which names them all.
  void keepCertificates(std::vector<ReportedRun>& reports) {
    std::vector<ErasureCertificate> drives;
    std::vector<size_t> certified;
    for (size_t i = 0; i < reports.size(); ++i) {
      if (!reports[i].result.certificate) continue;
      drives.push_back(hostedCertificate(*reports[i].result.certificate));
      certified.push_back(i);
    }
    const std::optional<BenchCertificate> summary = benchCertificateOf(drives, m_options.operatorName);
    if (!summary) return;
    const BenchCertificate& bench = *summary;
    const std::string folder = certificateFolderOf(m_options);
    makeCertificateFolder(folder);
    const CertificateFiles files = writeBenchCertificates(bench, folder, m_options.signingKey.get());
    const std::set<std::string> written(files.names.begin(), files.names.end());
    for (size_t k = 0; k < certified.size(); ++k) {
      ReportedRun::Certificate& kept = reports[certified[k]].certificate;
      kept.folder = folder;
      for (const char* extension : {".json", ".pdf"}) {
        const std::string name = certificateFileName(bench.drives[k], extension);
        if (written.count(name) != 0) kept.files.push_back(name);
      }
      kept.refusal = files.message;
    }
    m_benchCertificate = {folder, {}, files.message};
    for (const char* extension : {".json", ".pdf"}) {
      const std::string name = benchCertificateFileName(bench, extension);
      if (written.count(name) != 0) m_benchCertificate.files.push_back(name);
    }
  }

  // The drive at `index` as it is now is the one its confirmation named.
  void confirm(int index) {
    const int drive = m_context.driveTable().records[index].physicalDriveNumber;
    const std::optional<DriveInstance> instance = driveInstanceAt(m_context.platform(), drive);
    std::lock_guard lock(m_confirmedMutex);
    m_confirmed[drive] = instance;
  }

  void start(int index) {
    const DriveRecord& record = m_context.driveTable().records[index];
    Platform& platform = m_context.platform();
    BenchAnswers answers;
    answers.yes = m_options.answers.yes;
    answers.confirmed = [this, &platform](int drive) {
      std::optional<DriveInstance> named;
      {
        std::lock_guard lock(m_confirmedMutex);
        const auto found = m_confirmed.find(drive);
        if (found == m_confirmed.end()) return false;
        named = found->second;
      }
      return named && driveInstanceAt(platform, drive) == named;
    };
    const int number = index + 1;
    auto told = [this, number](const BenchBox& box) {
      m_loop.post([this, number, box] { m_screen.say(boxLine(number, box)); });
    };
    const auto sectorSize = static_cast<uint32_t>(std::max(record.sectorSize, 512));
    m_context.makeRoomForRuns(1);
    m_drives.push_back(std::make_unique<BenchDrive>(runRequestOf(m_context, index, m_options), sectorSize, m_now,
                                                    std::move(answers), std::move(told)));
    m_indexes.push_back(index);
    m_names.push_back({record.model, trimmedSerial(record)});
    m_pages.emplace_back();
    const size_t i = m_drives.size() - 1;
    m_threads.push_back(startBenchDrive(m_service, *m_drives[i], m_clock,
                                        std::chrono::milliseconds(m_terminal.timerMilliseconds), m_stop, [this, i] {
      // Each drive's block reaches the page as soon as its run is over, so a drive that
      // ended is on record whatever becomes of the others.
      m_loop.post([this, i] {
        m_pages[i] = keepResultPage(m_context, m_options, m_drives[i]->outcome);
        ++m_ended;
      });
    }));
  }

  std::vector<BenchLine> lines() const {
    std::vector<BenchLine> shown;
    for (size_t i = 0; i < m_drives.size(); ++i) {
      shown.push_back({m_indexes[i] + 1, m_names[i].first, m_names[i].second, m_drives[i]->row.state()});
    }
    return shown;
  }

  // A drive plugged in meanwhile is named; --watch starts it too. Only the new drive is
  // probed: a re-scan would put its commands between those of the drives under test.
  void lookForNewDrives() {
    if (m_now() - m_lookedAt < kPlugLookSeconds) return;
    m_lookedAt = m_now();
    Platform& platform = m_context.platform();
    for (const int drive : platform.physicalDriveNumbers()) {
      const std::optional<DriveInstance> instance = driveInstanceAt(platform, drive);
      const auto known = m_known.find(drive);
      if (known != m_known.end() && known->second == instance) continue;
      m_known[drive] = instance;
      const std::optional<DriveRecord> record = detectDrive(m_context.probeEnvironment(), drive);
      if (!record) continue;
      int index = 0;
      {
        std::lock_guard lock(m_context.tableMutex());
        DriveTable& table = m_context.driveTable();
        table.records.push_back(*record);
        mapVolumes(platform, table);
        index = table.driveCount() - 1;
      }
      plugged(index);
    }
  }

  void plugged(int index) {
    const DriveTable& table = m_context.driveTable();
    const std::string described = driveDescription(table, index);
    const std::string reason = leftOutReason(m_context, table.records[index], systemDriveNumber(m_context.platform()));
    std::string why;
    if (!m_options.named.watch || m_stop.load()) {
      why = "it is not started";
    } else if (!reason.empty()) {
      why = "it is not started: " + reason;
    } else if (erase() && !serialNamed(index)) {
      why = "it is not erased: no --confirm-erase named its serial number";
    }
    m_screen.say("palvoro-cli: a drive was plugged in: " + described + (why.empty() ? "; it is started." : "; " + why + "."));
    if (!why.empty()) return;
    if (erase()) confirm(index);
    start(index);
  }

  // Whether a --confirm-erase names the drive at `index` by its serial number, which no
  // other drive reports.
  bool serialNamed(int index) const {
    const DriveTable& table = m_context.driveTable();
    for (const std::string& given : m_options.named.confirmations) {
      const NamedDrive named = driveByConfirmation(table, given, "--confirm-erase");
      if (named.outcome == NamedDrive::Outcome::Named && !named.byNumber && named.index == index) return true;
    }
    return false;
  }

  Json benchCertificateJson() const {
    if (m_benchCertificate.folder.empty()) return nullptr;
    Json files = Json::array();
    for (const std::string& name : m_benchCertificate.files) files.push_back(inFolder(m_benchCertificate.folder, name));
    return {{"files", files},
            {"refused", m_benchCertificate.refusal.empty() ? Json(nullptr) : Json(m_benchCertificate.refusal)}};
  }

  Json reportJson(const std::vector<ReportedRun>& reports, int status) {
    const DriveTable& table = m_context.driveTable();
    Json list = Json::array();
    for (size_t i = 0; i < m_drives.size(); ++i) {
      Json doc = runReportJson(reports[i], m_context, m_options);
      doc.erase("schema_version");
      Json asked = Json::array();
      for (const BenchBox& box : m_drives[i]->prompter.boxes()) asked.push_back(boxJson(box, table));
      doc["questions"] = asked;
      doc["status"] = reports[i].status;
      list.push_back(doc);
    }
    Json leftOut = Json::array();
    for (const LeftOut& left : m_choice.leftOut) {
      leftOut.push_back(
          {{"drive", driveJson(m_context.platform(), left.index, table.records[left.index])}, {"reason", left.reason}});
    }
    return Json{{"schema_version", kCliSchemaVersion},
                {"command", erase() ? "erase" : "test"},
                {"test_option", testKindWord(erase() ? kTestKindErase
                                             : m_options.testKind == "extended" ? kTestKindExtended
                                                                                : kTestKindQuick)},
                {"erase_mode", erase() && !m_options.eraseMode.empty() ? Json(m_options.eraseMode) : Json(nullptr)},
                {"erase_method", erase() ? Json(m_options.eraseMethod.empty() ? "overwrite" : m_options.eraseMethod) : Json(nullptr)},
                {"drives", list},
                {"bench_certificate", benchCertificateJson()},
                {"left_out", leftOut},
                {"status", status}};
  }

  AppContext& m_context;
  const CliOptions& m_options;
  const BenchChoice m_choice;
  const CliTerminal& m_terminal;
  const std::function<double()> m_now;
  ConsoleLoop m_loop;
  BenchScreen m_screen;
  SystemTestClock m_clock;
  RunService m_service;
  std::atomic<bool> m_stop{false};
  std::mutex m_confirmedMutex;
  std::map<int, std::optional<DriveInstance>> m_confirmed;  // by drive number, as each was confirmed
  // One of each per drive started, in order; only the loop's thread adds to them.
  std::vector<std::unique_ptr<BenchDrive>> m_drives;
  std::vector<int> m_indexes;
  std::vector<std::pair<std::string, std::string>> m_names;  // model and serial, as listed
  std::vector<ReportedRun::Page> m_pages;
  ReportedRun::Certificate m_benchCertificate;  // the summary of an erase bench
  std::vector<std::thread> m_threads;
  size_t m_ended = 0;
  std::map<int, std::optional<DriveInstance>> m_known;  // the drives seen at each number
  double m_lookedAt = 0;
};

}  // namespace

int benchCommand(AppContext& context, const CliOptions& options, const BenchNames& names, const CliTerminal& terminal,
                 std::ostream& out, std::ostream& err) {
  BenchChoice choice = chooseBenchDrives(context, names);
  if (!choice.refusal.empty()) return fail(options, out, err, choice.status, choice.refusal);
  if (options.repair) {
    return fail(options, out, err, kCliUsage,
                "--repair takes one drive: a bench does not repair; run the test again on each drive alone");
  }
  if (options.erasing) {
    const std::string refusal =
        benchConfirmationRefusal(context.driveTable(), choice.indexes, names.confirmations, names.watch);
    if (!refusal.empty()) return fail(options, out, err, kCliUsage, refusal);
  }
  Bench bench(context, options, std::move(choice), terminal, err);
  bench.announce();
  bench.run();
  return bench.report(out);
}

}  // namespace palvoro::cli
