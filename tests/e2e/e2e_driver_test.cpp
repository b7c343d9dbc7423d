// The run driver of both front-ends against a simulated bench: it presses Start once the planned
// number of devices is listed (the window's --autostart and the terminal's --expect), follows a
// device plugged in while it waits, gives up after the planned wait, and ends at once when
// stopped before Start.
#include <gtest/gtest.h>

#include "console/station_core.h"
#include "station_harness.h"

namespace vornex::e2e {
namespace {

class RunDriverTest : public StationTest {
 protected:
  // Runs the driver the way the front-ends do until it is over; `onCheck` runs after each
  // device-check answer with the number of answers so far.
  void Run(TRunPlan plan, const std::function<void(int)>& onCheck = {}) {
    TStationSettings settings;
    settings.debugMode = true;
    settings.autoPath = false;
    settings.imagePath = images_.folder;
    TStationSetup setup;
    setup.run.settings = settings;
    setup.run.plan = plan;
    setup.run.watch = MakeBenchWatch(bench_->Folder());
    setup.dataFolder = root_.File("records");
    TStationCore core(std::move(setup), view_, target_,
                      [this](const std::string& line) { said_.push_back(line); });
    ASSERT_NE(core.Store(), nullptr) << core.StartNotice();
    const TRunDriver& driver = core.Driver();
    core.Begin();
    const auto limit = std::chrono::steady_clock::now() + kBatchLimit;
    int answers = 0;
    while (!driver.Over() && std::chrono::steady_clock::now() < limit) {
      if (auto next = target_.TakeUntil(pacing::TClock::now() + pacing::Scaled(kDriverTickMs))) {
        core.Confirm(next->code, std::move(next->record));
      }
      core.Tick();
      if (driver.CheckAnswers() != answers) {
        answers = driver.CheckAnswers();
        if (onCheck) onCheck(answers);
      }
      if (stopAfterCheck_ && answers >= 1) core.Driver().Stop();
    }
    ASSERT_TRUE(driver.Over()) << "the run did not end";
    counts_ = driver.Counts();
    status_ = driver.ExitStatus();
    report_ = driver.Report();
  }

  // True when a line the driver said, or its report, starts with the text.
  bool Said(const std::string& start) const {
    if (report_.starts_with(start)) return true;
    return std::any_of(said_.begin(), said_.end(),
                       [&](const std::string& line) { return line.starts_with(start); });
  }

  testing::FakeView view_;
  TConfirmationQueue target_;
  std::vector<std::string> said_;
  bool stopAfterCheck_ = false;
  TRunCounts counts_;
  int status_ = -1;
  std::string report_;
};

TEST_F(RunDriverTest, ADevicePluggedInWhileItWaitsIsFlashedInTheSameRun) {
  sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(2));
  bench.Unplug(1);
  ASSERT_TRUE(WaitPresent(1, false));
  Run({2, 0}, [&](int answers) {
    if (answers == 1) bench.Replug(1);
  });
  EXPECT_TRUE(Said("Waiting for 1 more device(s) (1 found)...")) << ::testing::PrintToString(said_);
  EXPECT_EQ(counts_.started, 2);
  EXPECT_EQ(counts_.passed, 2) << report_;
  EXPECT_EQ(status_, 0);
  EXPECT_TRUE(report_.starts_with(
      "Devices: 2 expected, 2 listed, 2 started, 2 passed, 0 failed, 0 never started.\n"
      "All devices passed.\nMean job time "))
      << report_;
  EXPECT_NE(report_.find("s; slowest step: "), std::string::npos) << report_;
}

TEST_F(RunDriverTest, TooFewDevicesGiveUpAfterTheWaitOrEndAtAStopWithoutTouchingAny) {
  const struct {
    const char* name;
    double waitSeconds;
    bool stop;
    int status;
    std::string line;
  } cases[] = {
      {"gives up", 0.5, false, exit_status::kGaveUpWaiting, "Gave up waiting after 0.5 s: "},
      {"stopped", 0, true, 0, "Stopped before Start: no device was touched."},
  };
  sim::TSimBench& bench = StartBench(std::vector<sim::TDeviceConfig>(1));
  const sim::TDeviceReport before = bench.Report(0);
  for (const auto& c : cases) {
    said_.clear();
    stopAfterCheck_ = c.stop;
    Run({3, c.waitSeconds});
    EXPECT_EQ(status_, c.status) << c.name;
    EXPECT_TRUE(Said(c.line)) << c.name << ": " << report_;
    EXPECT_EQ(counts_.started, 0) << c.name;
    ExpectUntouched(before, bench.Report(0));
  }
}

}  // namespace
}  // namespace vornex::e2e
