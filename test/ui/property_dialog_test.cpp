// The property sheet and its "General" page on the showcase machine: the fields of an
// ordinary drive and of the RAID enclosure, the enclosure without its driver, and the
// main window's Properties command opening the real sheet.

#include "ui/widgets/property_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include "app/app_context.h"
#include "discovery/detection.h"
#include "platform/sim/sim_platform.h"
#include "ui/screenshot.h"
#include "ui/widgets/main_window.h"
#include "ui/widgets/qt_prompter.h"
#include "ui/widgets/xlist_ctrl.h"

namespace palvoro {
namespace {

constexpr int kSataDrive = 0;  // drive 0: the maker's SATA drive with C: and D:
constexpr int kEnclosure = 7;  // drive 10: the RAID enclosure, last in the table

// Answers every message box that opens (OK) and remembers its text and icon; armed before
// the call that opens one.
class BoxAnswerer {
 public:
  BoxAnswerer() {
    m_timer.setInterval(10);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      texts.push_back(box->text().toStdString());
      icons.push_back(box->icon());
      box->button(QMessageBox::Ok)->click();
    });
    m_timer.start();
  }
  std::vector<std::string> texts;
  std::vector<QMessageBox::Icon> icons;

 private:
  QTimer m_timer;
};

sim::SimMachine showcase(bool withStatusInterface) {
  sim::SimMachine machine = sim::builtinMachine("showcase");
  for (sim::SimDrive& drive : machine.drives) {
    if (drive.number == 10) drive.statusInterface = withStatusInterface;
  }
  return machine;
}

class PropertyDialogTest : public testing::Test {
 protected:
  explicit PropertyDialogTest(bool withStatusInterface = true)
      : platform(showcase(withStatusInterface)), context(platform, prompter) {
    detectDrives(context.probeEnvironment(), context.driveTable());
  }
  QString text(const CPropertyDlg& page, PropertyField field) const { return page.value(field)->text(); }
  bool raidRowsShown(const CPropertyDlg& page) const {
    for (PropertyField field : {PropertyField::RaidSetting, PropertyField::DriveASerialNumber,
                                PropertyField::DriveBSerialNumber}) {
      if (page.caption(field)->isHidden() || page.value(field)->isHidden()) return false;
    }
    return true;
  }

  sim::SimPlatform platform;
  QtPrompter prompter;
  AppContext context;
};

TEST_F(PropertyDialogTest, OrdinaryDrive) {
  BoxAnswerer boxes;
  CPropertySheet sheet(context, kSataDrive);
  sheet.show();
  QApplication::processEvents();
  EXPECT_TRUE(boxes.texts.empty());
  EXPECT_EQ(sheet.windowTitle(), "Drive 1 Properties");
  ASSERT_EQ(sheet.tabs()->count(), 1);
  EXPECT_EQ(sheet.tabs()->tabText(0), "General");
  // OK and Cancel only: no Apply and no Help anywhere in the sheet.
  QStringList buttons;
  for (auto* button : sheet.findChildren<QPushButton*>()) buttons << button->text();
  buttons.sort();
  EXPECT_EQ(buttons, (QStringList{"Cancel", "OK"}));

  const CPropertyDlg& page = *sheet.generalPage();
  EXPECT_EQ(text(page, PropertyField::Drive), "#1");
  EXPECT_EQ(text(page, PropertyField::DeviceType), "SATA");
  EXPECT_EQ(text(page, PropertyField::Capacity), "2000.40 GB");  // 3907029168 x 512 bytes
  EXPECT_EQ(text(page, PropertyField::FirmwareRevision), "A5C0");
  EXPECT_EQ(text(page, PropertyField::HealthStatus), "Good");
  EXPECT_EQ(text(page, PropertyField::SerialNumber), "VH7K2A01B3C4");
  EXPECT_EQ(page.caption(PropertyField::SerialNumber)->text(), "Device Serial Number:");
  EXPECT_EQ(page.caption(PropertyField::HiddenAreas)->text(), "Hidden Areas:");
  EXPECT_FALSE(page.page().hiddenAreas.empty());
  EXPECT_EQ(text(page, PropertyField::HiddenAreas).toStdString(), page.page().hiddenAreas);
  for (PropertyField field : {PropertyField::RaidSetting, PropertyField::DriveASerialNumber,
                              PropertyField::DriveBSerialNumber}) {
    EXPECT_TRUE(page.caption(field)->isHidden());
    EXPECT_TRUE(page.value(field)->isHidden());
  }

  CXListCtrl* volumes = page.volumeList();
  ASSERT_EQ(volumes->listColumnCount(), 2);
  EXPECT_EQ(volumes->headerItem()->text(0), "Volume");
  EXPECT_EQ(volumes->headerItem()->text(1), "Capacity");
  const int client = volumes->viewport()->width();
  EXPECT_EQ(volumes->header()->sectionSize(0), client * 2 / 3);
  EXPECT_EQ(volumes->header()->sectionSize(0) + volumes->header()->sectionSize(1), client);
  ASSERT_EQ(volumes->itemCount(), 2);
  EXPECT_EQ(volumes->itemText(0, 0), "System (C:\\)");
  EXPECT_EQ(volumes->itemText(0, 1), "500.00 GB");  // 1048576000 sectors in 2^30-byte units
  EXPECT_EQ(volumes->itemText(1, 0), "Data (D:\\)");
  EXPECT_EQ(volumes->itemText(1, 1), "1363.02 GB");
  EXPECT_FALSE(test::saveScreenshot(sheet, QStringLiteral("property_page")).isEmpty());
}

