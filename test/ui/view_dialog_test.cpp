#include "ui/widgets/view_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <cstring>
#include <random>
#include <string>

#include "app/app_context.h"
#include "diagnostics/diagnostics_test_support.h"
#include "platform/sim/sim_platform.h"
#include "results/result_page.h"
#include "smart/attribute_names.h"
#include "ui/model/browser_html.h"
#include "results/gif_encoder.h"
#include "results/help_pages.h"
#include "results/latency_picture.h"
#include "ui/screenshot.h"

namespace palvoro {
namespace {

void writeFile(const QString& path, const std::string& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

void writeFile(const QString& path, const std::vector<uint8_t>& bytes) {
  writeFile(path, std::string(bytes.begin(), bytes.end()));
}

// A folder that plays the program's folder, as start-up fills it.
class ViewDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    programDir = dir.path().toStdString() + "/";
    writeFile(dir.filePath("help.htm"), helpPageHtml());
    writeFile(dir.filePath("smart.htm"), smartPageHtml());
    writeFile(dir.filePath("vhtlogo.gif"), logoGif());
  }

  // The logo as the open page resolves it ("vhtlogo.gif" relative to the page).
  static QImage pageLogo(CViewDlg& dlg) {
    const QVariant v = dlg.browser()->document()->resource(QTextDocument::ImageResource, QUrl("vhtlogo.gif"));
    if (v.canConvert<QImage>() && v.userType() != QMetaType::QByteArray) return v.value<QImage>();
    return QImage::fromData(v.toByteArray());
  }

  QTemporaryDir dir;
  std::string programDir;
};

TEST_F(ViewDialogTest, EmptyTitleKeepsViewFile) {
  CViewDlg dlg(programDir);
  dlg.ViewerFile = "help.htm";
  dlg.show();
  EXPECT_EQ(dlg.windowTitle(), "View File");
}

TEST_F(ViewDialogTest, HelpOpensItsPageFromTheProgramFolderWithTheLogo) {
  CViewDlg dlg(programDir);
  dlg.ViewerFile = "help.htm";
  dlg.ViewerTitle = "Help";
  dlg.show();
  EXPECT_EQ(dlg.windowTitle(), "Help");
  EXPECT_EQ(dlg.browser()->address(), programDir + "help.htm");
  EXPECT_EQ(dlg.browser()->source().toLocalFile().toStdString(), programDir + "help.htm");
  EXPECT_TRUE(dlg.browser()->toPlainText().contains("EXTENDED TEST"));
  const QImage logo = pageLogo(dlg);
  ASSERT_FALSE(logo.isNull());
  EXPECT_EQ(logo.size(), QSize(120, 40));
}

TEST_F(ViewDialogTest, SmartHelpOpensWithItsTitle) {
  CViewDlg dlg(programDir);
  dlg.ViewerFile = "smart.htm";
  dlg.ViewerTitle = "SMART Attribute Information";
  dlg.show();
  EXPECT_EQ(dlg.windowTitle(), "SMART Attribute Information");
  EXPECT_TRUE(dlg.browser()->toPlainText().contains("Current Pending Sector Count"));
  EXPECT_FALSE(pageLogo(dlg).isNull());
}

TEST_F(ViewDialogTest, PageAreaKeepsTenPixelMarginsAfterAResize) {
  CViewDlg dlg(programDir);
  dlg.ViewerFile = "help.htm";
  dlg.show();
  const int top = dlg.browser()->geometry().top();
  for (QSize size : {QSize(900, 700), QSize(520, 430)}) {
    dlg.resize(size);
    QApplication::processEvents();
    const QRect r = dlg.browser()->geometry();
    EXPECT_EQ(r.left(), 10);
    EXPECT_EQ(r.top(), top);
    EXPECT_EQ(size.width() - (r.x() + r.width()), 10);
    EXPECT_EQ(size.height() - (r.y() + r.height()), 10);
  }
}

TEST_F(ViewDialogTest, MissingFileShowsAnEmptyPageWithoutAMessage) {
  CViewDlg dlg(programDir);
  dlg.ViewerFile = "Tovrin.htm";  // no test ran: no result page was written
  dlg.ViewerTitle = "PALVORO - VIEW TEST RESULT";
  dlg.show();
  QApplication::processEvents();
  EXPECT_EQ(dlg.browser()->address(), programDir + "Tovrin.htm");
  EXPECT_TRUE(dlg.browser()->toPlainText().trimmed().isEmpty());
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_EQ(qobject_cast<QMessageBox*>(w), nullptr);
}

TEST_F(ViewDialogTest, EachOpeningNavigatesAfresh) {
  for (int i = 0; i < 2; ++i) {
    CViewDlg dlg(programDir);
    dlg.ViewerFile = "help.htm";
    dlg.show();
    EXPECT_TRUE(dlg.browser()->toPlainText().contains("QUICK TEST"));
    // The page on disk changes between the openings; the second viewer shows the new one.
    writeFile(dir.filePath("help.htm"), std::string("<html><body>QUICK TEST again</body></html>"));
  }
  CViewDlg dlg(programDir);
  dlg.ViewerFile = "help.htm";
  dlg.show();
  EXPECT_TRUE(dlg.browser()->toPlainText().contains("QUICK TEST again"));
}

// A program run over one drive that passed a test of `kind`, its result page written into
// `resultsDir` by the program's own code.
struct OnePassedRun {
  OnePassedRun(const std::string& resultsDir, const char* model, int32_t kind) {
    context.startup().resultsDir = resultsDir;
    context.driveTable().records.resize(1);
    DriveRecord& d = context.driveTable().records[0];
    std::strcpy(d.model, model);
    std::strcpy(d.serialNumber, "WX1234");
    std::strcpy(d.firmwareRevision, "01.A01");
    d.identifiedSectors = 976773168;
    d.sectorSize = 512;
    d.smartAvailable = 1;
    d.smartHealthy = 1;
    context.testRun().testKind = kind;
    context.testRun().testState = kTestStatePass;
  }
  bool writePage(const std::vector<std::string>& extraRows = {}) {
    return appendResultBlock(context.resultLines(), context.testRun(), context.selectedRecord(), clock.localTime(),
                             nullptr, extraRows) &&
           writeResultPage(context.startup().resultsDir, context.resultLines());
  }

