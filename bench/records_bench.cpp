// What a million jobs cost the station records: a history of 1,000,000 jobs (a thousand a day
// over a thousand days ending today, each with its identity backup in the form upkeep leaves it
// in) written straight into a fresh store with SQLite; then the time TStationStore::Open takes,
// the size per job and per table, Upkeep on a store of 20,000 closed backups kept as rows, and
// "vornex report" over a month and a year of it as a child process (wall time, peak memory).
// Figures, not pass/fail: the targets are printed next to them. Everything is in one folder
// under the temporary folder, removed at the end, also on failure or Ctrl-C.
#include <malloc.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <concepts>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/paths.h"
#include "foundation/sha256.h"
#include "records/job_summary.h"
#include "sim/nv_catalog.h"
#include "store/nv_pack.h"
#include "store/station_store.h"

extern char** environ;

namespace vornex {
namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

constexpr int kJobs = 1'000'000;
constexpr int kDays = 1000;                          // the last one is today
constexpr int kRecentDays = kDefaultKeepValuesDays;  // backups closed since keep their values
constexpr int kRecentJobs = kJobs / 10;              // the jobs of those days
constexpr int kSockets = 8;
constexpr int kFailingSocket = 5;  // F: a worn USB socket that loses devices after their reset
constexpr const char* kSocketKeys[kSockets] = {"1-1.1", "1-1.2", "1-1.3", "1-1.4",
                                               "1-2.1", "1-2.2", "1-2.3", "1-2.4"};
constexpr std::size_t kNvRecords = 582;
constexpr int kDevicePool = 64;  // devices whose NV records the generated backups take in turn
constexpr int kUpkeepBackups = 20'000;
constexpr int kUpkeepLimit = 32;

// A failure as a job records it: the operator's text, the cause ("%s": the device key), the job
// step that failed, how many timed steps ran, and its share of the failures in 100.
struct TFailure {
  const char* text;
  const char* cause;
  TJobStep step;
  std::size_t timedSteps;
  int share;
};
constexpr TFailure kFailures[] = {
    {"Download failed", "the image stream ended without a reason", TJobStep::kImageUpdate, 6, 35},
    {"Download failed", "the device did not switch into download mode", TJobStep::kImageUpdate, 4,
     20},
    {"Can Not Find Device Again !", "no ports of device %s after its reset", TJobStep::kReset, 7,
     20},
    {"Device refused the reset: Start again, or run vornex restore",
     "the programmer refused the reset and still runs: no reason given", TJobStep::kReset, 7, 10},
    {"Identity not restored: 0 AT, 2 NV items differ",
     "identity backup is not all on the device; it stays open", TJobStep::kVerify, 9, 15},
};
constexpr std::size_t kLostAfterReset = 2;
// Typical milliseconds of each timed step (TTimedStep order); each job varies them by +-20%.
constexpr int kStepMs[kTimedStepCount] = {600, 400, 7500, 2500, 3500, 75000, 18000, 7000, 5500};

volatile std::sig_atomic_t g_stop = 0;
const TClock::time_point g_start = TClock::now();

double Seconds(TClock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// A progress line; after Ctrl-C, stops the run (by exception: the folder is removed).
void Progress(const std::string& text) {
  if (g_stop) throw std::runtime_error("stopped by a signal");
  std::printf("[%6.1f s] %s\n", Seconds(TClock::now() - g_start), text.c_str());
  std::fflush(stdout);
}

std::string Format(const char* format, double a, double b = 0) {
  char text[96];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

double MiB(std::int64_t bytes) {
  return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

std::vector<std::array<std::string, 3>> g_figures;  // name, value, target
void Note(const std::string& name, const std::string& value, const std::string& target = "") {
  g_figures.push_back({name, value, target});
}

struct TRandom {  // splitmix64
  std::uint64_t state;
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
  int Vary(int value) { return value * (80 + Below(41)) / 100; }  // +-20%
};

// The database file plus its journal, in bytes.
std::int64_t StoreBytes(const std::string& folder) {
  std::int64_t bytes = 0;
  for (const char* suffix : {"", "-wal"}) {
    std::error_code ec;
    const auto size = fs::file_size(folder + "/" + kStoreFileName + suffix, ec);
    if (!ec) bytes += static_cast<std::int64_t>(size);
  }
  return bytes;
}

using TRows = std::vector<std::vector<std::string>>;

// The store's file through SQLite itself, for what the station would take years to write.
class TDb {
 public:
  explicit TDb(const std::string& folder) : path_(folder + "/" + kStoreFileName) {
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      Throw("cannot open");
    }
  }
  ~TDb() { sqlite3_close_v2(db_); }
  TDb(const TDb&) = delete;
  TDb& operator=(const TDb&) = delete;
  [[noreturn]] void Throw(const std::string& what) const {
    throw std::runtime_error(what + ": " + sqlite3_errmsg(db_) + " (" + path_ + ")");
  }
  // The rows of the statements, as texts.
  TRows Query(const std::string& sql) {
    TRows rows;
    const auto add = [](void* to, int columns, char** values, char**) {
      auto& row = static_cast<TRows*>(to)->emplace_back();
      for (int i = 0; i < columns; ++i) row.emplace_back(values[i] ? values[i] : "");
      return 0;
    };
    if (sqlite3_exec(db_, sql.c_str(), add, &rows, nullptr) != SQLITE_OK) Throw(sql);
    return rows;
  }
  sqlite3* Handle() const { return db_; }

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
};

struct TBlob {  // device bytes, kept as a blob like the station keeps them
  const std::string& bytes;
};

class TStmt {
 public:
  TStmt(TDb& db, const char* sql) : db_(db), sql_(sql) {
    if (sqlite3_prepare_v2(db.Handle(), sql, -1, &s_, nullptr) != SQLITE_OK) db.Throw(sql);
  }
  ~TStmt() { sqlite3_finalize(s_); }
  TStmt(const TStmt&) = delete;
  TStmt& operator=(const TStmt&) = delete;
  // Binds the values to ?1, ?2, ... and runs the statement once.
  template <typename... Values>
  void Run(const Values&... values) {
    int index = 0;
    (Bind(++index, values), ...);
    if (sqlite3_step(s_) != SQLITE_DONE) db_.Throw(sql_);
    sqlite3_reset(s_);
  }

 private:
  template <std::integral T>
  void Bind(int i, T value) {
    Check(sqlite3_bind_int64(s_, i, static_cast<std::int64_t>(value)));
  }
  void Bind(int i, const std::string& v) {
    Check(sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC));
  }
  void Bind(int i, TBlob v) {
    Check(
        sqlite3_bind_blob(s_, i, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_STATIC));
  }
  void Bind(int i, std::nullptr_t) { Check(sqlite3_bind_null(s_, i)); }
  void Check(int rc) {
    if (rc != SQLITE_OK) db_.Throw(sql_);
  }
  TDb& db_;
  const char* sql_;
  sqlite3_stmt* s_ = nullptr;
};

// A fresh store with the station's schema, closed cleanly, opened through SQLite for filling:
// no journal and no syncs until EndFill gives it back the station's write-ahead journal.
std::unique_ptr<TDb> BeginFill(const std::string& folder) {
  std::string error;
  if (!TStationStore::Open(folder, &error)) throw std::runtime_error(error);
  auto db = std::make_unique<TDb>(folder);
  db->Query(
      "PRAGMA journal_mode=DELETE; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
      "PRAGMA cache_size=-262144; BEGIN");
  return db;
}
void EndFill(TDb& db) {
  db.Query("COMMIT; PRAGMA synchronous=FULL; PRAGMA journal_mode=WAL");
}

// The local date `days` before today ("YYYY-MM-DD"), or with `months`, the first of the month
// that many months before this one.
std::string LocalDate(int days, int months = -1) {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  t.tm_mday = months >= 0 ? 1 : t.tm_mday - days;
  t.tm_mon -= std::max(months, 0);
  t.tm_hour = 12;
  t.tm_isdst = -1;
  std::mktime(&t);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &t);
  return text;
}

// "YYYY-MM-DD hh:mm:ss.mmm" (the first 19 characters without the milliseconds).
std::string TimeText(const std::string& date, std::int64_t ms) {
  char text[40];
  const auto s = static_cast<int>(ms / 1000);
  std::snprintf(text, sizeof text, "%s %02d:%02d:%02d.%03d", date.c_str(), s / 3600, s / 60 % 60,
                s % 60, static_cast<int>(ms % 1000));
  return text;
}

// The image's SHA-256 (of its tag: the bench has no image).
std::string ImageSha256(const std::string& tag) {
  return Sha256Hex(reinterpret_cast<const std::uint8_t*>(tag.data()), tag.size());
}

TIdentityBlock DeviceIdentity(std::int64_t n) {
  TIdentityBlock identity;
  // A bijection of 0 .. 900,000,000: no two devices share a serial number.
  const auto serial =
      1'000'000'000ull + static_cast<std::uint64_t>(n) * 2654435761ull % 900'000'000ull;
  identity.slots[kSlotSn] = "VX" + std::to_string(serial);
  char meid[16];
  std::snprintf(meid, sizeof meid, "A1000049%06llX", (serial * 40503ull) & 0xFFFFFFull);
  identity.slots[kSlotMeid] = meid;
  identity.slots[kSlotTflag] = std::string("1");
  return identity;
}

// Backups with their values as the store keeps them. The NV records are those of a simulated
// device (its factory items, some listed twice as the station's list has them, each a short
// device-specific head and zeros after it), taken in turn from a pool of devices.
struct TBackupWriter {
  TStmt backup, at, nv, packed, close;
  std::vector<std::vector<TNvRecord>> records;
  std::vector<std::string> packedRecords;

