// The thread contract: queue readiness, strict one-at-a-time requests, unknown messages,
// stopping, the Report value mapping, and the coordinator's and workers' request gates.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "coordination/coordinator.h"
#include "download/worker.h"
#include "messaging/thread_base.h"
#include "support/confirmation_sink.h"
#include "support/run_scope.h"

namespace vornex {
namespace {

using testing::ConfirmationSink;

class ThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { run_.TimeScale(0.01); }
  testing::RunScope run_;
};

// Records the requests it runs; a request of type 99 blocks until released.
class RecordingThread : public TBaseThread {
 public:
  ~RecordingThread() { Stop(); }

  std::vector<std::uint32_t> WaitForRequests(std::size_t n) {
    std::unique_lock lock(state_->mutex);
    state_->cv.wait_for(lock, std::chrono::seconds(20), [&] { return state_->seen.size() >= n; });
    return state_->seen;
  }
  void Release() {
    std::lock_guard lock(state_->mutex);
    state_->released = true;
    state_->cv.notify_all();
  }
  bool Finished() {
    std::lock_guard lock(state_->mutex);
    return state_->finished;
  }

 protected:
  void OnRequest(std::uint32_t type, TRequestRecord record) override {
    const std::shared_ptr<State> state = state_;
    std::unique_lock lock(state->mutex);
    state->seen.push_back(type);
    if (std::holds_alternative<std::unique_ptr<TDeviceTable>>(record)) state->seen.push_back(1000);
    state->cv.notify_all();
    if (type == 99) state->cv.wait(lock, [&] { return state->released; });
    state->finished = true;
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::uint32_t> seen;
    bool released = false;
    bool finished = false;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

TEST_F(ThreadTest, RequestPostedRightAfterConstructionRuns) {
  RecordingThread thread;
  EXPECT_NE(thread.ThreadId(), 0u);
  EXPECT_TRUE(thread.PostRequest(REQ_CHECK_DEVICE));
  EXPECT_EQ(thread.WaitForRequests(1), std::vector<std::uint32_t>{REQ_CHECK_DEVICE});
}

TEST_F(ThreadTest, RequestsRunInOrderAndUnknownMessagesAreDiscarded) {
  RecordingThread thread;
  EXPECT_TRUE(thread.PostThreadMessage(777, 5, std::make_unique<TDeviceTable>()));
  EXPECT_TRUE(thread.PostThreadMessage(TM_THREAD_PING));
  EXPECT_TRUE(thread.PostRequest(1, std::make_unique<TDeviceTable>()));
  EXPECT_TRUE(thread.PostRequest(2));
  EXPECT_TRUE(thread.PostRequest(3));
  EXPECT_EQ(thread.WaitForRequests(4), (std::vector<std::uint32_t>{1, 1000, 2, 3}));
}

TEST_F(ThreadTest, StopEndsTheThreadAndLaterPostsFail) {
  RecordingThread thread;
  EXPECT_EQ(thread.Stop(), 1);
  EXPECT_EQ(thread.ThreadId(), 0u);
  EXPECT_FALSE(thread.PostRequest(1, std::make_unique<TDeviceTable>()));  // record released
  EXPECT_EQ(thread.Stop(), 1);                                            // second stop: no-op
  EXPECT_FALSE(thread.WaitQueueReady());
}

TEST_F(ThreadTest, StopWaitsForAThreadStillBusyAfterTheLimit) {
  RecordingThread thread;
  thread.PostRequest(99);
  thread.WaitForRequests(1);
  // The request is released only once the limit has passed; the object must outlive it.
  EXPECT_EQ(thread.Stop([&] { thread.Release(); }), 1);
  EXPECT_TRUE(thread.Finished());
  EXPECT_EQ(thread.ThreadId(), 0u);
}

// Past the limit the stopping caller hears again after every further minute that the thread is
// overdue (a request released only at the second notice), and the wait ends when it does.
TEST_F(ThreadTest, StopRepeatsTheOverdueNoticeUntilTheThreadEnds) {
  RecordingThread thread;
  thread.PostRequest(99);
  thread.WaitForRequests(1);
  int notices = 0;
  const auto overdue = [&] {
    if (++notices == 2) thread.Release();
  };
  EXPECT_EQ(thread.Stop(overdue), 1);
  EXPECT_GE(notices, 2);
  EXPECT_TRUE(thread.Finished());
}

TEST(ReportMapping, ValuesBecomeCodesAndProgress) {
  struct Case {
    std::int32_t value, code, progress;
  };
  for (const Case c : {Case{0, CNF_PROGRESS, 0}, Case{1000, CNF_PROGRESS, 1000},
                       Case{1001, 1001, 0}, Case{-1, CNF_PASS, 0}, Case{-2, CNF_FAIL, 0},
                       Case{-5, CNF_INFO, 0}, Case{-7, CNF_SILENT, 0}}) {
    std::int32_t code = -99;
    std::int32_t progress = -99;
    MapReportValue(c.value, &code, &progress);
    EXPECT_EQ(code, c.code) << c.value;
    EXPECT_EQ(progress, c.progress) << c.value;
  }
}

TEST_F(ThreadTest, WorkerReportsOnlyDuringAJob) {
  ConfirmationSink sink;
  TSdlThread worker;
  worker.SetNotify(&sink, WM_DOWNLOAD_CNF);
  worker.Report(0, "between jobs");
  worker.Report(-1, "between jobs");

  // A job for a device without ports: it cannot connect and ends at once.
  auto job = std::make_unique<TWorkerJob>();
  job->slot = 5;
  job->com = 12;
  ASSERT_TRUE(worker.PostRequest(REQ_SINGLE_DOWNLOAD, std::move(job)));
  worker.Stop();  // the job has ended once the worker has taken its quit message

  struct Expected {
    std::int32_t code, progress;
    const char* text;
  };
  const Expected expected[] = {
      {CNF_PROGRESS, 0, "Begin progress"},
      {CNF_PROGRESS, 20, "Begin progress -"},
      {CNF_FAIL, 0,
       "LIB, Fail to connect usb port. Please check usb connection, and whether installed usb "
       "driver."},
      {CNF_PROGRESS, 21, "Checking version..."},
      {CNF_PROGRESS, 22, "Modem port is NOT connectted, DO NOT check version"},
      {CNF_INFO, 0, "no answer on the diagnostic port COM12"},
      {CNF_FAIL, 0, "Can not Open Device"},
      {CNF_INFO, 0, "Download Finished.  Use time : "}};
  auto items = sink.Take();
  ASSERT_EQ(items.size(), std::size(expected) + 1);
  // The job's account comes last.
  ASSERT_EQ(items.back().code, CNF_JOB_SUMMARY);
  const auto& summary = *std::get<std::unique_ptr<TJobSummary>>(items.back().record);
  EXPECT_EQ(summary.slot, 5);
  EXPECT_FALSE(summary.pass);
  EXPECT_EQ(summary.failure, "Can not Open Device");
  items.pop_back();
  for (std::size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i].message, WM_DOWNLOAD_CNF);
    EXPECT_EQ(items[i].code, CNF_SINGLE);
    const auto& cnf = *std::get<std::unique_ptr<TSingleCnf>>(items[i].record);
    EXPECT_EQ(cnf.slot, 5);
    EXPECT_EQ(cnf.code, expected[i].code) << i;
    EXPECT_EQ(cnf.progress, expected[i].progress) << i;
    EXPECT_EQ(cnf.text.str().rfind(expected[i].text, 0), 0u) << cnf.text.str();
  }
  EXPECT_EQ(worker.BusyFlag(), 0);

