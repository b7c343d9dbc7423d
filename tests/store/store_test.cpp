// The station record store: identity backups come back byte for byte after a reopen, backups
// open and close, the history filters, unusable files are refused and left untouched,
// concurrent workers all get their backups stored, a failed commit stores nothing, and records
// opened for reading only are read as they are, with nothing created or changed.
#include <gtest/gtest.h>
#include <sqlite3.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>
#include <tuple>

#include "store/sqlite_db.h"
#include "store/station_store.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

using vornex::testing::ReadFile;
using vornex::testing::TempDir;
using vornex::testing::WriteFile;

// Every byte value, as devices may answer with anything.
std::string AllBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

// NV records with items repeating (as a device reads them twice) and varied data bytes.
TIdentityBackup MakeBackup(const std::string& key, std::size_t nvCount) {
  TIdentityBackup b;
  b.slot = 3;
  b.deviceKey = key;
  b.diagCom = 11;
  b.modemCom = 12;
  b.firmwareVersion = "V1.2\x96rc";
  b.imageTag = "TAG-7";
  b.imageSha256 = "0f1e2d3c";
  b.itemSwitches = 3;
  b.at.slots[kSlotSn] = "SN-" + key;
  b.at.slots[kSlotMeid] = "A1000012345678";
  b.at.slots[kSlotTflag] = "1";
  for (std::size_t i = 0; i < nvCount; ++i) {
    TNvRecord& r = b.nv.emplace_back();
    for (std::size_t j = 0; j < r.bytes.size(); ++j)
      r.bytes[j] = static_cast<std::uint8_t>(i * 7 + j);
    r.bytes[0] = static_cast<std::uint8_t>(i % 200);  // items 0..199, each up to three times
    r.bytes[1] = static_cast<std::uint8_t>(i % 3);
  }
  return b;
}

auto Tie(const TIdentityBackup& b) {
  return std::tie(b.source, b.sourceFile, b.slot, b.deviceKey, b.diagCom, b.modemCom,
                  b.firmwareVersion, b.imageTag, b.imageSha256, b.itemSwitches, b.at, b.nv,
                  b.openReason);
}

auto Tie(const TJobSummary& j) {
  return std::tie(j.kind, j.slot, j.deviceKey, j.diagCom, j.modemCom, j.diagComAfter,
                  j.modemComAfter, j.versionBefore, j.versionAfter, j.imageTag, j.imageSha256,
                  j.identityBefore, j.identityAfter, j.nvBackedUp, j.nvDiffer, j.atDiffer,
                  j.identityVerified, j.steps, j.pass, j.failure, j.backupId, j.startedAt,
                  j.endedAt, j.elapsedMs, j.times);
}

#ifndef _WIN32  // only the full-disk test counts rows
std::int64_t CountRows(const std::string& path, const char* sql) {
  sqlite::TDatabase db;
  if (!db.Open(path, SQLITE_OPEN_READONLY)) return -1;
  sqlite::TStatement s = db.Prepare(sql);
  return s.Step() == sqlite::TStatement::TStep::kRow ? s.ColumnInt64(0) : -1;
}
#endif

TEST(StationStoreTest, BackupsComeBackExactlyAfterReopen) {
  TempDir dir;
  const std::string folder = dir.File("state/deep");  // created with its parents
  TIdentityBackup fromJob = MakeBackup("1-1.2", 582);
  fromJob.at.slots[kSlotSn] = AllBytes();
  fromJob.at.slots[kSlotMeid] = std::string("\0\0\x80", 3);
  TIdentityBackup imported = MakeBackup("", 0);
  imported.source = kBackupSourceDataInfo;
  imported.sourceFile = "DataInfo_\xe9.dat";
  imported.slot = -1;
  imported.at.slots = {"SN9", "", "", "", ""};
  const std::vector<TIdentityBackup> table = {fromJob, imported};

  std::vector<std::int64_t> ids;
  std::string error;
  {
    auto store = TStationStore::Open(folder, &error);
    ASSERT_TRUE(store) << error;
    for (const auto& b : table) ids.push_back(store->CommitBackup(b, &error));
  }
  auto store = TStationStore::Open(folder, &error);
  ASSERT_TRUE(store) << error;
  for (std::size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_GT(ids[i], 0);
    const auto loaded = store->LoadBackup(ids[i], &error);
    ASSERT_TRUE(loaded) << error;
    EXPECT_TRUE(Tie(*loaded) == Tie(table[i]));
    EXPECT_EQ(loaded->id, ids[i]);
    EXPECT_EQ(loaded->createdAt.size(), 19u) << loaded->createdAt;
    EXPECT_TRUE(loaded->open);
  }
  EXPECT_FALSE(store->LoadBackup(ids.back() + 1, &error));
  EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
}

