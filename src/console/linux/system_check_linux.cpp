// The system check on Linux: the sysfs listing with what the system says about each node and who
// holds it, ModemManager in the process table, and the station's udev rule in the rule folders.
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "console/system_check_os.h"
#include "discovery/device_node.h"
#include "discovery/linux/port_holders_linux.h"
#include "discovery/linux/sysfs_backend.h"
#include "foundation/os_file.h"

namespace vornex {
namespace {

namespace fs = std::filesystem;

constexpr const char* kModemManagerName = "ModemManager";
constexpr const char* kModemManagerBlocksText =
    "ModemManager is running and the station's udev rule is not installed";
constexpr const char* kStartupWarningText =
    "Warning: ModemManager is running and the station's udev rule (60-vornex.rules) is not "
    "installed: it may take hold of the devices' ports during a run. Install the rule or stop "
    "ModemManager; \"vornex --check-system\" tells more.";

std::string NodeText(const TNodeFacts& node) {
  if (!node.present) return "no node";
  return "node " + node.owner + ":" + node.group + " " + node.mode;
}

// The station's rule file in the first folder that has it; empty when none does.
std::string FindRule(const TSystemRoots& roots) {
  for (const std::string& folder : roots.ruleFolders) {
    std::error_code ec;
    const fs::path rule = fs::path(folder) / kUdevRuleName;
    if (fs::is_regular_file(rule, ec)) return rule.string();
  }
  return {};
}

}  // namespace

std::vector<TPortInfo> ListCheckedPorts(const TSystemRoots& roots, TDiscoveryNotes& notes) {
  return MakeSysfsBackend(roots.sys, roots.dev, roots.settingsPath, roots.proc)->ListPorts(notes);
}

std::string MissingPortText() {
  return "it has no device node";
}

std::string BusyPortText(const TTtyTest& test) {
  if (test.systemCode == EWOULDBLOCK) return "another program keeps it locked";
  return "it cannot be opened (" + os::SystemErrorText(test.systemCode) + ")";
}

std::string PortAccessText(const TPortInfo& port, const TTtyTest& test) {
  return NodeText(DescribeNode(port.ttyPath.str())) + "; held by " +
         (port.heldBy.empty() ? "no other program" : port.heldBy.str()) + "; " + OpenText(test);
}

void ReportSystemSoftware(const TSystemRoots& roots, std::ostream& out,
                          std::vector<std::string>& blockers) {
  const std::vector<std::int32_t> modemManager = ProcessesNamed(kModemManagerName, roots.proc);
  out << "\nModemManager: ";
  if (modemManager.empty()) {
    out << "not running\n";
  } else {
    std::vector<std::string> pids;
    for (const std::int32_t pid : modemManager) pids.push_back(std::to_string(pid));
    out << "running (pid " << JoinedTexts(pids, ", ") << ")\n";
  }
  const std::string rule = FindRule(roots);
  out << "Station udev rule " << kUdevRuleName << ": ";
  if (rule.empty()) {
    out << "not installed (looked in " << JoinedTexts(roots.ruleFolders, ", ") << ")\n";
  } else {
    out << "installed (" << rule << ")\n";
  }
  if (!modemManager.empty() && rule.empty()) blockers.emplace_back(kModemManagerBlocksText);
}

std::string StartupWarnings(const TSystemRoots& roots) {
  if (ProcessesNamed(kModemManagerName, roots.proc).empty() || !FindRule(roots).empty()) return {};
  return kStartupWarningText;
}

}  // namespace vornex
