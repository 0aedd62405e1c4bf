#pragma once
// What the SMART Drive Information window shows and does, without widgets: its list
// columns, the attribute rows (cell texts, row image, the red Value cell), the drive label,
// the identity line, the RAID member box, and the fill that reads the drive, judges its
// attributes and writes the verdict back to the drive table. The window displays this.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "service/session.h"
#include "smart/nvme_health.h"
#include "smart/smart_pages.h"
#include "service/list_cell.h"

namespace palvoro {

// Messages of a fill that did not get through, shown with the exclamation icon.
inline constexpr const char* kMsgSmartDriverNotOpened = "Could not open SMART driver!";
inline constexpr const char* kMsgSmartInfoNotRead = "Could not read SMART disk information!";

// The help page the window's Help button opens, and the viewer's title.
inline constexpr const char* kSmartHelpFile = "smart.htm";
inline constexpr const char* kSmartHelpTitle = "SMART Attribute Information";

// The member box's items; item 0 is member A (device byte A0h), item 1 member B (B0h).
inline constexpr const char* kRaidMemberNames[2] = {"RAID Disk A", "RAID Disk B"};

// Fixed column widths in pixels; the last column takes the rest of the list's width.
inline constexpr int kSmartColumnWidths[5] = {200, 43, 43, 60, 43};

// One column of the attribute list; every column is centred.
struct SmartListColumn {
  std::string caption;
  int width = 0;        // pixels
  std::string tooltip;  // attached to every cell of the column; empty for none
};

// The six columns for a list whose client area is `clientWidth` pixels wide ("Warranty"
// takes what the others leave, never less than 0).
std::vector<SmartListColumn> smartListColumns(int clientWidth);
// The two columns of an NVMe drive's health list: "Health Information" as wide as the
// attribute names, "Value" the rest.
std::vector<SmartListColumn> nvmeHealthColumns(int clientWidth);

// Whether the window shows the drive's NVMe health log rather than SMART attributes.
bool smartWindowShowsNvmeHealth(const DriveRecord& record);
// The text above the list, for attributes or for the NVMe health log.
const char* smartIntroText(const DriveRecord& record);

// Which unit a row belongs to.
enum class SmartUnit { First, Second };

// One attribute row of the list.
struct SmartAttributeRow {
  SmartUnit unit = SmartUnit::First;
  uint8_t id = 0;
  uint8_t current = 0;
  uint8_t worst = 0;
  uint8_t threshold = 0;
  uint64_t raw = 0;       // the entry's six raw bytes, least significant first
  bool warranty = false;  // the pre-failure flag, the list's "Warranty" column
  bool failed = false;  // reached its threshold by the failure rule
  int image = kRowImagePass;  // 5 normal, 6 failed
  // Name, ID ("%2X"), Value, Threshold, Worst, Warranty (flags bit 0).
  std::vector<std::string> cells;
  // The Value cell's text colour: red for a failed attribute, else the list's default.
  std::optional<CellColour> valueColour;
  int valueColumn = 2;  // the column the colour is for: 1 in the NVMe health list
};

// The NVMe health list: one row per field of the log (name, value), a row for each
// critical-warning bit set right after the warning byte; the rows that make the drive fail
// carry the fail image and a red value.
std::vector<SmartAttributeRow> nvmeHealthListRows(const NvmeHealth& health);

// The ID as the ID column shows it: two-character hexadecimal, blank-padded (" 9", "C2").
std::string smartIdText(uint8_t id);

// The rows of the pages read, in list order: the first unit's listed entries (ID not 0)
// in page order, named from the table `originMark` selects, then, when a second unit was
// read, its entries in page order, named from the cache-flash table.
std::vector<SmartAttributeRow> smartAttributeRows(const SmartPages& pages, int originMark);

// "Physical Drive %d:" with physicalDriveNumber + 1.
std::string smartDriveLabel(const DriveRecord& record);
// "Model: %s    Serial: %s".
std::string driveIdentityLine(const DriveRecord& record);
// Everything of `text` up to and including the first `marker` removed; `text` whole when
// the marker does not occur.
std::string cutThrough(const std::string& text, const std::string& marker);
// A RAID member's line "Model/Sn: %s / %s", the model cut through its first "VHT " and
// the serial through its first "VH-".
std::string memberIdentityLine(const std::string& model, const std::string& serial);
// The member box is there only for the RAID enclosure (driveClass 6).
bool smartMemberBoxShown(const DriveRecord& record);
// Device byte of the member box's item: A0h for item 0, B0h for item 1.
uint8_t raidMemberDevice(int memberIndex);

// The main list's SMART column after a verdict: " PASS", image 5, blue; " FAIL", image 6,
// red; nothing when the row stays as it was.
std::optional<ListCell> smartVerdictCell(const SmartVerdict& verdict);

// How a fill ended.
enum class SmartFillOutcome {
  Filled,           // the list shows the drive's attributes and the verdict was written
  DriverNotOpened,  // the SMART handle did not open: nothing changed
  PagesNotRead,     // the pages could not be read: list and verdict as they were
};

// The window's state over one application context, for its selected drive.
class SmartWindowModel {
 public:
  // The window of the drive at row `driveIndex` of the table.
  SmartWindowModel(Session& context, int driveIndex);

  DriveRecord& record() { return m_context.driveTable().records[m_driveIndex]; }
  std::string driveLabel() { return smartDriveLabel(record()); }
  std::vector<SmartListColumn> columns(int clientWidth) {
    return smartWindowShowsNvmeHealth(record()) ? nvmeHealthColumns(clientWidth) : smartListColumns(clientWidth);
  }
  const char* introText() { return smartIntroText(record()); }
  bool memberBoxShown() { return smartMemberBoxShown(record()); }

  // Reads the drive for member box item `memberIndex` (0 for any drive without the box):
  // sets raidMemberSelect, opens the SMART handle, sets the identity line, reads the
  // pages (an NVMe drive: its health log), replaces the rows, and writes the verdict into
  // the drive table. A failure is
  // told through the context's prompter (the platform's product title, exclamation icon).
  SmartFillOutcome fill(int memberIndex);

  const std::string& identityLine() const { return m_identityLine; }
  // The NVMe health log of the last fill that read it; none for other drives.
  const std::optional<NvmeHealth>& nvmeHealth() const { return m_nvmeHealth; }
  const std::vector<SmartAttributeRow>& rows() const { return m_rows; }
  // The verdict of the last fill that read the pages; none before one did.
  const std::optional<SmartVerdict>& verdict() const { return m_verdict; }
  // What the main list's SMART column of the drive shows after every fill so far: the
  // cell of the last verdict that changed it; none when no fill changed it.
  const std::optional<ListCell>& mainListCell() const { return m_mainListCell; }
  // ID and current value of the last failed row listed (second unit's rows are listed
  // before the first unit's); none when no row failed.
  const std::optional<std::pair<uint8_t, uint8_t>>& lastFailed() const { return m_lastFailed; }

 private:
  void tell(const char* message);
  SmartFillOutcome fillNvme(DriveRecord& drive);

  Session& m_context;
  int m_driveIndex;
  std::string m_identityLine;
  std::vector<SmartAttributeRow> m_rows;
  std::optional<SmartVerdict> m_verdict;
  std::optional<NvmeHealth> m_nvmeHealth;
  std::optional<ListCell> m_mainListCell;
  std::optional<std::pair<uint8_t, uint8_t>> m_lastFailed;
};

}  // namespace palvoro
