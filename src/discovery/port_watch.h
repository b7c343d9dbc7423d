// Port changes: whether serial ports may have come or gone since the last look. The run driver
// of both front-ends asks on every tick and, after a short settling time, asks the coordinator
// for a device check.
//
// Sources:
//   - the bench registry folder: a port file that came, went or was rewritten;
//   - the system's own notifications (on Linux the udev monitor of ttys: an "add" or "remove"
//     of a tty below a USB device; on Windows a change of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM,
//     where every COM port that comes or goes adds or removes its value);
//   - a periodic "maybe", the fallback when the system's notifications cannot be had.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vornex {

class TPortWatch {
 public:
  virtual ~TPortWatch() = default;
  // True when ports may have come or gone since the last call. Never blocks.
  virtual bool Poll() = 0;
};

// How often the fallback says "maybe" (pacing clock).
constexpr std::uint32_t kPortRecheckPeriodMs = 5000;

// Watches the port files of a bench registry folder (a missing folder lists nothing).
std::unique_ptr<TPortWatch> MakeBenchWatch(std::string folder);

// Says "maybe" once every periodMs, starting one period after it was made.
std::unique_ptr<TPortWatch> MakePeriodicWatch(std::uint32_t periodMs);

// The periodic watch in place of a system watch that could not start: `note` (when given) says
// why and what the station does instead.
std::unique_ptr<TPortWatch> PeriodicWatchInstead(const std::string& problem, std::string* note);

// The system's port notifications. When they cannot start: the periodic fallback, and `note`
// says why and what the station does instead (to be logged once).
std::unique_ptr<TPortWatch> MakeSystemPortWatch(std::string* note);

// True for an "add" or "remove" of a tty that sits below a USB device: either its parent chain
// has a USB device, or (for a removal, whose sysfs entries are already gone) its device path
// runs through a USB bus ("/devices/.../usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0").
bool IsUsbPortChange(std::string_view action, std::string_view devicePath, bool hasUsbParent);

}  // namespace vornex