  explicit TBackupWriter(TDb& db)
      : backup(db,
               "INSERT INTO backups (id, created_at, source, source_file, slot, device_key, "
               "diag_com, modem_com, firmware_version, image_tag, image_sha256, item_switches, "
               "open, open_reason) VALUES (?, ?, 'job', '', ?, ?, ?, ?, ?, ?, ?, 3, 1, ?)"),
        at(db, "INSERT INTO backup_at (backup_id, slot, value) VALUES (?, ?, ?)"),
        nv(db, "INSERT INTO backup_nv (backup_id, seq, item, data) VALUES (?, ?, ?, ?)"),
        packed(db, "INSERT INTO backup_nv_packed (backup_id, records, data) VALUES (?, ?, ?)"),
        close(db,
              "UPDATE backups SET open = 0, closed_at = ?, closed_how = ?, nv_form = ?, "
              "values_dropped_at = ? WHERE id = ?") {
    const std::vector<std::uint16_t> items = sim::FactoryNvItems();
    for (int device = 0; device < kDevicePool; ++device) {
      TRandom random{0x5EED0000u + device};
      std::vector<TNvRecord>& nv = records.emplace_back(kNvRecords);
      for (std::size_t i = 0; i < kNvRecords; ++i) {
        const std::uint16_t item = items[i % items.size()];
        nv[i].bytes[0] = static_cast<std::uint8_t>(item & 0xFF);
        nv[i].bytes[1] = static_cast<std::uint8_t>(item >> 8);
        for (int b = 0, filled = 1 + random.Below(24); b < filled; ++b) {
          nv[i].bytes[2 + b] = static_cast<std::uint8_t>(random.Next() | (b == 0 ? 1 : 0));
        }
      }
      packedRecords.push_back(PackNvRecords(nv));
    }
  }
  void Values(std::int64_t id, const TIdentityBlock& identity) {
    for (const int slot : {kSlotSn, kSlotMeid, kSlotTflag}) {
      at.Run(id, slot, TBlob{identity.slots[slot]});
    }
  }
  void Rows(std::int64_t id) {
    for (std::size_t seq = 0; seq < kNvRecords; ++seq) {
      const TNvRecord& record = records[id % kDevicePool][seq];
      nv.Run(id, seq, record.Item(), TBlob{std::string(record.bytes.begin(), record.bytes.end())});
    }
  }
  void Packed(std::int64_t id) {
    packed.Run(id, kNvRecords, TBlob{packedRecords[id % kDevicePool]});
  }
};

// --- 1. The history ---

// The first job of a day (0 = the oldest): the days before the retention period share nine
// tenths of the jobs, the last kRecentDays the rest.
int FirstJobOfDay(std::int64_t day) {
  constexpr std::int64_t kOldDays = kDays - kRecentDays, kOldJobs = kJobs - kRecentJobs;
  if (day <= kOldDays) return static_cast<int>(day * kOldJobs / kOldDays);
  return static_cast<int>(kOldJobs + (day - kOldDays) * kRecentJobs / kRecentDays);
}

const TFailure* DrawFailure(TRandom& random, int slot) {
  const int roll = random.Below(1000);  // 3.5% on every socket, 4% more on the worn one
  if (roll >= 35) {
    return slot == kFailingSocket && roll < 75 ? &kFailures[kLostAfterReset] : nullptr;
  }
  int share = random.Below(100);
  for (const TFailure& failure : kFailures) {
    if ((share -= failure.share) < 0) return &failure;
  }
  return &kFailures[0];
}

void GenerateHistory(const std::string& folder) {
  const std::unique_ptr<TDb> db = BeginFill(folder);
  TBackupWriter w(*db);
  TStmt job(*db,
            "INSERT INTO jobs (id, kind, slot, device_key, diag_com, modem_com, diag_com_after, "
            "modem_com_after, version_before, version_after, image_tag, image_sha256, sn_before, "
            "meid_before, tflag_before, sn_after, meid_after, tflag_after, nv_backed_up, "
            "nv_differ, at_differ, identity_verified, steps, pass, failure, backup_id, "
            "started_at, ended_at, elapsed_ms, cause, step_times) VALUES (?, 'flash', ?, ?, ?, "
            "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 582, ?, 0, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  const std::string versionsBefore[] = {"V1.3.07", "V1.3.11", "V1.4.02", "V1.4.05"};
  const std::string verified = "verified after its job", none;
  TRandom random{42};
  std::int64_t id = 0, failed = 0, open = 0;
  for (int day = 0; day < kDays; ++day) {
    const std::string date = LocalDate(kDays - 1 - day);
    const bool recent = day >= kDays - kRecentDays;
    // Upkeep dropped the values of the day's backups once the retention period was over.
    const std::string dropped = LocalDate(std::max(0, kDays - 2 - day - kRecentDays)) + " 03:12:40";
    const std::string tag = "V2.0." + std::to_string(10 + day / 100);  // a new image every 100 days
    const std::string sha = ImageSha256(tag);
    const int count = FirstJobOfDay(day + 1) - FirstJobOfDay(day);
    for (int k = 0; k < count; ++k) {
      const int slot = static_cast<int>(++id % kSockets);
      const std::string key = kSocketKeys[slot];
      const int diag = 3 + 2 * slot, modem = 4 + 2 * slot;
      const std::string& before = versionsBefore[random.Below(4)];
      const TIdentityBlock identity = DeviceIdentity(id);
      const TFailure* failure = DrawFailure(random, slot);
      TStepTimes times{};
      std::int32_t at = 0;
      for (std::size_t s = 0; s < (failure ? failure->timedSteps : kTimedStepCount); ++s) {
        times[s] = {at, at + random.Vary(kStepMs[s])};
        at = times[s].endMs + random.Below(40);
      }
      std::array<TStepOutcome, kJobStepCount> steps{};
      const std::size_t failedStep = failure ? static_cast<std::size_t>(failure->step) : 99;
      for (std::size_t s = 0; s < kJobStepCount && s <= failedStep; ++s) {
        steps[s] = s < failedStep ? TStepOutcome::kOk : TStepOutcome::kFailed;
      }
      const bool found = !failure || failure->step == TJobStep::kVerify;  // after the reset
      const bool isOpen = recent && failure && random.Below(4) == 0;
      const std::int64_t startMs =
          (6 * 3600 + std::int64_t{k} * 16 * 3600 / count) * 1000 + random.Below(30'000);
      const std::string failureText = failure ? failure->text : "";
      std::string cause = failure ? failure->cause : "";
      if (const auto mark = cause.find("%s"); mark != std::string::npos) {
        cause.replace(mark, 2, key);
      }
      const TIdentityBlock after = found ? identity : TIdentityBlock{};

      w.backup.Run(id, TimeText(date, startMs + times[2].endMs).substr(0, 19), slot, key, diag,
                   modem, before, tag, sha, isOpen ? failureText : none);
      if (recent) w.Values(id, identity);
      if (isOpen) w.Rows(id);
      if (recent && !isOpen) w.Packed(id);
      job.Run(id, slot, key, diag, modem, found ? diag : 0, found ? modem : 0, before,
              found ? tag : none, tag, sha, TBlob{identity.slots[kSlotSn]},
              TBlob{identity.slots[kSlotMeid]}, TBlob{identity.slots[kSlotTflag]},
              TBlob{after.slots[kSlotSn]}, TBlob{after.slots[kSlotMeid]},
              TBlob{after.slots[kSlotTflag]}, found && failure ? 2 : 0, !failure,
              StepLetters(steps), !failure, failureText, id, TimeText(date, startMs),
              TimeText(date, startMs + at), at, cause, StepTimesText(times));
      if (!isOpen) {  // a failed job's backup is closed by the device's next job
        w.close.Run(TimeText(date, startMs + at + (failure ? 600'000 : 0)).substr(0, 19),
                    failure ? "superseded by job " + std::to_string(id + kSockets) : verified,
                    recent ? 1 : 2, recent ? none : dropped, id);
      }
      failed += failure != nullptr;
      open += isOpen;
    }
    if (day % 100 == 99) {
      db->Query("COMMIT; BEGIN");
      Progress("history: " + std::to_string(id) + " of " + std::to_string(kJobs) + " jobs");
    }
  }
  Progress("history: " + std::to_string(failed) + " failed, " + std::to_string(open) +
           " backups open, " + std::to_string(kRecentJobs - open) + " closed with packed NV, " +
           std::to_string(kJobs - kRecentJobs) + " without values; the outbox holds " +
           db->Query("SELECT count(*) FROM outbox")[0][0] +
           " entries, filled by the schema's triggers and kept, as on a station without a line");
  EndFill(*db);
}

// --- 2. Opening ---

std::unique_ptr<TStationStore> OpenStore(const std::string& folder) {
  std::string error;
  auto store = TStationStore::Open(folder, &error);
  if (!store) throw std::runtime_error(error);
  return store;
}

void MeasureOpen(const std::string& folder) {
  const auto OpenMs = [](const std::string& folder) {
    const auto start = TClock::now();
    const auto store = OpenStore(folder);
    return Seconds(TClock::now() - start) * 1000;  // then closed cleanly
  };
  std::vector<double> ms;
  for (int i = 0; i < 7; ++i) ms.push_back(OpenMs(folder));
  std::sort(ms.begin(), ms.end());
  Note("open, closed cleanly: median / worst of 7", Format("%.1f / %.1f ms", ms[3], ms.back()),
       "< 200 ms");
  TDb(folder).Query("UPDATE station SET clean_close = 0");
  Note("open after an unclean close (whole file checked)", Format("%.0f ms", OpenMs(folder)));
}

// --- 3. Size ---

void MeasureSize(const std::string& folder, const std::string& copy) {
  const std::int64_t bytes = StoreBytes(folder);
  Note("size of 1,000,000 jobs (file + journal)",
       Format("%.0f MiB, %.0f B/job", MiB(bytes), static_cast<double>(bytes) / kJobs));
  TDb db(folder);
  if (sqlite3_exec(db.Handle(), "SELECT * FROM dbstat LIMIT 1", nullptr, nullptr, nullptr) !=
      SQLITE_OK) {
    // Without dbstat: a copy whose backups all lost their values and whose outbox is empty.
    fs::create_directories(copy);
    db.Query("VACUUM INTO '" + copy + "/" + kStoreFileName + "'");
    TDb(copy).Query(
        "DELETE FROM backup_at; DELETE FROM backup_nv; DELETE FROM backup_nv_packed;"
        "DELETE FROM outbox; UPDATE backups SET nv_form = 2; VACUUM");
    Note("per closed job after retention (a copy)",
         Format("%.0f B", static_cast<double>(StoreBytes(copy)) / kJobs), "< 2048 B");
    return;
  }
  std::map<std::string, std::int64_t> tables;
  std::vector<std::pair<std::int64_t, std::string>> largest;
  for (const auto& row : db.Query("SELECT name, sum(pgsize) FROM dbstat GROUP BY name")) {
    tables[row[0]] = std::stoll(row[1]);
    largest.emplace_back(tables[row[0]], row[0]);
  }
  std::sort(largest.rbegin(), largest.rend());
  for (std::size_t i = 0; i < largest.size() && i < 6; ++i) {
    Note("  " + largest[i].second, Format("%.1f MiB, %.0f B/job", MiB(largest[i].first),
                                          static_cast<double>(largest[i].first) / kJobs));
  }
  // What every job keeps whatever the form of its backup, and its three outbox entries.
  const std::int64_t job = tables["jobs"] + tables["jobs_started_at"] + tables["jobs_device_key"] +
                           tables["jobs_sn_before"] + tables["backups"] + tables["backups_open"];
  const std::int64_t outbox = tables["outbox"] + tables["outbox_local"];
  Note("per closed job after retention, outbox empty",
       Format("%.0f B", static_cast<double>(job) / kJobs), "< 2048 B");
  Note("  with the outbox kept (station without a line)",
       Format("%.0f B", static_cast<double>(job + outbox) / kJobs), "< 2048 B");
  Note("size once the outbox is empty (line has all)", Format("%.0f MiB", MiB(bytes - outbox)));
}

// --- 4. Upkeep ---

double UpkeepStepMs(TStationStore& store, TUpkeepStep* done) {
  std::string error;
  const auto start = TClock::now();
  const std::optional<TUpkeepStep> step = store.Upkeep(TUpkeepRules{}, kUpkeepLimit, &error);
  if (!step) throw std::runtime_error(error);
  *done = *step;
  return Seconds(TClock::now() - start) * 1000;
}

// One step on the million, with nothing left to do (as the station runs one between batches);
// then steps until done on a store of backups kept as rows.
void MeasureUpkeep(const std::string& million, const std::string& folder) {
  std::vector<double> idleMs;
  TUpkeepStep step;
  for (const auto store = OpenStore(million); idleMs.size() < 3;) {
    idleMs.push_back(UpkeepStepMs(*store, &step));
  }
  std::sort(idleMs.begin(), idleMs.end());
  Note("upkeep step on the million, nothing to do", Format("%.0f ms (median of 3)", idleMs[1]));
  {
    const std::unique_ptr<TDb> db = BeginFill(folder);
    TBackupWriter w(*db);
    const std::string version = "V2.0.19", sha = ImageSha256(version);
    const std::string how = "verified after its job";
    const std::string oldDay = LocalDate(2 * kRecentDays), newDay = LocalDate(kRecentDays / 9);
    for (std::int64_t id = 1; id <= kUpkeepBackups; ++id) {
      const std::string& day = id <= kUpkeepBackups / 2 ? oldDay : newDay;
      w.backup.Run(id, TimeText(day, 21'600'000 + id * 2000).substr(0, 19), id % kSockets,
                   std::string(kSocketKeys[id % kSockets]), 3, 4, version, version, sha,
                   std::string());
      w.Values(id, DeviceIdentity(id));
      w.Rows(id);
      w.close.Run(TimeText(day, 21'720'000 + id * 2000).substr(0, 19), how, 0, nullptr, id);
      if (id % 5000 == 0) Progress("upkeep store: " + std::to_string(id) + " backups as rows");
    }
    EndFill(*db);
  }
  const std::int64_t before = StoreBytes(folder);
  auto store = OpenStore(folder);
  double dropMs = 0, packMs = 0, worstMs = 0;
  int dropped = 0, packed = 0, steps = 0;
  for (; steps == 0 || step.more; ++steps) {
    const double ms = UpkeepStepMs(*store, &step);
    const double done = std::max(1, step.dropped + step.packed);
    dropMs += ms * step.dropped / done;
    packMs += ms * step.packed / done;
    worstMs = std::max(worstMs, ms);
    dropped += step.dropped;
    packed += step.packed;
    if (steps % 100 == 99) Progress("upkeep: " + std::to_string(steps + 1) + " steps");
  }
  const std::int64_t after = StoreBytes(folder);
  std::string error;
  if (!store->Vacuum(&error)) throw std::runtime_error(error);
  store.reset();
  Note("upkeep, 20,000 closed backups as rows",
       Format("%.0f steps of 32, worst %.0f ms", steps, worstMs));
  Note("  values dropped", Format("%.0f, %.0f backups/s", dropped, dropped / (dropMs / 1000)));
  Note("  NV records packed", Format("%.0f, %.0f backups/s", packed, packed / (packMs / 1000)));
  Note("  size before / after upkeep", Format("%.0f / %.0f MiB", MiB(before), MiB(after)));
  Note("  size after Vacuum", Format("%.0f MiB", MiB(StoreBytes(folder))));
}

// --- 5. The report ---

// A child takes its parent's peak memory along as its own (Linux keeps it across exec): before
// a run the bench gives back what it freed and lowers its peak to what it holds (its answer in
// KiB), which then is the least a run can show.
long LowerOwnPeak() {
  ::malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  }
  return 0;
}

// "vornex report" over [since, until) of the records in `data` (its output goes to ours):
// seconds and peak MiB.
std::pair<double, double> RunReport(const std::string& data, const std::string& since,
                                    const std::string& until, const std::string& page) {
  std::error_code ec;
  fs::remove(page, ec);
  std::vector<std::string> args = {VORNEX_PROGRAM, "report",  "--data", data,    "--since",
                                   since,          "--until", until,    "--out", page};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::fflush(stdout);
  pid_t pid = -1;
  const auto start = TClock::now();
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    throw std::runtime_error(std::string("cannot start ") + VORNEX_PROGRAM);
  }
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !fs::exists(page, ec)) {
    throw std::runtime_error("vornex report --since " + since + " --until " + until +
                             " failed (wait status " + std::to_string(status) + ")");
  }
  Progress("report " + since + " to " + until + " done");
  return {Seconds(TClock::now() - start), usage.ru_maxrss / 1024.0};
}

void MeasureReport(const std::string& data, const std::string& page) {
  const std::string month = LocalDate(0, 1), thisMonth = LocalDate(0, 0);
  const double floorMiB = LowerOwnPeak() / 1024.0;
  std::vector<double> seconds;
  double peakMiB = 0;
  for (int i = 0; i < 3; ++i) {
    const auto [wall, peak] = RunReport(data, month, thisMonth, page);
    seconds.push_back(wall);
    peakMiB = std::max(peakMiB, peak);
  }
  std::sort(seconds.begin(), seconds.end());
  Note("report " + month.substr(0, 7) + ": median wall time of 3", Format("%.2f s", seconds[1]),
       "< 5 s");
  Note("  peak memory", Format("%.0f MiB (floor %.0f MiB)", peakMiB, floorMiB), "< 200 MiB");
  const auto [wall, peak] = RunReport(data, LocalDate(0, 12), thisMonth, page);
  Note("report of the 12 months before", Format("%.2f s, %.0f MiB", wall, peak));
}

// A folder of its own under the temporary folder, removed with everything in it at the end.
struct TBenchFolder {
  std::string path = paths::TempFolder() + "vornex-records-bench-XXXXXX";
  TBenchFolder() {
    if (::mkdtemp(path.data()) == nullptr) throw std::runtime_error("cannot make " + path);
  }
  ~TBenchFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

}  // namespace
}  // namespace vornex

int main() {
  using namespace vornex;
  std::signal(SIGINT, [](int) { g_stop = 1; });
  std::signal(SIGTERM, [](int) { g_stop = 1; });
  int status = 0;
  try {
    const TBenchFolder folder;
    const std::string data = folder.path + "/million", upkeep = folder.path + "/upkeep";
    GenerateHistory(data);
    MeasureOpen(data);
    MeasureSize(data, folder.path + "/copy");
    Progress("opened and measured");
    MeasureUpkeep(data, upkeep);
    fs::remove_all(upkeep);
    MeasureReport(data, folder.path + "/report.html");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "records_bench: %s\n", e.what());
    status = 1;
  }
  std::printf("\n%-50s %-30s %s\n", "station records, 1,000,000 jobs", "figure", "target");
  for (const auto& [name, value, target] : g_figures) {
    std::printf("%-50s %-30s %s\n", name.c_str(), value.c_str(), target.c_str());
  }
  return status;
}
