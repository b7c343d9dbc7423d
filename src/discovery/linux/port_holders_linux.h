// Port holders on Linux, from the process table: the holders of ttys and processes by name,
// read under a root folder ("/proc" on the system) so that tests can hand in a fixture. Every
// process other than the station's own is looked at where the system lets this user look;
// processes whose open files it may not see (those of other users, for a station that is not
// root) are skipped without a word.
//
// A process that holds the master side of a pseudo-terminal is the device behind that port (a
// simulated device), not another user of it: it is not counted as a holder of the slave side.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/port_holders.h"

namespace vornex {

constexpr const char* kSystemProcRoot = "/proc";

// FindPortHolders (discovery/port_holders.h) with the process table under procRoot.
std::vector<std::vector<TPortHolder>> FindPortHolders(const std::vector<std::string>& ttyPaths,
                                                      const std::string& procRoot);

// The pids of the running processes with exactly this short name, in ascending order.
std::vector<std::int32_t> ProcessesNamed(std::string_view name,
                                         const std::string& procRoot = kSystemProcRoot);

}  // namespace vornex
