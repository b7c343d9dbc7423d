// Identity backups in the station record store: committing a backup with its AT values and NV
// records in one durable transaction, noting why one is open, closing it, and reading open
// backups and whole ones back.
#include <algorithm>
#include <initializer_list>

#include "foundation/local_time.h"
#include "store/nv_pack.h"
#include "store/station_store_impl.h"

namespace vornex {
namespace {

using sqlite::TStatement;
using sqlite::TTransaction;
using TStep = sqlite::TStatement::TStep;

constexpr const char* kBackupColumns =
    "id, created_at, source, source_file, slot, device_key, diag_com, modem_com, "
    "firmware_version, image_tag, image_sha256, item_switches, open, open_reason, "
    "origin_station, origin_id";

// The kBackupColumns of a file of `schema`: records of schema 2 and older, read as they are,
// have no origin.
std::string BackupColumns(std::int64_t schema) {
  std::string columns = kBackupColumns;
  if (schema < 3) columns.replace(columns.find("origin_station, origin_id"), 25, "'', 0");
  return columns;
}

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
  b.originStation = row.Text();
  b.originId = row.Int();
  return b;
}

// "YYYY-MM-DD hh:mm:ss"
std::string LocalTimeSeconds() {
  return LocalTimeText().substr(0, 19);
}

}  // namespace

bool TStationStore::Impl::InsertBackup(const TIdentityBackup& b, std::int64_t* id,
                                       std::string* error) {
  constexpr std::string_view kWhat = "cannot store the identity backup";
  if (!FilesIntact(error)) return false;
  TTransaction tx(db);
  if (!tx.Begun()) return Fail(error, kWhat);
  // A backup is stored open, whatever the record says: only CloseBackup closes it.
  TStatement backup = db.Prepare(
      "INSERT INTO backups (created_at, source, source_file, slot, device_key, diag_com, "
      "modem_com, firmware_version, image_tag, image_sha256, item_switches, open, open_reason, "
      "origin_station, origin_id) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, 1, ?12, "
      "?13, ?14)");
  if (!BindAll(backup, LocalTimeSeconds(), b.source, b.sourceFile, b.slot, b.deviceKey, b.diagCom,
               b.modemCom, b.firmwareVersion, b.imageTag, b.imageSha256, b.itemSwitches,
               b.openReason, b.originStation, b.originId) ||
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
      db.Prepare("SELECT " + BackupColumns(schema) + " FROM backups WHERE open = 1 AND (" +
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
  TStatement s = db.Prepare("SELECT " + BackupColumns(schema) + " FROM backups WHERE id = ?1");
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
  if (schema < 4) return ReadNvRows(backupId, nv, error);
  TStatement s = db.Prepare("SELECT records, data FROM backup_nv_packed WHERE backup_id = ?1");
  const TStep step = BindAll(s, backupId) ? s.Step() : TStep::kError;
  if (step == TStep::kError) return Fail(error, "cannot read the NV records of the backup");
  if (step == TStep::kDone) return ReadNvRows(backupId, nv, error);
  std::optional<std::vector<TNvRecord>> records =
      UnpackNvRecords(s.ColumnBlob(1), static_cast<std::size_t>(std::max<std::int64_t>(
                                           0, std::min<std::int64_t>(s.ColumnInt64(0), 1 << 20))));
  if (!records) {
    SetError(error, "backup " + std::to_string(backupId) + " has damaged packed NV records (" +
                        path + ")");
    return false;
  }
  nv->insert(nv->end(), records->begin(), records->end());
  return true;
}

bool TStationStore::Impl::ReadNvRows(std::int64_t backupId, std::vector<TNvRecord>* nv,
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

}  // namespace vornex
