// Whole runs of the station on benches with faulty devices: every fault ends its own slot with
// the right verdict and leaves the device in the state that verdict promises, while the healthy
// devices of the same batch pass.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "station_harness.h"

namespace vornex::e2e {
namespace {

sim::TDeviceConfig With(const std::function<void(sim::TDeviceConfig&)>& set) {
  sim::TDeviceConfig config;
  set(config);
  return config;
}

using FaultBatchTest = StationTest;

// One bench, one fault per device, one batch.
TEST_F(FaultBatchTest, EachFaultEndsItsOwnSlotAndTheHealthyDevicesPass) {
  enum Device {
    kHealthy = 0,
    kNewer = 1,       // firmware newer than the image
    kSilentDiag = 2,  // the diagnostic port never answers
    kNoReturn = 3,    // never comes back after the reset
    kNvFails = 4,     // every NV read fails
    kRefused = 5,     // the boot downloader refuses the programmer's blocks
    kBusy = 6,        // another program holds the diagnostic port
    kRenumbered = 7,  // healthy, back under new COM numbers after the reset
  };
  sim::TSimBench& bench = StartBench({
      sim::TDeviceConfig{},
      With([](auto& c) { c.firmwareVersion = kNewerFirmware; }),
      With([](auto& c) { c.faults.silentDiag = true; }),
      With([](auto& c) { c.faults.noReturn = true; }),
      With([](auto& c) { c.faults.nvReadsFail = true; }),
      With([](auto& c) { c.faults.refuseBlocks = true; }),
      With([](auto& c) { c.faults.diagBusy = true; }),
      With([](auto& c) { c.renumberOnReset = true; }),
  });
  const std::vector<sim::TDeviceReport> before = bench.Reports();
  std::map<std::uint16_t, sim::TNvData> noReturnItems;
  for (std::uint16_t item : {524, 258}) {
    const std::optional<sim::TNvData> data = bench.NvItem(kNoReturn, item);
    ASSERT_TRUE(data.has_value()) << item;
    noReturnItems[item] = *data;
  }
  Station& station = StartStation();

  // The check: the busy port is listed as such and its slot shows BUSY; the others are READY.
  const TDeviceTable table = station.Check();
  ASSERT_EQ(table.count, 8);
  std::array<int, 8> slotOf{};
  for (const sim::TDeviceReport& device : before) {
    const int slot = station.SlotShowing(device.diagCom);
    ASSERT_GE(slot, 0) << "device " << device.index << " is not listed";
    slotOf[static_cast<std::size_t>(device.index)] = slot;
    const std::string& line = table.descriptions[static_cast<std::size_t>(slot)].str();
    const bool busy = device.index == kBusy;
    EXPECT_EQ(table.entries[static_cast<std::size_t>(slot)].busy, busy ? 1 : 0);
    EXPECT_EQ(line.find("com " + std::to_string(device.diagCom) + "(busy),") != std::string::npos,
              busy)
        << line;
    EXPECT_EQ(station.Console().Slot(slot).state, busy ? SlotState::kBusy : SlotState::kReady);
  }
  EXPECT_EQ(station.View().slots[static_cast<std::size_t>(slotOf[kBusy])].status, "BUSY");
  EXPECT_NE(station.View().log.find("(busy)"), std::string::npos);
  // A busy device does not keep Start off: its slot holds a port, so the operator may start.
  ASSERT_TRUE(station.Console().StartEnabled());

  const TDownloadCnf answer = station.RunBatch();
  auto reports = [&](int device) -> const SlotReports& {
    return station.Reports(slotOf[static_cast<std::size_t>(device)]);
  };
  auto after = [&](int device) { return bench.Report(device); };
  // Every listed device got its job, the busy one included.
  for (int device = 0; device < 8; ++device) {
    EXPECT_EQ(answer.started[static_cast<std::size_t>(slotOf[static_cast<std::size_t>(device)])], 1)
        << device;
  }

  {
    SCOPED_TRACE("healthy devices");
    ExpectPassedJob(reports(kHealthy));
    ExpectPassedJob(reports(kRenumbered));
    ExpectRewrittenKeepingIdentity(before[kHealthy], after(kHealthy), images_);
    ExpectRewrittenKeepingIdentity(before[kRenumbered], after(kRenumbered), images_);
    EXPECT_NE(after(kRenumbered).diagCom, before[kRenumbered].diagCom);
  }
  {
    SCOPED_TRACE("firmware newer than the image");
    const SlotReports& r = reports(kNewer);
    EXPECT_EQ(Verdict(r), CNF_FAIL);
    EXPECT_EQ(LastFailure(r), "Can not downgrade image");
    ExpectInOrder(r, {{CNF_INFO, 0, std::string("currV = ") + kNewerFirmware},
                      {CNF_INFO, 0, std::string("updateV = ") + kImageTag},
                      {CNF_INFO, 0,
                       std::string("the device's firmware ") + kNewerFirmware +
                           " is newer than the image " + kImageTag},
                      {CNF_PROGRESS, 25, "Version check FAILED"},
                      {CNF_FAIL, 0, "Can not downgrade image"}});
    EXPECT_FALSE(HasPrefix(r, "Open Device OK"));
    ExpectUntouched(before[kNewer], after(kNewer));
    EXPECT_EQ(after(kNewer).commandCounts.count("firmware:26"), 0u) << "no NV item was read";
  }
  {
    SCOPED_TRACE("silent diagnostic port");
    const SlotReports& r = reports(kSilentDiag);
    EXPECT_EQ(Verdict(r), CNF_FAIL);
    EXPECT_EQ(LastFailure(r), "Can not Open Device");
    ExpectInOrder(r,
                  {{CNF_PROGRESS, 25, "Version check OK"}, {CNF_FAIL, 0, "Can not Open Device"}});
    EXPECT_FALSE(HasPrefix(r, "Download code start"));
    ExpectUntouched(before[kSilentDiag], after(kSilentDiag));
  }
  {
    SCOPED_TRACE("busy diagnostic port");
    const SlotReports& r = reports(kBusy);
    EXPECT_EQ(Verdict(r), CNF_FAIL);
    EXPECT_EQ(LastFailure(r), "Can not Open Device");
    EXPECT_FALSE(HasPrefix(r, "Download code start"));
    ExpectUntouched(before[kBusy], after(kBusy));
    EXPECT_EQ(station.View().slots[static_cast<std::size_t>(slotOf[kBusy])].result, "FAILED");
  }
  {
    SCOPED_TRACE("refused programmer");
    const SlotReports& r = reports(kRefused);
    EXPECT_EQ(Verdict(r), CNF_FAIL);
    EXPECT_EQ(LastFailure(r), "Download failed");
    ExpectInOrder(r, {{CNF_PROGRESS, 95, "Enter Download Mode(1)"},
                      {CNF_PROGRESS, 100, "Download Hex fail"},
                      {CNF_FAIL, 0, "Download code failed"},
                      {CNF_FAIL, 0, "Download failed"}});
    EXPECT_FALSE(HasPrefix(r, "Download All Image"));
    EXPECT_FALSE(HasPrefix(r, "Reset Device"));
    // The programmer never ran: the flash and everything on it are as before.
    ExpectUntouched(before[kRefused], after(kRefused));
    EXPECT_EQ(after(kRefused).commandCounts.count("programmer:07"), 0u);
  }
  {
    SCOPED_TRACE("NV reads failing");
    const SlotReports& r = reports(kNvFails);
    EXPECT_EQ(Verdict(r), CNF_FAIL);
    EXPECT_EQ(LastFailure(r), "Identity backup incomplete");
    ExpectInOrder(r, {{CNF_INFO, 0, "Backup NV Get 0 NV Items"},
                      {CNF_INFO, 0, "Identity backup incomplete: no NV item could be read"},
                      {CNF_FAIL, 0, "Identity backup incomplete"}});
    EXPECT_FALSE(HasPrefix(r, "Download code start"));
    // Nothing of its NV data could be saved: it is not flashed.
    ExpectUntouched(before[kNvFails], after(kNvFails));
  }
  {
    SCOPED_TRACE("no return after the reset");
    const SlotReports& r = reports(kNoReturn);
    EXPECT_EQ(Verdict(r), CNF_FAIL);
    EXPECT_EQ(LastFailure(r), "Can Not Find Device Again !");
    ExpectInOrder(r, {{CNF_PROGRESS, 920, "Download code end"},
                      {CNF_PROGRESS, 940, "Waiting for reboot OK"},
                      {CNF_PROGRESS, 975, "Can Not Find Device Again !"},
                      {CNF_FAIL, 0, "Can Not Find Device Again !"}});
    EXPECT_FALSE(HasPrefix(r, "Reset Device OK"));
    EXPECT_FALSE(HasPrefix(r, "Download succress"));
    // Its backup stays open in the station records, with the reason.
    const auto& summary = station.Summary(slotOf[kNoReturn]);
    ASSERT_TRUE(summary.has_value());
    std::string error;
    const auto backup = station.Store()->LoadBackup(summary->backupId, &error);
    ASSERT_TRUE(backup.has_value()) << error;
    EXPECT_TRUE(backup->open);
    EXPECT_EQ(backup->openReason, "Can Not Find Device Again !");
    EXPECT_EQ(backup->at.slots[kSlotSn], before[kNoReturn].identity.serialNumber);
    const sim::TDeviceReport now = after(kNoReturn);
    EXPECT_FALSE(now.present);
    EXPECT_EQ(now.flashSha256, images_.sha256);

    // Its identity survives on disk: the DataInfo file with its serial number holds every NV
    // item it had and its AT values.
    const sim::TDeviceReport& was = before[kNoReturn];
    std::string record;
    for (const auto& [name, text] : DataInfoFiles(workFolder_)) {
      if (ProfileValue(text, "AT", "SN") == was.identity.serialNumber) record = text;
    }
    ASSERT_FALSE(record.empty()) << "no DataInfo file with SN " << was.identity.serialNumber;
    EXPECT_EQ(ProfileValue(record, "AT", "MEID"), was.identity.meid);
    EXPECT_EQ(ProfileValue(record, "AT", "TFLAG"), was.identity.testFlag);
    EXPECT_EQ(ProfileKeys(record, "NV").size(), was.nvItemCount);
    EXPECT_LT(record.find("[NV]"), record.find("[AT]"));
    EXPECT_EQ(ProfileValue(record, "NV", "NV524"), DataInfoNvValue(524, noReturnItems[524]));
    // 258 is an indexed item: its key carries the first data byte.
    const std::string indexedKey = "NV258_" + std::to_string(noReturnItems[258][0]);
    EXPECT_EQ(ProfileValue(record, "NV", indexedKey), DataInfoNvValue(258, noReturnItems[258]));
  }

  for (int device : {kNewer, kSilentDiag, kNoReturn, kNvFails, kRefused, kBusy}) {
    EXPECT_EQ(station.Console().Slot(slotOf[static_cast<std::size_t>(device)]).state,
              SlotState::kFailed)
        << device;
  }
}

// One device is pulled out in the middle of its image: its slot fails, the other seven pass.
TEST_F(FaultBatchTest, UnplugDuringTheImageFailsOnlyItsSlot) {
  constexpr int kUnplugged = 2;
  std::vector<sim::TDeviceConfig> devices(8);
  devices[kUnplugged].faults.unplugAfterBytes = kImageBytes / 2;
  sim::TSimBench& bench = StartBench(devices);
  const std::vector<sim::TDeviceReport> before = bench.Reports();
  Station& station = StartStation();

  ASSERT_EQ(station.Check().count, 8);
  std::array<int, 8> slotOf{};
  for (int device = 0; device < 8; ++device) {
    slotOf[static_cast<std::size_t>(device)] =
        station.SlotShowing(before[static_cast<std::size_t>(device)].diagCom);
    ASSERT_GE(slotOf[static_cast<std::size_t>(device)], 0) << device;
  }
  ASSERT_TRUE(station.Console().StartEnabled());

  station.RunBatch();
  for (int device = 0; device < 8; ++device) {
    const auto index = static_cast<std::size_t>(device);
    const SlotReports& r = station.Reports(slotOf[index]);
    if (device == kUnplugged) {
      SCOPED_TRACE("unplugged during the image");
      EXPECT_EQ(Verdict(r), CNF_FAIL);
      EXPECT_EQ(LastFailure(r), "Download failed");
      ExpectInOrder(r, {{CNF_INFO, 0, "Download Hex File(1)"},
                        {CNF_PROGRESS, 915, "Download All Image fail"},
                        {CNF_FAIL, 0, "Download code failed"},
                        {CNF_FAIL, 0, "Download failed"}});
      EXPECT_FALSE(HasPrefix(r, "Reset Device"));
      const sim::TDeviceReport now = bench.Report(device);
      EXPECT_FALSE(now.present);
      EXPECT_EQ(now.flashSha256, before[index].flashSha256) << "a cut image was installed";
      EXPECT_EQ(now.flashCount, 0u);
      EXPECT_EQ(station.Console().Slot(slotOf[index]).state, SlotState::kFailed);
    } else {
      SCOPED_TRACE("device " + std::to_string(device));
      ExpectPassedJob(r);
      ExpectRewrittenKeepingIdentity(before[index], bench.Report(device), images_);
      EXPECT_EQ(station.Console().Slot(slotOf[index]).state, SlotState::kPass);
    }
  }
}

// Nine devices on the bench: eight are listed and flashed with everything they carry, the ninth
// is never spoken to. The ninth must not cost the eight anything: their modem ports belong to
// their groups although the ninth device's diagnostic port is listed before them.
TEST_F(FaultBatchTest, NinthDeviceIsLeftAloneAndTheEightKeepTheirIdentity) {
  constexpr int kNinth = 8;
  sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(9));
  const std::vector<sim::TDeviceReport> before = bench.Reports();
  Station& station = StartStation();

