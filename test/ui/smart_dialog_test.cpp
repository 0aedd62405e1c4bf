// The SMART Drive Information window on the showcase machine: the rows, names and verdict
// of a healthy, a failing and a dual-unit drive, the RAID enclosure's member box, the two
// messages and Help.

#include "ui/widgets/smart_dialog.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "app/app_context.h"
#include "discovery/detection.h"
#include "platform/sim/sim_platform.h"
#include "resources/string_table.h"
#include "ui/screenshot.h"
#include "ui/widgets/view_dialog.h"
#include "ui/widgets/xlist_ctrl.h"

namespace palvoro {
namespace {

struct Message {
  std::string text, caption;
  PromptIcon icon;
};

class RecordingPrompter : public Prompter {
 public:
  PromptAnswer ask(const std::string& text, const std::string& caption, PromptIcon icon, PromptButtons,
                   PromptAnswer, PromptPurpose) override {
    messages.push_back({text, caption, icon});
    return PromptAnswer::Ok;
  }
  std::vector<Message> messages;
};

constexpr Rgb kRed = 0xFF0000;

// SMART READ DATA to `drive` fails, on every path.
sim::SimFault readDataFault(int drive) {
  sim::SimFault fault;
  fault.drive = drive;
  fault.command = 0xB0;
  fault.features = 0xD0;
  return fault;
}

class SmartDialogTest : public testing::Test {
 protected:
  SmartDialogTest() : platform(sim::builtinMachine("showcase")), context(platform, prompter) {}

  void detect() { detectDrives(context.probeEnvironment(), context.driveTable()); }
  // Table index of the drive with physical number `number`.
  int indexOf(int number) {
    for (int i = 0; i < context.driveTable().driveCount(); ++i) {
      if (context.driveTable().records[i].physicalDriveNumber == number) return i;
    }
    ADD_FAILURE() << "drive " << number << " not detected";
    return 0;
  }
  std::unique_ptr<CDiskAttrDlg> open(int number) {
    context.driveTable().selectedDrive = indexOf(number);
    return std::make_unique<CDiskAttrDlg>(context, context.driveTable().selectedDrive);
  }
  static std::vector<std::string> column(CXListCtrl* list, int col) {
    std::vector<std::string> texts;
    for (int row = 0; row < list->itemCount(); ++row) texts.push_back(list->itemText(row, col).toStdString());
    return texts;
  }

