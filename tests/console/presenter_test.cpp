// The console logic against a recording view: slot displays and colours, the Start button's
// arming, the device-kind test, the log pane lines, what Start sends, the reason a FAILED slot
// shows and the end of a batch.
#include "console/presenter.h"

#include <gtest/gtest.h>

#include "console/fake_view.h"
#include "support/confirmation_sink.h"
#include "support/run_scope.h"

namespace vornex {
namespace {

using testing::FakeView;
using testing::SingleReport;

class PresenterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run_.TimeScale(0.01);
    settings_.debugMode = true;
  }

  TConsolePresenter& Make() {
    presenter_ = std::make_unique<TConsolePresenter>(view_, coordinator_, settings_);
    presenter_->InitPanel();
    return *presenter_;
  }

  // A check result listing devices with these COM numbers, busy flags and kinds.
  static std::unique_ptr<TDeviceTable> Check(const std::vector<TDeviceEntry>& entries) {
    return testing::CheckTable(entries, 1234);
  }

  testing::RunScope run_;
  TStationSettings settings_;
  FakeView view_;
  TMdlThread coordinator_;
  std::unique_ptr<TConsolePresenter> presenter_;
};

TEST_F(PresenterTest, CheckResultFillsSlotsFromAAndClearsTheRest) {
  TConsolePresenter& console = Make();
  EXPECT_FALSE(view_.startEnabled);
  console.OnConfirm(CNF_CHECK_DEVICE, Check({{5, 0, 1}, {9, 1, 1}, {12, 0, 1}}));

  EXPECT_EQ(view_.slots[0].port, "( COM 5 )");
  EXPECT_EQ(view_.slots[0].status, "READY");
  EXPECT_EQ(view_.slots[0].statusColor, slot_color::kReady);
  EXPECT_EQ(view_.slots[1].status, "BUSY");
  EXPECT_EQ(view_.slots[1].statusColor, slot_color::kBusy);
  EXPECT_EQ(view_.slots[2].port, "( COM 12 )");
  for (int slot = 3; slot < 8; ++slot) {
    EXPECT_EQ(view_.slots[static_cast<std::size_t>(slot)].status, "EMPTY");
    EXPECT_EQ(view_.slots[static_cast<std::size_t>(slot)].port, "( null )");
    EXPECT_FALSE(view_.slots[static_cast<std::size_t>(slot)].enabled);
  }
  EXPECT_TRUE(view_.startEnabled);
  EXPECT_EQ(view_.log,
            "Find : 3 usb device(s)\r\nA [ COM 5 ] \r\nB [ COM 9 ] \r\nC [ COM 12 ] \r\n"
            "<< Check Device CNF   Use time : 1.234s\r\n");
  EXPECT_TRUE(view_.notices.empty());
}

TEST_F(PresenterTest, HeldAndDeniedPortsSayWhoOrWhatIsInTheWay) {
  TConsolePresenter& console = Make();
  TDeviceEntry held{6, 1, 1};
  held.heldBy = "ModemManager (pid 812)";
  TDeviceEntry denied{7, 1, 1, 1};
  console.OnConfirm(CNF_CHECK_DEVICE, Check({{5, 0, 1}, held, denied}));
  const struct {
    const char* status;
    const char* result;
  } expected[] = {{"READY", ""},
                  {"BUSY", "held by ModemManager (pid 812)"},
                  {"NO ACCESS", "no permission: add a udev rule or join dialout"}};
  for (std::size_t slot = 0; slot < 3; ++slot) {
    EXPECT_EQ(view_.slots[slot].status, expected[slot].status) << slot;
    EXPECT_EQ(view_.slots[slot].result, expected[slot].result) << slot;
  }
  EXPECT_EQ(view_.slots[2].statusColor, slot_color::kBusy);
  EXPECT_NE(view_.log.find("Device B [ COM 6 ] held by ModemManager (pid 812)"), std::string::npos)
      << view_.log;
}

TEST_F(PresenterTest, MixedDeviceKindsAreNoticedButStartStays) {
  TConsolePresenter& console = Make();
  console.OnConfirm(CNF_CHECK_DEVICE, Check({{5, 0, 1}, {6, 0, 0}, {7, 0, 1}}));
  EXPECT_TRUE(view_.notices.empty());  // kind 0 is not compared
  console.OnConfirm(CNF_CHECK_DEVICE, Check({{5, 0, 1}, {6, 0, 0}, {7, 0, 2}}));
  ASSERT_EQ(view_.notices.size(), 1u);
  EXPECT_EQ(view_.notices[0], "Attention: NOT Same Device !");
  EXPECT_NE(view_.log.find("NOT Same Device !<< Check Device CNF"), std::string::npos);
  EXPECT_EQ(view_.slots[2].status, "READY");
}

