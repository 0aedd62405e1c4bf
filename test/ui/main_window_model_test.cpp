// The main window's rows and command rules, on the showcase machine, without widgets.

#include "ui/model/main_window_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "discovery/detection.h"
#include "platform/sim/sim_platform.h"
#include "resources/string_table.h"

namespace palvoro {
namespace {

struct Message {
  std::string text;
  std::string caption;
  PromptIcon icon;
};

class RecordingPrompter : public Prompter {
 public:
  PromptAnswer ask(const std::string& text, const std::string& caption, PromptIcon icon,
                   PromptButtons, PromptAnswer, PromptPurpose) override {
    messages.push_back({text, caption, icon});
    if (log != nullptr) log->push_back("message " + text.substr(0, 20));
    return PromptAnswer::Ok;
  }
  std::vector<Message> messages;
  std::vector<std::string>* log = nullptr;
};

// Records each dialog asked for, in order with the messages, as "what drive".
class RecordingOpener : public DialogOpener {
 public:
  bool openTestOptions(int drive) override { return note("options", drive), testRan; }
  bool openBench() override { return log->push_back("bench"), testRan; }
  void openSmartWindow(int drive) override { note("smart", drive); }
  void openProperties(int drive) override { note("properties", drive); }
  void openHelp(const std::string& file) override { log->push_back("help " + file); }
  void openAbout() override { log->push_back("about"); }
  void openScanMap(int drive) override { note("scan map", drive); }
  void openDriveLogs(int drive) override { note("drive logs", drive); }
  void openHistory(int drive) override { note("history", drive); }
  void note(const char* what, int drive) { log->push_back(std::string(what) + " " + std::to_string(drive)); }
  std::vector<std::string>* log = nullptr;
  bool testRan = false;
};

// Showcase rows: 0 maker SATA, 1 hybrid, 2 maker SSD, 3 USB SAT, 4 HP bridge,
// 5 FireWire, 6 SCSI, 7 RAID enclosure (Rebuilding).
class MainWindowModelTest : public testing::Test {
 protected:
  explicit MainWindowModelTest(sim::SimMachine machine = sim::builtinMachine("showcase"))
      : platform(std::move(machine)), context(platform, prompter) {
    prompter.log = &log;
    opener.log = &log;
    detectDrives(context.probeEnvironment(), context.driveTable());
    model = std::make_unique<MainWindowModel>(
        context, opener,
        MainWindowModel::Hooks{[this] {
                                 ++detections;
                                 log.push_back("detect");
                                 if (duringDetection) duringDetection();
                                 detectDrives(context.probeEnvironment(), context.driveTable());
                               },
                               [this] { ++fills; }, [this] { log.push_back("front"); }});
    model->fillDriveLists();
    log.clear();
  }
  DriveRecord& record(int i) { return context.driveTable().records[i]; }
  const ListCell& cell(int row, int col) { return model->physicalRows().at(row).at(col); }