  sim::SimPlatform platform;
  RecordingPrompter prompter;
  AppContext context;
};

TEST_F(SmartDialogTest, HealthyDriveListsItsAttributesAndPasses) {
  detect();
  auto dialog = open(0);
  CXListCtrl* list = dialog->attributeList();
  EXPECT_EQ(dialog->windowTitle(), "SMART Drive Information");
  EXPECT_EQ(dialog->driveLabel()->text(), "Physical Drive 1:");
  EXPECT_EQ(dialog->identityLine()->text(), "Model: VHT VH7SAB200    Serial: VH7K2A01B3C4");
  EXPECT_TRUE(dialog->memberBox()->isHidden());

  ASSERT_EQ(list->listColumnCount(), 6);
  const char* captions[] = {"Attribute Name", "ID", "Value", "Threshold", "Worst", "Warranty"};
  const int widths[] = {200, 43, 43, 60, 43};
  for (int c = 0; c < 6; ++c) {
    EXPECT_EQ(list->headerItem()->text(c), captions[c]);
    EXPECT_EQ(list->columnAlignment(c) & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    if (c < 5) {
      EXPECT_EQ(list->columnWidth(c), widths[c]);
    }
  }

  // The drive's world wide name carries the maker's OUI: its own name table.
  EXPECT_EQ(column(list, 0), (std::vector<std::string>{"Raw Read Error Rate", "Spin Up Time", "Reassign Count",
                                                       "Power-On Hours Count", "Temperature"}));
  EXPECT_EQ(column(list, 1), (std::vector<std::string>{" 1", " 3", " 5", " 9", "C2"}));
  EXPECT_EQ(column(list, 2), (std::vector<std::string>{"100", "133", "100", "98", "200"}));
  EXPECT_EQ(column(list, 3), (std::vector<std::string>{"16", "24", "5", "0", "0"}));
  EXPECT_EQ(column(list, 4), (std::vector<std::string>{"100", "133", "100", "98", "180"}));
  EXPECT_EQ(column(list, 5), (std::vector<std::string>{"1", "1", "1", "0", "0"}));
  for (int row = 0; row < list->itemCount(); ++row) {
    EXPECT_EQ(list->cellRecord(row, 0)->image, 5);
    EXPECT_NE(list->cellRecord(row, 2)->textColour, kRed);
  }
  EXPECT_EQ(list->cellRecord(0, 2)->tooltip, loadString(218));
  EXPECT_EQ(list->cellRecord(4, 5)->tooltip, loadString(221));
  EXPECT_TRUE(list->cellRecord(0, 0)->tooltip.empty());

  ASSERT_TRUE(dialog->verdict().has_value());
  EXPECT_EQ(context.driveTable().records[0].smartHealthy, 1);
  ASSERT_TRUE(dialog->mainListCell().has_value());
  EXPECT_EQ(dialog->mainListCell()->text, " PASS");
  EXPECT_EQ(dialog->mainListCell()->image, 5);
  EXPECT_EQ(dialog->mainListCell()->colour, kColourBlue);
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(platform.openHandleCount(), 0u);
}

TEST_F(SmartDialogTest, FailingAttributeTurnsItsRowAndTheVerdict) {
  detect();
  ASSERT_EQ(context.driveTable().records[0].smartHealthy, 1);
  // The reallocated-sector count falls to its threshold after detection.
  sim::SimAttribute& reallocated = platform.drive(0).ata.units.at(0).smart.attributes.at(2);
  reallocated.value = 5;
  reallocated.worst = 5;
  auto dialog = open(0);
  CXListCtrl* list = dialog->attributeList();
  ASSERT_EQ(list->itemCount(), 5);
  EXPECT_EQ(list->cellRecord(2, 0)->image, 6);
  EXPECT_EQ(list->cellRecord(2, 2)->textColour, kRed);
  EXPECT_NE(list->cellRecord(2, 3)->textColour, kRed);
  EXPECT_EQ(list->cellRecord(1, 0)->image, 5);
  EXPECT_NE(list->cellRecord(1, 2)->textColour, kRed);
  EXPECT_EQ(dialog->model().lastFailed(), std::make_pair(uint8_t{5}, uint8_t{5}));

  EXPECT_EQ(context.driveTable().records[0].smartHealthy, 0);
  ASSERT_TRUE(dialog->mainListCell().has_value());
  EXPECT_EQ(dialog->mainListCell()->text, " FAIL");
  EXPECT_EQ(dialog->mainListCell()->image, 6);
  EXPECT_EQ(dialog->mainListCell()->colour, kColourRed);
}

TEST_F(SmartDialogTest, DualUnitDriveListsTheSecondUnitAfterTheFirst) {
  // The showcase's hybrid drive turned round: unit 0 is the solid-state part and unit 2
  // the rotating disk, so detection makes 2 the first unit and 0 the second.
  std::map<int, sim::SimUnit>& units = platform.drive(1).ata.units;
  std::swap(units.at(0).identify, units.at(2).identify);
  // Unit 2 answers with a temperature and an erase count, 0 with attributes whose
  // reallocated-sector count then reaches its threshold.
  units.at(2).smart.attributes = {
      {.id = 194, .flags = 2, .value = 100, .worst = 100},
      {.id = 173, .flags = 51, .value = 90, .worst = 90, .threshold = 5},
  };
  detect();
  DriveRecord& record = context.driveTable().records[indexOf(1)];
  ASSERT_EQ(record.primaryUnit, 2);
  ASSERT_EQ(record.secondaryUnit, 0);
  sim::SimAttribute& reallocated = units.at(0).smart.attributes.at(1);
  reallocated.value = 3;
  reallocated.worst = 3;
  auto dialog = open(1);
  CXListCtrl* list = dialog->attributeList();
  // The second unit answered, so the drive is marked and both units use table 1.
  EXPECT_EQ(record.originMark, 1);
  EXPECT_EQ(column(list, 0),
            (std::vector<std::string>{"NAND: Temperature", "NAND: Erase Count", "NAND: Read Error Rate",
                                      "NAND: Reallocated Sector Count", "NAND: Power-On Hours Count"}));
  EXPECT_EQ(column(list, 1), (std::vector<std::string>{"C2", "AD", " 1", " 5", " 9"}));
  EXPECT_EQ(list->cellRecord(1, 0)->image, 5);
  EXPECT_EQ(list->cellRecord(3, 0)->image, 6);
  EXPECT_EQ(list->cellRecord(3, 2)->textColour, kRed);
  // The first unit passes; the second unit's failure fails the drive.
  EXPECT_EQ(record.smartHealthy, 0);
  ASSERT_TRUE(dialog->mainListCell().has_value());
  EXPECT_EQ(dialog->mainListCell()->text, " FAIL");
}

TEST_F(SmartDialogTest, RaidEnclosureSwitchesMembers) {
  platform.drive(10).ata.units.at(0).smart.attributes = {{.id = 5, .flags = 51, .value = 100, .worst = 100,
                                                          .threshold = 5}};
  platform.drive(10).memberB->units.at(0).smart.attributes = {
      {.id = 9, .flags = 18, .value = 97, .worst = 97},
      {.id = 5, .flags = 51, .value = 2, .worst = 2, .threshold = 5},
  };
  detect();
  DriveRecord& record = context.driveTable().records[indexOf(10)];
  ASSERT_EQ(record.driveClass, 6);
  record.smartHealthy = 1;
  record.raidMemberBHealthy = 1;
  auto dialog = open(10);
  QComboBox* box = dialog->memberBox();
  EXPECT_FALSE(box->isHidden());
  ASSERT_EQ(box->count(), 2);
  EXPECT_EQ(box->itemText(0), "RAID Disk A");
  EXPECT_EQ(box->itemText(1), "RAID Disk B");
  EXPECT_EQ(box->currentIndex(), 0);
  EXPECT_EQ(context.raidMemberSelect(), 0xA0);
  EXPECT_EQ(dialog->identityLine()->text(), "Model/Sn: VH7K2 / VHRAIDA0001");
  EXPECT_EQ(column(dialog->attributeList(), 1), (std::vector<std::string>{" 5"}));

  box->setCurrentIndex(1);
  EXPECT_EQ(context.raidMemberSelect(), 0xB0);
  EXPECT_EQ(dialog->identityLine()->text(), "Model/Sn: VH7K2 / VHRAIDB0002");
  EXPECT_EQ(column(dialog->attributeList(), 1), (std::vector<std::string>{" 9", " 5"}));
  EXPECT_EQ(dialog->attributeList()->cellRecord(1, 0)->image, 6);
  EXPECT_EQ(record.smartHealthy, 1);
  EXPECT_EQ(record.raidMemberBHealthy, 0);
  ASSERT_TRUE(dialog->verdict().has_value());
  EXPECT_FALSE(dialog->verdict()->passing);

  // Member A again, but its pages cannot be read: the message, and the list keeps B's rows.
  platform.injectFault(readDataFault(10));
  box->setCurrentIndex(0);
  EXPECT_EQ(context.raidMemberSelect(), 0xA0);
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].text, "Could not read SMART disk information!");
  EXPECT_EQ(column(dialog->attributeList(), 1), (std::vector<std::string>{" 9", " 5"}));
  EXPECT_EQ(record.raidMemberBHealthy, 0);
}

TEST(SmartWindowModelTest, MemberIdentityCutsThroughTheMakersMarks) {
  EXPECT_EQ(memberIdentityLine("VHT VH7K2", "VH-123"), "Model/Sn: VH7K2 / 123");
  EXPECT_EQ(memberIdentityLine("XVHT AVHT B", "ABVH-CVH-D"), "Model/Sn: AVHT B / CVH-D");
  EXPECT_EQ(memberIdentityLine("Other", "S1"), "Model/Sn: Other / S1");
}

TEST_F(SmartDialogTest, DriverThatDoesNotOpenIsReported) {
  detect();
  platform.drive(0).present = false;
  auto dialog = open(0);
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].text, "Could not open SMART driver!");
  EXPECT_EQ(prompter.messages[0].caption, "PALVORO for Windows");
  EXPECT_EQ(prompter.messages[0].icon, PromptIcon::Warning);
  EXPECT_EQ(dialog->attributeList()->itemCount(), 0);
  EXPECT_FALSE(dialog->verdict().has_value());
}

