// The line records against a real PostgreSQL server. Whatever goes wrong between the stations and
// the line (the server down, killed in the middle of a push, too slow, newer than the stations,
// an answer lost after the commit, a wrong password, a station killed before it marked what the
// line took), every record reaches the line exactly once and the outbox empties, while the
// stations go on committing. The station role adds history in its own station's name only and
// never changes it, the server refusing everything else, TLS is verified
// against the line's CA, and a forged line backup is refused before it is kept or written.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>

#include "console/exit_status.h"
#include "console/line_commands.h"
#include "console/records_commands.h"
#include "download/nv_items.h"
#include "foundation/text.h"
#include "line/line_push.h"
#include "line/line_rows.h"
#include "line/line_schema.h"
#include "line/pg_connection.h"
#include "store/sqlite_db.h"
#include "store/station_store.h"
#include "support/pg_proxy.h"
#include "support/pg_server.h"
#include "support/run_scope.h"
#include "support/temp_dir.h"

namespace vornex::line {
namespace {

using vornex::testing::ConnQuote;
using vornex::testing::TempDir;
using vornex::testing::TPgServer;
using Rows = std::vector<std::vector<std::string>>;

// A 20 s statement limit is 400 ms, the first retry 20 ms and the longest 600 ms.
constexpr double kTimeScale = 0.02;
// Polls until the condition holds; false at a real-time guard against a hang.
bool WaitFor(const std::function<bool()>& done) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!done()) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

TNvRecord NvRecord(std::uint16_t item, std::uint8_t fill) {
  TNvRecord record;
  record.bytes.fill(fill);
  record.bytes[0] = static_cast<std::uint8_t>(item & 0xFF);
  record.bytes[1] = static_cast<std::uint8_t>(item >> 8);
  return record;
}

// A backup as a job takes it, with a few NV records.
TIdentityBackup DeviceBackup(const std::string& sn, int n) {
  TIdentityBackup b;
  b.slot = n % 8;
  b.deviceKey = "1-" + std::to_string(n);
  b.itemSwitches = 3;
  b.at.slots[kSlotSn] = sn;
  b.at.slots[kSlotMeid] = "A10000" + std::to_string(1000000 + n);
  b.at.slots[kSlotTflag] = "1";
  b.nv = {NvRecord(524, static_cast<std::uint8_t>(n)), NvRecord(856, 0xFF)};
  return b;
}

struct Station {
  TempDir dir;
  std::unique_ptr<TStationStore> store;
  std::unique_ptr<TLinePusher> pusher;
  std::string user;
  std::string passfile;
  int devices = 0;
};

// One device's records as a job leaves them: its backup, the job and, when it passed, the
// closing of the backup.
void CommitDevice(Station& s) {
  const int n = ++s.devices;
  std::string error;
  const TIdentityBackup backup = DeviceBackup("VX" + std::to_string(n) + "\xe9", n);
  TJobSummary job;
  job.backupId = s.store->CommitBackup(backup, &error);
  ASSERT_GT(job.backupId, 0) << error;
  job.deviceKey = backup.deviceKey;
  job.identityBefore = job.identityAfter = backup.at;
  job.pass = n % 3 != 0;
  job.startedAt = job.endedAt = "2024-05-02 10:00:00.125";
  const std::int64_t id = s.store->RecordJob(job, &error);
  ASSERT_GT(id, 0) << error;
  if (job.pass) {
    ASSERT_TRUE(s.store->CloseBackup(job.backupId, "job " + std::to_string(id), &error)) << error;
  }
}

// The station's records as "backup 3", "closing 3", "job 5", sorted.
std::vector<std::string> LocalRecords(TStationStore& store) {
  std::vector<std::string> records;
  std::string error;
  for (std::int64_t id = 1; const auto backup = store.LoadBackup(id, &error); ++id) {
    records.push_back("backup " + std::to_string(id));
    if (!backup->open) records.push_back("closing " + std::to_string(id));
  }
  for (const TJobSummary& job : store.History({}, &error).value_or(std::vector<TJobSummary>{})) {
    records.push_back("job " + std::to_string(job.id));
  }
  std::sort(records.begin(), records.end());
  return records;
}

class LineTest : public ::testing::Test {
 protected:
  void SetUp() override { run_.TimeScale(kTimeScale); }
  void TearDown() override {
    if (HasFailure() && server_) std::fputs(server_->LogTail().c_str(), stderr);
    stations_.clear();
    ::unsetenv("PGPASSFILE");
  }