TEST_F(PropertyDialogTest, EnclosureRebuilding) {
  BoxAnswerer boxes;
  // Detection read the status once; the page reads it again through the interface.
  context.driveTable().records[kEnclosure].raidState = 0;
  CPropertySheet sheet(context, kEnclosure);
  sheet.show();
  QApplication::processEvents();
  EXPECT_TRUE(boxes.texts.empty());
  EXPECT_EQ(sheet.windowTitle(), "Drive 8 Properties");
  const CPropertyDlg& page = *sheet.generalPage();
  EXPECT_EQ(text(page, PropertyField::Drive), "#8");
  EXPECT_EQ(text(page, PropertyField::DeviceType), "RAID-USB");
  EXPECT_EQ(text(page, PropertyField::HealthStatus), "Rebuilding (42% completed)");
  EXPECT_TRUE(raidRowsShown(page));
  EXPECT_EQ(text(page, PropertyField::RaidSetting), "RAID 1");
  EXPECT_EQ(text(page, PropertyField::DriveASerialNumber), "VHRAIDA0001");
  EXPECT_EQ(text(page, PropertyField::DriveBSerialNumber), "VHRAIDB0002");
  EXPECT_EQ(page.volumeList()->itemCount(), 0);
  EXPECT_FALSE(test::saveScreenshot(sheet, QStringLiteral("property_page_raid")).isEmpty());
}

class PropertyDialogNoDriverTest : public PropertyDialogTest {
 protected:
  PropertyDialogNoDriverTest() : PropertyDialogTest(false) {}
};

TEST_F(PropertyDialogNoDriverTest, EnclosureWithoutDriverSaysSoOncePerOpening) {
  BoxAnswerer boxes;
  const std::string message =
      "Cannot get RAID status from Nodrik device. The driver may not be installed properly. "
      "Check for any warning sign on the Nodrik device in Device Manager and possibly "
      "re-install the Nodrik device driver provided on the Nodrik CD.";
  for (int opening = 1; opening <= 2; ++opening) {
    CPropertySheet sheet(context, kEnclosure);
    sheet.show();
    QApplication::processEvents();
    ASSERT_EQ(boxes.texts.size(), static_cast<size_t>(opening));
    EXPECT_EQ(boxes.texts.back(), message);
    EXPECT_EQ(boxes.icons.back(), QMessageBox::Warning);
    EXPECT_EQ(text(*sheet.generalPage(), PropertyField::HealthStatus), "Unknown");
    EXPECT_EQ(context.driveTable().records[kEnclosure].raidState, 8);
    EXPECT_TRUE(raidRowsShown(*sheet.generalPage()));
  }
}

TEST_F(PropertyDialogTest, MainWindowPropertiesOpensTheSheet) {
  CPalvoroDlg window(context);
  window.show();
  QString title;
  QString device;
  QTimer::singleShot(0, [&] {
    auto* sheet = qobject_cast<CPropertySheet*>(QApplication::activeModalWidget());
    ASSERT_NE(sheet, nullptr);
    title = sheet->windowTitle();
    device = sheet->generalPage()->value(PropertyField::DeviceType)->text();
    sheet->okButton()->click();
  });
  window.model().runMenuCommand(MenuCommand::Properties, 3);
  EXPECT_EQ(title, "Drive 4 Properties");
  EXPECT_EQ(device, "USB");
}

}  // namespace
}  // namespace palvoro
