// The erase method dialog's wiring: the default chosen when it opens, a refused method's
// reason, the overwrite's forms and the Host Protected Area's boxes following the method,
// and the EraseChoice OK gives.

#include "ui/widgets/erase_method_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "ui/screenshot.h"

namespace palvoro {
namespace {

TEST(EraseMethodDialogTest, OpensOnTheDefaultAndTheOverwriteBringsItsFormsAndTheAreasBoxes) {
  EraseOffer offer;
  offer.methods.methods = {{PurgeMethod::Overwrite, true, "", 0},
                           {PurgeMethod::SanitizeBlock, false, "the drive's sanitize lacks <b>BLOCK ERASE</b>", 0},
                           {PurgeMethod::SanitizeCrypto, true, "", 2},
                           {PurgeMethod::SecurityEraseEnhanced, true, "", 90},
                           {PurgeMethod::SecurityErase, true, "", 90}};
  offer.methods.defaultMethod = PurgeMethod::SanitizeCrypto;
  offer.methods.hidden = HiddenAreas{true, 1'000'000, 1'002'048, true, 1'002'048};
  CEraseMethodDlg dialog(offer, 0, "A. Tester", nullptr);
  dialog.show();

  EXPECT_TRUE(dialog.methodButton(2)->isChecked());
  EXPECT_FALSE(dialog.methodButton(1)->isEnabled());
  EXPECT_EQ(dialog.whyLabel(1)->text(), "Not offered: the drive's sanitize lacks <b>BLOCK ERASE</b>");
  EXPECT_EQ(dialog.whyLabel(1)->textFormat(), Qt::PlainText);
  EXPECT_EQ(dialog.whyLabel(0), nullptr);
  EXPECT_FALSE(dialog.quickButton()->isEnabled());
  EXPECT_FALSE(dialog.liftBox()->isEnabled());
  EXPECT_FALSE(dialog.hpaNote()->text().isEmpty());
  EXPECT_EQ(dialog.warningLabel()->textFormat(), Qt::PlainText);
  EXPECT_FALSE(test::saveScreenshot(dialog, QStringLiteral("erase_method_dialog")).isEmpty());

  dialog.methodButton(0)->click();
  EXPECT_TRUE(dialog.quickButton()->isEnabled() && dialog.fullButton()->isEnabled());
  EXPECT_TRUE(dialog.quickButton()->isChecked());
  EXPECT_TRUE(dialog.liftBox()->isEnabled());
  EXPECT_FALSE(dialog.restoreBox()->isEnabled());
  EXPECT_TRUE(dialog.hpaNote()->text().isEmpty());
  dialog.fullButton()->click();
  dialog.liftBox()->click();
  EXPECT_TRUE(dialog.restoreBox()->isEnabled());
  dialog.restoreBox()->click();
  dialog.operatorEdit()->setText(" B. Keeper ");
  EXPECT_FALSE(test::saveScreenshot(dialog, QStringLiteral("erase_method_dialog_overwrite")).isEmpty());
  dialog.okButton()->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  const EraseChoice choice = dialog.choice();
  EXPECT_EQ(choice.method, PurgeMethod::Overwrite);
  EXPECT_EQ(choice.mode, 1);
  EXPECT_TRUE(choice.liftHpa);
  EXPECT_TRUE(choice.restoreHpa);
  EXPECT_EQ(choice.operatorName, "B. Keeper");

  // The security erase keeps the boxes; the drive's sanitize needs none.
  dialog.methodButton(4)->click();
  EXPECT_FALSE(dialog.fullButton()->isEnabled());
  EXPECT_TRUE(dialog.liftBox()->isEnabled() && dialog.restoreBox()->isEnabled());
  dialog.methodButton(2)->click();
  EXPECT_FALSE(dialog.liftBox()->isEnabled() || dialog.restoreBox()->isEnabled());
  EXPECT_FALSE(dialog.choice().liftHpa);
}

}  // namespace
}  // namespace palvoro