  worker.Report(-2, "after the job");
  EXPECT_EQ(sink.Count(), 0u);
}

TEST_F(ThreadTest, WorkerIgnoresOtherRequestTypesAndMissingJobs) {
  ConfirmationSink sink;
  TSdlThread worker;
  worker.SetNotify(&sink, WM_DOWNLOAD_CNF);
  worker.PostRequest(REQ_CHECK_DEVICE);
  worker.PostRequest(REQ_DOWNLOAD_DEVICE, std::make_unique<TDeviceTable>());
  worker.PostRequest(REQ_SINGLE_DOWNLOAD);  // no record: nothing to run
  worker.Stop();
  EXPECT_EQ(sink.Count(), 0u);
}

TEST_F(ThreadTest, CoordinatorIsNotIdleWhileItAnswersACheck) {
  ConfirmationSink sink;
  TMdlThread coordinator;
  EXPECT_EQ(coordinator.IdleFlag(), 1);
  std::vector<std::int32_t> idleAtPost;
  sink.onPost = [&](std::uint32_t) { idleAtPost.push_back(coordinator.IdleFlag()); };
  coordinator.SetNotifyAll(&sink, WM_DOWNLOAD_CNF);

  coordinator.PostRequest(REQ_SINGLE_DOWNLOAD, std::make_unique<TWorkerJob>());  // not its own
  coordinator.PostRequest(REQ_CHECK_DEVICE);
  ASSERT_TRUE(sink.WaitFor(1));
  coordinator.Stop();

  auto items = sink.Take();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].code, CNF_CHECK_DEVICE);
  EXPECT_EQ(idleAtPost, std::vector<std::int32_t>{0});
  EXPECT_EQ(coordinator.IdleFlag(), 1);
}

TEST_F(ThreadTest, DownloadRequestWithEmptySelectionStartsNothing) {
  ConfirmationSink sink;
  TMdlThread coordinator;
  coordinator.SetNotifyAll(&sink, WM_DOWNLOAD_CNF);
  auto selection = std::make_unique<TDeviceTable>();
  selection->count = kSlotCount;
  coordinator.PostRequest(REQ_DOWNLOAD_DEVICE, std::move(selection));
  ASSERT_TRUE(sink.WaitFor(1));

  auto items = sink.Take();
  ASSERT_EQ(items.size(), 1u);
  ASSERT_EQ(items[0].code, CNF_DOWNLOAD_DEVICE);
  const auto& answer = *std::get<std::unique_ptr<TDownloadCnf>>(items[0].record);
  EXPECT_EQ(answer.message.str(), "\r\n");
  for (int slot = 0; slot < kSlotCount; ++slot) EXPECT_EQ(answer.started[slot], 0);
}

}  // namespace
}  // namespace vornex
