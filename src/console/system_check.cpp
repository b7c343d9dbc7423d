// The system check: the listing of the USB serial ports with what the system says about each,
// what else on the system concerns the station, one report and its exit status. What the
// system says, and what else concerns the station, are the system's own (linux/, win32/). With
// "--bench DIR" the ports are those of a bench registry instead, listed as the station's bench
// backend lists them: every record it refuses is a note line naming the file and why.
#include "console/system_check.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "console/exit_status.h"
#include "console/system_check_os.h"
#include "discovery/group_key.h"
#include "foundation/os_file.h"
#include "foundation/paths.h"

namespace vornex {
namespace {

// Every text of the report's frame, in one place.
constexpr const char* kTitleText = "Station system check";
constexpr const char* kNoDeviceText =
    "No station device is attached: plug one in and run this again.";
constexpr const char* kNothingBlocksText = "Nothing blocks a run.";
constexpr const char* kBlockedText = "Blocked: ";
constexpr const char* kBenchText = "Bench registry: ";
constexpr const char* kBenchOption = "--bench";

std::string ComText(const TPortInfo& port) {
  return "COM" + std::to_string(port.com);
}

// The role the station gives the port, as the device check reads it.
const char* RoleName(const TPortInfo& port) {
  if (port.portClass == kPortClassModem) return "modem";
  if (IsDiagnosticPort(port)) return "diagnostics";
  return "serial";
}

// What about this port blocks a run, empty when nothing does.
std::string PortBlocker(const TPortInfo& port, const TTtyTest& test) {
  if (!port.heldBy.empty()) return ComText(port) + " is held by " + port.heldBy.str();
  if (test.result == TTtyOpen::kOpened) return {};
  if (test.result == TTtyOpen::kDenied) return ComText(port) + " may not be opened by this user";
  return ComText(port) + ": " + OpenText(test);
}

// Whether a port line tells what the note does: the holders of a held port, or that this user
// may not open it.
bool PortLineTells(const TDiscoveryNote& note, const std::vector<TPortInfo>& ports) {
  if (note.kind != TNoteKind::kHeld && note.kind != TNoteKind::kDenied) return false;
  return std::any_of(ports.begin(), ports.end(), [&](const TPortInfo& port) {
    return port.com == note.com &&
           (note.kind == TNoteKind::kHeld ? !port.heldBy.empty() : port.denied != 0);
  });
}

// The texts of the listing's notes that the port lines do not already tell.
std::vector<std::string> OtherNotes(const TDiscoveryNotes& notes,
                                    const std::vector<TPortInfo>& ports) {
  std::vector<std::string> other;
  for (const TDiscoveryNote& note : notes) {
    if (!PortLineTells(note, ports)) other.push_back(note.text);
  }
  return other;
}

}  // namespace

std::string OpenText(const TTtyTest& test) {
  switch (test.result) {
    case TTtyOpen::kOpened:
      return "this user can open it";
    case TTtyOpen::kDenied:
      return "this user may not open it (" + os::SystemErrorText(test.systemCode) + ")";
    case TTtyOpen::kMissing:
      return MissingPortText();
    case TTtyOpen::kBusy:
      break;
  }
  return BusyPortText(test);
}

std::string JoinedTexts(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += separator;
    text += item;
  }
  return text;
}

namespace {

// The report on the listed ports and the listing's notes; `bench` is the registry folder they
// came from, empty for the system's own ports.
int CheckReport(const TSystemRoots& roots, const std::vector<TPortInfo>& ports,
                const TDiscoveryNotes& notes, const std::string& bench, std::ostream& out) {
  std::vector<std::string> blockers;
  bool stationDevice = false;
  out << kTitleText << "\n\n";
  if (!bench.empty()) out << kBenchText << bench << '\n';
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
        << "      " << PortAccessText(port, test) << '\n';
    if (!IsStationPort(port)) continue;
    stationDevice = true;
    if (std::string blocker = PortBlocker(port, test); !blocker.empty()) {
      blockers.push_back(std::move(blocker));
    }
  }
  for (const std::string& note : OtherNotes(notes, ports)) out << "  note: " << note << '\n';
  ReportSystemSoftware(roots, out, blockers);

  out << '\n';
  if (!stationDevice) out << kNoDeviceText << '\n';
  if (blockers.empty()) {
    out << kNothingBlocksText << '\n';
    return 0;
  }
  out << kBlockedText << JoinedTexts(blockers, "; ") << ".\n";
  return 1;
}

}  // namespace

int RunSystemCheck(const TSystemRoots& roots, std::ostream& out) {
  TDiscoveryNotes notes;
  const std::vector<TPortInfo> ports = ListCheckedPorts(roots, notes);
  return CheckReport(roots, ports, notes, {}, out);
}

int RunSystemCheckCommand(const std::vector<std::string>& args, std::ostream& out,
                          std::ostream& err) {
  if (args.empty()) return RunSystemCheck(TSystemRoots{}, out);
  std::error_code ec;
  if (args.size() != 2 || args[0] != kBenchOption) {
    err << "vornex: --check-system takes only --bench DIR: " << args.front() << '\n'
        << SystemCheckUsage();
    return exit_status::kUsage;
  }
  if (!std::filesystem::is_directory(paths::FsPath(args[1]), ec)) {
    err << "vornex: --bench: no such folder: " << args[1] << '\n';
    return exit_status::kUsage;
  }
  TDiscoveryNotes notes;
  const std::vector<TPortInfo> ports = MakeBenchBackend(args[1])->ListPorts(notes);
  return CheckReport(TSystemRoots{}, ports, notes, args[1], out);
}

std::string SystemCheckUsage() {
  return "usage: vornex --check-system [--bench DIR]\n"
         "  report the USB serial ports (who holds them, who may open them), ModemManager and\n"
         "  the station's udev rule; exit status 1 when something blocks a run, 0 otherwise\n"
         "  --bench DIR       the ports of this bench registry instead, with every record it\n"
         "                    refuses and why\n";
}

std::string StartupWarnings() {
  return StartupWarnings(TSystemRoots{});
}

}  // namespace vornex
