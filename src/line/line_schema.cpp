// The line database's schema and its migrations (PostgreSQL 15).
#include "line/line_schema.h"

#include <algorithm>
#include <iterator>

#include "line/pg_connection.h"

namespace vornex::line {
namespace {

// Schema 1. Times a station gives are its local times as it keeps them ("YYYY-MM-DD
// HH:MM:SS[.mmm]"); received_at is the server's. Identity values and NV records are device bytes
// (bytea); a backup's NV records lie one after the other, 130 bytes each, in the order read.
constexpr const char* kLineSchema1 = R"sql(
CREATE TABLE line.schema_version (version integer NOT NULL);
INSERT INTO line.schema_version VALUES (0);

CREATE TABLE line.stations (
  station_id uuid PRIMARY KEY,
  login name NOT NULL DEFAULT session_user,
  name text NOT NULL,
  first_contact timestamptz NOT NULL DEFAULT now(),
  last_contact timestamptz NOT NULL DEFAULT now(),
  waiting bigint NOT NULL DEFAULT 0
);

CREATE TABLE line.backups (
  station_id uuid NOT NULL REFERENCES line.stations,
  local_id bigint NOT NULL,
  created_at text NOT NULL,
  received_at timestamptz NOT NULL DEFAULT now(),
  source text NOT NULL,
  source_file text NOT NULL,
  slot integer NOT NULL,
  device_key text NOT NULL,
  diag_com integer NOT NULL,
  modem_com integer NOT NULL,
  firmware_version text NOT NULL,
  image_tag text NOT NULL,
  image_sha256 text NOT NULL,
  item_switches bigint NOT NULL,
  sn bytea NOT NULL,
  imei bytea NOT NULL,
  meid bytea NOT NULL,
  braddr bytea NOT NULL,
  tflag bytea NOT NULL,
  nv bytea NOT NULL CHECK (length(nv) % 130 = 0),
  origin_station uuid,
  origin_id bigint,
  PRIMARY KEY (station_id, local_id)
);
CREATE INDEX backups_sn ON line.backups (sn) WHERE length(sn) > 0;
CREATE INDEX backups_meid ON line.backups (meid) WHERE length(meid) > 0;

CREATE TABLE line.closings (
  station_id uuid NOT NULL REFERENCES line.stations,
  backup_station uuid NOT NULL,
  backup_id bigint NOT NULL,
  closed_at text NOT NULL,
  how text NOT NULL,
  received_at timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (backup_station, backup_id, station_id),
  FOREIGN KEY (backup_station, backup_id) REFERENCES line.backups (station_id, local_id)
);

CREATE TABLE line.jobs (
  station_id uuid NOT NULL REFERENCES line.stations,
  local_id bigint NOT NULL,
  received_at timestamptz NOT NULL DEFAULT now(),
  kind text NOT NULL,
  slot integer NOT NULL,
  device_key text NOT NULL,
  diag_com integer NOT NULL,
  modem_com integer NOT NULL,
  diag_com_after integer NOT NULL,
  modem_com_after integer NOT NULL,
  version_before text NOT NULL,
  version_after text NOT NULL,
  image_tag text NOT NULL,
  image_sha256 text NOT NULL,
  sn_before bytea NOT NULL,
  meid_before bytea NOT NULL,
  tflag_before bytea NOT NULL,
  sn_after bytea NOT NULL,
  meid_after bytea NOT NULL,
  tflag_after bytea NOT NULL,
  nv_backed_up integer NOT NULL,
  nv_differ integer NOT NULL,
  at_differ integer NOT NULL,
  identity_verified boolean NOT NULL,
  steps text NOT NULL,
  pass boolean NOT NULL,
  failure text NOT NULL,
  cause text NOT NULL,
  backup_id bigint,
  started_at text NOT NULL,
  ended_at text NOT NULL,
  elapsed_ms bigint NOT NULL,
  PRIMARY KEY (station_id, local_id)
);
CREATE INDEX jobs_started_at ON line.jobs (started_at);
CREATE INDEX jobs_sn_before ON line.jobs (sn_before);
CREATE INDEX jobs_device_key ON line.jobs (lower(device_key));

GRANT USAGE ON SCHEMA line TO vornex_station;
GRANT SELECT ON ALL TABLES IN SCHEMA line TO vornex_station;
GRANT INSERT ON line.backups, line.closings, line.jobs, line.stations TO vornex_station;
GRANT UPDATE (name, last_contact, waiting) ON line.stations TO vornex_station;
-- A station's row is its login's: another login may read it, not add it or note its contact.
ALTER TABLE line.stations ENABLE ROW LEVEL SECURITY;
CREATE POLICY stations_read ON line.stations FOR SELECT USING (true);
CREATE POLICY stations_add ON line.stations FOR INSERT WITH CHECK (login = session_user);
CREATE POLICY stations_contact ON line.stations FOR UPDATE USING (login = session_user)
  WITH CHECK (login = session_user);
)sql";

// Schema 2: when each timed step of a job began and ended (the records' "begin:end;..." text;
// empty for jobs pushed before).
constexpr const char* kLineSchema2 = R"sql(
ALTER TABLE line.jobs ADD COLUMN step_times text NOT NULL DEFAULT '';
)sql";

