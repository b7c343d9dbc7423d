// Two stations of one line: both flash simulated devices while their records are pushed to the
// line; a device left past its reset on the first station, with its identity backup open there,
// is put back by its serial number on the second station from the line's copy, and the backup
// then shows closed on the line as well as on the second station.
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
  const auto found = line::NewestLineBackup(*admin_, sn, "", &error);
  ASSERT_TRUE(found && *found) << error;
  EXPECT_EQ((*found)->stationId, first);
  EXPECT_EQ((*found)->backup.id, leftBackup);

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
  const auto gone = line::NewestLineBackup(*admin_, sn, "", &error);
  ASSERT_TRUE(gone) << error;
  EXPECT_FALSE(*gone);
}

}  // namespace
}  // namespace vornex::e2e
