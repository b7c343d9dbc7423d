// Whole runs of the station on healthy simulated devices: a full panel of eight flashed in
// parallel, and the station cycle of a second batch once the first devices were taken away; and
// the terminal front-end's account of a device that failed.
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <sstream>

#include "console/headless/headless_station.h"
#include "download/worker.h"
#include "station_harness.h"

namespace vornex::e2e {
namespace {

using SecondBatchTest = StationTest;
using FullPanelTest = StationTest;
using TerminalRunTest = StationTest;

TEST_F(FullPanelTest, EightDevicesPassInParallelAndKeepTheirIdentity) {
  sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(8));
  const std::vector<sim::TDeviceReport> before = bench.Reports();
  Station& station = StartStation();

  const TDeviceTable table = station.Check();
  ASSERT_EQ(table.count, 8);
  std::set<int> shown;
  std::array<int, 8> slotOf{};
  for (const sim::TDeviceReport& device : before) {
    const int slot = station.SlotShowing(device.diagCom);
    ASSERT_GE(slot, 0) << "device " << device.index << " is not listed";
    shown.insert(slot);
    slotOf[static_cast<std::size_t>(device.index)] = slot;
    EXPECT_EQ(station.Console().Slot(slot).state, SlotState::kReady);
    EXPECT_EQ(table.entries[static_cast<std::size_t>(slot)].busy, 0);
  }
  EXPECT_EQ(shown.size(), 8u);
  ASSERT_TRUE(station.Console().StartEnabled());

  const TDownloadCnf answer = station.RunBatch();
  EXPECT_FALSE(station.Console().StartEnabled());
  for (int slot = 0; slot < kSlotCount; ++slot) {
    SCOPED_TRACE("slot " + std::string(1, static_cast<char>('A' + slot)));
    EXPECT_EQ(answer.started[static_cast<std::size_t>(slot)], 1);
    ExpectPassedJob(station.Reports(slot));
    EXPECT_EQ(station.Console().Slot(slot).state, SlotState::kPass);
    EXPECT_EQ(station.View().slots[static_cast<std::size_t>(slot)].result, "PASS");
    EXPECT_EQ(station.View().slots[static_cast<std::size_t>(slot)].progress, 1000);
  }
  EXPECT_EQ(g_nDownLoadCount.load(), 0);

  for (const sim::TDeviceReport& device : before) {
    ExpectRewrittenKeepingIdentity(device, bench.Report(device.index), images_);
  }
  // Each slot flashed its own device: the identity that its backup read is the one it shows.
  for (const sim::TDeviceReport& device : before) {
    const SlotReports& reports = station.Reports(slotOf[static_cast<std::size_t>(device.index)]);
    const std::string& serial = device.identity.serialNumber;
    EXPECT_TRUE(Has(reports, CNF_INFO,
                    "Backup AT SN [" + std::to_string(serial.size()) + "]-[" + serial + "]"));
    EXPECT_TRUE(Has(reports, CNF_INFO, "Restore AT SN [1] <AT+NEWSN=" + serial + ">"));
  }
}

// Start comes back only once the panel has been empty: removing one finished device and putting
// it back does not re-arm it, removing all of them does, and the second batch passes.
TEST_F(SecondBatchTest, StartReturnsOnlyAfterThePanelEmptiedAndTheSecondBatchPasses) {
  sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(3));
  const std::vector<sim::TDeviceReport> factory = bench.Reports();
  Station& station = StartStation();

  ASSERT_EQ(station.Check().count, 3);
  ASSERT_TRUE(station.Console().StartEnabled());
  station.RunBatch();
  for (int slot = 0; slot < 3; ++slot) EXPECT_EQ(Verdict(station.Reports(slot)), CNF_PASS);
  EXPECT_FALSE(station.Console().StartEnabled());