// Schema 3: the database, not the station, ties every row to the login that adds it.
// - A login registers one station (its first contact); stations that shared a login before are
//   kept, marked shared_login, and may go on pushing under it.
// - Station names are unique and printable: no control characters (C0, DEL, C1, so no escape
//   sequence), no line or paragraph separators, no bidirectional overrides. Names that were not
//   are mended here (a '?' for each such character; a name taken already gets its station id).
// - Backups, closings and jobs are added only in the name of a station of the login. A station
//   closes its own backups; another station's backup only beside the closing of its own copy of
//   it (a backup of its own whose origin names that backup and holds the same device).
// - A station adds its row with its id, name and waiting count only: the login, the times and
//   the shared mark are the server's.
constexpr const char* kLineSchema3 = R"sql(
UPDATE line.stations SET name =
  regexp_replace(name, '[\x01-\x1f\x7f-\x9f\u2028\u2029\u202a-\u202e\u2066-\u2069]', '?', 'g')
  WHERE name ~ '[\x01-\x1f\x7f-\x9f\u2028\u2029\u202a-\u202e\u2066-\u2069]';
UPDATE line.stations SET name = station_id::text WHERE name = '';
UPDATE line.stations s SET name = s.name || ' (' || s.station_id || ')'
  FROM (SELECT station_id, row_number() OVER (PARTITION BY name ORDER BY first_contact, station_id)
        AS n FROM line.stations) d
  WHERE d.station_id = s.station_id AND d.n > 1;
ALTER TABLE line.stations
  ADD COLUMN shared_login boolean NOT NULL DEFAULT false,
  ADD CONSTRAINT stations_name_printable CHECK (name <> '' AND
    name !~ '[\x01-\x1f\x7f-\x9f\u2028\u2029\u202a-\u202e\u2066-\u2069]');
UPDATE line.stations s SET shared_login = true
  WHERE (SELECT count(*) FROM line.stations o WHERE o.login = s.login) > 1;
CREATE UNIQUE INDEX stations_name ON line.stations (name);
CREATE UNIQUE INDEX stations_login ON line.stations (login) WHERE NOT shared_login;

REVOKE INSERT ON line.stations FROM vornex_station;
GRANT INSERT (station_id, name, waiting) ON line.stations TO vornex_station;

CREATE FUNCTION line.login_station(station uuid) RETURNS boolean LANGUAGE sql STABLE
  SET search_path = pg_catalog, pg_temp AS
  'SELECT EXISTS (SELECT 1 FROM line.stations WHERE station_id = station AND login = session_user)';

ALTER TABLE line.jobs ENABLE ROW LEVEL SECURITY;
CREATE POLICY jobs_read ON line.jobs FOR SELECT USING (true);
CREATE POLICY jobs_add ON line.jobs FOR INSERT WITH CHECK (line.login_station(station_id));