TEST_F(PresenterTest, SlotsNotInUseAreLeftAlone) {
  settings_.pathNumber = 1;
  settings_.enabled = {1, 0, 0, 0, 0, 0, 0, 0};
  TConsolePresenter& console = Make();
  console.OnConfirm(CNF_CHECK_DEVICE, Check({{5, 0, 1}, {6, 0, 2}}));
  EXPECT_EQ(view_.slots[1].port, "( null )");  // from the panel start only
  EXPECT_EQ(console.Slot(1).comPort, 0);
  EXPECT_TRUE(view_.notices.empty());  // its kind is not compared
}

TEST_F(PresenterTest, SingleReportsMoveTheSlotAndLogASummary) {
  TConsolePresenter& console = Make();
  console.OnConfirm(CNF_CHECK_DEVICE, Check({{5, 0, 1}, {6, 0, 1}}));
  view_.log.clear();

  console.OnConfirm(CNF_SINGLE, SingleReport(0, CNF_PROGRESS, 0, "Begin progress"));
  EXPECT_EQ(view_.slots[0].status, "0.0%");
  EXPECT_EQ(view_.slots[0].statusColor, slot_color::kRunning);
  console.OnConfirm(CNF_SINGLE, SingleReport(0, CNF_PROGRESS, 425));
  EXPECT_EQ(view_.slots[0].status, "42.5%");
  EXPECT_EQ(view_.slots[0].progress, 425);
  console.OnConfirm(CNF_SINGLE, SingleReport(0, CNF_FAIL, 0, "Download failed", 9000));
  EXPECT_EQ(view_.slots[0].status, "42.5%");
  EXPECT_EQ(view_.slots[0].statusColor, slot_color::kFailed);
  EXPECT_EQ(view_.slots[0].result, "FAILED");
  EXPECT_EQ(view_.slots[0].resultColor, slot_color::kFailed);

  console.OnConfirm(CNF_SINGLE, SingleReport(1, CNF_FAIL, 0));  // never showed progress
  EXPECT_EQ(view_.slots[1].status, "FAILED");
  console.OnConfirm(CNF_SINGLE, SingleReport(1, CNF_PASS, 0, "Download succress", 45678));
  EXPECT_EQ(view_.slots[1].status, "45.7s");
  EXPECT_EQ(view_.slots[1].statusColor, slot_color::kPass);
  EXPECT_EQ(view_.slots[1].result, "PASS");
  EXPECT_EQ(view_.slots[1].resultColor, slot_color::kPass);
  EXPECT_EQ(view_.slots[1].progress, 1000);

  console.OnConfirm(CNF_SINGLE, SingleReport(0, 6, 0));
  console.OnConfirm(CNF_SINGLE, SingleReport(0, CNF_INFO, 0, "currV = V1"));
  EXPECT_EQ(view_.log,
            "<< Single CNF [A][0][0.0%]<Begin progress>\r\n"
            "<< Single CNF [A][0][42.5%]\r\n"
            "<< Single CNF [A][2][Download failed]\r\n"
            "<< Single CNF [B][2]\r\n"
            "<< Single CNF [B][1][Download succress]\r\n"
            "Unknow Cnf\r\n<< Single CNF [A][6]\r\n"
            "<< Single CNF [A][5][currV = V1]\r\n");
}

TEST_F(PresenterTest, ProgressSurvivesClearingTheSlot) {
  TConsolePresenter& console = Make();
  console.OnConfirm(CNF_CHECK_DEVICE, Check({{5, 0, 1}}));
  console.OnConfirm(CNF_SINGLE, SingleReport(0, CNF_PROGRESS, 1000));
  console.ClearSlot(0);
  console.OnConfirm(CNF_SINGLE, SingleReport(0, CNF_FAIL, 0));
  EXPECT_EQ(view_.slots[0].status, "100.0%");
}

TEST_F(PresenterTest, StartIsArmedAgainOnlyAfterThePanelEmptied) {
  TConsolePresenter& console = Make();
  console.OnConfirm(CNF_CHECK_DEVICE, Check({{5, 0, 1}}));
  EXPECT_TRUE(view_.startEnabled);
  console.Start();
  EXPECT_FALSE(view_.startEnabled);
  EXPECT_EQ(view_.log, "@-@ START BUTTON !!>> Download Device REQ\r\n");

  // The same device listed again (after its run): Start stays off.
  console.OnConfirm(CNF_CHECK_DEVICE, Check({{5, 0, 1}}));
  EXPECT_FALSE(view_.startEnabled);
  // Removed: the panel empties and Start is armed; a new device enables it.
  console.OnConfirm(CNF_CHECK_DEVICE, Check({}));
  EXPECT_FALSE(view_.startEnabled);
  console.OnConfirm(CNF_CHECK_DEVICE, Check({{7, 0, 1}}));
  EXPECT_TRUE(view_.startEnabled);
}

TEST_F(PresenterTest, StartWithoutDevicesOnlyEmptiesTheLog) {
  TConsolePresenter& console = Make();
  view_.log = "old text";
  console.Start();
  EXPECT_EQ(view_.log, "");
  EXPECT_FALSE(view_.startEnabled);
}

