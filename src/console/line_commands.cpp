// "vornex line init", "vornex line status", and the line's part of "vornex history" and
// "vornex restore".
#include "console/line_commands.h"

#include <algorithm>
#include <iterator>

#include "console/exit_status.h"
#include "console/job_report.h"
#include "console/records_options.h"
#include "download/data_info.h"
#include "download/identity_backup.h"
#include "foundation/text.h"
#include "line/line_os.h"
#include "line/line_push.h"
#include "line/line_schema.h"
#include "line/pg_connection.h"
#include "store/station_store.h"

namespace vornex {

std::unique_ptr<line::TPgConnection> ConnectLine(const char* command,
                                                 const TStationSettings& settings,
                                                 std::ostream& err, int* status) {
  *status = exit_status::kUnavailable;
  std::string fault;
  if (settings.lineConnection.empty()) {
    fault =
        "no line is set up: name its connection in the settings (section Line, key "
        "Connection)";
  } else {
    fault = line::SettingsConnInfoFault(settings.lineConnection, settings.lineConnectionCut);
  }
  std::string error;
  std::unique_ptr<line::TPgConnection> conn;
  if (fault.empty()) conn = line::TPgConnection::Connect(settings.lineConnection, &error);
  if (conn) {
    std::int64_t schema = 0;
    if (line::CheckLineSchema(*conn, &schema, &error)) return conn;
    fault = error;
    if (schema > line::NewestLineSchema()) {
      *status = exit_status::kRefused;
      fault += ": update the station";
    }
  } else if (fault.empty()) {
    fault = "the line cannot be reached: " + error;
  }
  err << "vornex " << command << ": " << fault << '\n';
  return nullptr;
}

namespace {

int InitCommand(const TOptions& options, std::ostream& out, std::ostream& err) {
  const std::string conninfo = options.Get("--admin");
  if (const std::string fault = line::ConnInfoFault(conninfo); !fault.empty()) {
    return RefuseCommandLine("line init", "--admin: " + fault, LineUsage(), err);
  }
  std::string error;
  auto conn = line::TPgConnection::Connect(conninfo, &error);
  if (!conn) {
    err << "vornex line init: the database cannot be reached: " << error << '\n';
    return exit_status::kUnavailable;
  }
  line::TLineInitReport report;
  if (!line::InitLine(*conn, &report, &error)) {
    err << "vornex line init: " << error << " (nothing was changed)\n";
    return exit_status::kUnavailable;
  }
  out << (report.schemaBefore == 0 ? "Line database created" : "Line database up to date")
      << ": schema " << report.schemaAfter;
  if (report.schemaBefore != 0 && report.schemaBefore != report.schemaAfter) {
    out << " (was " << report.schemaBefore << ")";
  }
  out << "; roles " << line::kOwnerRole << " (owner) and " << line::kStationRole
      << " (stations: read, add history)" << (report.rolesCreated ? " created" : "") << ".\n"
      << "Give each station a login in role " << line::kStationRole
      << ", e.g.: CREATE ROLE station1 LOGIN PASSWORD '...' IN ROLE " << line::kStationRole
      << ";\n";
  return exit_status::kOk;
}

int StatusCommand(const TOptions& options, std::ostream& out, std::ostream& err) {
  int status = 0;
  auto conn = ConnectLine("line status", CommandSettings(options), err, &status);
  if (!conn) return status;
  std::string error;
  const auto stations = line::LineStations(*conn, &error);
  if (!stations) {
    err << "vornex line status: " << error << '\n';
    return exit_status::kUnavailable;
  }
  if (stations->empty()) {
    out << "No station has sent records to the line yet.\n";
    return exit_status::kOk;
  }
  out << "STATION                               NAME              LAST CONTACT         WAITING"
         "  OPEN BACKUPS  JOBS\n";
  for (const line::TLineStation& s : *stations) {
    out << PrintableText(FormatBounded(
               1023, "%-37s %-17s %-20s %7lld  %12lld  %lld", s.stationId.c_str(), s.name.c_str(),
               s.lastContact.c_str(), static_cast<long long>(s.waiting),
               static_cast<long long>(s.openBackups), static_cast<long long>(s.jobs)))
        << '\n';
  }
  return exit_status::kOk;
}

}  // namespace

std::string LineUsage() {
  return "usage: vornex line init --admin CONNECTION\n"
         "       vornex line status [--settings FILE]\n"
         "  init     creates the line database's schema and roles, or brings them up to date\n"
         "           (CONNECTION: a libpq connection string of a role that may create roles\n"
         "           and schemas, without a password: use the password file or a service)\n"
         "  status   every station of the line: last contact, records waiting, open backups\n";
}

int RunLineCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (AsksForHelp(args)) {
    out << LineUsage();
    return exit_status::kOk;
  }
  std::string mistake;
  const auto options = ParseOptions(args, {"--admin", "--settings"}, {}, true, &mistake);
  if (options) {
    if (options->word != "init" && options->word != "status") {
      mistake = options->word.empty() ? "init or status?" : "unknown word: " + options->word;
    } else if (options->word == "init" && !options->Has("--admin")) {
      mistake = "init needs --admin CONNECTION";
    } else if (options->word == "status" && options->Has("--admin")) {
      mistake = "--admin belongs to init";
    } else {
      mistake = PathMistake(*options);
    }
  }
  if (!mistake.empty()) return RefuseCommandLine("line", mistake, LineUsage(), err);
  return options->word == "init" ? InitCommand(*options, out, err)
                                 : StatusCommand(*options, out, err);
}

