// The station record store on SQLite: opening and checking the database file (for writing, or
// for reading only without creating or changing anything), the schema and its forward migrations,
// identity backups with their AT values and NV records, and the jobs' history. Every change is one
// BEGIN IMMEDIATE transaction on the one connection, committed with a full sync of the write-ahead
// journal before the operation answers.
//
// Identity values are device bytes (Windows-1252, any byte possible) and are kept as blobs so
// that they come back exactly; other texts are kept as SQLite text, which is stored and read
// back byte for byte as well.
#include "store/station_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <mutex>
#include <string_view>

#include "foundation/file_identity.h"
#include "foundation/local_time.h"
#include "foundation/paths.h"
#include "store/sqlite_db.h"

namespace vornex {
namespace {

using sqlite::TDatabase;
using sqlite::TStatement;
using sqlite::TTransaction;
using TStep = sqlite::TStatement::TStep;

constexpr int kBusyTimeoutMs = 5000;

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

constexpr const char* kMigrations[] = {kSchema1, kSchema2};
constexpr std::int64_t kNewestSchema = static_cast<std::int64_t>(std::size(kMigrations));

constexpr const char* kBackupColumns =
    "id, created_at, source, source_file, slot, device_key, diag_com, modem_com, "
    "firmware_version, image_tag, image_sha256, item_switches, open, open_reason";

constexpr const char* kJobColumns =
    "id, kind, slot, device_key, diag_com, modem_com, diag_com_after, modem_com_after, "
    "version_before, version_after, image_tag, image_sha256, sn_before, meid_before, "
    "tflag_before, sn_after, meid_after, tflag_after, nv_backed_up, nv_differ, at_differ, "
    "identity_verified, steps, pass, failure, backup_id, started_at, ended_at, elapsed_ms, cause";

// The identity slots a job keeps, before and after.
constexpr int kJobIdentitySlots[] = {kSlotSn, kSlotMeid, kSlotTflag};

// One character per job step in the steps column.

// Device bytes bound as a blob.
struct TBlob {
  std::string_view bytes;
};

bool BindOne(TStatement& s, int index, std::int64_t value) {
  return s.BindInt64(index, value);
}
bool BindOne(TStatement& s, int index, const std::string& value) {
  return s.BindText(index, value);
}
bool BindOne(TStatement& s, int index, TBlob value) {
  return s.BindBlob(index, value.bytes);
}

// Binds the values to parameters 1, 2, ... in order. False when one is refused.
template <typename... Values>
bool BindAll(TStatement& s, const Values&... values) {
  [[maybe_unused]] int index = 0;
  return (BindOne(s, ++index, values) && ...);
}

// Reads the columns of the current row one after the other.
class TRowReader {
 public:
  explicit TRowReader(const TStatement& s) : s_(s) {}
  std::int64_t Int() { return s_.ColumnInt64(next_++); }
  std::int32_t Int32() { return static_cast<std::int32_t>(Int()); }
  std::string Text() { return s_.ColumnText(next_++); }
  std::string Blob() { return s_.ColumnBlob(next_++); }

