#include "ui/widgets/detection_dialog.h"

#include <mutex>

#include "ui/widgets/pictures.h"

#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "discovery/detection.h"
#include "platform/prompter.h"

namespace palvoro {

DetectionDialog::DetectionDialog(Session& context, Mode mode, QWidget* parent, int tickMilliseconds)
    : QDialog(parent), m_context(context), m_mode(mode), m_tickMilliseconds(tickMilliseconds) {
  setWindowTitle(QString::fromStdString(context.platform().productTitle()));
  setWindowIcon(programIcon());  // icon 128, the program's own
  m_text = new QLabel(QStringLiteral("Detecting drives..."), this);
  m_progress = new QProgressBar(this);
  m_progress->setRange(0, 100);
  m_progress->setTextVisible(false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(14, 14, 14, 14);
  layout->addWidget(m_text);
  layout->addWidget(m_progress);
  setMinimumWidth(320);
  m_timer.setSingleShot(true);
  connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
}

DetectionDialog::~DetectionDialog() { waitForWorker(); }

int DetectionDialog::run() {
  setWindowState(windowState() | Qt::WindowMinimized);
  m_ticker.begin();
  m_workerRunning = true;
  const GuiCallQueue::Sender calls = m_calls.sender();
  m_worker = std::thread([this, calls] {
    m_ticker.runWorker(m_mode == Mode::Rescan, [this] {
      // Runs of the Bench read the table under its lock while a re-scan goes on: the table
      // is filled aside and takes its place whole.
      DriveTable found;
      {
        std::lock_guard lock(m_context.tableMutex());
        found = m_context.driveTable();
      }
      (void)detectDrives(m_context.probeEnvironment(), found);
      std::lock_guard lock(m_context.tableMutex());
      m_context.driveTable() = std::move(found);
    });
    m_workerRunning = false;
    // Behind everything the run asked for, so the wait ends after all of it was done.
    calls.post([this] {
      if (m_waitLoop != nullptr) m_waitLoop->quit();
    });
  });
  const int result = exec();
  // After a Cancel the worker may still be filling the table: wait for it. What it asked
  // for on its way out is done, and then no tick outlives the dialog's run.
  waitForWorker();
  m_calls.drain();
  m_timer.stop();
  return result;
}

void DetectionDialog::waitForWorker() {
  if (!m_worker.joinable()) return;
  // A worker that gave up late may still be waiting for a message box ("ReadCapacity
  // failed!") that only this thread can show: joining without running events would never
  // return.
  QEventLoop loop;
  m_waitLoop = &loop;
  if (m_workerRunning.load()) loop.exec();
  m_waitLoop = nullptr;
  m_worker.join();
}

void DetectionDialog::setTitle(const std::string& title) {
  const QString text = QString::fromStdString(title);
  m_calls.post([this, text] { setWindowTitle(text); });
}

void DetectionDialog::setProgress(int percent) { m_progress->setValue(percent); }

void DetectionDialog::restore() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void DetectionDialog::armTimer(int /*milliseconds: the period this dialog was given*/) {
  // Called by the worker once and by every tick; the timer lives on the GUI thread.
  m_calls.post([this] { m_timer.start(m_tickMilliseconds); });
}

void DetectionDialog::disarmTimer() { m_timer.stop(); }

void DetectionDialog::closeView(bool ok) { done(ok ? QDialog::Accepted : QDialog::Rejected); }

}  // namespace palvoro
