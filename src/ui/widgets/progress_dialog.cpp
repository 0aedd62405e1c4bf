#include "ui/widgets/progress_dialog.h"

#include <algorithm>

#include <QEventLoop>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "diagnostics/repair.h"
#include "ui/widgets/pictures.h"
#include "ui/widgets/qt_progress_view.h"

namespace palvoro {
namespace {

// The dialog's size in dialog units (template 139).
constexpr int kWidthDlu = 236;
constexpr int kHeightDlu = 84;
// The pictures of the dialog: the activity icon and the drive picture are 32 x 32.
constexpr int kIconPixels = 32;

}  // namespace

CScanDiskDlg::CScanDiskDlg(Session& context, QWidget* parent, int timerMilliseconds, TestClock* clock)
    : CScanDiskDlg(context.testRunEnvironment(), parent, timerMilliseconds, clock) {}

CScanDiskDlg::CScanDiskDlg(const TestRunEnvironment& environment, QWidget* parent, int timerMilliseconds,
                           TestClock* clock)
    : QDialog(parent), m_timerMilliseconds(timerMilliseconds) {
  if (clock == nullptr) {
    m_ownClock = std::make_unique<SystemTestClock>();
    clock = m_ownClock.get();
  }
  m_queued = std::make_unique<QtProgressView>(static_cast<ProgressView&>(*this));
  m_run = std::make_unique<TestRun>(environment, *m_queued, *clock);
  setWindowIcon(programIcon());
  buildControls();
}

RunSighting CScanDiskDlg::sighting() const {
  RunSighting seen;
  const uint64_t count = m_run->values().badSectorCount.load();
  const size_t listed = static_cast<size_t>(std::min<uint64_t>(count, m_run->badSectors.size()));
  seen.badSectors.assign(m_run->badSectors.begin(), m_run->badSectors.begin() + static_cast<long>(listed));
  seen.repairOffered = m_repairOffered;
  seen.repairRun = m_repairRun;
  return seen;
}

CScanDiskDlg::~CScanDiskDlg() {
  waitForWorker();
  // Calls the worker queued and nobody handled are dropped with the view, before the
  // widgets they would touch go.
  m_queued.reset();
}

void CScanDiskDlg::buildControls() {
  auto label = [this](int id) {
    auto* l = new QLabel(this);
    // A run's texts may quote a drive's model or a volume's label: shown as typed.
    l->setTextFormat(Qt::PlainText);
    m_controls[id] = l;
    return l;
  };
  QLabel* drivePicture = label(kCtlDrivePicture);
  drivePicture->setFixedSize(kIconPixels, kIconPixels);
  // The picture of the hard drive from the option list's images (bitmap 159).
  drivePicture->setPixmap(optionImages().value(kOptionImageQuickTest));
  QLabel* driveLine = label(kCtlDriveLine);
  QLabel* activity = label(kCtlActivityIcon);
  activity->setFixedSize(kIconPixels, kIconPixels);
  activity->setPixmap(iconResource(kIconActivityFirst));
  m_icons[kCtlActivityIcon] = kIconActivityFirst;
  QLabel* status = label(kCtlStatus);
  QLabel* estimate = label(kCtlEstimate);
  QLabel* elapsed = label(kCtlElapsed);
  QLabel* sectorLabel = label(kCtlCurrentSectorLabel);
  sectorLabel->setText(QStringLiteral("Current Sector:"));
  QLabel* sector = label(kCtlCurrentSector);
  QLabel* secondLine = label(kCtlSecondLine);

  m_progress = new QProgressBar(this);
  m_progress->setRange(0, 100);
  m_progress->setTextVisible(false);
  m_controls[kCtlProgress] = m_progress;

  auto* repair = new QPushButton(QStringLiteral("Repair"), this);
  repair->setAutoDefault(false);
  m_controls[kCtlRepair] = repair;
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  m_controls[kCtlCancel] = cancel;
  connect(repair, &QPushButton::clicked, this, [this] { onRepair(); });
  connect(cancel, &QPushButton::clicked, this, [this] { reject(); });

  auto* top = new QHBoxLayout;
  top->addWidget(drivePicture);
  auto* lines = new QVBoxLayout;
  lines->addWidget(driveLine);
  lines->addWidget(status);
  top->addLayout(lines, 1);
  top->addWidget(activity);

  auto* times = new QGridLayout;
  times->addWidget(estimate, 0, 0, 1, 2);
  times->addWidget(elapsed, 1, 0, 1, 2);
  times->addWidget(sectorLabel, 2, 0);
  times->addWidget(sector, 2, 1);
  times->setColumnStretch(1, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(secondLine, 1);
  buttons->addWidget(repair);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(m_progress);
  layout->addLayout(times);
  layout->addLayout(buttons);

  // Dialog units: a quarter of the average character width, an eighth of the line height.
  const QFontMetrics metrics(font());
  setMinimumSize(kWidthDlu * metrics.averageCharWidth() / 4, kHeightDlu * metrics.height() / 8);
  sectorLabel->hide();
  repair->hide();
}

int CScanDiskDlg::runTest() {
  // Timers left from an earlier run of this dialog must not tick into this one.
  for (auto& [id, t] : m_timers) t->stop();
  m_run->begin();
  m_workerRunning = true;
  m_worker = std::thread([this] {
    m_run->runWorker();
    m_workerRunning = false;
    // Through the run's own queue, so it arrives after everything the run showed.
    m_queued->queue().post([this] { emit workerFinished(); });
  });
  const int result = exec();
  for (auto& [id, t] : m_timers) t->stop();
  waitForWorker();
  return result;
}

void CScanDiskDlg::waitForWorker() {
  if (!m_worker.joinable()) return;
  if (m_workerRunning.load()) {
    // The worker may still be finishing a step, or waiting for a message box that only
    // this thread can show: keep its events running until it says it has ended.
    QEventLoop loop;
    connect(this, &CScanDiskDlg::workerFinished, &loop, &QEventLoop::quit);
    if (m_workerRunning.load()) loop.exec();
  }
  m_worker.join();
}

QWidget* CScanDiskDlg::control(int controlId) const {
  const auto it = m_controls.find(controlId);
  return it == m_controls.end() ? nullptr : it->second;
}

int CScanDiskDlg::iconOf(int controlId) const {
  const auto it = m_icons.find(controlId);
  return it == m_icons.end() ? 0 : it->second;
}

void CScanDiskDlg::reject() {
  // The run decides: it closes the dialog through close(), or asks the running step to
  // stop and keeps it open.
  m_run->onCancel();
}

void CScanDiskDlg::setTitle(const std::string& title) { setWindowTitle(QString::fromStdString(title)); }

void CScanDiskDlg::setText(int controlId, const std::string& text) {
  QWidget* w = control(controlId);
  if (auto* l = qobject_cast<QLabel*>(w)) l->setText(QString::fromStdString(text));
  if (auto* b = qobject_cast<QPushButton*>(w)) b->setText(QString::fromStdString(text));
}

void CScanDiskDlg::setProgress(int percent) { m_progress->setValue(percent); }

void CScanDiskDlg::showControl(int controlId, bool visible) {
  if (controlId == kCtlRepair && visible) m_repairOffered = true;
  if (QWidget* w = control(controlId)) w->setVisible(visible);
}

void CScanDiskDlg::setIcon(int controlId, int iconId) {
  auto* l = qobject_cast<QLabel*>(control(controlId));
  if (l == nullptr) return;
  l->setPixmap(iconResource(iconId));
  m_icons[controlId] = iconId;
}

QTimer* CScanDiskDlg::timer(int timerId) {
  QTimer*& t = m_timers[timerId];
  if (t == nullptr) {
    t = new QTimer(this);
    t->setSingleShot(true);  // the run's handler kills and re-arms it on every tick
    connect(t, &QTimer::timeout, this, [this, timerId] {
      m_run->onTimer(timerId);
      emit timerTicked(timerId);
    });
  }
  return t;
}

void CScanDiskDlg::armTimer(int timerId, int /*milliseconds: this dialog's period*/) {
  timer(timerId)->start(m_timerMilliseconds);
}

void CScanDiskDlg::disarmTimer(int timerId) { timer(timerId)->stop(); }

void CScanDiskDlg::closeView(int result) { done(result); }

void CScanDiskDlg::onRepair() {
  // Runs here, on the dialog's thread; the read-back of each sector lets pending events
  // run, so Cancel still reaches reject().
  m_repairRun = repairButton(*m_run) || m_repairRun;
}

}  // namespace palvoro
