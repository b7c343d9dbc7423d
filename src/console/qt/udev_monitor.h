// Port arrivals and removals of real devices: a udev monitor on the "tty" subsystem. Its file
// descriptor becomes readable when an event is queued; ReadEvent takes one event and says
// whether it was a USB serial port that came or went (other ttys, and other events such as
// "change", are no port change for the station).
#pragma once

#include <string_view>

struct udev;
struct udev_monitor;

namespace vornex {

// True for an "add" or "remove" of a tty that sits below a USB device: either its parent chain
// has a USB device, or (for a removal, whose sysfs entries are already gone) its device path
// runs through a USB bus ("/devices/.../usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0").
bool IsUsbPortChange(std::string_view action, std::string_view devicePath, bool hasUsbParent);

class TUdevTtyMonitor {
 public:
  TUdevTtyMonitor() = default;
  ~TUdevTtyMonitor();
  TUdevTtyMonitor(const TUdevTtyMonitor&) = delete;
  TUdevTtyMonitor& operator=(const TUdevTtyMonitor&) = delete;

  // Connects to the udev event source for ttys; true when events can be received.
  bool Open();
  // The descriptor to watch for readability; -1 when not open.
  int Fd() const;
  // Takes one queued event; true when it was a USB port arrival or removal.
  bool ReadEvent();

 private:
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
};

}  // namespace vornex
