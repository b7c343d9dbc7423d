// Serial port enumeration: the table of TPortInfo records that SearchAllUSB groups into devices.
//
// A backend lists the ports present now, each with the tty that stands for its COM number in
// its own record (TPortInfo::ttyPath). EnumeratePorts takes that list, keeps the USB ports only,
// puts the serial ports (class 1) before the modem ports (class 2), each in the backend's order,
// and stops at kMaxPortCount records. A port opened from its record opens that record's tty,
// whatever later listings say. The COM resolver, which only ports opened by number alone
// consult, learns each listed number's tty too; a listing adds to it and never takes away, since
// a worker may still need a number that is briefly off the bus while another one enumerates.
//
// Backends:
//   - the system's own (the default, MakeSystemBackend): on Linux sysfs, real USB serial devices
//     under <sysRoot>/class/tty (see MakeSysfsBackend for the COM numbers and the records it
//     produces); on Windows the Setup API method from Vista on, the registry method before
//     (discovery/com_records.h), whose ttys are the system's "\\.\COMn".
//   - bench registry: a folder kept by the device simulator (discovery/bench_registry.h).
// The program chooses one for the whole process (UseBenchDiscovery / UseSystemDiscovery).
//
// Busy ports: every listed port is opened once for a moment, exclusively as the station's own
// serial port opens it (on Linux open + flock(LOCK_EX|LOCK_NB), on Windows CreateFileW without
// sharing); a port that some other holder keeps locked or open, or whose tty is missing, is
// listed with openable = 0. So is a port that another process holds open, even without a lock,
// where the system tells (Linux, discovery/port_holders.h): its record names the holders in
// heldBy, and the notes get "COM5 held by ModemManager (pid 812)". A port this user may not open
// is listed with openable = 0 and denied = 1, and noted (Linux only: Windows answers "access
// denied" for a port held by another program, which reads busy). A port whose COM number is not
// known (a Windows port without PortName) has no tty: it is not tested and keeps openable = 1.
// A port being opened by a download at that very moment can read as busy too, and such a
// download may need a second try to open.
//
// One COM number, one port: when two listed ports claim the same COM number, neither is listed,
// and neither are the other ports of their devices (those with the same grouping key,
// discovery/group_key.h). A device whose ports are in doubt is left out whole rather than
// handed out in part; it comes back at the first enumeration after the conflict is gone. No two
// slots can thus ever reach one device through one number.
//
// Notes: what a listing refused or found in the way, and why, one short line each, for the
// caller's trace:
//   bench record COM51.port refused: not a regular file
//   sysfs attribute <path> refused: larger than 4096 bytes
//   COM12 claimed by 2 ports, none listed: /dev/pts/3 <5A3F0C21>, /dev/pts/9 <1B2C3D4E>
//   COM13 withheld with its device <5A3F0C21>
//   COM5 held by ModemManager (pid 812)
//   COM6 may not be opened by this user: /dev/ttyUSB3
//   COM300 is beyond COM255, the highest the station keeps: not listed (\\?\USB#VID_...)
// Names and values from the backend are cut to a few dozen characters in notes, and an
// enumeration hands at most kMaxDiscoveryNotes of them on, the last one counting the rest.
// Ports that merely vanish while being listed are no problem and are not noted.
//
// Enumerations are serialised: one runs at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "discovery/port_holders.h"
#include "discovery/port_info.h"