  diagtest::RecordingPrompter prompter;
  sim::SimPlatform platform{sim::SimMachine{}};
  AppContext context{platform, prompter};
  diagtest::ManualClock clock;
};

// The viewer on the result page of `resultsDir`.
void openResultPage(CViewDlg& dlg) {
  dlg.ViewerFile = kResultPageName;
  dlg.ViewerTitle = "PALVORO - VIEW TEST RESULT";
  dlg.show();
}

TEST_F(ViewDialogTest, ResultPageShowsInTheViewer) {
  OnePassedRun run(programDir, "VARN 500 <b>", kTestKindQuick);
  ASSERT_TRUE(run.writePage());

  CViewDlg dlg(programDir);
  openResultPage(dlg);
  const QString text = dlg.browser()->toPlainText();
  EXPECT_TRUE(text.contains("Test Option:")) << text.toStdString();
  EXPECT_TRUE(text.contains("QUICK TEST"));
  EXPECT_TRUE(text.contains("VARN 500 <b>"));  // drive text shown as text, not markup
  EXPECT_TRUE(text.contains("500.11 GB"));
  EXPECT_FALSE(pageLogo(dlg).isNull());
  // The colours the page gives as bare hex digits show as a browser shows them.
  const QTextCursor label = dlg.browser()->document()->find("Test Option:");
  ASSERT_FALSE(label.isNull());
  EXPECT_EQ(label.charFormat().foreground().color(), QColor(0x00, 0x00, 0xff));
  const QTextCursor resultLabel = dlg.browser()->document()->find("Test Result:");
  const QTextCursor result = dlg.browser()->document()->find("PASS", resultLabel);
  ASSERT_FALSE(result.isNull());
  EXPECT_EQ(result.charFormat().foreground().color(), QColor(0x00, 0x99, 0x33));
}

// An extended test's page carries its surface map inside itself: the viewer decodes the
// picture from the page alone, each stripe in the colour of its slowest block.
TEST_F(ViewDialogTest, ExtendedTestPageShowsTheSurfaceMapFromThePageItself) {
  OnePassedRun run(programDir, "VARN 500", kTestKindExtended);
  BlockLatencyMap& map = run.context.testRun().scanLatency;
  map.begin(0, 1'000'000);  // 1,000 stripes of 1,000 sectors
  for (uint64_t sector = 0; sector < 1'000'000; sector += 256) {
    const bool unreadable = sector == 900'096;
    map.record(sector, sector >= 500'000 && sector < 502'000 ? 700'000 : 1'000, !unreadable);
  }
  ASSERT_TRUE(run.writePage(latencyResultRows(map)));

  CViewDlg dlg(programDir);
  openResultPage(dlg);
  const QString text = dlg.browser()->toPlainText();
  EXPECT_TRUE(text.contains("Block Read Times:\n< 5 ms: 3899, < 20 ms: 0, < 50 ms: 0, < 150 ms: 0, < 500 ms: 0, "
                            "500 ms or more: 7, unreadable: 1\n"))
      << text.toStdString();
  QImage picture;
  for (QTextBlock block = dlg.browser()->document()->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextImageFormat image = it.fragment().charFormat().toImageFormat();
      if (!image.isValid() || !image.name().startsWith("data:")) continue;
      const QVariant v = dlg.browser()->document()->resource(QTextDocument::ImageResource, QUrl(image.name()));
      picture = v.userType() == QMetaType::QByteArray ? QImage::fromData(v.toByteArray()) : v.value<QImage>();
      EXPECT_EQ(image.width(), 250);
    }
  }
  // 250 columns of four stripes each, each column as its worst stripe.
  ASSERT_EQ(picture.width(), 250);
  EXPECT_EQ(picture.pixel(0, 0) & 0xFFFFFF, latencyColour(0));
  EXPECT_EQ(picture.pixel(124, 0) & 0xFFFFFF, latencyColour(0));
  EXPECT_EQ(picture.pixel(125, 0) & 0xFFFFFF, latencyColour(5));
  EXPECT_EQ(picture.pixel(225, 0) & 0xFFFFFF, latencyColour(kUnreadableBucket));
  EXPECT_EQ(picture.pixel(249, 0) & 0xFFFFFF, latencyColour(0));
  test::saveScreenshot(dlg, QStringLiteral("result_page_map"));
}

