// Start pressed again after a run that did not finish its devices: the open backup in the
// station records, not what the device answers now, is its identity. A device whose restore
// failed is never backed up again and passed with what is left of its identity; a blank device
// is refused untouched; older backups that the device was verified to hold are closed.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "station_harness.h"

namespace vornex::e2e {
namespace {

using SecondTryTest = StationTest;

// The job of a device in the station's last batch.
const TJobSummary& JobOf(Station& station, const sim::TDeviceReport& device) {
  const int slot = station.SlotShowing(device.diagCom);
  EXPECT_GE(slot, 0) << "device " << device.index << " is not listed";
  const std::optional<TJobSummary>& job = station.Summary(slot < 0 ? 0 : slot);
  EXPECT_TRUE(job.has_value()) << "device " << device.index;
  static const TJobSummary kNone;
  return job ? *job : kNone;
}

std::size_t OpenBackupCount(Station& station) {
  std::string error;
  const auto open = station.Store()->OpenBackups(&error);
  EXPECT_TRUE(open.has_value()) << error;
  return open ? open->size() : 0;
}

// A restore that fails the first time fails the second time too, from the same backup: the
// blank or half-restored identity left on the device is never backed up and passed.
TEST_F(SecondTryTest, AFailedRestoreIsTriedAgainFromItsBackupAndNeverPassesBlank) {
  const std::vector<std::function<void(sim::TDeviceFaults&)>> faults = {
      [](auto& f) { f.atWritesFail = true; },
      [](auto& f) { f.nvWriteFailItems = {524}; },
      [](auto& f) { f.nvStuckItems = {856}; },
  };
  std::vector<sim::TDeviceConfig> devices(faults.size());
  for (std::size_t i = 0; i < faults.size(); ++i) faults[i](devices[i].faults);
  sim::TSimBench& bench = StartBench(devices);
  const std::vector<sim::TDeviceReport> before = bench.Reports();
  Station& station = StartStation();
  ASSERT_EQ(station.Check().count, 3);

  std::vector<std::int64_t> firstBackups;
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run + 1));
    if (run > 0) {
      ASSERT_EQ(station.Check().count, 3);
    }
    station.RunBatch();
    for (const sim::TDeviceReport& was : before) {
      SCOPED_TRACE("device " + std::to_string(was.index));
      const TJobSummary& job = JobOf(station, was);
      EXPECT_FALSE(job.pass);
      EXPECT_EQ(job.failure.rfind("Identity not restored", 0), 0u) << job.failure;
      // The backup of the first run is the one every later run restores from.
      if (run == 0) firstBackups.push_back(job.backupId);
      EXPECT_EQ(job.backupId, firstBackups[static_cast<std::size_t>(was.index)]);
      EXPECT_EQ(job.identityBefore.slots[kSlotSn], was.identity.serialNumber);
    }
    EXPECT_EQ(OpenBackupCount(station), 3u);
  }
  // Only the first run rewrote the devices; the second one had nothing left to flash.
  for (const sim::TDeviceReport& was : before) EXPECT_EQ(bench.Report(was.index).flashCount, 1u);
}

// A device whose identity reads blank and that has no open backup here is refused before it is
// touched, unless the station is set to flash blank devices.
TEST_F(SecondTryTest, ABlankDeviceIsRefusedUntouchedUnlessTheStationFlashesBlankDevices) {
  sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(1));
  // A rewrite without identity backup leaves the device blank, as an unfinished one would be.
  images_ = WriteImageFolder(root_.File("bare-images"), false, false);
  Station& bare = StartStation(root_.File("bare-records"), true);
  ASSERT_EQ(bare.Check().count, 1);
  bare.RunBatch();
  const sim::TDeviceReport blank = bench.Report(0);
  ASSERT_EQ(blank.identity.serialNumber, "");
  ASSERT_EQ(blank.flashCount, 1u);

  images_ = WriteImageFolder(root_.File("images"), true, true);
  for (const bool flashBlank : {false, true}) {
    SCOPED_TRACE(flashBlank ? "FlashBlankDevices=ON" : "default");
    Station& station = StartStation();
    station.Coordinator().SetRecordStore(station.Store(), true, flashBlank);
    ASSERT_EQ(station.Check().count, 1);
    station.RunBatch();
    const TJobSummary& job = JobOf(station, blank);
    EXPECT_EQ(job.pass, flashBlank) << job.failure;
    if (!flashBlank) {
      EXPECT_EQ(job.failure, "Identity blank, not flashed: put it back with vornex restore");
      EXPECT_NE(job.cause.find("vornex restore"), std::string::npos) << job.cause;
      EXPECT_EQ(job.backupId, 0);
      EXPECT_EQ(bench.Report(0).flashCount, blank.flashCount);
    }
  }
}

// Open backups that name the device decide its next job; the newest one is restored, and older
// ones holding the same values are closed as superseded by the job that verified them.
TEST_F(SecondTryTest, TheNewestOpenBackupDecidesAndEqualOlderOnesAreSuperseded) {
  sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(1));
  const sim::TDeviceReport original = bench.Report(0);
  Station& station = StartStation();
  ASSERT_EQ(station.Check().count, 1);
  station.RunBatch();
  const TJobSummary& first = JobOf(station, original);
  ASSERT_TRUE(first.pass) << first.failure;
  const sim::TDeviceReport flashed = bench.Report(0);

  // Two snapshots of the device left open, as jobs stopped before download mode leave them;
  // the newer one as if taken before any image, so that the device is flashed again.
  std::string error;
  std::optional<TIdentityBackup> snapshot = station.Store()->LoadBackup(first.backupId, &error);
  ASSERT_TRUE(snapshot.has_value()) << error;
  const std::int64_t older = station.Store()->CommitBackup(*snapshot, &error);
  snapshot->firmwareVersion = kImageTag;
  const std::int64_t newer = station.Store()->CommitBackup(*snapshot, &error);
  ASSERT_GT(older, 0) << error;
  ASSERT_GT(newer, 0) << error;

  ASSERT_EQ(station.Check().count, 1);
  station.RunBatch();
  const TJobSummary& second = JobOf(station, original);
  ASSERT_TRUE(second.pass) << second.failure;
  EXPECT_EQ(second.backupId, newer);
  ExpectRewrittenKeepingIdentity(flashed, bench.Report(0), images_);
  EXPECT_EQ(OpenBackupCount(station), 0u);
  const auto closed = station.Store()->LoadBackup(older, &error);
  ASSERT_TRUE(closed.has_value()) << error;
  EXPECT_FALSE(closed->open);
}

}  // namespace
}  // namespace vornex::e2e

namespace vornex::e2e {
namespace {

// Records deleted under a running station: Start is refused and no device is touched, since a
// backup committed into the deleted file would be lost with it.
TEST_F(SecondTryTest, RecordsDeletedUnderTheStationRefuseStartUntouched) {
  sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(1));
  const sim::TDeviceReport before = bench.Report(0);
  Station& station = StartStation();
  ASSERT_EQ(station.Check().count, 1);
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::error_code ec;
    std::filesystem::remove(station.Store()->Path() + suffix, ec);
  }
  const TDownloadCnf answer = station.RunBatch();
  EXPECT_EQ(answer.refusal.str().rfind("Station records lost: ", 0), 0u) << answer.refusal.str();
  EXPECT_FALSE(station.Summary(0).has_value());
  ExpectUntouched(before, bench.Report(0));
}

}  // namespace
}  // namespace vornex::e2e
