// The About box: its texts and the version from the compiled-in file version.

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "resources/version.h"
#include "ui/widgets/about_dialog.h"

namespace palvoro {
namespace {

TEST(AboutDialogTest, VersionTextIsMajorMinorAndZero) {
  EXPECT_EQ(aboutVersionText(0x00020005u), "2.5.0");
  EXPECT_EQ(aboutVersionText(0x000A0000u), "10.0.0");
  EXPECT_EQ(aboutVersionText(kFileVersionMS),
            std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + ".0");
}

TEST(AboutDialogTest, ShowsTitleLabelVersionAndOk) {
  CAboutDlg dialog;
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("About PALVORO for Windows"));
  EXPECT_EQ(dialog.versionField()->text(), QString::fromStdString(aboutVersionText()));
  EXPECT_NE(dialog.versionField()->text(), QStringLiteral("x.xx"));
  bool labelFound = false;
  for (const QLabel* label : dialog.findChildren<QLabel*>()) {
    labelFound |= label->text() == QStringLiteral("PALVORO for Windows version:");
  }
  EXPECT_TRUE(labelFound);
  EXPECT_TRUE(dialog.okButton()->isDefault());
  dialog.okButton()->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace palvoro
