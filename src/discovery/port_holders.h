// Who else has a port open. A terminal program or a modem manager may hold a tty open without
// any lock, and a station running as root gets past the exclusive flag of the tty as well, so a
// test open alone cannot tell that a port is in use: the process table can. Every process other
// than the station's own is looked at where the system lets this user look; processes whose
// open files it may not see (those of other users, for a station that is not root) are skipped
// without a word.
//
// A process that holds the master side of a pseudo-terminal is the device behind that port (a
// simulated device), not another user of it: it is not counted as a holder of the slave side.
//
// The process table is read under a root folder ("/proc" on the system) so that tests can hand
// in a fixture.
//
// Windows tells who holds a COM port open only to privileged calls (the handle tables of all
// processes), which the station does not make: there no port has known holders, no process is
// found by name, and a held port reads busy from the test open alone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vornex {

constexpr const char* kSystemProcRoot = "/proc";

// One process holding a port open.
struct TPortHolder {
  std::int32_t pid = 0;
  std::string name;  // the process's own short name, "ModemManager"; "?" when unreadable
};

// "ModemManager (pid 812)".
std::string HolderText(const TPortHolder& holder);
// The holders one after the other: "ModemManager (pid 812), minicom (pid 944)"; empty for none.
std::string HoldersText(const std::vector<TPortHolder>& holders);

// The processes other than this one that hold each of the ttys open, in the order of
// `ttyPaths` and each list in pid order: one pass over the process table for all of them. A tty
// that is missing has no holders. An open file counts when it is the same device as the tty
// (same device number), whatever path it was opened by.
std::vector<std::vector<TPortHolder>> FindPortHolders(
    const std::vector<std::string>& ttyPaths, const std::string& procRoot = kSystemProcRoot);

// The pids of the running processes with exactly this short name, in ascending order.
std::vector<std::int32_t> ProcessesNamed(std::string_view name,
                                         const std::string& procRoot = kSystemProcRoot);

}  // namespace vornex
