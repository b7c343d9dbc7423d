// Upkeep of the station record store: closed backups keep their NV records packed into one
// blob, and lose their values after the retention period; the file gives freed pages back.
// Open backups are never touched: they are the identities of devices not yet restored.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "foundation/local_time.h"
#include "foundation/paths.h"
#include "store/nv_pack.h"
#include "store/station_store_impl.h"

namespace vornex {
namespace {

using sqlite::TStatement;
using sqlite::TTransaction;
using TStep = sqlite::TStatement::TStep;

// Pages given back to the file system after one step (4 KiB each).
constexpr int kPagesPerVacuum = 4096;

// The ids the statement gives, in order.
bool ReadIds(TStatement& s, std::vector<std::int64_t>* ids) {
  TStep step = s.Valid() ? TStep::kRow : TStep::kError;
  while (step == TStep::kRow && (step = s.Step()) == TStep::kRow) ids->push_back(s.ColumnInt64(0));
  return step == TStep::kDone;
}

// Runs the statement once for each id (bound to ?1).
bool ForEachId(TStatement& s, const std::vector<std::int64_t>& ids) {
  for (const std::int64_t id : ids) {
    s.Reset();
    if (!BindAll(s, id) || s.Step() != TStep::kDone) return false;
  }
  return s.Valid();
}

}  // namespace

bool TStationStore::Impl::DropOldValues(const TUpkeepRules& rules, int limit, int* dropped,
                                        std::string* error) {
  constexpr std::string_view kWhat = "cannot drop the values of old closed backups";
  if (rules.keepValuesDays <= 0 || limit <= 0) return true;
  // closed_at is local time "YYYY-MM-DD HH:MM:SS", which sorts as it reads.
  std::string sql =
      "SELECT id FROM backups WHERE open = 0 AND nv_form < 2 AND closed_at < "
      "datetime('now', 'localtime', ?1)";
  if (rules.waitForLine) {
    sql +=
        " AND NOT EXISTS (SELECT 1 FROM outbox WHERE outbox.local_id = backups.id AND "
        "outbox.kind IN ('backup', 'closing'))";
  }
  sql += " ORDER BY closed_at LIMIT ?2";
  TStatement select = db.Prepare(sql);
  std::vector<std::int64_t> ids;
  const std::string age = std::to_string(-rules.keepValuesDays) + " days";  // "-90 days"
  if (!BindAll(select, age, std::int64_t{limit}) || !ReadIds(select, &ids)) {
    return Fail(error, kWhat);
  }
  TStatement nvRows = db.Prepare("DELETE FROM backup_nv WHERE backup_id = ?1");
  TStatement packed = db.Prepare("DELETE FROM backup_nv_packed WHERE backup_id = ?1");
  TStatement at = db.Prepare("DELETE FROM backup_at WHERE backup_id = ?1");
  TStatement mark = db.Prepare(
      "UPDATE backups SET nv_form = 2, values_dropped_at = datetime('now', 'localtime') WHERE id "
      "= ?1 AND open = 0");
  if (!ForEachId(nvRows, ids) || !ForEachId(packed, ids) || !ForEachId(at, ids) ||
      !ForEachId(mark, ids)) {
    return Fail(error, kWhat);
  }
  *dropped = static_cast<int>(ids.size());
  return true;
}

bool TStationStore::Impl::PackClosed(int limit, int* packed, std::string* error) {
  constexpr std::string_view kWhat = "cannot pack the NV records of closed backups";
  if (limit <= 0) return true;
  TStatement select =
      db.Prepare("SELECT id FROM backups WHERE open = 0 AND nv_form = 0 ORDER BY id LIMIT ?1");
  std::vector<std::int64_t> ids;
  if (!BindAll(select, std::int64_t{limit}) || !ReadIds(select, &ids)) return Fail(error, kWhat);
  TStatement insert =
      db.Prepare("INSERT INTO backup_nv_packed (backup_id, records, data) VALUES (?1, ?2, ?3)");
  TStatement rows = db.Prepare("DELETE FROM backup_nv WHERE backup_id = ?1");
  TStatement mark = db.Prepare("UPDATE backups SET nv_form = 1 WHERE id = ?1 AND open = 0");
  for (const std::int64_t id : ids) {
    std::vector<TNvRecord> records;
    if (!ReadNvRows(id, &records, error)) return false;
    const std::string blob = PackNvRecords(records);
    // The packed form replaces the rows only once it is known to give them back exactly.
    if (UnpackNvRecords(blob, records.size()) != records) {
      SetError(error, std::string(kWhat) + ": backup " + std::to_string(id) +
                          " does not read back equal when packed (" + path + ")");
      return false;
    }
    insert.Reset();
    rows.Reset();
    mark.Reset();
    if (!BindAll(insert, id, static_cast<std::int64_t>(records.size()), TBlob{blob}) ||
        insert.Step() != TStep::kDone || !BindAll(rows, id) || rows.Step() != TStep::kDone ||
        !BindAll(mark, id) || mark.Step() != TStep::kDone) {
      return Fail(error, kWhat);
    }
  }
  *packed = static_cast<int>(ids.size());
  return true;
}

std::optional<TUpkeepStep> TStationStore::Upkeep(const TUpkeepRules& rules, int limit,
                                                 std::string* error) {
  constexpr std::string_view kWhat = "cannot keep the station records small";
  std::lock_guard lock(impl_->mutex);
  Impl& impl = *impl_;
  if (!impl.writable) {
    SetError(error, std::string(kWhat) + ": " + impl.path + " is open for reading only");
    return std::nullopt;
  }
  if (!impl.FilesIntact(error)) return std::nullopt;
  TUpkeepStep step;
  {
    TTransaction tx(impl.db);
    if (!tx.Begun()) {
      impl.Fail(error, kWhat);
      return std::nullopt;
    }
    if (!impl.DropOldValues(rules, limit, &step.dropped, error) ||
        !impl.PackClosed(limit - step.dropped, &step.packed, error)) {
      return std::nullopt;
    }
    if (!tx.Commit()) {
      impl.Fail(error, kWhat);
      return std::nullopt;
    }
  }
  step.more = step.dropped + step.packed >= limit;
  // Only a file made with incremental auto-vacuum gives pages back here; others reuse them.
  impl.db.Exec(("PRAGMA incremental_vacuum(" + std::to_string(kPagesPerVacuum) + ")").c_str());
  return step;
}

bool TStationStore::CheckWhole(std::string* error) {
  std::lock_guard lock(impl_->mutex);
  TStatement s = impl_->db.Prepare("PRAGMA integrity_check(10)");
  std::string findings;
  TStep step = s.Valid() ? TStep::kRow : TStep::kError;
  while (step == TStep::kRow && (step = s.Step()) == TStep::kRow) {
    const std::string line = s.ColumnText(0);
    if (line == "ok") continue;
    findings += (findings.empty() ? "" : "; ") + line;
  }
  if (step != TStep::kDone) return impl_->Fail(error, "cannot check station records");
  if (findings.empty()) return true;
  std::replace(findings.begin(), findings.end(), '\n', ' ');
  SetError(error, "station records " + impl_->path + " are damaged: " + findings);
  return false;
}

bool TStationStore::Vacuum(std::string* error) {
  std::lock_guard lock(impl_->mutex);
  if (!impl_->writable) {
    SetError(error, "cannot compact station records: " + impl_->path + " is open for reading only");
    return false;
  }
  if (!impl_->db.Exec("PRAGMA auto_vacuum = INCREMENTAL") || !impl_->db.Exec("VACUUM")) {
    return impl_->Fail(error, "cannot compact station records");
  }
  return true;
}

std::uint64_t TStationStore::DiskBytes() {
  std::lock_guard lock(impl_->mutex);
  // A journal that another reader still needs stays as it is, and counts.
  if (impl_->writable) impl_->db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
  std::uint64_t bytes = 0;
  for (const std::string& file : {impl_->path, impl_->JournalPath()}) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(paths::FsPath(file), ec);
    if (!ec) bytes += size;
  }
  return bytes;
}

}  // namespace vornex