  void StartServer(bool tls = false) {
    std::string error;
    server_ = TPgServer::Start({tls}, &error);
    ASSERT_TRUE(server_) << error;
  }

  // A new database with the line's schema (as "vornex line init" makes it), and the stations'
  // logins when the server has none yet.
  void NewLine() {
    db_ = "line" + std::to_string(++lines_);
    ASSERT_TRUE(server_->Sql("CREATE DATABASE " + db_));
    std::string error;
    auto admin = TPgConnection::Connect(server_->AdminConnInfo(db_), &error);
    TLineInitReport report;
    ASSERT_TRUE(admin && InitLine(*admin, &report, &error)) << error;
    for (const char* user : {"st1", "st2"}) {
      if (lines_ > 1) break;
      ASSERT_TRUE(server_->Sql(std::string("CREATE ROLE ") + user + " LOGIN PASSWORD 'pw-" + user +
                               "' IN ROLE " + kStationRole));
    }
  }

  // Fresh stations, each with the records of a few devices.
  void NewStations(int count) {
    stations_ = std::vector<Station>(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      Station& s = stations_[static_cast<std::size_t>(i)];
      std::string error;
      s.store = TStationStore::Open(s.dir.File("records"), &error);
      ASSERT_TRUE(s.store) << error;
      s.user = "st" + std::to_string(i + 1);
      s.passfile = server_->WritePassFile({});  // mode 0600
      SetPassword(s, "pw-" + s.user);
      for (int d = 0; d < 3; ++d) CommitDevice(s);
    }
  }
  // What the station's password file holds from now on, for any port (the relay's too).
  static void SetPassword(const Station& s, const std::string& password) {
    testing::WriteFile(s.passfile, "*:*:*:" + s.user + ":" + password + "\n");
  }

  std::string ConnInfo(const Station& s, const std::string& more = "") const {
    return "host=127.0.0.1 port=" + std::to_string(port_ ? port_ : server_->Port()) +
           " user=" + s.user + " dbname=" + db_ + " passfile=" + ConnQuote(s.passfile) + " " +
           (more.empty() ? "sslmode=disable gssencmode=disable" : more);
  }
  void StartPushers() {
    for (Station& s : stations_) {
      s.pusher = std::make_unique<TLinePusher>(*s.store, ConnInfo(s), s.user, nullptr);
    }
  }
  bool Every(const std::function<bool(const TLineState&)>& holds) {
    return std::all_of(stations_.begin(), stations_.end(),
                       [&](const Station& s) { return holds(s.pusher->State()); });
  }

  // The line's rows of the station, as LocalRecords names them.
  std::vector<std::string> LineRecords(const Station& s) const {
    const std::string id = "'" + s.store->StationId() + "'";
    const std::string sql =
        "SELECT 'backup ' || local_id FROM line.backups WHERE station_id = " + id +
        " UNION ALL SELECT 'closing ' || backup_id FROM line.closings WHERE station_id = " + id +
        " UNION ALL SELECT 'job ' || local_id FROM line.jobs WHERE station_id = " + id;
    std::vector<std::string> records;
    for (const auto& row : server_->Sql(sql, db_).value_or(Rows{})) records.push_back(row[0]);
    std::sort(records.begin(), records.end());
    return records;
  }
  static std::int64_t Outbox(const Station& s) {
    std::string error;
    return s.store->OutboxCount(&error);
  }

  // Every record of every station is on the line once, and no outbox holds anything.
  void ExpectEverythingOnTheLineOnce() {
    for (const Station& s : stations_) {
      SCOPED_TRACE(s.user);
      ASSERT_TRUE(WaitFor([&] {
        const TLineState state = s.pusher->State();
        return Outbox(s) == 0 && state.connected && state.waiting == 0;
      })) << s.pusher->State().problem;
      EXPECT_EQ(LineRecords(s), LocalRecords(*s.store));
    }
  }

  // An administrator's transaction holding line.jobs: every push waits for it.
  void LockJobs() {
    std::string error;
    locker_ = TPgConnection::Connect(server_->AdminConnInfo(db_), &error);
    ASSERT_TRUE(locker_ &&
                locker_->Run("BEGIN; LOCK TABLE line.jobs IN ACCESS EXCLUSIVE MODE", &error))
        << error;
  }