TEST_F(PresenterTest, DownloadAnswerFailsOccupiedSlotsWithoutAJob) {
  TConsolePresenter& console = Make();
  console.OnConfirm(CNF_CHECK_DEVICE, Check({{5, 0, 1}, {6, 0, 1}}));
  view_.log.clear();
  auto answer = std::make_unique<TDownloadCnf>();
  answer->slotTexts[0] = "< COM 5 >  com 4(modem), com 5,";
  answer->started[0] = 1;
  answer->message = "\r\n";
  answer->elapsed = 2500;
  console.OnConfirm(CNF_DOWNLOAD_DEVICE, std::move(answer));
  EXPECT_EQ(view_.slots[0].status, "READY");
  EXPECT_EQ(view_.slots[1].status, "FAILED");
  EXPECT_EQ(view_.log,
            "Device A [< COM 5 >  com 4(modem), com 5,]\r\n\r\n"
            "<< Download Device CNF   Use time : 2.500s\r\n");
}

TEST_F(PresenterTest, WithoutDebugModeTheLogPaneStaysEmpty) {
  settings_.debugMode = false;
  TConsolePresenter& console = Make();
  console.OnConfirm(CNF_CHECK_DEVICE, Check({{5, 0, 1}}));
  console.OnConfirm(CNF_SINGLE, SingleReport(0, CNF_PROGRESS, 10, "x"));
  EXPECT_EQ(view_.log, "");
  EXPECT_EQ(view_.slots[0].status, "1.0%");
}

TEST_F(PresenterTest, CheckRequestGoesToAnIdleCoordinator) {
  TConsolePresenter& console = Make();
  EXPECT_TRUE(console.SendCheckRequest());
  EXPECT_EQ(view_.log, ">> Check Device REQ\r\n");
}

}  // namespace
}  // namespace vornex

namespace vornex {
namespace {

// A FAILED slot tells why from its job's account (also a job that showed PASS, and a device that
// got no job) until Start clears it; the batch ends with the last account, also when a job that
// failed at once gave it before the download answer.
TEST_F(PresenterTest, FailedSlotsTellWhyAndTheBatchEndsWithTheLastAccount) {
  TConsolePresenter& console = Make();
  int ended = 0;
  console.OnBatchEnded([&] { ++ended; });
  const auto account = [](int slot, const char* failure, const char* cause) {
    auto summary = std::make_unique<TJobSummary>();
    summary->slot = slot;
    summary->failure = failure;
    summary->cause = cause;
    return summary;
  };
  console.OnConfirm(CNF_CHECK_DEVICE, Check({{5, 0, 1}, {6, 0, 1}, {7, 0, 1}}));
  ASSERT_TRUE(console.Start());
  console.OnConfirm(CNF_SINGLE, SingleReport(0, CNF_FAIL, 0, "Can not downgrade image"));
  console.OnConfirm(CNF_JOB_SUMMARY, account(0, "Can not downgrade image", ""));
  auto answer = std::make_unique<TDownloadCnf>();
  answer->started = {1, 1, 0};
  console.OnConfirm(CNF_DOWNLOAD_DEVICE, std::move(answer));
  EXPECT_EQ(ended, 0);
  console.OnConfirm(CNF_SINGLE, SingleReport(1, CNF_PASS, 0, "", 9000));
  console.OnConfirm(CNF_JOB_SUMMARY,
                    account(1, "Identity not restored: 1 AT, 0 NV items differ", "SN reads SN2"));
  EXPECT_EQ(ended, 1);
  const std::pair<std::string, std::string> shown[] = {
      {"FAILED", "Can not downgrade image"},
      {"FAILED", "Identity not restored: 1 AT, 0 NV items differ (SN reads SN2)"},
      {"FAILED", kNotStartedText}};
  for (std::size_t slot = 0; slot < 3; ++slot) {
    EXPECT_EQ(std::make_pair(view_.slots[slot].result, view_.slots[slot].reason), shown[slot]);
  }
  ASSERT_TRUE(console.Start());
  for (std::size_t slot = 0; slot < 3; ++slot) EXPECT_EQ(view_.slots[slot].reason, "");
}

// What the search withheld reaches the operator once per change, and every time the log pane.
TEST_F(PresenterTest, SearchNotesAreToldOncePerChange) {
  TConsolePresenter& console = Make();
  const std::string duplicate = "bench records COM12-copy.port and COM12.port both claim COM12";
  for (const auto& [notes, told] : std::vector<std::pair<std::vector<std::string>, std::size_t>>{
           {{duplicate}, 1}, {{duplicate}, 1}, {{}, 1}, {{duplicate}, 2}}) {
    auto table = Check({{5, 0, 1}});
    for (const std::string& note : notes) table->notes.push_back(RefusedNote(note, 12));
    console.OnConfirm(CNF_CHECK_DEVICE, std::move(table));
    EXPECT_EQ(view_.notices.size(), told);
  }
  EXPECT_EQ(view_.notices.back(), "Attention: Device search: " + duplicate);
  EXPECT_NE(view_.log.find("Device search: " + duplicate + "\r\n"), std::string::npos);
}

}  // namespace
}  // namespace vornex
