#pragma once
// CDiskTestDlg: the "PALVORO - Select An Option" dialog (template 143, 263 x 191 dialog
// units) the main window opens for the selected drive. It lists QUICK TEST, EXTENDED
// TEST, ERASE and VIEW TEST RESULT with the description of the highlighted one, and runs
// Start through OptionDialogModel: the checks and confirmations, the erase choice, the
// progress dialog, the outcome in the option's row, the result page in the viewer.
// testRan() tells the main window, after exec(), whether a test was started.

#include <QDialog>
#include <memory>

#include "service/session.h"
#include "diagnostics/run_clock.h"
#include "ui/model/option_dialog_model.h"

class QGroupBox;
class QLabel;
class QPushButton;

namespace palvoro {

class CXListCtrl;

class CDiskTestDlg : public QDialog, private OptionDialogUi {
  Q_OBJECT

 public:
  // Control ids of template 143.
  enum ControlId : int {
    kIdStart = 1,
    kIdClose = 2,
    kIdOptionList = 1009,
    kIdDescription = 1011,
    kIdModelNumber = 1040,
    kIdSerialNumber = 1044,
    kIdDriveGroup = 1046,
    kIdPicture = 1063,
  };

  // The dialog of the drive at row `driveIndex` of the table.
  CDiskTestDlg(Session& context, int driveIndex, QWidget* parent = nullptr);
  ~CDiskTestDlg() override;

  // True once a test run was started while the dialog was open.
  bool testRan() const { return m_model.testRan(); }

  // The widget of a control id; null for another id.
  QWidget* control(int controlId) const;
  CXListCtrl* optionList() const { return m_list; }
  const OptionDialogModel& model() const { return m_model; }
  // The period of the progress dialog's test timers and the run's clock (tests shorten
  // the one and move the other by hand); by default one second and the system's clock.
  void setProgressTiming(int timerMilliseconds, TestClock* clock);
  // Writes each erase's certificate once its run ended; without one none is written.
  void setCertificateWriter(CertificateWriter writer) { m_certificateWriter = std::move(writer); }

 private:
  // OptionDialogUi.
  PromptAnswer ask(const OptionPrompt& prompt) override;
  std::optional<int32_t> chooseErase(bool quickOnly) override;
  std::optional<EraseChoice> chooseEraseMethod(const EraseOffer& offer) override;
  void setDialogVisible(bool visible) override;
  RunSighting runProgress(const TestRunEnvironment& environment) override;
  void showResultPage(const std::string& title) override;

  void buildControls();
  void fillList();
  void onRowClicked(int row);
  void onStart();
  void showOption(int row);
  void showOutcomes();
  void fileCertificate();

  Session& m_context;
  SystemTestClock m_systemClock;
  TestClock* m_clock = &m_systemClock;
  int m_timerMilliseconds = 1000;
  OptionDialogModel m_model;
  CertificateWriter m_certificateWriter;

  QGroupBox* m_group = nullptr;
  QLabel* m_modelLine = nullptr;
  QLabel* m_serialLine = nullptr;
  QLabel* m_picture = nullptr;
  QLabel* m_description = nullptr;
  CXListCtrl* m_list = nullptr;
  QPushButton* m_start = nullptr;
  QPushButton* m_close = nullptr;
};

}  // namespace palvoro
