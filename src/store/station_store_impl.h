// What the files of the station record store share: the connection's owner (TStationStore::Impl)
// with the operations behind the public ones, the helpers that bind values and read rows, and
// the schema steps of an opening. Private to the store's files.
//
// Identity values are device bytes (Windows-1252, any byte possible) and are kept as blobs so
// that they come back exactly; other texts are kept as SQLite text, which is stored and read
// back byte for byte as well.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/file_identity.h"
#include "store/sqlite_db.h"
#include "store/station_store.h"

namespace vornex {

constexpr int kBusyTimeoutMs = 5000;

// The newest schema of the station records (store_schema.cpp).
extern const std::int64_t kNewestSchema;

// Device bytes bound as a blob.
struct TBlob {
  std::string_view bytes;
};

inline bool BindOne(sqlite::TStatement& s, int index, std::int64_t value) {
  return s.BindInt64(index, value);
}
inline bool BindOne(sqlite::TStatement& s, int index, const std::string& value) {
  return s.BindText(index, value);
}
inline bool BindOne(sqlite::TStatement& s, int index, TBlob value) {
  return s.BindBlob(index, value.bytes);
}

// Binds the values to parameters 1, 2, ... in order. False when one is refused.
template <typename... Values>
bool BindAll(sqlite::TStatement& s, const Values&... values) {
  [[maybe_unused]] int index = 0;
  return (BindOne(s, ++index, values) && ...);
}

// Reads the columns of the current row one after the other.
class TRowReader {
 public:
  explicit TRowReader(const sqlite::TStatement& s) : s_(s) {}
  std::int64_t Int() { return s_.ColumnInt64(next_++); }
  std::int32_t Int32() { return static_cast<std::int32_t>(Int()); }
  std::string Text() { return s_.ColumnText(next_++); }
  std::string Blob() { return s_.ColumnBlob(next_++); }

 private:
  const sqlite::TStatement& s_;
  int next_ = 0;
};

inline void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

inline bool QueryInt(sqlite::TDatabase& db, const char* sql, std::int64_t* value) {
  sqlite::TStatement s = db.Prepare(sql);
  if (s.Step() != sqlite::TStatement::TStep::kRow) return false;
  *value = s.ColumnInt64(0);
  return true;
}

// How much of a file the opening checks: all of it, all unless the station closed it cleanly
// last time, or only its schema (a reader, which changes nothing and reports damage where it
// meets it).
enum class TFileCheck { kFull, kUnlessClosedCleanly, kNone };

// Reads the schema version of the database file at `path` into *version and checks that it is
// known and, as `fileCheck` says, that the file is sound, without writing anything. False with
// *error.
bool CheckSchemaAndFile(sqlite::TDatabase& db, const std::string& path, TFileCheck fileCheck,
                        std::int64_t* version, std::string* error);
// Checks the file and brings its schema up to date. False with *error when it cannot be used;
// a refused file is left exactly as it was.
bool PrepareDatabase(sqlite::TDatabase& db, std::string* error);

struct TStationStore::Impl {
  std::mutex mutex;
  sqlite::TDatabase db;  // guarded by mutex
  std::string path;
  // The schema of the file: the newest once opened for writing; opened for reading, the one it
  // has.
  std::int64_t schema = kNewestSchema;
  // The files as opened; the journal's is absent when it did not exist then.
  std::optional<os::TFileIdentity> fileId;
  std::optional<os::TFileIdentity> journalId;
  std::string stationId;  // schema 3 and newer
  bool writable = false;  // opened for writing: marks the file closed cleanly at the end

  // Reads the station's id (schema 3 and newer). False with *error.
  bool ReadStationId(std::string* error);

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
  // The NV records of the backup's rows (form 0) only.
  bool ReadNvRows(std::int64_t backupId, std::vector<TNvRecord>* nv, std::string* error);
  // Upkeep (station_upkeep.cpp): drops the values of closed backups past `cutoff`, then packs
  // the NV records of closed ones, at most `limit` backups in all, in the open transaction.
  bool DropOldValues(const TUpkeepRules& rules, int limit, int* dropped, std::string* error);
  bool PackClosed(int limit, int* packed, std::string* error);
  bool ReadHistory(const THistoryFilter& filter, std::vector<TJobSummary>* jobs,
                   std::string* error);
  bool VisitHistory(const THistoryFilter& filter, bool oldestFirst, const TJobVisitor& visit,
                    std::string* error);
};

}  // namespace vornex
