// The station's record commands: "vornex restore" lists the identity backups still open and
// puts one back on its device (found by its key, or by a port the operator names) with the same
// restore and verification as a download job; "vornex history" prints past jobs. Their exit
// statuses are those of console/exit_status.h.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace vornex {

// The usage texts.
std::string RestoreUsage();
std::string HistoryUsage();

// Runs "vornex restore ..." (args without "restore"). Exit status: kOk done (listed, or restored
// and closed), 1 the restore did not succeed (the backup stays open), kUsage a mistake on the
// command line, kRefused a backup or DataInfo file it does not restore, kUnavailable station
// records that are missing or unusable.
int RunRestoreCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Runs "vornex history ..." (args without "history"). Exit status kOk, kUsage or kUnavailable as
// above.
int RunHistoryCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vornex
