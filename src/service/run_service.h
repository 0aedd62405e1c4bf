#pragma once
// A run as a request on an explicit drive. The service owns what happens around a test or
// an erase: the checks and questions in the order the option dialog asks them, the run
// itself (shown by whoever called), the read-back of an erase, the drive's own logs read
// after a test, the scan map kept and the result block appended. The option dialog and
// palvoro-cli both come here; each supplies a RunFrontEnd for what only it can do (show a
// box, offer the erase choice, show the run while it goes).
//
// A run has its own values: two runs on two drives of one session go on at once, and a
// run changes nothing that another run or the windows read, beyond the result block and
// scan map it leaves in the session.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/drive_requests.h"
#include "diagnostics/block_latency.h"
#include "diagnostics/erase_verify.h"
#include "diagnostics/purge_erase.h"
#include "diagnostics/run.h"
#include "diagnostics/run_clock.h"
#include "diagnostics/run_environment.h"
#include "diagnostics/sector_loop.h"
#include "platform/prompter.h"
#include "results/erase_certificate.h"
#include "service/session.h"
#include "smart/drive_logs.h"
#include "store/drive_changes.h"
#include "store/history_store.h"

namespace palvoro {

// What the caller asks for.
struct RunRequest {
  // The drive's row in the session's table when it was chosen, and what it was then: a
  // run whose drive at that number is another by the time it opens goes no further.
  int driveIndex = -1;
  std::optional<DriveInstance> identity;
  int32_t kind = kTestKindQuick;       // quick, extended or erase
  // The erase's mode (0 quick, 1 full) when the caller already knows it; otherwise the
  // front end's erase choice is offered.
  std::optional<int32_t> eraseMode;
  bool repair = false;                 // press Repair when the run offers it
  bool verify = false;                 // read an erase back once it completed
  TransferPace pace = TransferPace::Automatic;
  // Scans, erases and the read-back pause while the drive is too hot (temperature_guard.h).
  bool temperatureGuard = true;
  // The erase's method: the overwrite (in eraseMode) or one of the drive's own. None: the
  // overwrite when eraseMode is given, else the front end's choice.
  std::optional<PurgeMethod> eraseMethod;
  bool liftHpa = false;     // lift a Host Protected Area so that an overwrite reaches it
  bool restoreHpa = false;  // ... and put it back afterwards
  std::string operatorName;  // who erases, for the certificate
};

// What the front end is offered to choose an erase from.
struct EraseOffer {
  DriveEraseMethods methods;
  bool quickOnly = false;  // the overwrite's full form is not offered
};

// What the user chose.
struct EraseChoice {
  PurgeMethod method = PurgeMethod::Overwrite;
  int32_t mode = 0;  // the overwrite's: 0 quick, 1 full
  bool liftHpa = false;
  bool restoreHpa = false;
  std::string operatorName;
};

// A box the checks show.
struct RunPrompt {
  std::string text;
  std::string caption;
  PromptIcon icon = PromptIcon::Warning;
  PromptButtons buttons = PromptButtons::Ok;
  PromptAnswer defaultAnswer = PromptAnswer::Ok;  // the button Enter presses
  PromptPurpose purpose;                          // what decides who may answer it
};

// Where a request ended.
enum class StartEnd {
  AdministratorRefused,   // extended test or erase without administrator rights
  ProgramsOpenCancelled,  // Cancel on the close-other-programs question
  SystemDriveRefused,     // erase of the drive holding the system
  PartitionsDeclined,     // No on "partitions may exist"
  EraseDeclined,          // No on the data-loss confirmation
  EraseChoiceCancelled,   // Cancel in the erase choice
  SctRefused,             // the maker's SCT switch failed: erase not possible here
  MethodUnavailable,      // the drive does not offer the erase method asked for: nothing was sent
  TestRun,                // the run took place
  ResultPageShown,        // VIEW TEST RESULT (the option dialog's own row, never a request)
  NoSuchDrive,            // the request named no drive of the table
};

// What the front end saw of the run beside its values.
struct RunSighting {
  std::vector<BadSector> badSectors;  // as recorded, at most the run's slots
  bool repairOffered = false;
  bool repairRun = false;
  bool stoppedByUser = false;
};

// The read-back of an erase, handed to the front end to carry out where it can show it.
struct ReadBackJob {
  std::vector<SectorSpan> spans;  // what the erase left zero
  // Reads them back; `stop` ends it early, `progress` is called from the thread running it.
  std::function<EraseVerification(std::atomic<bool>& stop, const std::function<void(const VerifyProgress&)>& progress)> read;
};

class RunFrontEnd {
 public:
  virtual ~RunFrontEnd() = default;
  // Shows a box and returns the answer (Escape gives Cancel, or No for Yes/No).
  virtual PromptAnswer ask(const RunPrompt& prompt) = 0;
  // The erase choice: quick or full, or the quick erase only when `quickOnly`. The mode
  // chosen, or none when cancelled.
  virtual std::optional<int32_t> chooseErase(bool quickOnly) = 0;
  // The choice among the drive's methods; by default the overwrite in the mode chooseErase
  // gives, for a front end that offers nothing more.
  virtual std::optional<EraseChoice> chooseEraseMethod(const EraseOffer& offer);
  // The run is about to start / has ended (a dialog steps aside meanwhile).
  virtual void runStarts() {}
  virtual void runEnded() {}
  // Shows the run on `environment` until it closes, and says what it saw.
  virtual RunSighting watchRun(const RunRequest& request, const TestRunEnvironment& environment) = 0;
  // Carries out the read-back; by default here and now, without showing anything.
  virtual EraseVerification watchReadBack(const ReadBackJob& job);
  // Where the run's own boxes go (a write error's question, a failure's message): the
  // session's prompter unless the front end keeps one per run, as a bench does for each
  // of its drives.
  virtual Prompter* runPrompter() { return nullptr; }
};

// What a request came to.
struct RunOutcome {
  StartEnd end = StartEnd::NoSuchDrive;
  int32_t kind = kTestKindQuick;
  int32_t eraseMode = 0;
  int32_t state = kTestStatePass;
  int32_t error = kTestErrorNone;
  // The message the run told, or when it told none (bad sectors shown on the screen) the
  // message of its code.
  std::string errorMessage;
  uint64_t badSectorCount = 0;
  RunSighting seen;
  BlockLatencyMap latency;                       // the scan's block times; empty when none ran
  std::optional<EraseVerification> verification;  // when an erase was read back
  std::vector<SectorSpan> verifiedSpans;
  std::string transfers;                         // how a scan or erase reached the device; "" when none ran
  bool temperatureGuard = true;                  // as the request asked
  TemperatureWatch temperature;                  // what the guard saw over the walks and the read-back
  std::vector<std::string> resultBlock;          // the lines appended to the result page
  int partitionCheck = 0;                        // what the partition check gave (erase)
  int otherProgramsOpen = 0;                     // what the open-program check gave
  DriveRecord drive{};                           // the drive as the run knew it
  // An erase: the method and what became of it, the methods the drive offered, who erased,
  // and the certificate's record (its host left to the front end, which knows it).
  EraseChoice erase;                             // as chosen (its mode is eraseMode)
  PurgeOutcome purge;
  std::optional<DriveEraseMethods> eraseMethods;
  std::string refusal;                           // why the method was not offered (MethodUnavailable)
  std::optional<ErasureCertificate> certificate;
  std::string started;                           // when the run began, ISO 8601 UTC; "" when none ran
  std::vector<DriveChange> changes;              // what worsened since the drive was last seen (with a history)
};

// The certificate's record of an erase that reached the drive: the drive, the method, the
// times (`timeText` turns the run's clock into ISO 8601 UTC), the outcome and what was read
// back. Host and program are the caller's.
ErasureCertificate certificateOf(const RunOutcome& outcome, const std::string& operatorName);

// The drive's letters for the close-programs question: " (", then " X:" for each letter,
// then " )"; "" when the drive has no letter. Where the system names volumes by mount
// point, each is " /home".
std::string driveLettersText(Platform& platform, const DriveRecord& record);
// String 226 with the drive's letters.
std::string closeProgramsQuestion(Platform& platform, const DriveRecord& record);

class RunService {
 public:
  // With `history`, every run that took place is kept there too (history_store.h); the
  // store must outlive the service.
  RunService(Session& session, TestClock& clock, HistoryStore* history = nullptr)
      : m_session(session), m_clock(clock), m_history(history) {}
  void setHistory(HistoryStore* history) { m_history = history; }

