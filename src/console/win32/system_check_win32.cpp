// The system check on Windows: the system's own listing of the COM ports and the exclusive test
// open of each. Windows does not tell who holds a port, and no other software on it is known
// to take hold of the station's ports, so the report ends with the ports.
#include "console/system_check_os.h"
#include "foundation/os_file.h"

namespace vornex {

std::vector<TPortInfo> ListCheckedPorts(const TSystemRoots& /*roots*/, TDiscoveryNotes& notes) {
  return MakeSystemBackend()->ListPorts(notes);
}

std::string MissingPortText() {
  return "the port is not there";
}

std::string BusyPortText(const TTtyTest& test) {
  return "another program has it open (" + os::SystemErrorText(test.systemCode) + ")";
}

std::string PortAccessText(const TPortInfo& /*port*/, const TTtyTest& test) {
  return OpenText(test);
}

void ReportSystemSoftware(const TSystemRoots& /*roots*/, std::ostream& /*out*/,
                          std::vector<std::string>& /*blockers*/) {}

std::string StartupWarnings(const TSystemRoots& /*roots*/) {
  return {};
}

}  // namespace vornex
