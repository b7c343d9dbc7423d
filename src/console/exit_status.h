// The exit statuses of the station program: one table for every command and front-end (the
// terminal, the window with --close-when-done, the record commands, --check-system), as the
// README, the manual page and --help state it. A run's count of FAILED devices stays below 64
// whatever it is, so that it never reads as one of the other statuses; those follow the
// sysexits convention (64 a usage mistake, 65 refused input, 69 unavailable) and 124 that of
// timeout(1).
#pragma once

#include <algorithm>

#include "messaging/messages.h"

namespace vornex::exit_status {

// A run: every started device passed (or the run was stopped before Start); a record command
// or --check-system: done, nothing blocks a run.
constexpr int kOk = 0;
// 1..kMostDevices: a run's devices that FAILED or were expected and never started. 1 is also
// "vornex restore ID" that did not restore (the backup stays open), and --check-system that
// found something that blocks a run.
constexpr int kMostDevices = 63;
// A mistake on the command line: an unknown, repeated or conflicting option, a value that is
// no number, date or existing path as the option needs, an output file that names a folder,
// device, pipe or socket. Nothing was done.
constexpr int kUsage = 64;
// Refused input: the image set (Start was refused, no device was touched), a backup that is
// closed, absent or not the device's newest, or a DataInfo file that cannot be restored.
constexpr int kRefused = 65;
// Could not start: no display or no window in this build, the window of this login is closing,
// the --json file cannot be written, the station records are missing, unusable, or were lost
// while the station ran; and a run that could not keep a job's record or the closing of its
// backup (a full disk), whatever its devices did.
constexpr int kUnavailable = 69;
// The run gave up waiting for its devices (--wait): no device was touched.
constexpr int kGaveUpWaiting = 124;

// The status of a run's FAILED and never-started devices.
constexpr int OfDevices(int failedOrNeverStarted) {
  return std::clamp(failedOrNeverStarted, kOk, kMostDevices);
}

// The status of a run from what its run driver knows: whether the station records fell short
// (lost, or a part of a job's not kept), whether it gave up waiting, why Start was refused,
// whether Start was pressed, and the devices that FAILED or never started.
constexpr int OfRun(bool recordsShort, bool gaveUp, TStartRefusal refusal, bool pressed,
                    int failedOrNeverStarted) {
  if (recordsShort) return kUnavailable;
  if (gaveUp) return kGaveUpWaiting;
  if (refusal == TStartRefusal::kRecordsLost) return kUnavailable;
  if (refusal != TStartRefusal::kNone) return kRefused;
  if (!pressed) return kOk;
  return OfDevices(failedOrNeverStarted);
}

// The table for --help.
constexpr const char* kHelp =
    "exit status (every command):\n"
    "  0        every started device passed; restore, history, --check-system: done\n"
    "  1..63    the devices that FAILED or never started; restore ID: 1, not restored (the\n"
    "           backup stays open); --check-system: 1, something blocks a run\n"
    "  64       a mistake on the command line (the option and its value are named), also an\n"
    "           output file that names a folder, device, pipe or socket\n"
    "  65       refused: the image set (no device was touched), or the backup or DataInfo\n"
    "           file given to restore\n"
    "  69       could not start: no display, the --json file, the station records missing,\n"
    "           unusable or lost during the run; or a job's record or the closing of its\n"
    "           backup could not be kept (\"Station records incomplete\")\n"
    "  124      gave up waiting for devices (--wait); no device was touched\n";

}  // namespace vornex::exit_status