  const TDeviceTable table = station.Check();
  ASSERT_EQ(table.count, 8);
  EXPECT_EQ(station.SlotShowing(before[kNinth].diagCom), -1);
  std::array<int, 8> slotOf{};
  for (int device = 0; device < 8; ++device) {
    const auto index = static_cast<std::size_t>(device);
    slotOf[index] = station.SlotShowing(before[index].diagCom);
    ASSERT_GE(slotOf[index], 0) << device;
    const std::string& line = table.descriptions[static_cast<std::size_t>(slotOf[index])].str();
    EXPECT_NE(line.find("com " + std::to_string(before[index].modemCom) + "(modem),"),
              std::string::npos)
        << "device " << device << " listed without its modem port: " << line;
  }
  ASSERT_TRUE(station.Console().StartEnabled());

  const TDownloadCnf answer = station.RunBatch();
  for (int device = 0; device < 8; ++device) {
    const auto index = static_cast<std::size_t>(device);
    SCOPED_TRACE("device " + std::to_string(device));
    EXPECT_EQ(answer.started[static_cast<std::size_t>(slotOf[index])], 1);
    ExpectPassedJob(station.Reports(slotOf[index]));
    ExpectRewrittenKeepingIdentity(before[index], bench.Report(device), images_);
  }

  const sim::TDeviceReport ninth = bench.Report(kNinth);
  ExpectUntouched(before[kNinth], ninth);
  EXPECT_TRUE(ninth.commandCounts.empty()) << "the ninth device was spoken to";
  EXPECT_FALSE(ninth.diagInterfaceOn);
}

}  // namespace
}  // namespace vornex::e2e
