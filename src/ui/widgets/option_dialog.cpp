#include "ui/widgets/option_dialog.h"

#include <QApplication>
#include <QGroupBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QSysInfo>

#include "results/result_page.h"
#include "ui/model/erase_method_model.h"
#include "ui/widgets/erase_dialogs.h"
#include "ui/widgets/erase_method_dialog.h"
#include "ui/widgets/qt_prompter.h"
#include "ui/widgets/dialog_units.h"
#include "ui/widgets/pictures.h"
#include "ui/widgets/progress_dialog.h"
#include "ui/widgets/view_dialog.h"
#include "ui/widgets/xlist_ctrl.h"

namespace palvoro {
namespace {

// Who erases, kept from one erase to the next while the program runs (the windows' thread
// alone reads and writes it).
std::string& keptOperatorName() {
  static std::string name;
  return name;
}

}  // namespace

CDiskTestDlg::CDiskTestDlg(Session& context, int driveIndex, QWidget* parent)
    : QDialog(parent), m_context(context), m_model(context, driveIndex, m_systemClock) {
  setWindowTitle("PALVORO - Select An Option");
  setModal(true);
  const QRect size = dluRect(*this, 0, 0, 263, 191);
  setFixedSize(size.width(), size.height());
  buildControls();

  // Opening.
  m_model.open();
  fillList();
  const DriveRecord record = m_model.drive();
  m_group->setTitle(QString::fromStdString(physicalDriveTitle(m_model.driveIndex())));
  m_modelLine->setText(QString::fromStdString(modelNumberLine(record)));
  m_serialLine->setText(QString::fromStdString(serialNumberLine(record)));
  showOption(m_model.currentRow());
}

CDiskTestDlg::~CDiskTestDlg() = default;

void CDiskTestDlg::buildControls() {
  m_group = new QGroupBox(this);
  m_group->setGeometry(dluRect(*this, 7, 4, 249, 40));
  // Drive-reported text is shown as it came, never as markup.
  m_modelLine = new QLabel(this);
  m_modelLine->setTextFormat(Qt::PlainText);
  m_modelLine->setGeometry(dluRect(*this, 15, 15, 235, 10));
  m_serialLine = new QLabel(this);
  m_serialLine->setTextFormat(Qt::PlainText);
  m_serialLine->setGeometry(dluRect(*this, 15, 28, 235, 10));

  m_picture = new QLabel(this);
  m_picture->setGeometry(dluRect(*this, 7, 52, 46, 40));
  m_picture->setAlignment(Qt::AlignCenter);

  m_list = new CXListCtrl(this);
  m_list->setGeometry(dluRect(*this, 57, 50, 199, 94));
  m_list->setHeaderHidden(true);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setFullRowSelect(true);
  m_list->setShowSelectionAlways(true);
  m_list->setIconSize(QSize(kOptionImageSize, kOptionImageSize));
  // Background and text background in the button-face colour.
  QPalette face = m_list->palette();
  face.setColor(QPalette::Base, face.color(QPalette::Button));
  m_list->setPalette(face);

  m_description = new QLabel(this);
  m_description->setGeometry(dluRect(*this, 7, 148, 249, 20));
  m_description->setWordWrap(true);
  m_description->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  m_start = new QPushButton("Start", this);
  m_start->setGeometry(dluRect(*this, 70, 171, 50, 14));
  m_start->setDefault(true);
  m_close = new QPushButton("Close", this);
  m_close->setGeometry(dluRect(*this, 143, 171, 50, 14));

  connect(m_start, &QPushButton::clicked, this, &CDiskTestDlg::onStart);
  connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_list, &CXListCtrl::rowClicked, this, [this](int row, int) { onRowClicked(row); });
  connect(m_list, &CXListCtrl::rowDoubleClicked, this, [this](int row, int) {
    onRowClicked(row);
    onStart();
  });
}

void CDiskTestDlg::fillList() {
  m_list->deleteAllItems();
  m_list->setImageList(optionImageStrip(), QSize(kOptionImageSize, kOptionImageSize));
  setWindowIcon(QIcon(optionImages().value(0)));
  // Two untitled columns: 10/19 and 9/19 of the client width, the width divided first.
  const int part = (m_list->width() - 2 * m_list->frameWidth()) / 19;
  m_list->insertColumn(0, QString(), part * 10);
  m_list->insertColumn(1, QString(), part * 9);
  for (int row = 0; row < kOptionRowCount; ++row) {
    m_list->insertItem(row, QString::fromStdString(optionRowText(row)), row);
    m_list->setItemText(row, 1, " ");
  }
}

