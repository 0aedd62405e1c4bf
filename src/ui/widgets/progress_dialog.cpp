#include "ui/widgets/progress_dialog.h"

#include <algorithm>

#include <QEventLoop>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "diagnostics/repair.h"
#include "diagnostics/run_event_texts.h"
#include "ui/widgets/pictures.h"
#include "ui/widgets/qt_progress_view.h"

namespace palvoro {
namespace {

// The dialog's size in dialog units (template 139).
constexpr int kWidthDlu = 236;
constexpr int kHeightDlu = 84;
// The pictures of the dialog: the activity icon and the drive picture are 32 x 32.
constexpr int kIconPixels = 32;
// The close result of Cancel, Close and a stop.
constexpr int kCloseResult = 2;
// The turning disk's frames, shown one per tick while the run runs.
constexpr int kActivityFrames = kIconActivity4 - kIconActivity1 + 1;

}  // namespace

CScanDiskDlg::CScanDiskDlg(Session& context, QWidget* parent, int timerMilliseconds, TestClock* clock)
    : CScanDiskDlg(context.testRunEnvironment(), parent, timerMilliseconds, clock) {}

CScanDiskDlg::CScanDiskDlg(const TestRunEnvironment& environment, QWidget* parent, int timerMilliseconds,
                           TestClock* clock)
    : QDialog(parent) {
  if (clock == nullptr) {
    m_ownClock = std::make_unique<SystemTestClock>();
    clock = m_ownClock.get();
  }
  m_queued = std::make_unique<QtProgressView>(static_cast<RunEvents&>(*this));
  m_run = std::make_unique<TestRun>(environment, *m_queued, *clock, std::chrono::milliseconds(timerMilliseconds));
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
  waitForThreads();
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
  activity->setPixmap(iconResource(kIconActivity1));
  m_icons[kCtlActivityIcon] = kIconActivity1;
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
  m_run->begin();
  m_workerRunning = true;
  m_threadsRunning = 2;
  // Both threads end by posting through the run's own queue, so their last word arrives
  // after everything the run showed.
  const GuiCallQueue::Sender gui = m_queued->queue().sender();
  m_worker = std::thread([this, gui] {
    m_run->runWorker();
    m_workerRunning = false;
    --m_threadsRunning;
    gui.post([this] { emit workerFinished(); });
  });
  m_ticker = std::thread([this, gui] {
    // The ticker waits for each tick's signal: a test that moves the clocks between ticks
    // has done so before the next one.
    m_run->runTicker([this, gui](int timerId) { gui.call([this, timerId] { emit timerTicked(timerId); }); });
    --m_threadsRunning;
    gui.post([this] { emit tickerFinished(); });
  });
  const int result = exec();
  waitForThreads();
  return result;
}

void CScanDiskDlg::waitForThreads() {
  m_run->stopTicker();
  if (m_threadsRunning.load() > 0) {
    // The worker may still be finishing a step, or either thread waiting for a message
    // box that only this thread can show: keep its events running until both have ended.
    QEventLoop loop;
    const auto quitWhenDone = [this, &loop] {
      if (m_threadsRunning.load() == 0) loop.quit();
    };
    connect(this, &CScanDiskDlg::workerFinished, &loop, quitWhenDone);
    connect(this, &CScanDiskDlg::tickerFinished, &loop, quitWhenDone);
    if (m_threadsRunning.load() > 0) loop.exec();
  }
  if (m_worker.joinable()) m_worker.join();
  if (m_ticker.joinable()) m_ticker.join();
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

void CScanDiskDlg::setText(int controlId, const std::string& text) {
  QWidget* w = control(controlId);
  if (auto* l = qobject_cast<QLabel*>(w)) l->setText(QString::fromStdString(text));
  if (auto* b = qobject_cast<QPushButton*>(w)) b->setText(QString::fromStdString(text));
}

void CScanDiskDlg::setIcon(int controlId, int iconId) {
  auto* l = qobject_cast<QLabel*>(control(controlId));
  if (l == nullptr) return;
  l->setPixmap(iconResource(iconId));
  m_icons[controlId] = iconId;
}

void CScanDiskDlg::started(const RunStarted& start) {
  setWindowTitle(QString::fromStdString(runTitleText(start.kind)));
  setText(kCtlDriveLine, driveLineText(start.driveNumber));
  setText(kCtlSecondLine, "");
  control(kCtlCurrentSectorLabel)->setVisible(false);
  control(kCtlRepair)->setVisible(false);
  m_activityFrame = 0;
}

void CScanDiskDlg::stage(const RunStage& stage) {
  setText(kCtlStatus, stage.line);
  if (stage.detail) setText(kCtlElapsed, *stage.detail);
}

void CScanDiskDlg::progress(const RunProgress& p) {
  if (p.percent) m_progress->setValue(*p.percent);
  if (p.sector) setText(kCtlCurrentSector, sectorLineText(*p.sector));
  if (p.elapsedSeconds) setText(kCtlElapsed, elapsedText(*p.elapsedSeconds));
  if (p.remainingSeconds) setText(kCtlEstimate, remainingText(*p.remainingSeconds));
  if (p.estimatedMinutes) setText(kCtlEstimate, estimatedMinutesText(*p.estimatedMinutes));
}

void CScanDiskDlg::scanStarted() {
  setText(kCtlEstimate, remainingText(0));
  setText(kCtlElapsed, elapsedText(std::nullopt));
  control(kCtlCurrentSectorLabel)->setVisible(true);
}

void CScanDiskDlg::repairStarted() {
  for (const int id : {kCtlEstimate, kCtlElapsed, kCtlCurrentSectorLabel, kCtlCurrentSector}) setText(id, "");
}

void CScanDiskDlg::repairOffered(bool offered) {
  if (offered) m_repairOffered = true;
  control(kCtlRepair)->setVisible(offered);
}

void CScanDiskDlg::activity(RunActivity activity) {
  switch (activity) {
    case RunActivity::Running:
      // One frame further at every tick; an outcome starts the turning over.
      setIcon(kCtlActivityIcon, kIconActivity1 + m_activityFrame);
      m_activityFrame = (m_activityFrame + 1) % kActivityFrames;
      return;
    case RunActivity::Success:
      setIcon(kCtlActivityIcon, kIconSuccess);
      break;
    case RunActivity::Failure:
      setIcon(kCtlActivityIcon, kIconFailure);
      break;
  }
  m_activityFrame = 0;
}

void CScanDiskDlg::ended(const RunEnd&) { setText(kCtlCancel, closeLabelText()); }

void CScanDiskDlg::closed() { done(kCloseResult); }

void CScanDiskDlg::onRepair() {
  // Runs here, on the dialog's thread; the read-back of each sector lets pending events
  // run, so Cancel still reaches reject().
  m_repairRun = repairButton(*m_run) || m_repairRun;
}

}  // namespace palvoro
