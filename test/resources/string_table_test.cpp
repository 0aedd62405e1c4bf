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
  EXPECT_STREQ(loadString(GetParam().id), GetParam().text) << "string " << GetParam().id;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StringTableTextTest,
    testing::Values(
        ExpectedText{108, "Running Quick SMART Test..."}, ExpectedText{110, "Writing Zeros..."},
        ExpectedText{111, "Test completed successfully."}, ExpectedText{113, "PASS"},
        ExpectedText{114, "FAIL"}, ExpectedText{115, "ABORT"}, ExpectedText{116, "COMPLETE"},
        ExpectedText{118, "Estimated Time Remaining: %02d:%02d:%02d"},
        ExpectedText{218,
                     "Current attribute value ranges from 1 to 253.\nAttribute value falling "
                     "below Threshold indicates\na negative health status."},
        ExpectedText{221,
                     "Warranty value:\n1 : this Attribute is under warranty\n     should it fall "
                     "below Threshold value\n0 : this Attribute is not under warranty"},
        ExpectedText{225, "Running Cable Test..."},
        ExpectedText{226,
                     "Please close any other open programs and any open files in the drive%s to "
                     "prevent data loss."},
        ExpectedText{237, "Running Random Read Test...."},
        ExpectedText{240, "Re-scanning drives..."}));

// The numbers the program refers to texts by, and nothing else.
TEST(StringTableTest, HoldsExactlyTheNumberedTexts) {
  const std::set<int> expected = {104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115,
                                  116, 118, 119, 120, 121, 122, 124, 218, 219, 220, 221, 222,
                                  224, 225, 226, 227, 228, 229, 232, 233, 236, 237, 239, 240};
  const std::vector<int> ids = stringIds();
  EXPECT_EQ(std::set<int>(ids.begin(), ids.end()), expected);
  EXPECT_EQ(ids.size(), expected.size()) << "a number listed twice";
  for (int id : ids) EXPECT_STRNE(loadString(id), "") << "string " << id;
  for (int id : {-1, 0, 103, 117, 123, 223, 241, 100000}) {
    ASSERT_NE(loadString(id), nullptr) << id;
    EXPECT_STREQ(loadString(id), "") << id;
  }
}

TEST(StringTableTest, MultiLineTexts) {
  const struct {
    int id;
    std::string firstLine;
    std::string secondLineStart;
  } cases[] = {
      {120,
       "Data stored in the bad sectors will be lost. It's recommended that you backup the drive "
       "before proceeding with the Repair function.",
       " "},
      {239, "This software is not compatible with Varnholt SSD.", "https://"},
      {222, "User does not have administrator privilege to access all drive resource!!!", ""},
  };
  for (const auto& c : cases) {
    const std::string text = loadString(c.id);
    EXPECT_EQ(text.substr(0, c.firstLine.size()), c.firstLine) << c.id;
    const size_t lineBreak = text.find('\n');
    ASSERT_NE(lineBreak, std::string::npos) << c.id;
    EXPECT_EQ(text.find('\n', lineBreak + 1), std::string::npos) << c.id << ": two lines only";
    EXPECT_EQ(text.substr(lineBreak + 1, c.secondLineStart.size()), c.secondLineStart) << c.id;
  }
  // The repair warning's second line is blanks only.
  const std::string repair = loadString(120);
  EXPECT_EQ(repair.find_first_not_of(' ', repair.find('\n') + 1), std::string::npos);
}

}  // namespace
}  // namespace palvoro