TEST(StationStoreTest, BackupsOpenAndCloseAndHistoryFilters) {
  TempDir dir;
  std::string error;
  auto store = TStationStore::Open(dir.path(), &error);
  ASSERT_TRUE(store) << error;
  const std::int64_t a = store->CommitBackup(MakeBackup("A", 3), &error);
  const std::int64_t b = store->CommitBackup(MakeBackup("B", 3), &error);
  const std::int64_t c = store->CommitBackup(MakeBackup("C", 3), &error);
  EXPECT_TRUE(store->SetOpenReason(b, "flash failed", &error)) << error;
  EXPECT_TRUE(store->CloseBackup(a, "job 1", &error)) << error;

  struct Refusal {
    std::function<bool()> call;
    const char* text;
  };
  const Refusal refusals[] = {
      {[&] { return store->CloseBackup(a, "again", &error); }, "already closed"},
      {[&] { return store->SetOpenReason(a, "late", &error); }, "already closed"},
      {[&] { return store->CloseBackup(c + 1, "job", &error); }, "does not exist"},
  };
  for (const Refusal& r : refusals) {
    EXPECT_FALSE(r.call());
    EXPECT_NE(error.find(r.text), std::string::npos) << error;
  }
  const auto open = store->OpenBackups(&error);
  ASSERT_TRUE(open) << error;
  ASSERT_EQ(open->size(), 2u);
  EXPECT_EQ((*open)[0].id, b);
  EXPECT_EQ((*open)[0].openReason, "flash failed");
  EXPECT_EQ((*open)[0].at.slots[kSlotSn], "SN-B");
  EXPECT_TRUE((*open)[0].nv.empty());
  EXPECT_EQ((*open)[1].id, c);
  EXPECT_EQ(store->OpenBackupCount(&error), 2);
  EXPECT_FALSE(store->LoadBackup(a, &error)->open);

  // Jobs: started at, device key, serial before.
  const std::string serial("SN\xe9\0x", 5);
  const std::tuple<const char*, const char*, std::string> rows[] = {
      {"2024-05-01 08:00:00.000", "usb1-1.2", serial},
      {"2024-05-02 09:00:00.000", "usb1-1.3", "SN2"},
      {"2024-05-02 09:00:00.000", "USB1-1.2", "SN3"},
      {"2024-04-30 23:59:59.999", "Usb1-1.2", serial},
  };
  std::vector<std::int64_t> job;
  std::vector<TJobSummary> recorded;
  for (const auto& [started, key, sn] : rows) {
    TJobSummary& j = recorded.emplace_back();
    j.startedAt = started;
    j.endedAt = "2024-05-03 00:00:00.000";
    j.deviceKey = key;
    j.identityBefore.slots[kSlotSn] = sn;
    j.identityBefore.slots[kSlotTflag] = std::string(1, '\0');
    j.identityAfter.slots[kSlotMeid] = AllBytes();
    j.Step(TJobStep::kConnect) = TStepOutcome::kOk;
    j.Step(TJobStep::kImageUpdate) = TStepOutcome::kFailed;
    j.Step(TJobStep::kVerify) = TStepOutcome::kSkipped;
    j.backupId = job.empty() ? a : 0;
    j.elapsedMs = 4'000'000'000u;
    j.Time(TTimedStep::kConnect) = {0, 812};
    j.Time(TTimedStep::kReadBack) = {4000, 4000};
    j.pass = job.empty();
    j.failure = j.pass ? "" : "no answer";
    job.push_back(store->RecordJob(j, &error));
    ASSERT_GT(job.back(), 0) << error;
  }
  struct Case {
    THistoryFilter filter;          // since, serial, key, limit, until
    std::vector<std::size_t> jobs;  // indexes into rows, in the expected order
  };
  const Case cases[] = {
      {{"", "", "", 0, ""}, {2, 1, 0, 3}},
      {{"2024-05-01", "", "", 0, ""}, {2, 1, 0}},
      {{"2024-05-02 09:00:00", "", "", 0, ""}, {2, 1}},
      {{"", serial, "", 0, ""}, {0, 3}},
      {{"", "SN\xe9", "", 0, ""}, {}},
      {{"", "", "usb1-1.2", 0, ""}, {2, 0, 3}},
      {{"2024-05-01", "", "USB1-1.2", 1, ""}, {2}},
      {{"", "", "", 3, ""}, {2, 1, 0}},
      {{"", "", "", 0, "2024-05-02"}, {0, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter.since + "|" + c.filter.key + "|" + std::to_string(c.filter.limit));
    const auto history = store->History(c.filter, &error);
    ASSERT_TRUE(history) << error;
    ASSERT_EQ(history->size(), c.jobs.size());
    for (std::size_t i = 0; i < c.jobs.size(); ++i) {
      EXPECT_EQ((*history)[i].id, job[c.jobs[i]]);
      EXPECT_TRUE(Tie((*history)[i]) == Tie(recorded[c.jobs[i]]));
    }
  }
}

// Files the store must refuse, each left exactly as it was.
TEST(StationStoreTest, RefusesUnusableFilesAndLeavesThemUntouched) {
  struct Case {
    const char* name;
    std::function<void(const std::string& folder, const std::string& db)> prepare;
    const char* text;
    bool folderIsFile = false;
  };
  const Case cases[] = {
      {"garbage",
       [](const std::string&, const std::string& db) {
         std::string bytes(8192, '\0');
         for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + 7);
         WriteFile(db, bytes);
       },
       "not a database"},
      {"damaged pages",
       [](const std::string& folder, const std::string& db) {
         {
           std::string error;
           auto store = TStationStore::Open(folder, &error);
           ASSERT_TRUE(store && store->CommitBackup(MakeBackup("K", 582), &error) > 0) << error;
         }
         std::string bytes = ReadFile(db);
         ASSERT_GT(bytes.size(), 16384u);
         std::fill(bytes.begin() + 8192, bytes.end() - 4096, '\x5a');
         WriteFile(db, bytes);
       },
       "damaged"},
      {"newer schema",
       [](const std::string&, const std::string& db) {
         sqlite::TDatabase raw;
         ASSERT_TRUE(raw.Open(db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
         ASSERT_TRUE(raw.Exec("CREATE TABLE future (x); PRAGMA user_version = 99;"));
       },
       "come from a newer version of the station (schema 99, this station knows up to 4)"},
      {"folder is a file",
       [](const std::string& folder, const std::string&) { WriteFile(folder, "plain"); },
       "cannot create the data folder", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string folder = c.folderIsFile ? dir.File("data") : dir.path();
    const std::string db = c.folderIsFile ? folder : dir.File(kStoreFileName);
    c.prepare(folder, db);
    const std::string before = ReadFile(db);
    std::string error;
    EXPECT_FALSE(TStationStore::Open(folder, &error));
    EXPECT_NE(error.find(c.text), std::string::npos) << error;
    EXPECT_NE(error.find(folder), std::string::npos) << error;
    EXPECT_EQ(ReadFile(db), before);
  }
}

namespace fs = std::filesystem;
constexpr fs::perms kAnyWrite =
    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;

// Whether a read-only file stops this process from writing it: not for root, nor for Wine run
// by root.
bool ReadOnlyHolds() {
  TempDir dir;
  const std::string file = dir.File("probe");
  WriteFile(file, "");
  fs::permissions(file, kAnyWrite, fs::perm_options::remove);
  const bool holds = !std::ofstream(file, std::ios::app).is_open();
  fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
  return holds;
}

TEST(StationStoreTest, RefusesReadOnlyFileOrFolder) {
  if (!ReadOnlyHolds()) GTEST_SKIP() << "this user writes read-only files and folders anyway";
#ifdef _WIN32
  // Windows creates files in a folder marked read-only all the same: only the file is locked.
  const bool lockFolders[] = {false};
#else
  const bool lockFolders[] = {false, true};
#endif
  for (const bool lockFolder : lockFolders) {
    SCOPED_TRACE(lockFolder ? "folder" : "file");
    TempDir dir;
    std::string error;
    ASSERT_TRUE(TStationStore::Open(dir.path(), &error)) << error;
    const std::string target = lockFolder ? dir.path() : dir.File(kStoreFileName);
    fs::permissions(target, kAnyWrite, fs::perm_options::remove);
    EXPECT_FALSE(TStationStore::Open(dir.path(), &error));
    EXPECT_NE(error.find(dir.File(kStoreFileName)), std::string::npos) << error;
    fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);
  }
}

TEST(StationStoreTest, ConcurrentWorkersAllGetTheirBackupsStored) {
  constexpr int kWorkers = 8;
  constexpr int kJobsEach = 4;
  TempDir dir;
  std::string error;
  auto store = TStationStore::Open(dir.path(), &error);
  ASSERT_TRUE(store) << error;
  std::vector<std::vector<std::int64_t>> ids(kWorkers);
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      const TIdentityBackup backup = MakeBackup("worker" + std::to_string(w), 582);
      for (int n = 0; n < kJobsEach; ++n) {
        std::string workerError;
        ids[w].push_back(store->CommitBackup(backup, &workerError));
        TJobSummary job;
        job.backupId = ids[w].back();
        if (store->RecordJob(job, &workerError) <= 0) ids[w].back() = -1;
      }
    });
  }
  for (auto& worker : workers) worker.join();
  std::set<std::int64_t> distinct;
  for (int w = 0; w < kWorkers; ++w) {
    for (const std::int64_t id : ids[w]) {
      ASSERT_GT(id, 0);
      distinct.insert(id);
      EXPECT_EQ(store->LoadBackup(id, &error)->deviceKey, "worker" + std::to_string(w));
    }
  }
  EXPECT_EQ(distinct.size(), std::size_t{kWorkers * kJobsEach});
  EXPECT_EQ(store->History({}, &error)->size(), std::size_t{kWorkers * kJobsEach});
}

