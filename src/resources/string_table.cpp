#include "resources/string_table.h"

#include <algorithm>
#include <iterator>

namespace palvoro {
namespace {

struct StringEntry {
  int id;
  const char* text;
};

// Ascending by number; the texts are shown as they stand, printf fields included.
constexpr StringEntry kStrings[] = {
    {kStrDescribeQuickTest,
     "QUICK TEST performs SMART drive quick self-test to gather and verify the Steadwell "
     "information contained on the drive."},
    {kStrDescribeExtendedTest,
     "EXTENDED TEST performs a Full Media Scan to detect bad sectors. This test may take hours "
     "for a large drive."},
    {kStrDescribeErase,
     "ERASE erases the drive with options of Full Erase and Quick Erase. Both the file system "
     "and all data will be lost."},
    {kStrDescribeViewResult, "VIEW TEST RESULT displays the latest test results."},
    {kStrRunningQuickSmartTest, "Running Quick SMART Test..."},
    {kStrRunningExtendedTest, "Running Extended Test..."},
    {kStrWritingZeros, "Writing Zeros..."},
    {kStrTestCompleted, "Test completed successfully."},
    {kStrTestStoppedWithErrors, "Test stopped with error(s)."},
    {kStrResultPass, "PASS"},
    {kStrResultFail, "FAIL"},
    {kStrResultAbort, "ABORT"},
    {kStrResultComplete, "COMPLETE"},
    {kStrEstimatedTimeRemaining, "Estimated Time Remaining: %02d:%02d:%02d"},
    {kStrBadSectorsRepairable, "Test found bad sectors that may be repairable."},
    // Ends in a line break and blanks, which leave room under the sentence in the box.
    {kStrRepairDataLossWarning,
     "Data stored in the bad sectors will be lost. It's recommended that you backup the drive "
     "before proceeding with the Repair function.\n     "},
    {kStrRunningQuickErase, "Running Quick Erase..."},
    {kStrRunningFullErase, "Running Full Erase..."},
    {kStrRaidStatusUnavailable,
     "Cannot get RAID status from Nodrik device. The driver may not be installed properly. "
     "Check for any warning sign on the Nodrik device in Device Manager and possibly re-install "
     "the Nodrik device driver provided on the Nodrik CD."},
    {kStrTipAttributeValue,
     "Current attribute value ranges from 1 to 253.\nAttribute value falling below Threshold "
     "indicates\na negative health status."},
    {kStrTipThreshold, "Attribute Threshold value used to indicate a faulty condition."},
    {kStrTipWorst, "Worst attribute value ever occurred"},
    {kStrTipWarranty,
     "Warranty value:\n1 : this Attribute is under warranty\n     should it fall below "
     "Threshold value\n0 : this Attribute is not under warranty"},
    {kStrNoAdministratorDetailed,
     "User does not have administrator privilege to access all drive resource!!!\nSome drives "
     "may be reached only in part, and the EXTENDED TEST and ERASE cannot be run. Log on with "
     "an administrator account and start the program again to use every function."},
    {kStrCableTestFailed, "Cable test failed! Please check the drive's cables/connections."},
    {kStrRunningCableTest, "Running Cable Test..."},
    {kStrCloseOtherPrograms,
     "Please close any other open programs and any open files in the drive%s to prevent data "
     "loss."},
    {kStrRunningQuickMediaScan, "Running Quick Media Scan Test..."},
    {kStrTooManyBadSectors, "Too many bad sectors detected."},
    {kStrUnableToRepair, "Unable to repair bad sectors."},
    {kStrDrive, "Drive"},
    {kStrProperties, "Properties"},
    {kStrRaidDriveProblem,
     "Your drive has a problem. Run Nodrik RAID Manager for more information."},
    {kStrRunningRandomRead, "Running Random Read Test...."},
    {kStrMakerSsdNotSupported,
     "This software is not compatible with Varnholt SSD. Please use Varnholt SSD Toolbox to "
     "test and maintain this drive.\nhttps://support.example.com/varnholt/downloads/ssd-toolbox"},
    {kStrRescanningDrives, "Re-scanning drives..."},
};

constexpr bool ascendingIds() {
  for (size_t i = 1; i < std::size(kStrings); ++i) {
    if (kStrings[i - 1].id >= kStrings[i].id) return false;
  }
  return true;
}
static_assert(ascendingIds(), "the lookup searches the table by number");

}  // namespace

const char* loadString(int id) {
  const auto* found =
      std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                       [](const StringEntry& entry, int key) { return entry.id < key; });
  if (found == std::end(kStrings) || found->id != id) return "";
  return found->text;
}

std::vector<int> stringIds() {
  std::vector<int> ids;
  ids.reserve(std::size(kStrings));
  for (const StringEntry& entry : kStrings) ids.push_back(entry.id);
  return ids;
}

}  // namespace palvoro
