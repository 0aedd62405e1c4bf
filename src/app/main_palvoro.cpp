// palvoro: the program's windows on this computer's drives. Disks plugged in or pulled
// out while it runs reach the main window as a device arrival or removal, as they would
// on Windows.
//
//   palvoro [--elevate] [--help] [--version]

#include <QApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/desktop_ids.h"
#include "app/device_change_debounce.h"
#include "app/elevation.h"
#include "app/palvoro_app.h"
#include "app/startup.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/udev_monitor.h"
#include "ui/widgets/main_window.h"
#include "resources/version.h"
#include "ui/widgets/qt_prompter.h"

using namespace palvoro;

namespace {

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
  mainWindow.setCertificateWriter(certificateFileWriter());
  mainWindow.setBenchCertificateWriter(benchCertificateFileWriter());
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

constexpr const char* kHelp =
    "Usage: palvoro [OPTION]\n"
    "Disk-drive diagnostics in windows, on this computer's drives: identity, SMART health,\n"
    "the quick and the extended test, and the erase.\n"
    "\n"
    "Talking to drives takes administrator rights (root, or CAP_SYS_RAWIO and CAP_SYS_ADMIN).\n"
    "Without them the drive list shows only what the system publishes, and the program offers\n"
    "to start again through pkexec.\n"
    "\n"
    "Options:\n"
    "  --elevate      start again through pkexec right away, with the display settings\n"
    "                 (scaling, theme) carried across; without rights if they are not given\n"
    "  --state-dir DIR\n"
    "                 keep the drives' history in DIR (default: the state folder,\n"
    "                 ~/.local/state/palvoro, or /var/lib/palvoro for root); a start\n"
    "                 through pkexec keeps root's own\n"
    "  --help         print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "palvoro-cli does everything without windows; palvoro-lab runs the same windows on a\n"
    "simulated machine, safe for trying everything.\n";

struct Options {
  bool elevate = false;
  std::string stateDir;
  std::vector<std::string> userEnvironment;
};

// Returns -1 to go on, else the exit status.
int parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("palvoro %s\n", programVersionText().c_str());
      return 0;
    }
    if (std::strcmp(argv[i], "--elevate") == 0) {
      options.elevate = true;
    } else if (std::strcmp(argv[i], "--state-dir") == 0 && i + 1 < argc) {
      options.stateDir = argv[++i];
    } else if (std::strcmp(argv[i], kUserEnvOption) == 0 && i + 1 < argc) {
      options.userEnvironment.push_back(argv[++i]);
    } else {
      std::fprintf(stderr, "palvoro: unknown option %s\nTry palvoro --help.\n", argv[i]);
      return 2;
    }
  }
  return -1;
}

// Starting again through pkexec: the program with rights runs while this one waits.
ElevatedRun restartWithRights(const std::string& pkexec) {
  return runElevated(elevatedCommand(pkexec, runningProgramDir() + "palvoro", {},
                                     [](const char* name) { return std::getenv(name); }));
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const int parsed = parseOptions(argc, argv, options);
  if (parsed >= 0) return parsed;
  // Only a run pkexec started gets these; they are the user's own display settings.
  const std::string refused = applyUserEnvironment(options.userEnvironment);
  if (!refused.empty()) {
    std::fprintf(stderr, "palvoro: %s is not a display setting this program carries across\n", refused.c_str());
    return 2;
  }
  if (!displayFound("palvoro",
                    "Start it from a desktop session. Started through pkexec, the display is kept only when the\n"
                    "installed polkit action allows it. Without windows, palvoro-cli list shows the drive table.\n")) {
    return 1;
  }
  const bool root = geteuid() == 0;
  const std::string pkexec = root ? std::string() : findPkexec();
  if (options.elevate && !pkexec.empty()) {
    const ElevatedRun run = restartWithRights(pkexec);
    if (run.end == ElevatedRun::End::Ran) return run.status;
  }
  QApplication application(argc, argv);
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kAppId));
  const std::unique_ptr<Platform> platform = real::makeLinuxPlatform();
  QtPrompter prompter;
  AppContext context(*platform, prompter);
  // The kernel answers SMART requests for administrators only: a limited user's self-test
  // could only fail.
  context.startup().miniportSmart = 0;
  CPalvoroApp app(context, runMainWindow);
  app.setNoRightsNote(kNoRightsNoteWindows);
  app.setHistoryFolder(options.stateDir, false);
  int status = 0;
  if (!pkexec.empty()) {
    app.setRestartWithRights([&] {
      const ElevatedRun run = restartWithRights(pkexec);
      if (run.end == ElevatedRun::End::Ran) {
        status = run.status;
        return true;
      }
      if (run.end != ElevatedRun::End::Dismissed) {
        prompter.ask(kRightsNotGiven, platform->productTitle(), PromptIcon::Information, PromptButtons::Ok, PromptAnswer::Ok,
                     PromptPurpose::information());
      }
      return false;
    });
  }
  app.InitInstance();
  return status;
}
