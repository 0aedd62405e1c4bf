#include "app/elevation.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

namespace palvoro {
namespace {

// The program run with rights sets what it is handed: only the display and look survive,
// never a path to code it would load as root.
TEST(ElevationTest, OnlyDisplaySettingsWithPrintableValuesAreCarried) {
  struct Case {
    std::string assignment;
    bool allowed;
  };
  const Case cases[] = {
      {"DISPLAY=:0", true},
      {"XAUTHORITY=/run/user/1000/gdm/Xauthority", true},
      {"QT_SCALE_FACTOR=2", true},
      {"QT_SCREEN_SCALE_FACTORS=eDP-1=2;HDMI-1=1", true},
      {"XDG_CURRENT_DESKTOP=GNOME", true},
      {"QT_QPA_PLATFORMTHEME=", true},
      {"QT_PLUGIN_PATH=/tmp/evil", false},
      {"LD_PRELOAD=/tmp/evil.so", false},
      {"QT_QPA_PLATFORM_PLUGIN_PATH=/tmp", false},
      {"HOME=/home/ada", false},
      {"DISPLAY", false},
      {"=:0", false},
      {"display=:0", false},
      {"DISPLAY=:0\nLD_PRELOAD=x", false},
      {"XCURSOR_THEME=Adwaita\x7f", false},
      {"XCURSOR_THEME=" + std::string(256, 'a'), true},
      {"XCURSOR_THEME=" + std::string(257, 'a'), false},
  };
  for (const Case& c : cases) EXPECT_EQ(userEnvironmentAllowed(c.assignment), c.allowed) << c.assignment;

  // One refused setting and none is set.
  unsetenv("QT_SCALE_FACTOR");
  EXPECT_EQ(applyUserEnvironment({"QT_SCALE_FACTOR=3", "LD_PRELOAD=x"}), "LD_PRELOAD=x");
  EXPECT_EQ(std::getenv("QT_SCALE_FACTOR"), nullptr);
  EXPECT_EQ(applyUserEnvironment({"QT_SCALE_FACTOR=3"}), "");
  EXPECT_STREQ(std::getenv("QT_SCALE_FACTOR"), "3");
  unsetenv("QT_SCALE_FACTOR");
}

TEST(ElevationTest, TheCommandCarriesTheSetSettingsInAFixedOrderBeforeTheArguments) {
  const std::map<std::string, std::string> environment = {
      {"XDG_CURRENT_DESKTOP", "KDE"}, {"DISPLAY", ":1"},       {"QT_SCALE_FACTOR", ""},
      {"LD_PRELOAD", "/x.so"},        {"GDK_SCALE", "2\x01"}, {"XAUTHORITY", "/home/ada/.Xauthority"}};
  const auto lookup = [&](const char* name) -> const char* {
    const auto found = environment.find(name);
    return found == environment.end() ? nullptr : found->second.c_str();
  };
  const std::vector<std::string> expected = {"/usr/bin/pkexec",
                                             "/usr/bin/palvoro",
                                             "--user-env",
                                             "DISPLAY=:1",
                                             "--user-env",
                                             "XAUTHORITY=/home/ada/.Xauthority",
                                             "--user-env",
                                             "XDG_CURRENT_DESKTOP=KDE",
                                             "--extra"};
  EXPECT_EQ(elevatedCommand("/usr/bin/pkexec", "/usr/bin/palvoro", {"--extra"}, lookup), expected);
}

// pkexec's own exit statuses say whether the program ran at all; anything else is the
// program's, and a program that cannot be started is told apart from one that failed.
TEST(ElevationTest, PkexecExitStatusesAreToldApartFromTheProgramsOwn) {
  struct Case {
    int status;
    ElevatedRun::End end;
  };
  for (const Case& c : {Case{0, ElevatedRun::End::Ran}, Case{1, ElevatedRun::End::Ran},
                        Case{126, ElevatedRun::End::Dismissed}, Case{127, ElevatedRun::End::NotAuthorized}}) {
    EXPECT_EQ(elevatedRunOf(c.status).end, c.end) << c.status;
  }
  EXPECT_EQ(runElevated({"/no/such/pkexec", "/usr/bin/palvoro"}).end, ElevatedRun::End::NotStarted);
  EXPECT_EQ(runElevated({}).end, ElevatedRun::End::NotStarted);
  const ElevatedRun ran = runElevated({"/bin/sh", "-c", "exit 3"});
  EXPECT_EQ(ran.end, ElevatedRun::End::Ran);
  EXPECT_EQ(ran.status, 3);
  EXPECT_EQ(runElevated({"/bin/sh", "-c", "exit 126"}).end, ElevatedRun::End::Dismissed);
}

}  // namespace
}  // namespace palvoro