  sim::SimPlatform platform;
  RecordingPrompter prompter;
  AppContext context;
  RecordingOpener opener;
  std::vector<std::string> log;
  std::unique_ptr<MainWindowModel> model;
  int detections = 0;
  int fills = 0;
  std::function<void()> duringDetection;
};

TEST_F(MainWindowModelTest, ShowcaseRows) {
  ASSERT_EQ(model->physicalRows().size(), 8u);
  EXPECT_EQ(context.driveTable().driveCount(), 8);
  struct Expected {
    const char* number;
    int image;
    const char* model;
    const char* serial;
    const char* capacity;
  };
  const Expected rows[] = {
      {" 1", kImageGenericDrive, "VHT VH7SAB200 (SATA)", "VH7K2A01B3C4", "2000 GB"},
      {" 2", kImageGenericDrive, "VHT VHH7S100516AB2C3D1 (ATA)", "VHH7A0099221", "1000 GB"},
      {" 3", kImageGenericDrive, "VHT VHS512G (ATA)", "VHS5120042", "512 GB"},
      {" 4", kImageUsb, "Kestrel KX1000 (USB)", "KX10007731", "1000 GB"},
      {" 5", kImageGenericDrive, "Sabik NV2 1TB (NVMe)", "SBK2N1T0A4471", "1000 GB"},
      {" 6", kImageFireWire, "VH FireWire 800 (FireWire)", nullptr, "1000 GB"},
      {" 7", kImageScsi, "SEAGATE ST6000NM0034 (SCSI)", "Z4D0A1B2", "6001 GB"},
      {" 8", kImageUsb, nullptr, nullptr, "2000 GB"},
  };
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(cell(i, 0).text, rows[i].number);
    EXPECT_EQ(cell(i, 0).image, rows[i].image);
    if (rows[i].model) { EXPECT_EQ(cell(i, 1).text, rows[i].model); }
    EXPECT_EQ(cell(i, 2).text, record(i).serialNumber);
    if (rows[i].serial) { EXPECT_EQ(cell(i, 2).text, rows[i].serial); }
    if (rows[i].capacity) { EXPECT_EQ(cell(i, 3).text, rows[i].capacity); }
    EXPECT_EQ(cell(i, 3).tooltip, "Physical drive capacity (1 GB=1,000,000,000 bytes)");
    EXPECT_EQ(cell(i, 0).tooltip, "Physical drive number");
  }
  EXPECT_EQ(cell(6, 3).text, "6001 GB");  // above 2 TB: 11,721,045,168 sectors
}

TEST_F(MainWindowModelTest, SmartCells) {
  EXPECT_EQ(cell(0, 4).text, " PASS");
  EXPECT_EQ(cell(0, 4).image, kImagePass);
  EXPECT_EQ(cell(0, 4).colour, kColourBlue);
  EXPECT_EQ(cell(2, 4).text, " Not Supported");
  EXPECT_EQ(cell(2, 4).image, kImageQuestion);
  EXPECT_FALSE(cell(2, 4).colour.has_value());
  EXPECT_EQ(cell(6, 4).text, " Not Available");
  EXPECT_EQ(cell(6, 4).image, kImageQuestion);
  EXPECT_FALSE(cell(6, 4).colour.has_value());
  // The enclosure rebuilds: its state word with the triangle, in blue.
  EXPECT_EQ(cell(7, 4).text, " Rebuilding");
  EXPECT_EQ(cell(7, 4).image, kImageWarning);
  EXPECT_EQ(cell(7, 4).colour, kColourBlue);
  EXPECT_EQ(cell(7, 1).text, std::string(record(7).model));
}

TEST(MainWindowCells, SmartRules) {
  DriveRecord r{};
  r.driveClass = kDriveClassRaid;
  r.smartAvailable = 1;
  r.smartHealthy = 1;
  r.raidState = 5;
  ListCell c = smartStatusCell(r);
  EXPECT_EQ(c.text, " Degraded");
  EXPECT_EQ(c.image, kImageWarning);
  EXPECT_EQ(c.colour, kColourBlue);
  r.smartHealthy = 0;
  EXPECT_EQ(smartStatusCell(r).colour, kColourRed);  // the FAIL colour stays
  r.raidState = 0;
  EXPECT_EQ(smartStatusCell(r).text, " FAIL");
  r.smartAvailable = 0;
  EXPECT_EQ(smartStatusCell(r).text, " Not Available");  // Healthy is never shown
  r.raidState = 12;
  EXPECT_EQ(smartStatusCell(r).text, " Unknown");
  r.isMakerSsd = 1;
  EXPECT_EQ(smartStatusCell(r).text, " Not Supported");
}

TEST(MainWindowCells, ModelAndCapacity) {
  DriveTable table{};
  table.records.resize(4);
  DriveRecord& raid = table.records[0];
  raid.driveClass = kDriveClassRaid;
  std::strcpy(raid.model, "Nodrik");
  raid.raidLevel = 2;
  raid.sectorSize = 512;
  raid.identifiedSectors = 999000000ull / 512 * 1;  // under 1000 MB
  DriveRecord& ata = table.records[1];
  ata.driveClass = kDriveClassAta;
  ata.busType = kBusSata;
  std::strcpy(ata.model, "X");
  ata.sectorSize = 512;
  ata.identifiedSectors = 1953125;  // exactly 1000 MB
  table.records[3].driveClass = kDriveClassAta;  // after an empty entry: not listed, dropped
  std::vector<ListRow> rows = fillPhysicalDriveRows(table);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(table.driveCount(), 2);
  EXPECT_EQ(rows[0][1].text, "Nodrik (RAID 1)");
  EXPECT_STREQ(raid.model, "Nodrik (RAID 1)");
  EXPECT_EQ(rows[0][3].text, "998 MB");
  EXPECT_EQ(rows[1][1].text, "X (ATA)");
  EXPECT_EQ(rows[1][3].text, "1 GB");
  raid.raidLevel = 0;
  std::strcpy(raid.model, "Nodrik");
  EXPECT_EQ(modelCellText(raid), "Nodrik (RAID)");
  // Too long a composed name is shown but not kept.
  std::strcpy(raid.model, "0123456789012345678901234567890123456789");
  rows = fillPhysicalDriveRows(table);
  EXPECT_STREQ(raid.model, "0123456789012345678901234567890123456789");
}

TEST(MainWindowCells, Columns) {
  const std::vector<ListColumn> p = physicalDriveColumns(798);  // a = 19
  ASSERT_EQ(p.size(), 5u);
  const int widths[] = {76, 228, 228, 114, 152};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(p[i].width, widths[i]);
  EXPECT_EQ(p[2].alignment, ColumnAlignment::Centre);
  EXPECT_EQ(p[4].alignment, ColumnAlignment::Left);
  const std::vector<ListColumn> l = logicalDriveColumns(799);  // e = 199
  EXPECT_EQ(l[0].width, 199);
  EXPECT_EQ(l[3].width, 202);
  EXPECT_EQ(l[0].alignment, ColumnAlignment::Left);
  EXPECT_EQ(l[1].caption, "File System");
}

TEST_F(MainWindowModelTest, LogicalRows) {
  // C, D, E, F and G are fixed; the CD-ROM R and the network drive Z get no row.
  const std::vector<ListRow>& rows = model->logicalRows();
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0][0].text, " C:\\");
  EXPECT_EQ(rows[0][0].image, kVolumeImageFixed);
  EXPECT_EQ(rows[0][0].tooltip, "Logical volume name");
  EXPECT_EQ(rows[0][1].text, "NTFS");
  EXPECT_EQ(rows[0][2].text, "536.87 GB");  // 1,048,576,000 sectors of 512 bytes
  EXPECT_EQ(rows[0][3].text, "212.00 GB");
  EXPECT_EQ(rows[3][0].text, " F:\\");
  EXPECT_EQ(rows[3][1].text, "exFAT");
  EXPECT_EQ(rows[4][0].text, " G:\\");
}

