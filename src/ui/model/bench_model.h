#pragma once
// The Bench window without widgets: every drive of the session's table with a check box,
// the test or erase to run on the checked ones, the one confirmation an erase asks before
// anything starts, and one row per started drive computed from its BenchRow. Start hands
// one request per drive to the run service through runBench, on a thread the model owns;
// the window reads the rows from a timer, since a row may be read from any thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "diagnostics/block_latency.h"
#include "diagnostics/run_clock.h"
#include "service/bench.h"
#include "service/list_cell.h"
#include "service/session.h"
#include "ui/model/option_dialog_model.h"

namespace palvoro {

// What a bench runs on every checked drive.
enum class BenchJob { QuickTest, ExtendedTest, QuickErase, FullErase };
inline constexpr BenchJob kBenchJobs[] = {BenchJob::QuickTest, BenchJob::ExtendedTest, BenchJob::QuickErase,
                                          BenchJob::FullErase};
// "Quick test", "Extended test", "Quick erase", "Full erase".
std::string benchJobText(BenchJob job);
bool benchJobErases(BenchJob job);

// A drive of the session's table as the bench listed it: what the user saw, and which
// drive it was then.
struct BenchCandidate {
  int driveIndex = -1;
  int physicalDrive = -1;
  // The drive at that number when it was listed; none when the system cannot tell.
  std::optional<DriveInstance> identity;
  uint32_t sectorSize = 512;
  std::string model;     // as the drive reports it
  std::string bus;       // "SATA", "USB", ...
  std::string serial;
  std::string capacity;  // "1000 GB", as the main window shows it
  int partitionCheck = 0;  // what the service's erase check found (kSystemDrive, ...)
  bool makerSsd = false;
  bool checked = false;
};

// Why `drive` cannot take `job`, said in its row; "" when it can.
std::string benchUnavailableReason(const BenchCandidate& drive, BenchJob job);

// A line of the drive list.
struct BenchListRow {
  std::string number;  // "3": the table index + 1, as the main window numbers drives
  std::string model;   // "Kestrel KX1000 (USB)"
  std::string capacity;
  std::string serial;
  bool available = true;  // its box may be checked for the chosen job
  bool checked = false;
  std::string note;       // why it is unavailable, or what an erase will find there
};

// The one question a bench asks before it erases anything.
struct BenchConfirmation {
  std::string caption;
  std::string text;
  // What a Yes confirms: each drive's number and the drive it was when listed.
  std::vector<std::pair<int, DriveInstance>> drives;
};

// A started drive's row as the window shows it.
struct BenchRunRow {
  std::string number;
  std::string model;
  std::string serial;
  int percent = 0;  // the bar
  std::string stage;
  std::string rate;         // "143.2 MB/s"; "" when no walk is timed
  std::string timeLeft;     // "1:02:03"; "" when unknown
  std::string badSectors;   // "0", "4"
  std::string temperature;  // "41 °C"; "" when the drive has not said
  std::string outcome;      // "" until the drive's request ended
  std::optional<CellColour> outcomeColour;
  bool ended = false;
};

// Whether any row has a temperature: until a drive tells one, the column stays away.
bool anyTemperature(const std::vector<BenchRunRow>& rows);

// What a started drive's row offers on its context menu.
enum class BenchRowCommand { ResultPage, ScanMap, DriveLogs, History };
struct BenchMenuEntry {
  BenchRowCommand command;
  std::string text;
  bool enabled = false;
};

// What Start came to.
enum class BenchStart {
  Started,         // every checked drive's request is on its way
  NothingChecked,  // no drive that can take the job is checked
  EraseDeclined,   // the confirmation was not answered Yes: nothing started
  StillRunning,    // the last bench has not ended yet
};

// The monotonic seconds the rows' rates are taken over.
double benchSteadySeconds();

class BenchModel {
 public:
  explicit BenchModel(Session& session);
  // Stops every run and waits for them: a run must not outlive the session it writes to.
  ~BenchModel();
  BenchModel(const BenchModel&) = delete;
  BenchModel& operator=(const BenchModel&) = delete;

  // The runs' timer period and clock, and the seconds rates are measured in (one second,
  // the system's clock and the steady clock unless a test shortens and moves them).
  void setTiming(std::chrono::milliseconds tickPeriod, TestClock* clock, std::function<double()> now = {});

