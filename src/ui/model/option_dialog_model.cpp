#include "ui/model/option_dialog_model.h"

#include "diagnostics/run_messages.h"
#include "resources/string_table.h"
#include "results/result_page.h"

namespace palvoro {
namespace {

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

std::string certificateNotice(const CertificateFiling& filing) {
  if (!filing.path.empty()) return "The erase certificate was written to " + filing.path + ".";
  if (!filing.refusal.empty()) return "The erase certificate was not written: " + filing.refusal + ".";
  return "";
}

OptionDialogModel::OptionDialogModel(Session& context, int driveIndex, TestClock& clock)
    : m_context(context), m_driveIndex(driveIndex), m_clock(&clock) {}

DriveRecord OptionDialogModel::drive() const {
  const DriveTable& table = m_context.driveTable();
  if (m_driveIndex < 0 || m_driveIndex >= table.driveCount()) return DriveRecord{};
  return table.records[m_driveIndex];
}

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
  if (kind == kTestKindViewResult) {
    std::string refusal;
    if (!writeResultPage(m_context.startup().resultsDir, m_context.resultLines(), &refusal) && !refusal.empty()) {
      (void)ui.ask({refusal, m_context.platform().productTitle(), PromptIcon::Warning, PromptButtons::Ok,
                    PromptAnswer::Ok, PromptPurpose::information()});  // a notice: the page opens anyway
    }
    ui.showResultPage(std::string("PALVORO - ") + testKindWord(kind));
    return StartEnd::ResultPageShown;
  }

  RunRequest request;
  request.driveIndex = m_driveIndex;
  request.kind = kind;
  if (request.driveIndex >= 0 && request.driveIndex < m_context.driveTable().driveCount()) {
    // The run goes to the drive the dialog was opened for, or to none.
    request.identity = driveInstanceAt(m_context.platform(),
                                       m_context.driveTable().records[request.driveIndex].physicalDriveNumber);
  }
  RunService service(m_context, *m_clock, m_context.history());
  m_last = service.run(request, ui);
  if (m_last.end == StartEnd::TestRun) {
    // The dialog's own values say how its last run ended, as the windows read them.
    run.testState = m_last.state;
    run.testError = m_last.error;
    run.eraseMode = m_last.eraseMode;
    run.badSectorCount = m_last.badSectorCount;
    run.setLastErrorMessage(m_last.errorMessage);
    m_testRan = true;
    if (isOptionRow(kind)) m_outcomes[static_cast<size_t>(kind)] = outcomeOf(m_last.state);
  }
  return m_last.end;
}

std::optional<CertificateFiling> OptionDialogModel::fileCertificate(const std::string& host,
                                                                    const CertificateWriter& writer) {
  if (!m_last.certificate || !writer) return std::nullopt;
  m_last.certificate->host = host;
  return writer(*m_last.certificate, m_context.startup().resultsDir);
}

}  // namespace palvoro
