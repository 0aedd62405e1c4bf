#pragma once
// SMART attribute data and thresholds (T13 ACS, SMART READ DATA D0h and READ THRESHOLDS
// D1h): the two 512-byte page layouts, the one rule by which an attribute has failed,
// the reads over the SMART driver, miniport and SCSI carrier paths, and the verdict the
// SMART window writes back to the drive table and the main list. Nothing here shows a
// window: the window asks these functions and displays what they return.

#include <cstddef>
#include <cstdint>
#include <span>

#include "device/smart_transport.h"
#include "discovery/drive_record.h"
#include "discovery/smart_verdict.h"
#include "platform/platform.h"

namespace palvoro {

inline constexpr size_t kSmartPageBytes = 512;
inline constexpr int kSmartEntryCount = 30;            // entries in either page
inline constexpr size_t kSmartEntryBytes = 12;
inline constexpr size_t kSmartFirstEntryOffset = 2;    // behind the 2-byte revision

// Where a page starts in a kSmartBufferSize buffer: the SMART driver and miniport paths
// deliver it behind the 16-byte SENDCMDOUTPARAMS header, the SCSI carriers at byte 0.
inline constexpr uint32_t kDriverPageOffset = 16;
inline constexpr uint32_t kCarrierPageOffset = 0;

// Flags bit 0: the attribute is pre-failure (warranty); no other flag bit is used.
inline constexpr uint16_t kSmartFlagPreFailure = 0x0001;

using SmartPage = std::span<const uint8_t, kSmartPageBytes>;

// One attribute entry of the data page (entry i at byte 2 + 12i).
struct SmartAttribute {
  uint8_t id = 0;        // 0 marks an empty entry
  uint16_t flags = 0;    // little-endian in the page
  uint8_t current = 0;   // normalised value
  uint8_t worst = 0;
  uint64_t raw = 0;      // six bytes, least significant first
  bool preFailure() const { return (flags & kSmartFlagPreFailure) != 0; }
};

// One threshold entry (entry i at byte 2 + 12i).
struct SmartThreshold {
  uint8_t id = 0;
  uint8_t threshold = 0;
};

// Entry `index` of a data page; an all-zero entry for an index outside 0..29.
SmartAttribute smartAttribute(SmartPage page, int index);
// Entry `index` of a threshold page; all zero outside 0..29.
SmartThreshold smartThreshold(SmartPage page, int index);
// The page that starts `offset` bytes into a kSmartBufferSize buffer.
SmartPage smartPageAt(const uint8_t (&buffer)[kSmartBufferSize], uint32_t offset);

// The failure rule: a pre-failure attribute has failed when its threshold is at or above
// its current value or at or above its worst value, so one whose worst value ever
// reached the threshold fails even after the current value recovered. Advisory
// attributes never fail; the ID is not looked at.
[[nodiscard]] bool attributeFailed(const SmartAttribute& attribute, const SmartThreshold& threshold);

// Entries are paired by position (data entry i with threshold entry i; the threshold's
// ID is not compared). Returns the index of the first failed entry, or -1.
[[nodiscard]] int firstFailedAttribute(SmartPage data, SmartPage thresholds);

// Results of checkSmartAttributes, each with one meaning.
enum SmartCheckResult : int {
  kSmartCheckPassed = 0,      // no pre-failure attribute has reached its threshold
  kSmartCheckFailed = 2,      // a pre-failure attribute has reached its threshold
  kSmartCheckUnreadable = 3,  // the data page or the threshold page could not be read
};

// Reads both pages of `unit` and judges them. A carrier below 0 takes the SMART driver
// (or, with miniportMode, miniport) path with `driveNumber`; 0 or more the SCSI carrier
// of that number, with `raidMemberSelect` as device byte. The threshold page is asked
// for only after the data page arrived.
[[nodiscard]] SmartCheckResult checkSmartAttributes(Platform& platform, int driveNumber, Handle handle, int carrier,
                                                    uint8_t unit, bool miniportMode, uint8_t raidMemberSelect);
// checkSmartAttributes as detection asks it: Passed, Failed, or NotJudged for pages that
// could not be read.
AttributeVerdict judgeSmartAttributes(Platform& platform, int driveNumber, Handle handle, int carrier, uint8_t unit,
                                      bool miniportMode, uint8_t raidMemberSelect);

// The pages the SMART window lists: the drive's first unit and, for a dual-unit drive,
// its second unit.
struct SmartPages {
  uint8_t data[kSmartBufferSize] = {};
  uint8_t thresholds[kSmartBufferSize] = {};
  uint8_t secondData[kSmartBufferSize] = {};
  uint8_t secondThresholds[kSmartBufferSize] = {};
  uint32_t pageOffset = kDriverPageOffset;  // where each page starts in its buffer
  bool secondUnitRead = false;              // both second-unit pages arrived