int PrintLineHistory(const TStationSettings& settings, const line::TLineHistoryFilter& filter,
                     THistoryFormat format, std::ostream& out, std::ostream& err) {
  int status = 0;
  auto conn = ConnectLine("history", settings, err, &status);
  if (!conn) return status;
  std::string error;
  const auto jobs = line::LineHistory(*conn, filter, &error);
  if (!jobs) {
    err << "vornex history: " << error << '\n';
    return exit_status::kUnavailable;
  }
  if (format == THistoryFormat::kJson) {
    for (const line::TLineJob& j : *jobs) {
      out << "{\"station\":" << JsonString(j.stationId)
          << ",\"station_name\":" << JsonString(j.stationName) << ',' << JobJson(j.job).substr(1)
          << '\n';
    }
  } else if (format == THistoryFormat::kCsv) {
    out << "station,station_name," << JobCsvHeader() << '\n';
    for (const line::TLineJob& j : *jobs) {
      out << PrintableText(CsvField(j.stationId) + ',' + CsvField(j.stationName) + ',' +
                           JobCsvRow(j.job))
          << '\n';
    }
  } else {
    out << "STATION           JOB     STARTED                  KIND     SLOT  KEY       SN       "
           "         VERDICT  REASON\n";
    for (const line::TLineJob& j : *jobs) {
      const TJobSummary& job = j.job;
      out << PrintableText(FormatBounded(
                 1023, "%-17s %-7lld %-24s %-8s %-5s %-9s %-17s %-8s %s", j.stationName.c_str(),
                 static_cast<long long>(job.id), job.startedAt.c_str(), job.kind.c_str(),
                 job.slot >= 0 ? std::string(1, static_cast<char>('A' + job.slot)).c_str() : "-",
                 job.deviceKey.c_str(), AnsiToUtf8(job.identityBefore.slots[kSlotSn]).c_str(),
                 job.pass ? "PASS" : "FAILED", job.failure.c_str()))
          << '\n';
    }
  }
  return exit_status::kOk;
}

namespace {

// "backup 7 of station st2 (4f1c...)".
std::string LineBackupName(const line::TLineBackup& b) {
  return "backup " + std::to_string(b.backup.id) + " of station " + PrintableText(b.stationName) +
         " (" + b.stationId + ")";
}

// What `b` holds otherwise than `latest`: "MEID, test flag, NV items"; empty when nothing.
std::string Differences(const TIdentityBackup& b, const TIdentityBackup& latest) {
  constexpr const char* kSlotNames[] = {"SN", "IMEI", "MEID", "BT address", "test flag"};
  std::string what;
  const auto add = [&](const char* name) {
    what += (what.empty() ? "" : ", ") + std::string(name);
  };
  for (std::size_t slot = 0; slot < b.at.slots.size() && slot < std::size(kSlotNames); ++slot) {
    if (b.at.slots[slot] != latest.at.slots[slot]) add(kSlotNames[slot]);
  }
  const auto sameNv = [](const TNvRecord& x, const TNvRecord& y) { return x.bytes == y.bytes; };
  if (!std::equal(b.nv.begin(), b.nv.end(), latest.nv.begin(), latest.nv.end(), sameNv)) {
    add("NV items");
  }
  if (b.itemSwitches != latest.itemSwitches) add("items kept");
  return what;
}

// Whether "STATION:ID" (the station by its id or name) names the backup.
bool Names(const std::string& named, const line::TLineBackup& b) {
  const std::size_t colon = named.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string station = named.substr(0, colon);
  return (station == b.stationId || station == b.stationName) &&
         named.substr(colon + 1) == std::to_string(b.backup.id);
}

// The candidates, the latest to reach the line first, each with what it holds otherwise.
void ListLineBackups(const std::vector<const line::TLineBackup*>& fit, std::ostream& err) {
  err << "  BACKUP (STATION:ID)                       STATION           TAKEN (its clock)        "
         "RECEIVED BY THE LINE     DIFFERS FROM THE LATEST\n";
  for (const line::TLineBackup* b : fit) {
    const std::string differs = Differences(b->backup, fit.front()->backup);
    err << PrintableText(FormatBounded(1023, "  %-41s %-17s %-24s %-24s %s",
                                       (b->stationId + ":" + std::to_string(b->backup.id)).c_str(),
                                       b->stationName.c_str(), b->backup.createdAt.c_str(),
                                       b->receivedAt.c_str(),
                                       b == fit.front()  ? "(the latest)"
                                       : differs.empty() ? "nothing"
                                                         : differs.c_str()))
        << '\n';
  }
}

}  // namespace

