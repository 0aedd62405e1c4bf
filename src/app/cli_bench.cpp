#include "app/cli_bench.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <thread>

#include "app/console_bench.h"
#include "app/console_loop.h"
#include "app/console_text.h"
#include "app/drive_naming.h"
#include "device/drive_requests.h"
#include "diagnostics/run_event_texts.h"
#include "diagnostics/run_messages.h"
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

const char* purposeKey(PromptPurpose::Kind kind) {
  switch (kind) {
    case PromptPurpose::Kind::Information: return "information";
    case PromptPurpose::Kind::Question: return "question";
    case PromptPurpose::Kind::DestroysData: return "destroys_data";
  }
  return "";
}

Json boxJson(const BenchBox& box, const DriveTable& table) {
  Json drive = nullptr;
  if (box.purpose.destroysData()) {
    for (int i = 0; i < table.driveCount(); ++i) {
      if (table.records[i].physicalDriveNumber == box.purpose.drive) drive = i + 1;
    }
  }
  return {{"caption", box.caption}, {"text", box.text},          {"purpose", purposeKey(box.purpose.kind)},
          {"drive", drive},         {"answer", answerWord(box.answer)}, {"answered_by", box.by}};
}

// What a box says on the terminal, tagged with its drive.
std::string boxLine(int number, const BenchBox& box) {
  std::string line = "drive " + std::to_string(number) + ": [" + box.caption + "] " + box.text;
  if (box.by != "message") line += "  -> " + std::string(answerWord(box.answer)) + " (" + box.by + ")";
  return line;
}

// The drives each --confirm-erase named, as they were when named: a drive pulled out and
// another plugged in at its number is not confirmed.
std::map<int, std::optional<DriveInstance>> confirmedDrives(Session& context, const std::vector<int>& indexes) {
  std::map<int, std::optional<DriveInstance>> confirmed;
  for (const int index : indexes) {
    const int drive = context.driveTable().records[index].physicalDriveNumber;
    confirmed[drive] = driveInstanceAt(context.platform(), drive);
  }
  return confirmed;
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
  if (choice.indexes.empty()) {
    choice.refusal = names.all ? "--all leaves out every drive: each holds the running system or a mounted file system"
                               : "no drive is named";
    choice.status = kCliNotFound;
  }
  return choice;
}