// The disk fills up (a file size limit): a commit fails as a whole, also when its first pages
// would still fit, and the store works again once there is room.
TEST(StationStoreTest, FailedCommitStoresNothing) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no file size limit per process to stand in for a full disk";
#else
  TempDir dir;
  std::string error;
  auto store = TStationStore::Open(dir.path(), &error);
  ASSERT_TRUE(store) << error;
  ASSERT_GT(store->CommitBackup(MakeBackup("kept", 582), &error), 0) << error;
  const std::string journal = store->Path() + "-wal";
  struct Case {
    std::function<std::int64_t()> write;
    std::uintmax_t room;  // bytes the journal may still grow by
  };
  const Case cases[] = {
      {[&] { return store->CommitBackup(MakeBackup("lost", 582), &error); }, 16384},
      {[&] { return store->CommitBackup(MakeBackup("lost", 582), &error); }, 0},
      {[&] { return store->RecordJob(TJobSummary{}, &error); }, 0},
  };
  for (const Case& c : cases) {
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit full = saved;
    full.rlim_cur = std::filesystem::file_size(journal) + c.room;
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
    const std::int64_t id = c.write();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previous);
    EXPECT_EQ(id, 0);
    EXPECT_NE(error.find(store->Path()), std::string::npos) << error;
  }
  EXPECT_EQ(CountRows(store->Path(), "SELECT count(*) FROM backups"), 1);
  EXPECT_EQ(CountRows(store->Path(), "SELECT count(*) FROM backup_nv"), 582);
  EXPECT_EQ(CountRows(store->Path(), "SELECT count(*) FROM jobs"), 0);
  EXPECT_GT(store->CommitBackup(MakeBackup("later", 1), &error), 0) << error;
