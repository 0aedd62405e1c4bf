#include "ui/widgets/bench_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QSysInfo>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

#include "ui/model/scan_map_model.h"
#include "ui/widgets/drive_logs_dialog.h"
#include "ui/widgets/history_dialog.h"
#include "ui/widgets/pictures.h"
#include "ui/widgets/qt_prompter.h"
#include "ui/widgets/scan_map_dialog.h"
#include "ui/widgets/view_dialog.h"

namespace palvoro {
namespace {

// How often the rows are read: often enough for a bar to move smoothly, seldom enough that
// twenty rows cost the GUI thread nothing worth measuring.
constexpr int kPollMs = 250;
// How often a close that waits for stopped runs looks again.
constexpr int kStopWaitMs = 20;

enum DriveColumn { kDriveNumber, kDriveModel, kDriveCapacity, kDriveSerial, kDriveNote, kDriveColumns };
enum RunColumn {
  kRunNumber,
  kRunModel,
  kRunSerial,
  kRunProgress,
  kRunStage,
  kRunRate,
  kRunTimeLeft,
  kRunBadSectors,
  kRunTemperature,
  kRunOutcome,
  kRunColumns
};

constexpr const char* kCloseWhileRunning =
    "Drives are still running. Stop them all and close the window?\n\nEach run ends ABORT, with its result "
    "written to the result page.";

QTableWidgetItem* cellItem(QTableWidget* table, int row, int column) {
  QTableWidgetItem* item = table->item(row, column);
  if (item == nullptr) {
    item = new QTableWidgetItem;
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    table->setItem(row, column, item);
  }
  return item;
}

// Returns whether the cell's text changed.
bool setCell(QTableWidget* table, int row, int column, const std::string& text, Qt::Alignment alignment) {
  QTableWidgetItem* item = cellItem(table, row, column);
  const QString shown = QString::fromStdString(text);
  if (item->text() == shown) return false;
  item->setText(shown);
  item->setToolTip(shown);
  item->setTextAlignment(alignment | Qt::AlignVCenter);
  return true;
}

}  // namespace

BenchWindow::BenchWindow(Session& session, QWidget* parent)
    : QDialog(parent), m_session(session), m_model(session) {
  setWindowTitle("PALVORO - Bench");
  setWindowIcon(programIcon());
  setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint);
  setModal(true);
  buildControls();
  m_model.listDrives();
  showDriveList();
  updateButtons();
  m_poll.setInterval(kPollMs);
  connect(&m_poll, &QTimer::timeout, this, &BenchWindow::refresh);
}

BenchWindow::~BenchWindow() = default;

void BenchWindow::setTiming(std::chrono::milliseconds tickPeriod, TestClock* clock, std::function<double()> now) {
  m_model.setTiming(tickPeriod, clock, std::move(now));
}