  SmartPage dataPage() const { return smartPageAt(data, pageOffset); }
  SmartPage thresholdPage() const { return smartPageAt(thresholds, pageOffset); }
  SmartPage secondDataPage() const { return smartPageAt(secondData, pageOffset); }
  SmartPage secondThresholdPage() const { return smartPageAt(secondThresholds, pageOffset); }
};

// Reads the pages for the SMART window. USB and FireWire drives (busType 7 or 4) go
// through their carrier ataTunnel with `raidMemberSelect`; every other drive through
// the SMART driver or miniport path with physicalDriveNumber and primaryUnit. A drive
// whose primaryUnit is 2 also has its secondaryUnit read; when both of those pages
// arrive, originMark becomes 1 and `pages.secondUnitRead` is set. True when the first
// unit's pages were read.
[[nodiscard]] bool readSmartPages(Platform& platform, Handle handle, DriveRecord& record, bool miniportMode,
                                  uint8_t raidMemberSelect, SmartPages& pages);

// SMART READ DATA for following a running self-test, with the page at byte 16 of
// `buffer` on every path. ATA drives (driveClass 1) use the SMART driver path; USB
// drives (busType 7) their carrier; for any other drive nothing is sent. True on success.
[[nodiscard]] bool readSmartDataForTest(Platform& platform, Handle handle, const DriveRecord& record, bool miniportMode,
                                        uint8_t raidMemberSelect, uint8_t (&buffer)[kSmartBufferSize], int driveNumber,
                                        uint8_t unit);

// SMART EXECUTE OFF-LINE IMMEDIATE with `subcommand` (a self-test, or 7Fh to abort one),
// by the same choice of path as readSmartDataForTest. True on success.
[[nodiscard]] bool startSelfTest(Platform& platform, Handle handle, const DriveRecord& record, bool miniportMode,
                                 uint8_t raidMemberSelect, uint8_t unit, uint8_t subcommand);

// A colour as the main list draws text.
struct RgbColour {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  friend bool operator==(const RgbColour&, const RgbColour&) = default;
};

inline constexpr RgbColour kPassBlue{0, 0, 255};
inline constexpr RgbColour kFailRed{255, 0, 0};

// What happens to the selected row of the main window's drive list.
enum class SmartRowChange { Pass, Fail, Unchanged };

// Row images of the drive list.
inline constexpr int kRowImagePass = 5;
inline constexpr int kRowImageFail = 6;

// The SMART window's verdict: the values the drive table takes, and the main list row.
struct SmartVerdict {
  bool anyFailed = false;          // a listed entry of either unit failed
  int32_t smartHealthy = 0;        // new smartHealthy
  int32_t raidMemberBHealthy = 0;  // new raidMemberBHealthy
  bool passing = false;            // the drive (or both members of the enclosure) passes
  SmartRowChange row = SmartRowChange::Unchanged;
  const char* smartColumnText = nullptr;  // " PASS" or " FAIL"; null when unchanged
  int image = -1;                         // kRowImagePass or kRowImageFail; -1 when unchanged
  RgbColour textColour;                   // blue for PASS, red for FAIL
};

// Judges the listed entries (ID not 0) of the pages the window read, the second unit's
// too when it was read, together with the drive's own SMART RETURN STATUS kept at
// detection (smartHealthyOf): a drive, or member, that said a threshold is exceeded fails
// however its attributes stand. An enclosure (driveClass 6) gives the verdict to the member
// `raidMemberSelect` names (A0h member A, B0h member B) and passes only when both members
// do; any other drive gives it to smartHealthy. A failing enclosure leaves the list row
// alone unless its raidState is 0 or 6.
SmartVerdict smartDialogVerdict(const DriveRecord& record, const SmartPages& pages, uint8_t raidMemberSelect);

// Writes the verdict's drive-table values into `record`.
void applySmartVerdict(DriveRecord& record, const SmartVerdict& verdict);

}  // namespace palvoro
