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
//   - the system's own (the default, MakeSystemBackend): the USB serial ports of the devices
//     attached, with COM numbers and records as each system's backend describes them.
//   - bench registry: a folder kept by the device simulator (discovery/bench_registry.h).
// A front-end chooses one for the whole process when it prepares its run (UseBenchDiscovery /
// UseSystemDiscovery).
//
// Busy ports: every listed port is opened once for a moment, exclusively as the station's own
// serial port opens it (TestOpenTty); a port that some other holder keeps locked or open, or
// whose tty is missing, is listed with openable = 0. So is a port that another process holds
// open, even without a lock, where the system tells (discovery/port_holders.h): its record names
// the holders in heldBy, and the notes get "COM5 held by ModemManager (pid 812)". A port this
// user may not open is listed with openable = 0 and denied = 1, and noted, where the system
// tells that apart from a busy one. A port whose COM number is not known has no tty: it is not
// tested and keeps openable = 1. A port being opened by a download at that very moment can read
// as busy too, and such a download may need a second try to open.
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
//   COM12 claimed by 2 ports, none listed: <tty> <5A3F0C21>, <tty> <1B2C3D4E>
//   COM13 withheld with its device <5A3F0C21>
//   COM5 held by ModemManager (pid 812)
//   COM6 may not be opened by this user: <tty>
//   COM300 is beyond COM255, the highest the station keeps: not listed (<device path>)
// and those of each backend about its own records. Names and values from the backend are cut to
// a few dozen characters in notes, and an enumeration hands at most kMaxDiscoveryNotes of them
// on, the last one counting the rest. Ports that merely vanish while being listed are no
// problem and are not noted.
//
// Enumerations are serialised: one runs at a time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "discovery/note_text.h"
#include "discovery/port_holders.h"
#include "discovery/port_info.h"

namespace vornex {

constexpr std::int32_t kMaxPortCount = 120;
// At most this many notes per enumeration reach the caller.
constexpr std::size_t kMaxDiscoveryNotes = 16;

// Problems met while listing, one note each (see above; discovery/note_text.h).
using TDiscoveryNotes = std::vector<TDiscoveryNote>;

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
  int systemCode = 0;  // the system's error code of the failing call; 0 when opened
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

// The name by which the system itself opens COM n; empty on a system that has no COM names
// (there a record brings its tty).
std::string ComTtyPath(int com);

// The operating system's own backend with the system's own locations.
std::unique_ptr<TPortBackend> MakeSystemBackend();

// The exclusive test open of a tty: kOpened when it could be opened for reading and writing and
// locked exclusively (both released again at once); otherwise why not, as the system tells it.
TTtyTest TestOpenTty(const std::string& ttyPath);

// Fills the access fields of every port that has a tty (ports without one are left as they
// are): the test open gives openable and denied, one look for the holders of all the ttys
// (FindPortHolders) gives heldBy (and openable 0 for a held port). Held and denied ports are
// noted.
void TestPortAccess(std::vector<TPortInfo>& ports, TDiscoveryNotes& notes);
// The same with the holders from `findHolders` (one list per tty, in order), for a backend that
// looks for them in places of its own.
using THolderLookup =
    std::function<std::vector<std::vector<TPortHolder>>(const std::vector<std::string>& ttyPaths)>;
void TestPortAccess(std::vector<TPortInfo>& ports, TDiscoveryNotes& notes,
                    const THolderLookup& findHolders);

// Gives the port its tty; false with a note, the port untouched, when the path does not fit the
// record (such a port cannot be opened by its record and is not to be listed).
bool TakeTtyPath(TPortInfo& port, const std::string& ttyPath, TDiscoveryNotes& notes);

}  // namespace vornex