// Every control in its order on the screen; the runs' table has its own function.
void BenchWindow::buildControls() {
  auto* layout = new QVBoxLayout(this);

  layout->addWidget(new QLabel("Drives to run (check each one):", this));
  m_drives = new QTreeWidget(this);
  m_drives->setColumnCount(kDriveColumns);
  m_drives->setHeaderLabels({"Drive #", "Model", "Capacity", "Serial Number", "Note"});
  m_drives->setRootIsDecorated(false);
  m_drives->setUniformRowHeights(true);
  m_drives->setSelectionMode(QAbstractItemView::NoSelection);
  m_drives->header()->setStretchLastSection(true);
  m_drives->setMinimumHeight(150);
  layout->addWidget(m_drives, 2);

  auto* controls = new QHBoxLayout;
  controls->addWidget(new QLabel("Run:", this));
  m_job = new QComboBox(this);
  for (const BenchJob job : kBenchJobs) m_job->addItem(QString::fromStdString(benchJobText(job)));
  controls->addWidget(m_job);
  m_verify = new QCheckBox("Read the erase back (verify)", this);
  controls->addWidget(m_verify);
  m_temperatureGuard = new QCheckBox("Pause a drive above its critical temperature", this);
  m_temperatureGuard->setChecked(m_model.temperatureGuard());
  controls->addWidget(m_temperatureGuard);
  controls->addStretch(1);
  m_start = new QPushButton("&Start", this);
  m_start->setDefault(true);
  m_stopAll = new QPushButton("Stop &All", this);
  m_stopAll->setAutoDefault(false);
  controls->addWidget(m_start);
  controls->addWidget(m_stopAll);
  layout->addLayout(controls);

  buildRunTable();
  layout->addWidget(m_runs, 3);

  auto* foot = new QHBoxLayout;
  m_status = new QLabel(this);
  m_status->setTextFormat(Qt::PlainText);
  m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
  foot->addWidget(m_status, 1);
  m_close = new QPushButton("&Close", this);
  m_close->setAutoDefault(false);
  foot->addWidget(m_close);
  layout->addLayout(foot);
  resize(sizeHint());

  connect(m_drives, &QTreeWidget::itemChanged, this, &BenchWindow::onDriveChanged);
  connect(m_job, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kBenchJobs))) return;
    m_model.setJob(kBenchJobs[index]);
    showDriveList();
    updateButtons();
  });
  connect(m_verify, &QCheckBox::toggled, this, [this](bool on) { m_model.setVerify(on); });
  connect(m_temperatureGuard, &QCheckBox::toggled, this, [this](bool on) { m_model.setTemperatureGuard(on); });
  connect(m_start, &QPushButton::clicked, this, &BenchWindow::onStart);
  connect(m_stopAll, &QPushButton::clicked, this, [this] {
    m_model.stopAll();
    refresh();
  });
  connect(m_close, &QPushButton::clicked, this, &BenchWindow::reject);
  connect(m_runs, &QWidget::customContextMenuRequested, this, &BenchWindow::showRowMenu);
}

void BenchWindow::buildRunTable() {
  m_runs = new QTableWidget(0, kRunColumns, this);
  m_runs->setHorizontalHeaderLabels(
      {"Drive #", "Model", "Serial Number", "Progress", "Stage", "Rate", "Time Left", "Bad Sectors", "Temp.", "Outcome"});
  m_runs->verticalHeader()->setVisible(false);
  m_runs->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_runs->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_runs->setSelectionMode(QAbstractItemView::SingleSelection);
  // A stage or an outcome longer than its column (a failure's whole message) takes a
  // second line rather than being cut.
  m_runs->setWordWrap(true);
  m_runs->setContextMenuPolicy(Qt::CustomContextMenu);
  QHeaderView* header = m_runs->horizontalHeader();
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setStretchLastSection(true);
  const QFontMetrics metrics(m_runs->font());
  // Room for what each column shows at its longest, so no text is cut while drives run.
  const auto fit = [&](int column, const char* longest) {
    const int text = metrics.horizontalAdvance(QString::fromUtf8(longest)) + 16;
    const int caption = header->fontMetrics().horizontalAdvance(m_runs->horizontalHeaderItem(column)->text()) + 20;
    m_runs->setColumnWidth(column, std::max(text, caption));
  };
  fit(kRunNumber, "20");
  // Names of common length until Start, when each takes its drives' longest.
  fit(kRunModel, "VHT VHH7S100516AB2C3D1");
  fit(kRunSerial, "SBK2N1T0A4471");
  m_runs->setColumnWidth(kRunProgress, 110);
  fit(kRunStage, "Test found bad sectors that may be repairable.");
  fit(kRunRate, "99999.9 MB/s");
  fit(kRunTimeLeft, "100:00:00");
  fit(kRunBadSectors, "200");
  fit(kRunTemperature, "45 \u00B0C");
  fit(kRunOutcome, "FAIL: 08-Extended Test::Read sector error!");
  m_runsWidth = 2 * m_runs->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  for (int column = 0; column < kRunColumns; ++column) m_runsWidth += m_runs->columnWidth(column);
}