TEST(BrowserHtml, BareHexColoursGetTheirHash) {
  const std::pair<std::string, std::string> cases[] = {
      {"<font color=0000ff>", "<font color=#0000ff>"},
      {"<td bgcolor='336699'>", "<td bgcolor='#336699'>"},
      {"<font COLOR=\"00FF00\">", "<font COLOR=\"#00FF00\">"},
      {"<font color=#ff0000>", "<font color=#ff0000>"},        // already a colour
      {"<font color=red>", "<font color=red>"},                // a colour name
      {"<font color=0000ff0>", "<font color=0000ff0>"},        // not six digits
      {"<p>textcolor=123456</p>", "<p>textcolor=123456</p>"},  // not an attribute name
      {"<font color=000000>a</font><font color=ff0000>b", "<font color=#000000>a</font><font color=#ff0000>b"},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(withHashedColours(in), want) << in;
}

TEST(HelpPages, HelpPageDescribesEveryOption) {
  const std::string page = helpPageHtml();
  for (const char* section : {"QUICK TEST", "EXTENDED TEST", "Repair", "ERASE", "QUICK ERASE", "FULL ERASE", "Warning",
                              "VIEW TEST RESULT", "administrator", "img src='vhtlogo.gif'",
                              // About has no button: the page says where its menu is.
                              "right-click the banner at the top of the main window, or the logo beside it, "
                              "and choose <b>About PALVORO</b>"}) {
    EXPECT_NE(page.find(section), std::string::npos) << section;
  }
}

TEST(HelpPages, SmartPageExplainsTheColumnsAndNamesAttributesAsTheWindowDoes) {
  const std::string page = smartPageHtml();
  for (const char* section : {"Threshold", "Worst", "Warranty", "1 to 253", "253 is best", "img src='vhtlogo.gif'"}) {
    EXPECT_NE(page.find(section), std::string::npos) << section;
  }
  for (uint8_t id : {5, 9, 194, 197, 198, 199}) {
    EXPECT_NE(page.find(std::string("<td>") + attributeName(id, kNamesGeneral) + "</td>"), std::string::npos)
        << int(id);
  }
}

TEST(HelpPages, EveryWebAddressIsUnderExampleCom) {
  for (const std::string& page : {helpPageHtml(), smartPageHtml()}) {
    for (size_t at = page.find("http"); at != std::string::npos; at = page.find("http", at + 1)) {
      EXPECT_EQ(page.compare(at, 24, "https://www.example.com/"), 0) << page.substr(at, 40);
    }
  }
}

// Decodes `gif` with Qt and compares every pixel with what was encoded.
void expectDecodesTo(const IndexedImage& image) {
  const std::vector<uint8_t> gif = encodeGif(image);
  const QImage decoded = QImage::fromData(gif.data(), static_cast<int>(gif.size()), "GIF");
  ASSERT_FALSE(decoded.isNull());
  ASSERT_EQ(decoded.size(), QSize(image.width, image.height));
  int wrong = 0;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const uint32_t want = image.palette[image.pixels[static_cast<size_t>(y * image.width + x)]];
      if ((decoded.pixel(x, y) & 0xFFFFFF) != want) ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST(GifEncoder, NoiseThatFillsTheCodeTableManyTimesDecodesExactly) {
  std::mt19937 random(7);
  IndexedImage image{300, 200, {}, {}};
  for (uint32_t i = 0; i < 256; ++i) image.palette.push_back(i * 0x010305u & 0xFFFFFF);
  for (int i = 0; i < 300 * 200; ++i) image.pixels.push_back(static_cast<uint8_t>(random() % 256));
  expectDecodesTo(image);
}

TEST(GifEncoder, SmallPalettesAndRunsDecodeExactly) {
  // Two colours (the smallest root size), three colours padded to four, long runs that
  // build long table strings, and a single pixel.
  std::mt19937 random(11);
  for (auto [width, height, colours] : {std::tuple{64, 48, 2}, std::tuple{97, 31, 3}, std::tuple{1, 1, 2}}) {
    IndexedImage image{width, height, {}, {}};
    for (int c = 0; c < colours; ++c) image.palette.push_back(0x204060u * static_cast<uint32_t>(c + 1) & 0xFFFFFF);
    for (int i = 0; i < width * height; ++i) {
      image.pixels.push_back(static_cast<uint8_t>((i / 37 + (random() % 8 == 0 ? 1 : 0)) % colours));
    }
    expectDecodesTo(image);
  }
}

TEST(GifEncoder, LogoIsAGif89aOfTheMakersBlueWithWhiteLetters) {
  const std::vector<uint8_t> gif = logoGif();
  ASSERT_GE(gif.size(), 6u);
  EXPECT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF89a");
  EXPECT_EQ(gif.back(), 0x3B);
  const QImage logo = QImage::fromData(gif.data(), static_cast<int>(gif.size()), "GIF");
  ASSERT_FALSE(logo.isNull());
  EXPECT_EQ(logo.size(), QSize(120, 40));
  EXPECT_EQ(logo.pixel(0, 0) & 0xFFFFFF, 0x336699u);
  int white = 0;
  for (int y = 0; y < logo.height(); ++y)
    for (int x = 0; x < logo.width(); ++x) white += (logo.pixel(x, y) & 0xFFFFFF) == 0xFFFFFF;
  EXPECT_GT(white, 300);  // the three letters
}

}  // namespace
}  // namespace palvoro
