#include "ui/model/option_dialog_model.h"

#include <cstdio>
#include <cstring>

#include "diagnostics/erase.h"
#include "diagnostics/run_messages.h"
#include "discovery/volumes.h"
#include "resources/string_table.h"
#include "results/result_page.h"
#include "ui/model/drive_logs_model.h"
#include "ui/model/latency_picture.h"
#include "ui/model/open_program_check.h"

namespace palvoro {
namespace {

constexpr const char* kAdministratorRequired = "Administrator privilege is required to run this test !";
constexpr const char* kSystemDriveRefused =
    "The selected drive is your Windows system drive and must not be erased!";
constexpr const char* kPartitionsQuestion =
    "One or more partitions may exist in the drive, do you really want to erase them?";
constexpr const char* kEraseDataLoss =
    "Erasing the drive will render existing data on the selected device inaccessible. Backup all "
    "data to other media before proceeding. Are you sure you wish to proceed?";
constexpr const char* kEraseNotSupported =
    "Erase is not supported on this system with TOVRIN. Use DOS utility BRENEK, v5.22 or later, "
    "to erase the drive.";

bool isOptionRow(int row) { return row >= 0 && row < kOptionRowCount; }

}  // namespace

std::string optionRowText(int row) {
  if (!isOptionRow(row)) return "";
  return std::string(" ") + testKindWord(row);
}

std::string optionDescription(int row) {
  if (!isOptionRow(row)) return "";
  return loadString(kStrDescribeQuickTest + row);
}

std::string physicalDriveTitle(int selectedDrive) {
  return "Physical Drive " + std::to_string(selectedDrive + 1);
}

std::string modelNumberLine(const DriveRecord& record) {
  return std::string("Model Number:\t") + record.model;
}

std::string serialNumberLine(const DriveRecord& record) {
  return std::string("Serial Number:\t") + record.serialNumber;
}

OptionOutcome outcomeOf(int testState) {
  OptionOutcome outcome;
  outcome.text = loadString(kStrResultPass + testState);
  outcome.image = 4 + testState;
  return outcome;
}

std::string driveLettersText(Platform& platform, const DriveRecord& record) {
  if (record.volumeLetters[0] == '\0') return "";
  std::string text = " (";
  for (int i = 0; i < kMaxVolumeLetters && record.volumeLetters[i] != '\0'; ++i) {
    const VolumeName name = platform.volumeName(record.volumeLetters[i]);
    text += ' ';
    text += name.mountPoint ? name.name : std::string(1, record.volumeLetters[i]) + ":";
  }
  return text + " )";
}

std::string closeProgramsQuestion(Platform& platform, const DriveRecord& record) {
  const std::string format = loadString(kStrCloseOtherPrograms);
  const std::string letters = driveLettersText(platform, record);
  const size_t at = format.find("%s");
  if (at == std::string::npos) return format;
  return format.substr(0, at) + letters + format.substr(at + 2);
}

OptionDialogModel::OptionDialogModel(Session& context, TestClock& clock)
    : m_context(context), m_clock(&clock) {}

void OptionDialogModel::open() {
  m_context.testRun().testError = kTestErrorNone;
  m_context.testRun().testState = kTestStatePass;
}

int OptionDialogModel::currentRow() const { return m_context.testRun().testKind.load(); }

int OptionDialogModel::clickRow(int hitRow) {
  if (isOptionRow(hitRow)) m_context.testRun().testKind = hitRow;
  return currentRow();
}

StartEnd OptionDialogModel::start(int selectedRow, OptionDialogUi& ui) {
  TestRunValues& run = m_context.testRun();
  run.testKind = selectedRow;
  const int kind = selectedRow;
  DriveRecord& record = m_context.selectedRecord();
  const bool miniportMode = m_context.startup().miniportMode != 0;

  const bool smartUnreachable = m_context.startup().miniportSmart == 0;
  if ((kind == kTestKindExtended || kind == kTestKindErase || (kind == kTestKindQuick && smartUnreachable)) &&
      miniportMode) {
    ui.ask({kAdministratorRequired, m_context.platform().productTitle(), PromptIcon::Warning, PromptButtons::Ok, PromptAnswer::Ok,
            PromptPurpose::information()});
    return StartEnd::AdministratorRefused;
  }

  if (kind >= kTestKindQuick && kind <= kTestKindErase) {
    m_otherProgramsOpen = openProgramCheck(m_context.platform());
    // Every run of these kinds locks the drive's volumes, and an erase dismounts them:
    // the letters must be known whether or not anyone is asked about open files.
    mapVolumes(m_context.platform(), m_context.driveTable());
    if (m_otherProgramsOpen != 0) {
      const PromptAnswer answer = ui.ask({closeProgramsQuestion(m_context.platform(), record), m_context.platform().productTitle(), PromptIcon::Warning,
                                          PromptButtons::OkCancel, PromptAnswer::Cancel, PromptPurpose::question()});
      if (answer == PromptAnswer::Cancel) return StartEnd::ProgramsOpenCancelled;
    }
  }

  if (kind == kTestKindErase) {
    StartEnd end = StartEnd::TestRun;
    if (!eraseChecks(ui, end)) return end;
  }

  if (kind == kTestKindViewResult) {
    std::string refusal;
    if (!writeResultPage(m_context.startup().resultsDir, m_context.resultLines(), &refusal) && !refusal.empty()) {
      ui.ask({refusal, m_context.platform().productTitle(), PromptIcon::Warning, PromptButtons::Ok, PromptAnswer::Ok,
              PromptPurpose::information()});
    }
    ui.showResultPage(std::string("PALVORO - ") + testKindWord(kind));
    return StartEnd::ResultPageShown;
  }

  testRun(ui);
  return StartEnd::TestRun;
}

bool OptionDialogModel::eraseChecks(OptionDialogUi& ui, StartEnd& end) {
  Platform& platform = m_context.platform();
  DriveRecord& record = m_context.selectedRecord();
  const bool miniportMode = m_context.startup().miniportMode != 0;

  m_partitionCheck = partitionCheck(platform, record);
  if (m_partitionCheck == kSystemDrive) {
    ui.ask({kSystemDriveRefused, m_context.platform().productTitle(), PromptIcon::Warning, PromptButtons::Ok, PromptAnswer::Ok,
            PromptPurpose::information()});
    end = StartEnd::SystemDriveRefused;
    return false;
  }
  if (m_partitionCheck == kPartitionsMayExist &&
      ui.ask({kPartitionsQuestion, kEraseBoxCaption, PromptIcon::Warning, PromptButtons::YesNo, PromptAnswer::No,
              PromptPurpose::destroysDataOn(record.physicalDriveNumber)}) != PromptAnswer::Yes) {
    end = StartEnd::PartitionsDeclined;
    return false;
  }
  // Enter on the last question before the data goes must not be the answer that erases.
  if (ui.ask({kEraseDataLoss, kEraseBoxCaption, PromptIcon::Warning, PromptButtons::YesNo, PromptAnswer::No,
              PromptPurpose::destroysDataOn(record.physicalDriveNumber)}) != PromptAnswer::Yes) {
    end = StartEnd::EraseDeclined;
    return false;
  }
  // Drives that can erase their sanitize-ready way, and all others, get the full choice;
  // the remaining hybrid kinds are offered the quick erase only.
  const bool fullChoice = record.hybridFlags == 0 || (record.hybridFlags & kHybridSanitizeReady) != 0;
  if (!ui.chooseErase(!fullChoice)) {
    end = StartEnd::EraseChoiceCancelled;
    return false;
  }
  if (record.hiddenSectors != 0 && !prepareSecondUnitErase(platform, record, miniportMode)) {
    ui.ask({kEraseNotSupported, m_context.platform().productTitle(), PromptIcon::Warning, PromptButtons::Ok, PromptAnswer::Ok,
            PromptPurpose::information()});
    end = StartEnd::SctRefused;
    return false;
  }
  return true;
}

void OptionDialogModel::testRun(OptionDialogUi& ui) {
  TestRunValues& run = m_context.testRun();
  ui.setDialogVisible(false);
  run.testError = kTestErrorNone;
  run.testState = kTestStateRunning;
  if (run.testKind.load() == kTestKindErase && m_partitionCheck != kNoPartitions) {
    dismountVolumesBeforeErase(m_context.platform(), m_context.selectedRecord());
  }
  ui.runProgress();
  m_testRan = true;
  ui.setDialogVisible(true);
  const int kind = run.testKind.load();
  if (isOptionRow(kind)) m_outcomes[static_cast<size_t>(kind)] = outcomeOf(run.testState.load());
  // An extended test's page shows its scan's block times; a test that ended before its
  // scan has none.
  std::vector<std::string> extraRows =
      kind == kTestKindExtended ? latencyResultRows(run.scanLatency) : std::vector<std::string>{};
  std::vector<std::string> hints = kind == kTestKindExtended ? latencyHints(run.scanLatency) : std::vector<std::string>{};
  if (kind == kTestKindExtended) m_context.keepScanMap(m_context.selectedRecord(), run.scanLatency);
  // After a test the drive's own logs have their say too, its last self-test among them;
  // an erase leaves nothing of the drive's past worth reading.
  const DriveRecord& record = m_context.selectedRecord();
  if ((kind == kTestKindQuick || kind == kTestKindExtended) && driveLogsReachable(record)) {
    const std::vector<std::string> logHints = driveLogHints(readDriveLogs(
        m_context.platform(), record, m_context.startup().miniportMode != 0, m_context.raidMemberSelect()));
    hints.insert(hints.end(), logHints.begin(), logHints.end());
  }
  const std::vector<std::string> hintRows = hintResultRows(hints);
  extraRows.insert(extraRows.end(), hintRows.begin(), hintRows.end());
  appendResultBlock(m_context.resultLines(), run, record, m_clock->localTime(), ui.eraseVerification(), extraRows);
}

}  // namespace palvoro
