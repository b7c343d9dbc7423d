// The schema of the station records and its forward migrations, and the checks and steps that
// bring a database file to the newest schema when the store opens it: a file is read and
// checked before anything is written, and all steps of one opening run in one transaction.
#include <sqlite3.h>

#include <algorithm>
#include <iterator>

#include "store/station_store_impl.h"

namespace vornex {
namespace {

using sqlite::TDatabase;
using sqlite::TStatement;
using sqlite::TTransaction;
using TStep = sqlite::TStatement::TStep;

// Schema 1: the first schema of the station records.
constexpr const char* kSchema1 = R"sql(
CREATE TABLE backups (
  id INTEGER PRIMARY KEY,
  created_at TEXT NOT NULL,
  source TEXT NOT NULL,
  source_file TEXT NOT NULL,
  slot INTEGER NOT NULL,
  device_key TEXT NOT NULL,
  diag_com INTEGER NOT NULL,
  modem_com INTEGER NOT NULL,
  firmware_version TEXT NOT NULL,
  image_tag TEXT NOT NULL,
  image_sha256 TEXT NOT NULL,
  item_switches INTEGER NOT NULL,
  open INTEGER NOT NULL CHECK (open IN (0, 1)),
  open_reason TEXT NOT NULL DEFAULT '',
  closed_at TEXT,
  closed_how TEXT
);
CREATE INDEX backups_open ON backups(open);

CREATE TABLE backup_at (
  backup_id INTEGER NOT NULL REFERENCES backups(id) ON DELETE CASCADE,
  slot INTEGER NOT NULL CHECK (slot BETWEEN 0 AND 4),
  value BLOB NOT NULL,
  PRIMARY KEY (backup_id, slot)
) WITHOUT ROWID;

CREATE TABLE backup_nv (
  backup_id INTEGER NOT NULL REFERENCES backups(id) ON DELETE CASCADE,
  seq INTEGER NOT NULL,
  item INTEGER NOT NULL,
  data BLOB NOT NULL CHECK (length(data) = 130),
  PRIMARY KEY (backup_id, seq)
) WITHOUT ROWID;

CREATE TABLE jobs (
  id INTEGER PRIMARY KEY,
  kind TEXT NOT NULL,
  slot INTEGER NOT NULL,
  device_key TEXT NOT NULL,
  diag_com INTEGER NOT NULL,
  modem_com INTEGER NOT NULL,
  diag_com_after INTEGER NOT NULL,
  modem_com_after INTEGER NOT NULL,
  version_before TEXT NOT NULL,
  version_after TEXT NOT NULL,
  image_tag TEXT NOT NULL,
  image_sha256 TEXT NOT NULL,
  sn_before BLOB NOT NULL,
  meid_before BLOB NOT NULL,
  tflag_before BLOB NOT NULL,
  sn_after BLOB NOT NULL,
  meid_after BLOB NOT NULL,
  tflag_after BLOB NOT NULL,
  nv_backed_up INTEGER NOT NULL,
  nv_differ INTEGER NOT NULL,
  at_differ INTEGER NOT NULL,
  identity_verified INTEGER NOT NULL,
  steps TEXT NOT NULL,
  pass INTEGER NOT NULL,
  failure TEXT NOT NULL,
  backup_id INTEGER REFERENCES backups(id),
  started_at TEXT NOT NULL,
  ended_at TEXT NOT NULL,
  elapsed_ms INTEGER NOT NULL
);
CREATE INDEX jobs_started_at ON jobs(started_at);
CREATE INDEX jobs_device_key ON jobs(device_key COLLATE NOCASE);
CREATE INDEX jobs_sn_before ON jobs(sn_before);

PRAGMA user_version = 1;
)sql";

// The forward migrations: entry i brings schema i to schema i + 1 and sets user_version to it.
// A new schema is one more entry; the steps of one opening run in one transaction.
// Schema 2: the cause behind a job's failure text.
constexpr const char* kSchema2 = R"sql(
ALTER TABLE jobs ADD COLUMN cause TEXT NOT NULL DEFAULT '';
PRAGMA user_version = 2;
)sql";

