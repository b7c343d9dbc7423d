// The station record store: one SQLite database per station that keeps every identity backup
// from the moment it is read until a verified restore closes it, and the account of every job
// (the station's traceability record). Identity commits are durable (WAL journal, synchronous
// FULL) before the device is touched; a backup that is never closed survives crashes, kills and
// power cuts and is listed by "vornex restore".
//
// One object is shared by all workers of the station; every operation is safe to call from any
// thread (one connection, one lock). Operations report failure as false / 0 / nullopt with a
// text saying what failed and where; nothing already stored is lost by a failed operation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "records/identity_record.h"
#include "records/job_summary.h"

namespace vornex {

// The database file name inside the data folder.
constexpr const char* kStoreFileName = "station.db";

// The default data folder: $XDG_STATE_HOME/vornex, else $HOME/.local/state/vornex; empty when
// neither variable is set.
std::string DefaultDataFolder();

// Which jobs the history lists.
struct THistoryFilter {
  std::string since;   // "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS": jobs started at or after it
  std::string serial;  // serial number before the rewrite, exactly
  std::string key;     // device key, letter case ignored
  int limit = 0;       // at most this many, 0 = all
  std::string until;   // the form of `since`: jobs started before it
};

// What a line of stations has not received yet: one entry per backup, closing of a backup and
// job, in the order they were committed.
enum class TOutboxKind : std::uint8_t { kBackup, kClosing, kJob };
struct TOutboxEntry {
  std::int64_t seq = 0;  // the entry's place in the outbox
  TOutboxKind kind = TOutboxKind::kJob;
  std::int64_t localId = 0;  // the backup (kBackup, kClosing) or job (kJob)
};

// When and how a backup was closed.
struct TBackupClosing {
  std::string closedAt;  // local time "YYYY-MM-DD HH:MM:SS"
  std::string how;
  std::string originStation;  // a copy of another station's backup: where it came from
  std::int64_t originId = 0;
};

// How long closed backups keep their values. The job history is always kept.
constexpr int kDefaultKeepValuesDays = 90;
struct TUpkeepRules {
  // A closed backup's AT values and NV records are dropped this many days after it was closed;
  // 0 keeps them for ever (packed).
  int keepValuesDays = kDefaultKeepValuesDays;
  // A line of stations is set up: nothing is dropped before the line has received it.
  bool waitForLine = false;
};

// What one step of upkeep did.
struct TUpkeepStep {
  int dropped = 0;    // backups whose values were dropped
  int packed = 0;     // backups whose NV records were packed
  bool more = false;  // there may be more to do
};

// Called with each job in turn; answers false to stop.
using TJobVisitor = std::function<bool(const TJobSummary&)>;

class TStationStore {
 public:
  // Opens the database in the folder (created with its parents when missing), creating or
  // migrating the schema. Null with *error when it cannot be used: not creatable or writable,
  // corrupted, locked by another writer for longer than the busy limit, or from a newer schema.
  static std::unique_ptr<TStationStore> Open(const std::string& dataFolder, std::string* error);
  // Opens the database in the folder for reading only: nothing is created or changed, neither a
  // folder nor a file (no database, journal or shared-memory file) nor the schema. Null with
  // *error when the folder or its database does not exist ("no station records in DIR: ..."),
  // or when the file cannot be read, is damaged, holds other tables or comes from a newer
  // schema. Records of an older schema are read as they are. Every operation that writes fails.
  static std::unique_ptr<TStationStore> OpenReadOnly(const std::string& dataFolder,
                                                     std::string* error);
  ~TStationStore();
  TStationStore(const TStationStore&) = delete;
  TStationStore& operator=(const TStationStore&) = delete;

  // The database file.
  const std::string& Path() const;

