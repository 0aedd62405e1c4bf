#pragma once
// The process-wide state of one program run: the platform it talks to, the prompter it
// asks the user through, the start-up state and the drive table. The program owns one;
// a test builds as many as it likes, each over its own simulated machine.

#include <string>

#include "discovery/compliance_table.h"
#include "discovery/drive_record.h"
#include "discovery/probe.h"
#include "diagnostics/test_run_values.h"
#include "results/result_lines.h"
#include "platform/platform.h"
#include "platform/prompter.h"

namespace palvoro {

// Set once during start-up.
struct StartupState {
  std::string programDir;     // the program's folder with its trailing separator
  int osIsVistaOrLater = 0;   // major version 6 or more
  int miniportMode = 0;       // 1 when the user is not an administrator
};

class AppContext {
 public:
  AppContext(Platform& platform, Prompter& prompter);
  AppContext(const AppContext&) = delete;
  AppContext& operator=(const AppContext&) = delete;

  Platform& platform() { return m_platform; }
  Prompter& prompter() { return m_prompter; }
  StartupState& startup() { return m_startup; }
  DriveTable& driveTable() { return m_driveTable; }
  // The record the user selected; the table's first record when the index is out of range.
  DriveRecord& selectedRecord();
  // The hybrid-drive compliance table, loaded at start-up and freed at exit.
  ComplianceTable& complianceTable() { return m_complianceTable; }
  // Device byte of the ATA commands sent through a carrier: A0h, or B0h for member B of
  // the RAID enclosure while the SMART window shows it.
  uint8_t raidMemberSelect() const { return m_raidMemberSelect; }
  void setRaidMemberSelect(uint8_t device) { m_raidMemberSelect = device; }
  // What a detection run of this program run works with.
  ProbeEnvironment probeEnvironment();
  // The values the running test shares between its worker and the dialog.
  TestRunValues& testRun() { return m_testRun; }
  // The result blocks of this program run, written into the result page on request.
  ResultLines& resultLines() { return m_resultLines; }

 private:
  Platform& m_platform;
  Prompter& m_prompter;
  StartupState m_startup;
  DriveTable m_driveTable{};
  ComplianceTable m_complianceTable;
  uint8_t m_raidMemberSelect = 0xA0;
  TestRunValues m_testRun;
  ResultLines m_resultLines;
};

}  // namespace palvoro
