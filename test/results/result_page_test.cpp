#include "results/result_page.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "app/app_context.h"
#include "diagnostics/diagnostics_test_support.h"
#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

// The run that just ended, on the selected drive, at the clock's time.
bool appendBlock(AppContext& context, TestClock& clock) {
  return appendResultBlock(context.resultLines(), context.testRun(), context.selectedRecord(), clock.localTime());
}
// Every stored block, written into the context's program folder.
bool writePage(AppContext& context) {
  return writeResultPage(context.startup().resultsDir, context.resultLines());
}

class ResultPageTest : public ::testing::Test {
 protected:
  ResultPageTest() : platform(sim::SimMachine{}), context(platform, prompter) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = std::filesystem::temp_directory_path() /
          ("palvoro-page-" + std::to_string(::getpid()) + "-" + info->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    context.startup().resultsDir = dir.string() + "/";

    context.driveTable().records.resize(1);
    DriveRecord& d = context.driveTable().records[0];
    std::strcpy(d.model, "VARN 500 <b>&");
    std::strcpy(d.serialNumber, "WX12\"34");
    std::strcpy(d.firmwareRevision, "01.A<1>");
    d.identifiedSectors = 976773168;
    d.sectorSize = 512;
    d.smartAvailable = 1;
    d.smartHealthy = 1;
  }
  ~ResultPageTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  void finishRun(int32_t kind, int32_t state, int32_t error = 0, const std::string& message = "") {
    context.testRun().testKind = kind;
    context.testRun().testState = state;
    context.testRun().testError = error;
    context.testRun().setLastErrorMessage(message);
    ASSERT_TRUE(appendBlock(context, clock));
  }

  std::string page() const {
    std::ifstream in(dir / "Tovrin.htm", std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  void putPage(const std::string& text) const {
    std::ofstream(dir / "Tovrin.htm", std::ios::binary) << text;
  }

  diagtest::RecordingPrompter prompter;
  sim::SimPlatform platform;
  AppContext context;
  diagtest::ManualClock clock;  // local time 14:07:09, 5 March 2024
  std::filesystem::path dir;
};

const std::string kHead =
    "<html><body>\r\n\r\n"
    "<table cellspacing=0 cellpadding=0 width='100%' bgcolor=#336699><tr><td><p align=right>\r\n"
    "<a href='https://www.example.com/varnholt/'><img src='vhtlogo.gif' border = 0 alt='Varnholt Logo'></a></p>\r\n\r\n"
    "</td></tr></table>\n\r\n";
const std::string kTail = "</body></html>\r\n\r\n";

TEST_F(ResultPageTest, PassedQuickTestIsWrittenWholeOverALongerOldPage) {
  putPage(std::string(20000, 'x'));  // the page of an earlier program run
  finishRun(kTestKindQuick, kTestStatePass);
  ASSERT_TRUE(writePage(context));

  EXPECT_EQ(page(),
            kHead +
                "<table>\r\n"
                "<tr><td><font color=0000ff>Test Option:</font></td><td><b>QUICK TEST</b></td></tr>\r\n\r\n"
                "<tr><td><font color=0000ff>Model Number:</font></td><td>VARN 500 &lt;b&gt;&amp;</td></tr>\r\n\r\n"
                "<tr><td><font color=0000ff>Unit Serial Number:</font></td><td>WX12&quot;34</td></tr>\r\n\r\n"
                "<tr><td><font color=0000ff>Firmware Number:</font></td><td>01.A&lt;1&gt;</td></tr>\r\n\r\n"
                "<tr><td><font color=0000ff>Capacity:</font></td><td>500.11 GB</td></tr>\r\n\r\n"
                "<tr><td><font color=0000ff>SMART Status:</font></td><td>PASS</td></tr>\r\n\r\n"
                "<tr><td><font color=0000ff>Test Result:</font></td><td><font color=009933><b>PASS</b></font></td></tr>\r\n\r\n"
                "<tr><td><font color=0000ff>Test Time:</font></td><td><font color=000000>14:07:09, March 05, 2024</font></td></tr>\r\n\r\n"
                "</table><p>\r\n" +
                kTail);
}

TEST_F(ResultPageTest, StoppedTestIsRedAbortWithoutErrorRow) {
  finishRun(kTestKindExtended, kTestStateAbort, kTestErrorStopped);
  ASSERT_TRUE(writePage(context));
  const std::string text = page();
  EXPECT_NE(text.find("<td><b>EXTENDED TEST</b></td>"), std::string::npos);
  EXPECT_NE(text.find("<td><font color=ff0000><b>ABORT</b></font></td>"), std::string::npos);
  EXPECT_EQ(text.find("Test Error Code"), std::string::npos);
}

TEST_F(ResultPageTest, FailedTestCarriesItsCodeAndMessage) {
  DriveRecord& d = context.driveTable().records[0];
  d.smartHealthy = 0;
  finishRun(kTestKindQuick, kTestStateFail, kTestErrorNoDrive,
            " Cannot communicate with drive 1! Check device connection.");
  const auto& lines = context.resultLines().lines();
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[6], "<tr><td><font color=0000ff>SMART Status:</font></td><td>FAIL</td></tr>\r\n");
  EXPECT_EQ(lines[7],
            "<tr><td><font color=0000ff>Test Result:</font></td><td><font color=ff0000><b>FAIL</b></font></td></tr>\r\n");
  EXPECT_EQ(lines[8],
            "<tr><td><font color=0000ff>Test Error Code:</font></td><td><font color=ff0000>04- Cannot communicate "
            "with drive 1! Check device connection.</font></td></tr>\r\n");
}

TEST_F(ResultPageTest, TwoRunsAppearInTheOrderTheyRan) {
  finishRun(kTestKindErase, kTestStateComplete);
  context.driveTable().records[0].smartAvailable = 0;
  finishRun(kTestKindQuick, kTestStatePass);
  ASSERT_TRUE(writePage(context));
  const std::string text = page();
  const size_t first = text.find("<b>ERASE</b>");
  const size_t second = text.find("<b>QUICK TEST</b>");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
  EXPECT_NE(text.find("<font color=009933><b>COMPLETE</b>"), std::string::npos);
  EXPECT_NE(text.find("<td>Not Available</td>", first), std::string::npos);
  EXPECT_EQ(text.find("<td>Not Available</td>"), text.rfind("<td>Not Available</td>"));
}

TEST_F(ResultPageTest, NothingIsWrittenBeforeAnyRun) {
  putPage("earlier run");
  EXPECT_FALSE(writePage(context));
  EXPECT_EQ(page(), "earlier run");
}

TEST_F(ResultPageTest, KindAndStateOutsideTheirWordsLeaveTheWordsEmpty) {
  finishRun(7, 9);
  const auto& lines = context.resultLines().lines();
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[1], "<tr><td><font color=0000ff>Test Option:</font></td><td><b></b></td></tr>\r\n");
  EXPECT_EQ(lines[7],
            "<tr><td><font color=0000ff>Test Result:</font></td><td><font color=009933><b></b></font></td></tr>\r\n");
}

