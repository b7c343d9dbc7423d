// The line under load: ten stations, each with its own records, run a thousand jobs each (every
// job a full backup of 582 NV records, closed after it) while their push threads send everything
// at once to one server, which crashes once and is stopped once while the rows come in. Every
// record reaches the line exactly once, a sample of backups holds the NV bytes that were
// committed, and every outbox ends empty.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "line/line_push.h"
#include "line/line_schema.h"
#include "line/pg_connection.h"
#include "store/station_store.h"
#include "support/pg_server.h"
#include "support/run_scope.h"
#include "support/temp_dir.h"

namespace vornex::line {
namespace {

using TClock = std::chrono::steady_clock;
using TRows = std::vector<std::vector<std::string>>;

constexpr int kStations = 10;
constexpr int kJobs = 1000;  // per station
constexpr std::size_t kNvRecords = 582;
constexpr long long kLineRows = 3LL * kStations * kJobs;  // a backup, its closing and a job each
// Back-offs of 50 ms doubling up to 1.5 s; statements limited to 1 s.
constexpr double kTimeScale = 0.05;

std::string Serial(int station, int job) {
  char text[32];
  std::snprintf(text, sizeof text, "VX73%02d%06d", station, job);
  return text;
}

// What a job of this station reads from its device: the NV bytes differ by station and job.
TIdentityBackup MakeBackup(int station, int job) {
  TIdentityBackup b;
  b.slot = job % 8;
  b.deviceKey = "usb1-1." + std::to_string(job % 8);
  b.diagCom = 10 + b.slot;
  b.modemCom = 20 + b.slot;
  b.firmwareVersion = "V1.0.0";
  b.imageTag = "VX730-R1.2.0";
  b.imageSha256 = std::string(64, 'c');
  b.itemSwitches = 3;
  b.at.slots[kSlotSn] = Serial(station, job);
  b.at.slots[kSlotMeid] = "A10000" + std::to_string(10000000 + station * kJobs + job);
  b.at.slots[kSlotTflag] = std::string("1");
  b.nv.resize(kNvRecords);
  for (std::size_t i = 0; i < kNvRecords; ++i) {
    auto& bytes = b.nv[i].bytes;
    bytes[0] = static_cast<std::uint8_t>(i);
    bytes[1] = static_cast<std::uint8_t>(i >> 8);
    for (std::size_t j = 2; j < bytes.size(); ++j) {
      bytes[j] = static_cast<std::uint8_t>(i * 7 + j + job * 13 + station * 101);
    }
  }
  return b;
}

std::string NvBytes(const TIdentityBackup& b) {
  std::string bytes;
  for (const TNvRecord& r : b.nv) bytes.append(r.bytes.begin(), r.bytes.end());
  return bytes;
}

// Looks again every few milliseconds until `done` holds; false after `guard`, which only keeps a
// broken run from hanging.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::seconds guard = std::chrono::seconds(300)) {
  const auto giveUp = TClock::now() + guard;
  while (!done()) {
    if (TClock::now() > giveUp) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

double SecondsSince(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

struct TStation {
  testing::TempDir folder;
  std::unique_ptr<TStationStore> store;
  std::unique_ptr<TLinePusher> pusher;  // stops before the store closes
};

TEST(LineLoadTest, TenStationsPushEveryRecordOnceAcrossACrashAndAStop) {
  testing::RunScope scope;
  scope.TimeScale(kTimeScale);
  std::string error;
  const auto server = testing::TPgServer::Start({}, &error);
  ASSERT_TRUE(server) << error;
  const auto admin = TPgConnection::Connect(server->AdminConnInfo(), &error);
  ASSERT_TRUE(admin) << error;
  TLineInitReport report;
  ASSERT_TRUE(InitLine(*admin, &report, &error)) << error;
  // A login of its own for each station: the line registers one station per login.
  std::vector<std::pair<std::string, std::string>> logins;
  for (int i = 0; i < kStations; ++i) {
    logins.emplace_back("station" + std::to_string(i), "pw");
    ASSERT_TRUE(server->Sql("CREATE ROLE " + logins.back().first +
                            " LOGIN PASSWORD 'pw' IN ROLE vornex_station"));
  }
  const std::string passfile = server->WritePassFile(logins);

  std::vector<std::unique_ptr<TStation>> stations;
  for (int i = 0; i < kStations; ++i) {
    auto& station = stations.emplace_back(std::make_unique<TStation>());
    station->store = TStationStore::Open(station->folder.path(), &error);
    ASSERT_TRUE(station->store) << error;
  }
  for (int i = 0; i < kStations; ++i) {
    stations[i]->pusher = std::make_unique<TLinePusher>(
        *stations[i]->store, server->ConnInfo(logins[i].first, "postgres", passfile),
        "station " + std::to_string(i), nullptr);
  }

  // The jobs, as fast as the records take them; their commits are durable.
  const auto start = TClock::now();
  std::mutex feedMutex;
  std::string feedError;
  std::atomic<int> feeding{kStations};
  std::vector<std::jthread> feeders;  // asked to stop and joined first should the test end early
  for (int i = 0; i < kStations; ++i) {
    feeders.emplace_back([&, i](std::stop_token stop) {
      TStationStore& store = *stations[i]->store;
      std::string why;
      for (int job = 0; job < kJobs && !stop.stop_requested(); ++job) {
        const TIdentityBackup backup = MakeBackup(i, job);
        TJobSummary summary;
        summary.slot = backup.slot;
        summary.deviceKey = backup.deviceKey;
        summary.identityBefore = backup.at;
        summary.identityAfter = backup.at;
        summary.nvBackedUp = static_cast<std::int32_t>(kNvRecords);
        summary.pass = true;
        summary.startedAt = "2024-05-06 07:08:09.000";
        summary.endedAt = "2024-05-06 07:09:10.000";
        summary.backupId = store.CommitBackup(backup, &why);
        const std::int64_t jobId = summary.backupId > 0 ? store.RecordJob(summary, &why) : 0;
        if (jobId <= 0 ||
            !store.CloseBackup(summary.backupId, "job " + std::to_string(jobId), &why)) {
          std::lock_guard lock(feedMutex);
          feedError = "station " + std::to_string(i) + ", job " + std::to_string(job) + ": " + why;
          break;
        }
        stations[i]->pusher->Nudge();
      }
      --feeding;
    });
  }

  const auto lineRows = [&] {
    const auto rows = server->Sql(
        "SELECT (SELECT count(*) FROM line.backups) + (SELECT count(*) FROM line.closings) + "
        "(SELECT count(*) FROM line.jobs)");
    return rows ? std::atoll((*rows)[0][0].c_str()) : -1LL;
  };
  // Every push has found the server gone (a push with nothing to send finds out at its next
  // record).
  const auto allNoticed = [&] {
    for (const auto& station : stations) {
      std::string ignored;
      if (station->pusher->State().connected && station->store->OutboxCount(&ignored) != 0) {
        return false;
      }
    }
    return true;
  };
  const struct {
    long long rows;
    bool crash;
  } outages[] = {{kLineRows * 3 / 10, true}, {kLineRows * 6 / 10, false}};
  for (const auto& outage : outages) {
    ASSERT_TRUE(WaitFor([&] { return lineRows() >= outage.rows; })) << lineRows();
    ASSERT_TRUE(outage.crash ? server->Kill() : server->Stop(false, &error)) << error;
    ASSERT_TRUE(WaitFor(allNoticed));
    ASSERT_TRUE(server->StartAgain(&error)) << error;
  }

  ASSERT_TRUE(WaitFor([&] { return feeding == 0; }));
  const double fillSeconds = SecondsSince(start);
  ASSERT_EQ(feedError, "");
  ASSERT_TRUE(WaitFor([&] {
    for (const auto& station : stations) {
      std::string ignored;
      if (station->store->OutboxCount(&ignored) != 0) return false;
    }
    return true;
  }));
  const double pushSeconds = SecondsSince(start);
  std::printf(
      "%d jobs with full backups: committed on the stations in %.1f s, all on the line "
      "after %.1f s\n",
      kStations * kJobs, fillSeconds, pushSeconds);

  // Every station's records once each: local ids 1..1000 in each table.
  TRows want;
  for (const auto& station : stations) {
    want.push_back({station->store->StationId(), "1000", "1000", "1", "1000"});
  }
  std::sort(want.begin(), want.end());
  const std::string ids = "count(*), count(DISTINCT local_id), min(local_id), max(local_id)";
  for (const std::string& sql : std::vector<std::string>{
           "SELECT station_id, " + ids + " FROM line.backups",
           "SELECT station_id, " + ids + " FROM line.jobs",
           std::string(
               "SELECT backup_station, count(*), count(DISTINCT backup_id), min(backup_id), "
               "max(backup_id) FROM line.closings WHERE station_id = backup_station")}) {
    EXPECT_EQ(server->Sql(sql + " GROUP BY 1 ORDER BY 1").value_or(TRows{}), want) << sql;
  }
  EXPECT_EQ(lineRows(), kLineRows);
  // Each job names its own station's backup of the same device.
  EXPECT_EQ(server->Sql("SELECT count(*) FROM line.jobs j JOIN line.backups b ON b.station_id = "
                        "j.station_id AND b.local_id = j.backup_id AND b.sn = j.sn_before"),
            (TRows{{std::to_string(kStations * kJobs)}}));
  // A sample of backups, found by serial number, holds the NV bytes committed.
  const auto reconnected = TPgConnection::Connect(server->AdminConnInfo(), &error);
  ASSERT_TRUE(reconnected) << error;
  for (int i = 0; i < kStations; ++i) {
    for (const int job : {0, 1 + 97 * i, kJobs - 1}) {
      SCOPED_TRACE("station " + std::to_string(i) + ", job " + std::to_string(job));
      const auto rows =
          reconnected->Exec("SELECT nv FROM line.backups WHERE station_id = $1 AND sn = $2",
                            {Text(stations[i]->store->StationId()), Bytes(Serial(i, job))}, &error);
      ASSERT_TRUE(rows) << error;
      ASSERT_EQ(rows->rows.size(), 1U);
      EXPECT_TRUE(rows->rows[0][0] == NvBytes(MakeBackup(i, job)));
    }
  }
}

}  // namespace
}  // namespace vornex::line
