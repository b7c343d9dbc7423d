// The outbox of the station record store: what a line of stations has not received yet. The
// schema's triggers put every backup, closing and job into it in the transaction that keeps
// the record; the line's push takes the oldest entries, and takes them out once the line has
// committed them.
#include "store/station_store_impl.h"

namespace vornex {
namespace {

using sqlite::TStatement;
using TStep = sqlite::TStatement::TStep;

struct TKindName {
  TOutboxKind kind;
  const char* name;
};
constexpr TKindName kKindNames[] = {{TOutboxKind::kBackup, "backup"},
                                    {TOutboxKind::kClosing, "closing"},
                                    {TOutboxKind::kJob, "job"}};

}  // namespace

bool TStationStore::Impl::ReadStationId(std::string* error) {
  TStatement s = db.Prepare("SELECT station_id FROM station WHERE id = 1");
  if (s.Step() != TStep::kRow) return Fail(error, "cannot read the station's id");
  stationId = s.ColumnText(0);
  return true;
}

const std::string& TStationStore::StationId() const {
  return impl_->stationId;
}

std::optional<std::vector<TOutboxEntry>> TStationStore::Outbox(int limit, std::string* error) {
  std::lock_guard lock(impl_->mutex);
  TStatement s = impl_->db.Prepare("SELECT seq, kind, local_id FROM outbox ORDER BY seq LIMIT ?1");
  std::vector<TOutboxEntry> entries;
  TStep step = BindAll(s, std::int64_t{limit}) ? TStep::kRow : TStep::kError;
  while (step == TStep::kRow && (step = s.Step()) == TStep::kRow) {
    TRowReader row(s);
    TOutboxEntry& entry = entries.emplace_back();
    entry.seq = row.Int();
    const std::string kind = row.Text();
    for (const TKindName& known : kKindNames) {
      if (kind == known.name) entry.kind = known.kind;
    }
    entry.localId = row.Int();
  }
  if (step != TStep::kDone) {
    impl_->Fail(error, "cannot read the outbox of the line");
    return std::nullopt;
  }
  return entries;
}

std::int64_t TStationStore::OutboxCount(std::string* error) {
  std::lock_guard lock(impl_->mutex);
  std::int64_t count = 0;
  if (!QueryInt(impl_->db, "SELECT count(*) FROM outbox", &count)) {
    impl_->Fail(error, "cannot count the outbox of the line");
    return -1;
  }
  return count;
}

bool TStationStore::MarkSent(std::int64_t seq, std::string* error) {
  std::lock_guard lock(impl_->mutex);
  if (!impl_->FilesIntact(error)) return false;
  TStatement s = impl_->db.Prepare("DELETE FROM outbox WHERE seq <= ?1");
  return (BindAll(s, seq) && s.Step() == TStep::kDone) ||
         impl_->Fail(error, "cannot mark records as received by the line");
}

std::optional<TBackupClosing> TStationStore::LoadClosing(std::int64_t backupId,
                                                         std::string* error) {
  constexpr std::string_view kWhat = "cannot read the closing of the backup";
  std::lock_guard lock(impl_->mutex);
  TStatement s = impl_->db.Prepare(
      "SELECT closed_at, closed_how, origin_station, origin_id FROM backups WHERE id = ?1 AND "
      "open = 0");
  const TStep step = BindAll(s, backupId) ? s.Step() : TStep::kError;
  if (step == TStep::kRow) {
    return TBackupClosing{s.ColumnText(0), s.ColumnText(1), s.ColumnText(2), s.ColumnInt64(3)};
  }
  if (step == TStep::kError) {
    impl_->Fail(error, kWhat);
  } else {
    SetError(error, std::string(kWhat) + ": backup " + std::to_string(backupId) +
                        " is open or does not exist (" + impl_->path + ")");
  }
  return std::nullopt;
}

}  // namespace vornex
