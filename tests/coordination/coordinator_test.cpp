// The coordinator against a bench of simulated devices: the device table that a check returns
// (order, COM numbers, busy and kind, description lines), which port groups it lists at all, and
// the hand-out of download jobs: to the worker of the slot whose COM number the device carries,
// in group order and staggered, each job carrying the image set of the run's first request.
//
// The jobs really run. The image folders hold an image older than the simulated firmware, so
// every job ends early at the version check; each test waits for the last report of every job
// it started.
#include "coordination/coordinator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "discovery/bench_registry.h"
#include "discovery/port_enumeration.h"
#include "foundation/pacing.h"
#include "foundation/text.h"
#include "sim/sim_bench.h"
#include "support/confirmation_sink.h"
#include "support/image_files.h"
#include "support/pty_peer.h"
#include "support/run_scope.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

using TClock = std::chrono::steady_clock;
using testing::Confirmation;
using testing::ConfirmationSink;
using testing::TempDir;

constexpr double kTimeScale = 0.05;
// Bound on every wait for the station: catches hangs only.
constexpr auto kWaitLimit = std::chrono::seconds(120);
constexpr const char* kOlderImageTag = "VX730-R0.9.0";
constexpr const char* kFinishedText = "Download Finished.";

std::int64_t ScaledMs(std::uint32_t ms) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(pacing::Scaled(ms)).count();
}

// Stamps the first report of each slot with the time it was posted, then hands every
// confirmation on to the sink.
class StampingTarget : public TNotifyTarget {
 public:
  explicit StampingTarget(ConfirmationSink& sink) : sink_(sink) {}

  bool PostConfirmation(std::uint32_t message, std::uint32_t code, TConfirmRecord record) override {
    if (const auto* single = std::get_if<std::unique_ptr<TSingleCnf>>(&record); single) {
      std::lock_guard lock(mutex_);
      firstReports_.try_emplace((*single)->slot, TClock::now());
    }
    return sink_.PostConfirmation(message, code, std::move(record));
  }

  // Slot -> time of its first report.
  std::map<int, TClock::time_point> FirstReports() {
    std::lock_guard lock(mutex_);
    return firstReports_;
  }

 private:
  ConfirmationSink& sink_;
  std::mutex mutex_;
  std::map<int, TClock::time_point> firstReports_;
};

class CoordinatorTest : public ::testing::Test {
 protected:
  // The image folder holds a programmer and an image of an older version than the firmware.
  void SetUp() override {
    run_.TimeScale(kTimeScale);
    const testing::ImageBytes image = testing::MakeImage(4096, kOlderImageTag, 1);
    testing::WriteFile(imageFolder_.File("prog_9004.hex"),
                       testing::IntelHexText(testing::PatternBytes(2000, 2), 0x00200000));
    testing::WriteFile(imageFolder_.File("nor.mbn"), std::string(image.begin(), image.end()));
  }
  void TearDown() override {
    coordinator_.reset();  // waits for the workers
    bench_.reset();
  }

  sim::TSimBench& StartBench(std::vector<sim::TDeviceConfig> devices) {
    sim::TBenchConfig config;
    config.folder = benchFolder_.path();
    config.devices = std::move(devices);
    std::string error;
    bench_ = sim::TSimBench::Create(std::move(config), &error);
    if (!bench_) ADD_FAILURE() << error;
    return *bench_;
  }

  void StartCoordinator() {
    run_.BenchDiscovery(benchFolder_.path());
    coordinator_ = std::make_unique<TMdlThread>();
    TMdlThread* coordinator = coordinator_.get();
    sink_.onPost = [this, coordinator](std::uint32_t code) {
      if (code != CNF_SINGLE && coordinator->IdleFlag() != 0) ++answersWhileIdle_;
      if (code != CNF_CHECK_DEVICE && !coordinator->JobsPending()) ++postsWithNothingPending_;
    };
    coordinator_->SetNotifyAll(&target_, WM_DOWNLOAD_CNF);
  }

  // Waits until the confirmations received so far satisfy the condition.
  bool WaitUntil(const std::function<bool(const std::vector<Confirmation>&)>& condition) {
    const auto until = TClock::now() + kWaitLimit;
    while (!condition(received_)) {
      const auto left = std::chrono::duration_cast<std::chrono::seconds>(until - TClock::now());
      if (left.count() <= 0 || !sink_.WaitFor(1, left)) return false;
      for (Confirmation& c : sink_.Take()) received_.push_back(std::move(c));
    }
    return true;
  }

