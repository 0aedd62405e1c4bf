// The erase method dialog's rows, when it is needed at all, and what its state comes to.

#include "ui/model/erase_method_model.h"

#include <gtest/gtest.h>

#include "discovery/erase_methods.h"

namespace palvoro {
namespace {

// A drive with a Host Protected Area of 2,048 sectors that offers three of its own methods
// and refuses block erase.
EraseOffer drawerOffer() {
  EraseOffer offer;
  offer.methods.methods = {{PurgeMethod::Overwrite, true, "", 0},
                           {PurgeMethod::SanitizeBlock, false, "the drive's sanitize lacks <BLOCK ERASE>", 0},
                           {PurgeMethod::SanitizeCrypto, true, "", 2},
                           {PurgeMethod::SecurityErase, true, "", 90}};
  offer.methods.defaultMethod = PurgeMethod::SanitizeCrypto;
  HiddenAreas hidden;
  hidden.hpaKnown = true;
  hidden.userSectors = 1'000'000;
  hidden.nativeSectors = 1'002'048;
  offer.methods.hidden = hidden;
  return offer;
}

TEST(EraseMethodModelTest, OneRowPerMethodInTheOffersOrder) {
  struct Row {
    std::string label;
    bool enabled;
    std::string why;
    bool preselected;
  };
  const std::vector<Row> expected = {
      {"overwrite (Clear)", true, "", false},
      {"sanitize-block (Purge)", false, "Not offered: the drive's sanitize lacks <BLOCK ERASE>", false},
      {"sanitize-crypto (Purge)", true, "", true},
      {"security-erase (Purge)", true, "", false},
  };
  const EraseMethodView view = eraseMethodView(drawerOffer());
  ASSERT_EQ(view.rows.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(view.rows[i].label, expected[i].label) << i;
    EXPECT_EQ(view.rows[i].enabled, expected[i].enabled) << i;
    EXPECT_EQ(view.rows[i].why, expected[i].why) << i;
    EXPECT_EQ(view.rows[i].preselected, expected[i].preselected) << i;
    EXPECT_EQ(view.rows[i].sentence, purgeMethodSentence(view.rows[i].method)) << i;
  }
  EXPECT_TRUE(view.fullOffered);
  EXPECT_TRUE(view.hpaChoice);
  EXPECT_EQ(view.hiddenWarning, hiddenAreaWarning(*drawerOffer().methods.hidden));
}

TEST(EraseMethodModelTest, TheOldChoiceStaysForADriveWithNothingMoreToOffer) {
  EraseOffer plain;
  plain.methods.methods = {{PurgeMethod::Overwrite, true, "", 0}, {PurgeMethod::SanitizeCrypto, false, "no", 0}};
  EXPECT_FALSE(offerNeedsMethodChoice(plain));
  plain.methods.hidden = HiddenAreas{true, 1000, 1000, true, 1000};  // asked, and hides nothing
  EXPECT_FALSE(offerNeedsMethodChoice(plain));
  plain.methods.hidden->dcoSectors = 1200;  // an overlay alone is worth the warning
  EXPECT_TRUE(offerNeedsMethodChoice(plain));
  EXPECT_FALSE(eraseMethodView(plain).hpaChoice);
  EXPECT_TRUE(offerNeedsMethodChoice(drawerOffer()));
}

TEST(EraseMethodModelTest, TheChoiceKeepsOnlyWhatAppliesToTheMethod) {
  struct Case {
    PurgeMethod method;
    int32_t mode;
    bool quickOnly, lift, restore;
    EraseChoice expected;
  };
  const Case cases[] = {
      {PurgeMethod::Overwrite, 1, false, true, true, {PurgeMethod::Overwrite, 1, true, true, "A. Tester"}},
      {PurgeMethod::Overwrite, 1, true, false, true, {PurgeMethod::Overwrite, 0, false, false, "A. Tester"}},
      {PurgeMethod::SecurityErase, 1, false, true, false, {PurgeMethod::SecurityErase, 0, true, false, "A. Tester"}},
      {PurgeMethod::SanitizeCrypto, 0, false, true, true, {PurgeMethod::SanitizeCrypto, 0, false, false, "A. Tester"}},
  };
  for (const Case& c : cases) {
    EraseOffer offer = drawerOffer();
    offer.quickOnly = c.quickOnly;
    const EraseChoice got = eraseChoiceOf(offer, c.method, c.mode, c.lift, c.restore, "  A. Tester\t");
    EXPECT_EQ(got.method, c.expected.method);
    EXPECT_EQ(got.mode, c.expected.mode) << purgeMethodName(c.method);
    EXPECT_EQ(got.liftHpa, c.expected.liftHpa) << purgeMethodName(c.method);
    EXPECT_EQ(got.restoreHpa, c.expected.restoreHpa) << purgeMethodName(c.method);
    EXPECT_EQ(got.operatorName, c.expected.operatorName);
  }
}

}  // namespace
}  // namespace palvoro
