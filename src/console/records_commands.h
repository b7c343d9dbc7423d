// The station's record commands: "vornex restore" lists the identity backups still open and
// puts one back on its device (found by its key, or by a port the operator names) with the same
// restore and verification as a download job; "vornex history" prints past jobs.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace vornex {

// The usage texts.
std::string RestoreUsage();
std::string HistoryUsage();

// Runs "vornex restore ..." (args without "restore"). Exit status: 0 done, 1 the restore did not
// succeed (the backup stays open), 2 bad options or unusable station records.
int RunRestoreCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Runs "vornex history ..." (args without "history"). Exit status 0, or 2 as above.
int RunHistoryCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vornex
