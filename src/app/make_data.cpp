// palvoro-make-data: writes the files the programs read at run time and the desktop's
// icons, from the program's own code, so that the build tree and an install hold the same
// bytes the program would otherwise write itself.
//
//   palvoro-make-data DATA_DIR ICON_DIR
//
// DATA_DIR receives help.htm, smart.htm and vhtlogo.gif; ICON_DIR (a hicolor theme
// folder) receives NxN/apps/<app id>.png for each size the desktop asks for.

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/desktop_ids.h"
#include "app/palvoro_app.h"
#include "ui/widgets/pictures.h"

using namespace palvoro;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: palvoro-make-data DATA_DIR ICON_DIR\n");
    return 2;
  }
  // Drawing needs no screen: a build machine has none.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication application(argc, argv);
  const QString dataDir = QString::fromLocal8Bit(argv[1]);
  const QString iconDir = QString::fromLocal8Bit(argv[2]);
  if (!QDir().mkpath(dataDir)) {
    std::fprintf(stderr, "palvoro-make-data: cannot make %s\n", argv[1]);
    return 1;
  }
  const std::vector<ProgramFile> files = startupFiles();
  std::string refusal;
  if (extractProgramFiles(QDir(dataDir).absolutePath().toStdString() + "/", files, &refusal) !=
      static_cast<int>(files.size())) {
    // A build run as root in a user's tree is refused too: root leaves no files there.
    std::fprintf(stderr, "palvoro-make-data: cannot write into %s%s%s\n", argv[1], refusal.empty() ? "" : ": ",
                 refusal.c_str());
    return 1;
  }
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(iconDir).arg(size);
    const QString path = QStringLiteral("%1/%2.png").arg(folder, QString::fromLatin1(kAppId));
    QByteArray png;
    QBuffer buffer(&png);
    const bool drawn = buffer.open(QIODevice::WriteOnly) && programIconImage(size).save(&buffer, "PNG");
    const std::string name = std::string(kAppId) + ".png";
    if (!QDir().mkpath(folder) || !drawn ||
        extractProgramFiles(folder.toStdString() + "/", {{name, std::vector<uint8_t>(png.begin(), png.end())}}) != 1) {
      std::fprintf(stderr, "palvoro-make-data: cannot write %s\n", path.toLocal8Bit().constData());
      return 1;
    }
  }
  return 0;
}