  testing::RunScope run_;
  std::unique_ptr<TPgServer> server_;
  std::string db_;
  int lines_ = 0;
  int port_ = 0;  // the stations' way to the server when not its own port
  std::vector<Station> stations_;
  std::unique_ptr<TPgConnection> locker_;
  std::optional<testing::RunScope> slower_;
};

struct FaultCase {
  const char* name;
  std::function<void()> before;                // before the stations start pushing
  std::function<void()> during;                // while they push
  std::function<bool(const TLineState&)> met;  // how every station's push shows the fault
  std::function<void()> heal;
};

TEST_F(LineTest, EveryRecordReachesTheLineOnceWhateverFails) {
  StartServer();
  std::string error;
  auto proxy = testing::TPgProxy::Start(server_->Port(), &error);
  ASSERT_TRUE(proxy) << error;
  const auto tried = [](const TLineState& s) {
    return !s.connected && s.problem != "not connected yet";
  };
  const auto says = [](const char* text) {
    return [text](const TLineState& s) { return s.problem.find(text) != std::string::npos; };
  };
  const auto schema = [&](std::int64_t version) {
    ASSERT_TRUE(
        server_->Sql("UPDATE line.schema_version SET version = " + std::to_string(version), db_));
  };
  const auto restart = [&] {
    slower_.reset();
    ASSERT_TRUE(server_->StartAgain(&error)) << error;
  };
  const auto nothing = [] {};
  const std::vector<FaultCase> cases = {
      {"server down at the start", [&] { ASSERT_TRUE(server_->Stop()); }, nothing, tried, restart},
      {"server killed in the middle of a push",
       [&] {
         slower_.emplace().TimeScale(0.5);  // statements wait 10 s for the lock
         LockJobs();
       },
       [&] {
         // Every station's insert waits for the lock inside its transaction.
         ASSERT_TRUE(WaitFor([&] {
           return server_->Sql(
                      "SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = "
                      "'Lock' AND usename LIKE 'st%'") == Rows{{"2"}};
         }));
         ASSERT_TRUE(server_->Kill());
         locker_.reset();
       },
       tried, restart},
      {"answer lost after the server committed",
       [&] {
         proxy->CutAfterNextCommit();
         port_ = proxy->Port();
       },
       [&] {
         // The cut station's records are all on the line, and all still in its outbox.
         ASSERT_TRUE(WaitFor([&] {
           return proxy->Cuts() == 1 &&
                  std::any_of(stations_.begin(), stations_.end(), [&](const Station& s) {
                    const auto local = LocalRecords(*s.store);
                    return LineRecords(s) == local && Outbox(s) == std::ssize(local);
                  });
         }));
       },
       nullptr,
       [&] {
         proxy->Reopen();
         port_ = 0;
       }},
      {"server too slow", [&] { LockJobs(); }, nothing, says("statement timeout"),
       [&] {
         ASSERT_TRUE(locker_->Run("ROLLBACK", &error)) << error;
         locker_.reset();
       }},
      {"wrong password",
       [&] {
         for (const Station& s : stations_) SetPassword(s, "wrong");
       },
       nothing, says("password authentication failed"),
       [&] {
         for (const Station& s : stations_) SetPassword(s, "pw-" + s.user);
       }},
      {"line schema newer than the stations", [&] { schema(99); }, nothing,
       [](const TLineState& s) { return s.refused; },
       [&] {
         EXPECT_EQ(server_->Sql("SELECT count(*) FROM line.stations", db_), Rows{{"0"}});
         schema(NewestLineSchema());
       }},
      {"stations killed between the commit and the marking", nothing,
       [&] {
         ExpectEverythingOnTheLineOnce();
         // What the outbox holds on disk when a station stops right after the line's commit.
         for (Station& s : stations_) {
           s.pusher.reset();
           s.store.reset();
           {
             sqlite::TDatabase db;
             ASSERT_TRUE(db.Open(s.dir.File("records/") + kStoreFileName, SQLITE_OPEN_READWRITE));
             ASSERT_TRUE(db.Exec(
                 "INSERT INTO outbox (kind, local_id) SELECT 'backup', id FROM backups; "
                 "INSERT INTO outbox (kind, local_id) SELECT 'closing', id FROM backups WHERE "
                 "open = 0; INSERT INTO outbox (kind, local_id) SELECT 'job', id FROM jobs"));
           }
           s.store = TStationStore::Open(s.dir.File("records"), &error);
           ASSERT_TRUE(s.store) << error;
           ASSERT_EQ(Outbox(s), std::ssize(LocalRecords(*s.store)));
         }
         StartPushers();
       },
       nullptr, nothing},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    NewLine();
    NewStations(2);
    c.before();
    StartPushers();
    c.during();
    ASSERT_TRUE(!c.met || WaitFor([&] { return Every(c.met); }));
    // Flashing never waits for the line: the stores take their records meanwhile.
    for (Station& s : stations_) CommitDevice(s);
    c.heal();
    ExpectEverythingOnTheLineOnce();
    stations_.clear();
    if (HasFatalFailure()) break;
  }
}

// The station role inserts history and may not change or remove any of it.
TEST_F(LineTest, StationsAddHistoryAndCannotChangeIt) {
  StartServer();
  NewLine();
  NewStations(2);
  StartPushers();
  ExpectEverythingOnTheLineOnce();
  const Station& s = stations_[0];
  std::string error;
  auto conn = TPgConnection::Connect(ConnInfo(s), &error);
  ASSERT_TRUE(conn) << error;
  // Another station's row is read, never noted as contacted by this login.
  const auto other = conn->Exec("UPDATE line.stations SET waiting = 99 WHERE station_id = $1",
                                {Text(stations_[1].store->StationId())}, &error);
  ASSERT_TRUE(other) << error;
  EXPECT_EQ(other->affected, 0);
  for (const char* sql :
       {"DELETE FROM line.jobs", "DELETE FROM line.backups", "DELETE FROM line.closings",
        "DELETE FROM line.stations", "TRUNCATE line.jobs", "UPDATE line.jobs SET pass = true",
        "UPDATE line.backups SET sn = 'VX0'", "UPDATE line.closings SET how = 'forged'",
        "UPDATE line.stations SET first_contact = now()",
        "UPDATE line.schema_version SET version = 2"}) {
    EXPECT_FALSE(conn->Run(sql, &error)) << sql;
    EXPECT_EQ(conn->LastState(), "42501") << sql << ": " << error;  // permission denied
  }
  TJobSummary job;
  job.id = 1000;
  EXPECT_TRUE(PushJob(*conn, s.store->StationId(), job, &error)) << error;
  std::vector<std::string> expected = LocalRecords(*s.store);
  expected.push_back("job 1000");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(LineRecords(s), expected);
}

// Every write of one station's login in another station's name, or hiding another station's
// backup without a copy of it, or under a name that is taken or not printable, is refused by the
// server; the honest closing of a copy beside its own is taken.
TEST_F(LineTest, TheServerRefusesRowsInAnotherStationsName) {
  StartServer();
  NewLine();
  NewStations(2);
  StartPushers();
  ExpectEverythingOnTheLineOnce();
  const std::string a = stations_[0].store->StationId();
  const std::string b = stations_[1].store->StationId();
  std::string error;
  auto conn = TPgConnection::Connect(ConnInfo(stations_[0]), &error);
  ASSERT_TRUE(conn) << error;
  const auto open = [&] {
    return server_
        ->Sql("SELECT local_id FROM line.backups b WHERE station_id = '" + b +
                  "' AND NOT EXISTS (SELECT 1 FROM line.closings c WHERE "
                  "c.backup_station = b.station_id AND c.backup_id = b.local_id)",
              db_)
        .value_or(Rows{});
  };
  ASSERT_EQ(open(), Rows{{"3"}});  // the third device failed
  std::int64_t copies = 100;
  // A copy of B's open backup 3 kept by A (closed beside it when `close`), `sn` its serial.
  const auto copy = [&](const std::string& sn, bool close) {
    TIdentityBackup c = DeviceBackup(sn, 3);
    c.id = ++copies;
    c.originStation = b;
    c.originId = 3;
    return PushBackup(*conn, a, c, &error) &&
           (!close || PushClosing(*conn, a, a, c.id, "2024-05-02", "job", &error));
  };
  const auto closeB = [&] { return PushClosing(*conn, a, b, 3, "2024-05-02", "job", &error); };
  TJobSummary job;
  job.id = 500;
  const struct {
    const char* name;
    std::function<bool()> write;
    const char* state;
    const char* says;
  } cases[] = {
      {"job", [&] { return PushJob(*conn, b, job, &error); }, "42501", ""},
      {"backup", [&] { return PushBackup(*conn, b, DeviceBackup("VX9", 9), &error); }, "42501", ""},
      {"closing", [&] { return PushClosing(*conn, b, b, 3, "x", "x", &error); }, "42501", ""},
      {"station's contact", [&] { return PushStation(*conn, b, "st2", 0, &error); }, "42501",
       "belongs to another login"},
      {"closing without a copy", closeB, "42501", ""},
      {"closing beside an open copy", [&] { return copy("VX3\xe9", false) && closeB(); }, "42501",
       ""},
      {"second copy of a backup", [&] { return copy("VX4", true) && closeB(); }, "23505",
       "backups_copied_once"},
      {"copy of a closed backup",
       [&] {
         TIdentityBackup c = DeviceBackup("VX1\xe9", 1);
         c.id = 200;
         c.originStation = b;
         c.originId = 1;
         return PushBackup(*conn, a, c, &error);
       },
       "42501", ""},
      {"its own arrival time",
       [&] {
         return conn->Run("INSERT INTO line.backups (station_id, local_id, received_at) VALUES ('" +
                              a + "', 300, '2031-01-01')",
                          &error);
       },
       "42501", ""},
      {"second station of the login",
       [&] { return PushStation(*conn, "00000000-0000-4000-8000-00000000000a", "st9", 0, &error); },
       "23505", "belongs to another station"},
      {"taken name", [&] { return PushStation(*conn, a, "st2", 0, &error); }, "23505",
       "another station named \"st2\""},
      {"name with an escape", [&] { return PushStation(*conn, a, "st\x1b]0;x\x07", 0, &error); },
       "23514", "name \"st?]0;x?\""},
      {"station's login",
       [&] {
         return conn->Run(
             "INSERT INTO line.stations (station_id, name, login) VALUES "
             "('00000000-0000-4000-8000-00000000000b', 'st8', 'st2')",
             &error);
       },
       "42501", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    error.clear();
    EXPECT_FALSE(c.write());
    EXPECT_EQ(conn->LastState(), c.state) << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
  EXPECT_EQ(open(), Rows{{"3"}});
  EXPECT_EQ(LineRecords(stations_[1]), LocalRecords(*stations_[1].store));
  // What a restore from the line leaves: its copy of the same device, closed with B's backup.
  EXPECT_TRUE(PushClosing(*conn, a, a, 101, "2024-05-02", "job", &error) && closeB()) << error;
  EXPECT_EQ(open(), Rows{});
}

// A line of schema 2 is brought to the newest with every row: names mended, not dropped.
TEST_F(LineTest, InitKeepsTheRowsOfAnOlderLine) {
  StartServer();
  ASSERT_TRUE(server_->Sql("CREATE DATABASE old"));
  db_ = "old";
  std::string error;
  auto admin = TPgConnection::Connect(server_->AdminConnInfo(db_), &error);
  TLineInitReport report;
  ASSERT_TRUE(admin && InitLine(*admin, &report, &error, 2)) << error;
  const std::string id = "00000000-0000-4000-8000-00000000000";
  ASSERT_TRUE(server_->Sql("INSERT INTO line.stations (station_id, name, login) VALUES ('" + id +
                               "1', 'dup', 'st1'), ('" + id + "2', 'dup', 'st1'), ('" + id +
                               "3', E'bad\\x1b[2J', 'st2')",
                           db_));
  TJobSummary job;
  ASSERT_TRUE(PushJob(*admin, id + "1", job, &error)) << error;
  ASSERT_TRUE(InitLine(*admin, &report, &error)) << error;
  EXPECT_EQ(report.schemaBefore, 2);
  EXPECT_EQ(server_->Sql("SELECT name, shared_login FROM line.stations ORDER BY station_id", db_),
            (Rows{{"dup", "t"}, {"dup (" + id + "2)", "t"}, {"bad?[2J", "f"}}));
  EXPECT_EQ(server_->Sql("SELECT count(*) FROM line.jobs", db_), Rows{{"1"}});
}

// What the line's history prints holds no control character of another station's texts, and a
// station filter matches literally.
TEST_F(LineTest, LineHistoryPrintsOnlyPrintableTextsAndMatchesStationsLiterally) {
  StartServer();
  NewLine();
  NewStations(1);
  std::string error;
  auto conn = TPgConnection::Connect(ConnInfo(stations_[0]), &error);
  TJobSummary job;
  job.id = 7;
  job.failure = "\x1b]0;owned\x07\x1b[2J\xc2\x9b";
  job.identityBefore.slots[kSlotSn] = "VX\x1b[2J";
  job.deviceKey = "k\r\ney";
  ASSERT_TRUE(conn && PushStation(*conn, stations_[0].store->StationId(), "st1", 0, &error) &&
              PushJob(*conn, stations_[0].store->StationId(), job, &error))
      << error;
  TStationSettings settings;
  settings.lineConnection = ConnInfo(stations_[0]);
  for (const auto format : {THistoryFormat::kTable, THistoryFormat::kCsv}) {
    for (const char* station : {"st1", "%", "_"}) {
      TLineHistoryFilter filter;
      filter.station = station;
      std::ostringstream out;
      ASSERT_EQ(PrintLineHistory(settings, filter, format, out, out), 0) << out.str();
      const std::string text = out.str();
      EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), station == std::string("st1") ? 2 : 1)
          << text;
      EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](char c) {
        return c != '\n' && (c & 0xE0) == 0;
      })) << text;
      EXPECT_TRUE(IsValidUtf8(text));
      EXPECT_EQ(text.find("\xc2\x9b"), std::string::npos);
    }
  }
}