TEST_F(SmartDialogTest, PagesThatCannotBeReadAreReported) {
  detect();
  context.driveTable().records[0].smartHealthy = 0;
  platform.injectFault(readDataFault(0));
  auto dialog = open(0);
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].text, "Could not read SMART disk information!");
  EXPECT_EQ(prompter.messages[0].caption, "PALVORO for Windows");
  EXPECT_EQ(prompter.messages[0].icon, PromptIcon::Warning);
  EXPECT_EQ(dialog->attributeList()->itemCount(), 0);
  EXPECT_FALSE(dialog->mainListCell().has_value());
  EXPECT_EQ(context.driveTable().records[0].smartHealthy, 0);
  EXPECT_EQ(platform.openHandleCount(), 0u);
}

TEST_F(SmartDialogTest, HelpOpensTheSmartPage) {
  detect();
  auto dialog = open(0);
  std::string file, title;
  QTimer::singleShot(0, [&] {
    if (auto* viewer = qobject_cast<CViewDlg*>(QApplication::activeModalWidget())) {
      file = viewer->ViewerFile;
      title = viewer->ViewerTitle;
      viewer->reject();
    }
  });
  dialog->helpButton()->click();
  EXPECT_EQ(file, "smart.htm");
  EXPECT_EQ(title, "SMART Attribute Information");
}

