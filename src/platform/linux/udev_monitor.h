#pragma once
// Whole disks arriving and leaving, as udev announces them: the Linux counterpart of the
// device-arrival and removal notifications the main window re-scans on. Plain C++ with a
// descriptor to poll, so the program decides on which thread and loop it is watched.

#include <string_view>

struct udev;
struct udev_monitor;

namespace palvoro::real {

// Whether a block-subsystem event with this action and device type is a whole disk
// arriving or leaving. Partitions follow their disk and would only repeat the re-scan;
// "change" is sent whenever a descriptor opened for writing is closed (udev re-reads the
// disk), so the program's own test and erase runs would otherwise re-scan themselves.
// (Inline, so it is checked without a udev to talk to.)
[[nodiscard]] inline bool isDiskArrivalOrRemoval(std::string_view action, std::string_view devtype) {
  return devtype == "disk" && (action == "add" || action == "remove");
}

class UdevMonitor {
 public:
  // Listens to the events udev has finished processing, so a disk it announces already
  // has its device node and links. Invalid (and silent) where udev cannot be reached.
  UdevMonitor();
  ~UdevMonitor();
  UdevMonitor(const UdevMonitor&) = delete;
  UdevMonitor& operator=(const UdevMonitor&) = delete;

  bool valid() const { return m_monitor != nullptr; }
  // Readable when events are pending; -1 when not valid.
  int fd() const { return m_fd; }
  // Reads every pending event without blocking; true when one of them was a whole disk
  // arriving or leaving.
  [[nodiscard]] bool drainDiskEvents();

 private:
  ::udev* m_udev = nullptr;
  ::udev_monitor* m_monitor = nullptr;
  int m_fd = -1;
};

}  // namespace palvoro::real
