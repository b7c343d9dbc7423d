// The udev monitor of tty arrivals and removals.
#include "console/qt/udev_monitor.h"

#include <libudev.h>

#include <string>

namespace vornex {

bool IsUsbPortChange(std::string_view action, std::string_view devicePath, bool hasUsbParent) {
  if (action != "add" && action != "remove") return false;
  if (hasUsbParent) return true;
  // A path component that names a USB bus: "usb" followed by its number.
  std::size_t at = 0;
  while ((at = devicePath.find("/usb", at)) != std::string_view::npos) {
    const std::size_t digit = at + 4;
    if (digit < devicePath.size() && devicePath[digit] >= '0' && devicePath[digit] <= '9') {
      return true;
    }
    at = digit;
  }
  return false;
}

TUdevTtyMonitor::~TUdevTtyMonitor() {
  if (monitor_ != nullptr) udev_monitor_unref(monitor_);
  if (udev_ != nullptr) udev_unref(udev_);
}

bool TUdevTtyMonitor::Open() {
  if (monitor_ != nullptr) return true;
  udev_ = udev_new();
  if (udev_ == nullptr) return false;
  monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (monitor_ == nullptr) return false;
  if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor_) < 0) {
    udev_monitor_unref(monitor_);
    monitor_ = nullptr;
    return false;
  }
  return true;
}

int TUdevTtyMonitor::Fd() const {
  return monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1;
}

bool TUdevTtyMonitor::ReadEvent() {
  if (monitor_ == nullptr) return false;
  udev_device* device = udev_monitor_receive_device(monitor_);
  if (device == nullptr) return false;
  const char* action = udev_device_get_action(device);
  const char* devicePath = udev_device_get_devpath(device);
  const bool hasUsbParent =
      udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device") != nullptr;
  const bool change = IsUsbPortChange(action != nullptr ? action : "",
                                      devicePath != nullptr ? devicePath : "", hasUsbParent);
  udev_device_unref(device);
  return change;
}

}  // namespace vornex
