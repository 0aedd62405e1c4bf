#include "platform/linux/udev_monitor.h"

#include <libudev.h>

namespace palvoro::real {
namespace {

// Events read per drain at most: a flood (a hub of disks, a udevadm trigger) is left to the
// next wake-up, since the descriptor stays readable, instead of holding the caller's loop.
constexpr int kEventsPerDrain = 256;

}  // namespace

UdevMonitor::UdevMonitor() {
  m_udev = udev_new();
  if (m_udev == nullptr) return;
  udev_monitor* monitor = udev_monitor_new_from_netlink(m_udev, "udev");
  // The kernel drops everything but block disks before it reaches the socket.
  if (monitor == nullptr || udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", "disk") < 0 ||
      udev_monitor_enable_receiving(monitor) < 0) {
    if (monitor != nullptr) udev_monitor_unref(monitor);
    return;
  }
  const int fd = udev_monitor_get_fd(monitor);
  if (fd < 0) {
    udev_monitor_unref(monitor);
    return;
  }
  m_monitor = monitor;
  m_fd = fd;
}

UdevMonitor::~UdevMonitor() {
  if (m_monitor != nullptr) udev_monitor_unref(m_monitor);
  if (m_udev != nullptr) udev_unref(m_udev);
}

bool UdevMonitor::drainDiskEvents() {
  if (m_monitor == nullptr) return false;
  bool disk = false;
  // The socket does not block: receiving gives nothing once it is empty.
  for (int i = 0; i < kEventsPerDrain; ++i) {
    udev_device* device = udev_monitor_receive_device(m_monitor);
    if (device == nullptr) break;
    const char* action = udev_device_get_action(device);
    const char* devtype = udev_device_get_devtype(device);
    if (action != nullptr && devtype != nullptr && isDiskArrivalOrRemoval(action, devtype)) disk = true;
    udev_device_unref(device);
  }
  return disk;
}

}  // namespace palvoro::real