 private:
  const TStatement& s_;
  int next_ = 0;
};

// A row of the kBackupColumns.
TIdentityBackup ReadBackupRow(const TStatement& s) {
  TRowReader row(s);
  TIdentityBackup b;
  b.id = row.Int();
  b.createdAt = row.Text();
  b.source = row.Text();
  b.sourceFile = row.Text();
  b.slot = row.Int32();
  b.deviceKey = row.Text();
  b.diagCom = row.Int32();
  b.modemCom = row.Int32();
  b.firmwareVersion = row.Text();
  b.imageTag = row.Text();
  b.imageSha256 = row.Text();
  b.itemSwitches = static_cast<std::uint32_t>(row.Int());
  b.open = row.Int() != 0;
  b.openReason = row.Text();
  return b;
}

// "YYYY-MM-DD hh:mm:ss"
std::string LocalTimeSeconds() {
  return LocalTimeText().substr(0, 19);
}

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

// A row of the kJobColumns.
TJobSummary ReadJobRow(const TStatement& s) {
  TRowReader row(s);
  TJobSummary j;
  j.id = row.Int();
  j.kind = row.Text();
  j.slot = row.Int32();
  j.deviceKey = row.Text();
  j.diagCom = row.Int32();
  j.modemCom = row.Int32();
  j.diagComAfter = row.Int32();
  j.modemComAfter = row.Int32();
  j.versionBefore = row.Text();
  j.versionAfter = row.Text();
  j.imageTag = row.Text();
  j.imageSha256 = row.Text();
  for (const int slot : kJobIdentitySlots) j.identityBefore.slots[slot] = row.Blob();
  for (const int slot : kJobIdentitySlots) j.identityAfter.slots[slot] = row.Blob();
  j.nvBackedUp = row.Int32();
  j.nvDiffer = row.Int32();
  j.atDiffer = row.Int32();
  j.identityVerified = row.Int() != 0;
  j.steps = StepsFromLetters(row.Text());
  j.pass = row.Int() != 0;
  j.failure = row.Text();
  j.backupId = row.Int();
  j.startedAt = row.Text();
  j.endedAt = row.Text();
  j.elapsedMs = static_cast<std::uint32_t>(row.Int());
  j.cause = row.Text();
  return j;
}

// The first column of the statement's first row as text; false when it gives no row.
bool QueryText(TDatabase& db, const char* sql, std::string* value) {
  TStatement s = db.Prepare(sql);
  if (s.Step() != TStep::kRow) return false;
  *value = s.ColumnText(0);
  return true;
}

bool QueryInt(TDatabase& db, const char* sql, std::int64_t* value) {
  TStatement s = db.Prepare(sql);
  if (s.Step() != TStep::kRow) return false;
  *value = s.ColumnInt64(0);
  return true;
}

// Reads the schema version of the database file at `path` into *version and checks that it is
// known and that the file is sound, without writing anything. False with *error.
bool CheckSchemaAndFile(TDatabase& db, const std::string& path, std::int64_t* version,
                        std::string* error) {
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
  // The first few findings are enough to tell what is wrong.
  std::string check;
  if (!QueryText(db, "PRAGMA quick_check(3)", &check)) {
    return refuse("cannot check station records " + path + ": " + db.Message());
  }
  if (check != "ok") {
    std::replace(check.begin(), check.end(), '\n', ' ');
    return refuse("station records " + path + " are damaged: " + check);
  }
  return true;
}

// The SQLite URI of a file: '%', '?' and '#' escaped; an absolute path after "file://", so that
// a path beginning with "//" is never taken for a host name.
std::string FileUri(const std::string& path) {
  std::string uri = path.starts_with('/') ? "file://" : "file:";
  for (const char c : path) {
    if (c == '%') {
      uri += "%25";
    } else if (c == '?') {
      uri += "%3f";
    } else if (c == '#') {
      uri += "%23";
    } else {
      uri += c;
    }
  }
  return uri;
}

// Checks the file and brings its schema up to date. False with *error when it cannot be used;
// a refused file is left exactly as it was.
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
  if (!CheckSchemaAndFile(db, path, &version, error)) return false;

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
  if (!tx.Commit()) return refuse("cannot write station records " + path + ": " + db.Message());
  return true;
}

}  // namespace

std::string DefaultDataFolder() {
  return paths::StateFolder();
}

struct TStationStore::Impl {
  std::mutex mutex;
  TDatabase db;  // guarded by mutex
  std::string path;
  // The schema of the file: the newest once opened for writing; opened for reading, the one it
  // has.
  std::int64_t schema = kNewestSchema;
  // The files as opened; the journal's is absent when it did not exist then.
  std::optional<os::TFileIdentity> fileId;
  std::optional<os::TFileIdentity> journalId;

  std::string JournalPath() const { return path + "-wal"; }
  // Whether the database file and its journal are still the ones opened (see FileIntact).
  bool FilesIntact(std::string* error) const;

  // Sets *error to what failed with the connection's message and answers false. Called inside
  // the scope of the transaction guard, so that the message is the failure's own and not that
  // of the rollback.
  bool Fail(std::string* error, std::string_view what) {
    SetError(error, db.ErrorText(what));
    return false;
  }

