// "vornex --check-system": what on this computer stands between the station and its devices,
// told before a batch rather than found out in one. The report lists every USB serial port
// (COM number, tty, role, device key, owner, group and mode of its node, the programs holding
// it, whether this user can open it), whether ModemManager runs, and whether the station's udev
// rule is installed (the rule keeps ModemManager off the station's devices). The last line says
// what blocks a run, or that nothing does.
//
// What blocks a run: a port of a station device that another program holds open, or that this
// user cannot open; ModemManager running while the station's rule is not installed. No device
// attached is said, but blocks nothing.
//
// The system's folders are parameters, so that tests can point the check at a fixture.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace vornex {

// The name of the station's udev rule file.
constexpr const char* kUdevRuleName = "60-vornex.rules";

struct TSystemRoots {
  std::string proc = "/proc";
  std::string sys = "/sys";
  std::string dev = "/dev";
  // Searched in this order for the station's rule.
  std::vector<std::string> ruleFolders = {"/etc/udev/rules.d", "/lib/udev/rules.d",
                                          "/usr/lib/udev/rules.d"};
  // The station settings file that may change the port roles; empty = the station's own.
  std::string settingsPath;
};

// Writes the report to `out`. Exit status: 0 when nothing blocks a run, 1 when something does.
int RunSystemCheck(const TSystemRoots& roots, std::ostream& out);

// Runs "vornex --check-system" (args after it): the report on this computer's folders. Exit
// status as RunSystemCheck, 64 (exit_status::kUsage) for arguments it does not take.
int RunSystemCheckCommand(const std::vector<std::string>& args, std::ostream& out,
                          std::ostream& err);

// The usage text of --check-system.
std::string SystemCheckUsage();

// One line for the operator at start-up when ModemManager runs and the station's rule is not
// installed; empty otherwise.
std::string StartupWarnings(const TSystemRoots& roots);
std::string StartupWarnings();

}  // namespace vornex
