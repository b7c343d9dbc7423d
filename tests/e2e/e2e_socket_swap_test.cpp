// The next device in a failed device's USB socket is another device: whatever the first one's
// failure and whatever the image set keeps, the next one never ends with the first one's serial
// number, MEID, test flag or NV items, and passes only with its own identity; the first one's
// backup stays open meanwhile. Put back, the first device is restored from that backup.
#include <gtest/gtest.h>

#include <map>

#include "sim/nv_catalog.h"
#include "station_harness.h"

namespace vornex::e2e {
namespace {

// The first device's failure; its backup stays open unless it passes all the same.
struct Failure {
  const char* name;
  void (*set)(sim::TDeviceFaults&);
  bool needsAt;  // a failure only when the image set keeps the AT values
  bool needsNv;  // ... the NV items
  bool passes;
  bool blanks;  // it is left answering no serial number or MEID
};

const Failure kFailures[] = {
    {"not found after its reset", [](auto& f) { f.noReturn = true; }, false, false, false, true},
    {"AT writes fail", [](auto& f) { f.atWritesFail = true; }, true, false, false, true},
    {"NV write fails", [](auto& f) { f.nvWriteFailItems = {524}; }, false, true, false, false},
    {"reset refused", [](auto& f) { f.errorReportOnReset = true; }, false, false, false, true},
    {"unplugged mid-stream", [](auto& f) { f.unplugAfterBytes = 8192; }, false, false, false,
     false},
    {"reset acknowledge damaged", [](auto& f) { f.damagedResetReply = true; }, false, false, true,
     false},
};

// The next device put into the socket.
enum Next { kNormal, kModemHeld, kBlank, kDownloadMode, kNextKinds };
const char* const kNextNames[] = {"normal device", "modem port held",
                                  "blank serial number and MEID", "in download mode"};

// How the rules end the next device's job.
enum class End { kPass, kUntouched, kFlashedNotRestored };
End ExpectedEnd(Next next, bool firstOpen, bool at, bool nv) {
  if (next == kNormal) return End::kPass;
  if (next == kModemHeld) return End::kUntouched;
  if (next == kBlank) return at ? End::kUntouched : End::kPass;  // "blank identity" needs AT
  // In download mode: finished without any backup when the image set keeps nothing.
  if (!at && !nv) return End::kPass;
  return firstOpen ? End::kFlashedNotRestored : End::kUntouched;
}

// What the image set keeps of a device, as its report shows it.
std::string Kept(const sim::TDeviceReport& device, bool at, bool nv) {
  const sim::TIdentity& id = device.identity;
  return (at ? id.serialNumber + "/" + id.meid + "/" + id.testFlag : "") + "/" +
         (nv ? device.nvDigest : "");
}

struct Row {
  const Failure* failure;
  Next next;
};

class SocketSwapTest : public StationTest {
 protected:
  // Every meaningful row of one item combination, up to eight sockets per batch.
  void RunGroup(bool at, bool nv) {
    images_ = WriteImageFolder(root_.File("images-" + std::to_string(at * 2 + nv)), at, nv);
    std::vector<Row> rows;
    for (const Failure& failure : kFailures) {
      if ((failure.needsAt && !at) || (failure.needsNv && !nv)) continue;
      for (int next = 0; next < kNextKinds; ++next) rows.push_back({&failure, Next(next)});
    }
    for (std::size_t from = 0; from < rows.size(); from += kSlotCount) {
      const auto batch = rows.begin() + static_cast<std::ptrdiff_t>(from);
      RunBatch({batch, batch + std::min<std::ptrdiff_t>(kSlotCount, rows.end() - batch)}, at, nv,
               "records-" + std::to_string(from));
    }
  }

  void RunBatch(const std::vector<Row>& rows, bool at, bool nv, const std::string& records);

