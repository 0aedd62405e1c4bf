#pragma once
// What palvoro-cli's commands share: the options, a drive as the list and the reports show
// it, and a run's report in text and JSON, whether it ran alone or on a bench.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/cli.h"
#include "app/console_progress.h"
#include "app/console_prompter.h"
#include "results/certificate_signature.h"
#include "results/result_page.h"
#include "service/run_service.h"

namespace palvoro::cli {

using Json = nlohmann::ordered_json;

// What test and erase name: one drive runs alone, several (or --all) as a bench.
struct BenchNames {
  std::vector<int> numbers;                // as listed, 1 up
  std::vector<std::string> serials;        // --serial, repeated
  bool all = false;                        // --all
  std::vector<std::string> confirmations;  // --confirm-erase, repeated
  bool watch = false;                      // --watch: start the same on every drive plugged in

  bool bench() const { return all || watch || numbers.size() + serials.size() > 1 || confirmations.size() > 1; }
};

// What every command was given besides its own arguments.
struct CliOptions {
  std::string machineFile;
  std::string builtin;
  std::string resultsDir;  // where the result page is kept; the user's own folder when empty
  std::string stateDir;    // where the history is kept; the user's own folder when empty
  // The caller handed runCli its machine (a test): without --state-dir it keeps no history,
  // so that no test writes into the user's own.
  bool handedMachine = false;
  // The history the runs are kept in; none when it did not open (the runs go on without).
  std::shared_ptr<HistoryStore> history;
  bool json = false;
  bool quiet = false;
  int driveNumber = -1;  // as listed, 1 up; -1 when not given
  std::string serial;
  std::string testKind;   // test: "quick" or "extended"
  std::string eraseMode;  // erase: "quick" or "full", the overwrite's
  bool erasing = false;   // the command is erase
  std::string eraseMethod;  // erase: --method, a method's name; "" for the overwrite by --mode
  bool liftHpa = false;     // erase: lift a Host Protected Area for the overwrite
  bool restoreHpa = false;  // ... and put it back afterwards
  std::string operatorName;    // erase: who erases, for the certificate
  std::string certificateDir;  // erase: where certificates go; beside the result page when empty
  std::string signKey;         // erase: an Ed25519 private key (PEM) that signs the certificate
  std::shared_ptr<const SigningKey> signingKey;  // the key signKey names, read before any erase
  bool repair = false;    // test: run the repair when bad sectors were found
  bool verify = false;    // erase: read the erased sectors back after a COMPLETE erase
  bool logs = false;      // smart: the drive's own logs as well
  std::string pace = "auto";  // test and erase: how the transfers are paced
  bool noTemperatureGuard = false;  // test and erase: never pause for the drive's temperature
  // A simulated drive's SMART attributes set before the command, "N:ID=RAW" each (N the
  // drive's number in the machine's description): a drive worsening between two runs.
  std::vector<std::string> simAttributes;
  CliAnswers answers;
  BenchNames named;  // test and erase

