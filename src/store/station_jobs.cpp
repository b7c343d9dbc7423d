// Jobs in the station record store: keeping the account of each job and reading the history
// back through its filters.
#include "store/station_store_impl.h"

namespace vornex {
namespace {

using sqlite::TStatement;
using sqlite::TTransaction;
using TStep = sqlite::TStatement::TStep;

constexpr const char* kJobColumns =
    "id, kind, slot, device_key, diag_com, modem_com, diag_com_after, modem_com_after, "
    "version_before, version_after, image_tag, image_sha256, sn_before, meid_before, "
    "tflag_before, sn_after, meid_after, tflag_after, nv_backed_up, nv_differ, at_differ, "
    "identity_verified, steps, pass, failure, backup_id, started_at, ended_at, elapsed_ms, cause, "
    "step_times";

// The columns of kJobColumns that records of an older schema do not have yet, read as empty.
struct TLaterColumn {
  std::string_view name;
  std::int64_t schema;  // the schema that added it
};
constexpr TLaterColumn kLaterColumns[] = {{"cause", 2}, {"step_times", 4}};

std::string JobColumns(std::int64_t schema) {
  std::string columns = kJobColumns;
  for (const TLaterColumn& later : kLaterColumns) {
    if (schema >= later.schema) continue;
    const std::size_t at = columns.rfind(later.name);
    columns.replace(at, later.name.size(), "''");
  }
  return columns;
}

// The identity slots a job keeps, before and after.
constexpr int kJobIdentitySlots[] = {kSlotSn, kSlotMeid, kSlotTflag};

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
  j.times = StepTimesFromText(row.Text());
  return j;
}

}  // namespace

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
      "cause, step_times, backup_id) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, "
      "?13, "
      "?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24, ?25, ?26, ?27, ?28, ?29, ?30)");
  const auto& before = j.identityBefore.slots;
  const auto& after = j.identityAfter.slots;
  const bool bound =
      BindAll(s, j.kind, j.slot, j.deviceKey, j.diagCom, j.modemCom, j.diagComAfter,
              j.modemComAfter, j.versionBefore, j.versionAfter, j.imageTag, j.imageSha256,
              TBlob{before[kSlotSn]}, TBlob{before[kSlotMeid]}, TBlob{before[kSlotTflag]},
              TBlob{after[kSlotSn]}, TBlob{after[kSlotMeid]}, TBlob{after[kSlotTflag]},
              j.nvBackedUp, j.nvDiffer, j.atDiffer, j.identityVerified, StepLetters(j.steps),
              j.pass, j.failure, j.startedAt, j.endedAt, j.elapsedMs, j.cause,
              StepTimesText(j.times)) &&
      (j.backupId > 0 ? s.BindInt64(30, j.backupId) : s.BindNull(30));
  if (!bound || s.Step() != TStep::kDone || !tx.Commit()) return Fail(error, kWhat);
  *id = db.LastInsertId();
  return true;
}

bool TStationStore::Impl::ReadHistory(const THistoryFilter& filter, std::vector<TJobSummary>* jobs,
                                      std::string* error) {
  return VisitHistory(
      filter, false,
      [jobs](const TJobSummary& job) {
        jobs->push_back(job);
        return true;
      },
      error);
}

bool TStationStore::Impl::VisitHistory(const THistoryFilter& filter, bool oldestFirst,
                                       const TJobVisitor& visit, std::string* error) {
  constexpr std::string_view kWhat = "cannot read the job history";
  // The filters only choose fixed pieces of the query; their values are bound.
  std::string sql = "SELECT " + JobColumns(schema) + " FROM jobs WHERE 1";
  if (!filter.since.empty()) sql += " AND started_at >= ?1";
  if (!filter.serial.empty()) sql += " AND sn_before = ?2";
  if (!filter.key.empty()) sql += " AND device_key = ?3 COLLATE NOCASE";
  if (!filter.until.empty()) sql += " AND started_at < ?5";
  sql += oldestFirst ? " ORDER BY started_at, id" : " ORDER BY started_at DESC, id DESC";
  sql += " LIMIT ?4";
  TStatement s = db.Prepare(sql);
  bool bound = s.Valid();
  if (!filter.since.empty()) bound = bound && s.BindText(1, filter.since);
  if (!filter.serial.empty()) bound = bound && s.BindBlob(2, filter.serial);
  if (!filter.key.empty()) bound = bound && s.BindText(3, filter.key);
  if (!filter.until.empty()) bound = bound && s.BindText(5, filter.until);
  bound = bound && s.BindInt64(4, filter.limit > 0 ? filter.limit : -1);
  TStep step = bound ? TStep::kRow : TStep::kError;
  while (step == TStep::kRow && (step = s.Step()) == TStep::kRow) {
    if (!visit(ReadJobRow(s))) return true;
  }
  return step == TStep::kDone || Fail(error, kWhat);
}

std::optional<TJobSummary> TStationStore::LoadJob(std::int64_t jobId, std::string* error) {
  constexpr std::string_view kWhat = "cannot read the job";
  std::lock_guard lock(impl_->mutex);
  TStatement s =
      impl_->db.Prepare("SELECT " + JobColumns(impl_->schema) + " FROM jobs WHERE id = ?1");
  const TStep step = BindAll(s, jobId) ? s.Step() : TStep::kError;
  if (step == TStep::kRow) return ReadJobRow(s);
  if (step == TStep::kError) {
    impl_->Fail(error, kWhat);
  } else {
    SetError(error, std::string(kWhat) + ": job " + std::to_string(jobId) + " does not exist (" +
                        impl_->path + ")");
  }
  return std::nullopt;
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

bool TStationStore::VisitJobs(const THistoryFilter& filter, const TJobVisitor& visit,
                              std::string* error) {
  std::lock_guard lock(impl_->mutex);
  return impl_->VisitHistory(filter, true, visit, error);
}

}  // namespace vornex