// Schema 3: the station's id on a line of stations (made once, at the first opening of this
// schema), the outbox of what the line has not received yet, and where a backup copied from the
// line came from. Every backup, closing and job enters the outbox in the transaction that keeps
// it (the triggers), so nothing committed can miss the line; the records of earlier schemas are
// queued in the order the line needs them (a job after its backup, a closing after its backup).
constexpr const char* kSchema3 = R"sql(
CREATE TABLE station (
  id INTEGER PRIMARY KEY CHECK (id = 1),
  station_id TEXT NOT NULL
);
INSERT INTO station (id, station_id) SELECT 1,
  lower(hex(randomblob(4)) || '-' || hex(randomblob(2)) || '-4' || substr(hex(randomblob(2)), 2) ||
        '-' || substr('89ab', 1 + abs(random() % 4), 1) || substr(hex(randomblob(2)), 2) || '-' ||
        hex(randomblob(6)));

ALTER TABLE backups ADD COLUMN origin_station TEXT NOT NULL DEFAULT '';
ALTER TABLE backups ADD COLUMN origin_id INTEGER NOT NULL DEFAULT 0;

CREATE TABLE outbox (
  seq INTEGER PRIMARY KEY,
  kind TEXT NOT NULL CHECK (kind IN ('backup', 'closing', 'job')),
  local_id INTEGER NOT NULL
);
INSERT INTO outbox (kind, local_id) SELECT 'backup', id FROM backups ORDER BY id;
INSERT INTO outbox (kind, local_id) SELECT 'closing', id FROM backups WHERE open = 0 ORDER BY id;
INSERT INTO outbox (kind, local_id) SELECT 'job', id FROM jobs ORDER BY id;
CREATE TRIGGER outbox_backup AFTER INSERT ON backups
BEGIN
  INSERT INTO outbox (kind, local_id) VALUES ('backup', NEW.id);
END;
CREATE TRIGGER outbox_closing AFTER UPDATE OF open ON backups WHEN OLD.open = 1 AND NEW.open = 0
BEGIN
  INSERT INTO outbox (kind, local_id) VALUES ('closing', NEW.id);
END;
CREATE TRIGGER outbox_job AFTER INSERT ON jobs
BEGIN
  INSERT INTO outbox (kind, local_id) VALUES ('job', NEW.id);
END;
PRAGMA user_version = 3;
)sql";

// Schema 4: when each timed step of a job began and ended ("begin:end;..." in ms from its start);
// whether the station closed the file cleanly (the full check at opening is then not needed);
// the form of a backup's NV records (0 one row each, 1 packed into one blob once closed, 2
// dropped with its AT values after the retention period) with the indexes its upkeep and the
// search of a device's open backups by serial number need. The open backups' index holds only
// them (a few among millions), so that no search of closed backups is led through it.
constexpr const char* kSchema4 = R"sql(
ALTER TABLE jobs ADD COLUMN step_times TEXT NOT NULL DEFAULT '';
ALTER TABLE station ADD COLUMN clean_close INTEGER NOT NULL DEFAULT 0;
ALTER TABLE backups ADD COLUMN nv_form INTEGER NOT NULL DEFAULT 0 CHECK (nv_form IN (0, 1, 2));
ALTER TABLE backups ADD COLUMN values_dropped_at TEXT;
CREATE TABLE backup_nv_packed (
  backup_id INTEGER PRIMARY KEY REFERENCES backups(id) ON DELETE CASCADE,
  records INTEGER NOT NULL,
  data BLOB NOT NULL
);
DROP INDEX backups_open;
CREATE INDEX backups_open ON backups(id) WHERE open = 1;
CREATE INDEX backups_upkeep ON backups(closed_at) WHERE open = 0 AND nv_form < 2;
CREATE INDEX backups_to_pack ON backups(id) WHERE open = 0 AND nv_form = 0;
CREATE INDEX backup_at_value ON backup_at(slot, value);
CREATE INDEX outbox_local ON outbox(local_id);
PRAGMA user_version = 4;
)sql";

constexpr const char* kMigrations[] = {kSchema1, kSchema2, kSchema3, kSchema4};

// The first column of the statement's first row as text; false when it gives no row.
bool QueryText(TDatabase& db, const char* sql, std::string* value) {
  TStatement s = db.Prepare(sql);
  if (s.Step() != TStep::kRow) return false;
  *value = s.ColumnText(0);
  return true;
}

}  // namespace

extern const std::int64_t kNewestSchema = static_cast<std::int64_t>(std::size(kMigrations));