  const TJobSummary& JobOf(const sim::TDeviceReport& device) {
    static const TJobSummary kNone;
    const int slot = station_->SlotShowing(device.diagCom);
    EXPECT_GE(slot, 0) << "socket " << device.index << " is not listed";
    return slot >= 0 && station_->Summary(slot) ? *station_->Summary(slot) : kNone;
  }
  bool Open(std::int64_t backupId) {
    std::string error;
    const auto backup = station_->Store()->LoadBackup(backupId, &error);
    EXPECT_TRUE(backup.has_value()) << "backup " << backupId << ": " << error;
    return backup && backup->open;
  }
};

void SocketSwapTest::RunBatch(const std::vector<Row>& rows, bool at, bool nv,
                              const std::string& records) {
  station_.reset();
  bench_.reset();  // before the next bench takes over the folder
  const int count = static_cast<int>(rows.size());
  std::vector<sim::TDeviceConfig> devices(rows.size());
  for (int i = 0; i < count; ++i) rows[i].failure->set(devices[i].faults);
  sim::TSimBench& bench = StartBench(devices);
  const std::vector<sim::TDeviceReport> first = bench.Reports();
  std::vector<std::map<std::uint16_t, sim::TNvData>> firstNv(rows.size());
  for (int i = 0; i < count; ++i) {
    for (const std::uint16_t item : sim::FactoryNvItems())
      firstNv[i][item] = *bench.NvItem(i, item);
  }
  Station& station = StartStation(root_.File(records), true);
  const auto trace = [&](int i) {
    return std::string(rows[i].failure->name) + ", then " + kNextNames[rows[i].next];
  };

  // The first devices, each with its failure.
  ASSERT_EQ(station.Check().count, count);
  station.RunBatch();
  std::vector<std::int64_t> firstBackup;
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(trace(i));
    const TJobSummary& job = JobOf(first[i]);
    EXPECT_EQ(job.pass, rows[i].failure->passes) << job.failure;
    ASSERT_GT(job.backupId, 0);
    firstBackup.push_back(job.backupId);
  }

  // The next devices in the same sockets.
  for (int i = 0; i < count; ++i) {
    sim::TNewcomer device;
    device.config.faults.modemBusy = rows[i].next == kModemHeld;
    device.blankIdentity = rows[i].next == kBlank;
    device.firmwareErased = rows[i].next == kDownloadMode;
    ASSERT_TRUE(bench.Swap(i, device));
  }
  const std::vector<sim::TDeviceReport> next = bench.Reports();
  ASSERT_EQ(station.Check().count, count);
  station.RunBatch();
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(trace(i));
    const bool firstOpen = !rows[i].failure->passes;
    const TJobSummary& job = JobOf(next[i]);
    const sim::TDeviceReport now = bench.Report(i);
    EXPECT_NE(now.identity.serialNumber, first[i].identity.serialNumber);
    EXPECT_NE(now.identity.meid, first[i].identity.meid);
    EXPECT_NE(now.identity.testFlag, first[i].identity.testFlag);
    int sharedItems = 0;
    for (const auto& [item, data] : firstNv[i]) sharedItems += bench.NvItem(i, item) == data;
    EXPECT_EQ(sharedItems, 0);
    EXPECT_EQ(Open(firstBackup[i]), firstOpen);
    const End end = ExpectedEnd(rows[i].next, firstOpen, at, nv);
    EXPECT_EQ(job.pass, end == End::kPass) << job.failure << ": " << job.cause;
    if (end == End::kPass) {
      EXPECT_NE(job.backupId, firstBackup[i]);
      EXPECT_EQ(Kept(now, at, nv), Kept(next[i], at, nv));
    } else if (end == End::kUntouched) {
      ExpectUntouched(next[i], now);
    } else {
      EXPECT_EQ(now.flashSha256, images_.sha256);
      EXPECT_NE(job.cause.find("vornex restore " + std::to_string(firstBackup[i])),
                std::string::npos);
    }
    if (rows[i].next == kModemHeld) {
      EXPECT_NE(job.cause.find("COM" + std::to_string(next[i].modemCom) + " is held"),
                std::string::npos);
    } else if (rows[i].next == kBlank && at) {
      EXPECT_EQ(job.failure, "Identity blank, not flashed: put it back with vornex restore");
    }
  }

  // The first devices back, healthy: each restored from its own backup, unless it was left blank
  // and its backup holds no NV items to show whose it is (then it is another blank device).
  for (int i = 0; i < count; ++i) {
    ASSERT_TRUE(bench.Swap(i, std::nullopt));
    bench.ClearFaults(i);
  }
  const std::vector<sim::TDeviceReport> back = bench.Reports();
  ASSERT_EQ(station.Check().count, count);
  station.RunBatch();
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(trace(i));
    const TJobSummary& job = JobOf(first[i]);
    const sim::TDeviceReport now = bench.Report(i);
    const bool shown = !rows[i].failure->blanks || nv;
    EXPECT_EQ(job.pass, shown || !at) << job.failure << ": " << job.cause;
    EXPECT_EQ(Open(firstBackup[i]), !shown);
    if (shown) {
      EXPECT_EQ(Kept(now, at, nv), Kept(first[i], at, nv));
    } else if (at) {
      ExpectUntouched(back[i], now);
    }
  }
}

TEST_F(SocketSwapTest, AtValuesAndNvItemsKept) {
  RunGroup(true, true);
}
TEST_F(SocketSwapTest, AtValuesKept) {
  RunGroup(true, false);
}
TEST_F(SocketSwapTest, NvItemsKept) {
  RunGroup(false, true);
}
TEST_F(SocketSwapTest, NothingKept) {
  RunGroup(false, false);
}

}  // namespace
}  // namespace vornex::e2e
