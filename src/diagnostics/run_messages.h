#pragma once
// The fixed texts of a test run: one message per TestError code, the kind words of the
// title, and the prefixes a failing step puts in front of its message.

#include <cstdint>
#include <string>

namespace palvoro {

// The message of TestError `code`: "%s" becomes `prefix` (one blank when it is empty) and
// "%d" the drive number the user sees (`driveIndexPlusOne`). Codes 12 and 13 are the bad-
// sector texts and take no prefix; codes without a message of their own (0, 2, 5, 11, 16,
// above 27) give "%sUnknown error!".
std::string formatTestError(int code, const std::string& prefix, int driveIndexPlusOne);

// "QUICK TEST", "EXTENDED TEST", "ERASE", "VIEW TEST RESULT" by TestKind; "" for any
// other value, which only a corrupted selection produces.
const char* testKindWord(int32_t testKind);

// "Quick Test::", "Extended Test::", "Erase::" by TestKind; "" for the others.
const char* testKindPrefix(int32_t testKind);

// Texts of the test run's own boxes and lines.
inline constexpr const char* kTitleFormat = "PALVORO - %s";
inline constexpr const char* kDriveLineFormat = "Physical Drive %d:";
inline constexpr const char* kInvalidTestSelection = "Invalid test selection!";
inline constexpr const char* kStopRepairing = "Stop repairing bad sectors!";
inline constexpr const char* kRepairCaption = "Repair";
// The captions of the boxes whose positive answer destroys data. Only the user reads
// them: what a box is for travels with it as its PromptPurpose.
inline constexpr const char* kEraseBoxCaption = "ERASE";
inline constexpr const char* kRepairBoxCaption = "REPAIR";
inline constexpr const char* kCloseLabel = "Close";
inline constexpr const char* kCableTestPrefix = "Cable Test::";

}  // namespace palvoro