std::string benchConfirmationRefusal(const DriveTable& table, const std::vector<int>& indexes,
                                     const std::vector<std::string>& confirmations) {
  std::set<int> confirmed;
  for (const std::string& given : confirmations) {
    const NamedDrive named = driveByConfirmation(table, given, "--confirm-erase");
    if (named.outcome == NamedDrive::Outcome::Ambiguous) return "--confirm-erase: " + named.message;
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

int benchCommand(AppContext& context, const CliOptions& options, const BenchNames& names, const CliTerminal& terminal,
                 std::ostream& out, std::ostream& err) {
  const BenchChoice choice = chooseBenchDrives(context, names);
  if (!choice.refusal.empty()) return fail(options, out, err, choice.status, choice.refusal);
  const bool erase = !options.eraseMode.empty();
  if (options.repair) {
    return fail(options, out, err, kCliUsage,
                "--repair takes one drive: a bench does not repair; run the test again on each drive alone");
  }
  const DriveTable& table = context.driveTable();
  if (erase) {
    const std::string refusal = benchConfirmationRefusal(table, choice.indexes, names.confirmations);
    if (!refusal.empty()) return fail(options, out, err, kCliUsage, refusal);
  }

  ConsoleLoop loop;
  const std::function<double()> now = clockOf(terminal);
  BenchScreen screen(err, styleOf(options, terminal), terminal.columns, now);
  for (const LeftOut& left : choice.leftOut) {
    screen.say("palvoro-cli: --all leaves out " + driveDescription(table, left.index) + ": " + left.reason + ".");
  }
  if (erase) {
    screen.say("About to erase " + std::to_string(choice.indexes.size()) + " drive(s):");
    for (const int index : choice.indexes) screen.say("  " + driveDescription(table, index));
  }

  const std::map<int, std::optional<DriveInstance>> confirmed =
      erase ? confirmedDrives(context, choice.indexes) : std::map<int, std::optional<DriveInstance>>{};
  Platform& platform = context.platform();
  std::vector<std::unique_ptr<BenchDrive>> drives;
  for (const int index : choice.indexes) {
    BenchAnswers answers;
    answers.yes = options.answers.yes;
    answers.confirmed = [&confirmed, &platform](int drive) {
      const auto found = confirmed.find(drive);
      return found != confirmed.end() && found->second && driveInstanceAt(platform, drive) == found->second;
    };
    const int number = index + 1;
    auto told = [&loop, &screen, number](const BenchBox& box) {
      loop.post([&screen, number, box] { screen.say(boxLine(number, box)); });
    };
    drives.push_back(std::make_unique<BenchDrive>(runRequestOf(context, index, options),
                                                  static_cast<uint32_t>(std::max(table.records[index].sectorSize, 512)),
                                                  now, std::move(answers), std::move(told)));
  }
  const auto lines = [&] {
    std::vector<BenchLine> shown;
    for (size_t i = 0; i < drives.size(); ++i) {
      const DriveRecord& r = table.records[choice.indexes[i]];
      shown.push_back({choice.indexes[i] + 1, r.model, trimmedSerial(r), drives[i]->row.state()});
    }
    return shown;
  };

  // From here Ctrl-C stops every run; each ends ABORT with its block written.
  InterruptGuard interrupts;
  loop.forgetInterrupts();
  std::atomic<bool> stop{false};
  loop.onInterrupt([&](int count) {
    stop = true;
    screen.say(count == 1 ? "palvoro-cli: stopping every run; each drive ends its current command first."
                          : "palvoro-cli: still stopping; waiting for the drives.");
  });
  context.makeRoomForRuns(drives.size());
  SystemTestClock clock;
  RunService service(context, clock);
  std::vector<ReportedRun::Page> pages(drives.size());
  bool benchDone = false;
  std::thread bench([&] {
    runBench(service, drives, clock, std::chrono::milliseconds(terminal.timerMilliseconds), stop, [&](size_t i) {
      // Each drive's block reaches the page as soon as its run is over, so a drive that
      // ended is on record whatever becomes of the others.
      loop.post([&, i] { pages[i] = keepResultPage(context, options, drives[i]->outcome); });
    });
    loop.post([&benchDone] { benchDone = true; });
  });
  std::vector<int> present = platform.physicalDriveNumbers();
  double lookedAt = now();
  loop.runUntil([&] {
    screen.update(lines(), false);
    if (now() - lookedAt >= kPlugLookSeconds) {
      lookedAt = now();
      for (const int drive : platform.physicalDriveNumbers()) {
        if (std::find(present.begin(), present.end(), drive) != present.end()) continue;
        present.push_back(drive);
        screen.say("palvoro-cli: a drive was plugged in (\\\\.\\PhysicalDrive" + std::to_string(drive) +
                   "); it is not started.");
      }
    }
    return benchDone;
  });
  bench.join();
  loop.onInterrupt(nullptr);
  screen.finish(lines());

  std::vector<int> statuses;
  std::vector<ReportedRun> reports;
  for (size_t i = 0; i < drives.size(); ++i) {
    const int index = choice.indexes[i];
    reports.push_back(reportedRun(drives[i]->outcome, options, index, table.records[index], pages[i]));
    statuses.push_back(reports.back().status);
  }
  const int status = worstStatus(statuses);
  if (options.json) {
    Json list = Json::array();
    for (size_t i = 0; i < drives.size(); ++i) {
      Json doc = runReportJson(reports[i], context, options);
      doc.erase("schema_version");
      Json asked = Json::array();
      for (const BenchBox& box : drives[i]->prompter.boxes()) asked.push_back(boxJson(box, table));
      doc["questions"] = asked;
      doc["status"] = reports[i].status;
      list.push_back(doc);
    }
    Json leftOut = Json::array();
    for (const LeftOut& left : choice.leftOut) {
      leftOut.push_back({{"drive", driveJson(platform, left.index, table.records[left.index])}, {"reason", left.reason}});
    }
    const int kind = drives.front()->request.kind;
    out << jsonText(Json{{"schema_version", kCliSchemaVersion},
                         {"command", erase ? "erase" : "test"},
                         {"test_option", testKindWord(kind)},
                         {"erase_mode", erase ? Json(options.eraseMode) : Json(nullptr)},
                         {"drives", list},
                         {"left_out", leftOut},
                         {"status", status}},
                    2)
        << "\n";
    return status;
  }
  for (const ReportedRun& report : reports) reportRunText(report, options, out);
  summaryText(drives, choice.indexes, table, statuses, out);
  return status;
}

}  // namespace palvoro::cli