void CDiskTestDlg::showOption(int row) {
  m_picture->setPixmap(optionDialogPicture());
  m_description->setText(QString::fromStdString(optionDescription(row)));
  m_list->setSelectedRow(row);
}

void CDiskTestDlg::onRowClicked(int row) {
  const int hit = row;
  const int selected = m_model.clickRow(hit);
  if (hit >= 0 && hit < kOptionRowCount) {
    showOption(selected);
  } else {
    m_list->setSelectedRow(selected);
  }
}

void CDiskTestDlg::onStart() {
  const StartEnd end = m_model.start(m_list->selectedRow(), *this);
  showOutcomes();
  if (end == StartEnd::TestRun) fileCertificate();
}

void CDiskTestDlg::fileCertificate() {
  const std::optional<CertificateFiling> filing =
      m_model.fileCertificate(QSysInfo::machineHostName().toStdString(), m_certificateWriter);
  if (!filing) return;
  const std::string notice = certificateNotice(*filing);
  if (notice.empty()) return;
  (void)ask({notice, m_context.platform().productTitle(), filing->path.empty() ? PromptIcon::Warning : PromptIcon::Information,
             PromptButtons::Ok, PromptAnswer::Ok, PromptPurpose::information()});  // a notice: any answer goes on
}

void CDiskTestDlg::showOutcomes() {
  for (int row = 0; row < kOptionRowCount; ++row) {
    const OptionOutcome& outcome = m_model.outcome(row);
    m_list->setItemText(row, 1, QString::fromStdString(outcome.text));
    m_list->setItemImage(row, 1, outcome.image);
  }
}

QWidget* CDiskTestDlg::control(int controlId) const {
  switch (controlId) {
    case kIdStart: return m_start;
    case kIdClose: return m_close;
    case kIdOptionList: return m_list;
    case kIdDescription: return m_description;
    case kIdModelNumber: return m_modelLine;
    case kIdSerialNumber: return m_serialLine;
    case kIdDriveGroup: return m_group;
    case kIdPicture: return m_picture;
    default: return nullptr;
  }
}

void CDiskTestDlg::setProgressTiming(int timerMilliseconds, TestClock* clock) {
  m_timerMilliseconds = timerMilliseconds;
  m_clock = clock != nullptr ? clock : &m_systemClock;
  m_model.setClock(*m_clock);
}

PromptAnswer CDiskTestDlg::ask(const OptionPrompt& prompt) {
  return QtPrompter::showBox(prompt.text, prompt.caption, prompt.icon, prompt.buttons, prompt.defaultAnswer,
                             prompt.purpose, isVisible() ? this : parentWidget());
}

std::optional<int32_t> CDiskTestDlg::chooseErase(bool quickOnly) {
  // The choice starts from the mode of the dialog's last erase, and is kept for the next.
  std::atomic<int32_t>& mode = m_context.testRun().eraseMode;
  bool accepted = false;
  if (quickOnly) {
    CQuickEraseDLg dialog(mode, this);
    accepted = dialog.exec() == QDialog::Accepted;
  } else {
    CEraseDLg dialog(mode, this);
    accepted = dialog.exec() == QDialog::Accepted;
  }
  if (!accepted) return std::nullopt;
  return mode.load();
}

std::optional<EraseChoice> CDiskTestDlg::chooseEraseMethod(const EraseOffer& offer) {
  // A drive with nothing more to offer keeps the quick/full choice it always had.
  if (!offerNeedsMethodChoice(offer)) return OptionDialogUi::chooseEraseMethod(offer);
  std::atomic<int32_t>& mode = m_context.testRun().eraseMode;
  CEraseMethodDlg dialog(offer, mode.load(), keptOperatorName(), this);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const EraseChoice choice = dialog.choice();
  if (choice.method == PurgeMethod::Overwrite) mode = choice.mode;
  keptOperatorName() = choice.operatorName;
  return choice;
}

void CDiskTestDlg::setDialogVisible(bool visible) {
  // QDialog::setVisible(false) would end the running exec(): the dialog must come back
  // after the test to show its outcome, so it is hidden as a plain widget.
  QWidget::setVisible(visible);
}

RunSighting CDiskTestDlg::runProgress(const TestRunEnvironment& environment) {
  CScanDiskDlg progress(environment, parentWidget(), m_timerMilliseconds, m_clock);
  progress.runTest();
  return progress.sighting();
}

void CDiskTestDlg::showResultPage(const std::string& title) {
  CViewDlg viewer(m_context.startup().resultsDir, this);
  viewer.ViewerFile = kResultPageName;
  viewer.ViewerTitle = title;
  viewer.exec();
}

}  // namespace palvoro