  // Takes the first answer of this code not taken yet, waiting for it.
  template <typename Record>
  std::unique_ptr<Record> TakeAnswer(std::uint32_t code) {
    auto find = [code](auto& all) {
      return std::find_if(all.begin(), all.end(), [code](const Confirmation& c) {
        const auto* record = std::get_if<std::unique_ptr<Record>>(&c.record);
        return c.code == code && record != nullptr && *record != nullptr;
      });
    };
    if (!WaitUntil([&](const auto& all) { return find(all) != all.end(); })) return nullptr;
    auto it = find(received_);
    EXPECT_EQ(it->message, WM_DOWNLOAD_CNF);
    return std::move(std::get<std::unique_ptr<Record>>(it->record));
  }

  std::unique_ptr<TDeviceTable> Check() {
    EXPECT_TRUE(coordinator_->PostRequest(REQ_CHECK_DEVICE));
    return TakeAnswer<TDeviceTable>(CNF_CHECK_DEVICE);
  }

  // Sends a selection (COM number per slot, 0 = not selected) with an image folder.
  std::unique_ptr<TDownloadCnf> Download(const std::array<std::int32_t, kSlotCount>& coms,
                                         const std::string& imageFolder) {
    auto selection = std::make_unique<TDeviceTable>();
    for (int j = 0; j < kSlotCount; ++j)
      selection->entries[static_cast<std::size_t>(j)].com = coms[j];
    selection->count = kSlotCount;
    selection->imagePath = imageFolder;
    EXPECT_TRUE(coordinator_->PostRequest(REQ_DOWNLOAD_DEVICE, std::move(selection)));
    return TakeAnswer<TDownloadCnf>(CNF_DOWNLOAD_DEVICE);
  }

  // The reports of one slot received so far, in order.
  std::vector<const TSingleCnf*> ReportsOf(int slot) const {
    std::vector<const TSingleCnf*> reports;
    for (const Confirmation& c : received_) {
      const auto* single = std::get_if<std::unique_ptr<TSingleCnf>>(&c.record);
      if (single != nullptr && *single && (*single)->slot == slot) reports.push_back(single->get());
    }
    return reports;
  }

  static bool HasReport(const std::vector<const TSingleCnf*>& reports, std::int32_t code,
                        std::string_view textStart) {
    return std::any_of(reports.begin(), reports.end(), [&](const TSingleCnf* r) {
      return r->code == code && r->text.str().starts_with(textStart);
    });
  }

  // Waits for the last report of a job in every one of these slots.
  bool WaitForJobsToEnd(const std::vector<int>& slots) {
    return WaitUntil([&](const auto&) {
      return std::all_of(slots.begin(), slots.end(), [&](int slot) {
        return HasReport(ReportsOf(slot), CNF_INFO, kFinishedText);
      });
    });
  }

  testing::RunScope run_;
  TempDir benchFolder_;
  TempDir imageFolder_;
  std::unique_ptr<sim::TSimBench> bench_;
  ConfirmationSink sink_;
  StampingTarget target_{sink_};
  std::unique_ptr<TMdlThread> coordinator_;
  std::vector<Confirmation> received_;
  std::atomic<int> answersWhileIdle_{0};
  std::atomic<int> postsWithNothingPending_{0};  // job reports and download answers
};

std::string DeviceLine(char letter, int diagCom, int modemCom) {
  return FormatBounded(127, "%c [ COM %d ]  com %d, com %d(modem), <4B2E-3071>\r\n", letter,
                       diagCom, diagCom, modemCom);
}

std::string SlotText(int selectedCom, int diagCom, int modemCom) {
  return FormatBounded(127, "< COM %d >  com %d, com %d(modem),", selectedCom, diagCom, modemCom);
}

bench::TBenchPort ForeignPort(int com, int portClass, const std::string& key,
                              const std::string& hardwareId, const std::string& description,
                              const std::string& tty) {
  bench::TBenchPort port;
  port.info.com = static_cast<std::uint8_t>(com);
  port.info.portClass = portClass;
  port.info.path = "\\\\?\\USB#VID_0000&PID_0000&MI_00#6&" + key + "&0&0000#{guid}";
  port.info.description = description;
  port.info.hardwareId = hardwareId;
  port.ttyPath = tty;
  return port;
}

