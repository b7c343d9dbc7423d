// "vornex report": the yield report of this station's records, or of the line's, over a period
// (the last 30 days unless told): one self-contained HTML page with charts and their tables, and
// with --csv the same tables as CSV files. It checks its whole command line first, reads every
// job before it writes anything, and writes each file whole or not at all.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace vornex {

std::string ReportUsage();

// Runs "vornex report ..." (args without "report"). Exit status kOk (written), kUsage (a
// mistake on the command line), kRefused (a line of a newer schema) or kUnavailable (records or
// line that cannot be read, a file that cannot be written).
int RunReportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vornex