  bool InsertBackup(const TIdentityBackup& b, std::int64_t* id, std::string* error);
  bool InsertJob(const TJobSummary& j, std::int64_t* id, std::string* error);
  bool ChangeOpenBackup(std::int64_t backupId, const char* sql,
                        std::initializer_list<std::string_view> texts, std::string_view what,
                        std::string* error);
  // The open backups that also meet `condition` (SQL on the backups table, its parameters bound
  // to `values` in order), sorted by `order`, with their AT values and without NV records; all
  // read in one read transaction, so that list and values come from one state of the file.
  template <typename... Values>
  bool ReadOpenBackups(std::string_view condition, std::string_view order, std::string_view what,
                       std::vector<TIdentityBackup>* backups, std::string* error,
                       const Values&... values);
  bool ReadBackup(std::int64_t backupId, TIdentityBackup* backup, std::string* error);
  bool ReadAtValues(std::int64_t backupId, TIdentityBlock* at, std::string* error);
  bool ReadNvRecords(std::int64_t backupId, std::vector<TNvRecord>* nv, std::string* error);
  bool ReadHistory(const THistoryFilter& filter, std::vector<TJobSummary>* jobs,
                   std::string* error);
};

bool TStationStore::Impl::FilesIntact(std::string* error) const {
  const auto same = [error](const std::string& file, const std::optional<os::TFileIdentity>& was) {
    if (!was) return true;
    std::string why = "another file has taken its name";
    const std::optional<os::TFileIdentity> now = os::FileIdentityOf(file, &why);
    if (now == was) return true;
    SetError(error, "station records " + file +
                        " were deleted or replaced while the station ran (" + why +
                        "); restart the station to open them anew");
    return false;
  };
  return same(path, fileId) && same(JournalPath(), journalId);
}

bool TStationStore::Impl::InsertBackup(const TIdentityBackup& b, std::int64_t* id,
                                       std::string* error) {
  constexpr std::string_view kWhat = "cannot store the identity backup";
  if (!FilesIntact(error)) return false;
  TTransaction tx(db);
  if (!tx.Begun()) return Fail(error, kWhat);
  // A backup is stored open, whatever the record says: only CloseBackup closes it.
  TStatement backup = db.Prepare(
      "INSERT INTO backups (created_at, source, source_file, slot, device_key, diag_com, "
      "modem_com, firmware_version, image_tag, image_sha256, item_switches, open, open_reason) "
      "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, 1, ?12)");
  if (!BindAll(backup, LocalTimeSeconds(), b.source, b.sourceFile, b.slot, b.deviceKey, b.diagCom,
               b.modemCom, b.firmwareVersion, b.imageTag, b.imageSha256, b.itemSwitches,
               b.openReason) ||
      backup.Step() != TStep::kDone) {
    return Fail(error, kWhat);
  }
  const std::int64_t backupId = db.LastInsertId();

  TStatement at = db.Prepare("INSERT INTO backup_at (backup_id, slot, value) VALUES (?1, ?2, ?3)");
  if (!at.Valid()) return Fail(error, kWhat);
  for (std::size_t slot = 0; slot < b.at.slots.size(); ++slot) {
    if (b.at.slots[slot].empty()) continue;
    at.Reset();
    if (!BindAll(at, backupId, static_cast<std::int64_t>(slot), TBlob{b.at.slots[slot]}) ||
        at.Step() != TStep::kDone) {
      return Fail(error, kWhat);
    }
  }

  TStatement nv =
      db.Prepare("INSERT INTO backup_nv (backup_id, seq, item, data) VALUES (?1, ?2, ?3, ?4)");
  if (!nv.Valid()) return Fail(error, kWhat);
  for (std::size_t seq = 0; seq < b.nv.size(); ++seq) {
    const TNvRecord& record = b.nv[seq];
    const std::string_view bytes(reinterpret_cast<const char*>(record.bytes.data()),
                                 record.bytes.size());
    nv.Reset();
    if (!BindAll(nv, backupId, static_cast<std::int64_t>(seq), record.Item(), TBlob{bytes}) ||
        nv.Step() != TStep::kDone) {
      return Fail(error, kWhat);
    }
  }
  if (!tx.Commit()) return Fail(error, kWhat);
  *id = backupId;
  return true;
}