TEST(MainWindowFailingDrive, FailCell) {
  sim::SimMachine machine = sim::builtinMachine("showcase");
  machine.findDrive(0)->ata.units.at(0).smart.reportExceeded = true;
  sim::SimPlatform platform(std::move(machine));
  RecordingPrompter prompter;
  AppContext context(platform, prompter);
  detectDrives(context.probeEnvironment(), context.driveTable());
  const std::vector<ListRow> rows = fillPhysicalDriveRows(context.driveTable());
  EXPECT_EQ(rows[0][4].text, " FAIL");
  EXPECT_EQ(rows[0][4].image, kImageFail);
  EXPECT_EQ(rows[0][4].colour, kColourRed);
}

TEST_F(MainWindowModelTest, PicturesNeedAHighlightedPhysicalDrive) {
  model->onRunTestsIcon(false, 0);
  model->onSmartIcon(true, -1);
  model->onRunTestsIcon(true, 8);
  ASSERT_EQ(prompter.messages.size(), 3u);
  for (const Message& m : prompter.messages) {
    EXPECT_EQ(m.text, "Please highlight a drive from the physical drive list.");
    EXPECT_EQ(m.caption, "PALVORO for Windows");
    EXPECT_EQ(m.icon, PromptIcon::Warning);
  }
  EXPECT_EQ(log.size(), 3u);  // messages only, no dialog
}

TEST_F(MainWindowModelTest, RunTestsOpensOptionsOrRefusesTheSsd) {
  model->onRunTestsIcon(true, 3);
  EXPECT_EQ(context.driveTable().selectedDrive, 3);
  model->onRunTestsIcon(true, 2);
  EXPECT_EQ(context.driveTable().selectedDrive, 2);
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].text, loadString(kStrMakerSsdNotSupported));
  EXPECT_EQ(prompter.messages[0].icon, PromptIcon::Information);
  EXPECT_EQ(log, (std::vector<std::string>{"options 3", "message This software is not"}));
  EXPECT_EQ(detections, 0);
  // A test ran: the drives are re-scanned once the option dialog closes.
  opener.testRan = true;
  model->onDoubleClick(5);
  EXPECT_EQ(detections, 1);
  EXPECT_EQ(log.back(), "detect");
}

