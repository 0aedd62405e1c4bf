// palvoro-lab: the program on a simulated machine, safe for trying everything. It opens
// the program's windows on the machine, with a lab window beside them that plugs and
// unplugs the machine's drives; --print instead runs start-up and detection and prints the
// drive table.
//
//   palvoro-lab [--machine FILE.json | --builtin NAME] [--state-dir DIR] [--print] [--help] [--version]

#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "app/app_context.h"
#include "app/cli.h"
#include "app/desktop_ids.h"
#include "platform/sim/sim_platform.h"
#include "app/lab_panel.h"
#include "app/palvoro_app.h"
#include "app/startup.h"
#include "ui/widgets/main_window.h"
#include "resources/version.h"
#include "ui/widgets/qt_prompter.h"

using namespace palvoro;

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: palvoro-lab [--machine FILE.json | --builtin NAME] [--state-dir DIR] [--print]\n"
               "Try palvoro-lab --help.\n");
  return 2;
}

constexpr const char* kHelp =
    "Usage: palvoro-lab [--machine FILE.json | --builtin NAME] [--state-dir DIR] [--print]\n"
    "PALVORO's windows on a simulated machine: every drive, test and erase works as on real\n"
    "drives, and no real drive is touched. A lab window beside the main window plugs the\n"
    "simulated drives in and out.\n"
    "\n"
    "Options:\n"
    "  --builtin NAME     the built-in machine NAME: showcase (the default), basic or bench\n"
    "  --machine FILE     the machine FILE describes (JSON)\n"
    "  --state-dir DIR    keep the simulated drives' history in DIR (default: simulated/ in\n"
    "                     the state folder, apart from the real drives')\n"
    "  --print            print the drive table on the console instead of opening windows\n"
    "  --help             print this help and exit\n"
    "  --version          print the version and exit\n";

// The drive table on the console: start-up checks, detection, volumes, as palvoro-cli's
// list shows it.
int printDriveTable(sim::SimPlatform& platform) {
  std::printf("PALVORO lab - simulated machine \"%s\"\n\n", platform.machine().name.c_str());
  std::fflush(stdout);
  return printDriveList(platform, std::cout, std::cerr);
}

// The program's windows over the machine, with the lab window beside the main window.
int runWindows(sim::SimPlatform& platform, const std::string& stateDir, int argc, char** argv) {
  if (!displayFound("palvoro-lab",
                    "Run it under xvfb-run (xvfb-run ./build/src/palvoro-lab), set QT_QPA_PLATFORM=offscreen to\n"
                    "run it without showing anything, or use --print for the drive table on the console.\n")) {
    return 1;
  }
  QApplication application(argc, argv);
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kLabAppId));
  QtPrompter prompter;
  AppContext context(platform, prompter);
  CPalvoroApp app(context, [&platform](AppContext& ctx) {
    CPalvoroDlg mainWindow(ctx, static_cast<QWidget*>(nullptr));
    mainWindow.setCertificateWriter(certificateFileWriter());
    mainWindow.setBenchCertificateWriter(benchCertificateFileWriter());
    // A child of the main window, so its modal dialogs (a re-scan, a test) keep the lab
    // from changing the machine while they use it.
    LabPanel lab(platform, [&mainWindow] { mainWindow.onDeviceChange(); }, &mainWindow);
    QTimer::singleShot(0, &lab, [&lab, &mainWindow] {
      lab.adjustSize();
      // The panel gets its frame only when shown: the main window's stands in for it, so
      // a panel that would just fit beside the window does not end under the edge.
      const QRect mainFrame = mainWindow.frameGeometry();
      const QSize frame = lab.size() + (mainFrame.size() - mainWindow.size());
      lab.move(labPanelPosition(mainFrame, frame, mainWindow.screen()->availableGeometry()));
      lab.show();
    });
    mainWindow.exec();
  });
  app.setHistoryFolder(stateDir, true);
  app.InitInstance();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string builtin = "showcase";
  std::string file;
  std::string stateDir;
  bool print = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--machine") == 0 && i + 1 < argc) {
      file = argv[++i];
    } else if (std::strcmp(argv[i], "--builtin") == 0 && i + 1 < argc) {
      builtin = argv[++i];
    } else if (std::strcmp(argv[i], "--state-dir") == 0 && i + 1 < argc) {
      stateDir = argv[++i];
    } else if (std::strcmp(argv[i], "--print") == 0) {
      print = true;
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("palvoro-lab %s\n", programVersionText().c_str());
      return 0;
    } else {
      return usage();
    }
  }

  sim::SimMachine machine;
  try {
    if (!file.empty()) {
      std::ifstream in(file, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "palvoro-lab: cannot read %s\n", file.c_str());
        return 1;
      }
      std::stringstream text;
      text << in.rdbuf();
      machine = sim::loadMachine(text.str());
    } else {
      machine = sim::builtinMachine(builtin);
    }
  } catch (const sim::MachineDescriptionError& e) {
    std::fprintf(stderr, "palvoro-lab: %s\n", e.what());
    return 1;
  }

  sim::SimPlatform platform(std::move(machine));
  // Someone watches this machine: a drive's self-test runs for as long as it says.
  platform.followWallClock();
  // The request log is for tests to read; kept here it would grow with every block a
  // scan reads, without bound.
  platform.setLogging(false);
  return print ? printDriveTable(platform) : runWindows(platform, stateDir, argc, argv);
}
