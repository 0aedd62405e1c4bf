#pragma once
// The dialogs the main window opens for the drive the user acted on. The program opens
// real windows; tests record which dialog was asked for and for which table index.

#include <string>

namespace palvoro {

class DialogOpener {
 public:
  virtual ~DialogOpener() = default;
  // The test option dialog for table index `drive`, modal. Returns its testRan flag: true
  // when at least one test was started while it was open (the main window then re-scans).
  virtual bool openTestOptions(int drive) = 0;
  // The SMART Drive Information window for table index `drive`, modal.
  virtual void openSmartWindow(int drive) = 0;
  // The property sheet ("Drive N Properties") for table index `drive`, modal.
  virtual void openProperties(int drive) = 0;
  // The help viewer showing `file` from the program's folder, titled "Help".
  virtual void openHelp(const std::string& file) = 0;
  // The About box, modal.
  virtual void openAbout() = 0;
  // The scan map of table index `drive`'s last extended test, modal. Only offered when
  // the session keeps one.
  virtual void openScanMap(int /*drive*/) {}
  // The drive's own logs for table index `drive`, read when the window opens, modal.
  virtual void openDriveLogs(int /*drive*/) {}
  // What the drives' history keeps of table index `drive`: its runs and readings over
  // time, modal.
  virtual void openHistory(int /*drive*/) {}
  // The Bench window over every drive of the table, modal. Returns whether a run took
  // place while it was open (the main window then re-scans, as after the option dialog).
  virtual bool openBench() { return false; }
};

}  // namespace palvoro
