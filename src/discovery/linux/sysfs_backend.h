// The system's own backend on Linux (MakeSystemBackend: sysfs on /sys, nodes under /dev,
// holders from /proc).
#pragma once

#include <memory>
#include <string>

#include "discovery/linux/port_holders_linux.h"
#include "discovery/port_enumeration.h"

namespace vornex {

// The sysfs backend: every tty under <sysRoot>/class/tty that belongs to a USB interface and has
// a COM number:
//   ttyUSB<n>, n = 0..60  ->  COM(3 + n)     COM3..COM63
//   ttyACM<n>, n = 0..63  ->  COM(64 + n)    COM64..COM127
// Other names (ttyS0, pseudo-terminals, higher numbers) are not listed. The numbers stay clear
// of COM1/COM2, which the station does not open, and below 128, so the 8-bit COM field reads
// the same whether taken as signed or unsigned.
//
// Records: class 1 (serial) or 2 (modem) by the role that the product table gives the
// interface (discovery/usb_roles.h, read from the settings file at settingsPath, empty =
// the station's Vornex_730.ini, at every enumeration);
//   path         "\\?\USB#VID_05C6&PID_9004&MI_00#6&<KEY>&0&0000#{interface class id}"
//                KEY = 8 upper-case hex digits of the FNV-1a hash of the USB device's port
//                path ("1-1.2"): the same for all interfaces of a device and after a reset on
//                the same socket, different on another socket;
//   description  "<product> Diagnostics (ttyUSB0)", "<product> Modem (ttyUSB2)" or
//                "<product> Serial Port (ttyUSB1)"; <product> is the device's product string,
//                or "USB Device" when it has none (or, outside the diagnostic port, when it
//                contains "Diagnostic", so that only that port's description names it);
//   hardware id  "USB\VID_05C6&PID_9004&REV_0000&MI_00" (no REV part without bcdDevice);
//   device object name and tty path = <devRoot>/<tty>; location = the interface's sysfs name
//   ("1-1.2:1.0");
//   openable, denied, heldBy  by TestPortAccess (the test open is open + flock(LOCK_EX |
//                LOCK_NB)), holders looked for under procRoot; a missing node reads openable 0;
//   usb = 1.
// A tty whose links dangle or whose interface lacks bInterfaceNumber, idVendor or idProduct is
// skipped. Ports are listed in COM order.
//
// Attributes are read without blocking and only from regular files (as sysfs attributes are),
// at most 4096 bytes (a page, the most the kernel serves): a FIFO, device, folder or link in
// an attribute's place, or a longer file, is refused and noted, as if the attribute were
// missing:
//   sysfs attribute <path> refused: larger than 4096 bytes
std::unique_ptr<TPortBackend> MakeSysfsBackend(std::string sysRoot, std::string devRoot,
                                               std::string settingsPath = {},
                                               std::string procRoot = kSystemProcRoot);

}  // namespace vornex
