// The system's own parts of the system check (linux/, win32/): which ports it lists, what it
// says about a port's access, and what else on the system concerns the station.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "console/system_check.h"
#include "discovery/port_enumeration.h"

namespace vornex {

// The USB serial ports of the system, with the listing's notes.
std::vector<TPortInfo> ListCheckedPorts(const TSystemRoots& roots, TDiscoveryNotes& notes);
// What the exclusive test open says about this user and the port (system_check.cpp), and the
// system's own words for a port that is not there and for one that is busy.
std::string OpenText(const TTtyTest& test);
std::string MissingPortText();
std::string BusyPortText(const TTtyTest& test);
// The second line of a port: what the system says about who may open it and who holds it.
std::string PortAccessText(const TPortInfo& port, const TTtyTest& test);
// The report's lines on other software that concerns the station; what blocks a run is added
// to `blockers`.
void ReportSystemSoftware(const TSystemRoots& roots, std::ostream& out,
                          std::vector<std::string>& blockers);

// "a, b, c".
std::string JoinedTexts(const std::vector<std::string>& items, const char* separator);

}  // namespace vornex
