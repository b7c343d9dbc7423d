// The bench registry: how simulated devices announce their ports to the station. A folder holds
// one small text file per present port, "COM<n>.port", created and removed atomically (written
// under a hidden temporary name, then renamed), with one "key=value" line per field:
//
//   com=12
//   class=1                       1 serial port, 2 modem
//   path=\\?\USB#VID_05C6&PID_9004&MI_00#6&5A3F0C21&0&0000#{86e0d1e0-...}
//   description=Vornex USB Diagnostics 9004
//   hardware_id=USB\VID_05C6&PID_9004&REV_0000&MI_00
//   tty=/dev/pts/7
//
// The path's third '#'-field is the device instance id; its second '&'-field is the device's
// grouping key, the same for all ports of one device and across its resets. Readers skip names
// that start with '.' and files that vanish while they read.
//
// Readers trust the folder no further than its writer's habits: a record is a regular file of
// the folder itself, at most kMaxRecordBytes long. Anything else under a record's name (a FIFO,
// a device, a folder, a symbolic link), a longer file or an incomplete record is refused with
// a note and never listed. Links are refused rather than followed: the writer never makes any,
// and one could lead out of the folder or show one record under two COM numbers. Such files
// are never opened for reading or read beyond the limit, so that nothing in the folder can
// stall or swamp a reader. A folder with more than kMaxFolderEntries entries is not one the
// writer keeps: nothing in it is listed.
//
// Two records that claim one COM number are both listed, with a note that names them: the
// enumeration then refuses the number and withholds the devices of both (port_enumeration.h).
// The notes of the bench backend's last listing stay for front-ends to show (LastListingNotes).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "discovery/port_info.h"

namespace vornex::bench {

constexpr const char* kPortFileSuffix = ".port";
// A record is a few hundred bytes; a longer file is refused unread.
constexpr std::size_t kMaxRecordBytes = 64 * 1024;
// A bench of eight devices keeps a few dozen entries in its folder.
constexpr std::size_t kMaxFolderEntries = 4096;

// One registered port: its record and the tty that stands for its COM number.
struct TBenchPort {
  TPortInfo info;
  std::string ttyPath;
  std::string fileName;  // the record's file ("COM12.port") when it was read from a folder
};

// Writes (or replaces) the file of one port; true when it is in place.
bool WritePort(const std::string& folder, const TBenchPort& port);
// Removes the file of one COM number; true when it is gone (or was never there).
bool RemovePort(const std::string& folder, int com);
// The ports registered now, ordered by COM number, then by file name. Refused files (see above)
// are skipped, with one line each in `notes` when it is given ("bench record COM51.port
// refused: not a regular file"). Records that claim one COM number are all kept, with one line
// that names them ("bench records COM12-copy.port and COM12.port both claim COM12: ...").
std::vector<TBenchPort> ReadPorts(const std::string& folder,
                                  std::vector<std::string>* notes = nullptr);
// The file name of a COM number's record, "COM<n>.port".
std::string PortFileName(int com);

// The notes of the bench backend's last listing, in order: records refused and ports in the way
// (held by another program, not to be opened by this user), each naming its record or port and
// why; at most kMaxDiscoveryNotes, the last one counting the rest. Empty before the first listing
// and after one that met nothing. For a front-end to show after a search; safe from any thread.
std::vector<std::string> LastListingNotes();

}  // namespace vornex::bench