TEST_F(MainWindowModelTest, SmartPictureChecks) {
  model->onSmartIcon(true, 6);  // SCSI drive without SMART
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].text,
            "SMART drive information is NOT available for this drive or is inaccessible by this program.");
  EXPECT_EQ(prompter.messages[0].icon, PromptIcon::Warning);
  EXPECT_EQ(context.driveTable().selectedDrive, 6);
  log.clear();
  model->onSmartIcon(true, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"smart 0", "front"}));
}

TEST_F(MainWindowModelTest, RaidProblemWarnsBeforeTheSmartWindow) {
  DriveRecord& raid = record(7);
  raid.smartAvailable = 1;
  raid.raidLevel = 2;
  const struct {
    int state;
    bool warned;
  } cases[] = {{0, false}, {6, false}, {5, true}, {4, true}, {8, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    raid.raidState = c.state;
    log.clear();
    model->onShowSmartDriveInfo(7);
    if (c.warned) {
      ASSERT_EQ(log.size(), 3u);
      EXPECT_EQ(prompter.messages.back().text, loadString(kStrRaidDriveProblem));
      EXPECT_EQ(prompter.messages.back().icon, PromptIcon::Warning);
      EXPECT_EQ(log[1], "smart 7");
    } else {
      EXPECT_EQ(log, (std::vector<std::string>{"smart 7", "front"}));
    }
  }
  raid.raidLevel = 0;  // level unknown: no warning whatever the state
  raid.raidState = 4;
  log.clear();
  model->onShowSmartDriveInfo(7);
  EXPECT_EQ(log.front(), "smart 7");
  log.clear();
  model->onShowSmartDriveInfo(2);  // the SSD
  EXPECT_EQ(log, (std::vector<std::string>{"message This software is not"}));
}

TEST_F(MainWindowModelTest, LeftClicks) {
  model->onLeftClick(0, 4);  // SMART cell with SMART: the SMART window
  record(7).smartAvailable = 0;
  model->onLeftClick(7, 4);  // enclosure without SMART: its properties
  model->onLeftClick(6, 4);  // SCSI drive without SMART: nothing
  model->onLeftClick(3, 1);  // another column: only the selection
  model->onLeftClick(-1, 4);
  EXPECT_EQ(log, (std::vector<std::string>{"smart 0", "front", "properties 7"}));
  EXPECT_EQ(context.driveTable().selectedDrive, 3);
}

// A drive an extended test scanned offers its scan map, found again by model and serial
// after a re-scan moved it to another row; no other drive does.
TEST_F(MainWindowModelTest, ScanMapIsOfferedOnlyForADriveAnExtendedTestScanned) {
  BlockLatencyMap map;
  map.begin(0, 1000);
  map.record(0, 10, true);
  context.keepScanMap(record(3), map);
  context.keepScanMap(record(4), BlockLatencyMap{});  // a scan that never ran keeps nothing
  const auto texts = [&](int row) {
    std::vector<std::string> out;
    for (const MenuEntry& entry : model->contextMenu(row)) out.push_back(entry.text);
    return out;
  };
  EXPECT_EQ(texts(3), (std::vector<std::string>{"Run Diagnostics", "Show SMART Drive Info", "Scan Map", "Drive Logs",
                                                "Bench (Several Drives)...", "", "Properties", "History"}));
  EXPECT_EQ(texts(4).size(), 7u);
  std::swap(record(3), record(5));
  EXPECT_EQ(texts(3).size(), texts(4).size());
  EXPECT_EQ(texts(5)[2], "Scan Map");
  log.clear();
  model->runMenuCommand(MenuCommand::ScanMap, 5);
  EXPECT_EQ(log, std::vector<std::string>{"scan map 5"});
  EXPECT_EQ(context.driveTable().selectedDrive, 5);
}

TEST_F(MainWindowModelTest, ContextMenus) {
  std::vector<MenuEntry> menu = model->contextMenu(0);
  ASSERT_EQ(menu.size(), 7u);
  EXPECT_EQ(menu[0].text, "Run Diagnostics");
  EXPECT_EQ(menu[1].text, "Show SMART Drive Info");
  EXPECT_EQ(menu[2].text, "Drive Logs");  // an ATA drive: its logs can be asked for
  EXPECT_EQ(menu[3].command, MenuCommand::Bench);
  EXPECT_EQ(menu[4].command, MenuCommand::Separator);
  EXPECT_EQ(menu[5].text, "Properties");
  EXPECT_EQ(menu[6].text, "History");  // every drive, kept or not
  menu = model->contextMenu(6);  // no SMART: no SMART entry
  ASSERT_EQ(menu.size(), 5u);
  EXPECT_EQ(menu[2].command, MenuCommand::Separator);
  EXPECT_TRUE(model->contextMenu(8).empty());
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_TRUE(model->contextMenu(2).empty());  // the SSD: its message instead
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].icon, PromptIcon::Information);
  log.clear();
  model->runMenuCommand(MenuCommand::DriveLogs, 3);
  model->runMenuCommand(MenuCommand::Properties, 4);
  model->runMenuCommand(MenuCommand::RunDiagnostics, 1);
  model->runMenuCommand(MenuCommand::History, 5);
  model->runMenuCommand(MenuCommand::History, 8);  // no such row: nothing opens
  EXPECT_EQ(log, (std::vector<std::string>{"drive logs 3", "properties 4", "options 1", "history 5"}));
  // The Bench re-scans after it only when a run took place, as the option dialog does.
  log.clear();
  model->runMenuCommand(MenuCommand::Bench, 3);
  opener.testRan = true;
  model->runMenuCommand(MenuCommand::Bench, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"bench", "bench", "detect"}));
}