TEST_F(CoordinatorTest, CheckListsEveryDeviceInGroupOrderWithItsDiagnosticCom) {
  sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(8));
  StartCoordinator();

  const auto table = Check();
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->count, 8);
  for (int n = 0; n < 8; ++n) {
    SCOPED_TRACE(n);
    const sim::TDeviceReport device = bench.Report(n);
    const TDeviceEntry& entry = table->entries[static_cast<std::size_t>(n)];
    EXPECT_EQ(entry.com, device.diagCom);
    EXPECT_EQ(entry.busy, 0);
    EXPECT_EQ(entry.kind, kKind4B2E3071);
    EXPECT_EQ(table->descriptions[static_cast<std::size_t>(n)].str(),
              DeviceLine(static_cast<char>('A' + n), device.diagCom, device.modemCom));
  }
  // The first device on a fresh bench has the first two COM numbers.
  EXPECT_EQ(table->descriptions[0].str(), "A [ COM 3 ]  com 3, com 4(modem), <4B2E-3071>\r\n");
  EXPECT_GE(table->elapsed, ScaledMs(kCheckSettleMs) - 1);
  EXPECT_EQ(answersWhileIdle_.load(), 0);
}

TEST_F(CoordinatorTest, CheckListsOnlyTheProductsGroupsUnderConsecutiveLetters) {
  std::vector<sim::TDeviceConfig> devices(3);
  devices[1].faults.diagBusy = true;
  sim::TSimBench& bench = StartBench(devices);

  // Groups of other products come first in the listing; a matching group without a diagnostic
  // port comes last (its hardware id in lower case, as some drivers report it).
  const std::string folder = bench.Folder();
  const std::string noTty = benchFolder_.File("no-such-tty");
  testing::PtyPair serialPty;
  testing::PtyPair modemPty;
  ASSERT_TRUE(bench::WritePort(
      folder, ForeignPort(1, kPortClassSerial, "0AAA0001", "USB\\VID_05C6&PID_9005&MI_00",
                          "Other USB Diagnostics", noTty)));
  ASSERT_TRUE(bench::WritePort(
      folder, ForeignPort(2, kPortClassSerial, "0AAA0002", "USB\\VID_1234&PID_9004&MI_00",
                          "Other USB Diagnostics", noTty)));
  // Only the first port of a group decides, whatever its later ports carry.
  ASSERT_TRUE(bench::WritePort(
      folder, ForeignPort(61, kPortClassModem, "0AAA0002", "USB\\VID_05C6&PID_9004&MI_01",
                          "Vornex USB Modem 9004", noTty)));
  ASSERT_TRUE(bench::WritePort(
      folder, ForeignPort(60, kPortClassSerial, "0BBB0001", "usb\\vid_05c6&pid_9004&mi_02",
                          "Vornex USB Serial 9004", serialPty.slavePath())));
  ASSERT_TRUE(bench::WritePort(
      folder, ForeignPort(62, kPortClassModem, "0BBB0001", "usb\\vid_05c6&pid_9004&mi_01",
                          "Vornex USB Modem 9004", modemPty.slavePath())));
  StartCoordinator();

  const auto table = Check();
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->count, 4);
  const sim::TDeviceReport first = bench.Report(0);
  const sim::TDeviceReport busy = bench.Report(1);
  const sim::TDeviceReport third = bench.Report(2);

  EXPECT_EQ(table->entries[0].com, first.diagCom);
  EXPECT_EQ(table->descriptions[0].str(), DeviceLine('A', first.diagCom, first.modemCom));

  EXPECT_EQ(table->entries[1].com, busy.diagCom);
  EXPECT_EQ(table->entries[1].busy, 1);
  EXPECT_EQ(table->entries[1].kind, kKind4B2E3071);
  EXPECT_EQ(table->descriptions[1].str(),
            FormatBounded(127, "B [ COM %d ]  com %d(busy), com %d(modem), <4B2E-3071>\r\n",
                          busy.diagCom, busy.diagCom, busy.modemCom));

  EXPECT_EQ(table->entries[2].com, third.diagCom);
  EXPECT_EQ(table->entries[2].busy, 0);
  EXPECT_EQ(table->descriptions[2].str(), DeviceLine('C', third.diagCom, third.modemCom));

  EXPECT_EQ(table->entries[3].com, 0);
  EXPECT_EQ(table->entries[3].busy, 0);
  EXPECT_EQ(table->entries[3].kind, kKindUnknown);
  EXPECT_EQ(table->descriptions[3].str(), "D [ COM 0 ]  com 60, com 62(modem), <unknow>\r\n");

  for (std::size_t n = 4; n < kSlotCount; ++n) {
    EXPECT_EQ(table->entries[n].com, 0);
    EXPECT_TRUE(table->descriptions[n].empty());
  }
}

