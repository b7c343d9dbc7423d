// Two stations of one line: both flash simulated devices while their records are pushed to the
// line; a device left past its reset on the first station, with its identity backup open there,
// is put back by its serial number on the second station from the line's copy, and the backup
// then shows closed on the line as well as on the second station. A restore from the line takes
// no forged, contested, closed or copied backup.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "console/records_commands.h"
#include "line/line_push.h"
#include "line/line_rows.h"
#include "line/line_schema.h"
#include "line/pg_connection.h"
#include "station_harness.h"
#include "support/pg_server.h"

namespace vornex::e2e {
namespace {

using line::TPgConnection;

// Polls until the condition holds; false at the real-time guard.
bool WaitFor(const std::function<bool()>& done) {
  const auto giveUp = std::chrono::steady_clock::now() + kCheckLimit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class LineStationTest : public StationTest {
 protected:
  void SetUp() override {
    StationTest::SetUp();
    std::string error;
    server_ = testing::TPgServer::Start({}, &error);
    ASSERT_TRUE(server_) << error;
    admin_ = TPgConnection::Connect(server_->AdminConnInfo(), &error);
    ASSERT_TRUE(admin_) << error;
    line::TLineInitReport report;
    ASSERT_TRUE(line::InitLine(*admin_, &report, &error)) << error;
    for (const char* user : {"st1", "st2"}) {
      ASSERT_TRUE(server_->Sql(std::string("CREATE ROLE ") + user + " LOGIN PASSWORD 'pw-" + user +
                               "' IN ROLE " + line::kStationRole));
    }
    passfile_ = server_->WritePassFile({{"st1", "pw-st1"}, {"st2", "pw-st2"}});
  }
  void TearDown() override {
    pusher_.reset();  // before its station's records close
    StationTest::TearDown();
  }

  std::string ConnInfo(const std::string& user) const {
    return server_->ConnInfo(user, "postgres", passfile_);
  }

  // The station with its records in the folder, pushing them to the line as `user`.
  Station& StartLineStation(const std::string& records, const std::string& user) {
    pusher_.reset();
    Station& station = StartStation(root_.File(records), true);
    pusher_ = std::make_unique<line::TLinePusher>(*station.Store(), ConnInfo(user), user, nullptr);
    return station;
  }
  // Waits until the line has every record of the store.
  void ExpectAllSent(TStationStore& store) {
    ASSERT_TRUE(WaitFor([&] {
      std::string error;
      const line::TLineState state = pusher_->State();
      return store.OutboxCount(&error) == 0 && state.connected && state.waiting == 0;
    })) << pusher_->State().problem;
  }
  // The line's account of a station.
  line::TLineStation OnTheLine(const std::string& stationId) {
    std::string error;
    const auto stations = line::LineStations(*admin_, &error);
    EXPECT_TRUE(stations) << error;
    for (const line::TLineStation& s : stations.value_or(std::vector<line::TLineStation>{})) {
      if (s.stationId == stationId) return s;
    }
    ADD_FAILURE() << "station " << stationId << " is not on the line";
    return {};
  }

  std::unique_ptr<testing::TPgServer> server_;
  std::unique_ptr<TPgConnection> admin_;
  std::string passfile_;
  std::unique_ptr<line::TLinePusher> pusher_;
};

TEST_F(LineStationTest, ADeviceLeftOnOneStationIsRestoredBySerialOnAnother) {
  std::vector<sim::TDeviceConfig> devices(2);
  devices[1].faults.noReturn = true;  // gone after its reset, its backup open on station 1
  sim::TSimBench& bench = StartBench(devices);
  const std::vector<sim::TDeviceReport> before = bench.Reports();
  const std::string sn = before[1].identity.serialNumber;

  Station& one = StartLineStation("records1", "st1");
  const std::string first = one.Store()->StationId();
  ASSERT_EQ(one.Check().count, 2);
  one.RunBatch();
  ExpectAllSent(*one.Store());
  std::string error;
  const auto open = one.Store()->OpenBackups(&error);
  ASSERT_TRUE(open && open->size() == 1) << error;
  ASSERT_EQ(open->front().at.slots[kSlotSn], sn);
  const std::int64_t leftBackup = open->front().id;
  EXPECT_EQ(OnTheLine(first).jobs, 2);
  EXPECT_EQ(OnTheLine(first).openBackups, 1);

  Station& two = StartLineStation("records2", "st2");
  const std::string second = two.Store()->StationId();
  ASSERT_EQ(two.Check().count, 1);  // the first device again; the other one is away
  two.RunBatch();
  ExpectAllSent(*two.Store());
  EXPECT_EQ(OnTheLine(second).jobs, 1);
  EXPECT_EQ(OnTheLine(second).openBackups, 0);
  const auto found = line::OpenLineBackups(*admin_, sn, "", &error);
  ASSERT_TRUE(found && found->size() == 1) << error;
  EXPECT_EQ(found->front().stationId, first);
  EXPECT_EQ(found->front().backup.id, leftBackup);

  // Station 2 stops; the device is plugged in again, rewritten and without its identity.
  pusher_.reset();
  station_.reset();
  bench.Replug(1);
  ASSERT_TRUE(WaitPresent(1, true));
  ASSERT_NE(bench.Report(1).identity.serialNumber, sn);
  testing::WriteFile(root_.File("station2.ini"),
                     "[Line]\r\nConnection=" + ConnInfo("st2") + "\r\n");
  std::ostringstream out;
  EXPECT_EQ(RunRestoreCommand({"--serial", sn, "--bench", bench.Folder(), "--data",
                               root_.File("records2"), "--settings", root_.File("station2.ini")},
                              out, out),
            0)
      << out.str();
  ExpectRewrittenKeepingIdentity(before[1], bench.Report(1), images_);

  // Station 2's copy is closed here, and once its records reach the line, there too.
  auto records = TStationStore::Open(root_.File("records2"), &error);
  ASSERT_TRUE(records) << error;
  const auto jobs = records->History({}, &error);
  ASSERT_TRUE(jobs && !jobs->empty()) << error;
  ASSERT_EQ(jobs->front().kind, kJobKindRestore);
  const auto copy = records->LoadBackup(jobs->front().backupId, &error);
  ASSERT_TRUE(copy) << error;
  EXPECT_FALSE(copy->open);
  EXPECT_EQ(copy->originStation, first);
  EXPECT_EQ(copy->originId, leftBackup);
  pusher_ = std::make_unique<line::TLinePusher>(*records, ConnInfo("st2"), "st2", nullptr);
  ExpectAllSent(*records);
  pusher_.reset();
  EXPECT_EQ(OnTheLine(first).openBackups, 0);
  EXPECT_EQ(OnTheLine(second).openBackups, 0);
  EXPECT_EQ(OnTheLine(second).jobs, 2);
  const auto gone = line::OpenLineBackups(*admin_, sn, "", &error);
  ASSERT_TRUE(gone) << error;
  EXPECT_TRUE(gone->empty());
}

// Whatever other stations put on the line under a device's serial number, a restore from the
// line leaves the device as it was or with its own identity, and keeps no backup it refused.
TEST_F(LineStationTest, RestoreFromTheLineTakesOnlyTheDevicesOwnUncontestedBackup) {
  sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(1));
  const sim::TDeviceReport own = bench.Report(0);
  const std::string sn = own.identity.serialNumber;
  std::string error;
  const std::string ahead = "00000000-0000-4000-8000-0000000000a1";  // its clock five years ahead
  const std::string today = "00000000-0000-4000-8000-0000000000b1";
  ASSERT_TRUE(server_->Sql("INSERT INTO line.stations (station_id, name, login) VALUES ('" + ahead +
                           "', 'ahead', 'a'), ('" + today + "', 'today', 'b')"));
  std::int64_t ids = 0;
  // A backup of the device as `station` adds it: its own values, or another device's MEID and
  // test flag under its serial number.
  const auto add = [&](const std::string& station, bool forged, const char* createdAt) {
    TIdentityBackup b;
    b.id = ++ids;
    b.createdAt = createdAt;
    b.deviceKey = own.key;
    b.itemSwitches = kItemAt;
    b.at.slots[kSlotSn] = sn;
    b.at.slots[kSlotMeid] = forged ? "A1000009999999" : own.identity.meid;
    b.at.slots[kSlotTflag] = forged ? "0" : own.identity.testFlag;
    return line::PushBackup(*admin_, station, b, &error);
  };
  const auto clear = [&] {
    return server_->Sql("DELETE FROM line.closings; DELETE FROM line.backups").has_value();
  };
  std::int64_t named = 0;
  const struct {
    const char* name;
    std::function<bool()> rows;
    std::vector<std::string> more;
    int status;
    const char* says;
  } cases[] = {
      {"forged",
       [&] { return clear() && add(today, true, "2024-05-02 10:00:00"); },
       {},
       65,
       "does not show"},
      {"several stations, one clock ahead",
       [&] {
         return clear() && add(ahead, true, "2029-05-02 10:00:00") &&
                add(today, false, "2024-05-02 10:00:00");
       },
       {},
       65,
       "none is chosen"},
      {"older of one station",
       [&] {
         return clear() && add(today, false, "2024-05-02 10:00:00") &&
                add(today, true, "2024-05-02 09:00:00");
       },
       {},
       65,
       "none is chosen"},
      {"closed",
       [&] {
         return clear() && add(today, false, "2024-05-02 10:00:00") &&
                line::PushClosing(*admin_, today, today, ids, "2024-05-02", "job", &error);
       },
       {},
       65,
       "no station of the line holds"},
      {"named",
       [&] {
         const bool added = clear() && add(ahead, true, "2029-05-02 10:00:00") &&
                            add(today, false, "2024-05-02 10:00:00");
         named = ids;
         return added;
       },
       {"--line-backup", "today:"},
       0,
       "are on the line"},
      {"copied already", [] { return true; }, {}, 65, "does not show"},
  };
  testing::WriteFile(root_.File("station2.ini"),
                     "[Line]\r\nConnection=" + ConnInfo("st2") + "\r\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.rows()) << error;
    std::vector<std::string> args = {"--serial",   sn,
                                     "--bench",    bench.Folder(),
                                     "--data",     root_.File("records2"),
                                     "--settings", root_.File("station2.ini")};
    args.insert(args.end(), c.more.begin(), c.more.end());
    if (!c.more.empty()) args.back() += std::to_string(named);
    std::ostringstream out;
    EXPECT_EQ(RunRestoreCommand(args, out, out), c.status) << out.str();
    EXPECT_NE(out.str().find(c.says), std::string::npos) << out.str();
    const sim::TDeviceReport now = bench.Report(0);
    EXPECT_EQ(now.identity.meid, own.identity.meid);
    EXPECT_EQ(now.identity.testFlag, own.identity.testFlag);
    EXPECT_EQ(now.nvDigest, own.nvDigest);
    auto records = TStationStore::Open(root_.File("records2"), &error);
    ASSERT_TRUE(records) << error;
    EXPECT_EQ(records->OpenBackupCount(&error), 0);
  }
  // The named backup's closing reached the line before its restore ended.
  EXPECT_EQ(server_->Sql("SELECT count(*) FROM line.closings WHERE backup_station = '" + today +
                         "' AND backup_id = " + std::to_string(named)),
            (std::optional<std::vector<std::vector<std::string>>>{{{"1"}}}));
}

}  // namespace
}  // namespace vornex::e2e
