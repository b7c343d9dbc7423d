// "vornex records": the station records' full check and their compaction on demand. The station
// itself checks the whole file at start only after it was not closed cleanly, and keeps the
// records small between batches.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace vornex {

std::string RecordsUsage();

// Runs "vornex records check|compact ..." (args without "records"). Exit status kOk, kUsage,
// kUnavailable (records that cannot be opened or are damaged).
int RunRecordsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vornex
