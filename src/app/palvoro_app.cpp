#include "app/palvoro_app.h"

#include "app/startup.h"
#include "discovery/compliance_table.h"
#include "results/help_pages.h"
#include "ui/widgets/detection_dialog.h"
#include "results/pdf/certificate_files.h"

namespace palvoro {

BenchCertificateWriter benchCertificateFileWriter() {
  return [](BenchCertificate& bench, const std::string& directory) {
    const CertificateFiles files = writeBenchCertificates(bench, directory, nullptr);
    CertificateFiling filing;
    if (files.names.size() >= 2) {
      // The summary comes last, its JSON before its page.
      filing.path = directory + (directory.empty() || directory.back() == '/' ? "" : "/") +
                    files.names[files.names.size() - 2];
    }
    filing.refusal = files.message;
    return filing;
  };
}

CertificateWriter certificateFileWriter() {
  return [](ErasureCertificate& certificate, const std::string& directory) {
    const CertificateFiles files = writeCertificates(certificate, directory, nullptr);
    CertificateFiling filing;
    if (!files.names.empty()) {
      filing.path = directory + (directory.empty() || directory.back() == '/' ? "" : "/") + files.names.front();
    }
    filing.refusal = files.message;
    return filing;
  };
}

namespace {

std::vector<uint8_t> bytesOf(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

}  // namespace

std::vector<ProgramFile> startupFiles() {
  return {{kLogoName, logoGif()}, {kHelpPageName, bytesOf(helpPageHtml())}, {kSmartPageName, bytesOf(smartPageHtml())}};
}

std::string historyFolder(const std::string& stateDir, const std::string& resultsDir, bool simulated) {
  if (!stateDir.empty()) return stateDir;
  if (resultsDir.empty()) return {};
  return simulated ? resultsDir + (resultsDir.back() == '/' ? "" : "/") + "simulated/" : resultsDir;
}

CPalvoroApp::CPalvoroApp(AppContext& context, MainWindowRunner runMainWindow)
    : m_context(context), m_runMainWindow(std::move(runMainWindow)) {}

CPalvoroApp::~CPalvoroApp() {
  if (m_history) m_context.setHistory(nullptr, {});
}

bool CPalvoroApp::InitInstance() {
  StartupState& startup = m_context.startup();
  const ProgramFolders folders = m_folders ? *m_folders : findProgramFolders();
  startup.helpDir = folders.helpDir;
  startup.resultsDir = folders.resultsDir;
  // Installed, the help pages are read where they lie and only the result page's logo is
  // written; otherwise (a program copied on its own) every page comes out of the program.
  std::string refusal;
  if (folders.helpInstalled) {
    extractProgramFiles(startup.resultsDir, {{kLogoName, logoGif()}}, &refusal);
  } else {
    extractProgramFiles(startup.resultsDir, startupFiles(), &refusal);
  }
  if (!refusal.empty()) {
    m_context.prompter().ask(refusal, m_context.platform().productTitle(), PromptIcon::Warning, PromptButtons::Ok,
                             PromptAnswer::Ok, PromptPurpose::information());
  }
  const std::string history = historyFolder(m_stateDir, folders.resultsDir, m_simulated);
  if (!m_keepHistory) {
    m_context.setHistory(nullptr, "This program run keeps no history of the drives.");
  } else if (history.empty()) {
    m_context.setHistory(nullptr, "There is no folder for the drives' history; runs are not kept in it.");
  } else {
    StoreOpen opened = HistoryStore::open(history);
    m_history = std::move(opened.store);
    m_context.setHistory(m_history.get(), opened.message);
  }
  runStartupChecks(m_context);
  if (startup.miniportMode == 1 && !m_noRightsNote.empty()) {
    if (m_restart) {
      const PromptAnswer answer = m_context.prompter().ask(m_noRightsNote + kRestartWithRightsQuestion, m_context.platform().productTitle(),
                                                           PromptIcon::Question, PromptButtons::YesNo, PromptAnswer::No,
                                                           PromptPurpose::question());
      if (answer == PromptAnswer::Yes && m_restart()) {
        freeComplianceTable(m_context.complianceTable());
        return false;
      }
    } else {
      m_context.prompter().ask(m_noRightsNote, m_context.platform().productTitle(), PromptIcon::Information, PromptButtons::Ok,
                               PromptAnswer::Ok, PromptPurpose::information());
    }
  }
  {
    // Its result is not examined: the main window opens whether detection ended or not.
    DetectionDialog detection(m_context, DetectionDialog::Mode::Detect);
    detection.run();
  }
  if (m_runMainWindow) m_runMainWindow(m_context);
  freeComplianceTable(m_context.complianceTable());
  return false;
}

}  // namespace palvoro