bool TStationStore::Impl::InsertJob(const TJobSummary& j, std::int64_t* id, std::string* error) {
  constexpr std::string_view kWhat = "cannot record the job";
  if (!FilesIntact(error)) return false;
  TTransaction tx(db);
  if (!tx.Begun()) return Fail(error, kWhat);
  TStatement s = db.Prepare(
      "INSERT INTO jobs (kind, slot, device_key, diag_com, modem_com, diag_com_after, "
      "modem_com_after, version_before, version_after, image_tag, image_sha256, sn_before, "
      "meid_before, tflag_before, sn_after, meid_after, tflag_after, nv_backed_up, nv_differ, "
      "at_differ, identity_verified, steps, pass, failure, started_at, ended_at, elapsed_ms, "
      "cause, backup_id) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, "
      "?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24, ?25, ?26, ?27, ?28, ?29)");
  const auto& before = j.identityBefore.slots;
  const auto& after = j.identityAfter.slots;
  const bool bound =
      BindAll(s, j.kind, j.slot, j.deviceKey, j.diagCom, j.modemCom, j.diagComAfter,
              j.modemComAfter, j.versionBefore, j.versionAfter, j.imageTag, j.imageSha256,
              TBlob{before[kSlotSn]}, TBlob{before[kSlotMeid]}, TBlob{before[kSlotTflag]},
              TBlob{after[kSlotSn]}, TBlob{after[kSlotMeid]}, TBlob{after[kSlotTflag]},
              j.nvBackedUp, j.nvDiffer, j.atDiffer, j.identityVerified, StepLetters(j.steps),
              j.pass, j.failure, j.startedAt, j.endedAt, j.elapsedMs, j.cause) &&
      (j.backupId > 0 ? s.BindInt64(29, j.backupId) : s.BindNull(29));
  if (!bound || s.Step() != TStep::kDone || !tx.Commit()) return Fail(error, kWhat);
  *id = db.LastInsertId();
  return true;
}

// Runs an UPDATE of one open backup in its own transaction: the texts go to ?1, ?2, ... and
// the backup id to the parameter after them. An unknown or closed backup is refused.
bool TStationStore::Impl::ChangeOpenBackup(std::int64_t backupId, const char* sql,
                                           std::initializer_list<std::string_view> texts,
                                           std::string_view what, std::string* error) {
  if (!FilesIntact(error)) return false;
  TTransaction tx(db);
  if (!tx.Begun()) return Fail(error, what);
  TStatement update = db.Prepare(sql);
  int index = 0;
  bool bound = update.Valid();
  for (const std::string_view text : texts) bound = bound && update.BindText(++index, text);
  bound = bound && update.BindInt64(++index, backupId);
  if (!bound || update.Step() != TStep::kDone) return Fail(error, what);
  if (db.Changes() == 0) {
    TStatement exists = db.Prepare("SELECT 1 FROM backups WHERE id = ?1");
    const TStep step = BindAll(exists, backupId) ? exists.Step() : TStep::kError;
    if (step == TStep::kError) return Fail(error, what);
    SetError(error, std::string(what) + ": backup " + std::to_string(backupId) +
                        (step == TStep::kRow ? " is already closed" : " does not exist") + " (" +
                        path + ")");
    return false;
  }
  return tx.Commit() || Fail(error, what);
}