namespace vornex {

constexpr std::int32_t kMaxPortCount = 120;
// At most this many notes per enumeration reach the caller.
constexpr std::size_t kMaxDiscoveryNotes = 16;

// Problems met while listing, one line each (see above).
using TDiscoveryNotes = std::vector<std::string>;

using TPortTable = std::array<TPortInfo, kMaxPortCount>;

// How the exclusive test open of a tty went.
enum class TTtyOpen {
  kOpened,   // opened and locked (both released again at once)
  kBusy,     // someone holds it locked or exclusive, or it failed otherwise
  kDenied,   // this user may not open it (no permission)
  kMissing,  // there is no such node (or no device behind it)
};
struct TTtyTest {
  TTtyOpen result = TTtyOpen::kMissing;
  int systemCode = 0;  // errno (Windows: GetLastError) of the failing call; 0 when opened
};

// One way of listing the ports present now.
class TPortBackend {
 public:
  virtual ~TPortBackend() = default;
  // The ports present now in the backend's own order, each with its tty, the access fields
  // already filled (see TestPortAccess). Failures only shrink the list; whatever was refused is
  // added to `notes`.
  virtual std::vector<TPortInfo> ListPorts(TDiscoveryNotes& notes) = 0;
};

// Fills table[0, result) with the ports present now (see above) and records the tty of each
// listed COM number with the COM resolver; records beyond the result are not touched. Returns
// the count, 0..120.
// The notes of this enumeration replace the contents of `notes` when it is given.
std::int32_t EnumeratePorts(TPortTable& table, TDiscoveryNotes* notes = nullptr);

// Makes every later enumeration of the process use the bench registry in `folder`.
void UseBenchDiscovery(std::string folder);
// Makes every later enumeration use the system's own backend (as when nothing was chosen).
void UseSystemDiscovery();
// Makes every later enumeration use this backend (a null backend lists nothing) and hands back
// the one used until now (the system's own when nothing was chosen), so that it can be put back.
std::unique_ptr<TPortBackend> UseDiscoveryBackend(std::unique_ptr<TPortBackend> backend);

// The bench registry backend: bench::ReadPorts(folder), each port's tty the system's name of
// its COM number (ComTtyPath) where the system has one, else the tty of its record; its access
// fields from TestPortAccess. Vanishing files are skipped; refused ones are noted.
std::unique_ptr<TPortBackend> MakeBenchBackend(std::string folder);

// The name by which the system itself opens COM n: "\\.\COMn" on Windows; empty on Linux,
// which has no COM names (there a record brings its tty).
std::string ComTtyPath(int com);

// Linux only. The sysfs backend: every tty under <sysRoot>/class/tty that belongs to a USB
// interface and has a COM number:
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
//   openable, denied, heldBy  by TestPortAccess, holders looked for under procRoot; a missing
//                node reads openable 0;
//   usb = 1.
// A tty whose links dangle or whose interface lacks bInterfaceNumber, idVendor or idProduct is
// skipped. Ports are listed in COM order.
//
// Attributes are read without blocking and only from regular files (as sysfs attributes are),
// at most 4096 bytes (a page, the most the kernel serves): a FIFO, device, folder or link in
// an attribute's place, or a longer file, is refused and noted, as if the attribute were
// missing.
std::unique_ptr<TPortBackend> MakeSysfsBackend(std::string sysRoot, std::string devRoot,
                                               std::string settingsPath = {},
                                               std::string procRoot = kSystemProcRoot);

// The operating system's own backend with its default locations: sysfs on /sys and /dev on
// Linux; on Windows the method that the system's version calls for (see above).
std::unique_ptr<TPortBackend> MakeSystemBackend();

// The exclusive test open of a tty: kOpened when it could be opened for reading and writing and
// locked exclusively (both released again at once); otherwise why not. On Windows the tty is
// opened by CreateFileW without sharing: "access denied" and "sharing violation" read kBusy,
// "file not found", "path not found" and a device that is gone read kMissing.
TTtyTest TestOpenTty(const std::string& ttyPath);

// Fills the access fields of every port that has a tty (ports without one are left as they
// are): the test open gives openable and denied, one look at the process table under procRoot
// gives heldBy (and openable 0 for a held port). Held and denied ports are noted.
void TestPortAccess(std::vector<TPortInfo>& ports, TDiscoveryNotes& notes,
                    const std::string& procRoot = kSystemProcRoot);

// Gives the port its tty; false with a note, the port untouched, when the path does not fit the
// record (such a port cannot be opened by its record and is not to be listed).
bool TakeTtyPath(TPortInfo& port, const std::string& ttyPath, TDiscoveryNotes& notes);

}  // namespace vornex
