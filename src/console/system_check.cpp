// The system check: the sysfs listing of the USB serial ports with what the system says about
// each node, the process table, the rule folders; one report and its exit status.
#include "console/system_check.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "discovery/device_node.h"
#include "discovery/group_key.h"
#include "discovery/port_enumeration.h"
#include "discovery/port_holders.h"

namespace vornex {
namespace {

namespace fs = std::filesystem;

constexpr const char* kModemManagerName = "ModemManager";

// Every text the check can show, in one place.
constexpr const char* kTitleText = "Station system check";
constexpr const char* kNoDeviceText =
    "No station device is attached: plug one in and run this again.";
constexpr const char* kNothingBlocksText = "Nothing blocks a run.";
constexpr const char* kBlockedText = "Blocked: ";
constexpr const char* kModemManagerBlocksText =
    "ModemManager is running and the station's udev rule is not installed";
constexpr const char* kStartupWarningText =
    "Warning: ModemManager is running and the station's udev rule (60-vornex.rules) is not "
    "installed: it may take hold of the devices' ports during a run. Install the rule or stop "
    "ModemManager; \"vornex --check-system\" tells more.";

std::string SystemText(int code) {
  return std::error_code(code, std::generic_category()).message();
}

std::string ComText(const TPortInfo& port) {
  return "COM" + std::to_string(port.com);
}

// The role the station gives the port, as the device check reads it.
const char* RoleName(const TPortInfo& port) {
  if (port.portClass == kPortClassModem) return "modem";
  if (port.description.str().find("Diagnostic") != std::string::npos) return "diagnostics";
  return "serial";
}

// What the exclusive test open says about this user and the port.
std::string OpenText(const TTtyTest& test) {
  switch (test.result) {
    case TTtyOpen::kOpened:
      return "this user can open it";
    case TTtyOpen::kDenied:
      return "this user may not open it (" + SystemText(test.systemCode) + ")";
    case TTtyOpen::kMissing:
      return "it has no device node";
    case TTtyOpen::kBusy:
      break;
  }
  if (test.systemCode == EWOULDBLOCK) return "another program keeps it locked";
  return "it cannot be opened (" + SystemText(test.systemCode) + ")";
}

std::string NodeText(const TNodeFacts& node) {
  if (!node.present) return "no node";
  return "node " + node.owner + ":" + node.group + " " + node.mode;
}

// What about this port blocks a run, empty when nothing does.
std::string PortBlocker(const TPortInfo& port, const TTtyTest& test) {
  if (!port.heldBy.empty()) return ComText(port) + " is held by " + port.heldBy.str();
  if (test.result == TTtyOpen::kOpened) return {};
  if (test.result == TTtyOpen::kDenied) return ComText(port) + " may not be opened by this user";
  return ComText(port) + ": " + OpenText(test);
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

std::string Joined(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += separator;
    text += item;
  }
  return text;
}

// The listing's notes that the port lines do not already tell (holders, no permission).
std::vector<std::string> OtherNotes(const TDiscoveryNotes& notes,
                                    const std::vector<TPortInfo>& ports) {
  std::vector<std::string> told;
  for (const TPortInfo& port : ports) {
    if (!port.heldBy.empty()) told.push_back(ComText(port) + " held by ");
    if (port.denied != 0) told.push_back(ComText(port) + " may not be opened by this user");
  }
  std::vector<std::string> other;
  for (const std::string& note : notes) {
    bool known = false;
    for (const std::string& start : told) known = known || note.starts_with(start);
    if (!known) other.push_back(note);
  }
  return other;
}

}  // namespace

int RunSystemCheck(const TSystemRoots& roots, std::ostream& out) {
  TDiscoveryNotes notes;
  const std::vector<TPortInfo> ports =
      MakeSysfsBackend(roots.sys, roots.dev, roots.settingsPath, roots.proc)->ListPorts(notes);

  std::vector<std::string> blockers;
  bool stationDevice = false;
  out << kTitleText << "\n\n";
  if (ports.empty()) {
    out << "USB serial ports: none\n";
  } else {
    out << "USB serial ports: " << ports.size() << '\n';
  }
  for (const TPortInfo& port : ports) {
    const TTtyTest test = TestOpenTty(port.ttyPath.str());
    const std::string key = GroupKeyOfPath(port.path);
    out << "  " << ComText(port) << "  " << port.ttyPath.str() << "  " << RoleName(port)
        << "  device " << (key.empty() ? "?" : key) << "  " << port.description.str() << '\n'
        << "      " << NodeText(DescribeNode(port.ttyPath.str())) << "; held by "
        << (port.heldBy.empty() ? "no other program" : port.heldBy.str()) << "; " << OpenText(test)
        << '\n';
    if (!IsStationPort(port)) continue;
    stationDevice = true;
    if (std::string blocker = PortBlocker(port, test); !blocker.empty()) {
      blockers.push_back(std::move(blocker));
    }
  }
  for (const std::string& note : OtherNotes(notes, ports)) out << "  note: " << note << '\n';

  const std::vector<std::int32_t> modemManager = ProcessesNamed(kModemManagerName, roots.proc);
  out << "\nModemManager: ";
  if (modemManager.empty()) {
    out << "not running\n";
  } else {
    std::vector<std::string> pids;
    for (const std::int32_t pid : modemManager) pids.push_back(std::to_string(pid));
    out << "running (pid " << Joined(pids, ", ") << ")\n";
  }
  const std::string rule = FindRule(roots);
  out << "Station udev rule " << kUdevRuleName << ": ";
  if (rule.empty()) {
    out << "not installed (looked in " << Joined(roots.ruleFolders, ", ") << ")\n";
  } else {
    out << "installed (" << rule << ")\n";
  }
  if (!modemManager.empty() && rule.empty()) blockers.emplace_back(kModemManagerBlocksText);

  out << '\n';
  if (!stationDevice) out << kNoDeviceText << '\n';
  if (blockers.empty()) {
    out << kNothingBlocksText << '\n';
    return 0;
  }
  out << kBlockedText << Joined(blockers, "; ") << ".\n";
  return 1;
}

int RunSystemCheckCommand(const std::vector<std::string>& args, std::ostream& out,
                          std::ostream& err) {
  if (!args.empty()) {
    err << "vornex: --check-system takes no further arguments: " << args.front() << '\n'
        << SystemCheckUsage();
    return 2;
  }
  return RunSystemCheck(TSystemRoots{}, out);
}

std::string SystemCheckUsage() {
  return "usage: vornex --check-system\n"
         "  report the USB serial ports (who holds them, who may open them), ModemManager and\n"
         "  the station's udev rule; exit status 1 when something blocks a run, 0 otherwise\n";
}

std::string StartupWarnings(const TSystemRoots& roots) {
  if (ProcessesNamed(kModemManagerName, roots.proc).empty() || !FindRule(roots).empty()) return {};
  return kStartupWarningText;
}

std::string StartupWarnings() {
  return StartupWarnings(TSystemRoots{});
}

}  // namespace vornex