TEST_F(MainWindowModelTest, EnterOnPhysicalRowVersusElsewhere) {
  EXPECT_TRUE(model->onEnterOrSpace(true, 1));
  EXPECT_FALSE(model->onEnterOrSpace(false, 1));  // focus elsewhere: ordinary handling
  EXPECT_FALSE(model->onEnterOrSpace(true, -1));
  EXPECT_EQ(log, (std::vector<std::string>{"options 1"}));
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(MainWindowModelTest, RescanOnceWithArrivalsAbsorbed) {
  duringDetection = [this] {
    EXPECT_TRUE(model->rescanInProgress());
    model->onDeviceChange(kDeviceArrival);  // a second arrival while re-scanning
  };
  model->onDeviceChange(kDeviceArrival);
  EXPECT_EQ(detections, 1);
  EXPECT_FALSE(model->rescanInProgress());
  model->onDeviceChange(0x0007);  // other notifications leave the drives alone
  EXPECT_EQ(detections, 1);
  model->onDeviceChange(kDeviceRemoveComplete);
  EXPECT_EQ(detections, 2);
  EXPECT_EQ(fills, 3);  // the opening fill and one per re-scan
  EXPECT_EQ(model->physicalRows().size(), 8u);
  EXPECT_EQ(cell(7, 4).text, " Rebuilding");
}

TEST_F(MainWindowModelTest, RescanDropsARemovedDrive) {
  platform.machine().findDrive(4)->present = false;
  model->rescanDrives();
  EXPECT_EQ(context.driveTable().driveCount(), 7);
  EXPECT_EQ(model->physicalRows()[3][1].text, "Sabik NV2 1TB (NVMe)");
  // The last row of before names no drive now: nothing may act on another one instead.
  context.driveTable().selectedDrive = 7;
  EXPECT_THROW(context.selectedRecord(), std::out_of_range);
  context.driveTable().selectedDrive = -1;
  EXPECT_THROW(context.selectedRecord(), std::out_of_range);
}

TEST_F(MainWindowModelTest, EmptyTable) {
  clearDriveTable(context.driveTable());
  context.driveTable().records.resize(3);  // empty entries: dropped by the fill
  model->fillDriveLists();
  EXPECT_TRUE(model->physicalRows().empty());
  EXPECT_EQ(context.driveTable().driveCount(), 0);
  model->onRunTestsIcon(true, 0);
  EXPECT_EQ(prompter.messages.size(), 1u);
  EXPECT_TRUE(model->contextMenu(0).empty());
}

TEST_F(MainWindowModelTest, HelpAndAbout) {
  model->onHelp();
  model->onAbout();
  EXPECT_EQ(log, (std::vector<std::string>{"help help.htm", "about"}));
}

}  // namespace
}  // namespace palvoro
