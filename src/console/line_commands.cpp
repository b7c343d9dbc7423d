// "vornex line init", "vornex line status", and the line's part of "vornex history" and
// "vornex restore".
#include "console/line_commands.h"

#include "console/exit_status.h"
#include "console/job_report.h"
#include "console/records_options.h"
#include "download/data_info.h"
#include "download/identity_backup.h"
#include "foundation/text.h"
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

std::optional<TIdentityBackup> CopyLineBackup(TStationStore& store,
                                              const TStationSettings& settings,
                                              const std::string& sn, const std::string& meid,
                                              std::ostream& err, int* status) {
  auto conn = ConnectLine("restore", settings, err, status);
  if (!conn) return std::nullopt;
  std::string error;
  const auto found = line::NewestLineBackup(*conn, sn, meid, &error);
  if (!found) {
    err << "vornex restore: " << error << '\n';
    *status = exit_status::kUnavailable;
    return std::nullopt;
  }
  const std::string device =
      !sn.empty() ? "serial number " + AnsiToUtf8(sn) : "MEID " + AnsiToUtf8(meid);
  if (!*found) {
    err << "vornex restore: no station of the line holds an open backup of the device with "
        << device << '\n';
    *status = exit_status::kRefused;
    return std::nullopt;
  }
  const line::TLineBackup& from = **found;
  const std::string name = "backup " + std::to_string(from.backup.id) + " of station " +
                           PrintableText(from.stationName) + " (" + from.stationId + ")";
  // A row of the line is written to a device only when it could have come from a station.
  if (const std::string fault = BackupFault(from.backup); !fault.empty()) {
    err << "vornex restore: the line's " << name << " is refused: " << fault << '\n';
    *status = exit_status::kRefused;
    return std::nullopt;
  }
  if (from.stationId == store.StationId()) {
    // This station's own backup: restored where it is, while it is open here.
    auto own = store.LoadBackup(from.backup.id, &error);
    if (own && own->open) return own;
    err << "vornex restore: the line's " << name << " is this station's and "
        << (own ? "closed here already (the line has not received its closing yet)" : error)
        << '\n';
    *status = exit_status::kRefused;
    return std::nullopt;
  }
  TIdentityBackup copy = from.backup;
  copy.source = kBackupSourceLine;
  copy.sourceFile = name;
  copy.openReason = "copied from the line";
  copy.originStation = from.stationId;
  copy.originId = from.backup.id;
  copy.id = store.CommitBackup(copy, &error);
  if (copy.id == 0) {
    err << "vornex restore: the line's " << name << " cannot be kept here: " << error << '\n';
    *status = exit_status::kUnavailable;
    return std::nullopt;
  }
  err << "vornex restore: " << name << " (" << device << ", " << from.backup.createdAt
      << ") copied into this station's records as backup " << copy.id << '\n';
  return store.LoadBackup(copy.id, &error);
}

}  // namespace vornex
