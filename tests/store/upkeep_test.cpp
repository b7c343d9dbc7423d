// The records' upkeep: closed backups packed and, after the retention period, without values;
// open backups and those the line has not received never touched, also when upkeep is killed.
#include <gtest/gtest.h>
#include <sqlite3.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "store/nv_pack.h"
#include "store/sqlite_db.h"
#include "store/station_store.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

using vornex::testing::TempDir;

// A backup whose NV records are mostly zero with a few bytes set, as devices keep them.
TIdentityBackup Backup(int n) {
  TIdentityBackup b;
  b.deviceKey = "1-1." + std::to_string(n);
  b.at.slots[kSlotSn] = "SN" + std::to_string(n);
  for (int i = 0; i < 582; ++i) {
    TNvRecord& r = b.nv.emplace_back();
    r.bytes[0] = static_cast<std::uint8_t>(i);
    r.bytes[1] = static_cast<std::uint8_t>(i >> 8);
    r.bytes[2 + (i * 7 + n) % 120] = static_cast<std::uint8_t>(n + 1);
    if (i % 5 == 0) r.bytes[129] = 0xff;
  }
  return b;
}

void Sql(const std::string& path, const std::string& sql) {
  sqlite::TDatabase db;
  ASSERT_TRUE(db.Open(path, SQLITE_OPEN_READWRITE));
  ASSERT_TRUE(db.Exec(sql.c_str())) << db.Message();
}

// What upkeep may make of a backup.
enum class TKept { kWhole, kDropped };

struct TStoredBackup {
  std::int64_t id = 0;
  TIdentityBackup original;
  bool open = false;
  bool old = false;   // closed long ago
  bool sent = false;  // the line has it
};

// Backups open, closed lately and closed long ago, some of them not yet sent.
std::vector<TStoredBackup> Fill(TStationStore& store, int count) {
  std::vector<TStoredBackup> backups;
  std::string error;
  for (int n = 0; n < count; ++n) {
    TStoredBackup& b = backups.emplace_back();
    b.original = Backup(n);
    b.id = store.CommitBackup(b.original, &error);
    b.open = n % 7 == 0;
    b.old = n % 3 != 0;
    b.sent = n % 5 != 0;
    EXPECT_TRUE(b.id > 0 && (b.open || store.CloseBackup(b.id, "test", &error))) << error;
  }
  return backups;
}

void AgeAndSend(const std::string& path, const std::vector<TStoredBackup>& backups) {
  for (const TStoredBackup& b : backups) {
    const std::string id = std::to_string(b.id);
    if (b.old) Sql(path, "UPDATE backups SET closed_at = '2001-02-03 04:05:06' WHERE id = " + id);
    if (b.sent) Sql(path, "DELETE FROM outbox WHERE local_id = " + id + " AND kind <> 'job'");
  }
}

// Each backup is whole, or (only where the rules allow) without values: never in between.
void ExpectKept(TStationStore& store, const std::vector<TStoredBackup>& backups, bool waitForLine,
                bool upkeepDone) {
  std::string error;
  for (const TStoredBackup& b : backups) {
    SCOPED_TRACE("backup " + std::to_string(b.id));
    const auto loaded = store.LoadBackup(b.id, &error);
    ASSERT_TRUE(loaded) << error;
    const bool mayDrop = !b.open && b.old && (b.sent || !waitForLine);
    const TKept kept = loaded->nv.empty() ? TKept::kDropped : TKept::kWhole;
    if (kept == TKept::kWhole) {
      EXPECT_EQ(loaded->nv, b.original.nv);
      EXPECT_EQ(loaded->at, b.original.at);
      EXPECT_FALSE(upkeepDone && mayDrop);
    } else {
      EXPECT_TRUE(mayDrop);
      EXPECT_EQ(loaded->at, TIdentityBlock{});
    }
  }
}

TEST(StoreUpkeepTest, PackedNvRecordsComeBackExactly) {
  std::vector<TNvRecord> records(3);
  records[1].bytes.fill(0xff);
  for (std::size_t i = 0; i < 130; i += 2) records[2].bytes[i] = 7;
  const std::string packed = PackNvRecords(records);
  EXPECT_EQ(packed.size(), 2u + 130 + 195);  // a run of zeros, none, lone zeros
  EXPECT_EQ(UnpackNvRecords(packed, 3), records);
  EXPECT_EQ(UnpackNvRecords("", 0), std::vector<TNvRecord>{});
  const std::string damaged[] = {packed.substr(0, packed.size() - 1), packed + "x",
                                 std::string("\0\0", 2), std::string("\0\x83", 2)};
  for (const std::string& blob : damaged) {
    EXPECT_FALSE(UnpackNvRecords(blob, blob.size() == 2 ? 1 : 3));
  }
}

TEST(StoreUpkeepTest, DropsOnlyOldClosedReceivedValuesAndPacksTheRest) {
  for (const bool waitForLine : {true, false}) {
    SCOPED_TRACE(waitForLine ? "with a line" : "without a line");
    TempDir dir;
    std::string error;
    auto store = TStationStore::Open(dir.path(), &error);
    ASSERT_TRUE(store) << error;
    const auto backups = Fill(*store, 30);
    AgeAndSend(store->Path(), backups);
    const TUpkeepRules rules{30, waitForLine};
    int packed = 0;
    for (bool more = true; more;) {
      const auto step = store->Upkeep(rules, 4, &error);
      ASSERT_TRUE(step) << error;
      packed += step->packed;
      more = step->more;
    }
    ExpectKept(*store, backups, waitForLine, true);
    EXPECT_GT(packed, 0);
    EXPECT_EQ(store->OpenBackupCount(&error), 5);
    EXPECT_TRUE(store->Vacuum(&error)) << error;
    EXPECT_TRUE(store->CheckWhole(&error)) << error;
    ExpectKept(*store, backups, waitForLine, true);
  }
}

#ifndef _WIN32
// A station killed in the middle of upkeep loses nothing and leaves no backup half dropped; the
// next opening checks the whole file (it was not closed cleanly) and upkeep goes on from there.
TEST(StoreUpkeepTest, KilledUpkeepLosesNothing) {
  TempDir dir;
  std::string error;
  std::vector<TStoredBackup> backups;
  {
    auto store = TStationStore::Open(dir.path(), &error);
    ASSERT_TRUE(store) << error;
    backups = Fill(*store, 40);
    AgeAndSend(store->Path(), backups);
  }
  const TUpkeepRules rules{30, true};
  for (int round = 0; round < 4; ++round) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto store = TStationStore::Open(dir.path(), &error);
      if (!store || write(ready[1], "u", 1) != 1) _exit(2);
      for (bool more = true; more;) {
        const auto step = store->Upkeep(rules, 3, &error);
        if (!step) _exit(3);
        more = step->more;
      }
      _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    auto store = TStationStore::Open(dir.path(), &error);
    ASSERT_TRUE(store) << error;
    ExpectKept(*store, backups, true, false);
  }
  auto store = TStationStore::Open(dir.path(), &error);
  ASSERT_TRUE(store) << error;
  for (bool more = true; more;) {
    const auto step = store->Upkeep(rules, 64, &error);
    ASSERT_TRUE(step) << error;
    more = step->more;
  }
  ExpectKept(*store, backups, true, true);
}
#endif

}  // namespace
}  // namespace vornex