template <typename... Values>
bool TStationStore::Impl::ReadOpenBackups(std::string_view condition, std::string_view order,
                                          std::string_view what,
                                          std::vector<TIdentityBackup>* backups, std::string* error,
                                          const Values&... values) {
  TTransaction tx(db, TTransaction::TMode::kRead);
  if (!tx.Begun()) return Fail(error, what);
  TStatement s =
      db.Prepare(std::string("SELECT ") + kBackupColumns + " FROM backups WHERE open = 1 AND (" +
                 std::string(condition) + ") ORDER BY " + std::string(order));
  TStep step = BindAll(s, values...) ? TStep::kRow : TStep::kError;
  while (step == TStep::kRow && (step = s.Step()) == TStep::kRow) {
    backups->push_back(ReadBackupRow(s));
  }
  if (step != TStep::kDone) return Fail(error, what);
  for (TIdentityBackup& b : *backups) {
    if (!ReadAtValues(b.id, &b.at, error)) return false;
  }
  return true;
}

bool TStationStore::Impl::ReadBackup(std::int64_t backupId, TIdentityBackup* backup,
                                     std::string* error) {
  constexpr std::string_view kWhat = "cannot read the identity backup";
  TTransaction tx(db, TTransaction::TMode::kRead);
  if (!tx.Begun()) return Fail(error, kWhat);
  TStatement s =
      db.Prepare(std::string("SELECT ") + kBackupColumns + " FROM backups WHERE id = ?1");
  const TStep step = BindAll(s, backupId) ? s.Step() : TStep::kError;
  if (step == TStep::kError) return Fail(error, kWhat);
  if (step == TStep::kDone) {
    SetError(error, std::string(kWhat) + ": backup " + std::to_string(backupId) +
                        " does not exist (" + path + ")");
    return false;
  }
  *backup = ReadBackupRow(s);
  return ReadAtValues(backupId, &backup->at, error) && ReadNvRecords(backupId, &backup->nv, error);
}

bool TStationStore::Impl::ReadAtValues(std::int64_t backupId, TIdentityBlock* at,
                                       std::string* error) {
  TStatement s = db.Prepare("SELECT slot, value FROM backup_at WHERE backup_id = ?1");
  TStep step = BindAll(s, backupId) ? TStep::kRow : TStep::kError;
  while (step == TStep::kRow && (step = s.Step()) == TStep::kRow) {
    const std::int64_t slot = s.ColumnInt64(0);
    if (slot >= 0 && slot < static_cast<std::int64_t>(at->slots.size())) {
      at->slots[static_cast<std::size_t>(slot)] = s.ColumnBlob(1);
    }
  }
  return step == TStep::kDone || Fail(error, "cannot read the AT values of the backup");
}

bool TStationStore::Impl::ReadNvRecords(std::int64_t backupId, std::vector<TNvRecord>* nv,
                                        std::string* error) {
  TStatement s = db.Prepare("SELECT seq, data FROM backup_nv WHERE backup_id = ?1 ORDER BY seq");
  TStep step = BindAll(s, backupId) ? TStep::kRow : TStep::kError;
  while (step == TStep::kRow && (step = s.Step()) == TStep::kRow) {
    const std::string data = s.ColumnBlob(1);
    TNvRecord& record = nv->emplace_back();
    if (data.size() != record.bytes.size()) {
      SetError(error, "backup " + std::to_string(backupId) + " has a damaged NV record (number " +
                          std::to_string(s.ColumnInt64(0)) + ") (" + path + ")");
      return false;
    }
    std::copy(data.begin(), data.end(), record.bytes.begin());
  }
  return step == TStep::kDone || Fail(error, "cannot read the NV records of the backup");
}

bool TStationStore::Impl::ReadHistory(const THistoryFilter& filter, std::vector<TJobSummary>* jobs,
                                      std::string* error) {
  constexpr std::string_view kWhat = "cannot read the job history";
  // The filters only choose fixed pieces of the query; their values are bound.
  std::string columns = kJobColumns;
  // Records of schema 1, read as they are, keep no cause yet.
  if (schema < 2) columns.replace(columns.rfind("cause"), std::string_view("cause").size(), "''");
  std::string sql = "SELECT " + columns + " FROM jobs WHERE 1";
  if (!filter.since.empty()) sql += " AND started_at >= ?1";
  if (!filter.serial.empty()) sql += " AND sn_before = ?2";
  if (!filter.key.empty()) sql += " AND device_key = ?3 COLLATE NOCASE";
  sql += " ORDER BY started_at DESC, id DESC LIMIT ?4";
  TStatement s = db.Prepare(sql);
  bool bound = s.Valid();
  if (!filter.since.empty()) bound = bound && s.BindText(1, filter.since);
  if (!filter.serial.empty()) bound = bound && s.BindBlob(2, filter.serial);
  if (!filter.key.empty()) bound = bound && s.BindText(3, filter.key);
  bound = bound && s.BindInt64(4, filter.limit > 0 ? filter.limit : -1);
  TStep step = bound ? TStep::kRow : TStep::kError;
  while (step == TStep::kRow && (step = s.Step()) == TStep::kRow) jobs->push_back(ReadJobRow(s));
  return step == TStep::kDone || Fail(error, kWhat);
}