TEST_F(ResultPageTest, FullStoreDropsTheWholeBlock) {
  for (int i = 0; i < 19; ++i) finishRun(kTestKindQuick, kTestStatePass);  // 190 of 200 lines
  context.testRun().testState = kTestStateFail;  // 11 lines with the error row
  EXPECT_FALSE(appendBlock(context, clock));
  EXPECT_EQ(context.resultLines().count(), 190u);
  finishRun(kTestKindQuick, kTestStatePass);  // 10 lines still fit
  EXPECT_EQ(context.resultLines().count(), 200u);
  EXPECT_EQ(context.resultLines().lines().back(), "</table><p>");
}

// The page goes only where the user alone can change names, and replaces what is at its
// name without writing through it: a link planted there leaves its target as it was.
TEST_F(ResultPageTest, ThePageIsWrittenOnlyIntoTheUsersOwnFolderAndNeverThroughALink) {
  finishRun(kTestKindQuick, kTestStatePass);
  const std::filesystem::path victim = dir / "victim";
  struct Case {
    const char* name;
    std::string folder;
    std::filesystem::perms mode;
    bool written;
    const char* refusal;  // a piece of the sentence, empty when none is given
  };
  const Case cases[] = {
      {"a link at the page's name", (dir / "own").string(), std::filesystem::perms::owner_all, true, ""},
      {"a folder anyone can change", (dir / "shared").string(), std::filesystem::perms::all, false,
       "other users can create, replace or remove files in it (mode 0777)"},
      {"a missing folder is not made", (dir / "missing").string(), std::filesystem::perms::none, false,
       "No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(victim, std::ios::binary) << "not a page";
    if (c.mode != std::filesystem::perms::none) {
      std::filesystem::create_directory(c.folder);
      std::filesystem::permissions(c.folder, c.mode);
      std::filesystem::create_symlink(victim, std::filesystem::path(c.folder) / kResultPageName);
    }
    std::string refusal;
    EXPECT_EQ(writeResultPage(c.folder + "/", context.resultLines(), &refusal), c.written);
    EXPECT_NE(refusal.find(c.refusal), std::string::npos) << refusal;
    EXPECT_EQ(refusal.empty(), c.written);
    std::ifstream in(victim, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "not a page");
    if (c.written) {
      EXPECT_FALSE(std::filesystem::is_symlink(std::filesystem::path(c.folder) / kResultPageName));
      std::ifstream page(std::filesystem::path(c.folder) / kResultPageName, std::ios::binary);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(page), {}).rfind(kHead, 0), 0u);
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST_F(ResultPageTest, LongTextsAreCutBeforeEscapingSoEveryRowStaysWhole) {
  struct Case {
    const char* name;
    std::string message;
  };
  const Case cases[] = {
      {"quotes, six characters each once escaped", std::string(300, '"')},
      {"two-byte characters", [] {
         std::string s;
         for (int i = 0; i < 400; ++i) s += "\xC3\xA9";  // é
         return s;
       }()},
      {"markup", std::string(200, '<') + std::string(200, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    context.resultLines().clear();
    finishRun(kTestKindQuick, kTestStateFail, kTestErrorNoDrive, c.message);
    const std::string& row = context.resultLines().lines().at(8);
    EXPECT_LE(row.size(), kResultLineMax);
    EXPECT_EQ(row.substr(row.size() - 19), "</font></td></tr>\r\n");
    // Only whole entities: every '&' begins one of the four the page writes.
    for (size_t at = row.find('&'); at != std::string::npos; at = row.find('&', at + 1)) {
      const std::string rest = row.substr(at, 6);
      EXPECT_TRUE(rest.rfind("&quot;", 0) == 0 || rest.rfind("&lt;", 0) == 0 || rest.rfind("&gt;", 0) == 0 ||
                  rest.rfind("&amp;", 0) == 0)
          << rest;
    }
    // Only whole characters: the text before the tail ends with a complete sequence.
    const std::string text = row.substr(0, row.size() - 19);
    EXPECT_NE(static_cast<unsigned char>(text.back()), 0xC3);
    // And the page reads back as the start of what the run said.
    std::string kept;
    for (const std::string& line : context.resultLines().lines()) kept += line;
    const std::vector<ResultEntry> entries = readResultEntries(kept);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_GT(entries[0].errorMessage.size(), 60u);  // as much as fits, not nothing
    EXPECT_EQ(c.message.rfind(entries[0].errorMessage, 0), 0u);
  }
}

TEST_F(ResultPageTest, EntriesReadBackFromThePageAsTheyWereWritten) {
  finishRun(kTestKindErase, kTestStateComplete);
  context.testRun().setLastErrorMessage("");
  finishRun(kTestKindExtended, kTestStateFail, kTestErrorRead, "Extended Test::Read sector error! <1-2> & \"3\"");
  finishRun(kTestKindQuick, kTestStateAbort, kTestErrorStopped);
  ASSERT_TRUE(writePage(context));

  const std::vector<ResultEntry> entries = readResultEntries(page());
  ASSERT_EQ(entries.size(), 3u);
  struct Expected {
    const char* option;
    const char* result;
    int code;
    const char* message;
  };
  const Expected expected[] = {{"ERASE", "COMPLETE", -1, ""},
                               {"EXTENDED TEST", "FAIL", 8, "Extended Test::Read sector error! <1-2> & \"3\""},
                               {"QUICK TEST", "ABORT", -1, ""}};
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(i);
    const ResultEntry& e = entries[i];
    EXPECT_EQ(e.testOption, expected[i].option);
    EXPECT_EQ(e.testResult, expected[i].result);
    EXPECT_EQ(e.errorCode, expected[i].code);
    EXPECT_EQ(e.errorMessage, expected[i].message);
    // What the drive reported comes back as it was, not as its entities.
    EXPECT_EQ(e.model, "VARN 500 <b>&");
    EXPECT_EQ(e.serial, "WX12\"34");
    EXPECT_EQ(e.firmware, "01.A<1>");
    EXPECT_EQ(e.capacity, "500.11 GB");
    EXPECT_EQ(e.smartStatus, "PASS");
    EXPECT_EQ(e.testTime, "14:07:09, March 05, 2024");
    // No erase here was read back: as on every page written before that row existed.
    EXPECT_FALSE(e.verification.has_value());
  }
  // The kept lines read the same as the page, and a page of something else reads as none.
  std::string kept;
  for (const std::string& line : context.resultLines().lines()) kept += line;
  EXPECT_EQ(readResultEntries(kept).size(), 3u);
  EXPECT_TRUE(readResultEntries("<html><table><tr><td>x</td></tr></table>").empty());
}

}  // namespace
}  // namespace palvoro