TEST_F(CoordinatorTest, EmptySelectionStartsNothingAndStillAnswers) {
  StartBench(std::vector<sim::TDeviceConfig>(2));
  StartCoordinator();

  const auto answer = Download({}, imageFolder_.path());
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer->message.str(), "\r\n");
  for (std::size_t j = 0; j < kSlotCount; ++j) {
    EXPECT_EQ(answer->started[j], 0);
    EXPECT_TRUE(answer->slotTexts[j].empty());
  }

  // A check runs after the request on the same thread; by its answer a started job would long
  // have reported.
  ASSERT_NE(Check(), nullptr);
  for (int j = 0; j < kSlotCount; ++j) EXPECT_TRUE(ReportsOf(j).empty()) << "slot " << j;
  EXPECT_EQ(answersWhileIdle_.load(), 0);
}

TEST_F(CoordinatorTest, EverySelectedDeviceStartsInGroupOrderStaggered) {
  sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(8));
  StartCoordinator();

  // The console selects the COM numbers that the check showed.
  const auto table = Check();
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->count, 8);
  std::array<std::int32_t, kSlotCount> selection{};
  for (std::size_t j = 0; j < kSlotCount; ++j) selection[j] = table->entries[j].com;

  const TClock::time_point requested = TClock::now();
  const auto answer = Download(selection, imageFolder_.path());
  ASSERT_NE(answer, nullptr);
  const std::int64_t staggerMs = ScaledMs(kJobStaggerMs);
  EXPECT_GE(answer->elapsed, 8 * staggerMs - 1);
  EXPECT_EQ(answer->message.str(), "\r\n");
  EXPECT_EQ(answer->imageFlags, kImageLoaded);
  for (int j = 0; j < kSlotCount; ++j) {
    const sim::TDeviceReport device = bench.Report(j);
    EXPECT_EQ(answer->started[static_cast<std::size_t>(j)], 1) << "slot " << j;
    EXPECT_EQ(answer->slotTexts[static_cast<std::size_t>(j)].str(),
              SlotText(device.diagCom, device.diagCom, device.modemCom));
  }

  std::vector<int> slots(kSlotCount);
  for (int j = 0; j < kSlotCount; ++j) slots[static_cast<std::size_t>(j)] = j;
  ASSERT_TRUE(WaitForJobsToEnd(slots));

  const auto firstReports = target_.FirstReports();
  ASSERT_EQ(firstReports.size(), static_cast<std::size_t>(kSlotCount));
  for (int j = 0; j < kSlotCount; ++j) {
    SCOPED_TRACE(j);
    const auto reports = ReportsOf(j);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front()->code, CNF_PROGRESS);
    EXPECT_EQ(reports.front()->progress, 0);
    // Job j was posted after j pauses of the stagger. This bound is the group order too: a job
    // handed out before its place would report earlier than it. (The order of the first reports
    // themselves is up to how soon each worker thread runs, which a busy machine delays.)
    const auto sinceRequest =
        std::chrono::duration_cast<std::chrono::milliseconds>(firstReports.at(j) - requested);
    EXPECT_GE(sinceRequest.count(), j * staggerMs);
    // The job reached its own device: the older image is refused after the device's version
    // was read. Every device was asked, so no two jobs shared one; a reply that came after the
    // scaled read limit may have been asked for again.
    EXPECT_TRUE(HasReport(reports, CNF_FAIL, "Can not downgrade image"));
    EXPECT_GE(bench.Report(j).commandCounts["AT+MDVER"], 1u);
  }
  // Jobs were pending from the request through every pause between starts to the answer.
  EXPECT_EQ(postsWithNothingPending_.load(), 0);
}

