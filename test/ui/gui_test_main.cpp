// The GUI tests' main: one QApplication for every test, headless unless told otherwise.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>

int main(int argc, char** argv) {
  // Test discovery at build time runs this too: without a display it must not abort.
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform == nullptr || *platform == '\0') setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QTemporaryDir runtimeDir;
  if (runtimeDir.isValid()) setenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit().constData(), 1);
  // The program keeps its result page in the user's state folder: a test run keeps its
  // own, away from the home of whoever runs the tests.
  QTemporaryDir stateDir;
  if (stateDir.isValid()) setenv("XDG_STATE_HOME", stateDir.path().toLocal8Bit().constData(), 1);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
