#pragma once
// When the main window hears of disks arriving and leaving. udev announces each disk of a
// burst (a hub with several drives, a disk pulled and plugged back) on its own; the window
// should re-scan once, after the burst. A re-scan is also held while a dialog is over the
// main window (its own re-scan, a test, the SMART window): the window would absorb it and
// an arrival during the dialog would be lost. Time is passed in, so tests move it by hand.

#include <cstdint>

namespace palvoro {

// How long the disks must be quiet before the re-scan runs.
inline constexpr int kDeviceChangeQuietMs = 500;

class DeviceChangeDebounce {
 public:
  explicit DeviceChangeDebounce(int quietMs = kDeviceChangeQuietMs) : m_quietMs(quietMs) {}

  // A disk arrived or left at `nowMs`: the re-scan moves to a quiet period from now.
  void eventAt(int64_t nowMs);
  // Asked when the wait has passed. True, once per burst, when the re-scan is to run now;
  // while the window is not free to take it, the re-scan stays pending for another period.
  bool dueAt(int64_t nowMs, bool windowFree);
  // Milliseconds to wait before asking again; -1 when nothing is pending.
  int waitAt(int64_t nowMs) const;

 private:
  int m_quietMs;
  bool m_pending = false;
  int64_t m_dueMs = 0;
};

}  // namespace palvoro
