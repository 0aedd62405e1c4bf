#pragma once
// A cell of a list as the windows and the console show it: text, image, colour, tooltip.
// The SMART rows and the drive list are computed below the windows, so these are plain data.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace palvoro {

// Images of DriveImageStrip (16 images of 16 x 16) that the physical-drive list uses.
enum DriveImage : int {
  kImageGenericDrive = 1,  // column 0, bus other than SCSI, FireWire, USB
  kImagePass = 5,          // green check mark
  kImageFail = 6,          // red cross
  kImageQuestion = 8,      // grey question mark: Not Supported, Not Available
  kImageFireWire = 9,      // column 0, busType 4
  kImageUsb = 10,          // column 0, busType 7
  kImageScsi = 11,         // column 0, busType 1
  kImageWarning = 12,      // yellow warning triangle: a RAID state word
};

// A text colour; no value means the list's default.
struct CellColour {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  bool operator==(const CellColour&) const = default;
};
inline constexpr CellColour kColourBlue{0, 0, 255};
inline constexpr CellColour kColourRed{255, 0, 0};

struct ListCell {
  std::string text;
  int image = -1;                   // index into the list's image list; -1 none
  std::optional<CellColour> colour; // text colour; none: the list default
  std::string tooltip;              // the column's tooltip
};
using ListRow = std::vector<ListCell>;

}  // namespace palvoro