  // No simulated machine is named: the commands work on this computer's drives (or on the
  // machine a test hands runCli in their place).
  bool thisComputer() const { return machineFile.empty() && builtin.empty(); }
};

const char* reachedAs(int driveClass);
uint64_t capacityBytes(const DriveRecord& r);
std::string capacityText(const DriveRecord& r);
// The SMART column of the list: the enclosure's RAID state, the maker's SSD, or the verdict.
std::string smartText(const DriveRecord& r);
std::string letters(const DriveRecord& r);
// A drive's volumes as the user knows them: the letters on the simulated machine ("C"),
// the mount points on this computer's drives ("/", "/home").
std::vector<std::string> volumeNames(Platform& platform, const DriveRecord& r);
// The list's column: letters side by side ("CD"), mount points between commas.
std::string volumesText(const std::vector<std::string>& names);
Json driveJson(Platform& platform, int index, const DriveRecord& r);
// What a drive hides from the host, and the erase methods it offers.
Json hiddenAreasJson(const std::optional<HiddenAreas>& hidden);
Json eraseMethodsJson(const DriveEraseMethods& methods);
// What an erase did beyond its state: method, hidden areas, the drive's own report, the check.
Json eraseJson(const RunOutcome& result);
// A command that could not do its work: the reason on standard error, and with --json the
// document a script reads on standard output. Returns `status`.
int fail(const CliOptions& options, std::ostream& out, std::ostream& err, int status, const std::string& message);
// A drive's serial number without the blanks drives pad it with.
std::string trimmedSerial(const DriveRecord& r);

// A TestError code as the result page prints it: "%02d".
std::string twoDigitCode(int code);
Json entryJson(const ResultEntry& e);
void entryText(const ResultEntry& e, std::ostream& out);
std::string resultsDirOf(const CliOptions& options);
// --state-dir, or the folder the result page goes to by default (the same rules: root's
// /var/lib/palvoro, else the user's state folder).
std::string stateDirOf(const CliOptions& options);
// Opens the history for a run; when it cannot, or a damaged file was set aside, says so on
// `err` and the run goes on.
void openHistory(CliOptions& options, std::ostream& err);
// The exit status an erase that completed ends with once it was read back.
int verifiedStatus(const EraseVerification& v);
// Why --verify read nothing back.
std::string verificationSkipped(StartEnd end, int32_t state, bool stoppedByUser);
// The exit status of a Start: how the run ended, or why it did not take place.
int startStatus(StartEnd end, const RunOutcome& result);

// A run as palvoro-cli reports it.
struct ReportedRun {
  const RunOutcome& result;
  int kind;
  bool erase;
  int index;
  const DriveRecord& record;
  int status;
  std::string skipped;  // why --verify read nothing back; empty when it ran or was not asked
  struct Page {
    std::string path;
    std::string refusal;
    std::optional<ResultEntry> entry;  // the run's own block, read back
  } page;
  // The erase's certificate: the folder, the files written in it, or why they were not.
  struct Certificate {
    std::string folder;
    std::vector<std::string> files;
    std::string refusal;
  } certificate;
  bool failed() const { return result.end == StartEnd::TestRun && result.state == kTestStateFail; }
};

// How progress is shown: quiet, JSON lines, a bar on a terminal, lines into a pipe.
ProgressStyle styleOf(const CliOptions& options, const CliTerminal& terminal);
// Monotonic seconds: the terminal's own clock (a test's), else the steady clock.
std::function<double()> clockOf(const CliTerminal& terminal);
// The request the options make for the drive at table index `index`.
RunRequest runRequestOf(Session& context, int index, const CliOptions& options);
// The exit status and the --verify note of a request that came to `result`.
ReportedRun reportedRun(const RunOutcome& result, const CliOptions& options, int index, const DriveRecord& record,
                        ReportedRun::Page page);
// The result page written so that the run outlives the program, and the run's own block
// read back from what the service appended.
ReportedRun::Page keepResultPage(Session& context, const CliOptions& options, const RunOutcome& result);
// A file's path in `folder`, with one slash between them.
std::string inFolder(const std::string& folder, const std::string& name);
// Where the certificates go: --certificate-dir, else beside the result page.
std::string certificateFolderOf(const CliOptions& options);
// Makes the certificates' folder when it does not exist yet (the user's alone).
void makeCertificateFolder(const std::string& folder);
// The erase's certificate with this computer's name and the program's, as written.
ErasureCertificate hostedCertificate(ErasureCertificate certificate);
// Writes the certificate an erase that reached the drive left (signed with the options'
// key); nothing for a run that left none.
ReportedRun::Certificate keepCertificate(const RunOutcome& result, const CliOptions& options);
// The run's JSON report, without the boxes it showed (`questions`) and its status.
Json runReportJson(const ReportedRun& run, Session& context, const CliOptions& options);

// One change as the reports give it: key, severity, from, to, text.
Json changeJson(const DriveChange& change);
// What worsened since a drive was last seen, as a run's report and a watch give it: one
// object per change; null without a history to compare.
Json changesJson(const std::optional<std::vector<DriveChange>>& changes);
// "  Changed since last seen:" and a line per change; nothing when nothing changed.
void printChanges(const std::vector<DriveChange>& changes, std::ostream& out);
void reportRunText(const ReportedRun& run, const CliOptions& options, std::ostream& out);

}  // namespace palvoro::cli
