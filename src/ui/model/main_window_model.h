#pragma once
// What the main window shows and decides, without widgets: the columns and rows of the
// physical-drive and logical-drive lists (text, icon, colour and tooltip of every cell),
// and the command rules (which checks and messages come before which dialog, for which
// table entry). The window displays these rows and forwards its input here.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "service/list_cell.h"
#include "service/session.h"
#include "ui/model/dialog_opener.h"

namespace palvoro {

// Image of a fixed volume in the logical-drive list's own image list.
inline constexpr int kVolumeImageFixed = 0;

// Device-change events that re-scan the drives.
inline constexpr uint32_t kDeviceArrival = 0x8000;
inline constexpr uint32_t kDeviceRemoveComplete = 0x8004;

enum class ColumnAlignment { Left, Centre };

struct ListColumn {
  std::string caption;
  int width = 0;  // pixels
  ColumnAlignment alignment = ColumnAlignment::Left;
  std::string tooltip;
};

// The physical-drive list's columns for a list client width of `clientWidth` pixels:
// with a = W / 40, widths 4a, 12a, 12a, 6a and W - 34a.
std::vector<ListColumn> physicalDriveColumns(int clientWidth);
// The logical-drive list's columns: with e = W / 4, widths e, e, e and W - 3e.
std::vector<ListColumn> logicalDriveColumns(int clientWidth);

// The bus word of a drive by its driveClass ("SATA" for an ATA drive of bus type 83).
std::string busWord(const DriveRecord& record);
// The word for a RAID enclosure state 0..8; "Unknown" for any other value.
const char* raidStateWord(int32_t state);
// Column 1: "model (bus)" or, for a RAID enclosure of level 1 or 2, "model (RAID n)".
std::string modelCellText(const DriveRecord& record);
// Column 3: the identified capacity in decimal gigabytes, no decimals.
std::string capacityCellText(const DriveRecord& record);
// Column 4: the SMART Status cell (text, icon, colour).
ListCell smartStatusCell(const DriveRecord& record);
// The row of a table entry shown as number `displayNumber` (1-based).
ListRow physicalDriveRow(const DriveRecord& record, int displayNumber);

// Fills the physical-drive rows from the table, one per record: an empty entry ends the
// table (it and the records after it are dropped), and a RAID enclosure's composed model
// text is copied into its entry.
std::vector<ListRow> fillPhysicalDriveRows(DriveTable& table);
// The rows of the fixed volumes, letters A to Z in order, each named as the platform names
// it ("C:\" and "NTFS"; on Linux the mount point and the kernel's file system).
std::vector<ListRow> logicalDriveRows(Platform& platform);

// The texts of the main window and its About box that carry the product's title
// (Platform::productTitle): "PALVORO for Windows" on the Windows-shaped machine.
struct TitleTexts {
  std::string windowTitle;   // "Varnholt Steadwell Diagnostics - " and the title
  std::string aboutItem;     // "&About " and the title, "..."
  std::string aboutTip;      // "Right-click for About " and the title
  std::string aboutTitle;    // "About " and the title
  std::string versionLabel;  // the title and " version:"
};
TitleTexts titleTexts(const std::string& productTitle);

// The commands of the physical-drive list's context menu.
enum class MenuCommand { RunDiagnostics, ShowSmartDriveInfo, ScanMap, DriveLogs, Bench, Separator, Properties, History };
struct MenuEntry {
  MenuCommand command;
  std::string text;  // empty for the separator
};

// The command rules of the main window over one application context.
class MainWindowModel {
 public:
  // `runDetection` re-runs detection over the context's drive table (the re-scan dialog
  // in the program); `listsFilled` is told after every fill; `bringToFront` after the
  // SMART window closes.
  struct Hooks {
    std::function<void()> runDetection;
    std::function<void()> listsFilled;
    std::function<void()> bringToFront;
  };

  MainWindowModel(Session& context, DialogOpener& opener, Hooks hooks);

  // Rebuilds both lists' rows (FillDriveLists).
  void fillDriveLists();
  const std::vector<ListRow>& physicalRows() const { return m_physicalRows; }
  const std::vector<ListRow>& logicalRows() const { return m_logicalRows; }

  // The run-tests picture. `physicalHasFocus`: the keyboard focus is on the physical
  // list; `firstSelected`: its first selected row, -1 when none.
  void onRunTestsIcon(bool physicalHasFocus, int firstSelected);
  // The SMART picture, with the same rule for the drive.
  void onSmartIcon(bool physicalHasFocus, int firstSelected);
  // Enter or Space. Returns true when the key started the run-tests flow and is consumed;
  // false when it gets the dialog's ordinary handling (Enter presses Close).
  bool onEnterOrSpace(bool physicalHasFocus, int firstSelected);
  // Mouse commands on a row (the row under the mouse; -1 when none).
  void onLeftClick(int row, int column);
  void onDoubleClick(int row);
  // The context menu for a right click on `row`; empty when no menu opens (no row, or
  // the maker's SSD, which gets its message instead).
  std::vector<MenuEntry> contextMenu(int row);
  void runMenuCommand(MenuCommand command, int row);

  void onRunDiagnostics(int row);
  void onShowSmartDriveInfo(int row);
  void onProperties(int row);
  void onHelp();
  // The Bench window; the drives are re-scanned after it when a run took place.
  void onBench();
  void onAbout();

  // F5 and the re-scan after a test. A re-scan requested while one runs is absorbed.
  void rescanDrives();
  // A device-change notification; arrival and remove-complete re-scan.
  void onDeviceChange(uint32_t event);
  bool rescanInProgress() const { return m_rescanInProgress; }

 private:
  bool validRow(int row) const;
  void showMessage(int stringId, PromptIcon icon);
  void showMessage(const std::string& text, PromptIcon icon);
  void runTestsFlow(int row);
  void smartIconFlow(int row);

  Session& m_context;
  DialogOpener& m_opener;
  Hooks m_hooks;
  std::vector<ListRow> m_physicalRows;
  std::vector<ListRow> m_logicalRows;
  bool m_rescanInProgress = false;
};

// Texts of the main window's messages (other than numbered strings).
inline constexpr const char* kMsgHighlightDrive =
    "Please highlight a drive from the physical drive list.";
inline constexpr const char* kMsgSmartNotAvailable =
    "SMART drive information is NOT available for this drive or is inaccessible by this "
    "program.";

}  // namespace palvoro