// The showcase's NVMe drive: its health log in two columns, the verdict from the critical
// warning, and the window a person can look at.
TEST_F(SmartDialogTest, NvmeDriveListsItsHealthLog) {
  detect();
  const int index = indexOf(6);
  ASSERT_EQ(context.driveTable().records[index].driveClass, kDriveClassNvme);
  ASSERT_EQ(context.driveTable().records[index].smartAvailable, 1);
  auto dialog = open(6);
  CXListCtrl* list = dialog->attributeList();
  EXPECT_TRUE(dialog->memberBox()->isHidden());
  ASSERT_EQ(list->listColumnCount(), 2);
  EXPECT_EQ(list->headerItem()->text(0), "Health Information");
  EXPECT_EQ(list->headerItem()->text(1), "Value");
  const std::vector<std::string> names = column(list, 0);
  ASSERT_GE(names.size(), 17u);
  EXPECT_EQ(names[0], "Critical Warning");
  EXPECT_EQ(column(list, 1)[0], "0x00");
  EXPECT_EQ(names[16], "Critical Comp. Temperature Time");
  EXPECT_EQ(dialog->mainListCell()->text, " PASS");
  EXPECT_FALSE(test::saveScreenshot(*dialog, QStringLiteral("smart_window_nvme")).isEmpty());

  // The controller puts its media in read-only mode: the warning's row and its meaning
  // turn red and the drive fails.
  platform.drive(6).nvme->health.criticalWarning = 0x08;
  dialog = open(6);
  list = dialog->attributeList();
  EXPECT_EQ(list->itemText(0, 1).toStdString(), "0x08");
  EXPECT_EQ(list->itemText(1, 0).toStdString(), "Media has been placed in read-only mode");
  for (int row : {0, 1}) {
    EXPECT_EQ(list->cellRecord(row, 0)->image, 6);
    EXPECT_EQ(list->cellRecord(row, 1)->textColour, kRed);
  }
  EXPECT_EQ(list->cellRecord(2, 0)->image, 5);
  EXPECT_EQ(context.driveTable().records[index].smartHealthy, 0);
  EXPECT_EQ(dialog->mainListCell()->text, " FAIL");
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(platform.openHandleCount(), 0u);
}

TEST_F(SmartDialogTest, Screenshot) {
  detect();
  auto dialog = open(0);
  EXPECT_FALSE(test::saveScreenshot(*dialog, QStringLiteral("smart_window")).isEmpty());
}

}  // namespace
}  // namespace palvoro
