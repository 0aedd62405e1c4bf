#pragma once
// The program's numbered user-visible texts. Code refers to a text by its number; where a
// number is computed (108 + test kind, 113 + test state, 104 + option row) the texts sit
// at consecutive numbers.

#include <vector>

namespace palvoro {

enum StringId : int {
  // Option descriptions, 104 + option row.
  kStrDescribeQuickTest = 104,
  kStrDescribeExtendedTest = 105,
  kStrDescribeErase = 106,
  kStrDescribeViewResult = 107,
  // Running texts, 108 + test kind.
  kStrRunningQuickSmartTest = 108,
  kStrRunningExtendedTest = 109,
  kStrWritingZeros = 110,
  kStrTestCompleted = 111,
  kStrTestStoppedWithErrors = 112,
  // Result words, 113 + test state.
  kStrResultPass = 113,
  kStrResultFail = 114,
  kStrResultAbort = 115,
  kStrResultComplete = 116,
  kStrEstimatedTimeRemaining = 118,
  kStrBadSectorsRepairable = 119,
  kStrRepairDataLossWarning = 120,
  kStrRunningQuickErase = 121,
  kStrRunningFullErase = 122,
  kStrRaidStatusUnavailable = 124,
  // Tooltips of the SMART window's columns.
  kStrTipAttributeValue = 218,
  kStrTipThreshold = 219,
  kStrTipWorst = 220,
  kStrTipWarranty = 221,
  kStrNoAdministratorDetailed = 222,
  kStrCableTestFailed = 224,
  kStrRunningCableTest = 225,
  kStrCloseOtherPrograms = 226,
  kStrRunningQuickMediaScan = 227,
  kStrTooManyBadSectors = 228,
  kStrUnableToRepair = 229,
  kStrDrive = 232,
  kStrProperties = 233,
  kStrRaidDriveProblem = 236,
  kStrRunningRandomRead = 237,
  kStrMakerSsdNotSupported = 239,
  kStrRescanningDrives = 240,
};

// The text numbered `id`; "" (never null) for a number the table does not hold.
const char* loadString(int id);

// Every number the table holds, in ascending order.
std::vector<int> stringIds();

}  // namespace palvoro