ALTER TABLE line.backups ENABLE ROW LEVEL SECURITY;
CREATE POLICY backups_read ON line.backups FOR SELECT USING (true);
CREATE POLICY backups_add ON line.backups FOR INSERT WITH CHECK (line.login_station(station_id));

ALTER TABLE line.closings ENABLE ROW LEVEL SECURITY;
CREATE POLICY closings_read ON line.closings FOR SELECT USING (true);
CREATE POLICY closings_add ON line.closings FOR INSERT WITH CHECK (
  line.login_station(station_id) AND (backup_station = station_id OR EXISTS (
    SELECT 1 FROM line.backups copy
      JOIN line.backups origin ON origin.station_id = copy.origin_station
        AND origin.local_id = copy.origin_id
      JOIN line.closings own ON own.station_id = copy.station_id
        AND own.backup_station = copy.station_id AND own.backup_id = copy.local_id
      WHERE copy.station_id = closings.station_id AND copy.origin_station = closings.backup_station
        AND copy.origin_id = closings.backup_id AND copy.sn = origin.sn
        AND copy.meid = origin.meid)));
)sql";

// Schema 4: a restore from the line trusts only the server's time and takes a backup once.
// - received_at is set by the server on every insert, whatever a station gives: the line orders
//   the backups of a device by their arrival, never by a station's clock.
// - A backup is copied by one station (a unique index on its origin); a copy of a backup that
//   has a closing is refused. Copies that lines of an older schema hold twice stay, marked
//   older_copy, a mark the stations cannot give.
constexpr const char* kLineSchema4 = R"sql(
CREATE FUNCTION line.arrival() RETURNS trigger LANGUAGE plpgsql
  SET search_path = pg_catalog, pg_temp AS
  'BEGIN NEW.received_at := clock_timestamp(); RETURN NEW; END';
CREATE TRIGGER backups_arrival BEFORE INSERT ON line.backups
  FOR EACH ROW EXECUTE FUNCTION line.arrival();
CREATE TRIGGER closings_arrival BEFORE INSERT ON line.closings
  FOR EACH ROW EXECUTE FUNCTION line.arrival();
CREATE TRIGGER jobs_arrival BEFORE INSERT ON line.jobs
  FOR EACH ROW EXECUTE FUNCTION line.arrival();

ALTER TABLE line.backups ADD COLUMN older_copy boolean NOT NULL DEFAULT false;
UPDATE line.backups b SET older_copy = true FROM (SELECT station_id, local_id, row_number() OVER
    (PARTITION BY origin_station, origin_id ORDER BY received_at, station_id, local_id) AS n
    FROM line.backups WHERE origin_station IS NOT NULL) d
  WHERE d.station_id = b.station_id AND d.local_id = b.local_id AND d.n > 1;
CREATE UNIQUE INDEX backups_copied_once ON line.backups (origin_station, origin_id)
  WHERE origin_station IS NOT NULL AND NOT older_copy;
REVOKE INSERT ON line.backups FROM vornex_station;
GRANT INSERT (station_id, local_id, created_at, source, source_file, slot, device_key, diag_com,
  modem_com, firmware_version, image_tag, image_sha256, item_switches, sn, imei, meid, braddr,
  tflag, nv, origin_station, origin_id) ON line.backups TO vornex_station;

DROP POLICY backups_add ON line.backups;
CREATE POLICY backups_add ON line.backups FOR INSERT WITH CHECK (
  line.login_station(station_id) AND (origin_station IS NULL OR NOT EXISTS (
    SELECT 1 FROM line.closings c
      WHERE c.backup_station = backups.origin_station AND c.backup_id = backups.origin_id)));
)sql";

constexpr const char* kLineMigrations[] = {kLineSchema1, kLineSchema2, kLineSchema3, kLineSchema4};