TStationStore::TStationStore(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TStationStore::~TStationStore() = default;

std::unique_ptr<TStationStore> TStationStore::Open(const std::string& dataFolder,
                                                   std::string* error) {
  if (dataFolder.empty()) {
    SetError(error, "no data folder is known for the station records");
    return nullptr;
  }
  std::error_code ec;
  std::filesystem::create_directories(dataFolder, ec);
  std::error_code statEc;
  if (ec || !std::filesystem::is_directory(dataFolder, statEc)) {
    SetError(error, "cannot create the data folder " + dataFolder + ": " +
                        (ec ? ec.message() : std::string("it is not a folder")));
    return nullptr;
  }

  auto impl = std::make_unique<Impl>();
  impl->path = paths::Join(dataFolder, kStoreFileName);
  if (!impl->db.Open(impl->path,
                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX)) {
    SetError(error, "cannot open station records " + impl->path + ": " + impl->db.Message());
    return nullptr;
  }
  if (!PrepareDatabase(impl->db, error)) return nullptr;
  std::string why;
  impl->fileId = os::FileIdentityOf(impl->path, &why);
  if (!impl->fileId) {
    SetError(error, "cannot examine station records " + impl->path + ": " + why);
    return nullptr;
  }
  impl->journalId = os::FileIdentityOf(impl->JournalPath(), nullptr);
  return std::unique_ptr<TStationStore>(new TStationStore(std::move(impl)));
}

std::unique_ptr<TStationStore> TStationStore::OpenReadOnly(const std::string& dataFolder,
                                                           std::string* error) {
  if (dataFolder.empty()) {
    SetError(error, "no data folder is known for the station records");
    return nullptr;
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(paths::FsPath(dataFolder), ec)) {
    SetError(error, "no station records in " + dataFolder + ": the folder does not exist");
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->path = paths::Join(dataFolder, kStoreFileName);
  if (!std::filesystem::is_regular_file(paths::FsPath(impl->path), ec)) {
    SetError(error, "no station records in " + dataFolder + ": it holds no " + kStoreFileName);
    return nullptr;
  }
  // Without a journal no station has the file open (the last connection to close removes it)
  // and the file alone holds every record: it is read as it is, without locks, since a reader
  // that takes them would make the journal and shared-memory files. A station that opens it
  // meanwhile writes into a journal of its own and changes the file only at a checkpoint. With
  // a journal, a station may be writing: the file is read through it, like any other reader.
  const bool journal = std::filesystem::exists(paths::FsPath(impl->JournalPath()), ec);
  const bool opened =
      journal ? impl->db.Open(impl->path, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX)
              : impl->db.Open(FileUri(impl->path) + "?immutable=1",
                              SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX);
  if (!opened) {
    SetError(error, "cannot open station records " + impl->path + ": " + impl->db.Message());
    return nullptr;
  }
  impl->db.SetBusyTimeout(kBusyTimeoutMs);
  if (!CheckSchemaAndFile(impl->db, impl->path, &impl->schema, error)) return nullptr;
  if (impl->schema == 0) {
    std::int64_t objects = 0;
    if (!QueryInt(impl->db, "SELECT count(*) FROM sqlite_schema", &objects)) {
      SetError(error, "cannot read station records " + impl->path + ": " + impl->db.Message());
    } else if (objects != 0) {
      SetError(error, impl->path + " holds tables that are not station records");
    } else {
      SetError(error, "no station records in " + dataFolder + ": its " + kStoreFileName +
                          " holds none yet");
    }
    return nullptr;
  }
  return std::unique_ptr<TStationStore>(new TStationStore(std::move(impl)));
}

const std::string& TStationStore::Path() const {
  return impl_->path;
}

std::int64_t TStationStore::CommitBackup(const TIdentityBackup& backup, std::string* error) {
  std::lock_guard lock(impl_->mutex);
  std::int64_t id = 0;
  return impl_->InsertBackup(backup, &id, error) ? id : 0;
}

bool TStationStore::SetOpenReason(std::int64_t backupId, const std::string& reason,
                                  std::string* error) {
  std::lock_guard lock(impl_->mutex);
  return impl_->ChangeOpenBackup(backupId,
                                 "UPDATE backups SET open_reason = ?1 WHERE id = ?2 AND open = 1",
                                 {reason}, "cannot note why the backup is open", error);
}

bool TStationStore::CloseBackup(std::int64_t backupId, const std::string& how, std::string* error) {
  std::lock_guard lock(impl_->mutex);
  return impl_->ChangeOpenBackup(
      backupId,
      "UPDATE backups SET open = 0, closed_at = ?1, closed_how = ?2 WHERE id = ?3 AND open = 1",
      {LocalTimeSeconds(), how}, "cannot close the backup", error);
}

std::optional<std::vector<TIdentityBackup>> TStationStore::OpenBackups(std::string* error) {
  std::lock_guard lock(impl_->mutex);
  std::vector<TIdentityBackup> backups;
  if (!impl_->ReadOpenBackups("1", "id", "cannot list the open backups", &backups, error)) {
    return std::nullopt;
  }
  return backups;
}

std::int64_t TStationStore::OpenBackupCount(std::string* error) {
  std::lock_guard lock(impl_->mutex);
  std::int64_t count = 0;
  if (!QueryInt(impl_->db, "SELECT count(*) FROM backups WHERE open = 1", &count)) {
    impl_->Fail(error, "cannot count the open backups");
    return -1;
  }
  return count;
}

std::optional<TIdentityBackup> TStationStore::LoadBackup(std::int64_t backupId,
                                                         std::string* error) {
  std::lock_guard lock(impl_->mutex);
  TIdentityBackup backup;
  if (!impl_->ReadBackup(backupId, &backup, error)) return std::nullopt;
  return backup;
}

std::optional<std::vector<TIdentityBackup>> TStationStore::OpenBackupsMatching(
    const std::string& key, const std::string& sn, const std::string& meid, std::string* error) {
  std::lock_guard lock(impl_->mutex);
  std::vector<TIdentityBackup> backups;
  if (!impl_->ReadOpenBackups(
          "(length(?1) > 0 AND device_key = ?1 COLLATE NOCASE) OR id IN (SELECT backup_id FROM "
          "backup_at WHERE (slot = ?2 AND value = ?3 AND length(?3) > 0) OR (slot = ?4 AND "
          "value = ?5 AND length(?5) > 0))",
          "id DESC", "cannot look for the device's open backups", &backups, error, key,
          std::int64_t{kSlotSn}, TBlob{sn}, std::int64_t{kSlotMeid}, TBlob{meid})) {
    return std::nullopt;
  }
  return backups;
}

bool TStationStore::FileIntact(std::string* error) {
  std::lock_guard lock(impl_->mutex);
  return impl_->FilesIntact(error);
}

std::int64_t TStationStore::RecordJob(const TJobSummary& summary, std::string* error) {
  std::lock_guard lock(impl_->mutex);
  std::int64_t id = 0;
  return impl_->InsertJob(summary, &id, error) ? id : 0;
}

std::optional<std::vector<TJobSummary>> TStationStore::History(const THistoryFilter& filter,
                                                               std::string* error) {
  std::lock_guard lock(impl_->mutex);
  std::vector<TJobSummary> jobs;
  if (!impl_->ReadHistory(filter, &jobs, error)) return std::nullopt;
  return jobs;
}

}  // namespace vornex
