// The window's close in the station core, with its own coordinator and workers: the operator is
// asked while a job runs or waits to start, whatever the slots show. A moment is held by holding
// the thread that posts a confirmation (the coordinator's check answer).
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "console/fake_view.h"
#include "console/station_core.h"
#include "support/confirmation_sink.h"
#include "support/image_files.h"
#include "support/run_scope.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

TEST(StationClose, AsksWhileAJobRunsOrWaitsWhateverTheSlotsShow) {
  testing::TempDir folder;  // the bench with one device on COM5, and the images
  testing::RunScope run;
  run.TimeScale(0.05).BenchDiscovery(folder.path());
  // Its tty is never opened: every job here is stopped before it connects.
  testing::WriteFile(folder.File("COM5.port"), "com=5\nclass=1\ntty=" + folder.File("none") +
                                                   "\npath=\\\\?\\USB#VID#6&5A3F&0#{g}\n");
  testing::WriteFile(folder.File("prog_9004.hex"),
                     testing::IntelHexText(testing::PatternBytes(2000, 2), 0x00200000));
  const testing::ImageBytes image = testing::MakeImage(4096, "VX730-R1.2.0", 1);
  testing::WriteFile(folder.File("nor.mbn"), std::string(image.begin(), image.end()));

  const struct {
    const char* name;
    std::uint32_t hold;   // the confirmation whose poster is held; 0: none
    std::int32_t report;  // the slot's report that the core then gets; -1: none
    bool asks;
  } cases[] = {
      {"all idle", 0, -1, false},
      {"a slot shows RUNNING", 0, CNF_PROGRESS, true},
      {"a job waits to be handed out, no slot RUNNING", CNF_CHECK_DEVICE, -1, true},
      {"a slot shows FAILED while a job waits", CNF_CHECK_DEVICE, CNF_FAIL, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<std::uint32_t> holding{c.hold};
    std::promise<void> held;
    std::future<void> isHeld = held.get_future();
    std::promise<void> go;
    testing::ConfirmationSink sink;
    sink.onPost = [&, goes = go.get_future().share()](std::uint32_t code) {
      std::uint32_t expected = code;
      if (!holding.compare_exchange_strong(expected, 0)) return;
      held.set_value();
      goes.wait();
    };
    TStationSetup setup;
    setup.run.settings.autoPath = false;
    setup.run.settings.imagePath = folder.path();
    setup.withRecords = false;
    testing::FakeView view;
    TStationCore core(std::move(setup), view, sink, [](const std::string&) {});
    core.Confirm(CNF_CHECK_DEVICE, testing::CheckTable({{5, 0, 1}}));
    // Held in a check, the coordinator has Start's request still to take.
    if (c.hold != 0) {
      EXPECT_TRUE(core.Presenter().SendCheckRequest());
      core.Start();
      EXPECT_EQ(isHeld.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    }
    if (c.report >= 0) {
      core.Confirm(CNF_SINGLE, testing::SingleReport(0, c.report, 10, "LIB, x"));
      EXPECT_EQ(view.slots[0].state,
                c.report == CNF_FAIL ? SlotState::kFailed : SlotState::kRunning);
    }
    bool asked = false;
    EXPECT_EQ(core.RequestClose([&asked] {
      asked = true;
      return false;  // the operator says no: the window stays
    }),
              c.asks ? TCloseStep::kStay : TCloseStep::kClose);
    EXPECT_EQ(asked, c.asks);
    core.Coordinator().RequestStop();
    go.set_value();
  }
}

}  // namespace
}  // namespace vornex