// A line behind TLS: the station verifies the server's name and certificate against the CA.
TEST_F(LineTest, StationsPushOverTlsVerifiedAgainstTheCa) {
  StartServer(true);
  NewLine();
  NewStations(1);
  Station& s = stations_[0];
  const std::string tls =
      "host=localhost sslmode=verify-full sslrootcert=" + ConnQuote(server_->CaFile());
  s.pusher = std::make_unique<TLinePusher>(*s.store, ConnInfo(s, tls), s.user, nullptr);
  ExpectEverythingOnTheLineOnce();
  EXPECT_EQ(server_->Sql("SELECT bool_and(ssl) FROM pg_stat_ssl JOIN pg_stat_activity USING (pid) "
                         "WHERE usename = 'st1'"),
            Rows{{"t"}});
}

// "vornex restore --serial/--meid" takes a line backup only when a station could have taken it:
// a forged one is refused before it is kept in the store or any device is looked for, and none is
// kept before its device is found.
TEST_F(LineTest, RestoreRefusesAForgedLineBackupBeforeKeepingIt) {
  run_.NoDiscovery();
  StartServer();
  NewLine();
  NewStations(1);
  std::string error;
  auto admin = TPgConnection::Connect(server_->AdminConnInfo(db_), &error);
  const std::string forger = "00000000-0000-4000-8000-0000000000f0";
  ASSERT_TRUE(admin && PushStation(*admin, forger, "forger", 0, &error)) << error;
  std::uint16_t unlisted = 0xFFF0;
  while (IsListedNvItem(unlisted)) --unlisted;

  TempDir other;
  std::filesystem::create_directories(other.File("bench"));
  testing::WriteFile(other.File("station.ini"),
                     "[Line]\r\nConnection=host=127.0.0.1 port=" + std::to_string(server_->Port()) +
                         " user=st1 dbname=" + db_ + "\r\n");
  ::setenv("PGPASSFILE", stations_[0].passfile.c_str(), 1);
  const struct {
    std::string sn;
    std::uint16_t item;
    std::vector<std::string> args;
    int status;
    std::string says;
  } cases[] = {
      {"VX77\x07", 524, {"--meid", "A100001000077"}, exit_status::kRefused, "is refused: SN: "},
      {"VX78",
       unlisted,
       {"--serial", "VX78"},
       exit_status::kRefused,
       "is refused: NV" + std::to_string(unlisted) + ": "},
      // What a station could have taken is kept only once its device shows it is its own: it is
      // not on the bench.
      {"VX79", 524, {"--serial", "VX79"}, 1, "is not attached"},
  };
  for (const auto& c : cases) {
    const int n = 77 + static_cast<int>(&c - cases);
    TIdentityBackup forged = DeviceBackup(c.sn, n);
    forged.id = n;
    forged.nv = {NvRecord(c.item, 1)};
    ASSERT_TRUE(PushBackup(*admin, forger, forged, &error)) << error;
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--data", other.File("records"), "--settings",
                             other.File("station.ini"), "--bench", other.File("bench")});
    std::ostringstream out;
    EXPECT_EQ(RunRestoreCommand(args, out, out), c.status) << out.str();
    EXPECT_NE(out.str().find(c.says), std::string::npos) << out.str();
    auto store = TStationStore::Open(other.File("records"), &error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->OpenBackupCount(&error), 0);
  }
}

}  // namespace
}  // namespace vornex::line