void BenchWindow::showDriveList() {
  m_filling = true;
  m_drives->clear();
  for (const BenchListRow& row : m_model.listRows()) {
    auto* item = new QTreeWidgetItem(m_drives);
    item->setText(kDriveNumber, QString::fromStdString(row.number));
    item->setText(kDriveModel, QString::fromStdString(row.model));
    item->setText(kDriveCapacity, QString::fromStdString(row.capacity));
    item->setText(kDriveSerial, QString::fromStdString(row.serial));
    item->setText(kDriveNote, QString::fromStdString(row.note));
    item->setToolTip(kDriveNote, QString::fromStdString(row.note));
    Qt::ItemFlags flags = Qt::ItemIsUserCheckable;
    if (row.available) flags |= Qt::ItemIsEnabled;
    item->setFlags(flags);
    item->setCheckState(kDriveNumber, row.checked ? Qt::Checked : Qt::Unchecked);
  }
  for (int column = 0; column < kDriveNote; ++column) m_drives->resizeColumnToContents(column);
  m_filling = false;
}

void BenchWindow::onDriveChanged(QTreeWidgetItem* item, int column) {
  if (m_filling || column != kDriveNumber) return;
  m_model.setChecked(m_drives->indexOfTopLevelItem(item), item->checkState(kDriveNumber) == Qt::Checked);
  updateButtons();
}

void BenchWindow::updateButtons() {
  const bool running = m_model.running();
  m_start->setEnabled(m_model.canStart());
  m_stopAll->setEnabled(running && !m_model.stopAsked());
  m_drives->setEnabled(!running);
  m_job->setEnabled(!running);
  m_verify->setEnabled(!running && m_model.verifyOffered());
  m_temperatureGuard->setEnabled(!running);
  m_status->setText(QString::fromStdString(m_model.statusText()));
}

void BenchWindow::onStart() {
  const BenchStart started = m_model.start();
  if (started == BenchStart::Started) {
    m_runs->clearContents();
    m_runs->setRowCount(static_cast<int>(m_model.runCount()));
    for (int row = 0; row < m_runs->rowCount(); ++row) {
      auto* bar = new QProgressBar(m_runs);
      bar->setRange(0, 100);
      bar->setValue(0);
      bar->setTextVisible(true);
      m_runs->setCellWidget(row, kRunProgress, bar);
    }
    m_poll.start();
  }
  showRunRows();
  if (started == BenchStart::Started) {
    // The drives' names are known now: each column as wide as its longest.
    for (const int column : {kRunNumber, kRunModel, kRunSerial}) m_runs->resizeColumnToContents(column);
  }
  updateButtons();
}

QSize BenchWindow::sizeHint() const {
  const QMargins margins = layout()->contentsMargins();
  const QSize least = QDialog::sizeHint();
  return QSize(std::max(least.width(), m_runsWidth + margins.left() + margins.right()), std::max(least.height(), 600));
}

QProgressBar* BenchWindow::progressBar(int runRow) const {
  return qobject_cast<QProgressBar*>(m_runs->cellWidget(runRow, kRunProgress));
}

void BenchWindow::showRunRows() {
  const std::vector<BenchRunRow> rows = m_model.runRows();
  bool longer = false;  // a text that may need another line changed
  for (int r = 0; r < static_cast<int>(rows.size()) && r < m_runs->rowCount(); ++r) {
    const BenchRunRow& row = rows[static_cast<size_t>(r)];
    setCell(m_runs, r, kRunNumber, row.number, Qt::AlignHCenter);
    setCell(m_runs, r, kRunModel, row.model, Qt::AlignLeft);
    setCell(m_runs, r, kRunSerial, row.serial, Qt::AlignLeft);
    if (QProgressBar* bar = progressBar(r)) bar->setValue(row.percent);
    longer |= setCell(m_runs, r, kRunStage, row.stage, Qt::AlignLeft);
    setCell(m_runs, r, kRunRate, row.rate, Qt::AlignRight);
    setCell(m_runs, r, kRunTimeLeft, row.timeLeft, Qt::AlignRight);
    setCell(m_runs, r, kRunBadSectors, row.badSectors, Qt::AlignRight);
    setCell(m_runs, r, kRunTemperature, row.temperature, Qt::AlignRight);
    longer |= setCell(m_runs, r, kRunOutcome, row.outcome, Qt::AlignLeft);
    QTableWidgetItem* outcome = cellItem(m_runs, r, kRunOutcome);
    outcome->setForeground(row.outcomeColour ? QBrush(QColor(row.outcomeColour->red, row.outcomeColour->green,
                                                             row.outcomeColour->blue))
                                             : QBrush());
  }
  m_runs->setColumnHidden(kRunTemperature, !anyTemperature(rows));
  if (longer) m_runs->resizeRowsToContents();
}