#endif
}

}  // namespace
}  // namespace vornex

namespace vornex {
namespace {

// Records deleted or replaced under a running station: nothing more is committed into a file
// nobody can open again, and the station learns why.
TEST(StationStoreTest, RecordsDeletedOrReplacedWhileOpenRefuseEveryCommit) {
  // Each change answers false where the system refuses it (Windows keeps an open database
  // from being deleted or renamed over): there is nothing to notice then.
  using Change = std::function<bool(const std::string&)>;
  const std::vector<std::pair<const char*, Change>> cases = {
      {"database deleted",
       [](const std::string& db) {
         std::error_code ec;
         return std::filesystem::remove(db, ec) && !ec;
       }},
      {"journal deleted",
       [](const std::string& db) {
         std::error_code ec;
         return std::filesystem::remove(db + "-wal", ec) && !ec;
       }},
      {"database replaced",
       [](const std::string& db) {
         std::error_code ec;
         std::filesystem::copy_file(db, db + ".copy", ec);
         if (!ec) std::filesystem::rename(db + ".copy", db, ec);
         return !ec;
       }},
  };
  for (const auto& [name, change] : cases) {
    SCOPED_TRACE(name);
    TempDir dir;
    std::string error;
    auto store = TStationStore::Open(dir.path(), &error);
    ASSERT_TRUE(store) << error;
    ASSERT_GT(store->CommitBackup(MakeBackup("K1", 2), &error), 0) << error;
    EXPECT_TRUE(store->FileIntact(&error)) << error;
    if (!change(store->Path())) continue;
    EXPECT_FALSE(store->FileIntact(&error));
    EXPECT_EQ(store->CommitBackup(MakeBackup("K2", 2), &error), 0);
    EXPECT_NE(error.find("deleted or replaced"), std::string::npos) << error;
    EXPECT_EQ(store->RecordJob(TJobSummary{}, &error), 0);
  }
}

// The open backups that may be a device's: by its key, serial number or MEID, newest first;
// empty values match nothing.
TEST(StationStoreTest, OpenBackupsMatchByKeySerialNumberOrMeid) {
  TempDir dir;
  std::string error;
  auto store = TStationStore::Open(dir.path(), &error);
  ASSERT_TRUE(store) << error;
  TIdentityBackup other = MakeBackup("K2", 1);
  other.at.slots[kSlotMeid] = "MEID-2";
  const std::int64_t a = store->CommitBackup(MakeBackup("K1", 1), &error);
  const std::int64_t b = store->CommitBackup(other, &error);
  const std::int64_t c = store->CommitBackup(MakeBackup("K1", 1), &error);
  ASSERT_TRUE(store->CloseBackup(c, "test", &error)) << error;
  const struct {
    std::string key, sn, meid;
    std::vector<std::int64_t> ids;
  } cases[] = {
      {"k1", "", "", {a}},       {"K9", "SN-K2", "", {b}},
      {"K9", "", "MEID-2", {b}}, {"K1", "", "A1000012345678", {a}},
      {"K9", "", "", {}},        {"", "", "", {}},
  };
  for (const auto& c : cases) {
    const auto found = store->OpenBackupsMatching(c.key, c.sn, c.meid, &error);
    ASSERT_TRUE(found.has_value()) << error;
    std::vector<std::int64_t> ids;
    for (const TIdentityBackup& backup : *found) ids.push_back(backup.id);
    EXPECT_EQ(ids, c.ids) << c.key << "/" << c.sn << "/" << c.meid;
  }
}

// Opened for reading only, the store makes nothing: no folder, no database, no journal or
// shared-memory file beside the one it reads, no migration of an older schema.
TEST(StationStoreTest, ReadOnlyOpeningCreatesAndChangesNothing) {
  TempDir dir;
  const std::string missing = dir.File("missing");
  std::string error;
  EXPECT_FALSE(TStationStore::OpenReadOnly(missing, &error));
  EXPECT_EQ(error, "no station records in " + missing + ": the folder does not exist");
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_FALSE(TStationStore::OpenReadOnly(dir.path(), &error));
  EXPECT_EQ(error, "no station records in " + dir.path() + ": it holds no station.db");
  EXPECT_TRUE(fs::is_empty(dir.path()));

  auto writer = TStationStore::Open(dir.path(), &error);
  ASSERT_TRUE(writer && writer->CommitBackup(MakeBackup("K", 3), &error) > 0) << error;
  TJobSummary job;
  job.failure = "Interrupted";
  ASSERT_GT(writer->RecordJob(job, &error), 0) << error;
  const auto openBackups = [&] {
    auto reader = TStationStore::OpenReadOnly(dir.path(), &error);
    return reader ? reader->OpenBackupCount(&error) : -1;
  };
  EXPECT_EQ(openBackups(), 1) << error;  // beside the station that writes them
  writer.reset();

  const std::string db = dir.File(kStoreFileName);
  sqlite::TDatabase raw;
  ASSERT_TRUE(raw.Open(db, SQLITE_OPEN_READWRITE));
  ASSERT_TRUE(raw.Exec("ALTER TABLE jobs DROP COLUMN cause; PRAGMA user_version = 1;"));
  raw.Close();
  const std::string before = ReadFile(db);
  EXPECT_EQ(openBackups(), 1) << error;
  auto reader = TStationStore::OpenReadOnly(dir.path(), &error);
  ASSERT_TRUE(reader) << error;
  const auto history = reader->History({}, &error);
  ASSERT_TRUE(history) << error;
  ASSERT_EQ(history->size(), 1u);
  EXPECT_EQ((*history)[0].failure, "Interrupted");
  EXPECT_EQ(reader->CommitBackup(MakeBackup("L", 1), &error), 0);
  reader.reset();
  EXPECT_EQ(ReadFile(db), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

// Every backup, closing and job enters the outbox with its commit, in commit order; what the
// line received leaves it; the station's id stays the same across openings.
TEST(StationStoreTest, OutboxQueuesEveryRecordInCommitOrder) {
  TempDir dir;
  std::string error;
  auto store = TStationStore::Open(dir.path(), &error);
  ASSERT_TRUE(store) << error;
  const std::string id = store->StationId();
  EXPECT_EQ(id.size(), 36u);
  EXPECT_EQ(id[14], '4');
  const std::int64_t backup = store->CommitBackup(MakeBackup("K", 2), &error);
  TJobSummary job;
  job.backupId = backup;
  const std::int64_t jobId = store->RecordJob(job, &error);
  ASSERT_TRUE(backup > 0 && jobId > 0 && store->SetOpenReason(backup, "why", &error) &&
              store->CloseBackup(backup, "job 1", &error))
      << error;
  EXPECT_FALSE(store->CloseBackup(backup, "again", &error));
  const auto entries = store->Outbox(10, &error);
  ASSERT_TRUE(entries) << error;
  std::vector<std::pair<TOutboxKind, std::int64_t>> seen;
  for (const TOutboxEntry& e : *entries) seen.emplace_back(e.kind, e.localId);
  EXPECT_EQ(seen,
            (std::vector<std::pair<TOutboxKind, std::int64_t>>{{TOutboxKind::kBackup, backup},
                                                               {TOutboxKind::kJob, jobId},
                                                               {TOutboxKind::kClosing, backup}}));
  ASSERT_TRUE(store->MarkSent((*entries)[1].seq, &error)) << error;
  EXPECT_EQ(store->OutboxCount(&error), 1);
  const auto closing = store->LoadClosing(backup, &error);
  ASSERT_TRUE(closing) << error;
  EXPECT_EQ(closing->how, "job 1");
  store.reset();
  store = TStationStore::Open(dir.path(), &error);
  ASSERT_TRUE(store) << error;
  EXPECT_EQ(store->StationId(), id);
  EXPECT_EQ(store->OutboxCount(&error), 1);
}

}  // namespace
}  // namespace vornex
