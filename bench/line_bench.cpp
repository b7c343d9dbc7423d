// What the line records cost and give, at time scale 1, against one PostgreSQL 15 server on the
// loopback (the tests' throw-away server: fsync off, 16 MB of shared buffers) and ten simulated
// stations, each a station record store in a temporary folder with its own push thread. Every job
// is what a station keeps of a flash: a full backup (582 NV records, each with 4 to 64 varying data
// bytes and zeros after them), the job's account and the backup's closing, each a durable commit.
//
//   push throughput  the stations' outboxes filled first, then the ten pushes started at once and
//                    timed until the line has every record;
//   lag              the stations commit jobs while they push, as fast as their records take
//                    them and then at a steady pace, nudging their push after each job as the
//                    station does; a poller reads each station's newest job on the line every
//                    2 ms and takes the time from each job's local commit until it is seen there;
//   size             pg_total_relation_size of the line's tables over the jobs they hold;
//   history          line::LineHistory by serial number once the line holds 1,000,000 jobs, the
//                    ones beyond the pushed jobs made on the server (INSERT ... SELECT
//                    generate_series from a pushed job, one serial per device, some devices
//                    flashed twice), as a station's login reads it;
//   batch            the flashing batch's ratio to its floor without and with the line: the
//                    batch benchmark run twice, the second time with --line.
//
//   line_bench [--jobs N] [--paced-jobs N] [--pace-ms N] [--history-jobs N] [--no-batch]
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "foundation/paths.h"
#include "line/line_push.h"
#include "line/line_rows.h"
#include "line/line_schema.h"
#include "line/pg_connection.h"
#include "store/station_store.h"
#include "tests/support/pg_server.h"

extern char** environ;

