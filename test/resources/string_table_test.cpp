#include "resources/string_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace palvoro {
namespace {

struct ExpectedText {
  int id;
  const char* text;
};

class StringTableTextTest : public testing::TestWithParam<ExpectedText> {};

TEST_P(StringTableTextTest, HoldsTheExactText) {
  const ExpectedText& c = GetParam();
  EXPECT_STREQ(loadString(c.id), c.text) << "string " << c.id;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StringTableTextTest,
    testing::Values(
        ExpectedText{104,
                     "QUICK TEST performs SMART drive quick self-test to gather and verify the "
                     "Steadwell information contained on the drive."},
        ExpectedText{107, "VIEW TEST RESULT displays the latest test results."},
        ExpectedText{108, "Running Quick SMART Test..."},
        ExpectedText{109, "Running Extended Test..."},
        ExpectedText{110, "Writing Zeros..."},
        ExpectedText{111, "Test completed successfully."},
        ExpectedText{112, "Test stopped with error(s)."},
        ExpectedText{113, "PASS"}, ExpectedText{114, "FAIL"}, ExpectedText{115, "ABORT"},
        ExpectedText{116, "COMPLETE"},
        ExpectedText{118, "Estimated Time Remaining: %02d:%02d:%02d"},
        ExpectedText{218,
                     "Current attribute value ranges from 1 to 253.\nAttribute value falling "
                     "below Threshold indicates\na negative health status."},
        ExpectedText{221,
                     "Warranty value:\n1 : this Attribute is under warranty\n     should it fall "
                     "below Threshold value\n0 : this Attribute is not under warranty"},
        ExpectedText{224, "Cable test failed! Please check the drive's cables/connections."},
        ExpectedText{225, "Running Cable Test..."},
        ExpectedText{226,
                     "Please close any other open programs and any open files in the drive%s to "
                     "prevent data loss."},
        ExpectedText{228, "Too many bad sectors detected."},
        ExpectedText{232, "Drive"}, ExpectedText{233, "Properties"},
        ExpectedText{237, "Running Random Read Test...."},
        ExpectedText{240, "Re-scanning drives..."}));

// The numbers the program refers to texts by, and nothing else.
TEST(StringTableTest, HoldsExactlyTheNumberedTexts) {
  const std::set<int> expected = {104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114,
                                  115, 116, 118, 119, 120, 121, 122, 124, 218, 219, 220,
                                  221, 222, 224, 225, 226, 227, 228, 229, 232, 233, 236,
                                  237, 239, 240};
  const std::vector<int> ids = stringIds();
  EXPECT_EQ(std::set<int>(ids.begin(), ids.end()), expected);
  EXPECT_EQ(ids.size(), expected.size()) << "a number listed twice";
  for (int id : ids) EXPECT_STRNE(loadString(id), "") << "string " << id;
}

TEST(StringTableTest, UnknownNumbersGiveEmptyText) {
  for (int id : {-1, 0, 103, 117, 123, 217, 223, 230, 241, 100000}) {
    const char* text = loadString(id);
    ASSERT_NE(text, nullptr) << id;
    EXPECT_STREQ(text, "") << id;
  }
}

TEST(StringTableTest, RepairWarningEndsInLineBreakAndBlanks) {
  const std::string text = loadString(120);
  const std::string sentence =
      "Data stored in the bad sectors will be lost. It's recommended that you backup the drive "
      "before proceeding with the Repair function.";
  ASSERT_GT(text.size(), sentence.size() + 1);
  EXPECT_EQ(text.substr(0, sentence.size()), sentence);
  EXPECT_EQ(text[sentence.size()], '\n');
  EXPECT_EQ(text.find_first_not_of(' ', sentence.size() + 1), std::string::npos);
}

TEST(StringTableTest, SsdMessageHasTwoLines) {
  const std::string text = loadString(239);
  const std::string first = "This software is not compatible with Varnholt SSD.";
  EXPECT_EQ(text.substr(0, first.size()), first);
  const size_t lineBreak = text.find('\n');
  ASSERT_NE(lineBreak, std::string::npos);
  EXPECT_EQ(text.find('\n', lineBreak + 1), std::string::npos);
  EXPECT_EQ(text.substr(lineBreak + 1, 8), "https://");
}

TEST(StringTableTest, DetailedRightsWarningBeginsWithTheShortOne) {
  const std::string shortText = "User does not have administrator privilege to access all drive resource!!!";
  const std::string text = loadString(222);
  EXPECT_GT(text.size(), shortText.size());
  EXPECT_EQ(text.substr(0, shortText.size()), shortText);
}

}  // namespace
}  // namespace palvoro