  // Lists the table's drives again, each with its identity and the erase's partition
  // check as they are now; a drive listed before keeps its check box.
  void listDrives();
  const std::vector<BenchCandidate>& candidates() const { return m_candidates; }
  std::vector<BenchListRow> listRows() const;
  void setChecked(int listRow, bool checked);
  void setJob(BenchJob job) { m_job = job; }
  BenchJob job() const { return m_job; }
  // Whether an erase is read back once it completed; offered for erases only.
  void setVerify(bool verify) { m_verify = verify; }
  bool verify() const { return m_verify; }
  bool verifyOffered() const { return benchJobErases(m_job); }
  // Whether a run pauses while its drive is above its critical temperature (on unless the
  // user turns it off, as a drive run too hot may fail for that alone).
  void setTemperatureGuard(bool on) { m_temperatureGuard = on; }
  bool temperatureGuard() const { return m_temperatureGuard; }
  // Whether Start has something to start now.
  bool canStart() const;

  // One request per checked drive that can take the job, in the list's order.
  std::vector<RunRequest> requests() const;
  // The question Start asks before an erase; none for a test.
  std::optional<BenchConfirmation> confirmation() const;
  // Asks the confirmation (an erase) through the session's prompter, then starts every
  // request at once on the model's thread and returns.
  [[nodiscard]] BenchStart start();
  // Every run is asked to stop; each ends ABORT with its block written.
  void stopAll() { m_stop = true; }
  bool stopAsked() const { return m_stop.load(); }
  // The bench's thread has not finished.
  bool running() const { return m_running.load(); }
  // Joins the bench's thread once it finished; true the first time after it did.
  bool collect();
  // Whether a run of this window took place (the main window then re-scans).
  bool testRan() const { return m_testRan; }

  // The started drives, read from any thread.
  size_t runCount() const { return m_drives.size(); }
  std::vector<BenchRunRow> runRows() const;
  std::vector<BenchMenuEntry> rowMenu(int runRow) const;
  // The result page of one started drive: its own block, once its request ended.
  std::string resultPageOf(int runRow) const;
  // Its scan map and the drive as its run knew it, once its extended test ended.
  std::optional<std::pair<BlockLatencyMap, DriveRecord>> scanMapOf(int runRow) const;
  // "PALVORO - Result of Drive N".
  std::string resultPageTitle(int runRow) const;
  // Its table index, for its logs and the scan map's title; -1 until its request ended.
  int endedDriveIndex(int runRow) const;
  // Where the result page was written after the last drive ended, or why not.
  std::string pageStatus() const;
  // Once every drive ended (after collect()): an erase bench's certificates written through
  // `writer` with `host` as this computer's name, into the result page's folder; what came
  // of it joins the status line. Nothing for a test, or a bench that erased no drive.
  void fileCertificates(const std::string& host, const BenchCertificateWriter& writer);
  // The window's status line: what Start came to, the runs going on, or the page.
  std::string statusText() const;

 private:
  const BenchCandidate* startedCandidate(int runRow) const;
  const RunOutcome* endedOutcome(int runRow) const;
  void writeResultPage();
  std::string m_certificateStatus;  // what fileCertificates came to; read on the window's thread
  BenchAnswers answersFor(const std::optional<BenchConfirmation>& confirmation);

  Session& m_session;
  SystemTestClock m_systemClock;
  TestClock* m_clock = &m_systemClock;
  std::chrono::milliseconds m_tickPeriod = kTestTimerPeriod;
  std::function<double()> m_now = benchSteadySeconds;
  std::vector<BenchCandidate> m_candidates;
  BenchJob m_job = BenchJob::QuickTest;
  bool m_verify = false;
  bool m_temperatureGuard = true;
  bool m_testRan = false;
  BenchStart m_lastStart = BenchStart::NothingChecked;

  // The bench under way or last run: written only by start() while no thread runs.
  std::vector<std::unique_ptr<BenchDrive>> m_drives;
  std::vector<BenchCandidate> m_started;  // the candidate of each drive
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_running{false};
  std::thread m_thread;
  mutable std::mutex m_pageMutex;  // the page is written from each drive's thread
  std::string m_pageStatus;
};

}  // namespace palvoro