// The schema's version, 0 when the database has none. False with *error.
bool ReadVersion(TPgConnection& conn, std::int64_t* version, std::string* error) {
  const auto exists = conn.Exec("SELECT to_regclass('line.schema_version') IS NOT NULL", {}, error);
  if (!exists) return false;
  *version = 0;
  if (exists->rows.empty() || exists->rows[0][0] != "t") return true;
  const auto rows =
      conn.Exec("SELECT coalesce(max(version), 0) FROM line.schema_version", {}, error);
  if (!rows) return false;
  *version = rows->rows.empty() ? 0 : std::atoll(rows->rows[0][0].c_str());
  return true;
}

}  // namespace

std::int64_t NewestLineSchema() {
  return static_cast<std::int64_t>(std::size(kLineMigrations));
}

bool CheckLineSchema(TPgConnection& conn, std::int64_t* version, std::string* error) {
  std::string why;
  if (!ReadVersion(conn, version, &why)) {
    *version = 0;
    *error = "cannot read the line's schema: " + why;
    return false;
  }
  const std::string newest = std::to_string(NewestLineSchema());
  if (*version <= 0) {
    *error = "the line database has no line schema yet: run vornex line init";
  } else if (*version < NewestLineSchema()) {
    *error = "the line database has schema " + std::to_string(*version) + ", this station needs " +
             newest + ": run vornex line init";
  } else if (*version > NewestLineSchema()) {
    *error = "the line database has schema " + std::to_string(*version) +
             ", newer than this station knows (" + newest + ")";
  } else {
    return true;
  }
  return false;
}

bool InitLine(TPgConnection& admin, TLineInitReport* report, std::string* error,
              std::int64_t target) {
  target = std::min(target, NewestLineSchema());
  const std::string owner = kOwnerRole;
  const std::string station = kStationRole;
  if (!admin.Run("BEGIN", error)) return false;
  const auto fail = [&](const std::string& what, const std::string& why) {
    std::string ignored;
    admin.Run("ROLLBACK", &ignored);
    *error = what + ": " + why;
    return false;
  };
  std::string why;
  const auto roles = admin.Exec("SELECT count(*) FROM pg_roles WHERE rolname IN ($1, $2)",
                                {Text(owner), Text(station)}, &why);
  if (!roles) return fail("cannot read the roles", why);
  report->rolesCreated = roles->rows[0][0] != "2";
  // Roles are made only when missing; an existing role is taken as it is.
  const std::string makeRoles =
      "DO $$ BEGIN "
      "IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = '" +
      owner +
      "') THEN "
      "CREATE ROLE " +
      owner +
      " NOLOGIN; END IF; "
      "IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = '" +
      station +
      "') THEN "
      "CREATE ROLE " +
      station +
      " NOLOGIN; END IF; END $$; "
      "GRANT " +
      owner +
      " TO CURRENT_USER; "
      "CREATE SCHEMA IF NOT EXISTS line AUTHORIZATION " +
      owner +
      "; "
      "REVOKE ALL ON SCHEMA line FROM PUBLIC";
  if (!admin.Run(makeRoles, &why)) return fail("cannot create the line's roles and schema", why);
  if (!ReadVersion(admin, &report->schemaBefore, &why)) {
    return fail("cannot read the line's schema", why);
  }
  if (report->schemaBefore > NewestLineSchema()) {
    return fail("the line database has a newer schema",
                "schema " + std::to_string(report->schemaBefore) + ", this station knows up to " +
                    std::to_string(NewestLineSchema()));
  }
  if (!admin.Run("SET LOCAL ROLE " + owner, &why)) return fail("cannot act as " + owner, why);
  for (std::int64_t step = report->schemaBefore; step < target; ++step) {
    if (!admin.Run(kLineMigrations[step], &why) ||
        !admin.Exec("UPDATE line.schema_version SET version = $1", {Number(step + 1)}, &why)) {
      return fail("cannot bring the line database to schema " + std::to_string(step + 1), why);
    }
  }
  if (!admin.Run("COMMIT", &why)) return fail("cannot commit the line's schema", why);
  report->schemaAfter = std::max(report->schemaBefore, target);
  return true;
}

}  // namespace vornex::line
