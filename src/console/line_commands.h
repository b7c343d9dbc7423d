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

// Which of the line's open backups "vornex restore --serial SN / --meid M" takes.
struct TLineBackupChoice {
  std::string sn;     // device bytes; or
  std::string meid;   // device bytes
  std::string named;  // --line-backup STATION:ID (the station by its id or name); empty: none
};

// The line's open backup of the device to restore, every candidate checked first (as a DataInfo
// file is) and none copied into this station's store: the one backup there is, or the latest of
// one station's backups that are all equal, or the one `named`. Backups of several stations, or
// with differing values, are listed on `err` and none is chosen. This station's own backup comes
// from its store (id > 0); another station's has id 0, source kBackupSourceLine and its origin,
// and the restore job keeps it once the device has shown it is its device. Nullopt with the exit
// status in *status after saying why.
std::optional<TIdentityBackup> ChooseLineBackup(TStationStore& store,
                                                const TStationSettings& settings,
                                                const TLineBackupChoice& choice, std::ostream& err,
                                                int* status);

// Sends what the store's outbox holds (a restore's job, copy and closing) to the line now, for at
// most line::kDrainMs (scaled), and says on `err` whether the line has it all. True when it has.
bool PushRecordsNow(TStationStore& store, const TStationSettings& settings, std::ostream& err);

}  // namespace vornex