namespace vornex {
namespace {

using TClock = std::chrono::steady_clock;
using TRows = std::vector<std::vector<std::string>>;

constexpr int kStations = 10;
constexpr std::size_t kNvRecords = 582;
constexpr int kHistoryQueries = 200;
constexpr int kHistoryDevices = 800'000;  // of the generated jobs: the rest are second flashes

struct TOptions {
  int jobs = 500;       // per station, for the throughput
  int pacedJobs = 100;  // per station, at a steady pace
  int paceMs = 100;     // between two jobs of a station at that pace
  long long historyJobs = 1'000'000;
  bool batch = true;
};

// A station's records in a temporary folder, removed with it.
struct TStation {
  std::string folder;
  std::unique_ptr<TStationStore> store;
  std::unique_ptr<line::TLinePusher> pusher;  // stops before the records close
  ~TStation() {
    pusher.reset();
    store.reset();
    std::error_code ec;
    if (!folder.empty()) std::filesystem::remove_all(folder, ec);
  }
};

double Seconds(TClock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[at];
}

TIdentityBackup MakeBackup(int station, int job, std::mt19937& random) {
  TIdentityBackup b;
  b.slot = job % 8;
  b.deviceKey = "usb1-1." + std::to_string(b.slot);
  b.diagCom = 10 + b.slot;
  b.modemCom = 20 + b.slot;
  b.firmwareVersion = "V1.0.0";
  b.imageTag = "VX730-R1.2.0";
  b.imageSha256 = std::string(64, 'c');
  b.itemSwitches = 3;
  char text[32];
  std::snprintf(text, sizeof text, "VX73%02d%06d", station, job);
  b.at.slots[kSlotSn] = text;
  std::snprintf(text, sizeof text, "A100%02d%08d", station, job);
  b.at.slots[kSlotMeid] = text;
  b.at.slots[kSlotTflag] = std::string("1");
  b.nv.resize(kNvRecords);
  for (std::size_t i = 0; i < kNvRecords; ++i) {
    auto& bytes = b.nv[i].bytes;
    bytes[0] = static_cast<std::uint8_t>(i);
    bytes[1] = static_cast<std::uint8_t>(i >> 8);
    const std::size_t data = 4 + (i * 37) % 61;
    for (std::size_t j = 2; j < 2 + data; ++j) bytes[j] = static_cast<std::uint8_t>(random());
  }
  return b;
}

// One job as a station keeps it: the backup, the job's account (committed at *recorded), the
// closing. The job's id, 0 with *error.
std::int64_t RunJob(TStationStore& store, const TIdentityBackup& backup,
                    TClock::time_point* recorded, std::string* error) {
  TJobSummary job;
  job.slot = backup.slot;
  job.deviceKey = backup.deviceKey;
  job.diagCom = job.diagComAfter = backup.diagCom;
  job.modemCom = job.modemComAfter = backup.modemCom;
  job.versionBefore = backup.firmwareVersion;
  job.versionAfter = "V1.2.0";
  job.imageTag = backup.imageTag;
  job.imageSha256 = backup.imageSha256;
  job.identityBefore = job.identityAfter = backup.at;
  job.nvBackedUp = static_cast<std::int32_t>(kNvRecords);
  job.identityVerified = true;
  job.pass = true;
  job.startedAt = "2024-05-06 07:08:09.000";
  job.endedAt = "2024-05-06 07:09:19.000";
  job.elapsedMs = 70'000;
  job.backupId = store.CommitBackup(backup, error);
  const std::int64_t id = job.backupId > 0 ? store.RecordJob(job, error) : 0;
  *recorded = TClock::now();
  if (id <= 0 || !store.CloseBackup(job.backupId, "job " + std::to_string(id), error)) return 0;
  return id;
}

// Runs `count` jobs on every station at once, a thread each, one every `paceMs` (0: as fast as the
// records take them); `committed` gets each job's id and the moment its account was committed.
bool RunJobs(std::vector<TStation>& stations, int first, int count, int paceMs,
             const std::function<void(int, std::int64_t, TClock::time_point)>& committed) {
  std::atomic<bool> ok{true};
  std::vector<std::thread> threads;
  for (int s = 0; s < kStations; ++s) {
    threads.emplace_back([&, s] {
      std::mt19937 random(static_cast<unsigned>(s * 7919 + first));
      const auto start = TClock::now();
      for (int job = first; job < first + count && ok; ++job) {
        if (paceMs > 0) {
          std::this_thread::sleep_until(start + std::chrono::milliseconds(paceMs) * (job - first));
        }
        std::string error;
        TClock::time_point recorded;
        const std::int64_t id =
            RunJob(*stations[s].store, MakeBackup(s, job, random), &recorded, &error);
        if (id <= 0) {
          std::fprintf(stderr, "station %d: %s\n", s, error.c_str());
          ok = false;
        } else if (committed) {
          committed(s, id, recorded);
        }
        if (stations[s].pusher) stations[s].pusher->Nudge();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  return ok;
}

bool OutboxesEmpty(std::vector<TStation>& stations) {
  for (TStation& station : stations) {
    std::string error;
    if (station.store->OutboxCount(&error) != 0) return false;
  }
  return true;
}

// The lag of every job committed while it runs: the stations' newest jobs on the line are read
// every 2 ms; a job is seen once its id is at most its station's newest (a station pushes in
// order).
class TLagProbe {
 public:
  TLagProbe(std::vector<TStation>& stations, const std::string& conninfo, std::int64_t firstId,
            int jobs)
      : firstId_(firstId), jobs_(jobs) {
    std::string ids;
    for (TStation& station : stations) {
      ids += (ids.empty() ? "{" : ",") + station.store->StationId();
      times_.push_back(std::make_unique<std::atomic<std::int64_t>[]>(jobs));
    }
    ids_ = ids + "}";
    std::string error;
    conn_ = line::TPgConnection::Connect(conninfo, &error);
    if (!conn_) std::fprintf(stderr, "lag probe: %s\n", error.c_str());
    thread_ = std::thread([this] { Run(); });
  }
  ~TLagProbe() { Finish(); }

  void Committed(int station, std::int64_t id, TClock::time_point at) {
    const std::int64_t index = id - firstId_;
    if (index >= 0 && index < jobs_) {
      times_[station][index] = at.time_since_epoch().count();
    }
  }
  // Waits until every job was seen; the lags in milliseconds.
  std::vector<double> Finish() {
    if (thread_.joinable()) thread_.join();
    return lagsMs_;
  }

 private:
  void Run() {
    std::vector<std::int64_t> seen(times_.size(), 0);  // jobs seen per station
    const auto giveUp = TClock::now() + std::chrono::minutes(10);
    while (conn_ && TClock::now() < giveUp) {
      std::string error;
      const auto rows = conn_->Exec(
          "SELECT (SELECT coalesce(max(local_id), 0) FROM line.jobs j WHERE j.station_id = s) "
          "FROM unnest($1::uuid[]) WITH ORDINALITY AS u(s, n) ORDER BY n",
          {line::Text(ids_)}, &error);
      const auto now = TClock::now();
      if (!rows) {
        std::fprintf(stderr, "lag probe: %s\n", error.c_str());
        return;
      }
      bool all = true;
      for (std::size_t s = 0; s < times_.size(); ++s) {
        const std::int64_t newest = std::atoll(rows->rows[s][0].c_str()) - firstId_ + 1;
        while (seen[s] < std::min<std::int64_t>(newest, jobs_)) {
          const std::int64_t at = times_[s][seen[s]];
          if (at == 0) break;  // seen before its committer noted the time: the next round
          lagsMs_.push_back(std::chrono::duration<double, std::milli>(
                                now - TClock::time_point(TClock::duration(at)))
                                .count());
          ++seen[s];
        }
        all = all && seen[s] == jobs_;
      }
      if (all) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  const std::int64_t firstId_;
  const int jobs_;
  std::string ids_;
  std::vector<std::unique_ptr<std::atomic<std::int64_t>[]>> times_;  // steady clock ticks
  std::unique_ptr<line::TPgConnection> conn_;
  std::vector<double> lagsMs_;
  std::thread thread_;
};

// Commits `count` jobs per station while the stations push, and prints the lags.
bool MeasureLag(std::vector<TStation>& stations, const std::string& conninfo, int done, int count,
                int paceMs, const char* what) {
  TLagProbe probe(stations, conninfo, done + 1, count);
  const auto start = TClock::now();
  if (!RunJobs(stations, done, count, paceMs, [&](int s, std::int64_t id, TClock::time_point at) {
        probe.Committed(s, id, at);
      })) {
    return false;
  }
  const std::vector<double> lags = probe.Finish();
  const double seconds = Seconds(TClock::now() - start);
  if (lags.size() != static_cast<std::size_t>(count) * kStations) {
    std::fprintf(stderr, "lag: %zu of %d jobs seen on the line\n", lags.size(), count * kStations);
    return false;
  }
  std::printf("lag, %s: %d jobs in %.1f s (%.0f jobs/s)\n", what, count * kStations, seconds,
              count * kStations / seconds);
  std::printf("  commit -> on the line   median %7.1f ms   p95 %7.1f ms   max %7.1f ms\n",
              Percentile(lags, 0.5), Percentile(lags, 0.95), Percentile(lags, 1.0));
  return true;
}

long long SqlNumber(const testing::TPgServer& server, const std::string& sql) {
  std::string error;
  const auto rows = server.Sql(sql, "postgres", &error);
  if (!rows || rows->empty()) {
    std::fprintf(stderr, "%s: %s\n", sql.c_str(), error.c_str());
    return -1;
  }
  return std::atoll((*rows)[0][0].c_str());
}

void PrintSize(const testing::TPgServer& server) {
  const long long jobs = SqlNumber(server, "SELECT count(*) FROM line.jobs");
  std::printf("line database size, %lld jobs (each with its backup and closing):\n", jobs);
  long long total = 0;
  for (const char* table : {"line.backups", "line.closings", "line.jobs"}) {
    const long long bytes =
        SqlNumber(server, std::string("SELECT pg_total_relation_size('") + table + "')");
    total += bytes;
    std::printf("  %-14s %8.1f MiB   %8.0f bytes per job\n", table, bytes / 1048576.0,
                static_cast<double>(bytes) / static_cast<double>(jobs));
  }
  std::printf("  %-14s %8.1f MiB   %8.0f bytes per job (NV records alone: %zu bytes raw)\n",
              "together", total / 1048576.0, static_cast<double>(total) / static_cast<double>(jobs),
              kNvRecords * TNvRecord{}.bytes.size());
}

bool MeasureHistory(const testing::TPgServer& server, const std::string& conninfo,
                    long long total) {
  const long long pushed = SqlNumber(server, "SELECT count(*) FROM line.jobs");
  const long long made = total - pushed;
  if (made > 0) {
    const auto start = TClock::now();
    std::string error;
    const std::string sql =
        "INSERT INTO line.stations (station_id, name) VALUES "
        "('00000000-0000-4000-8000-000000000001', 'history');"
        "INSERT INTO line.jobs SELECT '00000000-0000-4000-8000-000000000001', g, t.received_at, "
        "t.kind, g % 8, 'usb1-1.' || g % 8, 10 + g % 8, 20 + g % 8, 10 + g % 8, 20 + g % 8, "
        "t.version_before, t.version_after, t.image_tag, t.image_sha256, d.sn, d.meid, "
        "t.tflag_before, d.sn, d.meid, t.tflag_after, t.nv_backed_up, t.nv_differ, t.at_differ, "
        "t.identity_verified, t.steps, t.pass, t.failure, t.cause, NULL, "
        "to_char(timestamp '2023-01-01' + g * interval '20 seconds', 'YYYY-MM-DD HH24:MI:SS.MS'), "
        "to_char(timestamp '2023-01-01' + g * interval '20 seconds' + interval '70 seconds', "
        "'YYYY-MM-DD HH24:MI:SS.MS'), t.elapsed_ms "
        "FROM (SELECT * FROM line.jobs LIMIT 1) t, generate_series(1, " +
        std::to_string(made) + ") g, LATERAL (SELECT convert_to('VX74' || lpad((g % " +
        std::to_string(kHistoryDevices) +
        ")::text, 8, '0'), 'UTF8') AS sn, convert_to('A1009' || lpad((g % " +
        std::to_string(kHistoryDevices) +
        ")::text, 9, '0'), 'UTF8') AS meid) d;"
        "ANALYZE line.jobs";
    if (!server.Sql(sql, "postgres", &error)) {
      std::fprintf(stderr, "history: %s\n", error.c_str());
      return false;
    }
    std::printf("history: %lld jobs made on the server in %.1f s\n", made,
                Seconds(TClock::now() - start));
  }
  std::string error;
  const auto conn = line::TPgConnection::Connect(conninfo, &error);
  if (!conn) {
    std::fprintf(stderr, "history: %s\n", error.c_str());
    return false;
  }
  std::mt19937 random(74);
  std::vector<double> ms;
  std::size_t rows = 0;
  for (int q = 0; q <= kHistoryQueries; ++q) {
    char serial[32];
    std::snprintf(serial, sizeof serial, "VX74%08d",
                  static_cast<int>(random() % static_cast<unsigned>(kHistoryDevices)));
    line::TLineHistoryFilter filter;
    filter.serial = serial;
    const auto start = TClock::now();
    const auto jobs = line::LineHistory(*conn, filter, &error);
    const double took = std::chrono::duration<double, std::milli>(TClock::now() - start).count();
    if (!jobs) {
      std::fprintf(stderr, "history: %s\n", error.c_str());
      return false;
    }
    if (q == 0) continue;  // the first one warms the connection up
    ms.push_back(took);
    rows += jobs->size();
  }
  const long long lineJobs = SqlNumber(server, "SELECT count(*) FROM line.jobs");
  std::printf("line history by serial, %lld jobs on the line, %d serials (%.2f jobs each):\n",
              lineJobs, kHistoryQueries, static_cast<double>(rows) / kHistoryQueries);
  std::printf("  LineHistory(serial)     median %7.2f ms   p95 %7.2f ms   max %7.2f ms\n",
              Percentile(ms, 0.5), Percentile(ms, 0.95), Percentile(ms, 1.0));
  return true;
}

// Runs the batch benchmark beside this program and prints the lines of its figures.
bool RunBatchBench(const std::vector<std::string>& extra, const char* what) {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  std::vector<std::string> args = {(self.parent_path() / "batch_bench").string()};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (failed != 0) {
    ::close(out[0]);
    std::fprintf(stderr, "cannot start %s\n", argv[0]);
    return false;
  }
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  std::printf("batch, %s:\n", what);
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    for (const char* key :
         {"batch of", "jobs:", "wall time", "floor  ", "ratio", "station CPU", "line records"}) {
      if (line.starts_with(key)) std::printf("  %s\n", line.c_str());
    }
    at = end + 1;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int Run(const TOptions& options) {
  std::string error;
  const auto server = testing::TPgServer::Start({}, &error);
  if (!server) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const auto admin = line::TPgConnection::Connect(server->AdminConnInfo(), &error);
  line::TLineInitReport report;
  if (!admin || !line::InitLine(*admin, &report, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  // The line ties every station to a login of its own; the last one reads the line and pushes
  // the batch benchmark's station.
  std::vector<std::pair<std::string, std::string>> logins;
  for (int i = 0; i <= kStations; ++i) {
    logins.emplace_back("station" + std::to_string(i), "bench");
    if (!server->Sql(
            "CREATE ROLE " + logins.back().first + " LOGIN PASSWORD 'bench' IN ROLE vornex_station",
            "postgres", &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  }
  const std::string passFile = server->WritePassFile(logins);
  const auto connInfoOf = [&](int i) {
    return server->ConnInfo(logins[static_cast<std::size_t>(i)].first, "postgres", passFile);
  };
  const std::string conninfo = connInfoOf(kStations);

  std::vector<TStation> stations(kStations);
  int status = 0;
  for (TStation& station : stations) {
    std::string folder = paths::TempFolder() + "vornex-line-bench-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) return 1;
    station.folder = folder;
    station.store = TStationStore::Open(folder, &error);
    if (!station.store) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  }
  std::printf(
      "line records: %d stations, one PostgreSQL 15 server on the loopback, %zu NV "
      "records per backup\n\n",
      kStations, kNvRecords);

  const int jobs = kStations * options.jobs;
  auto start = TClock::now();
  if (!RunJobs(stations, 0, options.jobs, 0, nullptr)) return 1;
  std::printf("outboxes filled: %d jobs committed on the stations in %.1f s (%.0f jobs/s)\n", jobs,
              Seconds(TClock::now() - start), jobs / Seconds(TClock::now() - start));
  start = TClock::now();
  for (std::size_t i = 0; i < stations.size(); ++i) {
    stations[i].pusher = std::make_unique<line::TLinePusher>(
        *stations[i].store, connInfoOf(static_cast<int>(i)), "bench-" + std::to_string(i), nullptr);
  }
  while (!OutboxesEmpty(stations)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const double pushSeconds = Seconds(TClock::now() - start);
  std::printf(
      "push throughput: %d jobs (%d records) on the line in %.1f s: %.0f jobs/s, %.0f "
      "records/s\n\n",
      jobs, 3 * jobs, pushSeconds, jobs / pushSeconds, 3 * jobs / pushSeconds);

  if (!MeasureLag(stations, conninfo, options.jobs, options.jobs, 0,
                  "jobs committed as fast as the records take them") ||
      !MeasureLag(
          stations, conninfo, 2 * options.jobs, options.pacedJobs, options.paceMs,
          ("one job per station every " + std::to_string(options.paceMs) + " ms").c_str())) {
    status = 1;
  }
  std::printf("\n");
  for (TStation& station : stations) station.pusher.reset();
  PrintSize(*server);
  std::printf("\n");
  if (status == 0 && !MeasureHistory(*server, conninfo, options.historyJobs)) status = 1;

  stations.clear();
  if (status == 0 && options.batch) {
    std::printf("\n");
    if (!RunBatchBench({}, "no line") || !RunBatchBench({"--line", conninfo}, "line connected")) {
      status = 1;
    }
  }
  return status;
}

bool ParseOptions(int argc, char** argv, TOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--no-batch") {
      options->batch = false;
      continue;
    }
    if (i + 1 >= argc) return false;
    const long long value = std::atoll(argv[++i]);
    if (value < 1) return false;
    if (arg == "--jobs") {
      options->jobs = static_cast<int>(value);
    } else if (arg == "--paced-jobs") {
      options->pacedJobs = static_cast<int>(value);
    } else if (arg == "--pace-ms") {
      options->paceMs = static_cast<int>(value);
    } else if (arg == "--history-jobs") {
      options->historyJobs = value;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace
}  // namespace vornex

int main(int argc, char** argv) {
  vornex::TOptions options;
  if (!vornex::ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: line_bench [--jobs N] [--paced-jobs N] [--pace-ms N] [--history-jobs N]\n"
                 "                  [--no-batch]\n");
    return 2;
  }
  return vornex::Run(options);
}
