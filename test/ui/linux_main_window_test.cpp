// The main window on this computer's drives, over the Linux backend on a fake machine: the
// volumes are named as Linux names them and the titles name the program alone.

#include <gtest/gtest.h>

#include <QImage>

#include "app/app_context.h"
#include "discovery/detection.h"
#include "platform/linux/fake_sys_calls.h"
#include "platform/linux/linux_rig.h"
#include "platform/linux/linux_platform.h"
#include "screenshot.h"
#include "ui/widgets/main_window.h"

namespace palvoro {
namespace {

class OkPrompter : public Prompter {
 public:
  PromptAnswer ask(const std::string&, const std::string& caption, PromptIcon, PromptButtons, PromptAnswer,
                   PromptPurpose) override {
    captions.push_back(caption);
    return PromptAnswer::Ok;
  }
  std::vector<std::string> captions;
};

TEST(LinuxMainWindowTest, VolumesAreMountPointsAndTheTitleNamesTheProgram) {
  real::test::FakeSysCalls sys;
  sys.loadFixture("sata_ahci");
  sys.loadFixture("usb_storage");
  // Identity from sysfs alone: the fake tree's nodes refuse to open, so no scripted command
  // answers are needed.
  sys.failOpen(real::test::fakeNode("sda"), -EPERM);
  sys.failOpen(real::test::fakeNode("sdd"), -EPERM);
  sys.addFile("/proc/self/mountinfo",
              "20 1 8:2 / / rw,relatime - ext4 /dev/sda2 rw\n"
              "21 20 0:20 / /proc rw - proc proc rw\n"
              "23 20 8:1 / /home rw - btrfs /dev/sda1 rw\n"
              "24 20 8:49 / /media/ada/LAB\\040STICK rw - vfat /dev/sdd1 rw\n");
  real::LinuxPlatform platform(sys, sys.root());
  OkPrompter prompter;
  AppContext context(platform, prompter);
  detectDrives(context.probeEnvironment(), context.driveTable());
  ASSERT_EQ(context.driveTable().driveCount(), 2);

  CPalvoroDlg window(context);
  EXPECT_EQ(window.windowTitle(), "Varnholt Steadwell Diagnostics - PALVORO");
  const std::vector<ListRow>& rows = window.model().logicalRows();
  ASSERT_EQ(rows.size(), 3u);
  const char* const expected[][2] = {{" /", "ext4"}, {" /home", "btrfs"}, {" /media/ada/LAB STICK", "vfat"}};
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][0].text, expected[i][0]);
    EXPECT_EQ(rows[i][1].text, expected[i][1]);
  }
  for (const std::string& caption : prompter.captions) EXPECT_EQ(caption, "PALVORO");
  const QString path = test::saveScreenshot(window, "main_window_linux");
  ASSERT_FALSE(path.isEmpty());
  EXPECT_GE(QImage(path).width(), 600);
}

}  // namespace
}  // namespace palvoro
