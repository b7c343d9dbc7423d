// The station's records as rows of the line database, and the line-wide queries.
#include "line/line_rows.h"

#include <cstdlib>
#include <cstring>

#include "foundation/text.h"
#include "line/pg_connection.h"

namespace vornex::line {
namespace {

TPgParam Flag(bool value) {
  return Text(value ? "true" : "false");
}

std::int64_t ToInt(const std::string& text) {
  return std::atoll(text.c_str());
}

// The NV records one after the other, as the line keeps them.
std::string NvBytes(const std::vector<TNvRecord>& nv) {
  std::string bytes;
  bytes.reserve(nv.size() * TNvRecord{}.bytes.size());
  for (const TNvRecord& record : nv) {
    bytes.append(reinterpret_cast<const char*>(record.bytes.data()), record.bytes.size());
  }
  return bytes;
}

bool Insert(TPgConnection& conn, const char* sql, const std::vector<TPgParam>& params,
            const char* what, std::string* error) {
  std::string why;
  if (conn.Exec(sql, params, &why)) return true;
  *error = std::string("cannot send ") + what + " to the line: " + why;
  return false;
}

constexpr const char* kJobColumns =
    "j.station_id, s.name, j.local_id, j.kind, j.slot, j.device_key, j.diag_com, j.modem_com, "
    "j.diag_com_after, j.modem_com_after, j.version_before, j.version_after, j.image_tag, "
    "j.image_sha256, j.sn_before, j.meid_before, j.tflag_before, j.sn_after, j.meid_after, "
    "j.tflag_after, j.nv_backed_up, j.nv_differ, j.at_differ, j.identity_verified, j.steps, "
    "j.pass, j.failure, j.cause, coalesce(j.backup_id, 0), j.started_at, j.ended_at, "
    "j.elapsed_ms, j.step_times";

TLineJob ReadJob(const std::vector<std::string>& row) {
  std::size_t c = 0;
  const auto next = [&]() -> const std::string& { return row[c++]; };
  TLineJob line;
  line.stationId = next();
  line.stationName = next();
  TJobSummary& j = line.job;
  j.id = ToInt(next());
  j.kind = next();
  j.slot = static_cast<std::int32_t>(ToInt(next()));
  j.deviceKey = next();
  j.diagCom = static_cast<std::int32_t>(ToInt(next()));
  j.modemCom = static_cast<std::int32_t>(ToInt(next()));
  j.diagComAfter = static_cast<std::int32_t>(ToInt(next()));
  j.modemComAfter = static_cast<std::int32_t>(ToInt(next()));
  j.versionBefore = next();
  j.versionAfter = next();
  j.imageTag = next();
  j.imageSha256 = next();
  for (const int slot : {kSlotSn, kSlotMeid, kSlotTflag}) j.identityBefore.slots[slot] = next();
  for (const int slot : {kSlotSn, kSlotMeid, kSlotTflag}) j.identityAfter.slots[slot] = next();
  j.nvBackedUp = static_cast<std::int32_t>(ToInt(next()));
  j.nvDiffer = static_cast<std::int32_t>(ToInt(next()));
  j.atDiffer = static_cast<std::int32_t>(ToInt(next()));
  j.identityVerified = next() == "t";
  j.steps = StepsFromLetters(next());
  j.pass = next() == "t";
  j.failure = next();
  j.cause = next();
  j.backupId = ToInt(next());
  j.startedAt = next();
  j.endedAt = next();
  j.elapsedMs = static_cast<std::uint32_t>(ToInt(next()));
  j.times = StepTimesFromText(next());
  return line;
}

}  // namespace

bool PushStation(TPgConnection& conn, const std::string& stationId, const std::string& name,
                 std::int64_t waiting, std::string* error) {
  std::string why;
  if (conn.Exec("INSERT INTO line.stations (station_id, name, waiting) VALUES ($1, $2, $3) "
                "ON CONFLICT (station_id) DO UPDATE SET name = EXCLUDED.name, "
                "last_contact = now(), waiting = EXCLUDED.waiting",
                {Text(stationId), Text(name), Number(waiting)}, &why)) {
    return true;
  }
  // The line's own refusals, in the operator's words (the settings name the station).
  const auto says = [&](const char* text) { return why.find(text) != std::string::npos; };
  const std::string shown = "\"" + PrintableText(name) + "\"";
  if (conn.LastState() == "23505" && says("stations_name")) {
    *error = "the line has another station named " + shown +
             ": give this station a name of its own (section Line, key Name of the settings)";
  } else if (conn.LastState() == "23505" && says("stations_login")) {
    *error =
        "the line's login of this station belongs to another station: give this station a "
        "login of its own";
  } else if (conn.LastState() == "23514" && says("stations_name_printable")) {
    *error = "the line refuses the station name " + shown +
             ": a name holds no control characters (section Line, key Name of the settings)";
  } else if (conn.LastState() == "42501" && says("row-level security")) {
    *error =
        "the line's row of this station belongs to another login: give this station the "
        "login that registered it";
  } else {
    *error = "cannot send the station's contact to the line: " + why;
  }
  return false;
}

bool PushBackup(TPgConnection& conn, const std::string& stationId, const TIdentityBackup& b,
                std::string* error) {
  const auto& at = b.at.slots;
  return Insert(
      conn,
      "INSERT INTO line.backups (station_id, local_id, created_at, source, source_file, slot, "
      "device_key, diag_com, modem_com, firmware_version, image_tag, image_sha256, "
      "item_switches, sn, imei, meid, braddr, tflag, nv, origin_station, origin_id) VALUES ($1, "
      "$2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18, $19, $20, "
      "$21) ON CONFLICT (station_id, local_id) DO NOTHING",
      {Text(stationId),
       Number(b.id),
       Text(b.createdAt),
       Text(b.source),
       Text(b.sourceFile),
       Number(b.slot),
       Text(b.deviceKey),
       Number(b.diagCom),
       Number(b.modemCom),
       Text(b.firmwareVersion),
       Text(b.imageTag),
       Text(b.imageSha256),
       Number(b.itemSwitches),
       Bytes(at[kSlotSn]),
       Bytes(at[kSlotImei]),
       Bytes(at[kSlotMeid]),
       Bytes(at[kSlotBraddr]),
       Bytes(at[kSlotTflag]),
       Bytes(NvBytes(b.nv)),
       b.originStation.empty() ? Null() : Text(b.originStation),
       b.originStation.empty() ? Null() : Number(b.originId)},
      "a backup", error);
}

bool PushClosing(TPgConnection& conn, const std::string& stationId,
                 const std::string& backupStation, std::int64_t backupId,
                 const std::string& closedAt, const std::string& how, std::string* error) {
  return Insert(conn,
                "INSERT INTO line.closings (station_id, backup_station, backup_id, closed_at, how) "
                "VALUES ($1, $2, $3, $4, $5) ON CONFLICT DO NOTHING",
                {Text(stationId), Text(backupStation), Number(backupId), Text(closedAt), Text(how)},
                "the closing of a backup", error);
}

bool PushJob(TPgConnection& conn, const std::string& stationId, const TJobSummary& j,
             std::string* error) {
  const auto& before = j.identityBefore.slots;
  const auto& after = j.identityAfter.slots;
  return Insert(
      conn,
      "INSERT INTO line.jobs (station_id, local_id, kind, slot, device_key, diag_com, modem_com, "
      "diag_com_after, modem_com_after, version_before, version_after, image_tag, "
      "image_sha256, sn_before, meid_before, tflag_before, sn_after, meid_after, tflag_after, "
      "nv_backed_up, nv_differ, at_differ, identity_verified, steps, pass, failure, cause, "
      "backup_id, started_at, ended_at, elapsed_ms, step_times) VALUES ($1, $2, $3, $4, $5, $6, "
      "$7, "
      "$8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18, $19, $20, $21, $22, $23, $24, $25, "
      "$26, $27, $28, $29, $30, $31, $32) ON CONFLICT DO NOTHING",
      {Text(stationId),
       Number(j.id),
       Text(j.kind),
       Number(j.slot),
       Text(j.deviceKey),
       Number(j.diagCom),
       Number(j.modemCom),
       Number(j.diagComAfter),
       Number(j.modemComAfter),
       Text(j.versionBefore),
       Text(j.versionAfter),
       Text(j.imageTag),
       Text(j.imageSha256),
       Bytes(before[kSlotSn]),
       Bytes(before[kSlotMeid]),
       Bytes(before[kSlotTflag]),
       Bytes(after[kSlotSn]),
       Bytes(after[kSlotMeid]),
       Bytes(after[kSlotTflag]),
       Number(j.nvBackedUp),
       Number(j.nvDiffer),
       Number(j.atDiffer),
       Flag(j.identityVerified),
       Text(StepLetters(j.steps)),
       Flag(j.pass),
       Text(j.failure),
       Text(j.cause),
       j.backupId > 0 ? Number(j.backupId) : Null(),
       Text(j.startedAt),
       Text(j.endedAt),
       Number(j.elapsedMs),
       Text(StepTimesText(j.times))},
      "a job", error);
}

namespace {

// The query of the jobs the filter chooses, without its order; its values go into *params.
std::string JobQuery(const TLineHistoryFilter& filter, std::vector<TPgParam>* params) {
  // The filters only choose fixed pieces of the query; their values are bound.
  std::string sql = std::string("SELECT ") + kJobColumns +
                    " FROM line.jobs j JOIN line.stations s USING (station_id) WHERE true";
  const auto bind = [&](TPgParam p) {
    params->push_back(std::move(p));
    std::string placeholder = "$";
    return placeholder += std::to_string(params->size());
  };
  if (!filter.since.empty()) sql += " AND j.started_at >= " + bind(Text(filter.since));
  if (!filter.until.empty()) sql += " AND j.started_at < " + bind(Text(filter.until));
  if (!filter.serial.empty()) sql += " AND j.sn_before = " + bind(Bytes(filter.serial));
  if (!filter.key.empty())
    sql += " AND lower(j.device_key) = lower(" + bind(Text(filter.key)) + ")";
  if (!filter.station.empty()) {
    const std::string p = bind(Text(filter.station));
    sql += " AND (s.name = " + p + " OR starts_with(s.station_id::text, " + p + "))";
  }
  return sql;
}

}  // namespace

std::optional<std::vector<TLineJob>> LineHistory(TPgConnection& conn,
                                                 const TLineHistoryFilter& filter,
                                                 std::string* error) {
  std::vector<TPgParam> params;
  std::string sql = JobQuery(filter, &params);
  params.push_back(filter.limit > 0 ? Number(filter.limit) : Null());
  sql += " ORDER BY j.started_at DESC, j.received_at DESC, j.local_id DESC LIMIT $" +
         std::to_string(params.size());
  std::string why;
  const auto rows = conn.Exec(sql, params, &why);
  if (!rows) {
    *error = "cannot read the line's job history: " + why;
    return std::nullopt;
  }
  std::vector<TLineJob> jobs;
  for (const auto& row : rows->rows) jobs.push_back(ReadJob(row));
  return jobs;
}

bool VisitLineJobs(TPgConnection& conn, const TLineHistoryFilter& filter,
                   const TLineJobVisitor& visit, std::string* error) {
  // A cursor lives in a transaction; a read-only one holds no lock that a push would wait for.
  constexpr int kBatch = 500;
  std::vector<TPgParam> params;
  const std::string sql = "DECLARE report_jobs NO SCROLL CURSOR FOR " + JobQuery(filter, &params) +
                          " ORDER BY j.started_at, j.received_at, j.local_id";
  std::string why;
  const auto fail = [&](const std::string& what) {
    std::string ignored;
    if (!conn.Broken()) conn.Run("ROLLBACK", &ignored);
    *error = "cannot read the line's jobs: " + what;
    return false;
  };
  if (!conn.Run("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY", &why)) return fail(why);
  if (!conn.Exec(sql, params, &why)) return fail(why);
  const std::string fetch = "FETCH " + std::to_string(kBatch) + " FROM report_jobs";
  for (bool more = true; more;) {
    const auto rows = conn.Exec(fetch, {}, &why);
    if (!rows) return fail(why);
    more = rows->rows.size() == static_cast<std::size_t>(kBatch);
    for (const auto& row : rows->rows) {
      if (!visit(ReadJob(row))) {
        more = false;
        break;
      }
    }
  }
  if (!conn.Run("COMMIT", &why)) return fail(why);
  return true;
}

std::optional<std::vector<TLineBackup>> OpenLineBackups(TPgConnection& conn, const std::string& sn,
                                                        const std::string& meid,
                                                        std::string* error) {
  std::string why;
  const auto rows = conn.Exec(
      "SELECT b.station_id, s.name, to_char(b.received_at, 'YYYY-MM-DD HH24:MI:SS.MS'), "
      "b.local_id, b.created_at, b.source, b.source_file, b.slot, b.device_key, b.diag_com, "
      "b.modem_com, b.firmware_version, b.image_tag, b.image_sha256, b.item_switches, b.sn, "
      "b.imei, b.meid, b.braddr, b.tflag, b.nv FROM line.backups b JOIN line.stations s USING "
      "(station_id) WHERE ((length($1::bytea) > 0 AND b.sn = $1::bytea) OR (length($2::bytea) > 0 "
      "AND b.meid = $2::bytea)) AND NOT EXISTS (SELECT 1 FROM line.closings c WHERE "
      "c.backup_station = b.station_id AND c.backup_id = b.local_id) AND NOT EXISTS (SELECT 1 "
      "FROM line.backups copy WHERE copy.origin_station = b.station_id AND copy.origin_id = "
      "b.local_id) ORDER BY b.received_at DESC, b.station_id, b.local_id DESC",
      {Bytes(sn), Bytes(meid)}, &why);
  if (!rows) {
    *error = "cannot look for the device's open backups on the line: " + why;
    return std::nullopt;
  }
  std::vector<TLineBackup> found;
  for (const auto& row : rows->rows) {
    TLineBackup& line = found.emplace_back();
    std::size_t c = 0;
    const auto next = [&]() -> const std::string& { return row[c++]; };
    line.stationId = next();
    line.stationName = next();
    line.receivedAt = next();
    TIdentityBackup& b = line.backup;
    b.id = ToInt(next());
    b.createdAt = next();
    b.source = next();
    b.sourceFile = next();
    b.slot = static_cast<std::int32_t>(ToInt(next()));
    b.deviceKey = next();
    b.diagCom = static_cast<std::int32_t>(ToInt(next()));
    b.modemCom = static_cast<std::int32_t>(ToInt(next()));
    b.firmwareVersion = next();
    b.imageTag = next();
    b.imageSha256 = next();
    b.itemSwitches = static_cast<std::uint32_t>(ToInt(next()));
    for (std::string& slot : b.at.slots) slot = next();
    const std::string& nv = next();
    const std::size_t size = TNvRecord{}.bytes.size();
    if (nv.size() % size != 0) {
      *error = "the line's backup " + std::to_string(b.id) + " of station " +
               PrintableText(line.stationName) + " has damaged NV records (" +
               std::to_string(nv.size()) + " bytes)";
      return std::nullopt;
    }
    for (std::size_t at = 0; at < nv.size(); at += size) {
      std::memcpy(b.nv.emplace_back().bytes.data(), nv.data() + at, size);
    }
  }
  return found;
}

std::optional<std::vector<TLineStation>> LineStations(TPgConnection& conn, std::string* error) {
  std::string why;
  const auto rows = conn.Exec(
      "SELECT s.station_id, s.name, to_char(s.last_contact, 'YYYY-MM-DD HH24:MI:SS'), s.waiting, "
      "(SELECT count(*) FROM line.backups b WHERE b.station_id = s.station_id AND NOT EXISTS "
      "(SELECT 1 FROM line.closings c WHERE c.backup_station = b.station_id AND c.backup_id = "
      "b.local_id)), (SELECT count(*) FROM line.jobs j WHERE j.station_id = s.station_id) FROM "
      "line.stations s ORDER BY s.name, s.station_id",
      {}, &why);
  if (!rows) {
    *error = "cannot read the line's stations: " + why;
    return std::nullopt;
  }
  std::vector<TLineStation> stations;
  for (const auto& row : rows->rows) {
    stations.push_back({row[0], row[1], row[2], ToInt(row[3]), ToInt(row[4]), ToInt(row[5])});
  }
  return stations;
}

}  // namespace vornex::line
