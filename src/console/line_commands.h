// The line-wide commands: "vornex line init" makes or updates the line database's schema and
// roles, "vornex line status" prints every station of the line; "vornex history --line" and
// "vornex restore --serial/--meid" read the line through the helpers below. The line is the one
// the settings name (section Line, key Connection).
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/settings.h"
#include "line/line_rows.h"
#include "line/pg_connection.h"
#include "records/identity_record.h"

namespace vornex {

class TStationStore;

std::string LineUsage();

// The line the settings name, connected and its schema checked; null after saying why on `err`
// ("vornex COMMAND: the line cannot be reached: ..."), with the exit status in *status.
std::unique_ptr<line::TPgConnection> ConnectLine(const char* command,
                                                 const TStationSettings& settings,
                                                 std::ostream& err, int* status);

// Runs "vornex line ..." (args without "line"). Exit status kOk, kUsage, kUnavailable (no line
// set up, or it cannot be reached) or kRefused (a schema newer than this station).
int RunLineCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// How "vornex history" prints jobs.
enum class THistoryFormat { kTable, kJson, kCsv };

// "vornex history --line": the line's jobs with the station of each. The exit status.
int PrintLineHistory(const TStationSettings& settings, const line::TLineHistoryFilter& filter,
                     THistoryFormat format, std::ostream& out, std::ostream& err);

// "vornex restore --serial SN / --meid M": the newest open backup of the device on any station
// of the line, checked as a DataInfo file is, and copied into this station's store (its origin
// kept, so that closing the copy closes it on the line too). The copy, or nullopt with the exit
// status in *status after saying why.
std::optional<TIdentityBackup> CopyLineBackup(TStationStore& store,
                                              const TStationSettings& settings,
                                              const std::string& sn, const std::string& meid,
                                              std::ostream& err, int* status);

}  // namespace vornex