  // One device taken away: the others move up, the last slot empties, Start stays off.
  bench.Unplug(0);
  ASSERT_TRUE(WaitPresent(0, false));
  EXPECT_EQ(station.Check().count, 2);
  EXPECT_EQ(station.SlotShowing(bench.Report(1).diagCom), 0);
  EXPECT_EQ(station.SlotShowing(bench.Report(2).diagCom), 1);
  EXPECT_EQ(station.Console().Slot(2).state, SlotState::kEmpty);
  EXPECT_EQ(station.View().slots[2].port, "( null )");
  EXPECT_FALSE(station.Console().StartEnabled());

  // Back again: the panel never emptied, so Start is still off.
  bench.Replug(0);
  ASSERT_TRUE(WaitPresent(0, true));
  EXPECT_EQ(station.Check().count, 3);
  EXPECT_FALSE(station.Console().StartEnabled());

  // All removed: the panel empties (Start stays off but is armed) ...
  for (int index = 0; index < 3; ++index) bench.Unplug(index);
  for (int index = 0; index < 3; ++index) ASSERT_TRUE(WaitPresent(index, false));
  EXPECT_EQ(station.Check().count, 0);
  for (int slot = 0; slot < kSlotCount; ++slot) {
    EXPECT_EQ(station.Console().Slot(slot).state, SlotState::kEmpty);
  }
  EXPECT_FALSE(station.Console().StartEnabled());

  // ... and the next devices inserted enable it.
  for (int index = 0; index < 3; ++index) bench.Replug(index);
  for (int index = 0; index < 3; ++index) ASSERT_TRUE(WaitPresent(index, true));
  const TDeviceTable table = station.Check();
  ASSERT_EQ(table.count, 3);
  for (int slot = 0; slot < 3; ++slot) {
    EXPECT_EQ(station.Console().Slot(slot).state, SlotState::kReady);
  }
  ASSERT_TRUE(station.Console().StartEnabled());

  const TDownloadCnf answer = station.RunBatch();
  for (int slot = 0; slot < 3; ++slot) {
    SCOPED_TRACE("second batch, slot " + std::string(1, static_cast<char>('A' + slot)));
    EXPECT_EQ(answer.started[static_cast<std::size_t>(slot)], 1);
    ExpectPassedJob(station.Reports(slot));
    // The devices already run the image's version: equal versions pass the check.
    EXPECT_TRUE(Has(station.Reports(slot), CNF_INFO, std::string("currV = ") + kImageTag));
  }
  for (const sim::TDeviceReport& device : factory) {
    sim::TDeviceReport once = device;
    once.flashCount += 1;  // the first batch
    ExpectRewrittenKeepingIdentity(once, bench.Report(device.index), images_);
  }
}

// The terminal front-end on a device that is not found again after its reset: its slot line ends
// FAILED with the reason, and the run ends with its open backup and how to finish it.
TEST_F(TerminalRunTest, AFailedSlotLineCarriesItsReasonAndTheRunEndsWithWhatIsLeft) {
  sim::TDeviceConfig lost;
  lost.faults.noReturn = true;
  sim::TSimBench& bench = StartBench({lost});
  TRunOptions options;
  options.frontEnd = TFrontEnd::kHeadless;
  options.bench = bench.Folder();
  options.imageFolder = images_.folder;
  options.dataFolder = root_.File("records");
  options.settingsPath = root_.File("Vornex_730.ini");
  testing::WriteFile(options.settingsPath, "[Config]\r\nPathNumber=1\r\n");
  options.timeScale = kTimeScale;
  options.autostart = 1;
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_NE(RunHeadless(options, out, err), 0) << err.str();

  const std::string text = out.str();
  EXPECT_NE(text.find(" FAILED  Can Not Find Device Again ! (no ports of device "),
            std::string::npos)
      << text;
  const std::size_t left = text.find(
      "\n1 identity backup(s) open (ids 1): Start again finishes those devices when they are "
      "attached, or vornex restore ID --data " +
      options.dataFolder + " --bench " + options.bench + " --settings " + options.settingsPath +
      " puts one back.\n");
  ASSERT_NE(left, std::string::npos) << text;
  EXPECT_LT(text.find("\nDevices: "), left) << text;  // after the count
}

}  // namespace
}  // namespace vornex::e2e