  // Commits the backup (AT values and every NV record) in one durable transaction. Its id (> 0),
  // or 0 with *error; nothing of it is stored then.
  std::int64_t CommitBackup(const TIdentityBackup& backup, std::string* error);
  // Notes why an open backup is still open (the failure of its job). False with *error.
  bool SetOpenReason(std::int64_t backupId, const std::string& reason, std::string* error);
  // Closes a backup after its identity was verified on the device; `how` says by what (a job
  // id, "restore ..."). False with *error (also for an unknown id).
  bool CloseBackup(std::int64_t backupId, const std::string& how, std::string* error);
  // The open backups, oldest first, without their NV records (nv stays empty). Nullopt with
  // *error when they cannot be read.
  std::optional<std::vector<TIdentityBackup>> OpenBackups(std::string* error);
  // Number of open backups; -1 with *error.
  std::int64_t OpenBackupCount(std::string* error);
  // One backup with everything in it; nullopt with *error when absent or unreadable.
  std::optional<TIdentityBackup> LoadBackup(std::int64_t backupId, std::string* error);

  // The open backups that may be of one device: the same key (letter case ignored), the same
  // serial number or the same MEID (an empty value matches nothing). Newest first, with their AT
  // values and without their NV records. Nullopt with *error when they cannot be read.
  std::optional<std::vector<TIdentityBackup>> OpenBackupsMatching(const std::string& key,
                                                                  const std::string& sn,
                                                                  const std::string& meid,
                                                                  std::string* error);

  // Whether the database file and its write-ahead journal are still the files this store
  // opened. False with *error once either was deleted or replaced while the station ran: the
  // connection would go on writing into a file nobody can open again. Every commit of a backup
  // checks it first and fails then.
  bool FileIntact(std::string* error);

  // Keeps the account of a job (durably). Its id (> 0), or 0 with *error.
  std::int64_t RecordJob(const TJobSummary& summary, std::string* error);
  // Past jobs, newest first. Nullopt with *error.
  std::optional<std::vector<TJobSummary>> History(const THistoryFilter& filter, std::string* error);
  // The jobs the filter chooses, oldest first, one at a time (the history is never held whole:
  // a report over millions of jobs needs no more memory than one). True when every job was
  // visited or the visitor stopped; false with *error when the records could not be read.
  bool VisitJobs(const THistoryFilter& filter, const TJobVisitor& visit, std::string* error);
  // One job; nullopt with *error when absent or unreadable.
  std::optional<TJobSummary> LoadJob(std::int64_t jobId, std::string* error);

  // One step of keeping the records small, in one transaction, touching at most `limit`
  // backups: drops the values of closed backups older than the rules allow, then packs the NV
  // records of closed ones; then gives freed pages back to the file system. An open backup is
  // never touched, nor, with waitForLine, one whose backup or closing the line has not
  // received. A step cut off (a kill, a power cut) changes nothing. Nullopt with *error.
  std::optional<TUpkeepStep> Upkeep(const TUpkeepRules& rules, int limit, std::string* error);
  // Reads the whole file and checks it; false with *error naming the first findings.
  bool CheckWhole(std::string* error);
  // Rewrites the whole file without free space (and so that later upkeep gives freed pages
  // back). Needs the file to itself; false with *error.
  bool Vacuum(std::string* error);
  // The bytes the records take on disk: the file and its journal, once the journal has been
  // written into the file and emptied (as far as no other connection still reads from it).
  std::uint64_t DiskBytes();

  // The station's id on a line of stations: a UUID made when its records were first opened
  // with this schema, and kept with them. Empty for records of an older schema opened for
  // reading.
  const std::string& StationId() const;
  // The oldest entries of the outbox, at most `limit`. Nullopt with *error.
  std::optional<std::vector<TOutboxEntry>> Outbox(int limit, std::string* error);
  // Entries in the outbox; -1 with *error.
  std::int64_t OutboxCount(std::string* error);
  // Takes the entries up to `seq` (included) out of the outbox, once the line has committed
  // them. False with *error; they stay then and are sent again (the line takes each once).
  bool MarkSent(std::int64_t seq, std::string* error);
  // When and how a backup was closed; nullopt with *error when it is open or absent.
  std::optional<TBackupClosing> LoadClosing(std::int64_t backupId, std::string* error);

 private:
  struct Impl;
  explicit TStationStore(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace vornex