  // The checks, the questions, the run and what follows it, for the drive the request
  // names. Safe to call from several threads at once for different drives.
  [[nodiscard]] RunOutcome run(const RunRequest& request, RunFrontEnd& frontEnd);

 private:
  [[nodiscard]] bool startChecks(const RunRequest& request, RunFrontEnd& frontEnd, RunOutcome& outcome);
  [[nodiscard]] bool eraseChecks(const RunRequest& request, RunFrontEnd& frontEnd, RunOutcome& outcome);
  // The method and, for the overwrite, its mode: the request's, or the front end's choice.
  [[nodiscard]] bool chooseErase(const RunRequest& request, RunFrontEnd& frontEnd, bool fullChoice, RunOutcome& outcome);
  // Whether the drive offers `method`; otherwise the user is told why and the request ends.
  [[nodiscard]] bool methodOffered(Platform& platform, PurgeMethod method, RunFrontEnd& frontEnd, RunOutcome& outcome);
  void afterRun(const RunRequest& request, RunFrontEnd& frontEnd, TestRunValues& values, RunOutcome& outcome);
  // Keeps the run, and after a test the drive's reading, in the history, and sets in the
  // outcome what worsened since the drive was last seen. A store that refuses changes
  // nothing else of the outcome.
  void keepInHistory(RunOutcome& outcome, const DriveLogs* logs);

  Session& m_session;
  TestClock& m_clock;
  HistoryStore* m_history = nullptr;
};

}  // namespace palvoro
