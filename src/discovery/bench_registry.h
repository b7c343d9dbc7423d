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
// grouping key, the same for all ports of one device and across its resets. Readers skip files
// that are incomplete or vanish while they read, and names that start with '.'.
#pragma once

#include <string>
#include <vector>

#include "discovery/port_info.h"

namespace vornex::bench {

constexpr const char* kPortFileSuffix = ".port";

// One registered port: its record and the tty that stands for its COM number.
struct BenchPort {
  TPortInfo info;
  std::string ttyPath;
};

// Writes (or replaces) the file of one port; true when it is in place.
bool WritePort(const std::string& folder, const BenchPort& port);
// Removes the file of one COM number; true when it is gone (or was never there).
bool RemovePort(const std::string& folder, int com);
// The ports registered now, ordered by COM number. Unreadable or incomplete files are skipped.
std::vector<BenchPort> ReadPorts(const std::string& folder);
// The file name of a COM number's record, "COM<n>.port".
std::string PortFileName(int com);

}  // namespace vornex::bench
