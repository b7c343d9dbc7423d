// A whole batch through the station window: two simulated devices on a bench in this process are
// listed by the window's first check, Start is clicked, both slots end in PASS, and the
// simulator confirms that both hold the new image with their identity kept.
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "foundation/text.h"
#include "gui/gui_support.h"
#include "sim/sha256.h"
#include "sim/sim_bench.h"
#include "store/station_store.h"
#include "support/image_files.h"

namespace vornex::guitest {
namespace {

constexpr std::size_t kImageBytes = 96 * 1024;
constexpr std::size_t kLongImageBytes = 4 * 1024 * 1024;
constexpr std::size_t kProgrammerBytes = 3000;
constexpr std::uint32_t kProgrammerAddress = 0x00100000;

class WindowBatchTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    previousFolder_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_.path());  // identity records are written here
  }
  void TearDown() override {
    WindowTest::TearDown();
    bench_.reset();
    std::filesystem::current_path(previousFolder_);
  }

  // Writes an image folder with an image of this size and starts a bench of two devices.
  std::string StartBench(std::size_t imageBytes) {
    const std::string images = folder_.File("images");
    std::filesystem::create_directories(images);
    image_ = testing::PatternBytes(imageBytes, 11);
    std::fill(image_.end() - 32, image_.end(), std::uint8_t{0xFF});
    const std::string tag = "VX730-R1.2.0";
    std::copy(tag.begin(), tag.end(), image_.end() - 32);
    testing::WriteFile(images + "/nor.mbn",
                       std::string(reinterpret_cast<const char*>(image_.data()), image_.size()));
    const std::vector<std::uint8_t> programmer = testing::PatternBytes(kProgrammerBytes, 5);
    testing::WriteFile(images + "/prog_9004.hex",
                       testing::IntelHexText(programmer, kProgrammerAddress));
    testing::WriteFile(images + "/Vornex_730.ini", "[UpdateItem]\r\nItemAT=ON\r\nItemNV=ON\r\n");

    sim::TBenchConfig config;
    config.folder = folder_.File("bench");
    config.devices.resize(2);
    config.programmer = sim::TProgrammerImage{programmer, kProgrammerAddress};
    std::string error;
    bench_ = sim::TSimBench::Create(config, &error);
    EXPECT_NE(bench_, nullptr) << error;
    run_.BenchDiscovery(config.folder);
    return images;
  }

  std::filesystem::path previousFolder_;
  std::vector<std::uint8_t> image_;
  std::unique_ptr<sim::TSimBench> bench_;
};

TEST_F(WindowBatchTest, TwoSimulatedDevicesAreFlashedThroughTheWindow) {
  const std::string images = StartBench(kImageBytes);
  ASSERT_NE(bench_, nullptr);
  const std::vector<sim::TDeviceReport> before = bench_->Reports();
  const std::string benchFolder = bench_->Folder();

  CVornexDlg& window =
      Open("Debug=ON\r\nPathNumber=2\r\nAutoPath=OFF\r\nImagePath=" + images + "\r\n", benchFolder);
  QPushButton* start = window.Panel().StartButton();
  ASSERT_TRUE(WaitFor([&] { return start->isEnabled(); })) << Log();
  EXPECT_EQ(window.Panel().Row(0).status->text(), QStringLiteral("READY"));
  EXPECT_EQ(window.Panel().Row(1).status->text(), QStringLiteral("READY"));

  QTest::mouseClick(start, Qt::LeftButton);
  const auto ended = [&](int slot) {
    const SlotState state = window.Presenter().Slot(slot).state;
    return state == SlotState::kPass || state == SlotState::kFailed;
  };
  ASSERT_TRUE(WaitFor([&] { return ended(0) && ended(1); })) << Log();

  for (int slot = 0; slot < 2; ++slot) {
    const TSlotRow& row = window.Panel().Row(slot);
    EXPECT_EQ(row.result->text(), QStringLiteral("PASS")) << "slot " << slot << "\n" << Log();
    EXPECT_TRUE(row.status->text().endsWith(QLatin1Char('s')));
    EXPECT_EQ(row.progress->value(), 1000);
  }
  // The simulator's own account: the new image, identity and NV items kept.
  const std::string digest = sim::Sha256Hex(image_.data(), image_.size());
  for (std::size_t device = 0; device < 2; ++device) {
    const sim::TDeviceReport after = bench_->Report(static_cast<int>(device));
    EXPECT_EQ(after.flashSha256, digest) << "device " << device;
    EXPECT_EQ(after.flashCount, 1u);
    EXPECT_EQ(after.identity.serialNumber, before[device].identity.serialNumber);
    EXPECT_EQ(after.identity.meid, before[device].identity.meid);
    EXPECT_EQ(after.nvDigest, before[device].nvDigest);
  }
  // Nothing is running once the workers have handed in their accounts: the window closes
  // without a question.
  ASSERT_TRUE(WaitFor([&] { return !window.Coordinator().JobsPending(); }));
  EXPECT_TRUE(window.close());
}

// Closing while the images stream: once confirmed, every job ends at its next safe point while
// the window says so, then the window closes; every job is recorded and no device is lost.
TEST_F(WindowBatchTest, ClosingDuringTheStreamFinishesEveryJobFirst) {
  const std::string images = StartBench(kLongImageBytes);
  ASSERT_NE(bench_, nullptr);
  const std::vector<sim::TDeviceReport> before = bench_->Reports();
  CVornexDlg& window =
      Open("PathNumber=2\r\nAutoPath=OFF\r\nImagePath=" + images + "\r\n", bench_->Folder());
  QPushButton* start = window.Panel().StartButton();
  ASSERT_TRUE(WaitFor([&] { return start->isEnabled(); }));
  QTest::mouseClick(start, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return bench_->Report(0).streamedBytes > 0; }));

  OnNextModal(
      [](QWidget* modal) { static_cast<QMessageBox*>(modal)->button(QMessageBox::Yes)->click(); });
  EXPECT_FALSE(window.close());  // not yet: the jobs finish first
  EXPECT_TRUE(window.Finishing());
  EXPECT_TRUE(window.windowTitle().contains(QStringLiteral("Finishing")));
  ASSERT_TRUE(WaitFor([&] { return !window.isVisible(); }));

  std::string error;
  const auto store = TStationStore::Open(folder_.File("records"), &error);
  ASSERT_NE(store, nullptr) << error;
  const auto jobs = store->History({}, &error);
  ASSERT_TRUE(jobs.has_value()) << error;
  ASSERT_EQ(jobs->size(), 2u);
  for (const TJobSummary& job : *jobs) {
    const int device = job.deviceKey == before[0].key ? 0 : 1;
    const sim::TDeviceReport now = bench_->Report(device);
    if (job.pass) {
      EXPECT_EQ(now.identity.serialNumber,
                before[static_cast<std::size_t>(device)].identity.serialNumber);
    } else {
      EXPECT_EQ(job.failure, "Interrupted");
      EXPECT_EQ(now.flashCount, 0u);
      EXPECT_TRUE(store->LoadBackup(job.backupId, &error)->open);
    }
  }
}

}  // namespace
}  // namespace vornex::guitest