TEST_F(CoordinatorTest, JobGoesToTheSlotHoldingOneOfTheDevicesComNumbers) {
  sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(4));
  StartCoordinator();
  std::vector<sim::TDeviceReport> devices;
  for (int i = 0; i < 4; ++i) devices.push_back(bench.Report(i));
  bench.Unplug(2);
  ASSERT_TRUE(bench.WaitUntil(
      2, [](const sim::TDeviceReport& r) { return !r.present; }, 60000));

  std::array<std::int32_t, kSlotCount> selection{};
  selection[0] = devices[1].diagCom;
  selection[2] = devices[0].modemCom;  // any port of the device will do
  selection[5] = devices[2].diagCom;   // gone since
  selection[1] = devices[3].modemCom;  // the device's first port (diagnostics) finds slot 4 first
  selection[4] = devices[3].diagCom;
  const auto answer = Download(selection, imageFolder_.path());
  ASSERT_NE(answer, nullptr);

  const std::array<std::int32_t, kSlotCount> started = {1, 0, 1, 0, 1, 0, 0, 0};
  EXPECT_EQ(answer->started, started);
  EXPECT_EQ(answer->slotTexts[2].str(),
            SlotText(devices[0].modemCom, devices[0].diagCom, devices[0].modemCom));
  EXPECT_EQ(answer->slotTexts[0].str(),
            SlotText(devices[1].diagCom, devices[1].diagCom, devices[1].modemCom));
  EXPECT_EQ(answer->slotTexts[4].str(),
            SlotText(devices[3].diagCom, devices[3].diagCom, devices[3].modemCom));
  for (std::size_t j : {1u, 3u, 5u, 6u, 7u}) EXPECT_TRUE(answer->slotTexts[j].empty()) << j;

  ASSERT_TRUE(WaitForJobsToEnd({0, 2, 4}));
  const auto firstReports = target_.FirstReports();
  ASSERT_EQ(firstReports.size(), 3u);
  // Group order: device 0 (slot C), device 1 (slot A), device 3 (slot E).
  EXPECT_LT(firstReports.at(2), firstReports.at(0));
  EXPECT_LT(firstReports.at(0), firstReports.at(4));
  EXPECT_EQ(bench.Report(0).commandCounts["AT+MDVER"], 1u);
  EXPECT_EQ(bench.Report(1).commandCounts["AT+MDVER"], 1u);
  EXPECT_EQ(bench.Report(3).commandCounts["AT+MDVER"], 1u);
}

TEST_F(CoordinatorTest, ImageSetOfTheFirstRequestServesTheWholeRun) {
  sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(1));
  StartCoordinator();

  // First folder: a programmer, an image of an older version, both item switches on.
  std::string image(4096, '\x5A');
  std::string tail(32, '\xFF');
  tail.replace(0, std::string(kOlderImageTag).size(), kOlderImageTag);
  image.replace(image.size() - 32, 32, tail);
  testing::WriteFile(imageFolder_.File("nor.mbn"), image);
  testing::WriteFile(imageFolder_.File("Vornex_730.ini"),
                     "[UpdateItem]\r\nItemAT=on\r\nItemNV=ON\r\n");
  const std::uint32_t firstFlags = kItemAt | kItemNv | kImageLoaded;

  const auto first = Download({}, imageFolder_.path());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->imageFlags, firstFlags);

  // A second folder with other switches and no images, and the first folder changed too.
  TempDir otherFolder;
  testing::WriteFile(otherFolder.File("Vornex_730.ini"),
                     "[UpdateItem]\r\nItemAT=OFF\r\nItemNV=OFF\r\n");
  testing::WriteFile(imageFolder_.File("Vornex_730.ini"), "[UpdateItem]\r\nItemAT=OFF\r\n");

  std::array<std::int32_t, kSlotCount> selection{};
  selection[0] = bench.Report(0).diagCom;
  const auto second = Download(selection, otherFolder.path());
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->imageFlags, firstFlags);
  EXPECT_EQ(second->started[0], 1);

  // The job carries the first set: the device is compared with the first image's version.
  ASSERT_TRUE(WaitForJobsToEnd({0}));
  const auto reports = ReportsOf(0);
  EXPECT_TRUE(HasReport(reports, CNF_INFO, std::string("updateV = ") + kOlderImageTag));
  EXPECT_TRUE(HasReport(reports, CNF_FAIL, "Can not downgrade image"));
}

}  // namespace
}  // namespace vornex