bool CheckSchemaAndFile(TDatabase& db, const std::string& path, TFileCheck fileCheck,
                        std::int64_t* version, std::string* error) {
  auto refuse = [&](std::string text) {
    SetError(error, std::move(text));
    return false;
  };
  if (!QueryInt(db, "PRAGMA user_version", version)) {
    return refuse("cannot read station records " + path + ": " + db.Message());
  }
  if (*version > kNewestSchema) {
    return refuse("station records " + path + " come from a newer version of the station (schema " +
                  std::to_string(*version) + ", this station knows up to " +
                  std::to_string(kNewestSchema) + ")");
  }
  if (fileCheck == TFileCheck::kNone) return true;
  // A file the station closed cleanly was sound then; reading the whole of it again at every
  // start would cost more the longer the station runs. A marker that cannot be read is no proof.
  std::int64_t clean = 0;
  if (fileCheck == TFileCheck::kUnlessClosedCleanly && *version >= 4 &&
      QueryInt(db, "SELECT clean_close FROM station", &clean) && clean == 1) {
    return true;
  }
  // The first few findings are enough to tell what is wrong.
  std::string check;
  if (!QueryText(db, "PRAGMA quick_check(3)", &check)) {
    // A check that cannot even walk the file has found it damaged.
    const bool corrupt = db.Code() == SQLITE_CORRUPT || db.Code() == SQLITE_NOTADB;
    return refuse((corrupt ? "station records " + path + " are damaged: "
                           : "cannot check station records " + path + ": ") +
                  db.Message());
  }
  if (check != "ok") {
    std::replace(check.begin(), check.end(), '\n', ' ');
    return refuse("station records " + path + " are damaged: " + check);
  }
  return true;
}

bool PrepareDatabase(TDatabase& db, std::string* error) {
  const std::string& path = db.Path();
  auto refuse = [&](std::string text) {
    SetError(error, std::move(text));
    return false;
  };
  if (db.IsReadOnly()) {
    return refuse("station records " + path + " are read-only: the file cannot be written");
  }
  db.SetBusyTimeout(kBusyTimeoutMs);

  // Nothing is written before the file is known to be a sound database of a known schema.
  std::int64_t version = 0;
  if (!CheckSchemaAndFile(db, path, TFileCheck::kUnlessClosedCleanly, &version, error)) {
    return false;
  }
  // A new file gives the pages that upkeep frees back to the file system as it goes; this must
  // be set before its first table (on a file that has tables it changes nothing).
  if (version == 0 && !db.Exec("PRAGMA auto_vacuum = INCREMENTAL")) {
    return refuse("cannot configure station records " + path + ": " + db.Message());
  }

  std::string mode;
  if (!QueryText(db, "PRAGMA journal_mode=WAL", &mode)) {
    return refuse("cannot set the journal of station records " + path + ": " + db.Message());
  }
  if (mode != "wal") {
    return refuse("station records " + path + " cannot keep a write-ahead journal (journal mode " +
                  mode + ")");
  }
  if (!db.Exec("PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;")) {
    return refuse("cannot configure station records " + path + ": " + db.Message());
  }

  // The schema is read again under the write lock, which also proves the file writable.
  TTransaction tx(db);
  if (!tx.Begun()) return refuse("cannot write station records " + path + ": " + db.Message());
  if (!QueryInt(db, "PRAGMA user_version", &version)) {
    return refuse("cannot read station records " + path + ": " + db.Message());
  }
  if (version == 0) {
    std::int64_t objects = 0;
    if (!QueryInt(db, "SELECT count(*) FROM sqlite_schema", &objects)) {
      return refuse("cannot read station records " + path + ": " + db.Message());
    }
    if (objects != 0) return refuse(path + " holds tables that are not station records");
  }
  for (std::int64_t step = version; step < kNewestSchema; ++step) {
    if (!db.Exec(kMigrations[step])) {
      return refuse("cannot bring station records " + path + " to schema " +
                    std::to_string(step + 1) + ": " + db.Message());
    }
  }
  // Until the station closes the file, it counts as not closed cleanly.
  if (!db.Exec("UPDATE station SET clean_close = 0")) {
    return refuse("cannot write station records " + path + ": " + db.Message());
  }
  if (!tx.Commit()) return refuse("cannot write station records " + path + ": " + db.Message());
  return true;
}

}  // namespace vornex
