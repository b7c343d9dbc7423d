// The system's port notifications on Linux: a udev monitor of the "tty" subsystem. Its socket
// does not block; each poll drains every queued event and reports whether one of them was a USB
// serial port that came or went (other ttys, and other events such as "change", are no port
// change for the station).
#include <libudev.h>

#include <cerrno>
#include <cstring>

#include "discovery/port_watch.h"

namespace vornex {
namespace {

class TUdevPortWatch : public TPortWatch {
 public:
  ~TUdevPortWatch() override {
    if (monitor_ != nullptr) udev_monitor_unref(monitor_);
    if (udev_ != nullptr) udev_unref(udev_);
  }

  // Connects to the udev event source; the reason when it cannot.
  std::string Open() {
    udev_ = udev_new();
    if (udev_ == nullptr) return std::string("udev_new: ") + std::strerror(errno);
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ == nullptr) return std::string("udev monitor: ") + std::strerror(errno);
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
      return std::string("udev monitor cannot receive: ") + std::strerror(errno);
    }
    return {};
  }

  bool Poll() override {
    bool changed = false;
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
      const char* action = udev_device_get_action(device);
      const char* devicePath = udev_device_get_devpath(device);
      const bool hasUsbParent =
          udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device") != nullptr;
      changed |= IsUsbPortChange(action != nullptr ? action : "",
                                 devicePath != nullptr ? devicePath : "", hasUsbParent);
      udev_device_unref(device);
    }
    return changed;
  }

 private:
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
};

}  // namespace

std::unique_ptr<TPortWatch> MakeSystemPortWatch(std::string* note) {
  auto watch = std::make_unique<TUdevPortWatch>();
  const std::string problem = watch->Open();
  if (problem.empty()) return watch;
  return PeriodicWatchInstead(problem, note);
}

}  // namespace vornex
