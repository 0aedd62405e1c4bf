#include "ui/model/main_window_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "discovery/format_capacity.h"
#include "service/drive_logs_model.h"
#include "platform/win_types.h"
#include "resources/string_table.h"

namespace palvoro {
namespace {

// Column tooltips; every cell of a column carries its column's text.
constexpr const char* kTipDriveNumber = "Physical drive number";
constexpr const char* kTipModel = "Model number and drive type for the physical drive";
constexpr const char* kTipSerial = "Serial number for the physical drive";
constexpr const char* kTipCapacity = "Physical drive capacity (1 GB=1,000,000,000 bytes)";
constexpr const char* kTipSmart =
    "SMART Status: (Click left button to view SMART Drive Info\nor RAID drive properties)\n"
    "PASS: SMART Status command returns OK and all\n"
    "           monitored Attribute values are normal.\n"
    "FAIL: One or more Attributes trip Threshold values.\n"
    "Not Available: SMART feature is not available or disabled.\n"
    "SMART status may not be accessible for SCSI, FireWire\n"
    "and USB drives by this program.\n"
    "Degraded: For RAID 1 drive only, a faulty drive is detected.";
constexpr const char* kTipVolumeName = "Logical volume name";
constexpr const char* kTipFileSystem =
    "File system type\nAccess privilege is required to view this info.";
constexpr const char* kTipTotalSpace = "Total volume size (1GB=1,000,000,000 bytes)";
constexpr const char* kTipFreeSpace = "Free space (1GB=1,000,000,000 bytes)";

constexpr int kSmartColumn = 4;

// Decimal megabytes of a byte count, keeping the low 32 bits as the lists always have.
uint32_t megabytesOf(uint64_t bytes) { return static_cast<uint32_t>(bytes / 1000000); }

int columnImage(int32_t busType) {
  switch (busType) {
    case kBusScsi: return kImageScsi;
    case kBusFireWire: return kImageFireWire;
    case kBusUsb: return kImageUsb;
    default: return kImageGenericDrive;
  }
}

}  // namespace

std::vector<ListColumn> physicalDriveColumns(int clientWidth) {
  const int a = clientWidth / 40;
  return {{"Drive #", 4 * a, ColumnAlignment::Left, kTipDriveNumber},
          {"Model Number", 12 * a, ColumnAlignment::Left, kTipModel},
          {"Serial Number", 12 * a, ColumnAlignment::Centre, kTipSerial},
          {"Capacity", 6 * a, ColumnAlignment::Centre, kTipCapacity},
          {"SMART Status", clientWidth - 34 * a, ColumnAlignment::Left, kTipSmart}};
}

std::vector<ListColumn> logicalDriveColumns(int clientWidth) {
  const int e = clientWidth / 4;
  return {{"Drive #", e, ColumnAlignment::Left, kTipVolumeName},
          {"File System", e, ColumnAlignment::Centre, kTipFileSystem},
          {"Total Space", e, ColumnAlignment::Centre, kTipTotalSpace},
          {"Free Space", clientWidth - 3 * e, ColumnAlignment::Centre, kTipFreeSpace}};
}

std::string busWord(const DriveRecord& record) {
  switch (record.driveClass) {
    case kDriveClassAta: return record.busType == kBusMakerSata ? "SATA" : "ATA";
    case kDriveClassUsb: return "USB";
    case kDriveClassFireWire: return "FireWire";
    case kDriveClassScsi: return "SCSI";
    case kDriveClassOther: return "SCSI Int";
    case kDriveClassRaid: return "RAID";
    case kDriveClassNvme: return "NVMe";
    default: return " ? ";
  }
}

const char* raidStateWord(int32_t state) {
  static const char* const kWords[] = {"Healthy",  "Not Configured", "Unknown Setting",
                                       "Setting Mismatched", "Bad", "Degraded",
                                       "Rebuilding", "Rebuilding Failed", "Unknown"};
  // A state above 8 has no word of its own; it reads as the word of state 8.
  if (state < 0 || state > 8) return "Unknown";
  return kWords[state];
}

std::string modelCellText(const DriveRecord& record) {
  char text[160];
  if (record.driveClass == kDriveClassRaid && (record.raidLevel == 1 || record.raidLevel == 2)) {
    std::snprintf(text, sizeof text, "%s (%s %d)", record.model, busWord(record).c_str(),
                  record.raidLevel - 1);
  } else {
    std::snprintf(text, sizeof text, "%s (%s)", record.model, busWord(record).c_str());
  }
  return text;
}

std::string capacityCellText(const DriveRecord& record) {
  const uint64_t bytes = record.identifiedSectors * static_cast<uint64_t>(static_cast<uint32_t>(record.sectorSize));
  return FormatCapacity(megabytesOf(bytes), 0);
}

ListCell smartStatusCell(const DriveRecord& record) {
  ListCell cell;
  cell.tooltip = kTipSmart;
  const bool raidWord = record.driveClass == kDriveClassRaid && record.raidState != 0;
  if (record.isMakerSsd == 1) {
    cell.text = " Not Supported";
    cell.image = kImageQuestion;
  } else if (record.smartAvailable == 1) {
    const bool healthy = record.smartHealthy == 1;
    cell.text = healthy ? " PASS" : " FAIL";
    cell.image = healthy ? kImagePass : kImageFail;
    cell.colour = healthy ? kColourBlue : kColourRed;
    if (raidWord) {
      cell.text = std::string(" ") + raidStateWord(record.raidState);
      cell.image = kImageWarning;
    }
  } else if (raidWord) {
    cell.text = std::string(" ") + raidStateWord(record.raidState);
    cell.image = kImageWarning;
    cell.colour = kColourBlue;
  } else {
    cell.text = " Not Available";
    cell.image = kImageQuestion;
  }
  return cell;
}

ListRow physicalDriveRow(const DriveRecord& record, int displayNumber) {
  ListRow row(5);
  char number[16];
  std::snprintf(number, sizeof number, " %i", displayNumber);
  row[0] = {number, columnImage(record.busType), std::nullopt, kTipDriveNumber};
  row[1] = {modelCellText(record), -1, std::nullopt, kTipModel};
  row[2] = {record.serialNumber, -1, std::nullopt, kTipSerial};
  row[3] = {capacityCellText(record), -1, std::nullopt, kTipCapacity};
  row[4] = smartStatusCell(record);
  return row;
}

std::vector<ListRow> fillPhysicalDriveRows(DriveTable& table) {
  std::vector<ListRow> rows;
  // An empty entry ends the list: what follows it is no drive anybody can pick.
  const auto firstEmpty = std::find_if(table.records.begin(), table.records.end(),
                                       [](const DriveRecord& r) { return r.driveClass == kDriveClassNone; });
  table.records.erase(firstEmpty, table.records.end());
  for (DriveRecord& record : table.records) {
    rows.push_back(physicalDriveRow(record, static_cast<int>(rows.size()) + 1));
    // The enclosure's composed name becomes its model for the dialogs and the result page.
    const std::string& model = rows.back()[1].text;
    if (record.driveClass == kDriveClassRaid && model.size() < 41) {
      std::memset(record.model, 0, sizeof record.model);
      std::memcpy(record.model, model.data(), model.size());
    }
  }
  return rows;
}

std::vector<ListRow> logicalDriveRows(Platform& platform) {
  std::vector<ListRow> rows;
  const uint32_t present = platform.logicalDrives();
  for (int bit = 0; bit < 26; ++bit) {
    if ((present & (1u << bit)) == 0) continue;
    const char letter = static_cast<char>('A' + bit);
    const std::string root = std::string(1, letter) + ":\\";
    if (platform.driveType(root) != DRIVE_FIXED) continue;
    // The letter is the key; the row shows what the system calls the volume ("C:\" and
    // "NTFS" on the Windows-shaped machine, "/home" and "ext4" on Linux).
    const VolumeName name = platform.volumeName(letter);
    ListRow row(4);
    row[0] = {" " + name.name, kVolumeImageFixed, std::nullopt, kTipVolumeName};
    if (!name.fileSystem.empty()) row[1] = {name.fileSystem, -1, std::nullopt, kTipFileSystem};
    uint64_t total = 0;
    uint64_t free = 0;
    if (platform.diskSpace(root, &total, &free)) {
      row[2] = {FormatCapacity(megabytesOf(total), 2), -1, std::nullopt, kTipTotalSpace};
      row[3] = {FormatCapacity(megabytesOf(free), 2), -1, std::nullopt, kTipFreeSpace};
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

TitleTexts titleTexts(const std::string& productTitle) {
  return {"Varnholt Steadwell Diagnostics - " + productTitle, "&About " + productTitle + "...",
          "Right-click for About " + productTitle, "About " + productTitle, productTitle + " version:"};
}

MainWindowModel::MainWindowModel(Session& context, DialogOpener& opener, Hooks hooks)
    : m_context(context), m_opener(opener), m_hooks(std::move(hooks)) {}

void MainWindowModel::fillDriveLists() {
  m_physicalRows = fillPhysicalDriveRows(m_context.driveTable());
  m_logicalRows = logicalDriveRows(m_context.platform());
  if (m_hooks.listsFilled) m_hooks.listsFilled();
}

bool MainWindowModel::validRow(int row) const {
  return row >= 0 && row < m_context.driveTable().driveCount();
}

void MainWindowModel::showMessage(int stringId, PromptIcon icon) {
  showMessage(std::string(loadString(stringId)), icon);
}

void MainWindowModel::showMessage(const std::string& text, PromptIcon icon) {
  m_context.prompter().ask(text, m_context.platform().productTitle(), icon, PromptButtons::Ok, PromptAnswer::Ok,
                           PromptPurpose::information());
}

void MainWindowModel::onRunTestsIcon(bool physicalHasFocus, int firstSelected) {
  if (!physicalHasFocus || !validRow(firstSelected)) {
    showMessage(kMsgHighlightDrive, PromptIcon::Warning);
    return;
  }
  runTestsFlow(firstSelected);
}

void MainWindowModel::onSmartIcon(bool physicalHasFocus, int firstSelected) {
  if (!physicalHasFocus || !validRow(firstSelected)) {
    showMessage(kMsgHighlightDrive, PromptIcon::Warning);
    return;
  }
  smartIconFlow(firstSelected);
}

bool MainWindowModel::onEnterOrSpace(bool physicalHasFocus, int firstSelected) {
  if (!physicalHasFocus || !validRow(firstSelected)) return false;
  runTestsFlow(firstSelected);
  return true;
}

void MainWindowModel::onLeftClick(int row, int column) {
  if (!validRow(row)) return;
  m_context.driveTable().selectedDrive = row;
  if (column != kSmartColumn) return;
  const DriveRecord& record = m_context.driveTable().records[row];
  if (record.smartAvailable == 1) {
    onShowSmartDriveInfo(row);
  } else if (record.driveClass == kDriveClassRaid) {
    onProperties(row);
  }
}

void MainWindowModel::onDoubleClick(int row) { onRunDiagnostics(row); }

std::vector<MenuEntry> MainWindowModel::contextMenu(int row) {
  if (!validRow(row)) return {};
  m_context.driveTable().selectedDrive = row;
  const DriveRecord& record = m_context.driveTable().records[row];
  if (record.isMakerSsd == 1) {
    showMessage(kStrMakerSsdNotSupported, PromptIcon::Information);
    return {};
  }
  std::vector<MenuEntry> menu{{MenuCommand::RunDiagnostics, "Run Diagnostics"}};
  if (record.smartAvailable == 1) {
    menu.push_back({MenuCommand::ShowSmartDriveInfo, "Show SMART Drive Info"});
  }
  // Only once an extended test of this program run has scanned the drive.
  if (m_context.scanMapOf(record) != nullptr) menu.push_back({MenuCommand::ScanMap, "Scan Map"});
  if (driveLogsReachable(record)) menu.push_back({MenuCommand::DriveLogs, "Drive Logs"});
  // Many drives at once, each in a row: it is opened from any drive's menu, as the
  // window has no other place for a command that is about no single drive.
  menu.push_back({MenuCommand::Bench, "Bench (Several Drives)..."});
  menu.push_back({MenuCommand::Separator, ""});
  menu.push_back({MenuCommand::Properties, "Properties"});
  // Every drive has a past to look up, even one never kept: the window then says so.
  menu.push_back({MenuCommand::History, "History"});
  return menu;
}

void MainWindowModel::runMenuCommand(MenuCommand command, int row) {
  switch (command) {
    case MenuCommand::RunDiagnostics: onRunDiagnostics(row); break;
    case MenuCommand::ShowSmartDriveInfo: onShowSmartDriveInfo(row); break;
    case MenuCommand::Properties: onProperties(row); break;
    case MenuCommand::ScanMap:
      if (validRow(row)) {
        m_context.driveTable().selectedDrive = row;
        m_opener.openScanMap(row);
      }
      break;
    case MenuCommand::DriveLogs:
      if (validRow(row)) {
        m_context.driveTable().selectedDrive = row;
        m_opener.openDriveLogs(row);
      }
      break;
    case MenuCommand::History:
      if (validRow(row)) {
        m_context.driveTable().selectedDrive = row;
        m_opener.openHistory(row);
      }
      break;
    case MenuCommand::Bench: onBench(); break;
    case MenuCommand::Separator: break;
  }
}

void MainWindowModel::onRunDiagnostics(int row) {
  if (!validRow(row)) return;
  runTestsFlow(row);
}

void MainWindowModel::runTestsFlow(int row) {
  DriveTable& table = m_context.driveTable();
  table.selectedDrive = row;
  if (table.records[row].isMakerSsd == 1) {
    showMessage(kStrMakerSsdNotSupported, PromptIcon::Information);
    return;
  }
  if (m_opener.openTestOptions(row)) rescanDrives();
}

void MainWindowModel::smartIconFlow(int row) {
  m_context.driveTable().selectedDrive = row;
  if (m_context.driveTable().records[row].smartAvailable == 0) {
    showMessage(kMsgSmartNotAvailable, PromptIcon::Warning);
    return;
  }
  onShowSmartDriveInfo(row);
}

void MainWindowModel::onShowSmartDriveInfo(int row) {
  if (!validRow(row)) return;
  DriveTable& table = m_context.driveTable();
  table.selectedDrive = row;
  const DriveRecord& record = table.records[row];
  if (record.isMakerSsd == 1) {
    showMessage(kStrMakerSsdNotSupported, PromptIcon::Information);
    return;
  }
  // Healthy (0) and Rebuilding (6) need no warning before the SMART window.
  if (record.raidLevel != 0 && record.raidState != 0 && record.raidState != 6) {
    showMessage(kStrRaidDriveProblem, PromptIcon::Warning);
  }
  m_opener.openSmartWindow(row);
  if (m_hooks.bringToFront) m_hooks.bringToFront();
}

void MainWindowModel::onProperties(int row) {
  if (!validRow(row)) return;
  m_context.driveTable().selectedDrive = row;
  m_opener.openProperties(row);
}

void MainWindowModel::onHelp() { m_opener.openHelp("help.htm"); }

void MainWindowModel::onAbout() { m_opener.openAbout(); }

void MainWindowModel::onBench() {
  if (m_opener.openBench()) rescanDrives();
}

void MainWindowModel::rescanDrives() {
  if (m_rescanInProgress) return;
  m_rescanInProgress = true;
  if (m_hooks.runDetection) m_hooks.runDetection();
  fillDriveLists();
  m_rescanInProgress = false;
}

void MainWindowModel::onDeviceChange(uint32_t event) {
  if (event == kDeviceArrival || event == kDeviceRemoveComplete) rescanDrives();
}

}  // namespace palvoro