std::optional<TIdentityBackup> ChooseLineBackup(TStationStore& store,
                                                const TStationSettings& settings,
                                                const TLineBackupChoice& choice, std::ostream& err,
                                                int* status) {
  auto conn = ConnectLine("restore", settings, err, status);
  if (!conn) return std::nullopt;
  std::string error;
  const auto found = line::OpenLineBackups(*conn, choice.sn, choice.meid, &error);
  if (!found) {
    err << "vornex restore: " << error << '\n';
    *status = exit_status::kUnavailable;
    return std::nullopt;
  }
  *status = exit_status::kRefused;
  const std::string device = !choice.sn.empty() ? "serial number " + AnsiToUtf8(choice.sn)
                                                : "MEID " + AnsiToUtf8(choice.meid);
  // Every candidate is checked before any is chosen: a row of the line is written to a device
  // only when it could have come from a station.
  std::vector<const line::TLineBackup*> fit;
  for (const line::TLineBackup& b : *found) {
    if (const std::string fault = BackupFault(b.backup); !fault.empty()) {
      err << "vornex restore: the line's " << LineBackupName(b) << " is refused: " << fault << '\n';
    } else {
      fit.push_back(&b);
    }
  }
  if (fit.empty()) {
    err << "vornex restore: no station of the line holds an open backup of the device with "
        << device << " that may be restored\n";
    return std::nullopt;
  }
  const std::string again = "vornex restore " +
                            std::string(choice.sn.empty() ? "--meid " : "--serial ") +
                            AnsiToUtf8(choice.sn.empty() ? choice.meid : choice.sn);
  const line::TLineBackup* chosen = fit.front();
  if (!choice.named.empty()) {
    const auto named = std::find_if(fit.begin(), fit.end(), [&](const line::TLineBackup* b) {
      return Names(choice.named, *b);
    });
    if (named == fit.end()) {
      err << "vornex restore: --line-backup " << PrintableText(choice.named)
          << " is none of the line's open backups of the device with " << device << ":\n";
      ListLineBackups(fit, err);
      return std::nullopt;
    }
    chosen = *named;
  } else if (std::any_of(fit.begin(), fit.end(), [&](const line::TLineBackup* b) {
               return b->stationId != chosen->stationId ||
                      !Differences(b->backup, chosen->backup).empty();
             })) {
    // Whose values the device gets is the operator's decision, never the newest clock's.
    err << "vornex restore: the line holds " << fit.size() << " open backups of the device with "
        << device << " from more than one station or with differing values; none is chosen:\n";
    ListLineBackups(fit, err);
    err << "Name the one to restore: " << again << " --line-backup STATION:ID\n";
    return std::nullopt;
  }
  const std::string name = LineBackupName(*chosen);
  if (chosen->stationId == store.StationId()) {
    // This station's own backup: restored where it is, while it is open here.
    auto own = store.LoadBackup(chosen->backup.id, &error);
    if (own && own->open) return own;
    err << "vornex restore: the line's " << name << " is this station's and "
        << (own ? "closed here already (the line has not received its closing yet)" : error)
        << '\n';
    return std::nullopt;
  }
  // Kept in this station's records by the restore job once the device shows it is its device.
  TIdentityBackup copy = chosen->backup;
  copy.id = 0;
  copy.source = kBackupSourceLine;
  copy.sourceFile = name;
  copy.openReason = "copied from the line";
  copy.originStation = chosen->stationId;
  copy.originId = chosen->backup.id;
  err << "vornex restore: the line's " << name << " (" << device << ", taken "
      << PrintableText(chosen->backup.createdAt) << ", received " << chosen->receivedAt << ")\n";
  *status = exit_status::kOk;
  return copy;
}

bool PushRecordsNow(TStationStore& store, const TStationSettings& settings, std::ostream& err) {
  std::string name = settings.lineName.empty() ? line::HostName() : settings.lineName;
  if (name.empty()) name = store.StationId();
  line::TLinePusher pusher(store, settings.lineConnection, std::move(name), nullptr);
  if (pusher.Drain(line::kDrainMs)) {
    err << "vornex restore: the restore and the closing are on the line\n";
    return true;
  }
  const std::string problem = pusher.State().problem;
  err << "vornex restore: the closing is NOT on the line yet ("
      << (problem.empty() ? "the line did not take every record in time" : PrintableText(problem))
      << "): until it is, another station may restore the same backup; it is sent with this "
         "station's next start\n";
  return false;
}

}  // namespace vornex
