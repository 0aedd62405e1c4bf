#pragma once
// The state the windows of one program run share: the platform it talks to, the prompter
// it asks the user through, the start-up state, the compliance table, the drive table,
// the RAID member select, the running test's values and the result blocks. The program
// owns one (app/Session); a test builds as many as it likes, each over its own
// simulated machine. The layers below never see it: they are handed the environment they
// need (probeEnvironment, testRunEnvironment) or the pieces themselves.

#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "diagnostics/run_environment.h"
#include "diagnostics/run_values.h"
#include "discovery/compliance_table.h"
#include "discovery/drive_record.h"
#include "discovery/probe.h"
#include "discovery/startup_state.h"
#include "platform/platform.h"
#include "platform/prompter.h"
#include "diagnostics/erase_verify.h"
#include "results/result_lines.h"

namespace palvoro {

class HistoryStore;

class Session {
 public:
  Session(Platform& platform, Prompter& prompter);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Platform& platform() { return m_platform; }
  Prompter& prompter() { return m_prompter; }
  StartupState& startup() { return m_startup; }
  DriveTable& driveTable() { return m_driveTable; }
  // The record the user selected. Throws std::out_of_range when selectedDrive names no
  // listed drive, rather than acting on another one.
  DriveRecord& selectedRecord();
  // The hybrid-drive compliance table, loaded at start-up and freed at exit.
  ComplianceTable& complianceTable() { return m_complianceTable; }
  // Device byte of the ATA commands sent through a carrier: A0h, or B0h for member B of
  // the RAID enclosure while the SMART window shows it.
  uint8_t raidMemberSelect() const { return m_raidMemberSelect; }
  void setRaidMemberSelect(uint8_t device) { m_raidMemberSelect = device; }
  // What a detection run of this program run works with.
  ProbeEnvironment probeEnvironment();
  // What a test run on the selected drive works with.
  TestRunEnvironment testRunEnvironment();
  // Binds the runs that follow to one drive as it is now: a run whose drive at the
  // selected number is another by then goes no further than its first open. Nothing
  // unbinds them.
  void bindRuns(std::optional<DriveInstance> drive) { m_boundDrive = drive; }
  // The values the running test shares between its worker and the dialog.
  TestRunValues& testRun() { return m_testRun; }
  // The result blocks of this program run, written into the result page on request.
  ResultLines& resultLines() { return m_resultLines; }
  // The result blocks as they are now, taken under the lock runs append them under: what a
  // front end writes out while other drives' runs go on.
  ResultLines resultLinesNow() const;
  // Makes room for `runs` more blocks than one program run's page holds, so that every
  // drive of a bench keeps its block.
  void makeRoomForRuns(size_t runs);
  // Appends a run's result block, whole or not at all, and returns its lines (none when
  // it did not fit). Runs on several drives may end at once.
  std::vector<std::string> appendResult(const TestRunValues& run, const DriveRecord& drive, const std::tm& time,
                                        const EraseVerification* verification,
                                        const std::vector<std::string>& extraRows);
  // Held while the drive table is read or changed by a run's checks, so runs on several
  // drives can check at once.
  std::mutex& tableMutex() { return m_tableMutex; }
  // The block times of each drive's last extended test in this program run, kept by the
  // drive's model and serial number (a re-scan may give the drive another row).
  void keepScanMap(const DriveRecord& record, const BlockLatencyMap& map);
  // The map of the drive in `record`, or nullptr when none of its extended tests scanned.
  const BlockLatencyMap* scanMapOf(const DriveRecord& record) const;
  // A copy of that map, for a window open while runs may still keep maps (a drive
  // without a serial shares its key with another of the same model).
  std::optional<BlockLatencyMap> scanMapCopyOf(const DriveRecord& record) const;
  // The drives' history this program run keeps its runs in, owned by whoever opened it;
  // null when none was opened or it would not open, and then `note` says why for the
  // History window. Set once before any window opens.
  void setHistory(HistoryStore* store, std::string note) {
    m_history = store;
    m_historyNote = std::move(note);
  }
  HistoryStore* history() const { return m_history; }
  const std::string& historyNote() const { return m_historyNote; }

 private:
  Platform& m_platform;
  Prompter& m_prompter;
  StartupState m_startup;
  DriveTable m_driveTable{};
  ComplianceTable m_complianceTable;
  uint8_t m_raidMemberSelect = 0xA0;
  TestRunValues m_testRun;
  ResultLines m_resultLines;
  std::map<std::string, BlockLatencyMap> m_scanMaps;
  mutable std::mutex m_resultMutex;  // the result lines and scan maps
  std::mutex m_tableMutex;
  std::optional<DriveInstance> m_boundDrive;
  HistoryStore* m_history = nullptr;
  std::string m_historyNote;
};

}  // namespace palvoro