void BenchWindow::refresh() {
  showRunRows();
  if (m_model.collect()) {
    // Every drive has ended: the list is read again, as an erase changed what it shows.
    m_poll.stop();
    m_model.fileCertificates(QSysInfo::machineHostName().toStdString(), m_certificateWriter);
    showRunRows();
    m_model.listDrives();
    showDriveList();
  }
  updateButtons();
}

void BenchWindow::showRowMenu(const QPoint& position) {
  const int row = m_runs->rowAt(position.y());
  const std::vector<BenchMenuEntry> entries = m_model.rowMenu(row);
  if (entries.empty()) return;
  QMenu menu(this);
  for (const BenchMenuEntry& entry : entries) {
    QAction* action = menu.addAction(QString::fromStdString(entry.text));
    action->setEnabled(entry.enabled);
    const BenchRowCommand command = entry.command;
    connect(action, &QAction::triggered, this, [this, command, row] {
      switch (command) {
        case BenchRowCommand::ResultPage: openResultPage(row); break;
        case BenchRowCommand::ScanMap: openScanMap(row); break;
        case BenchRowCommand::DriveLogs: {
          const int drive = m_model.endedDriveIndex(row);
          if (drive >= 0) showDriveLogsOf(m_session, drive, this);
          break;
        }
        case BenchRowCommand::History: {
          const int drive = m_model.endedDriveIndex(row);
          if (drive >= 0) showHistoryOf(m_session, drive, this);
          break;
        }
      }
    });
  }
  menu.exec(m_runs->viewport()->mapToGlobal(position));
}

void BenchWindow::openResultPage(int runRow) {
  const std::string page = m_model.resultPageOf(runRow);
  if (page.empty()) return;
  CViewDlg viewer(m_session.startup().resultsDir, this);
  viewer.ViewerHtml = page;
  viewer.ViewerTitle = m_model.resultPageTitle(runRow);
  viewer.exec();
}

void BenchWindow::openScanMap(int runRow) {
  const auto found = m_model.scanMapOf(runRow);
  if (!found) return;
  CScanMapDlg window(ScanMapModel(found->first, found->second, m_model.endedDriveIndex(runRow) + 1), this);
  window.exec();
}

bool BenchWindow::stopBeforeClosing() {
  if (!m_model.running()) return true;
  if (!m_model.stopAsked() &&
      QtPrompter::showBox(kCloseWhileRunning, windowTitle().toStdString(), PromptIcon::Warning, PromptButtons::YesNo,
                          PromptAnswer::No, PromptPurpose::question(), this) != PromptAnswer::Yes) {
    return false;
  }
  m_model.stopAll();
  // The runs end on their own threads; the rows keep moving meanwhile.
  QEventLoop wait;
  QTimer look;
  look.setInterval(kStopWaitMs);
  connect(&look, &QTimer::timeout, &wait, [this, &wait] {
    refresh();
    if (!m_model.running()) wait.quit();
  });
  look.start();
  wait.exec(QEventLoop::ExcludeUserInputEvents);
  refresh();
  return true;
}

void BenchWindow::reject() {
  if (!stopBeforeClosing()) return;
  m_poll.stop();
  QDialog::reject();
}

}  // namespace palvoro
