// The station records failing right after a job's identity backup was committed: their disk
// full (a small file system of their own, filled for real) or the records deleted. The device is
// still rewritten with its identity back, but the job's account, its JSON line, the end of the
// run and its exit status say what the records lack: never a silent PASS.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>
#include <utility>

#include "console/job_report.h"
#include "station_harness.h"

namespace vornex::e2e {
namespace {

// The records of the case, the station's connection to them and the fault to do on the worker's
// thread once the next commit is written. Touched only while the station is idle or by the hook.
std::string g_trapPath;
sqlite3* g_trapDb = nullptr;
std::function<void()> g_trapFault;

int TrapConnection(sqlite3* db, const char**, const sqlite3_api_routines*) {
  const char* file = sqlite3_db_filename(db, "main");
  if (file != nullptr && g_trapPath == file) g_trapDb = db;
  return SQLITE_OK;
}

int AfterCommit(void*, sqlite3*, const char*, int) {
  if (g_trapFault) std::exchange(g_trapFault, nullptr)();
  return SQLITE_OK;
}

class RecordsFaultTest : public StationTest {
 protected:
  // One job on device 0 with its records in `records`; `fault` comes after its backup's commit
  // (the first commit once the opening's are done). The commit hook takes the place of the
  // automatic checkpoint, which this short run does not need.
  void Run(const std::string& records, std::function<void()> fault) {
    g_trapPath = records + "/" + kStoreFileName;
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(&TrapConnection));
    TStationSetup setup;
    setup.run.settings.autoPath = false;
    setup.run.settings.imagePath = images_.folder;
    setup.run.plan = {1, 0};
    setup.dataFolder = records;
    testing::FakeView view;
    TConfirmationQueue target;
    TStationCore core(std::move(setup), view, target, [](const std::string&) {});
    sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&TrapConnection));
    ASSERT_NE(g_trapDb, nullptr) << core.StartNotice();
    g_trapFault = std::move(fault);
    sqlite3_wal_hook(std::exchange(g_trapDb, nullptr), &AfterCommit, nullptr);
    const TRunDriver& driver = core.Driver();
    core.Begin();
    const auto limit = std::chrono::steady_clock::now() + kBatchLimit;
    while (!driver.Over() && std::chrono::steady_clock::now() < limit) {
      if (auto next = target.TakeUntil(pacing::TClock::now() + pacing::Scaled(kDriverTickMs))) {
        core.Confirm(next->code, std::move(next->record));
      }
      core.Tick();
    }
    ASSERT_TRUE(driver.JobEnd(0).has_value()) << "the job did not end";
    job_ = *driver.JobEnd(0);
    status_ = driver.ExitStatus();
    report_ = driver.Report();
  }

  TJobSummary job_;
  int status_ = -1;
  std::string report_;
};

TEST_F(RecordsFaultTest, ADiskFullOrRecordsDeletedAfterTheBackupEndTheRunWithRecordsShort) {
  const struct {
    const char* name;
    bool smallDisk;  // else the records are deleted
    std::string note;
  } cases[] = {
      {"disk full", true,
       "Station records incomplete: job record and closing of backup 1 not kept (cannot close "
       "the backup: database or disk is full"},
      {"records deleted", false,
       "Station records lost: job record and closing of backup 1 not kept (station records "},
  };
  sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(1));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string records = root_.File(std::string("records-") + c.name);
    std::filesystem::create_directories(records);
    if (c.smallDisk && ::mount("tmpfs", records.c_str(), "tmpfs", 0, "size=8m") != 0) {
      std::cout << "[ SKIPPED  ] " << c.name << ": no file system of its own for the records ("
                << std::strerror(errno) << ")\n";
      continue;
    }
    const sim::TDeviceReport before = bench.Report(0);
    Run(records, [&] {
      if (!c.smallDisk) {
        for (const char* end : {"", "-wal", "-shm"}) std::filesystem::remove(g_trapPath + end);
        return;
      }
      const int fd = ::open((records + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
      static const char kZeros[64 * 1024] = {};
      while (fd >= 0 && ::write(fd, kZeros, sizeof kZeros) > 0) {
      }
      EXPECT_EQ(errno, ENOSPC);
      ::close(fd);
    });
    if (c.smallDisk) ::umount2(records.c_str(), MNT_DETACH);
    EXPECT_TRUE(job_.pass) << job_.failure;
    ExpectRewrittenKeepingIdentity(before, bench.Report(0), images_);
    EXPECT_TRUE(job_.notKept.job && job_.notKept.closing);
    EXPECT_EQ(job_.notKept.lost, !c.smallDisk);
    EXPECT_EQ(status_, exit_status::kUnavailable);
    EXPECT_NE(report_.find("\nJob A: " + c.note), std::string::npos) << report_;
    EXPECT_NE(JobJson(job_).find(",\"records_kept\":false,\"records_note\":\"" + c.note),
              std::string::npos);
  }
  // The identity whose closing was not kept has a copy beside the records.
  EXPECT_FALSE(DataInfoFiles(workFolder_).empty());
}

}  // namespace
}  // namespace vornex::e2e
