// palvoro: the program's windows on this computer's drives. Disks plugged in or pulled
// out while it runs reach the main window as a device arrival or removal, as they would
// on Windows.
//
//   palvoro

#include <QApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/app_context.h"
#include "app/device_change_debounce.h"
#include "app/palvoro_app.h"
#include "app/startup.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/udev_monitor.h"
#include "ui/widgets/main_window.h"
#include "ui/widgets/qt_prompter.h"

using namespace palvoro;

namespace {

bool isSet(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

// Whether the main window could re-scan now: no re-scan running (it would absorb this one;
// the detection dialog may have closed while its worker ends), no dialog, box or menu over
// the window.
bool mainWindowFree(CPalvoroDlg& mainWindow) {
  return !mainWindow.model().rescanInProgress() && QApplication::activeModalWidget() == &mainWindow &&
         QApplication::activePopupWidget() == nullptr;
}

// Runs the main window with udev's disk events delivered to its device-change handler on
// this (the GUI) thread, a burst of them as one re-scan. Without udev (a container, a
// chroot) the window still works; F5 re-scans.
void runMainWindow(AppContext& context) {
  CPalvoroDlg mainWindow(context, static_cast<QWidget*>(nullptr));
  real::UdevMonitor monitor;
  std::unique_ptr<QSocketNotifier> notifier;
  DeviceChangeDebounce debounce;
  QElapsedTimer clock;
  clock.start();
  QTimer wait;
  wait.setSingleShot(true);
  const auto waitAgain = [&] {
    const int ms = debounce.waitAt(clock.elapsed());
    if (ms >= 0) wait.start(ms);
  };
  QObject::connect(&wait, &QTimer::timeout, &mainWindow, [&] {
    // The re-scan is a modal dialog of its own: events arriving during it are held and
    // re-scanned after it.
    if (debounce.dueAt(clock.elapsed(), mainWindowFree(mainWindow))) mainWindow.onDeviceChange();
    waitAgain();
  });
  if (monitor.valid()) {
    notifier = std::make_unique<QSocketNotifier>(monitor.fd(), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &mainWindow, [&] {
      if (!monitor.drainDiskEvents()) return;
      debounce.eventAt(clock.elapsed());
      waitAgain();
    });
  }
  mainWindow.exec();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    std::fprintf(stderr, "usage: palvoro\n(palvoro-cli works without windows; palvoro-lab on a simulated machine.)\n");
    return 2;
  }
  if (!isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY") && !isSet("QT_QPA_PLATFORM")) {
    std::fprintf(stderr,
                 "palvoro: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                 "Start it from a desktop session. Started through pkexec, the display is kept only when the\n"
                 "installed polkit action allows it. Without windows, palvoro-cli list shows the drive table.\n");
    return 1;
  }
  QApplication application(argc, argv);
  const std::unique_ptr<Platform> platform = real::makeLinuxPlatform();
  QtPrompter prompter;
  AppContext context(*platform, prompter);
  // The kernel answers SMART requests for administrators only: a limited user's self-test
  // could only fail.
  context.startup().miniportSmart = 0;
  CPalvoroApp app(context, runMainWindow);
  app.setNoRightsNote(kNoRightsNoteWindows);
  app.InitInstance();
  return 0;
}
